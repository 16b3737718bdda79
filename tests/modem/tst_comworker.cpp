// The worker in service against simulated modems: whatever goes wrong in a
// read cycle, every message of either storage ends up stored exactly as sent
// and none leaves the modem before the store holds it; the set-up and its
// refusals; reads on "+CMTI" and again soon after a refusal; the pause
// between commands; health values; a locked or missing SIM and its PIN; a
// port that goes away, a modem that never answers, stops that come while the
// worker waits.

#include "core/clock.h"
#include "modem/mycomthread.h"
#include "modem/refusedpins.h"
#include "support/testcontroller.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>

namespace {
// One row of the read cycle: what is owed after the trouble ("plain": nothing
// went wrong; "refused": the store refuses every message at first; "dropped":
// index 2 never reads and is cleared unread; "held": it holds its PDU but
// never reads OK; "reread": read twice; "away": the port goes away a while;
// " me": the first and last message are in the modem's own memory).
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
    QString iccid;
    int errCode;
    QList<int> okCodes;
};
// A SIM that asks for something (or is missing), the PIN set, the tries
// owed and the state it ends in.
struct Lock
{
    ModemSim::SimLock lock;
    bool present;
    QString pin;
    int tries;
    QString state;
};
using Policy = TestController::Policy;
using Storage = ModemSim::Storage;
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
Q_DECLARE_METATYPE(Lock)

class TestComWorker : public QObject
{
    Q_OBJECT
    std::unique_ptr<WorkerRig> rig;

    // Starts the worker and waits for its first listing of the storages.
    bool bringUp(int storages = 1)
    {
        const QString listing = QStringLiteral("AT+CMGD=?");
        return rig->worker.startWork() &&
               QTest::qWaitFor([&] { return rig->sim.commandCount(listing) >= storages; }, 20000) &&
               rig->sim.commandCount(listing) == storages;
    }

