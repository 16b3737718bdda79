#include "app/mainwindow.h"

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent)
{
    setMinimumSize(1100, 640);
    setWindowTitle(QString::fromUtf8("Velmora短信批量接收处理程序（V-MYSQL-0.1.9）"));
}
