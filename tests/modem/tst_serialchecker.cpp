// One AT exchange against a simulated modem on a pseudo-terminal: result
// codes, time-outs and their clamps, the cancel, the resynchronisation after
// a time-out, answers with noise and unsolicited lines, and the port log.

#include "core/comlog.h"
#include "modem/serialchecker.h"
#include "tools/modemsim/modemsim.h"

#include <QElapsedTimer>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QtTest>

#include <thread>

class TestSerialChecker : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void answeredInOneBurst();
    void errorAnswer();
    void readTimeout_data();
    void readTimeout();
    void cancelWhileWaiting();
    void cancelBeforeStart();
    void unusablePort();
    void staleInputKeptApart();
    void awkwardAnswers_data();
    void awkwardAnswers();
    void portLostWhileWaiting();
    void portLog_data();
    void portLog();

private:
    bool openPort();

    QTemporaryDir dir;
    ModemSim* sim = nullptr;
    QSerialPort* port = nullptr;
};

namespace {
// Slack for a loaded machine on top of the bounds the exchange promises.
constexpr int SlackMs = 700;
} // namespace

void TestSerialChecker::init()
{
    comRunState.store(1);
    logLevel.store(0);
    sim = new ModemSim(dir.filePath(QStringLiteral("modem")));
    QVERIFY(sim->start());
    sim->setEcho(false);
    QVERIFY(openPort());
}

void TestSerialChecker::cleanup()
{
    delete port;
    port = nullptr;
    delete sim;
    sim = nullptr;
    comRunState.store(1);
}

bool TestSerialChecker::openPort()
{
    port = new QSerialPort;
    port->setPortName(sim->portPath());
    port->setBaudRate(115200);
    return port->open(QIODevice::ReadWrite);
}

void TestSerialChecker::answeredInOneBurst()
{
    SerialChecker checker(nullptr, nullptr);
    QElapsedTimer clock;
    clock.start();
    // Each exchange ends at its final result. Waiting for trailing lines
    // (even one quiet round of 200 ms) would take ten of them past 2 s.
    for (int i = 0; i < 10; ++i) {
        QCOMPARE(checker.sendCommand(port, "AT\r", 10000, 3000), 100);
    }
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(checker.errorText().isEmpty());
    QVERIFY(checker.answer().contains("OK\r\n"));
}

void TestSerialChecker::errorAnswer()
{
    // A modem family that ends refused commands with its own text.
    sim->setErrorText("COMMAND NOT SUPPORT");
    SerialChecker checker(nullptr, nullptr);
    QCOMPARE(checker.sendCommand(port, "AT+WMSN\r", 10000, 10000), 203);
    QVERIFY(checker.errorText().isEmpty());
    QVERIFY(checker.answer().contains("COMMAND NOT SUPPORT"));
}

void TestSerialChecker::readTimeout_data()
{
    QTest::addColumn<int>("asked");
    QTest::addColumn<int>("waited");

    QTest::newRow("300 ms") << 300 << 300;
    QTest::newRow("50 ms is raised to 100") << 50 << 100;
}

void TestSerialChecker::readTimeout()
{
    QFETCH(int, asked);
    QFETCH(int, waited);
    sim->setSilent(true);
    SerialChecker checker(nullptr, nullptr);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(checker.sendCommand(port, "AT\r", 10000, asked), 401);
    const qint64 elapsed = clock.elapsed();
    QCOMPARE(checker.errorText(), QStringLiteral("recv time out"));
    // The wait, one more round of 200 ms at most, then 200 ms of quiet line.
    QVERIFY2(elapsed >= waited + 150, qPrintable(QString::number(elapsed)));
    QVERIFY2(elapsed <= waited + 200 + 200 + SlackMs, qPrintable(QString::number(elapsed)));
}

void TestSerialChecker::cancelWhileWaiting()
{
    sim->setSilent(true);
    QElapsedTimer clock;
    clock.start();
    std::thread stopper([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        comRunState.store(99);
    });
    SerialChecker checker(nullptr, nullptr);
    const int code = checker.sendCommand(port, "AT+CMGR=1\r", 30000, 300000);
    const qint64 elapsed = clock.elapsed();
    stopper.join();
    QCOMPARE(code, 999);
    QCOMPARE(checker.errorText(), QStringLiteral("user cancel"));
    QVERIFY2(elapsed <= 400 + 200 + SlackMs, qPrintable(QString::number(elapsed)));
}

void TestSerialChecker::cancelBeforeStart()
{
    comRunState.store(99);
    SerialChecker cancelled(nullptr, nullptr);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(cancelled.sendCommand(port, "ATI\r", 10000, 10000), 999);
    QVERIFY(clock.elapsed() < 150);
    QCOMPARE(cancelled.errorText(), QStringLiteral("user cancel"));

    // The modem must have seen only the command sent after the cancel ended.
    comRunState.store(1);
    SerialChecker next(nullptr, nullptr);
    QCOMPARE(next.sendCommand(port, "AT\r", 10000, 3000), 100);
    QCOMPARE(sim->commandLog(), QStringList{QStringLiteral("AT")});
}

