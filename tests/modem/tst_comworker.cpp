// The worker in service against simulated modems: whatever goes wrong in a
// read cycle, every message ends up stored exactly as sent and none leaves
// the SIM before the store holds it; the set-up and its refusals; reads on
// "+CMTI"; the pause between commands; a port that goes away, a modem that
// never answers, stops that come while the worker waits.

#include "core/clock.h"
#include "modem/mycomthread.h"
#include "support/testcontroller.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QtTest>

#include <functional>
#include <memory>

namespace {
// One row of the read cycle: what is owed after the trouble ("plain": nothing
// went wrong; "refused": the store refuses every message at first; "dropped":
// index 2 never reads and is cleared unread; "held": it holds its PDU but
// never reads OK; "reread": read twice; "away": the port goes away a while).
struct Cycle
{
    QString what;
    std::function<void(WorkerRig&)> setUp;
};
// One row of the set-up: the commands refused, and how the worker takes it:
// it stops with an error code, or (none) starts over or, given code 6, reads.
struct Setup
{
    QStringList refused;
    bool simPresent;
    QString iccid;
    int errCode;
    QList<int> okCodes;
};
using Policy = TestController::Policy;
const QString imei = QStringLiteral("861234567890123");
const QString iccid = QStringLiteral("89860012345678901234");

QByteArray portLog()
{
    QFile log(QStringLiteral("comlog-1.txt"));
    return log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
}
} // namespace
Q_DECLARE_METATYPE(Cycle)
Q_DECLARE_METATYPE(Setup)

class TestComWorker : public QObject
{
    Q_OBJECT
    std::unique_ptr<WorkerRig> rig;

    // Starts the worker and waits for its first listing of the store.
    bool bringUp()
    {
        const QString listing = QStringLiteral("AT+CMGD=?");
        return rig->worker.startWork() &&
               QTest::qWaitFor([&] { return rig->sim.commandCount(listing) >= 1; }, 20000) &&
               rig->sim.commandCount(listing) == 1;
    }

private slots:
    void init()
    {
        rig = std::make_unique<WorkerRig>();
        QVERIFY(rig->started);
    }

    void cleanup() { rig.reset(); }

    void readCycle_data()
    {
        QTest::addColumn<Cycle>("row");
        using F = ModemSim::Fault;
        const QString read2 = QStringLiteral("AT+CMGR=2");
#ifdef VLSMS_PORT_FAULTS
        QTest::newRow("port vanishes during a read") << Cycle{
            "away", [=](WorkerRig& r) { r.sim.setVanishTime(4000), r.sim.setFault(read2, F::Vanish, 1); }};
        QTest::newRow("garbled index list")
            << Cycle{"", [](WorkerRig& r) { r.sim.setFault(QStringLiteral("AT+CMGD=?"), F::Garbage, 1); }};
        QTest::newRow("answers split, with unsolicited lines")
            << Cycle{"", [](WorkerRig& r) {
                         r.sim.setSplit(7, 15), r.sim.setUnsolicitedInAnswer("+CMTI: \"SM\",9"),
                             r.sim.setUnsolicited("^RSSI:14", 700);
                     }};
        QTest::newRow("NUL and high bytes in every answer")
            << Cycle{"", [](WorkerRig& r) { r.sim.setNoise(QByteArray("\0\xff\x80", 3)); }};
        QTest::newRow("a delete answered ERROR")
            << Cycle{"", [](WorkerRig& r) { r.sim.setFault(QStringLiteral("AT+CMGD=1"), F::Error, 1); }};
#else
        QTest::newRow("stored") << Cycle{"plain", [](WorkerRig&) {}};
        QTest::newRow("already stored by an earlier read")
            << Cycle{"plain", [](WorkerRig& r) {
                         r.controller.stored = {testPdu(1), testPdu(2), testPdu(3)};
                     }};
        QTest::newRow("store failed")
            << Cycle{"refused", [](WorkerRig& r) { r.controller.policy = Policy::Refuse; }};
        QTest::newRow("no answer from the store") << Cycle{"refused", [](WorkerRig& r) {
                                                               r.controller.policy = Policy::Silent,
                                                               r.worker.setAnswerTimeoutMs(300);
                                                           }};
        QTest::newRow("reads of one entry hold its PDU but end ERROR") << Cycle{
            "held", [=](WorkerRig& r) {
                r.sim.setFault(read2, F::Error, -1, "+CMGR: 0,,23\r\n" + testPdu(2) + "\r\n\r\nERROR");
            }};
        QTest::newRow("one read answered ERROR")
            << Cycle{"reread", [=](WorkerRig& r) { r.sim.setFault(read2, F::Error, 1); }};
        QTest::newRow("an entry that never reads") << Cycle{
            "dropped", [=](WorkerRig& r) { r.sim.setFault(read2, F::Error, -1, "+CMS ERROR: 500"); }};
#endif
    }

