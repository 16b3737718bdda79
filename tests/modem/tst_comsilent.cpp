// A port with nothing behind it that answers: the worker reports the open,
// gives up on the handshake after its twenty tries and the break-in, and
// starts over, for as long as it runs.

#include "modem/mycomworker.h"
#include "modem/serialchecker.h"
#include "support/testcontroller.h"
#include "tools/modemsim/modemsim.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

class TestComSilent : public QObject
{
    Q_OBJECT
private slots:
    void silentModem();
};

void TestComSilent::silentModem()
{
    QTemporaryDir dir;
    comRunState.store(1);
    QDir::setCurrent(dir.path());
    ModemSim sim(dir.filePath(QStringLiteral("modem")));
    QVERIFY(sim.start());
    sim.setSilent(true);
    MyComWorker worker;
    worker.setParams(1, sim.portPath(), 200, 115200, 0);
    TestController controller(&worker);

    QElapsedTimer clock;
    clock.start();
    QVERIFY(worker.startWork());
    QTRY_COMPARE_WITH_TIMEOUT(controller.okCodes, QList<int>{1}, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(controller.errCodes, QList<int>{2}, 120000);
    // Twenty tries of 3 s plus the drain, the break-in and its pause: about 75 s.
    const qint64 gaveUp = clock.elapsed();
    QVERIFY2(gaveUp > 65000 && gaveUp < 110000, qPrintable(QString::number(gaveUp)));
    QTRY_COMPARE_WITH_TIMEOUT(controller.okCodes, (QList<int>{1, 1}), 10000);
    QCOMPARE(sim.commandCount(QStringLiteral("AT")), 20);
    // The radio command follows the report of the open: wait for the second.
    QTRY_VERIFY_WITH_TIMEOUT(sim.commandCount(QStringLiteral("AT+CFUN=1,0")) >= 2, 10000);

    clock.restart();
    comRunState.store(99);
    worker.stopWork();
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
}

QTEST_GUILESS_MAIN(TestComSilent)
#include "tst_comsilent.moc"
