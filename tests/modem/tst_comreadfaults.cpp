// Faults in the middle of a read cycle: whatever goes wrong, every message
// ends up stored exactly as sent, and none leaves the SIM before that.

#include "support/testcontroller.h"

#include "modem/mycomthread.h"

#include <QFile>
#include <QtTest>

#include <memory>

class TestComReadFaults : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void nothingLost_data();
    void nothingLost();

private:
    std::unique_ptr<WorkerRig> rig;
};

namespace {
enum class Fault
{
    ReadError,
    Unreadable,
    DeleteError,
    Vanish,
    GarbledList,
    SplitAndUnsolicited,
    NotReadyInAnswers,
    Noise,
    PduThenError
};
}
Q_DECLARE_METATYPE(Fault)

void TestComReadFaults::init()
{
    rig = std::make_unique<WorkerRig>();
    QVERIFY(rig->started);
}

void TestComReadFaults::cleanup()
{
    rig.reset();
}

void TestComReadFaults::nothingLost_data()
{
    QTest::addColumn<Fault>("fault");
#ifdef VLSMS_PORT_FAULTS
    QTest::newRow("port vanishes during a read") << Fault::Vanish;
    QTest::newRow("garbled index list") << Fault::GarbledList;
    QTest::newRow("answers split, with unsolicited lines") << Fault::SplitAndUnsolicited;
    QTest::newRow("NUL and high bytes in every answer") << Fault::Noise;
#else
    QTest::newRow("+CPIN: NOT READY inside every answer") << Fault::NotReadyInAnswers;
    QTest::newRow("reads of one entry hold its PDU but end ERROR") << Fault::PduThenError;
    QTest::newRow("one read answered ERROR") << Fault::ReadError;
    QTest::newRow("an entry that never reads") << Fault::Unreadable;
    QTest::newRow("a delete answered ERROR") << Fault::DeleteError;
#endif
}

void TestComReadFaults::nothingLost()
{
    QFETCH(Fault, fault);
    const QList<QByteArray> pdus{testPdu(1), testPdu(2), testPdu(3)};
    QList<QByteArray> expected = pdus;
    switch (fault) {
    case Fault::ReadError:
        rig->sim.setFault(QStringLiteral("AT+CMGR=2"), ModemSim::Fault::Error, 1);
        break;
    case Fault::Unreadable:
        rig->sim.setFault(QStringLiteral("AT+CMGR=2"), ModemSim::Fault::Error, -1, "+CMS ERROR: 500");
        expected.removeAt(1);
        break;
    case Fault::DeleteError:
        rig->sim.setFault(QStringLiteral("AT+CMGD=1"), ModemSim::Fault::Error, 1);
        break;
    case Fault::Vanish:
        rig->sim.setVanishTime(1500);
        rig->sim.setFault(QStringLiteral("AT+CMGR=2"), ModemSim::Fault::Vanish, 1);
        break;
    case Fault::GarbledList:
        rig->sim.setFault(QStringLiteral("AT+CMGD=?"), ModemSim::Fault::Garbage, 1);
        break;
    case Fault::NotReadyInAnswers:
        rig->sim.setSplit(9, 5);
        rig->sim.setUnsolicitedInAnswer("+CPIN: NOT READY");
        break;
    case Fault::Noise:
        rig->sim.setNoise(QByteArray("\0\xff\x80", 3));
        break;
    case Fault::PduThenError:
        rig->sim.setFault(QStringLiteral("AT+CMGR=2"), ModemSim::Fault::Error, -1,
                          "+CMGR: 0,,23\r\n" + testPdu(2) + "\r\n\r\nERROR");
        break;
    case Fault::SplitAndUnsolicited:
        rig->sim.setSplit(7, 15);
        rig->sim.setUnsolicitedInAnswer("+CMTI: \"SM\",9");
        rig->sim.setUnsolicited("^RSSI:14", 700);
        break;
    }
    for (const QByteArray& pdu : pdus) {
        rig->sim.addMessage(pdu);
    }
    // Deletions of messages the store did not hold at that moment.
    QList<QByteArray> deletedUnstored;
    int deletions = 0;
    connect(&rig->sim, &ModemSim::messageDeleted, this, [&](int, const QByteArray& pdu) {
        ++deletions;
        if (!rig->controller.stored.contains(pdu)) {
            deletedUnstored.append(pdu);
        }
    });
    QVERIFY(rig->worker.startWork());
    if (fault == Fault::PduThenError) {
        // Never cleared unread, however many listings find it refused.
        QTRY_VERIFY_WITH_TIMEOUT(
            rig->sim.commandCount(QStringLiteral("AT+CMGR=2")) > MyComThread::MaxReadFailures + 1, 60000);
        QCOMPARE(rig->sim.storedIndexes(), QList<int>{2});
        rig->sim.clearFaults();
    }
    QTRY_VERIFY_WITH_TIMEOUT(rig->sim.storedIndexes().isEmpty(), 150000);

    QList<QByteArray> stored = rig->controller.stored.values();
    std::sort(stored.begin(), stored.end());
    std::sort(expected.begin(), expected.end());
    QCOMPARE(stored, expected);
    QCOMPARE(rig->sim.commandCount(QStringLiteral("AT+CMGD=1,4")), 0);
    // While the port is away the worker reports failed opens (code 1), nothing worse.
    QVERIFY(std::all_of(rig->controller.errCodes.cbegin(), rig->controller.errCodes.cend(),
                        [fault](int code) { return fault == Fault::Vanish && code == 1; }));
    QTRY_COMPARE_WITH_TIMEOUT(deletions, pdus.size(), 5000);
    QCOMPARE(deletedUnstored,
             fault == Fault::Unreadable ? QList<QByteArray>{testPdu(2)} : QList<QByteArray>());
    // Whatever arrived is one of the messages, unchanged.
    for (const QByteArray& pdu : rig->controller.received) {
        QVERIFY(pdus.contains(pdu));
    }
    rig->worker.stopWork();

    if (fault == Fault::Unreadable) {
        QCOMPARE(rig->sim.commandCount(QStringLiteral("AT+CMGR=2")), 3);
        QFile log(QStringLiteral("comlog-1.txt"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        QVERIFY(log.readAll().contains("DROP UNREADABLE MESSAGE: index 2"));
    }
    if (fault == Fault::ReadError) {
        QCOMPARE(rig->sim.commandCount(QStringLiteral("AT+CMGR=2")), 2);
    }
    if (fault == Fault::Vanish) {
        QVERIFY(rig->controller.okCodes.count(1) >= 2);
    }
}

QTEST_GUILESS_MAIN(TestComReadFaults)
#include "tst_comreadfaults.moc"
