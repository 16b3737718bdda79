#include "controller/controller.h"
#include "controller/requeuerequest.h"
#include "core/clock.h"
#include "modem/mycomworker.h"
#include "mysql/forwarder.h"
#include "mysql/mysql5.h"
#include "mysql/sentledger.h"
#include "tools/modemsim/modemsim.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include "support/appfixture.h"
#include "support/storefixture.h"
#include "support/tcprelay.h"

using namespace appfixture;

static const QString sim1 = QStringLiteral("89860000000000000001");

// The road without a window: the controller against a real MariaDB and a
// real SQLite store, in the test's thread; its forwarder runs in its own.
// Ticks are driven by the test.
class TestController : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> dir;
    QString database;
    std::unique_ptr<Controller> road;

    // settings.ini pointing at the test server (or the servers in hosts);
    // machine ports are not served.
    void writeSettings(const QString& extra = QString(), const QString& dbName = QString(),
                       const QString& hosts = QString())
    {
        QDir().mkpath(dir->path() + "/VLSMS");
        QFile file(dir->path() + "/VLSMS/settings.ini");
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(
            QStringLiteral("[General]\nMYSQL_HOST=\"%1\"\nMYSQL_PORT=%2\nMYSQL_USER=%3\nMYSQL_PWD=%4\n"
                           "MYSQL_DBNAME=%5\nLOGLEVEL=768\n%6[CARD]\nNUM=1\nSIM_0=%7\nPHN_0=13600000001\n")
                .arg(hosts.isEmpty() ? env("VLSMS_TEST_MYSQL_HOST") : hosts, env("VLSMS_TEST_MYSQL_PORT"),
                     env("VLSMS_TEST_MYSQL_USER"), env("VLSMS_TEST_MYSQL_PWD"),
                     dbName.isEmpty() ? database : dbName, extra, sim1)
                .toUtf8());
    }

    // "127.0.0.1:port" of the test server or of a relay to it.
    static QString server(int port = 0)
    {
        return "127.0.0.1:" + (port ? QString::number(port) : env("VLSMS_TEST_MYSQL_PORT"));
    }

    Controller& makeRoad()
    {
        road = std::make_unique<Controller>();
        road->setEnumeratedPorts({});
        return *road;
    }

    // A started road whose link is up.
    Controller& connectedRoad()
    {
        Controller& c = makeRoad();
        c.start();
        c.handTimer.stop();
        [&c] { QTRY_COMPARE_WITH_TIMEOUT(c.state().link, int(LinkUp), 15000); }();
        return c;
    }

    // One statement on a connection of its own, as another process (or an
    // older program) would run it on the store.
    void foreign(const QString& sql)
    {
        QSqlDatabase db =
            QSqlDatabase::contains(QStringLiteral("foreign"))
                ? QSqlDatabase::database(QStringLiteral("foreign"))
                : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("foreign"));
        db.setDatabaseName(dir->path() + "/VLSMS/sms-r.db");
        QVERIFY(db.isOpen() || db.open());
        QSqlQuery query(db);
        QVERIFY2(query.exec(sql), qPrintable(query.lastError().text()));
    }

    static QByteArray mainLog()
    {
        QFile file(QStringLiteral("comlog-main.txt"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    static int hdFlagOf(int towId) { return StoreFixture::column(towId, "hd_flag").toInt(); }

    int rowsInMysql(const QString& suffix = QString())
    {
        QSqlQuery query(adminDb());
        query.exec("SELECT count(*) FROM " + database + suffix + ".smsserver_in");
        return query.next() ? query.value(0).toInt() : -1;
    }

    static void moveClockTo(const QTime& time, int daysAhead = 0)
    {
        const QDateTime target(QDate::currentDate().addDays(daysAhead), time);
        AppClock::setOffsetMs(target.toMSecsSinceEpoch() - QDateTime::currentMSecsSinceEpoch());
    }

private slots:
    void initTestCase()
    {
        database = QStringLiteral("vlsms_controller_%1").arg(QCoreApplication::applicationPid());
        makeTestDatabase(database);
        // A target whose table lacks the userphone column, one whose text
        // column is too narrow for most messages, and one without
        // transactions, where a batch goes in row by row.
        makeTestDatabase(database + "_broken");
        makeTestDatabase(database + "_narrow");
        makeTestDatabase(database + "_myisam");
        QSqlQuery query(adminDb());
        QVERIFY(query.exec("ALTER TABLE " + database + "_broken.smsserver_in DROP COLUMN userphone"));
        QVERIFY(query.exec("ALTER TABLE " + database + "_narrow.smsserver_in MODIFY text VARCHAR(10)"));
        QVERIFY(query.exec("ALTER TABLE " + database + "_myisam.smsserver_in ENGINE=MyISAM"));
    }

    void cleanupTestCase()
    {
        dropTestDatabases({database, database + "_broken", database + "_narrow", database + "_myisam"});
    }

    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        qputenv("APPDATA", dir->path().toUtf8());
        QFile::remove(QStringLiteral("comlog-main.txt"));
        writeSettings();
        QSqlQuery(adminDb()).exec("DELETE FROM " + database + ".smsserver_in");
        QSqlQuery(adminDb()).exec("DELETE FROM " + database + "_myisam.smsserver_in");
    }

    void cleanup()
    {
        QSqlDatabase::database(QStringLiteral("foreign"), false).close();
        QSqlDatabase::removeDatabase(QStringLiteral("foreign"));
        road.reset();
        AppClock::setOffsetMs(0);
        dir.reset();
    }

    // A simulated modem delivers while the store refuses every write: the
    // message stays on the SIM and nothing counts it as received; once the
    // store takes it, it is stored once and deleted from the SIM.
    void simCopyStaysUntilTheStoreHoldsIt()
    {
        ModemSim sim(dir->filePath(QStringLiteral("modem1")));
        QString error;
        QVERIFY2(sim.start(&error), qPrintable(error));
        sim.setIccid(sim1);
        writeSettings("DEF_SPEED=100\nDEF_EXTRA_PORTS=" + sim.portPath() + "\n");
        Controller& c = makeRoad();
        QVERIFY(c.store().openLocalDb());
        foreign("BEGIN IMMEDIATE");
        sim.addMessage(single7Bit);
        c.setModemsOn(true);
        // The store answers "failed" after its busy wait; the worker keeps the copy.
        // Read twice: the first answer was in before the second read.
        QTRY_VERIFY_WITH_TIMEOUT(sim.history().value(0).timesRead >= 2, 60000);
        QCOMPARE(sim.storedIndexes().size(), 1);
        QVERIFY(!sim.history().first().deleted);
        QCOMPARE(c.store().countAll(), 0);
        foreign("ROLLBACK");
        QTRY_VERIFY_WITH_TIMEOUT(sim.storedIndexes().isEmpty(), 60000);
        QCOMPARE(c.store().countAll(), 1);
        c.setModemsOn(false);
    }

    // The link's state machine, one tick at a time: what each start leads to
    // and where the ticks take it.
    void linkCycle_data()
    {
        QTest::addColumn<QString>("fault"); // "refused": nothing listens on the port
        QTest::addColumn<int>("settled");
        QTest::addColumn<QList<int>>("afterTicks");
        QTest::addColumn<QString>("logged");

        QTest::newRow("connects and stays up") << QString() << int(LinkUp) << QList<int>{2, 2} << QString();
        QTest::newRow("refused: error, then ten seconds of countdown, then a new attempt")
            << "refused" << int(LinkError) << QList<int>{99, 98, 97, 96, 95, 94, 93, 92, 91, 90, 1}
            << QString("Can't connect");
        QTest::newRow("link lost under the forwarder: error, then countdown")
            << "lose" << int(LinkError) << QList<int>{99, 98} << QString("MYSQL CONECT LOST.");
        QTest::newRow("sync switched off while connecting: stays off")
            << "off" << int(LinkOff) << QList<int>{0, 0} << QString();
        QTest::newRow("TLS with the server's CA: up, shown encrypted")
            << "tls" << int(LinkUp) << QList<int>{2} << QString("MYSQL LINK UP, encrypted (");
    }

    void linkCycle()
    {
        QFETCH(QString, fault);
        QFETCH(int, settled);
        QFETCH(QList<int>, afterTicks);
        QFETCH(QString, logged);

        writeSettings(fault == "tls" ? "MYSQL_SSL_CA=" + env("VLSMS_TEST_MYSQL_SSL_CA") + "\n" : QString(),
                      QString(), fault == "refused" ? server(1) : QString());
        Controller& c = makeRoad();
        QVERIFY(c.store().openLocalDb());
        // Queued after the controller's own slot: once counted, the result is in.
        int results = 0;
        connect(c.forwarder, &Forwarder::linkOpened, &c, [&results] { ++results; });
        c.setSyncOn(true);
        QCOMPARE(c.state().link, int(LinkConnecting));
        if (fault == "off") {
            c.setSyncOn(false);
        }
        QTRY_COMPARE_WITH_TIMEOUT(results, 1, 15000);
        if (fault == "lose") {
            QCOMPARE(c.state().link, int(LinkUp));
            // The link is gone under the forwarder's feet; the next forward finds out.
            QMetaObject::invokeMethod(
                c.forwarder, [] { Mysql5::closeConn(); }, Qt::BlockingQueuedConnection);
            QVERIFY(c.store().insertRecv("COM7", "dev", sim1, single7Bit));
            c.forwardMore();
            QTRY_VERIFY_WITH_TIMEOUT(c.state().link != LinkUp, 15000);
            QCOMPARE(c.store().countPending(), 1); // not lost, not marked failed
        }
        QCOMPARE(c.state().link, settled);
        QCOMPARE(c.state().linkEncrypted, fault == "tls");
        QList<int> seen;
        for (int i = 0; i < afterTicks.size(); ++i) {
            c.tick();
            seen.append(c.state().link);
        }
        QCOMPARE(seen, afterTicks);
        if (!logged.isEmpty()) {
            QVERIFY2(mainLog().contains(logged.toUtf8()), mainLog().constData());
        }
        if (fault == "refused") {
            // The second refusal in the same minute is not logged again.
            QTRY_COMPARE_WITH_TIMEOUT(c.state().link, int(LinkError), 15000);
            c.tick();
            QCOMPARE(mainLog().count(logged.toUtf8()), 1);
        }
    }

    // A list of servers whose first does not answer: the link opens on the
    // second. When that one goes away under a batch, the next is tried at once
    // and the batch goes there; the rows carry this host's name, and a port
    // name longer than gateway_id keeps its end.
    void serverListFailsOver()
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        const QString dead = server(probe.serverPort());
        probe.close();
        TcpRelay relay(static_cast<quint16>(env("VLSMS_TEST_MYSQL_PORT").toInt()));
        writeSettings("GATEWAY_NAME=hostA\n", QString(), dead + "," + server(relay.port()) + "," + server());
        Controller& c = connectedRoad();
        QCOMPARE(c.state().linkServer, server(relay.port()));

        const QString byId =
            QStringLiteral("/dev/serial/by-id/usb-Quectel_Wireless_Solutions_EC25_0123-if02-port0");
        QVERIFY(c.store().insertRecv(byId, "dev", sim1, single7Bit));
        relay.drop();
        c.forwardMore();
        QTRY_COMPARE_WITH_TIMEOUT(rowsInMysql(), 1, 15000);
        QCOMPARE(c.state().linkServer, server());
        QVERIFY2(mainLog().contains(("MYSQL LINK BACK after 0 s, not encrypted, on " + server()).toUtf8()),
                 mainLog().constData());
        QSqlQuery row(adminDb());
        QVERIFY(row.exec("SELECT gateway_id FROM " + database + ".smsserver_in") && row.next());
        QCOMPARE(row.value(0).toString(), "hostA:" + byId.right(58));
    }

    // The answer to a committed insert is lost: nothing is sent again before
    // the server is asked what it holds. On a table without transactions the
    // first row went in and the others were never sent: only they follow.
    void unansweredInsertIsLookedUp()
    {
        TcpRelay relay(static_cast<quint16>(env("VLSMS_TEST_MYSQL_PORT").toInt()));
        writeSettings(QString(), database + "_myisam", server(relay.port()));
        Controller& c = connectedRoad();
        QVERIFY(c.store().insertRecv("COM7", "dev", sim1, single7Bit));
        QVERIFY(c.store().insertRecv("COM7", "dev", sim1, alphaSender));
        QVERIFY(c.store().insertRecv("COM7", "dev", "89860000000000000002", alphaSender));
        relay.dropAnswerTo("user@example.com");
        c.forwardMore();
        QTRY_VERIFY_WITH_TIMEOUT(c.state().link == LinkError, 15000);
        QCOMPARE(rowsInMysql("_myisam"), 1);
        // The server may run an unanswered insert until its statement limit;
        // the clock is moved past it, and the countdown ticked through.
        AppClock::setOffsetMs(20000);
        for (int i = 0; i < 11; ++i) {
            c.tick();
        }
        QTRY_COMPARE_WITH_TIMEOUT(c.store().countPending(), 0, 15000);
        QCOMPARE(rowsInMysql("_myisam"), 3);
        QVERIFY2(mainLog().contains("1 of its 3 messages are in smsserver_in"), mainLog().constData());
    }

    // A stop while a frozen server holds an insert ends within two seconds;
    // the batch, committed but unanswered, is looked up at the next start and
    // not sent again.
    void stopCutsOffAFrozenInsert()
    {
        TcpRelay relay(static_cast<quint16>(env("VLSMS_TEST_MYSQL_PORT").toInt()));
        writeSettings(QString(), QString(), server(relay.port()));
        Controller& c = connectedRoad();
        QVERIFY(c.store().insertRecv("COM7", "dev", sim1, single7Bit));
        relay.dropAnswerTo("user@example.com", true);
        c.forwardMore();
        QTRY_COMPARE_WITH_TIMEOUT(rowsInMysql(), 1, 15000);
        QElapsedTimer clock;
        clock.start();
        c.shutdown();
        QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY2(!mainLog().contains("left behind"), mainLog().constData());

        writeSettings();
        AppClock::setOffsetMs(-20000);
        Controller& next = connectedRoad();
        AppClock::setOffsetMs(0);
        next.tick();
        QTRY_COMPARE_WITH_TIMEOUT(next.store().countPending(), 0, 15000);
        QCOMPARE(rowsInMysql(), 1);
        // A clean stop right after a batch was answered and marked, while
        // the store still keeps it: the start after it has nothing to look
        // up and forwards at once.
        SmsRow done;
        done.towIds = {1};
        QVERIFY(SentLedger::record({done}, 0));
        next.shutdown();
        QVERIFY(!connectedRoad().settleNeeded);
    }

    // A fault of the table is the operator's to fix: the message waits, the
    // link is dropped and tried again, and the reason is shown and logged.
    void tableFaultLeavesMessageWaiting()
    {
        writeSettings(QString(), database + "_broken");
        Controller& c = connectedRoad();
        QVERIFY(c.store().insertRecv("COM7", "dev", sim1, single7Bit));
        c.forwardMore();
        QTRY_COMPARE_WITH_TIMEOUT(c.state().link, int(LinkError), 15000);
        QVERIFY2(c.state().linkError.contains("userphone"), qPrintable(c.state().linkError));
        QCOMPARE(hdFlagOf(1), 0);
        c.tick();
        QCOMPARE(c.state().link, int(LinkRetryFirst));
        QVERIFY(mainLog().contains("userphone"));
    }

    // A row the server refuses for its data is marked failed and counted; once
    // the operator has widened the column, a request puts it back and it goes in.
    void refusedRowIsCountedAndRequeued()
    {
        writeSettings(QString(), database + "_narrow");
        Controller& c = connectedRoad();
        QVERIFY(c.store().insertRecv("COM7", "dev", sim1, single7Bit));
        c.forwardMore();
        QTRY_COMPARE_WITH_TIMEOUT(hdFlagOf(1), 10, 15000);
        c.tick();
        QCOMPARE(c.state().failed, 1);
        QCOMPARE(c.state().link, int(LinkUp)); // a refused row leaves the link up
        QVERIFY(mainLog().contains("1406"));

        QSqlQuery widen(adminDb());
        QVERIFY(widen.exec("ALTER TABLE " + database + "_narrow.smsserver_in MODIFY text MEDIUMTEXT"));
        QString token;
        QString answer;
        QVERIFY(RequeueRequest::post(token, answer));
        c.tick();
        QVERIFY(RequeueRequest::waitAnswer(token, 0, answer));
        QCOMPARE(answer, QStringLiteral("1 failed messages back in the queue"));
        QTRY_COMPARE_WITH_TIMEOUT(hdFlagOf(1), 1, 15000);
        c.tick();
        QCOMPARE(c.state().failed, 0);
    }

    // A message that arrives while the link is up is forwarded at once, and a
    // backlog drains without waiting for ticks; a message of three parts, stored
    // out of order, is one row and counts once.
    void drainsWithoutATick()
    {
        Controller& c = connectedRoad();
        for (const char* part : {ucs2Parts[2], ucs2Parts[0], ucs2Parts[1]}) {
            QVERIFY(c.store().insertRecv("COM7", "dev", sim1, part));
        }
        for (int i = 0; i < 20; ++i) {
            QVERIFY(c.store().insertRecv(
                "COM7", "dev", QStringLiteral("8986000000000000%1").arg(i, 4, 10, QChar('0')), single7Bit));
        }
        c.forwardMore();
        QTRY_COMPARE_WITH_TIMEOUT(rowsInMysql(), 21, 15000);
        // The last marks follow the last insert's answer.
        QTRY_COMPARE_WITH_TIMEOUT(c.store().countPending(), 0, 15000);
        c.tick();
        QCOMPARE(c.state().forwarded, 21);
    }

    // Another process holds the store's write lock at the start: the store is
    // opened on the first tick after. It takes the lock again while a batch is
    // inserted: the marks fail, nothing more is sent (the same messages would
    // go twice), no tick waits for the lock and each shows it; once the lock
    // is gone the next tick puts the marks in, judges a row an older program
    // wrote without a text flag, and forwarding goes on.
    void storeLockHoldsNothingUp()
    {
        foreign("BEGIN IMMEDIATE");
        Controller& c = connectedRoad();
        c.tick();
        QVERIFY(!c.state().storeOpen);
        foreign("ROLLBACK");
        c.tick();
        QVERIFY(c.state().storeOpen);
        QVERIFY(c.store().insertRecv("COM7", "dev", sim1, single7Bit));
        QVERIFY(c.store().insertRecv("COM7", "dev", sim1, alphaSender));
        c.forwardMore();
        foreign("BEGIN IMMEDIATE");
        // The first store work to meet the lock waits for it a moment; none after it waits.
        QElapsedTimer waited;
        waited.start();
        const QString sim2 = QStringLiteral("89860000000000000002");
        QVERIFY(!c.store().insertRecv("COM7", "dev", sim2, single7Bit));
        c.tick();
        c.tick();
        QVERIFY2(waited.elapsed() < 3000, qPrintable(QString::number(waited.elapsed())));
        QTRY_COMPARE_WITH_TIMEOUT(rowsInMysql(), 2, 15000);
        QTRY_VERIFY_WITH_TIMEOUT(mainLog().contains("LOCAL DB MARK FAILED"), 20000);
        c.tick();
        QVERIFY(c.state().storeLocked && !c.state().alert.isEmpty());
        QVERIFY(RoadState::describe(c.state().toJson()).contains("locked by another process"));
        foreign("INSERT INTO t_recv (port_no,dev_no,sim_no,recv_time,txt_pdu) VALUES ('COM7','dev','" + sim2 +
                "',1,'" + single7Bit + "')");
        foreign("COMMIT");
        c.tick();
        QCOMPARE(hdFlagOf(1) + hdFlagOf(2), 2);
        QVERIFY(!c.state().storeLocked && c.state().alert.isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(hdFlagOf(3), 1, 15000);
        QCOMPARE(rowsInMysql(), 3);
    }

    // Ports are excluded by whole names: COM10 excludes neither COM1, nor COM1 COM10.
    void exclusionNamesWholePorts()
    {
        for (const QString& ignore : {QStringLiteral("COM10"), QStringLiteral("COM1")}) {
            writeSettings("DEF_IGNORE=" + ignore + "\n");
            Controller& c = makeRoad();
            c.setEnumeratedPorts({"COM1", "COM10"});
            c.setModemsOn(true);
            QCOMPARE(c.state().ports.size(), 2);
            for (const PortState& port : c.state().ports) {
                QVERIFY2(port.excluded == (port.name == ignore),
                         qPrintable(ignore + " excluded, " + port.name));
            }
        }
    }

    void dailyRestartAtOneOhOne()
    {
        Controller& c = makeRoad();
        c.setEnumeratedPorts({QStringLiteral("ttyVLSMS-A")});
        moveClockTo(QTime(0, 59, 30));
        c.setModemsOn(true);
        const MyComWorker* first = c.runs.at(0).worker;
        c.road.ports[0].received = 3;
        c.tick();
        QCOMPARE(c.runs.at(0).worker, first);

        moveClockTo(QTime(1, 1, 5));
        c.tick();
        // A fresh worker; the row keeps its place and its count since the start.
        QVERIFY(c.runs.at(0).worker != nullptr && c.runs.at(0).worker != first);
        QCOMPARE(c.state().ports.at(0).received, 3);
        QCOMPARE(mainLog().count("RESTART COMM WORK..."), 1);
        QVERIFY(c.state().modemsOn);

        c.tick(); // the same day: no second restart
        QCOMPARE(mainLog().count("RESTART COMM WORK..."), 1);

        // With the modems off, 01:01 restarts nothing.
        c.setModemsOn(false);
        moveClockTo(QTime(1, 1, 5), 2);
        c.tick();
        QVERIFY(c.runs.isEmpty() && c.state().ports.isEmpty());
    }

    // The ports are listed again on the tick (every tick here): a modem
    // plugged in after the start gets the next row and is served; one
    // unplugged keeps its row, marked gone, and is served afresh once back,
    // with its count; a late port that is excluded stays unserved.
    void portsComeAndGo()
    {
        ModemSim a(dir->filePath(QStringLiteral("modemA")));
        ModemSim b(dir->filePath(QStringLiteral("modemB")));
        QVERIFY(a.start());
        writeSettings("DEF_SPEED=100\nDEF_IGNORE=ttyVLSMS-X\nDEF_EXTRA_PORTS=" + a.portPath() + "," +
                      b.portPath() + "\n");
        Controller& c = makeRoad();
        QVERIFY(c.store().openLocalDb());
        c.scanPeriodMs = 0;
        c.setModemsOn(true);
        QCOMPARE(c.state().ports.size(), 1);
        a.addMessage(single7Bit);
        QTRY_COMPARE_WITH_TIMEOUT(c.state().ports.at(0).received, 1, 30000);

        b.setIccid(QStringLiteral("89860000000000000002"));
        b.addMessage(alphaSender);
        QVERIFY(b.start());
        c.setEnumeratedPorts({QStringLiteral("ttyVLSMS-X")});
        c.tick();
        QCOMPARE(c.state().ports.size(), 3);
        QCOMPARE(c.state().ports.at(1).name, b.portPath());
        QVERIFY(c.state().ports.at(2).excluded && c.runs.at(2).worker == nullptr);
        QTRY_COMPARE_WITH_TIMEOUT(c.state().ports.at(1).received, 1, 30000);

        a.vanish();
        c.tick();
        QVERIFY(!c.state().ports.at(0).present && c.runs.at(0).worker == nullptr);
        QCOMPARE(c.state().ports.at(0).fault, QStringLiteral("端口已移除"));
        a.addMessage(concat7Parts[0]);
        a.reappear();
        c.tick();
        QVERIFY(c.state().ports.at(0).present && c.runs.at(0).worker != nullptr);
        QTRY_COMPARE_WITH_TIMEOUT(c.state().ports.at(0).received, 2, 30000);
        QCOMPARE(c.state().ports.at(0).name, a.portPath());
        QVERIFY(mainLog().contains("PORT FAULT OVER: " + a.portPath().toUtf8()));
        c.setModemsOn(false);
    }

    // No signal is a fault once it has lasted five minutes: rssi 0, or none
    // known while the modem says it is not registered.
    void noSignalFault_data()
    {
        QTest::addColumn<int>("registration");
        QTest::addColumn<int>("signal");
        QTest::addColumn<int>("minutes");
        QTest::addColumn<bool>("fault");

        using R = ModemHealth::Registration;
        QTest::newRow("rssi 0 for four minutes") << int(R::Home) << 0 << 4 << false;
        QTest::newRow("rssi 0 for five minutes") << int(R::Home) << 0 << 5 << true;
        QTest::newRow("rssi unknown while searching") << int(R::Searching) << -1 << 6 << true;
        QTest::newRow("rssi unknown while registered") << int(R::Roaming) << -1 << 6 << false;
    }

    void noSignalFault()
    {
        QFETCH(int, registration);
        QFETCH(int, signal);
        QFETCH(int, minutes);
        QFETCH(bool, fault);

        Controller& c = makeRoad();
        c.setEnumeratedPorts({QStringLiteral("ttyVLSMS-A")});
        c.setModemsOn(true);
        ModemHealth health;
        health.registration = ModemHealth::Registration(registration);
        health.signal = signal;
        c.onWorkHealth(1, health);
        health.operatorName = QStringLiteral("CMCC"); // a later report, the same radio
        AppClock::setOffsetMs(minutes * 60000);
        c.onWorkHealth(1, health);
        QCOMPARE(c.state().ports.at(0).fault, fault ? QStringLiteral("无信号超过5分钟") : QString());
        health.signal = 9;
        c.onWorkHealth(1, health);
        QCOMPARE(c.state().ports.at(0).fault, QString());
    }

    void expiryOnFifthMinutes()
    {
        Controller& c = connectedRoad();
        // One message forwarded, one part of a two-part message that never completes.
        QVERIFY(c.store().insertRecv("COM7", "dev", sim1, single7Bit));
        c.forwardMore();
        QTRY_COMPARE_WITH_TIMEOUT(c.store().countPending(), 0, 15000);
        QTRY_VERIFY(c.state().lastHandledTime != QStringLiteral("-"));
        QVERIFY(c.store().insertRecv("COM7", "dev", sim1, concat7Parts[0]));
        QCOMPARE(c.store().countPending(), 1);

        moveClockTo(QTime(4, 4, 0), 1);
        c.tick();
        QCOMPARE(mainLog().count("CLEAR OLD MULTI USER-DATA"), 0);
        moveClockTo(QTime(4, 5, 0), 1); // a fifth minute, more than an hour later
        c.tick();
        QCOMPARE(mainLog().count("CLEAR OLD MULTI USER-DATA"), 1);
        QCOMPARE(c.store().countPending(), 0);
        c.tick(); // the same minute: once only
        QCOMPARE(mainLog().count("CLEAR OLD MULTI USER-DATA"), 1);
    }
};

QTEST_GUILESS_MAIN(TestController)
#include "tst_controller.moc"
