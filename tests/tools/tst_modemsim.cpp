// The modem simulator, spoken to through QSerialPort exactly as the program
// speaks to a real modem.

#include "tools/modemsim/modembank.h"
#include "tools/modemsim/modemsim.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QByteArray pduA = "07919761989901F0040B919701119905F80000211062917314800BC8329BFD06DDDF723619";
const QByteArray pduB = "0791448720003023240DD0E474D81C0EBB010000111011315214000BE474D81C0EBB5DE3771B";

// A port opened with the line settings the program uses.
bool openPort(QSerialPort& port, const QString& path,
              QSerialPort::FlowControl flow = QSerialPort::NoFlowControl, qint32 baud = 115200)
{
    port.setPortName(path);
    port.setBaudRate(baud, QSerialPort::AllDirections);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(flow);
    return port.open(QIODevice::ReadWrite);
}

// Reads until the answer holds one of the final result codes, or the time is up.
QByteArray collect(QSerialPort& port, int timeoutMs = 2000)
{
    QByteArray answer = port.readAll();
    QElapsedTimer t;
    t.start();
    static const QList<QByteArray> finals = {"OK\r\n", "ERROR\r\n", "ERROR: ", "NOT SUPPORT\r\n"};
    auto complete = [&] {
        for (const QByteArray& f : finals) {
            if (answer.contains(f) && answer.endsWith("\r\n"))
                return true;
        }
        return false;
    };
    while (!complete() && t.elapsed() < timeoutMs) {
        if (port.waitForReadyRead(50))
            answer += port.readAll();
    }
    return answer;
}

QByteArray exchange(QSerialPort& port, const QByteArray& command, int timeoutMs = 2000)
{
    port.readAll();
    port.write(command + '\r');
    port.waitForBytesWritten(1000);
    return collect(port, timeoutMs);
}

// Everything that arrives within the given time.
QByteArray listen(QSerialPort& port, int ms)
{
    QByteArray got = port.readAll();
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        if (port.waitForReadyRead(20))
            got += port.readAll();
    }
    return got;
}

} // namespace

class TestModemSim : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void portOpensLikeASerialPort_data();
    void portOpensLikeASerialPort();
    void dialogue_data();
    void dialogue();
    void answerStyles_data();
    void answerStyles();
    void storeKeepsIndexes();
    void deleteFlags();
    void fullStoreRefuses();
    void newMessageAnnounced();
    void unsolicitedLines();
    void faultsOnCommands_data();
    void faultsOnCommands();
    void splitAndDelayedAnswers();
    void silenceAndGarbage();
    void closedMidAnswerLosesTheRest();
    void vanishesAndComesBack();
    void vanishesMidAnswer();
    void bankServesManyModems();
    void commandDeliversFromInput();
    void commandTakesStandardInput();

private:
    QTemporaryDir dir;
    std::unique_ptr<ModemSim> sim;
    QString link;
};

void TestModemSim::init()
{
    QVERIFY(dir.isValid());
    link = dir.filePath(QStringLiteral("modem1"));
    sim.reset(new ModemSim(link));
    QString error;
    QVERIFY2(sim->start(&error), qPrintable(error));
}

void TestModemSim::cleanup()
{
    sim.reset();
    QVERIFY(!QFileInfo::exists(link));
}

void TestModemSim::portOpensLikeASerialPort_data()
{
    QTest::addColumn<bool>("viaLink");
    QTest::addColumn<int>("flow");
    QTest::addColumn<int>("baud");
    QTest::newRow("link, no flow control, 115200") << true << int(QSerialPort::NoFlowControl) << 115200;
    QTest::newRow("link, RTS/CTS, 9600") << true << int(QSerialPort::HardwareControl) << 9600;
    QTest::newRow("device, RTS/CTS, 115200") << false << int(QSerialPort::HardwareControl) << 115200;
}

