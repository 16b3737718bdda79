// The worker in service: a message announced with "+CMTI", on its own or
// inside the answer to another command, is read and deleted at once without
// waiting for a listing; the set-up runs once per opening; the pause of
// DEF_SPEED falls between commands only; a port that stays away is logged
// when it goes, once a minute, and when it comes back.

#include "support/testcontroller.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

class TestComNotify : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void readOnNotification_data();
    void readOnNotification();
    void pauseOnlyBetweenCommands();
    void portAwayLoggedOnce();

private:
    // Starts the worker and waits for the first listing of the store.
    bool bringUp();

    std::unique_ptr<WorkerRig> rig;
};

void TestComNotify::init()
{
    rig = std::make_unique<WorkerRig>();
    QVERIFY(rig->started);
    // Long enough that only a notification can explain a prompt read.
    rig->worker.setListingPeriodsMs(60000, 60000);
}

void TestComNotify::cleanup()
{
    rig.reset();
}

bool TestComNotify::bringUp()
{
    if (!rig->worker.startWork()) {
        return false;
    }
    QElapsedTimer clock;
    clock.start();
    while (rig->sim.commandCount(QStringLiteral("AT+CMGD=?")) < 1 && clock.elapsed() < 20000) {
        QTest::qWait(20);
    }
    return rig->sim.commandCount(QStringLiteral("AT+CMGD=?")) == 1;
}

void TestComNotify::readOnNotification_data()
{
    QTest::addColumn<bool>("insideAnswer");
    QTest::newRow("+CMTI on its own") << false;
    QTest::newRow("+CMTI inside the answer to a read") << true;
}

void TestComNotify::readOnNotification()
{
    QFETCH(bool, insideAnswer);
    QVERIFY(bringUp());
    if (insideAnswer) {
        // Index 1 is announced only inside the answers the modem gives; the
        // message at index 2 announces itself and starts the reads.
        rig->sim.setUnsolicitedInAnswer("+CMTI: \"SM\",1");
        QCOMPARE(rig->sim.addMessage(testPdu(1), false), 1);
    }
    rig->sim.addMessage(testPdu(2));
    QTRY_VERIFY_WITH_TIMEOUT(rig->sim.storedIndexes().isEmpty(), 10000);
    QCOMPARE(rig->controller.stored.size(), insideAnswer ? 2 : 1);
    // No listing came between: the notification did it.
    QCOMPARE(rig->sim.commandCount(QStringLiteral("AT+CMGD=?")), 1);
    // Set-up once per opening: the worker never re-sends it.
    for (const char* command : {"AT+CMEE=1", "AT+CNMI=1,1,0,1,1", "AT+CMGF=0"}) {
        QCOMPARE(rig->sim.commandCount(QLatin1String(command)), 1);
    }
    QVERIFY(rig->controller.errCodes.isEmpty());
}

void TestComNotify::pauseOnlyBetweenCommands()
{
    constexpr int SpeedMs = 500;
    rig->worker.setParams(1, rig->sim.portPath(), SpeedMs, 115200, 0);
    QList<qint64> received;
    QElapsedTimer clock;
    clock.start();
    connect(&rig->sim, &ModemSim::commandReceived, this,
            [&](const QString&) { received.append(clock.elapsed()); });
    QVERIFY(bringUp());
    QTRY_VERIFY_WITH_TIMEOUT(clock.elapsed() - received.constLast() > 2 * SpeedMs, 5000);

    // Idle for longer than the pause: nothing is owed, the read goes out at once.
    const qint64 added = clock.elapsed();
    const int before = received.size();
    rig->sim.addMessage(testPdu(3));
    QTRY_VERIFY_WITH_TIMEOUT(rig->sim.storedIndexes().isEmpty(), 10000);
    QVERIFY2(received.at(before) - added < SpeedMs / 2,
             qPrintable(QString::number(received.at(before) - added)));
    // Between two commands the modem always gets its pause (less the
    // delivery jitter of the simulator's signal).
    for (int i = 1; i < received.size(); ++i) {
        QVERIFY2(received.at(i) - received.at(i - 1) >= SpeedMs - 100, qPrintable(QString::number(i)));
    }
}

void TestComNotify::portAwayLoggedOnce()
{
    QVERIFY(bringUp());
    QSignalSpy errSpy(&rig->worker, &MyComWorker::workErrMsg);
    rig->sim.vanish(-1);
    QVERIFY(errSpy.wait(5000));
    // Retried every second meanwhile, but reported once until a minute passes.
    QVERIFY(!errSpy.wait(3500));
    rig->sim.reappear();
    QTRY_COMPARE_WITH_TIMEOUT(rig->controller.okCodes.count(OkSimNo), 2, 20000);
    QCOMPARE(rig->controller.errCodes, QList<int>{ErrOpenFailed});

    QFile log(QStringLiteral("comlog-1.txt"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QByteArray text = log.readAll();
    QCOMPARE(text.count("PORT NOT OPEN"), 1);
    QCOMPARE(text.count("PORT OPEN AGAIN"), 1);
}

QTEST_GUILESS_MAIN(TestComNotify)
#include "tst_comnotify.moc"
