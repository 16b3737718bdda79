// Messages the local store did not accept stay on the SIM: the worker
// deletes only what the controller answered as stored or already stored.

#include "support/testcontroller.h"

#include <QtTest>

#include <memory>

class TestComRefused : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void unacceptedMessagesStay_data();
    void unacceptedMessagesStay();

private:
    std::unique_ptr<WorkerRig> rig;
};

namespace {
constexpr int CycleMs = 60000;
}

void TestComRefused::init()
{
    rig = std::make_unique<WorkerRig>();
    QVERIFY(rig->started);
}

void TestComRefused::cleanup()
{
    rig.reset();
}

void TestComRefused::unacceptedMessagesStay_data()
{
    QTest::addColumn<int>("policy");
    QTest::newRow("store failed") << int(TestController::Policy::Refuse);
    QTest::newRow("no answer at all") << int(TestController::Policy::Silent);
}

void TestComRefused::unacceptedMessagesStay()
{
    QFETCH(int, policy);
    rig->controller.policy = TestController::Policy(policy);
    rig->worker.setAnswerTimeoutMs(300);
    rig->sim.addMessage(testPdu(1));
    rig->sim.addMessage(testPdu(2));
    QVERIFY(rig->worker.startWork());

    // Two whole cycles: both messages read twice, neither deleted.
    QTRY_VERIFY_WITH_TIMEOUT(rig->controller.received.size() >= 4, 2 * CycleMs);
    QCOMPARE(rig->sim.storedIndexes(), (QList<int>{1, 2}));
    QCOMPARE(rig->sim.commandCount(QStringLiteral("AT+CMGD=1")), 0);
    QCOMPARE(rig->sim.commandCount(QStringLiteral("AT+CMGD=1,4")), 0);

    // Once the store takes them they go.
    rig->controller.policy = TestController::Policy::Store;
    QTRY_VERIFY_WITH_TIMEOUT(rig->sim.storedIndexes().isEmpty(), CycleMs);
    QCOMPARE(rig->controller.stored.size(), 2);
    QVERIFY(rig->controller.errCodes.isEmpty());
    rig->worker.stopWork();
}

QTEST_GUILESS_MAIN(TestComRefused)
#include "tst_comrefused.moc"