void TestModemSim::portOpensLikeASerialPort()
{
    QFETCH(bool, viaLink);
    QFETCH(int, flow);
    QFETCH(int, baud);
    const QString path = viaLink ? sim->portPath() : sim->devicePath();
    QVERIFY(sim->devicePath().startsWith(QLatin1String("/dev/pts/")));
    QCOMPARE(sim->portPath(), link);
    // Opened, closed and opened again, as the trial open and the worker do.
    for (int round = 0; round < 3; ++round) {
        QSerialPort port;
        QVERIFY2(openPort(port, path, QSerialPort::FlowControl(flow), baud), qPrintable(port.errorString()));
        QCOMPARE(exchange(port, "AT"), QByteArray("AT\r\r\nOK\r\n"));
        port.close();
    }
}

void TestModemSim::dialogue_data()
{
    QTest::addColumn<bool>("echo");
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("answer");
    QTest::newRow("handshake with echo") << true << QByteArray("AT") << QByteArray("AT\r\r\nOK\r\n");
    QTest::newRow("handshake without echo") << false << QByteArray("AT") << QByteArray("\r\nOK\r\n");
    QTest::newRow("echo switched off") << true << QByteArray("ATE0") << QByteArray("ATE0\r\r\nOK\r\n");
    QTest::newRow("IMEI") << false << QByteArray("AT+CGSN")
                          << QByteArray("\r\n861234567890123\r\n\r\nOK\r\n");
    QTest::newRow("IMEI, second form unknown")
        << false << QByteArray("AT+WMSN") << QByteArray("\r\nERROR\r\n");
    QTest::newRow("extended errors") << false << QByteArray("AT+CMEE=1") << QByteArray("\r\nOK\r\n");
    QTest::newRow("registration") << false << QByteArray("AT+CREG=1") << QByteArray("\r\nOK\r\n");
    QTest::newRow("caller id") << false << QByteArray("AT+CLIP=1") << QByteArray("\r\nOK\r\n");
    QTest::newRow("message service") << false << QByteArray("AT+CSMS=1")
                                     << QByteArray("\r\n+CSMS: 1,1,1\r\n\r\nOK\r\n");
    QTest::newRow("indications") << false << QByteArray("AT+CNMI=1,1,0,1,1") << QByteArray("\r\nOK\r\n");
    QTest::newRow("message store") << false << QByteArray("AT+CPMS=\"SM\",\"SM\",\"SM\"")
                                   << QByteArray("\r\n+CPMS: 0,50,0,50,0,50\r\n\r\nOK\r\n");
    QTest::newRow("PDU mode") << false << QByteArray("AT+CMGF=0") << QByteArray("\r\nOK\r\n");
    QTest::newRow("radio on") << false << QByteArray("AT+CFUN=1,0") << QByteArray("\r\nOK\r\n");
    QTest::newRow("radio off") << false << QByteArray("AT+CFUN=0,0") << QByteArray("\r\nOK\r\n");
    QTest::newRow("delete all") << false << QByteArray("AT+CMGD=1,4") << QByteArray("\r\nOK\r\n");
    QTest::newRow("unknown command") << false << QByteArray("AT+XYZ") << QByteArray("\r\nERROR\r\n");
    QTest::newRow("lower case") << false << QByteArray("at+cgsn")
                                << QByteArray("\r\n861234567890123\r\n\r\nOK\r\n");
}

void TestModemSim::dialogue()
{
    QFETCH(bool, echo);
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, answer);
    sim->setEcho(echo);
    QSerialPort port;
    QVERIFY(openPort(port, sim->portPath()));
    QCOMPARE(exchange(port, command), answer);
    QCOMPARE(sim->commandLog(), QStringList(QString::fromLatin1(command)));
}

