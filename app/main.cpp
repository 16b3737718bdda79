#include "core/datadir.h"
#include "core/instancelock.h"
#include "core/mysetting.h"
#include "core/quitsignal.h"
#include "gui/mainwindow.h"
#include "gui/xfonts.h"

#include <QApplication>
#include <QMessageBox>

int main(int argc, char* argv[])
{
    keepNewFilesPrivate();
    QApplication app(argc, argv);
    xInstallFonts();
    InstanceLock lock;
    if (!lock.acquire()) {
        const QString text = QString::fromUtf8("另一个程序（%1）正在使用数据目录 %2，本程序不能同时运行。")
                                 .arg(lock.holder(), dataDir());
        QMessageBox::critical(nullptr, QStringLiteral("vlsms"), text);
        return 1;
    }
    theSetting.loadIni();
    MainWindow window(nullptr);
    QuitSignal quit;
    // A modal box or dialog runs an event loop of its own that keeps the main
    // one from returning: every loop is ended, whatever is open.
    QObject::connect(&quit, &QuitSignal::requested, &window, [&window] {
        window.close();
        QCoreApplication::exit(0);
    });
    window.show();
    return app.exec();
}
