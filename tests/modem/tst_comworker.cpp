// The worker against a simulated modem: the codes of a fresh start, every
// message read once, answered and deleted, and messages the store did not
// accept left on the SIM.

#include "support/testcontroller.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

class TestComWorker : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void messagesReadOnceAndDeleted_data();
    void messagesReadOnceAndDeleted();
    void stopWhileWaitingForAnswer_data();
    void stopWhileWaitingForAnswer();
    void portThatCannotOpen();

private:
    std::unique_ptr<WorkerRig> rig;
};

namespace {
constexpr int CycleMs = 60000;
}

void TestComWorker::init()
{
    rig = std::make_unique<WorkerRig>(3);
    QVERIFY(rig->started);
}

void TestComWorker::cleanup()
{
    rig.reset();
}

void TestComWorker::messagesReadOnceAndDeleted_data()
{
    QTest::addColumn<bool>("alreadyStored");
    QTest::newRow("stored") << false;
    QTest::newRow("already stored by an earlier read") << true;
}

void TestComWorker::messagesReadOnceAndDeleted()
{
    QFETCH(bool, alreadyStored);
    const QList<QByteArray> pdus{testPdu(1), testPdu(2), testPdu(3)};
    for (const QByteArray& pdu : pdus) {
        rig->sim.addMessage(pdu);
        if (alreadyStored) {
            rig->controller.stored.insert(pdu);
        }
    }
    QVERIFY(rig->worker.startWork());
    QTRY_VERIFY_WITH_TIMEOUT(rig->sim.storedIndexes().isEmpty(), CycleMs);
    QTRY_COMPARE_WITH_TIMEOUT(rig->controller.received.size(), 3, 5000);

    QCOMPARE(rig->controller.okCodes, (QList<int>{1, 2, 4, 5, 6, 6, 6}));
    QVERIFY(rig->controller.errCodes.isEmpty());
    QCOMPARE(rig->controller.received, pdus);
    QCOMPARE(rig->controller.deviceNos, QList<QByteArray>{"861234567890123"});
    QCOMPARE(rig->controller.simNos, QList<QByteArray>{"89860012345678901234"});
    QCOMPARE(rig->worker.deviceNo(), QStringLiteral("861234567890123"));
    QCOMPARE(rig->worker.simNo(), QStringLiteral("89860012345678901234"));
    QVERIFY(std::all_of(rig->controller.ids.cbegin(), rig->controller.ids.cend(),
                        [](int id) { return id == 3; }));
    for (const ModemSim::Record& record : rig->sim.history()) {
        QCOMPARE(record.timesRead, 1);
        QVERIFY(record.deleted);
    }

    // A message arriving while the worker runs is taken in a later cycle.
    rig->sim.addMessage(testPdu(4));
    QTRY_VERIFY_WITH_TIMEOUT(rig->sim.storedIndexes().isEmpty(), CycleMs);
    QTRY_COMPARE_WITH_TIMEOUT(rig->controller.received.size(), 4, 5000);
    QCOMPARE(rig->controller.received.constLast(), testPdu(4));
    QCOMPARE(rig->sim.commandCount(QStringLiteral("AT+CMGD=1,4")), 0);
    QVERIFY(rig->worker.stopWork());
}

void TestComWorker::stopWhileWaitingForAnswer_data()
{
    QTest::addColumn<bool>("allModems");
    QTest::newRow("all modems stopped") << true;
    QTest::newRow("this worker stopped alone") << false;
}

void TestComWorker::stopWhileWaitingForAnswer()
{
    QFETCH(bool, allModems);
    // The controller never answers and the worker would wait 10 s.
    rig->controller.policy = TestController::Policy::Silent;
    rig->sim.addMessage(testPdu(1));
    QVERIFY(rig->worker.startWork());
    QTRY_VERIFY_WITH_TIMEOUT(rig->controller.received.size() == 1, CycleMs);

    QElapsedTimer clock;
    clock.start();
    if (allModems) {
        comRunState.store(99);
    }
    rig->worker.stopWork();
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(rig->sim.storedIndexes(), QList<int>{1});
}

void TestComWorker::portThatCannotOpen()
{
    rig->worker.setParams(2, rig->dir.filePath(QStringLiteral("no-such-port")), 100, 115200, 0);
    QSignalSpy errSpy(&rig->worker, &MyComWorker::workErrMsg);
    QVERIFY(errSpy.isValid());
    QVERIFY(!rig->worker.startWork());
    QCOMPARE(errSpy.count(), 1);
    QCOMPARE(errSpy.at(0).at(0).toInt(), 2);
    QCOMPARE(errSpy.at(0).at(1).toInt(), 0);
    QVERIFY(rig->controller.okCodes.isEmpty());
}

QTEST_GUILESS_MAIN(TestComWorker)
#include "tst_comworker.moc"