void TestModemSim::answerStyles_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("answer");
    const QByteArray id = "8986001234567890123F";
    QTest::newRow("ICCID after +CCID:")
        << "ccid" << QByteArray("AT+CCID") << "\r\n+CCID: " + id + "\r\n\r\nOK\r\n";
    QTest::newRow("ICCID bare, upper F") << "bare" << QByteArray("AT+CCID") << "\r\n" + id + "\r\n\r\nOK\r\n";
    QTest::newRow("ICCID bare, lower f")
        << "bare-lower" << QByteArray("AT+CCID") << QByteArray("\r\n8986001234567890123f\r\n\r\nOK\r\n");
    QTest::newRow("ICCID after ^ICCID:")
        << "caret" << QByteArray("AT^ICCID?") << "\r\n^ICCID: " + id + "\r\n\r\nOK\r\n";
    QTest::newRow("ICCID quoted") << "quoted" << QByteArray("AT+CCID")
                                  << "\r\n+CCID: \"" + id + "\"\r\n\r\nOK\r\n";
    QTest::newRow("ICCID command the modem lacks")
        << "caret" << QByteArray("AT+CCID") << QByteArray("\r\nERROR\r\n");
    QTest::newRow("no SIM, numeric errors")
        << "nosim" << QByteArray("AT+CCID") << QByteArray("\r\n+CME ERROR: 10\r\n");
    QTest::newRow("no SIM, store") << "nosim" << QByteArray("AT+CMGD=?")
                                   << QByteArray("\r\n+CMS ERROR: 310\r\n");
    QTest::newRow("IMEI only by AT+WMSN")
        << "wmsn" << QByteArray("AT+WMSN") << QByteArray("\r\n861234567890123\r\n\r\nOK\r\n");
    QTest::newRow("AT+CGSN refused by that modem")
        << "wmsn" << QByteArray("AT+CGSN") << QByteArray("\r\nERROR\r\n");
    QTest::newRow("list of used indexes")
        << "" << QByteArray("AT+CMGD=?") << QByteArray("\r\n+CMGD: (1,2),(0-4)\r\n\r\nOK\r\n");
    QTest::newRow("list always empty")
        << "emptylist" << QByteArray("AT+CMGD=?") << QByteArray("\r\n+CMGD: (),(0-4)\r\n\r\nOK\r\n");
    QTest::newRow("range instead of list")
        << "range" << QByteArray("AT+CMGD=?") << QByteArray("\r\n+CMGD: (1-50),(0-4)\r\n\r\nOK\r\n");
    QTest::newRow("0-based list") << "base0" << QByteArray("AT+CMGD=?")
                                  << QByteArray("\r\n+CMGD: (0,1),(0-4)\r\n\r\nOK\r\n");
    QTest::newRow("0-based range") << "base0,range" << QByteArray("AT+CMGD=?")
                                   << QByteArray("\r\n+CMGD: (0-49),(0-4)\r\n\r\nOK\r\n");
    QTest::newRow("read with status line")
        << "" << QByteArray("AT+CMGR=2") << "\r\n+CMGR: 0,,30\r\n" + pduB + "\r\n\r\nOK\r\n";
    QTest::newRow("0-based read") << "base0" << QByteArray("AT+CMGR=0")
                                  << "\r\n+CMGR: 0,,29\r\n" + pduA + "\r\n\r\nOK\r\n";
    QTest::newRow("empty slot, bare OK") << "" << QByteArray("AT+CMGR=3") << QByteArray("\r\nOK\r\n");
    QTest::newRow("empty slot, zero header")
        << "zero" << QByteArray("AT+CMGR=3") << QByteArray("\r\n+CMGR: 0,,0\r\n\r\nOK\r\n");
    QTest::newRow("empty slot, CMS error")
        << "cms" << QByteArray("AT+CMGR=3") << QByteArray("\r\n+CMS ERROR: 321\r\n");
    QTest::newRow("index outside the store")
        << "" << QByteArray("AT+CMGR=51") << QByteArray("\r\n+CMS ERROR: 321\r\n");
    QTest::newRow("COMMAND NOT SUPPORT")
        << "notsupport" << QByteArray("AT+XYZ") << QByteArray("\r\nCOMMAND NOT SUPPORT\r\n");
    QTest::newRow("list of all messages")
        << "" << QByteArray("AT+CMGL=4")
        << "\r\n+CMGL: 1,0,,29\r\n" + pduA + "\r\n+CMGL: 2,0,,30\r\n" + pduB + "\r\n\r\nOK\r\n";
}

