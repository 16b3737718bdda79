// Thirty-two workers at once, each on its own simulated modem: every message
// reaches the right worker id, every SIM ends empty, and a stop ends them all
// quickly.

#include "modem/mycomworker.h"
#include "modem/serialchecker.h"
#include "support/testcontroller.h"
#include "tools/modemsim/modembank.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <vector>

class TestComMany : public QObject
{
    Q_OBJECT
private slots:
    void thirtyTwoWorkers();
};

void TestComMany::thirtyTwoWorkers()
{
    constexpr int Count = 32;
    QTemporaryDir dir;
    comRunState.store(1);
    QDir::setCurrent(dir.path());
    ModemBank bank;
    QString error;
    QVERIFY2(bank.start(Count, dir.path(), &error), qPrintable(error));

    std::vector<std::unique_ptr<MyComWorker>> workers;
    std::vector<std::unique_ptr<TestController>> controllers;
    for (int i = 0; i < Count; ++i) {
        ModemSim* sim = bank.modem(i);
        sim->setIccid(QStringLiteral("898600123456789%1").arg(i, 5, 10, QLatin1Char('0')));
        sim->addMessage(testPdu(2 * i));
        sim->addMessage(testPdu(2 * i + 1));
        workers.push_back(std::make_unique<MyComWorker>());
        workers.back()->setParams(i + 1, sim->portPath(), 200, 115200, 0);
        controllers.push_back(std::make_unique<TestController>(workers.back().get()));
    }
    for (auto& worker : workers) {
        QVERIFY(worker->startWork());
    }

    auto allEmpty = [&bank] {
        for (int i = 0; i < bank.count(); ++i) {
            if (!bank.modem(i)->storedIndexes().isEmpty()) {
                return false;
            }
        }
        return true;
    };
    QTRY_VERIFY_WITH_TIMEOUT(allEmpty(), 240000);

    for (int i = 0; i < Count; ++i) {
        const TestController& controller = *controllers[size_t(i)];
        QCOMPARE(controller.received, (QList<QByteArray>{testPdu(2 * i), testPdu(2 * i + 1)}));
        QVERIFY(
            std::all_of(controller.ids.cbegin(), controller.ids.cend(), [i](int id) { return id == i + 1; }));
        QCOMPARE(workers[size_t(i)]->simNo(),
                 QStringLiteral("898600123456789%1").arg(i, 5, 10, QLatin1Char('0')));
        QVERIFY(controller.errCodes.isEmpty());
    }

    QElapsedTimer clock;
    clock.start();
    comRunState.store(99);
    for (auto& worker : workers) {
        worker->stopWork();
    }
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
}

QTEST_GUILESS_MAIN(TestComMany)
#include "tst_commany.moc"
