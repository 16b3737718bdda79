// The window's widget tree, its connections and its timers.
#include "gui/mainwindow.h"

#include "gui/porttabledelegate.h"
#include "gui/xbuttons.h"
#include "gui/xfactory.h"
#include "gui/xfonts.h"
#include "gui/xinputs.h"
#include "gui/xpanels.h"
#include "gui/xviews.h"

#include <QBoxLayout>
#include <QHeaderView>
#include <QStandardItemModel>

namespace {

const QString uiFont = xTextFont();
const QString windowGrey = QStringLiteral("rgb(234,234,234)");
const QString barBlue = QStringLiteral("rgb(122,174,220)");
const QString bodyWhite = QStringLiteral("white");
const QString titleColour = QStringLiteral("white");
const QString buttonColour = QStringLiteral("rgb(0,0,64)");
const QString captionColour = QStringLiteral("black");
const QString valueColour = QStringLiteral("rgb(128,0,0)");

XWidget* bar(QBoxLayout* layout, int stretch)
{
    auto* widget = static_cast<XWidget*>(xAddToLayout(layout, 1, stretch, 0, 40, 0));
    widget->setXsBackground(barBlue, 0, true);
    return widget;
}

XLabel* title(QBoxLayout* layout, int stretch, const char* text)
{
    auto* label = static_cast<XLabel*>(xAddToLayout(layout, 7, stretch, 0, 0, 0));
    label->setText(QString::fromUtf8(text));
    label->setXsFont(uiFont, 0, true);
    label->setXsColor(titleColour, 0, true);
    return label;
}

XButtonPush* button(QBoxLayout* layout, int width, const char* text)
{
    auto* push = static_cast<XButtonPush*>(xAddToLayout(layout, 14, 0, width, 0, 0));
    push->setText(QString::fromUtf8(text));
    push->setXsFont(uiFont, 0, true);
    push->setXsColor(buttonColour, 0, true);
    return push;
}

XWidget* body(QBoxLayout* layout)
{
    auto* widget = static_cast<XWidget*>(xAddToLayout(layout, 1, 1, 0, 0, 0));
    widget->setXsBackground(bodyWhite, 0, true);
    return widget;
}

XLabel* placed(QWidget* parent, int x, int y, int w, int h, const QString& text, const QString& colour)
{
    auto* label = static_cast<XLabel*>(xCreateAt(parent, 7, x, y, w, h, 0));
    label->setText(text);
    label->setXsFont(uiFont, 0, true);
    label->setXsColor(colour, 0, true);
    return label;
}

// One caption and its value label, at the row's y inside a panel body.
XLabel* field(QWidget* panelBody, int y, const char* caption)
{
    placed(panelBody, 20, y, 150, 50, QString::fromUtf8(caption), captionColour);
    return placed(panelBody, 170, y, 200, 50, QStringLiteral("-"), valueColour);
}

} // namespace

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent)
{
    setMinimumSize(1100, 640);
    setWindowTitle(QString::fromUtf8("Velmora短信批量接收处理程序（V-MYSQL-0.1.9）"));
    buildLayout();

    portModel = new QStandardItemModel(0, PortColumnCount, this);
    const char* headers[] = {"端口", "工作状态", "信号", "网络", "运营商", "接收", "最近接收"};
    for (int column = 0; column < PortColumnCount; ++column) {
        portModel->setHeaderData(column, Qt::Horizontal, QString::fromUtf8(headers[column]), Qt::EditRole);
    }
    portView->setModel(portModel);
    portView->setItemDelegate(new PortTableDelegate(ColumnPort, ColumnSignal, portView));
    sizePortColumns();
    connect(portView, &QAbstractItemView::doubleClicked, this, &MainWindow::showPortDetails);

    connect(btSetCom, &XButtonPush::clicked, this, &MainWindow::onBtSetCom);
    connect(btStartCom, &XButtonPush::clicked, this, &MainWindow::onBtStartCom);
    connect(btDebug, &XButtonPush::clicked, this, &MainWindow::onBtDebug);
    connect(btStartDB, &XButtonPush::clicked, this, &MainWindow::onBtStartDB);
    connect(btSetDB, &XButtonPush::clicked, this, &MainWindow::onBtSetDB);
    connect(btSetCard, &XButtonPush::clicked, this, &MainWindow::onBtSetCard);
    connect(btRequeue, &XButtonPush::clicked, this, &MainWindow::onBtRequeue);
    connect(&host, &ControllerHost::stateChanged, this, &MainWindow::showState);
    connect(&host, &ControllerHost::stateChanged, &statusFile, &StatusFile::update);

    appStartTimer.setSingleShot(true);
    connect(&appStartTimer, &QTimer::timeout, this, &MainWindow::onAppStart);
    appStartTimer.start(0);
}