    void readCycle()
    {
        QFETCH(Cycle, row);
        const QList<QByteArray> pdus{testPdu(1), testPdu(2), testPdu(3)};
        TestController& ctl = rig->controller;
        row.setUp(*rig);
        for (const QByteArray& pdu : pdus) {
            rig->sim.addMessage(pdu);
        }
        // Deletions of messages the store did not hold at that moment.
        QList<QByteArray> deletedUnstored;
        int deletions = 0;
        QObject context; // ends the connection with the locals it uses
        connect(&rig->sim, &ModemSim::messageDeleted, &context, [&](int, const QByteArray& pdu) {
            ++deletions;
            if (!ctl.stored.contains(pdu)) {
                deletedUnstored.append(pdu);
            }
        });
        QVERIFY(rig->worker.startWork());
        if (row.what == "refused") {
            // Two whole cycles: every message read twice, none deleted.
            QTRY_VERIFY_WITH_TIMEOUT(ctl.received.size() >= 6, 60000);
            QCOMPARE(rig->sim.storedIndexes(), (QList<int>{1, 2, 3}));
            ctl.policy = Policy::Store;
        }
        const QString read2 = QStringLiteral("AT+CMGR=2");
        if (row.what == "held") {
            // Never cleared unread, however many listings find it refused.
            QTRY_VERIFY_WITH_TIMEOUT(rig->sim.commandCount(read2) > MyComThread::MaxReadFailures + 1, 60000);
            QCOMPARE(rig->sim.storedIndexes(), QList<int>{2});
            rig->sim.clearFaults();
        }
        QTRY_VERIFY_WITH_TIMEOUT(rig->sim.storedIndexes().isEmpty(), 60000);
        QTRY_COMPARE_WITH_TIMEOUT(deletions, pdus.size(), 5000);
        QList<QByteArray> stored = ctl.stored.values();
        std::sort(stored.begin(), stored.end());
        QCOMPARE(stored, row.what == "dropped" ? (QList<QByteArray>{pdus[0], pdus[2]}) : pdus);
        QCOMPARE(deletedUnstored, row.what == "dropped" ? QList<QByteArray>{pdus[1]} : QList<QByteArray>());
        QCOMPARE(rig->sim.commandCount(QStringLiteral("AT+CMGD=1,4")), 0);
        // While the port is away the worker reports failed opens, nothing worse.
        // Away for seconds, retried every second, yet reported once (and
        // again only after a minute) and logged when it goes and comes back.
        const bool away = row.what == "away";
        QCOMPARE(ctl.errCodes, away ? QList<int>{ErrOpenFailed} : QList<int>());
        QCOMPARE(portLog().count("PORT NOT OPEN"), away ? 1 : 0);
        QCOMPARE(portLog().count("PORT OPEN AGAIN"), away ? 1 : 0);
        rig->worker.stopWork();
        const int reads2 = rig->sim.commandCount(read2);
        QVERIFY(row.what != "reread" || reads2 == 2);
        QVERIFY(row.what != "dropped" || reads2 == MyComThread::MaxReadFailures);
        QCOMPARE(portLog().contains("DROP UNREADABLE MESSAGE: index 2"), row.what == "dropped");
        if (row.what == "plain") {
            QCOMPARE(ctl.okCodes, (QList<int>{1, 2, 4, 5, 6, 6, 6}));
            QCOMPARE(ctl.received, pdus);
            QCOMPARE(rig->worker.deviceNo(), imei);
            QCOMPARE(rig->worker.simNo(), iccid);
            for (const ModemSim::Record& record : rig->sim.history()) {
                QCOMPARE(record.timesRead, 1);
            }
        }
    }

#ifdef VLSMS_PORT_FAULTS
    void setupErrors_data()
    {
        QTest::addColumn<Setup>("row");
        const QList<int> twice{1, 2, 4, 5, 1, 2, 4, 5}, upTo2{1, 2}, upTo4{1, 2, 4}, upTo6{1, 2, 4, 5, 6};
        QTest::newRow("ATE0") << Setup{{"ATE0"}, true, iccid, 3, upTo2};
        QTest::newRow("ATI") << Setup{{"ATI"}, true, iccid, 3, upTo2};
        QTest::newRow("both device number forms") << Setup{{"AT+CGSN", "AT+WMSN"}, true, iccid, 4, upTo2};
        QTest::newRow("no SIM card") << Setup{{}, false, iccid, 5, upTo4};
        QTest::newRow("SIM number answered empty") << Setup{{}, true, "", 5, upTo4};
        for (const char* command : {"AT+CMEE=1", "AT+CREG=1", "AT+CMGF=0"}) {
            QTest::newRow(command) << Setup{{command}, true, iccid, -1, twice};
        }
        const QStringList later{"AT+CLIP=1", "AT+CSMS=1", "AT+CNMI=1,1,0,1,1", "AT+CPMS=*"};
        QTest::newRow("caller id, service, indications and store") << Setup{later, true, iccid, -1, upTo6};
    }

