// The AT command set run against simulated modems of different families:
// which numbers, index lists and PDUs come out of their answer styles.

#include "modem/mycomthread.h"
#include "modem/serialchecker.h"
#include "tools/modemsim/modemsim.h"

#include <QSerialPort>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

class TestComCommands : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void simNumber_data();
    void simNumber();
    void deviceNumber_data();
    void deviceNumber();
    void storeListing_data();
    void storeListing();
    void readMessage_data();
    void readMessage();

private:
    QTemporaryDir dir;
    ModemSim* sim = nullptr;
    QSerialPort* port = nullptr;
    MyComThread* thread = nullptr;
};

Q_DECLARE_METATYPE(ModemSim::IccidStyle)
Q_DECLARE_METATYPE(ModemSim::IndexListStyle)
Q_DECLARE_METATYPE(ModemSim::EmptySlotStyle)

namespace {
const QByteArray pduA = "0891683108200105F0040D91683118541397F800001270407132052304F4F29C0E";
const QByteArray pduB = "0011000B916407281553F80000AA0AE8329BFD4697D9EC37";
const QString iccid = QStringLiteral("89860012345678901234");
} // namespace

void TestComCommands::init()
{
    comRunState.store(1);
    sim = new ModemSim(dir.filePath(QStringLiteral("modem")));
    QVERIFY(sim->start());
    sim->setEcho(false);
    port = new QSerialPort;
    port->setPortName(sim->portPath());
    QVERIFY(port->open(QIODevice::ReadWrite));
    thread = new MyComThread;
}

void TestComCommands::cleanup()
{
    delete thread;
    delete port;
    delete sim;
    thread = nullptr;
    port = nullptr;
    sim = nullptr;
}

void TestComCommands::simNumber_data()
{
    QTest::addColumn<ModemSim::IccidStyle>("style");
    QTest::addColumn<QString>("number");
    QTest::addColumn<QStringList>("known");
    QTest::addColumn<bool>("echo");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("answeredBy");

    const QStringList all;
    QTest::newRow("+CCID:") << ModemSim::IccidStyle::PlusCcid << iccid << all << false << iccid << "AT+CCID";
    QTest::newRow("bare number") << ModemSim::IccidStyle::Bare << iccid << all << false << iccid << "AT+CCID";
    QTest::newRow("bare, echo on") << ModemSim::IccidStyle::Bare << iccid << all << true << iccid
                                   << "AT+CCID";
    QTest::newRow("bare, upper-case F pad")
        << ModemSim::IccidStyle::Bare << "8986001234567890123F" << all << false << "8986001234567890123F"
        << "AT+CCID";
    QTest::newRow("bare, lower-case f pad")
        << ModemSim::IccidStyle::Bare << "8986001234567890123f" << all << false << "8986001234567890123f"
        << "AT+CCID";
    QTest::newRow("quoted, quotes stay")
        << ModemSim::IccidStyle::Quoted << iccid << all << false << "\"" + iccid + "\""
        << "AT+CCID";
    QTest::newRow("^ICCID: only form four known")
        << ModemSim::IccidStyle::CaretIccid << iccid << QStringList{QStringLiteral("AT^ICCID?")} << false
        << iccid << "AT^ICCID?";
    QTest::newRow("+ICCID: only the last form known")
        << ModemSim::IccidStyle::PlusIccid << iccid << QStringList{QStringLiteral("AT+CICCID")} << true
        << iccid << "AT+CICCID";
}

void TestComCommands::simNumber()
{
    QFETCH(ModemSim::IccidStyle, style);
    QFETCH(QString, number);
    QFETCH(QStringList, known);
    QFETCH(bool, echo);
    QFETCH(QString, expected);
    QFETCH(QString, answeredBy);
    sim->setIccidStyle(style);
    sim->setIccid(number);
    sim->setEcho(echo);
    if (!known.isEmpty()) {
        sim->setIccidCommands(known);
    }
    QVERIFY(thread->readSimNo(port));
    QCOMPARE(thread->simNo(), expected);
    QCOMPARE(sim->commandLog().constLast(), answeredBy);
}

void TestComCommands::deviceNumber_data()
{
    QTest::addColumn<bool>("viaWmsn");
    QTest::addColumn<bool>("echo");
    QTest::addColumn<QByteArray>("unsolicited");
    QTest::addColumn<QString>("answeredBy");

    QTest::newRow("AT+CGSN") << false << false << QByteArray() << "AT+CGSN";
    QTest::newRow("AT+CGSN, echo on") << false << true << QByteArray() << "AT+CGSN";
    QTest::newRow("AT+WMSN after AT+CGSN failed") << true << false << QByteArray() << "AT+WMSN";
    QTest::newRow("registration report inside the answer")
        << false << false << QByteArray("+CREG: 1") << "AT+CGSN";
}

void TestComCommands::deviceNumber()
{
    QFETCH(bool, viaWmsn);
    QFETCH(bool, echo);
    QFETCH(QByteArray, unsolicited);
    QFETCH(QString, answeredBy);
    sim->setImeiViaWmsn(viaWmsn);
    sim->setEcho(echo);
    sim->setUnsolicitedInAnswer(unsolicited);
    sim->setImei(QStringLiteral("861234567890123"));
    QVERIFY(thread->readDeviceNo(port));
    QCOMPARE(thread->deviceNo(), QStringLiteral("861234567890123"));
    QCOMPARE(sim->commandLog().constLast(), answeredBy);
}

