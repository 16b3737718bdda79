// The worker against a simulated modem: the codes of a fresh start, every
// message read once, answered and deleted, and messages the store did not
// accept left on the SIM.

#include "modem/mycomworker.h"
#include "modem/serialchecker.h"
#include "testcontroller.h"
#include "tools/modemsim/modemsim.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

class TestComWorker : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void messagesReadOnceAndDeleted_data();
    void messagesReadOnceAndDeleted();
    void stopWhileWaitingForAnswer();
    void portThatCannotOpen();

private:
    QTemporaryDir dir;
    ModemSim* sim = nullptr;
    MyComWorker* worker = nullptr;
    TestController* controller = nullptr;
};

namespace {
constexpr int CycleMs = 60000;
}

void TestComWorker::init()
{
    comRunState.store(1);
    QDir::setCurrent(dir.path());
    sim = new ModemSim(dir.filePath(QStringLiteral("modem")));
    QVERIFY(sim->start());
    worker = new MyComWorker;
    worker->setParams(3, sim->portPath(), 100, 115200, 0);
    controller = new TestController(worker);
}

void TestComWorker::cleanup()
{
    delete controller;
    delete worker;
    delete sim;
    controller = nullptr;
    worker = nullptr;
    sim = nullptr;
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
        sim->addMessage(pdu);
        if (alreadyStored) {
            controller->stored.insert(pdu);
        }
    }
    QVERIFY(worker->startWork());
    QTRY_VERIFY_WITH_TIMEOUT(sim->storedIndexes().isEmpty(), CycleMs);
    QTRY_COMPARE_WITH_TIMEOUT(controller->received.size(), 3, 5000);

    QCOMPARE(controller->okCodes, (QList<int>{1, 2, 4, 5, 6, 6, 6}));
    QVERIFY(controller->errCodes.isEmpty());
    QCOMPARE(controller->received, pdus);
    QCOMPARE(controller->deviceNos, QList<QByteArray>{"861234567890123"});
    QCOMPARE(controller->simNos, QList<QByteArray>{"89860012345678901234"});
    QCOMPARE(worker->deviceNo(), QStringLiteral("861234567890123"));
    QCOMPARE(worker->simNo(), QStringLiteral("89860012345678901234"));
    QVERIFY(std::all_of(controller->ids.cbegin(), controller->ids.cend(), [](int id) { return id == 3; }));
    for (const ModemSim::Record& record : sim->history()) {
        QCOMPARE(record.timesRead, 1);
        QVERIFY(record.deleted);
    }

    // A message arriving while the worker runs is taken in a later cycle.
    sim->addMessage(testPdu(4));
    QTRY_VERIFY_WITH_TIMEOUT(sim->storedIndexes().isEmpty(), CycleMs);
    QTRY_COMPARE_WITH_TIMEOUT(controller->received.size(), 4, 5000);
    QCOMPARE(controller->received.constLast(), testPdu(4));
    QCOMPARE(sim->commandCount(QStringLiteral("AT+CMGD=1,4")), 0);
    QVERIFY(worker->stopWork());
}

void TestComWorker::stopWhileWaitingForAnswer()
{
    // The controller never answers and the worker would wait 10 s.
    controller->policy = TestController::Policy::Silent;
    sim->addMessage(testPdu(1));
    QSignalSpy spy(worker, &MyComWorker::workOkMsg);
    QVERIFY(spy.isValid());
    QVERIFY(worker->startWork());
    QTRY_VERIFY_WITH_TIMEOUT(controller->received.size() == 1, CycleMs);

    QElapsedTimer clock;
    clock.start();
    comRunState.store(99);
    worker->stopWork();
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(sim->storedIndexes(), QList<int>{1});
}

void TestComWorker::portThatCannotOpen()
{
    worker->setParams(2, dir.filePath(QStringLiteral("no-such-port")), 100, 115200, 0);
    QSignalSpy errSpy(worker, &MyComWorker::workErrMsg);
    QVERIFY(errSpy.isValid());
    QVERIFY(!worker->startWork());
    QCOMPARE(errSpy.count(), 1);
    QCOMPARE(errSpy.at(0).at(0).toInt(), 2);
    QCOMPARE(errSpy.at(0).at(1).toInt(), 0);
    QVERIFY(controller->okCodes.isEmpty());
}

QTEST_GUILESS_MAIN(TestComWorker)
#include "tst_comworker.moc"