void TestModemSim::answerStyles()
{
    QFETCH(QString, setup);
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, answer);
    const QStringList opts = setup.split(QLatin1Char(','));
    sim->setEcho(false);
    sim->setIccid(QStringLiteral("8986001234567890123F"));
    if (opts.contains(QLatin1String("ccid")))
        sim->setIccidStyle(ModemSim::IccidStyle::PlusCcid);
    if (opts.contains(QLatin1String("bare")))
        sim->setIccidStyle(ModemSim::IccidStyle::Bare);
    if (opts.contains(QLatin1String("bare-lower"))) {
        sim->setIccidStyle(ModemSim::IccidStyle::Bare);
        sim->setIccid(QStringLiteral("8986001234567890123f"));
    }
    if (opts.contains(QLatin1String("caret"))) {
        sim->setIccidStyle(ModemSim::IccidStyle::CaretIccid);
        sim->setIccidCommands({QStringLiteral("AT^ICCID?")});
    }
    if (opts.contains(QLatin1String("quoted")))
        sim->setIccidStyle(ModemSim::IccidStyle::Quoted);
    if (opts.contains(QLatin1String("nosim")))
        sim->setSimPresent(false);
    if (opts.contains(QLatin1String("wmsn")))
        sim->setImeiViaWmsn(true);
    if (opts.contains(QLatin1String("emptylist")))
        sim->setIndexListStyle(ModemSim::IndexListStyle::EmptyList);
    if (opts.contains(QLatin1String("range")))
        sim->setIndexListStyle(ModemSim::IndexListStyle::Range);
    if (opts.contains(QLatin1String("base0")))
        sim->setIndexBase(0);
    if (opts.contains(QLatin1String("zero")))
        sim->setEmptySlotStyle(ModemSim::EmptySlotStyle::ZeroHeader);
    if (opts.contains(QLatin1String("cms")))
        sim->setEmptySlotStyle(ModemSim::EmptySlotStyle::CmsError);
    if (opts.contains(QLatin1String("notsupport")))
        sim->setErrorText("COMMAND NOT SUPPORT");
    sim->addMessage(pduA, false);
    sim->addMessage(pduB, false);

    QSerialPort port;
    QVERIFY(openPort(port, sim->portPath()));
    if (opts.contains(QLatin1String("nosim")))
        QCOMPARE(exchange(port, "AT+CMEE=1"), QByteArray("\r\nOK\r\n"));
    QCOMPARE(exchange(port, command), answer);
}

void TestModemSim::storeKeepsIndexes()
{
    sim->setEcho(false);
    QCOMPARE(sim->addMessage(pduA, false), 1);
    QCOMPARE(sim->addMessage(pduB, false), 2);
    QCOMPARE(sim->addMessage(pduA, false), 3);
    QSignalSpy deleted(sim.get(), &ModemSim::messageDeleted);
    QVERIFY(deleted.isValid());
    QSerialPort port;
    QVERIFY(openPort(port, sim->portPath()));
    QCOMPARE(exchange(port, "AT+CMGD=2"), QByteArray("\r\nOK\r\n"));
    QCOMPARE(sim->storedIndexes(), QList<int>({1, 3}));
    // The lowest free index is taken again.
    QCOMPARE(sim->addMessage(pduB, false), 2);
    QCOMPARE(exchange(port, "AT+CMGD=?"), QByteArray("\r\n+CMGD: (1,2,3),(0-4)\r\n\r\nOK\r\n"));
    // A message once read reports status 1 (read) from then on.
    QVERIFY(exchange(port, "AT+CMGR=1").startsWith("\r\n+CMGR: 0,,"));
    QVERIFY(exchange(port, "AT+CMGR=1").startsWith("\r\n+CMGR: 1,,"));
    QCOMPARE(sim->messageAt(2), pduB);
    QCOMPARE(sim->messageAt(7), QByteArray());
    QCOMPARE(exchange(port, "AT+CMGD=1"), QByteArray("\r\nOK\r\n"));
    QTRY_COMPARE(deleted.count(), 2);
    QCOMPARE(deleted.at(0).at(0).toInt(), 2);
    QCOMPARE(deleted.at(0).at(1).toByteArray(), pduB);
    QCOMPARE(deleted.at(1).at(0).toInt(), 1);
    const QList<ModemSim::Record> history = sim->history();
    QCOMPARE(history.size(), 4);
    QCOMPARE(history.at(0).timesRead, 2);
    QVERIFY(history.at(0).deleted);
    QVERIFY(history.at(1).deleted);
    QCOMPARE(history.at(1).timesRead, 0);
    QVERIFY(!history.at(2).deleted);
    QCOMPARE(sim->commandCount(QStringLiteral("AT+CMGR=*")), 2);
}