void TestSerialChecker::unusablePort()
{
    SerialChecker checker(nullptr, nullptr);
    QCOMPARE(checker.sendCommand(nullptr, "AT\r", 100, 100), 301);
    QCOMPARE(checker.errorText(), QStringLiteral("port is null"));
    QCOMPARE(checker.sendCommand(port, QByteArray(), 100, 100), 302);
    QCOMPARE(checker.errorText(), QStringLiteral("no data to send"));
    port->close();
    QCOMPARE(checker.sendCommand(port, "AT\r", 100, 100), 303);
    QCOMPARE(checker.errorText(), QStringLiteral("port not open"));
}

void TestSerialChecker::staleInputKeptApart()
{
    sim->addMessage("0011000B916407281553F80000AA0AE8329BFD4697D9EC37");
    QVERIFY(port->waitForReadyRead(3000));
    SerialChecker checker(nullptr, nullptr);
    QCOMPARE(checker.sendCommand(port, "AT\r", 10000, 3000), 100);
    QVERIFY(checker.staleInput().contains("+CMTI:"));
    QVERIFY(!checker.answer().contains("+CMTI:"));
}

void TestSerialChecker::awkwardAnswers_data()
{
    QTest::addColumn<int>("split");
    QTest::addColumn<QByteArray>("unsolicited");
    QTest::addColumn<QByteArray>("noise");

    QTest::newRow("two bytes at a time") << 2 << QByteArray() << QByteArray();
    QTest::newRow("+CPIN: NOT READY ahead of the final result, split")
        << 5 << QByteArray("+CPIN: NOT READY") << QByteArray();
    QTest::newRow("ERROR in an unsolicited line") << 0 << QByteArray("^MODE: ERROR") << QByteArray();
    QTest::newRow("NUL and high bytes") << 0 << QByteArray() << QByteArray("\0\xff\x80", 3);
    QTest::newRow("NUL and invalid UTF-8, split") << 3 << QByteArray() << QByteArray("\xe2\x82\0", 3);
}

void TestSerialChecker::awkwardAnswers()
{
    QFETCH(int, split);
    QFETCH(QByteArray, unsolicited);
    QFETCH(QByteArray, noise);
    sim->setSplit(split, 20);
    sim->setUnsolicitedInAnswer(unsolicited);
    sim->setNoise(noise);
    SerialChecker checker(nullptr, nullptr);
    QCOMPARE(checker.sendCommand(port, "AT+CGSN\r", 10000, 10000), 100);
    QVERIFY(checker.answer().contains("861234567890123"));
}

void TestSerialChecker::portLostWhileWaiting()
{
    sim->setVanishTime(-1);
    sim->setFault(QStringLiteral("AT+CMGR=*"), ModemSim::Fault::Vanish);
    sim->addMessage("0011000B916407281553F80000AA0AE8329BFD4697D9EC37", false);
    SerialChecker checker(nullptr, nullptr);
    QElapsedTimer clock;
    clock.start();
    const int code = checker.sendCommand(port, "AT+CMGR=1\r", 30000, 300000);
    // Fails at once instead of waiting out the 300 s read time-out.
    QCOMPARE(code, 402);
    QCOMPARE(checker.errorText(), QStringLiteral("port lost"));
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
}

void TestSerialChecker::portLog_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<bool>("sendLine");
    QTest::addColumn<bool>("answerLine");

    QTest::newRow("0x11") << 0x11 << true << true;
    QTest::newRow("0x10") << 0x10 << true << false;
    QTest::newRow("0x1") << 0x1 << false << true;
    QTest::newRow("0") << 0 << false << false;
}

void TestSerialChecker::portLog()
{
    QFETCH(int, level);
    QFETCH(bool, sendLine);
    QFETCH(bool, answerLine);
    const QString name = dir.filePath(QStringLiteral("comlog-%1.txt").arg(level));
    ComLog log;
    log.open(name);
    logLevel.store(level);
    sim->setFault(QStringLiteral("ATI"), ModemSim::Fault::Error, -1, "+CME ERROR: 4");
    SerialChecker checker(nullptr, &log);
    QCOMPARE(checker.sendCommand(port, "ATI\r", 10000, 10000), int(SerialChecker::CmeError));
    checker.logExchange();

    QFile file(name);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    QCOMPARE(text.contains(" -  - SEND: ATI\n"), sendLine);
    QCOMPARE(text.contains("+CME ERROR: 4"), answerLine);
    QVERIFY(!text.contains('\r'));
}

QTEST_GUILESS_MAIN(TestSerialChecker)
#include "tst_serialchecker.moc"