    void setupErrors()
    {
        QFETCH(Setup, row);
        for (const QString& command : row.refused) {
            rig->sim.setFault(command, ModemSim::Fault::Error);
        }
        rig->sim.setSimPresent(row.simPresent);
        rig->sim.setIccid(row.iccid);
        rig->sim.setIccidStyle(ModemSim::IccidStyle::Bare);
        rig->sim.addMessage(testPdu(1));
        QSignalSpy okSpy(&rig->worker, &MyComWorker::workOkMsg);
        QVERIFY(rig->worker.startWork());
        TestController& ctl = rig->controller;
        const bool stops = row.errCode >= 0, reads = row.okCodes.contains(OkMessage);
        if (stops) {
            QTRY_COMPARE_WITH_TIMEOUT(ctl.errCodes, QList<int>{row.errCode}, 30000);
            // The thread has ended: the port is not opened again.
            QVERIFY(!okSpy.wait(1500));
        } else if (!reads) {
            QTRY_VERIFY_WITH_TIMEOUT(ctl.okCodes.size() >= row.okCodes.size(), 60000);
            QCOMPARE(rig->sim.commandCount(QStringLiteral("AT+CMGD=?")), 0);
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(rig->sim.storedIndexes().isEmpty(), 60000);
        }
        QCOMPARE(ctl.okCodes.mid(0, row.okCodes.size()), row.okCodes);
        QCOMPARE(rig->sim.storedIndexes().size(), reads ? 0 : 1);
        QCOMPARE(ctl.errCodes.size(), stops ? 1 : 0);
    }

    void silentModem()
    {
        rig->sim.setSilent(true);
        // Each try waits 3 s in service; the count of tries is what matters here.
        rig->worker.setHandshakeTimeoutMs(200);
        QVERIFY(rig->worker.startWork());
        // Ten tries, the break-in, ten more; then it starts over with a new open.
        QTRY_COMPARE_WITH_TIMEOUT(rig->controller.errCodes, QList<int>{ErrNoAnswer}, 60000);
        QTRY_COMPARE_WITH_TIMEOUT(rig->controller.okCodes, (QList<int>{1, 1}), 10000);
        QCOMPARE(rig->sim.commandCount(QStringLiteral("AT")), 20);
        QTRY_VERIFY_WITH_TIMEOUT(rig->sim.commandCount(QStringLiteral("AT+CFUN=1,0")) >= 2, 5000);
    }

#else
    void readOnNotification_data()
    {
        QTest::addColumn<bool>("insideAnswer");
        QTest::newRow("+CMTI on its own") << false;
        QTest::newRow("+CMTI inside the answer to a read") << true;
    }