void TestModemSim::deleteFlags()
{
    sim->setEcho(false);
    for (int i = 0; i < 4; ++i)
        sim->addMessage(i % 2 ? pduA : pduB, false);
    QSerialPort port;
    QVERIFY(openPort(port, sim->portPath()));
    exchange(port, "AT+CMGR=2");
    exchange(port, "AT+CMGR=4");
    // Flag 1 removes the messages already read and spares the unread ones.
    QCOMPARE(exchange(port, "AT+CMGD=1,1"), QByteArray("\r\nOK\r\n"));
    QCOMPARE(sim->storedIndexes(), QList<int>({1, 3}));
    QCOMPARE(exchange(port, "AT+CMGD=1,4"), QByteArray("\r\nOK\r\n"));
    QVERIFY(sim->storedIndexes().isEmpty());
}

void TestModemSim::fullStoreRefuses()
{
    sim->setCapacity(3);
    for (int i = 0; i < 3; ++i)
        QCOMPARE(sim->addMessage(pduA, false), i + 1);
    QCOMPARE(sim->addMessage(pduB, false), -1);
    QCOMPARE(sim->history().size(), 3);
}

void TestModemSim::newMessageAnnounced()
{
    QSerialPort port;
    QVERIFY(openPort(port, sim->portPath()));
    QCOMPARE(sim->addMessage(pduA), 1);
    QByteArray got;
    QTRY_VERIFY_WITH_TIMEOUT((got += listen(port, 20)).contains("\r\n+CMTI: \"SM\",1\r\n"), 2000);
    // Told not to announce, it stays quiet.
    QCOMPARE(exchange(port, "AT+CNMI=1,0,0,0,0"), QByteArray("AT+CNMI=1,0,0,0,0\r\r\nOK\r\n"));
    QCOMPARE(sim->addMessage(pduB), 2);
    QVERIFY(!listen(port, 300).contains("+CMTI"));
}

void TestModemSim::unsolicitedLines()
{
    sim->setEcho(false);
    QSerialPort port;
    QVERIFY(openPort(port, sim->portPath()));
    sim->setUnsolicited("+CREG: 1", 100);
    QByteArray got;
    QTRY_VERIFY_WITH_TIMEOUT((got += listen(port, 20)).contains("\r\n+CREG: 1\r\n"), 2000);
    sim->setUnsolicited(QByteArray(), 0);
    listen(port, 200);
    sim->setUnsolicitedInAnswer("^RSSI:12");
    sim->addMessage(pduA, false);
    QCOMPARE(exchange(port, "AT+CMGR=1"), "\r\n+CMGR: 0,,29\r\n" + pduA + "\r\n\r\n^RSSI:12\r\n\r\nOK\r\n");
}

void TestModemSim::faultsOnCommands_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<int>("times");
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<bool>("thenWhole");
    QTest::newRow("ERROR once") << int(ModemSim::Fault::Error) << 1 << QByteArray("\r\nERROR\r\n") << true;
    QTest::newRow("ERROR always") << int(ModemSim::Fault::Error) << -1 << QByteArray("\r\nERROR\r\n")
                                  << false;
    QTest::newRow("silence once") << int(ModemSim::Fault::Silence) << 1 << QByteArray() << true;
    QTest::newRow("read never completes")
        << int(ModemSim::Fault::Hang) << 1 << QByteArray("\r\n+CMGR: 0,,") << true;
}