    // The health last relayed.
    static ModemHealth lastHealth(const QSignalSpy& spy)
    {
        return spy.isEmpty() ? ModemHealth() : spy.last().at(1).value<ModemHealth>();
    }

private slots:
    void init()
    {
        RefusedPins::clear();
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
        QTest::newRow("stored, from the SIM and the modem's memory")
            << Cycle{"plain me", [](WorkerRig& r) { r.sim.setMeStorage(true); }};
        QTest::newRow("store failed, in both storages") << Cycle{"refused me", [](WorkerRig& r) {
                                                                     r.sim.setMeStorage(true);
                                                                     r.controller.policy = Policy::Refuse;
                                                                 }};
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
        const bool me = row.what.endsWith(" me");
        for (int i = 0; i < pdus.size(); ++i) {
            rig->sim.addMessage(pdus[i], me && i != 1 ? Storage::ME : Storage::SM);
        }
        const auto empty = [&] {
            return (rig->sim.storedIndexes() + rig->sim.storedIndexes(Storage::ME)).isEmpty();
        };
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
        if (row.what.startsWith("refused")) {
            // Two whole cycles: every message read twice, none deleted.
            QTRY_VERIFY_WITH_TIMEOUT(ctl.received.size() >= 6, 60000);
            QCOMPARE(deletions, 0);
            ctl.policy = Policy::Store;
        }
        const QString read2 = QStringLiteral("AT+CMGR=2");
        if (row.what == "held") {
            // Never cleared unread, however many listings find it refused.
            QTRY_VERIFY_WITH_TIMEOUT(rig->sim.commandCount(read2) > MyComThread::MaxReadFailures + 1, 60000);
            QCOMPARE(rig->sim.storedIndexes(), QList<int>{2});
            rig->sim.clearFaults();
        }
        QTRY_VERIFY_WITH_TIMEOUT(empty(), 60000);
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
        if (row.what.startsWith("plain")) {
            QCOMPARE(ctl.okCodes, (QList<int>{1, 2, 4, 5, 6, 6, 6}));
            QCOMPARE(ctl.received, me ? (QList<QByteArray>{pdus[1], pdus[0], pdus[2]}) : pdus);
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
        QTest::newRow("ATE0") << Setup{{"ATE0"}, iccid, 3, upTo2};
        QTest::newRow("ATI") << Setup{{"ATI"}, iccid, 3, upTo2};
        QTest::newRow("both device number forms") << Setup{{"AT+CGSN", "AT+WMSN"}, iccid, 4, upTo2};
        QTest::newRow("SIM number answered empty") << Setup{{}, "", 5, upTo4};
        QTest::newRow("AT+CMEE=1") << Setup{{"AT+CMEE=1"}, iccid, -1, { 1, 2, 4, 1, 2, 4 }};
        for (const char* command : {"AT+CREG=1", "AT+CMGF=0"}) {
            QTest::newRow(command) << Setup{{command}, iccid, -1, twice};
        }
        const QStringList later{"AT+CLIP=1", "AT+CSMS=1", "AT+CNMI=1,1,0,1,1", "AT+CPMS=*"};
        QTest::newRow("caller id, service, indications and store") << Setup{later, iccid, -1, upTo6};
    }

    void setupErrors()
    {
        QFETCH(Setup, row);
        for (const QString& command : row.refused) {
            rig->sim.setFault(command, ModemSim::Fault::Error);
        }
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

    void simLock_data()
    {
        QTest::addColumn<Lock>("row");
        using L = ModemSim::SimLock;
        QTest::newRow("PIN right") << Lock{L::Pin, true, "5802", 1, "ready"};
        QTest::newRow("PIN wrong: never again on that SIM") << Lock{L::Pin, true, "5803", 1, "pin"};
        QTest::newRow("PUK: nothing sent") << Lock{L::Puk, true, "5802", 0, "puk"};
        QTest::newRow("PIN asked, none set") << Lock{L::Pin, true, "", 0, "pin"};
        QTest::newRow("no SIM, then one put in") << Lock{L::None, false, "", 0, "ready"};
    }

    // A SIM that cannot serve shows its state and is looked at again (here
    // every second), never by reopening the port; the PIN is sent once and
    // never shows in the port log.
    void simLock()
    {
        QFETCH(Lock, row);
        logLevel.store(LogPortSend | LogPortExchange);
        rig->sim.setSimLock(row.lock, "5802");
        rig->sim.setSimPresent(row.present);
        rig->sim.addMessage(testPdu(1));
        rig->worker.setSimPin(row.pin);
        rig->worker.setHealthPeriodMs(1000);
        QSignalSpy spy(&rig->worker, &MyComWorker::workHealth);
        QVERIFY(rig->worker.startWork());
        QTRY_VERIFY_WITH_TIMEOUT(rig->sim.commandCount(QStringLiteral("AT+CSQ")) >= 3, 20000);
        rig->sim.setSimPresent(true);
        const bool serves = row.state == "ready";
        QTRY_COMPARE_WITH_TIMEOUT(rig->sim.storedIndexes().isEmpty(), serves, 10000);
        QTRY_COMPARE(ModemHealth::simName(lastHealth(spy).sim), row.state);
        QCOMPARE(lastHealth(spy).pinRefused, row.tries == 1 && !serves);
        QCOMPARE(rig->sim.commandCount(QStringLiteral("AT+CPIN=*")), row.tries);
        QCOMPARE(rig->sim.commandCount(QStringLiteral("ATI")), 1);
        QVERIFY(!portLog().contains("5802") && !portLog().contains("5803"));
        logLevel.store(0);
        if (row.tries == 0 || serves) {
            return;
        }
        // A new worker, after the modem was switched off and on: the SIM asks
        // again (two tries left) and is not given the refused PIN.
        rig->worker.stopWork();
        rig->sim.vanish(200);
        QTRY_VERIFY(rig->sim.isPresent());
        rig->sim.clearCommandLog();
        MyComWorker again;
        again.setParams(1, rig->sim.portPath(), 100, 115200, 0);
        again.setSimPin(row.pin);
        QVERIFY(again.startWork());
        QTRY_VERIFY_WITH_TIMEOUT(rig->sim.commandCount(QStringLiteral("AT+CSQ")) >= 1, 20000);
        QCOMPARE(rig->sim.commandCount(QStringLiteral("AT+CPIN=*")), 0);
        QCOMPARE(rig->sim.simLock(), ModemSim::SimLock::Pin);
    }

    void stopWhileWaiting_data()
    {
        QTest::addColumn<int>("where");
        QTest::newRow("for the store's answer, all modems stopped") << 0;
        QTest::newRow("in the radio reset after 15 quiet minutes, this worker alone") << 1;
        QTest::newRow("in an answer that never ends, this worker alone") << 2;
    }

    void stopWhileWaiting()
    {
        QFETCH(int, where);
        const QString radioOff = QStringLiteral("AT+CFUN=0,0");
        if (where == 1) {
            QVERIFY(bringUp());
            QCOMPARE(rig->sim.commandCount(radioOff), 0);
            AppClock::setOffsetMs(16 * 60 * 1000);
            QTRY_COMPARE_WITH_TIMEOUT(rig->sim.commandCount(radioOff), 1, 60000);
            AppClock::setOffsetMs(0);
        } else if (where == 2) {
            // The listing's answer would hold the worker for its whole read time.
            rig->sim.setFault(QStringLiteral("AT+CMGD=?"), ModemSim::Fault::Hang, 1);
            QVERIFY(rig->worker.startWork());
            QTRY_COMPARE_WITH_TIMEOUT(rig->sim.commandCount(QStringLiteral("AT+CMGD=?")), 1, 30000);
        } else {
            // The controller never answers and the worker would wait 10 s.
            rig->controller.policy = Policy::Silent;
            rig->sim.addMessage(testPdu(1));
            QVERIFY(rig->worker.startWork());
            QTRY_COMPARE_WITH_TIMEOUT(rig->controller.received.size(), 1, 60000);
        }
        QElapsedTimer clock;
        clock.start();
        if (where == 0) {
            comRunState.store(ComRunStopped);
        }
        rig->worker.stopWork();
        QVERIFY2(clock.elapsed() < 1500, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(rig->sim.storedIndexes().size(), where == 0 ? 1 : 0);
        QCOMPARE(rig->sim.commandCount(radioOff), where == 1 ? 1 : 0);
    }

#else
    void readOnNotification_data()
    {
        QTest::addColumn<int>("when");
        QTest::newRow("+CMTI on its own") << 0;
        QTest::newRow("+CMTI inside the answer to a read") << 1;
        QTest::newRow("+CMTI in the pause between two health reads") << 2;
        QTest::newRow("+CMTI in the pause before the delete of the message before") << 3;
    }

    // Read at once, before any health read still owed, set-up once per
    // opening, and the pause of DEF_SPEED between two commands only.
    void readOnNotification()
    {
        QFETCH(int, when);
        const bool insideAnswer = when == 1;
        constexpr int SpeedMs = 500;
        rig->worker.setParams(1, rig->sim.portPath(), SpeedMs, 115200, 0);
        // Long enough that only a notification can explain a prompt read.
        rig->worker.setListingPeriodsMs(60000, 60000);
        QList<qint64> sent;
        QElapsedTimer clock;
        clock.start();
        QObject context;
        connect(&rig->sim, &ModemSim::commandReceived, &context, [&] { sent.append(clock.elapsed()); });
        if (when >= 2) {
            // The first health round follows the first listing; message 1 is
            // announced once the worker is up.
            const QString after = when == 2 ? QStringLiteral("AT+CREG?") : QStringLiteral("AT+CMGR=1");
            bool announced = false;
            connect(&rig->sim, &ModemSim::commandReceived, &context, [&](const QString& command) {
                if (command == after && !announced) {
                    announced = true;
                    QTimer::singleShot(SpeedMs / 4, &context, [&] { rig->sim.addMessage(testPdu(2)); });
                }
            });
            QVERIFY(when == 2 ? rig->worker.startWork() : bringUp());
            if (when == 3) {
                rig->sim.addMessage(testPdu(1));
            }
            QTRY_VERIFY_WITH_TIMEOUT(rig->sim.storedIndexes().isEmpty() && rig->controller.stored.size() == when - 1,
                                     20000);
            const QStringList commands = rig->sim.commandLog();
            const int next = int(commands.indexOf(after)) + 1;
            QVERIFY(next > 0 && next < commands.size());
            QVERIFY2(commands.at(next).startsWith(QLatin1String("AT+CMGR=")), qPrintable(commands.at(next)));
            return;
        }
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

    // A message read and stored is deleted a turn later; a card taken out
    // meanwhile is not the card that comes back, and the message at the same
    // index of the new one is read, not deleted unread.
    void cardSwappedBeforeTheDelete()
    {
        rig->worker.setParams(1, rig->sim.portPath(), 300, 115200, 0);
        rig->worker.setHealthPeriodMs(1000);
        QObject context;
        bool pulled = false;
        connect(&rig->sim, &ModemSim::commandReceived, &context, [&](const QString& command) {
            if (command == QLatin1String("AT+CMGR=1") && !pulled) {
                pulled = true;
                QTimer::singleShot(100, &context, [&] { rig->sim.setSimPresent(false); });
            }
        });
        QSignalSpy spy(&rig->worker, &MyComWorker::workHealth);
        QVERIFY(bringUp());
        rig->sim.addMessage(testPdu(1));
        QTRY_COMPARE_WITH_TIMEOUT(lastHealth(spy).sim, ModemHealth::Sim::Absent, 10000);
        rig->sim.clearStore();
        rig->sim.addMessage(testPdu(3), false);
        rig->sim.setSimPresent(true);
        QTRY_VERIFY_WITH_TIMEOUT(rig->sim.storedIndexes().isEmpty(), 20000);
        QVERIFY(rig->controller.stored.contains(testPdu(3)));
    }

    // A message read on "+CMTI" in the modem's memory that the store refuses
    // stays there and is read again 1, 2, 4, 8 and at most 8 s later, not at
    // the next listing a minute on: stored within 10 s of the store taking
    // it. One the store takes at once is deleted there at once.
    void notifiedButRefused()
    {
        rig->worker.setListingPeriodsMs(60000, 60000);
        rig->controller.policy = Policy::Refuse;
        rig->sim.setMeStorage(true);
        QVERIFY(bringUp(2));
        QSignalSpy deleted(&rig->sim, &ModemSim::messageDeleted);
        rig->sim.addMessage(testPdu(1), Storage::ME);
        QTRY_COMPARE_WITH_TIMEOUT(rig->controller.received.size(), 5, 20000);
        QCOMPARE(deleted.size(), 0);
        QCOMPARE(rig->sim.storedIndexes(Storage::ME), QList<int>{1});
        rig->controller.policy = Policy::Store;
        QTRY_VERIFY_WITH_TIMEOUT(!deleted.isEmpty(), 10000);
        rig->sim.addMessage(testPdu(2), Storage::ME);
        QTRY_COMPARE_WITH_TIMEOUT(deleted.size(), 2, 5000);
        QVERIFY(rig->sim.storedIndexes(Storage::ME).isEmpty());
    }

    // What the modem tells of itself reaches the controller, and only when
    // it changes: at once from its notices, at the next round from reads.
    void health()
    {
        QSignalSpy spy(&rig->worker, &MyComWorker::workHealth);
        rig->worker.setHealthPeriodMs(1000);
        rig->sim.setOperator("CHINA MOBILE", 7);
        QVERIFY(rig->worker.startWork());
        ModemHealth want;
        want.signal = 21;
        want.registration = ModemHealth::Registration::Home;
        want.operatorName = QStringLiteral("CHINA MOBILE");
        want.sim = ModemHealth::Sim::Ready;
        want.storageUsed = 0;
        want.storageTotal = 50;
        QTRY_VERIFY_WITH_TIMEOUT(lastHealth(spy) == want, 10000);
        const int told = spy.size();
        QTRY_VERIFY_WITH_TIMEOUT(rig->sim.commandCount(QStringLiteral("AT+CSQ")) >= 4, 10000);
        QCOMPARE(spy.size(), told);
        // No round after the one under way: what changes now is told by notices.
        rig->worker.setHealthPeriodMs(60000);
        // Every round ends with the signal.
        const auto roundOver = [this] {
            const QStringList commands = rig->sim.commandLog();
            for (auto it = commands.crbegin(); it != commands.crend(); ++it) {
                if (it->startsWith(QLatin1String("AT+C")) && it->endsWith(QLatin1Char('?'))) {
                    return false;
                }
                if (*it == QLatin1String("AT+CSQ")) {
                    return true;
                }
            }
            return false;
        };
        QTRY_VERIFY_WITH_TIMEOUT(roundOver(), 10000);
        rig->sim.setSignalNotices(true);
        rig->sim.setSignal(5);
        rig->sim.setRegistration(5);
        QTRY_VERIFY_WITH_TIMEOUT(lastHealth(spy).signal == 5, 3000);
        QTRY_COMPARE_WITH_TIMEOUT(lastHealth(spy).registration, ModemHealth::Registration::Roaming, 3000);
        rig->worker.setHealthPeriodMs(1000);
        rig->sim.setSignalNotices(false);
        rig->sim.setSignal(9);
        QTRY_COMPARE_WITH_TIMEOUT(lastHealth(spy).signal, 9, 10000);
    }

#endif
};

QTEST_GUILESS_MAIN(TestComWorker)
#include "tst_comworker.moc"
