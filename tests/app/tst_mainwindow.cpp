#include "app/clock.h"
#include "app/mainwindow.h"
#include "config/mycardmap.h"
#include "config/mysetting.h"
#include "modem/mycomworker.h"
#include "mysql/mysql5.h"
#include "widgets/xbuttons.h"
#include "widgets/xinputs.h"
#include "widgets/xviews.h"

#include <QFile>
#include <QHeaderView>
#include <QSerialPortInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include "appfixture.h"

using namespace appfixture;

namespace {

QString u8(const char* text)
{
    return QString::fromUtf8(text);
}

} // namespace

// The window and its controller against a real MariaDB and a real SQLite
// store. The start-up timer is stopped in every test, so that the test drives
// the toggles and the ticks itself.
class TestMainWindow : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> dir;
    QString database; // this test's own database on the test server
    std::unique_ptr<MainWindow> window;

    MainWindow& makeWindow()
    {
        window = std::make_unique<MainWindow>();
        window->appStartTimer.stop();
        return *window;
    }

    // settings.ini pointing at the test server; machine ports are excluded.
    void writeSettings(const QString& extra = QString(), const QString& dbName = QString(), int port = 0)
    {
        QStringList machinePorts;
        const QList<QSerialPortInfo> infos = QSerialPortInfo::availablePorts();
        for (const QSerialPortInfo& info : infos) {
            machinePorts << info.portName();
        }
        QDir().mkpath(dir->path() + "/VLSMS");
        QFile file(dir->path() + "/VLSMS/settings.ini");
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QString text = "[General]\n";
        text += "DEF_IGNORE=\"" + machinePorts.join(',') + "\"\n";
        text += "MYSQL_HOST=" + env("VLSMS_TEST_MYSQL_HOST") + "\n";
        text += "MYSQL_PORT=" + (port ? QString::number(port) : env("VLSMS_TEST_MYSQL_PORT")) + "\n";
        text += "MYSQL_USER=" + env("VLSMS_TEST_MYSQL_USER") + "\n";
        text += "MYSQL_PWD=" + env("VLSMS_TEST_MYSQL_PWD") + "\n";
        text += "MYSQL_DBNAME=" + (dbName.isEmpty() ? database : dbName) + "\n";
        text += "LOGLEVEL=768\n";
        text += extra;
        text += "[CARD]\nNUM=1\nSIM_0=89860000000000000001\nPHN_0=13600000001\n";
        file.write(text.toUtf8());
    }

    static QSqlDatabase adminDb() { return QSqlDatabase::database(QStringLiteral("tst_admin")); }

    static QByteArray mainLog()
    {
        QFile file(QStringLiteral("comlog-main.txt"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    void connectSync(MainWindow& w)
    {
        w.onBtStartDB();
        QTRY_COMPARE_WITH_TIMEOUT(theSetting.mysqlState, 2, 15000);
    }

    QString portText(MainWindow& w, int row, int column)
    {
        return w.portModel->data(w.portModel->index(row, column)).toString();
    }

    int hdFlagOf(int towId)
    {
        QSqlQuery query(QSqlDatabase::database(QStringLiteral("VLSMSDB")));
        query.exec(QStringLiteral("SELECT hd_flag FROM t_recv WHERE tow_id=%1").arg(towId));
        return query.next() ? query.value(0).toInt() : -1;
    }

    static void moveClockTo(const QTime& time, int daysAhead = 0)
    {
        const QDateTime target(QDate::currentDate().addDays(daysAhead), time);
        AppClock::setOffsetMs(target.toMSecsSinceEpoch() - QDateTime::currentMSecsSinceEpoch());
    }

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void layout();
    void togglesShowAndHideButtons();
    void servedPorts_data();
    void servedPorts();
    void exclusion_data();
    void exclusion();
    void workerCodes_data();
    void workerCodes();
    void codesOutOfRangeChangeNothing();
    void messageAfterStopStoresNothing();
    void storeThatCannotOpenIsShown();

    void syncConnects();
    void syncFailsAndCountsDown();
    void syncLosesLink();
    void lateResultAfterToggleOffIsIgnored();
    void forwardOne_data();
    void forwardOne();
    void failedInsertMarksTen();
    void forwardsAtMostSevenPerTick();

    void dailyRestartAtOneOhOne();
    void expiryOnFifthMinutes();
};

void TestMainWindow::initTestCase()
{
    database = QStringLiteral("vlsms_mainwindow_%1").arg(QCoreApplication::applicationPid());
    makeTestDatabase(database);
    // A target whose table lacks the userphone column: every insert fails.
    makeTestDatabase(database + "_broken");
    QSqlQuery query(adminDb());
    QVERIFY(query.exec("ALTER TABLE " + database + "_broken.smsserver_in DROP COLUMN userphone"));
}

void TestMainWindow::cleanupTestCase()
{
    dropTestDatabases({database, database + "_broken"});
}

void TestMainWindow::init()
{
    dir = std::make_unique<QTemporaryDir>();
    qputenv("APPDATA", dir->path().toUtf8());
    QFile::remove(QStringLiteral("comlog-main.txt"));
    writeSettings();
    QVERIFY(theSetting.openLocalDb());
    theSetting.mysqlState = 0;
    theSetting.lastDbError.clear();
    QSqlQuery(adminDb()).exec("DELETE FROM " + database + ".smsserver_in");
}

void TestMainWindow::cleanup()
{
    if (window) {
        window->close();
        window.reset();
    }
    Mysql5::closeConn();
    theSetting.closeLocalDb();
    AppClock::setOffsetMs(0);
    dir.reset();
}

void TestMainWindow::layout()
{
    MainWindow& w = makeWindow();
    w.show();
    QCOMPARE(w.windowTitle(), u8("Velmora短信批量接收处理程序（V-MYSQL-0.1.9）"));
    QCOMPARE(w.minimumSize(), QSize(1100, 640));
    QVERIFY(w.width() >= 1100 && w.height() >= 640);

    const QStringList headers = {u8("端口"), u8("工作状态"), u8("设备编码"), u8("SIM卡号")};
    const int widths[] = {160, 540, 200, 200};
    for (int column = 0; column < 4; ++column) {
        QCOMPARE(w.portModel->headerData(column, Qt::Horizontal).toString(), headers.at(column));
        QCOMPARE(w.portView->columnWidth(column), widths[column]);
    }
    QCOMPARE(w.portView->editTriggers(), QAbstractItemView::NoEditTriggers);
    QVERIFY(!w.portView->isSortingEnabled());
    QVERIFY(!w.portView->rootIsDecorated());
    QVERIFY(w.portView->wordWrap());

    for (XLabel* value :
         {w.lbRecvTotal, w.lbLastNumber, w.lbLastTime, w.lbConnState, w.lbPending, w.lbLastSync}) {
        QCOMPARE(value->text(), QStringLiteral("-"));
        QCOMPARE(value->geometry().size(), QSize(200, 50));
    }
    QCOMPARE(w.btStartCom->text(), u8("启动"));
    QCOMPARE(w.btStartDB->text(), u8("启动"));
    QCOMPARE(w.btSetCom->text(), u8("设置"));
    QCOMPARE(w.btSetCard->text(), u8("卡号设置"));
    QCOMPARE(w.btSetDB->text(), u8("连接设置"));
    QVERIFY(w.btStartCom->isVisible());
    QVERIFY(w.btStartDB->isVisible());
    for (XButtonPush* hidden : {w.btSetCom, w.btDebug, w.btSetDB, w.btSetCard}) {
        QVERIFY(!hidden->isVisible());
    }
    QCOMPARE(w.btStartCom->width(), 80);
    QCOMPARE(w.btSetCard->minimumWidth(), 90);

    // Widening the window widens only the left column.
    QWidget* rightColumn = w.lbRecvTotal->parentWidget()->parentWidget();
    QCOMPARE(rightColumn->width(), 400);
    const int tableWidth = w.portView->width();
    w.resize(1500, 700);
    QTRY_COMPARE(w.width(), 1500);
    QCOMPARE(rightColumn->width(), 400);
    QTRY_COMPARE(w.portView->width(), tableWidth + 400);
}

void TestMainWindow::togglesShowAndHideButtons()
{
    MainWindow& w = makeWindow();
    w.show();
    w.onBtStartCom();
    QVERIFY(w.commRunning);
    QCOMPARE(w.btStartCom->text(), u8("停止"));
    QVERIFY(!w.btSetCom->isVisible());
    w.onBtStartCom();
    QVERIFY(!w.commRunning);
    QCOMPARE(w.btStartCom->text(), u8("启动"));
    QVERIFY(w.btSetCom->isVisible());
    QCOMPARE(w.portModel->rowCount(), 0);

    w.onBtStartDB();
    QCOMPARE(w.btStartDB->text(), u8("停止"));
    QVERIFY(!w.btSetDB->isVisible());
    QVERIFY(!w.btSetCard->isVisible());
    QCOMPARE(theSetting.mysqlState, 1);
    QCOMPARE(w.lbConnState->text(), u8("正在连接..."));
    w.onBtStartDB();
    QCOMPARE(w.btStartDB->text(), u8("启动"));
    QVERIFY(w.btSetDB->isVisible());
    QVERIFY(w.btSetCard->isVisible());
    QCOMPARE(theSetting.mysqlState, 0);
    QCOMPARE(w.lbConnState->text(), u8("未连接"));
    QVERIFY(!w.btDebug->isVisible());
}

void TestMainWindow::servedPorts_data()
{
    QTest::addColumn<QStringList>("enumerated");
    QTest::addColumn<QString>("extra");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("sorted case-sensitively: COM10 before COM2")
        << QStringList{"COM2", "COM10", "COM1"} << QString() << QStringList{"COM1", "COM10", "COM2"};
    QTest::newRow("extra ports added, each once") << QStringList{"ttyS0"} << u8(" /tmp/m2, ttyS0，/tmp/m1 ,")
                                                  << QStringList{"/tmp/m1", "/tmp/m2", "ttyS0"};
    QTest::newRow("no ports at all") << QStringList{} << QString() << QStringList{};
}

void TestMainWindow::servedPorts()
{
    QFETCH(QStringList, enumerated);
    QFETCH(QString, extra);
    QFETCH(QStringList, expected);
    QCOMPARE(MainWindow::servedPorts(enumerated, extra), expected);
}

void TestMainWindow::exclusion_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("ignore");
    QTest::addColumn<bool>("excluded");

    QTest::newRow("whole entry") << "COM10"
                                 << "COM10" << true;
    QTest::newRow("COM10 does not exclude COM1") << "COM1"
                                                 << "COM10" << false;
    QTest::newRow("case-sensitive") << "COM3"
                                    << "com3" << false;
    QTest::newRow("blanks around entries") << "COM4"
                                           << " COM3 , COM4 " << true;
    QTest::newRow("full-width comma") << "COM4" << u8("COM3，COM4") << true;
    QTest::newRow("empty list") << "COM1"
                                << "" << false;
    QTest::newRow("empty entries match nothing") << "COM1"
                                                 << ",,COM2," << false;
}

void TestMainWindow::exclusion()
{
    QFETCH(QString, port);
    QFETCH(QString, ignore);
    QFETCH(bool, excluded);
    QCOMPARE(MainWindow::isExcluded(port, ignore), excluded);
}

void TestMainWindow::workerCodes_data()
{
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("state");
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("sim");

    QTest::newRow("ok 1") << true << 1 << QByteArray() << u8("连接成功,检查AT响应...") << "-"
                          << "-";
    QTest::newRow("ok 2") << true << 2 << QByteArray() << u8("设备初始化...") << "-"
                          << "-";
    QTest::newRow("ok 4 device number")
        << true << 4 << QByteArray("861234567890123") << u8("获取卡号...") << "861234567890123"
        << "-";
    QTest::newRow("ok 5 SIM number") << true << 5 << QByteArray("8986001") << u8("工作中(0)...") << "-"
                                     << "8986001";
    QTest::newRow("ok 3 unknown: unchanged") << true << 3 << QByteArray() << u8("准备连接...") << "-"
                                             << "-";
    QTest::newRow("err 0") << false << 0 << QByteArray() << u8("端口连接异常！") << "-"
                           << "-";
    QTest::newRow("err 1") << false << 1 << QByteArray() << u8("连接失败,重试中...") << "-"
                           << "-";
    QTest::newRow("err 2") << false << 2 << QByteArray() << u8("AT响应异常,重试中...") << "-"
                           << "-";
    QTest::newRow("err 3") << false << 3 << QByteArray() << u8("初始化异常,请检查设备！") << "-"
                           << "-";
    QTest::newRow("err 4") << false << 4 << QByteArray() << u8("设备号异常！") << "-"
                           << "-";
    QTest::newRow("err 5") << false << 5 << QByteArray() << u8("SIM卡异常！") << "-"
                           << "-";
    QTest::newRow("err 6 unknown: unchanged") << false << 6 << QByteArray() << u8("准备连接...") << "-"
                                              << "-";
}

void TestMainWindow::workerCodes()
{
    QFETCH(bool, ok);
    QFETCH(int, code);
    QFETCH(QByteArray, payload);
    QFETCH(QString, state);
    QFETCH(QString, device);
    QFETCH(QString, sim);

    // Two ports that do not exist: their workers report code 0 and never run.
    writeSettings(QStringLiteral("DEF_EXTRA_PORTS=\"/nonexistent/vlsms-a,/nonexistent/vlsms-b\"\n"));
    MainWindow& w = makeWindow();
    w.onBtStartCom();
    QCOMPARE(w.portModel->rowCount(), w.portNames.size());
    const int row = w.portNames.indexOf(QStringLiteral("/nonexistent/vlsms-b"));
    QVERIFY(row >= 0);
    QCOMPARE(portText(w, row, 1), u8("端口连接异常！"));
    w.portModel->setData(w.portModel->index(row, 1), u8("准备连接..."));

    if (ok) {
        w.onWorkOkMsg(row + 1, code, payload);
    } else {
        w.onWorkErrMsg(row + 1, code);
    }
    QCOMPARE(portText(w, row, 1), state);
    QCOMPARE(portText(w, row, 2), device);
    QCOMPARE(portText(w, row, 3), sim);
    QCOMPARE(portText(w, row, 0), QStringLiteral("/nonexistent/vlsms-b"));

    // With bit 2 of LOGLEVEL clear nothing is logged for worker messages.
    QVERIFY(!mainLog().contains("OKMSG"));
}

void TestMainWindow::codesOutOfRangeChangeNothing()
{
    writeSettings(QStringLiteral("DEF_EXTRA_PORTS=/nonexistent/vlsms-a\n"));
    MainWindow& w = makeWindow();
    w.onBtStartCom();
    const int rows = w.portModel->rowCount();
    QStringList before;
    for (int row = 0; row < rows; ++row) {
        before << portText(w, row, 1) << portText(w, row, 2) << portText(w, row, 3);
    }
    for (int id : {0, -1, rows + 1, 1000}) {
        w.onWorkOkMsg(id, 4, "123");
        w.onWorkOkMsg(id, 6, single7Bit);
        w.onWorkErrMsg(id, 3);
    }
    QStringList after;
    for (int row = 0; row < rows; ++row) {
        after << portText(w, row, 1) << portText(w, row, 2) << portText(w, row, 3);
    }
    QCOMPARE(after, before);
    QCOMPARE(theSetting.countAll(), 0);
}

void TestMainWindow::messageAfterStopStoresNothing()
{
    writeSettings(QStringLiteral("DEF_EXTRA_PORTS=/nonexistent/vlsms-a\n"));
    MainWindow& w = makeWindow();
    w.onBtStartCom();
    w.stopWorkers(); // as the daily restart does before it rebuilds the table
    const int row = w.portNames.indexOf(QStringLiteral("/nonexistent/vlsms-a"));
    w.onWorkOkMsg(row + 1, 6, single7Bit);
    QCOMPARE(theSetting.countAll(), 0);
    QCOMPARE(w.lbRecvTotal->text(), QStringLiteral("-"));
}

void TestMainWindow::storeThatCannotOpenIsShown()
{
    theSetting.closeLocalDb();
    MainWindow& w = makeWindow();
    w.onAppStart();
    QCOMPARE(w.lbRecvTotal->text(), u8("本地库无法打开"));
    QVERIFY(mainLog().contains("LOCAL DB NOT OPEN"));
    w.handTimer.stop();
}

void TestMainWindow::syncConnects()
{
    MainWindow& w = makeWindow();
    connectSync(w);
    QCOMPARE(w.lbConnState->text(), u8("已连接"));
    // Nothing to forward: the tick runs the test query and leaves the state.
    w.onHandTimer();
    QCOMPARE(theSetting.mysqlState, 2);
}

void TestMainWindow::syncFailsAndCountsDown()
{
    writeSettings(QString(), QString(), 1); // nothing listens on port 1
    MainWindow& w = makeWindow();
    w.onBtStartDB();
    QTRY_COMPARE_WITH_TIMEOUT(theSetting.mysqlState, 3, 15000);
    QCOMPARE(w.lbConnState->text(), u8("连接错误，请检查设置！"));
    const QString error = theSetting.lastDbError;
    QVERIFY(!error.isEmpty());

    w.onHandTimer();
    QCOMPARE(theSetting.mysqlState, 99);
    QVERIFY(theSetting.lastDbError.isEmpty());
    QVERIFY(mainLog().contains(error.toUtf8()));
    for (int shown = 10; shown >= 1; --shown) {
        QCOMPARE(w.lbConnState->text(), u8("准备再次尝试:") + QString::number(shown));
        if (shown > 1) {
            w.onHandTimer();
        }
    }
    QCOMPARE(theSetting.mysqlState, 90);
    w.onHandTimer();
    QCOMPARE(theSetting.mysqlState, 1);
    QCOMPARE(w.lbConnState->text(), u8("正在连接..."));
    QTRY_COMPARE_WITH_TIMEOUT(theSetting.mysqlState, 3, 15000);
}

void TestMainWindow::syncLosesLink()
{
    MainWindow& w = makeWindow();
    connectSync(w);
    Mysql5::closeConn(); // the link is gone under the window's feet
    w.onHandTimer();
    QCOMPARE(theSetting.mysqlState, 3);
    QCOMPARE(theSetting.lastDbError, QStringLiteral("MYSQL CONECT LOST."));
    w.onHandTimer();
    QCOMPARE(theSetting.mysqlState, 99);
    QVERIFY(mainLog().contains("MYSQL CONECT LOST."));
}

void TestMainWindow::lateResultAfterToggleOffIsIgnored()
{
    MainWindow& w = makeWindow();
    w.onBtStartDB();
    w.onBtStartDB(); // off again; the attempt may still report
    QCOMPARE(theSetting.mysqlState, 0);
    w.onMySql5ConnResult(2);
    w.onMySql5ConnResult(3);
    QCOMPARE(theSetting.mysqlState, 0);
    QCOMPARE(w.lbConnState->text(), u8("未连接"));
    // While off, ticks neither forward nor retry.
    theSetting.insertRecv("COM1", "dev", "89860000000000000001", single7Bit);
    w.onHandTimer();
    QCOMPARE(theSetting.countPending(), 1);
}

void TestMainWindow::forwardOne_data()
{
    QTest::addColumn<QStringList>("pdus");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("sender");

    QTest::newRow("single 7-bit with '@' and extension characters")
        << QStringList{single7Bit} << u8(single7BitText) << "13912345678";
    QTest::newRow("three-part UCS2 with an emoji, parts stored out of order")
        << QStringList{ucs2Parts[2], ucs2Parts[0], ucs2Parts[1]} << ucs2Text() << "13800138000";
    QTest::newRow("concatenated 7-bit, 16-bit reference")
        << QStringList{concat7Parts[0], concat7Parts[1]} << concat7Text() << "8613800000001";
    QTest::newRow("alphanumeric sender") << QStringList{alphaSender} << u8(alphaSenderText) << "MyBank";
}

void TestMainWindow::forwardOne()
{
    QFETCH(QStringList, pdus);
    QFETCH(QString, text);
    QFETCH(QString, sender);

    MainWindow& w = makeWindow();
    connectSync(w);
    for (const QString& pdu : pdus) {
        QVERIFY(theSetting.insertRecv("COM7", "861234567890123", "89860000000000000001", pdu));
    }
    QCOMPARE(theSetting.countPending(), pdus.size());
    QVERIFY(w.forwardOne());
    QCOMPARE(theSetting.countPending(), 0);
    QVERIFY(!w.forwardOne()); // nothing left

    QSqlQuery query(adminDb());
    QVERIFY(query.exec("SELECT process,type,encoding,DATE_FORMAT(message_date,'%Y-%m-%d %H:%i:%s'),"
                       "originator,text,gateway_id,userphone,receive_date FROM " +
                       database + ".smsserver_in"));
    QVERIFY(query.next());
    QCOMPARE(query.value(0).toInt(), 0);
    QCOMPARE(query.value(1).toString(), QStringLiteral("I"));
    QCOMPARE(query.value(2).toString(), QStringLiteral("U"));
    QCOMPARE(query.value(3).toString(), QStringLiteral("2026-12-06 10:30:00"));
    QCOMPARE(query.value(4).toString(), sender);
    QCOMPARE(query.value(5).toString().size(), text.size());
    QCOMPARE(query.value(5).toString().right(4), text.right(4));
    QCOMPARE(query.value(5).toString(), text);
    QCOMPARE(query.value(6).toString(), QStringLiteral("COM7"));
    QCOMPARE(query.value(7).toString(), QStringLiteral("13600000001"));
    QVERIFY(qAbs(query.value(8).toDateTime().secsTo(QDateTime::currentDateTime())) < 120);
    QVERIFY(!query.next()); // one row per message, however many parts
    QVERIFY(theSetting.lastHandledTime() != QStringLiteral("-"));
}

void TestMainWindow::failedInsertMarksTen()
{
    writeSettings(QString(), database + "_broken");
    MainWindow& w = makeWindow();
    connectSync(w);
    QVERIFY(theSetting.insertRecv("COM7", "dev", "89860000000000000001", single7Bit));
    QVERIFY(!w.forwardOne());
    QCOMPARE(hdFlagOf(1), 10);
    QCOMPARE(theSetting.countPending(), 0);
    QCOMPARE(theSetting.mysqlState, 2); // a failed insert leaves the link up
    QVERIFY(mainLog().contains("userphone"));
}

void TestMainWindow::forwardsAtMostSevenPerTick()
{
    MainWindow& w = makeWindow();
    connectSync(w);
    for (int i = 0; i < 9; ++i) {
        QVERIFY(theSetting.insertRecv(
            "COM7", "dev", QStringLiteral("8986000000000000%1").arg(i, 4, 10, QChar('0')), single7Bit));
    }
    w.onHandTimer();
    QCOMPARE(theSetting.countPending(), 2);
    QCOMPARE(w.lbPending->text(), QStringLiteral("2"));
    w.onHandTimer();
    QCOMPARE(theSetting.countPending(), 0);
}

void TestMainWindow::dailyRestartAtOneOhOne()
{
    writeSettings(QStringLiteral("DEF_EXTRA_PORTS=/nonexistent/vlsms-a\n"));
    MainWindow& w = makeWindow();
    moveClockTo(QTime(0, 59, 30));
    w.onBtStartCom();
    const QList<MyComWorker*> first = w.workers;
    w.onHandTimer();
    QCOMPARE(w.workers, first);

    moveClockTo(QTime(1, 1, 5));
    w.onHandTimer();
    QVERIFY(w.workers != first); // new workers, ids from 1 again
    QCOMPARE(w.workers.size(), first.size());
    QCOMPARE(mainLog().count("RESTART COMM WORK..."), 1);
    QVERIFY(w.commRunning);
    QCOMPARE(w.btStartCom->text(), u8("停止"));

    const QList<MyComWorker*> second = w.workers;
    w.onHandTimer(); // the same day: no second restart
    QCOMPARE(w.workers, second);
    moveClockTo(QTime(1, 1, 5), 1);
    w.onHandTimer(); // the next day
    QVERIFY(w.workers != second);
    QCOMPARE(mainLog().count("RESTART COMM WORK..."), 2);

    // With the modems off, 01:01 restarts nothing.
    w.onBtStartCom();
    moveClockTo(QTime(1, 1, 5), 2);
    w.onHandTimer();
    QVERIFY(w.workers.isEmpty());
}

void TestMainWindow::expiryOnFifthMinutes()
{
    MainWindow& w = makeWindow();
    connectSync(w);
    // One message forwarded, one part of a two-part message that never completes.
    QVERIFY(theSetting.insertRecv("COM7", "dev", "89860000000000000001", single7Bit));
    QVERIFY(w.forwardOne());
    QVERIFY(theSetting.insertRecv("COM7", "dev", "89860000000000000001", concat7Parts[0]));
    QCOMPARE(theSetting.countPending(), 1);

    moveClockTo(QTime(4, 4, 0), 1);
    w.onHandTimer();
    QCOMPARE(mainLog().count("CLEAR OLD MULTI USER-DATA"), 0);
    moveClockTo(QTime(4, 5, 0), 1); // a fifth minute, more than an hour later
    w.onHandTimer();
    QCOMPARE(mainLog().count("CLEAR OLD MULTI USER-DATA"), 1);
    QCOMPARE(theSetting.countPending(), 0);
    w.onHandTimer(); // the same minute: once only
    QCOMPARE(mainLog().count("CLEAR OLD MULTI USER-DATA"), 1);
    moveClockTo(QTime(4, 10, 30), 1);
    w.onHandTimer();
    QCOMPARE(mainLog().count("CLEAR OLD MULTI USER-DATA"), 2);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