void TestModemSim::faultsOnCommands()
{
    QFETCH(int, fault);
    QFETCH(int, times);
    QFETCH(QByteArray, first);
    QFETCH(bool, thenWhole);
    sim->setEcho(false);
    sim->addMessage(pduA, false);
    sim->setFault(QStringLiteral("AT+CMGR=*"), ModemSim::Fault(fault), times);
    QSerialPort port;
    QVERIFY(openPort(port, sim->portPath()));
    // Other commands are not touched.
    QCOMPARE(exchange(port, "AT"), QByteArray("\r\nOK\r\n"));
    const QByteArray got = exchange(port, "AT+CMGR=1", 400) + listen(port, 100);
    QVERIFY2(got.startsWith(first), got.constData());
    QVERIFY(!got.contains("OK\r"));
    if (!first.isEmpty() && fault == int(ModemSim::Fault::Error))
        QCOMPARE(got, first);
    const QByteArray next = exchange(port, "AT+CMGR=1", 400);
    if (thenWhole)
        QVERIFY2(next.endsWith(pduA + "\r\n\r\nOK\r\n"), next.constData());
    else
        QCOMPARE(next, first);
}

void TestModemSim::splitAndDelayedAnswers()
{
    sim->setEcho(true);
    sim->setSplit(3, 60);
    sim->setAnswerDelay(150);
    QSerialPort port;
    QVERIFY(openPort(port, sim->portPath()));
    port.write("AT+CGSN\r");
    QVERIFY(port.waitForBytesWritten(1000));
    QElapsedTimer t;
    t.start();
    QByteArray answer;
    int reads = 0;
    while (!answer.endsWith("OK\r\n") && t.elapsed() < 5000) {
        if (port.waitForReadyRead(50)) {
            answer += port.readAll();
            ++reads;
        }
    }
    QCOMPARE(answer, QByteArray("AT+CGSN\r\r\n861234567890123\r\n\r\nOK\r\n"));
    QVERIFY2(reads >= 5, qPrintable(QString::number(reads)));
    // 12 pieces, 11 pauses of 60 ms after a first silence of 150 ms.
    QVERIFY(t.elapsed() >= 150 + 11 * 60 - 50);
}

void TestModemSim::silenceAndGarbage()
{
    QSerialPort port;
    QVERIFY(openPort(port, sim->portPath()));
    sim->setSilent(true);
    QCOMPARE(exchange(port, "AT", 300), QByteArray());
    sim->setSilent(false);
    sim->setGarbage(true);
    const QByteArray junk = exchange(port, "AT", 300);
    QVERIFY(!junk.isEmpty());
    QVERIFY(!junk.contains("OK") && !junk.contains("ERROR") && !junk.contains("NOT"));
    sim->setGarbage(false);
    QCOMPARE(exchange(port, "AT"), QByteArray("AT\r\r\nOK\r\n"));
    QCOMPARE(sim->commandCount(QStringLiteral("AT")), 3);
}

void TestModemSim::closedMidAnswerLosesTheRest()
{
    sim->setSplit(4, 40);
    {
        QSerialPort port;
        QVERIFY(openPort(port, sim->portPath()));
        port.write("ATI\r");
        QVERIFY(port.waitForBytesWritten(1000));
        QVERIFY(port.waitForReadyRead(1000));
    }
    // What the modem was still saying went nowhere; the next caller starts clean.
    QSerialPort port;
    QVERIFY(openPort(port, sim->portPath()));
    sim->setSplit(0, 0);
    QCOMPARE(exchange(port, "AT"), QByteArray("AT\r\r\nOK\r\n"));
    QVERIFY(!listen(port, 200).contains("Revision"));
    QCOMPARE(sim->commandLog(), QStringList({QStringLiteral("ATI"), QStringLiteral("AT")}));
}

