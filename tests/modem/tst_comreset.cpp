// The radio power cycle after fifteen minutes without a message, and a stop
// that comes during one of its long pauses.

#include "core/clock.h"
#include "modem/mycomworker.h"
#include "modem/serialchecker.h"
#include "support/testcontroller.h"
#include "tools/modemsim/modemsim.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

class TestComReset : public QObject
{
    Q_OBJECT
private slots:
    void stopDuringResetPause();
};

void TestComReset::stopDuringResetPause()
{
    QTemporaryDir dir;
    comRunState.store(1);
    QDir::setCurrent(dir.path());
    ModemSim sim(dir.filePath(QStringLiteral("modem")));
    QVERIFY(sim.start());
    MyComWorker worker;
    worker.setParams(1, sim.portPath(), 100, 115200, 0);
    TestController controller(&worker);
    QVERIFY(worker.startWork());
    QTRY_COMPARE_WITH_TIMEOUT(controller.okCodes, (QList<int>{1, 2, 4, 5}), 30000);
    QCOMPARE(sim.commandCount(QStringLiteral("AT+CFUN=0,0")), 0);

    AppClock::setOffsetMs(16 * 60 * 1000);
    QTRY_COMPARE_WITH_TIMEOUT(sim.commandCount(QStringLiteral("AT+CFUN=0,0")), 1, 60000);
    AppClock::setOffsetMs(0);

    // Only the worker's own flag is cleared: the pause must still end at once.
    QElapsedTimer clock;
    clock.start();
    worker.stopWork();
    QVERIFY2(clock.elapsed() < 1500, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(sim.commandCount(QStringLiteral("AT+CFUN=0,0")), 1);
}

QTEST_GUILESS_MAIN(TestComReset)
#include "tst_comreset.moc"