void MainWindow::buildLayout()
{
    auto* central = static_cast<XWidget*>(xCreate(nullptr, 1, 0));
    central->setXsBackground(windowGrey, 0, true);
    setCentralWidget(central);
    QHBoxLayout* columns = xSetHBox(central, 5, 5);

    QVBoxLayout* left = xAddVBox(columns, 1, 0, 0, 0, 5);
    QVBoxLayout* portGroup = xAddVBox(left, 1, 0, 0, 0, 0);
    bar(left, 0);

    QVBoxLayout* right = xAddVBox(columns, 0, 400, 0, 0, 5);
    QVBoxLayout* recvPanel = xAddVBox(right, 2, 0, 0, 0, 0);
    QVBoxLayout* syncPanel = xAddVBox(right, 3, 0, 0, 0, 0);
    bar(right, 0);

    // Port group: title bar with the serial buttons, then the port table.
    QHBoxLayout* portTitle = xSetHBox(bar(portGroup, 1), 5, 5);
    title(portTitle, 1, "设备工作状态");
    btSetCom = button(portTitle, 80, "设置");
    btSetCom->setVisible(false);
    btStartCom = button(portTitle, 80, "启动");
    portView = static_cast<XViewTree*>(xAddToLayout(portGroup, 25, 1, 0, 0, 0));
    portView->setXsFont(xTableFont(), 0, true);
    portView->header()->setStyleSheet(QStringLiteral("QHeaderView{ font: ") + xTableFont() +
                                      QStringLiteral(";}"));
    portView->setXsBorder(QStringLiteral("none"), 0, true);
    portView->setRootIsDecorated(false);
    portView->setAlternatingRowColors(false);
    portView->setSortingEnabled(false);
    // One line per port, all of the same height, so that a bank of 128 reads
    // as a list; what does not fit is in the row's tooltip and its details.
    portView->setWordWrap(false);
    portView->setUniformRowHeights(true);
    portView->setEditTriggers(QAbstractItemView::NoEditTriggers);

    // Receive panel.
    QHBoxLayout* recvTitle = xSetHBox(bar(recvPanel, 1), 5, 5);
    title(recvTitle, 1, "短信接收状态");
    btDebug = button(recvTitle, 80, "测试");
    btDebug->setVisible(false);
    XWidget* recvBody = body(recvPanel);
    lbRecvTotal = field(recvBody, 5, "短信接收总数：");
    lbLastNumber = field(recvBody, 55, "最近接收号码：");
    lbLastTime = field(recvBody, 110, "最近接收时间：");

    // Sync panel.
    QHBoxLayout* syncTitle = xSetHBox(bar(syncPanel, 1), 5, 5);
    title(syncTitle, 2, "数据同步状态");
    btSetCard = button(syncTitle, 90, "卡号设置");
    btSetCard->setVisible(false);
    btSetDB = button(syncTitle, 90, "连接设置");
    btSetDB->setVisible(false);
    btStartDB = button(syncTitle, 80, "启动");
    XWidget* syncBody = body(syncPanel);
    lbConnState = field(syncBody, 5, "当前连接状态：");
    lbPending = field(syncBody, 55, "待同步记录数：");
    lbLastSync = field(syncBody, 110, "最近同步时间：");
    lbNote = placed(syncBody, 20, 165, 250, 50, QString(), valueColour);
    lbNote->setXsFont(QStringLiteral("16px"), 0, true);
    // Shown while the server has refused messages: puts them back in the
    // queue once the operator has fixed the table.
    btRequeue = xCreateAtAs<XButtonPush>(syncBody, XTypeButtonPush, 280, 170, 100, 40);
    btRequeue->setText(QString::fromUtf8("重新同步"));
    btRequeue->setXsFont(uiFont, 0, true);
    btRequeue->setXsColor(buttonColour, 0, true);
    btRequeue->setVisible(false);
}
