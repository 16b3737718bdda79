#include "app/mainwindow.h"
#include "app/quitsignal.h"
#include "config/mysetting.h"
#include "widgets/xfonts.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    xInstallFonts();
    // The program runs on whether or not the store opens; the window shows why
    // nothing is counted when it did not.
    theSetting.openLocalDb();
    int code = 0;
    {
        MainWindow window(nullptr);
        QuitSignal quit;
        QObject::connect(&quit, &QuitSignal::requested, &window, &MainWindow::close);
        window.show();
        code = app.exec();
        theSetting.closeLocalDb();
    }
    return code;
}