void TestComCommands::storeListing_data()
{
    QTest::addColumn<ModemSim::IndexListStyle>("style");
    QTest::addColumn<int>("base");
    QTest::addColumn<QByteArray>("errorText");
    QTest::addColumn<QStringList>("indexes");
    QTest::addColumn<bool>("listed");

    QTest::newRow("list of used indexes")
        << ModemSim::IndexListStyle::UsedList << 1 << QByteArray() << QStringList{"1", "2", "3"} << false;
    QTest::newRow("0-based list") << ModemSim::IndexListStyle::UsedList << 0 << QByteArray()
                                  << QStringList{"0", "1", "2"} << false;
    QTest::newRow("range: the listing is asked")
        << ModemSim::IndexListStyle::Range << 1 << QByteArray() << QStringList{"1", "2", "3"} << true;
    QTest::newRow("range, 0-based") << ModemSim::IndexListStyle::Range << 0 << QByteArray()
                                    << QStringList{"0", "1", "2"} << true;
    QTest::newRow("empty list") << ModemSim::IndexListStyle::EmptyList << 1 << QByteArray() << QStringList()
                                << false;
    QTest::newRow("range, COMMAND NOT SUPPORT modem")
        << ModemSim::IndexListStyle::Range << 1 << QByteArray("COMMAND NOT SUPPORT")
        << QStringList{"1", "2", "3"} << true;
}

void TestComCommands::storeListing()
{
    QFETCH(ModemSim::IndexListStyle, style);
    QFETCH(int, base);
    QFETCH(QByteArray, errorText);
    QFETCH(QStringList, indexes);
    QFETCH(bool, listed);
    sim->setIndexListStyle(style);
    sim->setIndexBase(base);
    if (!errorText.isEmpty()) {
        sim->setErrorText(errorText);
    }
    for (int i = 0; i < 3; ++i) {
        sim->addMessage(pduA, false);
    }
    QStringList got{QStringLiteral("stale")};
    QVERIFY(thread->atListIndexes(port, got));
    QCOMPARE(got, indexes);
    QCOMPARE(sim->commandCount(QStringLiteral("AT+CMGL=4")), listed ? 1 : 0);
}

void TestComCommands::readMessage_data()
{
    QTest::addColumn<ModemSim::EmptySlotStyle>("emptyStyle");
    QTest::addColumn<QByteArray>("unsolicited");
    QTest::addColumn<bool>("echo");
    QTest::addColumn<QByteArray>("noise");

    const QByteArray none;
    QTest::newRow("empty slot: bare OK") << ModemSim::EmptySlotStyle::BareOk << none << false << none;
    QTest::newRow("empty slot: +CMGR: 0,,0") << ModemSim::EmptySlotStyle::ZeroHeader << none << false << none;
    QTest::newRow("empty slot: +CMS ERROR: 321")
        << ModemSim::EmptySlotStyle::CmsError << none << true << none;
    QTest::newRow("new-message line inside answers")
        << ModemSim::EmptySlotStyle::BareOk << QByteArray("+CMTI: \"SM\",7") << false << none;
    QTest::newRow("signal report inside answers")
        << ModemSim::EmptySlotStyle::ZeroHeader << QByteArray("^RSSI:17") << true << none;
    QTest::newRow("+CPIN: NOT READY inside answers")
        << ModemSim::EmptySlotStyle::BareOk << QByteArray("+CPIN: NOT READY") << false << none;
    QTest::newRow("NUL and high bytes in answers")
        << ModemSim::EmptySlotStyle::CmsError << none << true << QByteArray("\0\xff", 2);
}

void TestComCommands::readMessage()
{
    QFETCH(ModemSim::EmptySlotStyle, emptyStyle);
    QFETCH(QByteArray, unsolicited);
    QFETCH(bool, echo);
    QFETCH(QByteArray, noise);
    sim->setEmptySlotStyle(emptyStyle);
    sim->setNoise(noise);
    sim->setUnsolicitedInAnswer(unsolicited);
    sim->setEcho(echo);
    sim->addMessage(pduA, false);
    sim->addMessage(pduB, false);
    QSignalSpy spy(thread, &MyComThread::threadOkMsg);
    QVERIFY(spy.isValid());

    QCOMPARE(thread->atReadMessage(port, QStringLiteral("2")), MyComThread::ReadResult::Message);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toInt(), 6);
    QCOMPARE(spy.at(0).at(1).toByteArray(), pduB);

    QCOMPARE(thread->atReadMessage(port, QStringLiteral("9")), MyComThread::ReadResult::Empty);
    QCOMPARE(spy.count(), 1);

    QCOMPARE(thread->atDeleteMessage(port, QStringLiteral("2")), int(SerialChecker::Ok));
    QCOMPARE(sim->storedIndexes(), QList<int>{1});
}

QTEST_GUILESS_MAIN(TestComCommands)
#include "tst_comcommands.moc"
