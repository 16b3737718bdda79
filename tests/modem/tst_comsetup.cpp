// ERROR answers during the set-up of a modem: which of them end the worker
// with a code, which make it start over, and which it passes by.

#include "support/testcontroller.h"

#include <QSignalSpy>
#include <QtTest>

#include <memory>

class TestComSetup : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void setupErrors_data();
    void setupErrors();

private:
    std::unique_ptr<WorkerRig> rig;
};

namespace {
enum class Outcome
{
    Stops,
    StartsOver,
    Reads
};
}
Q_DECLARE_METATYPE(Outcome)

void TestComSetup::init()
{
    rig = std::make_unique<WorkerRig>();
    QVERIFY(rig->started);
}

void TestComSetup::cleanup()
{
    rig.reset();
}

void TestComSetup::setupErrors_data()
{
    QTest::addColumn<QStringList>("refused");
    QTest::addColumn<bool>("simPresent");
    QTest::addColumn<QString>("iccid");
    QTest::addColumn<Outcome>("outcome");
    QTest::addColumn<int>("errCode");
    QTest::addColumn<QList<int>>("okCodes");

    const QString iccid = QStringLiteral("89860012345678901234");
    QTest::newRow("ATE0") << QStringList{"ATE0"} << true << iccid << Outcome::Stops << 3 << QList<int>{1, 2};
    QTest::newRow("ATI") << QStringList{"ATI"} << true << iccid << Outcome::Stops << 3 << QList<int>{1, 2};
    QTest::newRow("both device number forms")
        << QStringList{"AT+CGSN", "AT+WMSN"} << true << iccid << Outcome::Stops << 4 << QList<int>{1, 2};
    QTest::newRow("no SIM card") << QStringList() << false << iccid << Outcome::Stops << 5
                                 << QList<int>{1, 2, 4};
    QTest::newRow("SIM number answered empty")
        << QStringList() << true << QString() << Outcome::Stops << 5 << QList<int>{1, 2, 4};
    QTest::newRow("AT+CMEE=1") << QStringList{"AT+CMEE=1"} << true << iccid << Outcome::StartsOver << -1
                               << QList<int>{1, 2, 4, 5, 1, 2, 4, 5};
    QTest::newRow("AT+CREG=1") << QStringList{"AT+CREG=1"} << true << iccid << Outcome::StartsOver << -1
                               << QList<int>{1, 2, 4, 5, 1, 2, 4, 5};
    QTest::newRow("AT+CMGF=0") << QStringList{"AT+CMGF=0"} << true << iccid << Outcome::StartsOver << -1
                               << QList<int>{1, 2, 4, 5, 1, 2, 4, 5};
    QTest::newRow("caller id, service, indications and store")
        << QStringList{"AT+CLIP=1", "AT+CSMS=1", "AT+CNMI=1,1,0,1,1", "AT+CPMS=*"} << true << iccid
        << Outcome::Reads << -1 << QList<int>{1, 2, 4, 5, 6};
}

void TestComSetup::setupErrors()
{
    QFETCH(QStringList, refused);
    QFETCH(bool, simPresent);
    QFETCH(QString, iccid);
    QFETCH(Outcome, outcome);
    QFETCH(int, errCode);
    QFETCH(QList<int>, okCodes);
    for (const QString& command : refused) {
        rig->sim.setFault(command, ModemSim::Fault::Error);
    }
    rig->sim.setSimPresent(simPresent);
    rig->sim.setIccid(iccid);
    rig->sim.setIccidStyle(ModemSim::IccidStyle::Bare);
    rig->sim.addMessage(testPdu(1));
    QSignalSpy okSpy(&rig->worker, &MyComWorker::workOkMsg);
    QVERIFY(okSpy.isValid());
    QVERIFY(rig->worker.startWork());

    switch (outcome) {
    case Outcome::Stops:
        QTRY_COMPARE_WITH_TIMEOUT(rig->controller.errCodes, QList<int>{errCode}, 30000);
        QCOMPARE(rig->controller.okCodes, okCodes);
        // The thread has ended: the port is not opened again.
        QVERIFY(!okSpy.wait(1500));
        QCOMPARE(rig->controller.okCodes, okCodes);
        QCOMPARE(rig->sim.storedIndexes(), QList<int>{1});
        break;
    case Outcome::StartsOver:
        QTRY_VERIFY_WITH_TIMEOUT(rig->controller.okCodes.size() >= okCodes.size(), 60000);
        QCOMPARE(rig->controller.okCodes.mid(0, okCodes.size()), okCodes);
        QVERIFY(rig->controller.errCodes.isEmpty());
        QCOMPARE(rig->sim.commandCount(QStringLiteral("AT+CMGD=?")), 0);
        QCOMPARE(rig->sim.storedIndexes(), QList<int>{1});
        break;
    case Outcome::Reads:
        QTRY_VERIFY_WITH_TIMEOUT(rig->sim.storedIndexes().isEmpty(), 60000);
        QCOMPARE(rig->controller.okCodes, okCodes);
        QVERIFY(rig->controller.errCodes.isEmpty());
        break;
    }
    rig->worker.stopWork();
}

QTEST_GUILESS_MAIN(TestComSetup)
#include "tst_comsetup.moc"