void TestModemSim::vanishesAndComesBack()
{
    sim->setEcho(false);
    sim->addMessage(pduA, false);
    QSignalSpy gone(sim.get(), &ModemSim::portVanished);
    QSignalSpy back(sim.get(), &ModemSim::portReappeared);
    QVERIFY(gone.isValid() && back.isValid());
    QSerialPort port;
    QVERIFY(openPort(port, sim->portPath()));
    const QString firstDevice = sim->devicePath();
    exchange(port, "ATE1");

    sim->vanish();
    QVERIFY(gone.wait(1000));
    QVERIFY(!sim->isPresent());
    QVERIFY(!QFileInfo::exists(link));
    port.write("AT\r");
    port.waitForBytesWritten(200);
    QVERIFY(!port.waitForReadyRead(300));
    port.close();
    QSerialPort again;
    QVERIFY(!openPort(again, link));

    sim->reappear();
    QVERIFY(back.count() == 1 || back.wait(1000));
    QVERIFY(sim->isPresent());
    QVERIFY(openPort(again, link));
    // A replugged modem starts with its power-on settings; the SIM keeps its messages.
    QCOMPARE(exchange(again, "AT+CMGD=?"), QByteArray("\r\n+CMGD: (1),(0-4)\r\n\r\nOK\r\n"));
    QVERIFY(!firstDevice.isEmpty());
}

void TestModemSim::vanishesMidAnswer()
{
    sim->setEcho(false);
    sim->addMessage(pduA, false);
    sim->setVanishTime(300);
    sim->setFault(QStringLiteral("AT+CMGR=1"), ModemSim::Fault::Vanish, 1);
    QSignalSpy back(sim.get(), &ModemSim::portReappeared);
    QVERIFY(back.isValid());
    QSerialPort port;
    QVERIFY(openPort(port, sim->portPath()));
    const QByteArray part = exchange(port, "AT+CMGR=1", 500);
    QVERIFY(part.startsWith("\r\n+CMGR: 0,,29"));
    QVERIFY(!part.contains("OK"));
    port.close();
    QVERIFY(back.wait(2000));
    QVERIFY(openPort(port, link));
    // The modem had taken the message as read; only the whole answer counts as read out.
    QCOMPARE(exchange(port, "AT+CMGR=1"), "\r\n+CMGR: 1,,29\r\n" + pduA + "\r\n\r\nOK\r\n");
    QCOMPARE(sim->history().first().timesRead, 1);
}

void TestModemSim::bankServesManyModems()
{
    ModemBank bank;
    QString error;
    QVERIFY2(bank.start(8, dir.filePath(QStringLiteral("bank")), &error), qPrintable(error));
    QCOMPARE(bank.count(), 8);
    QList<QSerialPort*> ports;
    for (int i = 0; i < bank.count(); ++i) {
        QCOMPARE(bank.portPaths().at(i), dir.filePath(QStringLiteral("bank/modem%1").arg(i + 1)));
        bank.modem(i)->setImei(QStringLiteral("35000000000000%1").arg(i));
        auto* port = new QSerialPort;
        QVERIFY(openPort(*port, bank.modem(i)->portPath()));
        ports.append(port);
    }
    for (int i = 0; i < ports.size(); ++i)
        QCOMPARE(exchange(*ports.at(i), "AT+CGSN"),
                 QStringLiteral("AT+CGSN\r\r\n35000000000000%1\r\n\r\nOK\r\n").arg(i).toLatin1());
    qDeleteAll(ports);
    bank.stop();
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("bank/modem1"))));
}