    // Read at once, set-up once per opening, and the pause of DEF_SPEED
    // between two commands only.
    void readOnNotification()
    {
        QFETCH(bool, insideAnswer);
        constexpr int SpeedMs = 500;
        rig->worker.setParams(1, rig->sim.portPath(), SpeedMs, 115200, 0);
        // Long enough that only a notification can explain a prompt read.
        rig->worker.setListingPeriodsMs(60000, 60000);
        QList<qint64> sent;
        QElapsedTimer clock;
        clock.start();
        QObject context;
        connect(&rig->sim, &ModemSim::commandReceived, &context, [&] { sent.append(clock.elapsed()); });
        QVERIFY(bringUp());
        QTRY_VERIFY_WITH_TIMEOUT(clock.elapsed() - sent.constLast() > 2 * SpeedMs, 5000);
        if (insideAnswer) {
            // Index 1 is announced only inside the answers the modem gives; the
            // message at index 2 announces itself and starts the reads.
            rig->sim.setUnsolicitedInAnswer("+CMTI: \"SM\",1");
            QCOMPARE(rig->sim.addMessage(testPdu(1), false), 1);
        }
        const qint64 added = clock.elapsed();
        const int before = sent.size();
        rig->sim.addMessage(testPdu(2));
        QTRY_VERIFY_WITH_TIMEOUT(rig->sim.storedIndexes().isEmpty(), 10000);
        QCOMPARE(rig->controller.stored.size(), insideAnswer ? 2 : 1);
        QCOMPARE(rig->sim.commandCount(QStringLiteral("AT+CMGD=?")), 1);
        for (const char* command : {"AT+CMEE=1", "AT+CNMI=1,1,0,1,1", "AT+CMGF=0"}) {
            QCOMPARE(rig->sim.commandCount(QLatin1String(command)), 1);
        }
        // Idle for longer than the pause: nothing is owed, the read goes out at
        // once; between two commands the modem always gets its pause (less the
        // delivery jitter of the simulator's signal).
        QVERIFY2(sent.at(before) - added < SpeedMs / 2, qPrintable(QString::number(sent.at(before) - added)));
        for (int i = 1; i < sent.size(); ++i) {
            QVERIFY2(sent.at(i) - sent.at(i - 1) >= SpeedMs - 100, qPrintable(QString::number(i)));
        }
    }

    // A message read on "+CMTI" that the store refuses stays on the SIM.
    void notifiedButRefused()
    {
        rig->worker.setListingPeriodsMs(60000, 60000);
        rig->controller.policy = Policy::Refuse;
        QVERIFY(bringUp());
        QSignalSpy deleted(&rig->sim, &ModemSim::messageDeleted);
        rig->sim.addMessage(testPdu(1));
        QTRY_COMPARE_WITH_TIMEOUT(rig->controller.received.size(), 1, 10000);
        QVERIFY(!deleted.wait(1000));
        QCOMPARE(rig->sim.storedIndexes(), QList<int>{1});
    }

    void stopWhileWaiting_data()
    {
        QTest::addColumn<bool>("inReset");
        QTest::newRow("for the store's answer, all modems stopped") << false;
        QTest::newRow("in the radio reset after 15 quiet minutes, this worker alone") << true;
    }

    void stopWhileWaiting()
    {
        QFETCH(bool, inReset);
        const QString radioOff = QStringLiteral("AT+CFUN=0,0");
        if (inReset) {
            QVERIFY(bringUp());
            QCOMPARE(rig->sim.commandCount(radioOff), 0);
            AppClock::setOffsetMs(16 * 60 * 1000);
            QTRY_COMPARE_WITH_TIMEOUT(rig->sim.commandCount(radioOff), 1, 60000);
            AppClock::setOffsetMs(0);
        } else {
            // The controller never answers and the worker would wait 10 s.
            rig->controller.policy = Policy::Silent;
            rig->sim.addMessage(testPdu(1));
            QVERIFY(rig->worker.startWork());
            QTRY_COMPARE_WITH_TIMEOUT(rig->controller.received.size(), 1, 60000);
        }
        QElapsedTimer clock;
        clock.start();
        if (!inReset) {
            comRunState.store(ComRunStopped);
        }
        rig->worker.stopWork();
        QVERIFY2(clock.elapsed() < 1500, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(rig->sim.storedIndexes().size(), inReset ? 0 : 1);
        QCOMPARE(rig->sim.commandCount(radioOff), inReset ? 1 : 0);
    }
#endif
};

QTEST_GUILESS_MAIN(TestComWorker)
#include "tst_comworker.moc"
