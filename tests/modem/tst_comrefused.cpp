// Messages the local store did not accept stay on the SIM: the worker
// deletes only what the controller answered as stored or already stored.

#include "modem/mycomworker.h"
#include "modem/serialchecker.h"
#include "testcontroller.h"
#include "tools/modemsim/modemsim.h"

#include <QTemporaryDir>
#include <QtTest>

class TestComRefused : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void unacceptedMessagesStay_data();
    void unacceptedMessagesStay();

private:
    QTemporaryDir dir;
    ModemSim* sim = nullptr;
    MyComWorker* worker = nullptr;
    TestController* controller = nullptr;
};

namespace {
constexpr int CycleMs = 60000;
}

void TestComRefused::init()
{
    comRunState.store(1);
    QDir::setCurrent(dir.path());
    sim = new ModemSim(dir.filePath(QStringLiteral("modem")));
    QVERIFY(sim->start());
    worker = new MyComWorker;
    worker->setParams(1, sim->portPath(), 100, 115200, 0);
    controller = new TestController(worker);
}

void TestComRefused::cleanup()
{
    delete controller;
    delete worker;
    delete sim;
    controller = nullptr;
    worker = nullptr;
    sim = nullptr;
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
    controller->policy = TestController::Policy(policy);
    worker->setAnswerTimeoutMs(300);
    sim->addMessage(testPdu(1));
    sim->addMessage(testPdu(2));
    QVERIFY(worker->startWork());

    // Two whole cycles: both messages read twice, neither deleted.
    QTRY_VERIFY_WITH_TIMEOUT(controller->received.size() >= 4, 2 * CycleMs);
    QCOMPARE(sim->storedIndexes(), (QList<int>{1, 2}));
    QCOMPARE(sim->commandCount(QStringLiteral("AT+CMGD=1")), 0);
    QCOMPARE(sim->commandCount(QStringLiteral("AT+CMGD=1,4")), 0);

    // Once the store takes them they go.
    controller->policy = TestController::Policy::Store;
    QTRY_VERIFY_WITH_TIMEOUT(sim->storedIndexes().isEmpty(), CycleMs);
    QCOMPARE(controller->stored.size(), 2);
    QVERIFY(controller->errCodes.isEmpty());
    worker->stopWork();
}

QTEST_GUILESS_MAIN(TestComRefused)
#include "tst_comrefused.moc"