void TestModemSim::commandDeliversFromInput()
{
    const QString input = dir.filePath(QStringLiteral("input.txt"));
    QFile f(input);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("# two modems\n2 " + pduA + "\n\nwait 50\n* " + pduB + "\nbad " + pduB + "\n");
    f.close();

    QProcess proc;
    proc.setProcessChannelMode(QProcess::SeparateChannels);
    proc.start(QStringLiteral(MODEMSIM_COMMAND),
               {QStringLiteral("-n"), QStringLiteral("2"), QStringLiteral("-d"),
                dir.filePath(QStringLiteral("cmd")), QStringLiteral("-i"), input, QStringLiteral("--echo"),
                QStringLiteral("off"), QStringLiteral("--exit-when-done")});
    QVERIFY(proc.waitForStarted());
    QByteArray out;
    QTRY_VERIFY_WITH_TIMEOUT((out += proc.readAllStandardOutput()).contains("ready\n"), 5000);
    const QString link2 = dir.filePath(QStringLiteral("cmd/modem2"));
    QVERIFY2(out.startsWith("modem1 " + QFile::encodeName(dir.filePath(QStringLiteral("cmd/modem1"))) +
                            " /dev/pts/"),
             out.constData());
    QVERIFY(out.contains("\nmodem2 " + QFile::encodeName(link2) + " /dev/pts/"));
    QVERIFY(QFileInfo::exists(link2));
    QSerialPort port;
    QVERIFY(openPort(port, link2));
    QTRY_COMPARE_WITH_TIMEOUT(exchange(port, "AT+CMGD=?"), QByteArray("\r\n+CMGD: (1,2),(0-4)\r\n\r\nOK\r\n"),
                              3000);
    QCOMPARE(exchange(port, "AT+CMGR=1"), "\r\n+CMGR: 0,,29\r\n" + pduA + "\r\n\r\nOK\r\n");
    QCOMPARE(exchange(port, "AT+CMGD=1,4"), QByteArray("\r\nOK\r\n"));
    QSerialPort port1;
    QVERIFY(openPort(port1, dir.filePath(QStringLiteral("cmd/modem1"))));
    QCOMPARE(exchange(port1, "AT+CMGD=1"), QByteArray("\r\nOK\r\n"));
    // Both stores are empty and the input has ended: the command leaves.
    QVERIFY(proc.waitForFinished(5000));
    QCOMPARE(proc.exitCode(), 0);
    QVERIFY(proc.readAllStandardError().contains("no modem bad"));
    QVERIFY(!QFileInfo::exists(link2));
}

void TestModemSim::commandTakesStandardInput()
{
    QProcess proc;
    proc.start(QStringLiteral(MODEMSIM_COMMAND),
               {QStringLiteral("-d"), dir.filePath(QStringLiteral("stdin")), QStringLiteral("--echo"),
                QStringLiteral("off"), QStringLiteral("--index-base"), QStringLiteral("0"),
                QStringLiteral("--exit-when-done")});
    QVERIFY(proc.waitForStarted());
    QByteArray out;
    QTRY_VERIFY_WITH_TIMEOUT((out += proc.readAllStandardOutput()).contains("ready\n"), 5000);
    // A line that arrives in pieces, and a last line without its line feed.
    proc.write("1 " + pduA.left(10));
    QVERIFY(proc.waitForBytesWritten(1000));
    proc.write(pduA.mid(10) + "\n" + pduB);
    proc.closeWriteChannel();
    QTRY_VERIFY_WITH_TIMEOUT((out += proc.readAllStandardOutput()).contains("stored 1 1\n"), 5000);
    QVERIFY(out.contains("stored 1 0\n"));

    QSerialPort port;
    QVERIFY(openPort(port, dir.filePath(QStringLiteral("stdin/modem1"))));
    QCOMPARE(exchange(port, "AT+CMGR=0"), "\r\n+CMGR: 0,,29\r\n" + pduA + "\r\n\r\nOK\r\n");
    QCOMPARE(exchange(port, "AT+CMGR=1"), "\r\n+CMGR: 0,,30\r\n" + pduB + "\r\n\r\nOK\r\n");
    QCOMPARE(exchange(port, "AT+CMGD=0"), QByteArray("\r\nOK\r\n"));
    QCOMPARE(exchange(port, "AT+CMGD=1"), QByteArray("\r\nOK\r\n"));
    QVERIFY(proc.waitForFinished(5000));
    QCOMPARE(proc.exitCode(), 0);
    QVERIFY((out + proc.readAllStandardOutput()).contains("deleted 1 1\n"));
}

QTEST_GUILESS_MAIN(TestModemSim)
#include "tst_modemsim.moc"
