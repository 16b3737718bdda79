// The completion test of an exchange and the rules that read numbers, index
// lists and PDUs out of modem answers, as tables of answers real modems give.

#include "modem/mycomthread.h"
#include "modem/serialchecker.h"

#include <QtTest>

class TestModemParse : public QObject
{
    Q_OBJECT
private slots:
    void checkAnswer_data();
    void checkAnswer();
    void deviceNo_data();
    void deviceNo();
    void simNo_data();
    void simNo();
    void indexList_data();
    void indexList();
    void listing_data();
    void listing();
    void readPdu_data();
    void readPdu();
};

namespace {
const QStringList okList{QStringLiteral("OK\r")};
const QStringList errList{QStringLiteral("ERROR"), QStringLiteral("NOT")};
const QString pdu = QStringLiteral("0891683108200105F0040D91683118541397F800001270407132052304F4F29C0E");
} // namespace

void TestModemParse::checkAnswer_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QStringList>("ok");
    QTest::addColumn<QStringList>("err");
    QTest::addColumn<int>("code");

    QTest::newRow("OK in one burst") << QByteArray("\r\nOK\r\n") << okList << errList << 100;
    QTest::newRow("nothing yet") << QByteArray() << okList << errList << 0;
    QTest::newRow("echo only") << QByteArray("AT\r") << okList << errList << 0;
    QTest::newRow("OK without CR") << QByteArray("\nOK\n") << okList << errList << 0;
    QTest::newRow("+CME ERROR") << QByteArray("\r\n+CME ERROR: 10\r\n") << okList << errList << 200;
    QTest::newRow("SIM NOT READY") << QByteArray("\r\nSIM NOT READY\r\n") << okList << errList << 201;
    QTest::newRow("COMMAND NOT SUPPORT")
        << QByteArray("\r\nCOMMAND NOT SUPPORT\r\n") << okList << errList << 201;
    QTest::newRow("OK wins over ERROR") << QByteArray("\r\nERROR\r\nOK\r\n") << okList << errList << 100;
    QTest::newRow("NOT inside a number line")
        << QByteArray("\r\n+CLIP: NOTE\r\n") << okList << errList << 201;
    QTest::newRow("both lists empty") << QByteArray() << QStringList() << QStringList() << 1;
    QTest::newRow("second OK pattern")
        << QByteArray("\r\nREADY\r\n") << QStringList{QStringLiteral("OK\r"), QStringLiteral("READY")}
        << errList << 101;
    QTest::newRow("lower-case ok") << QByteArray("\r\nok\r\n") << okList << errList << 0;
}

void TestModemParse::checkAnswer()
{
    QFETCH(QByteArray, answer);
    QFETCH(QStringList, ok);
    QFETCH(QStringList, err);
    QFETCH(int, code);
    QCOMPARE(SerialChecker::checkAnswer(answer, ok, err), code);
}

void TestModemParse::deviceNo_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("number");

    QTest::newRow("blank, number, blank, OK") << "\r\n861234567890123\r\n\r\nOK\r\n"
                                              << "861234567890123";
    QTest::newRow("echo before the number") << "AT+CGSN\r\r\n861234567890123\r\n\r\nOK\r\n"
                                            << "861234567890123";
    QTest::newRow("OK alone") << "\r\nOK\r\n" << QString();
    QTest::newRow("OK at the start") << "OK\r\n861234567890123\r\n" << QString();
    QTest::newRow("no OK") << "\r\n861234567890123\r\n" << QString();
    QTest::newRow("registration report inside") << "\r\n861234567890123\r\n+CREG: 1\r\n\r\nOK\r\n"
                                                << "861234567890123";
    QTest::newRow("RING before the number") << "\r\nRING\r\n\r\n861234567890123\r\n\r\nOK\r\n"
                                            << "861234567890123";
}

void TestModemParse::deviceNo()
{
    QFETCH(QString, answer);
    QFETCH(QString, number);
    QCOMPARE(MyComThread::parseDeviceNo(answer), number);
}

void TestModemParse::simNo_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("number");

    QTest::newRow("+CCID: number") << "\r\n+CCID: 89860012345678901234\r\n\r\nOK\r\n"
                                   << "89860012345678901234";
    QTest::newRow("+CCID: quoted, quotes stay") << "\r\n+CCID: \"89860012345678901234\"\r\n\r\nOK\r\n"
                                                << "\"89860012345678901234\"";
    QTest::newRow("^ICCID: with F pad") << "\r\n^ICCID: 8986001234567890123F\r\n\r\nOK\r\n"
                                        << "8986001234567890123F";
    QTest::newRow("two colons keep the last part") << "\r\n+ICCID: ICCID: 89860012345678901234\r\n\r\nOK\r\n"
                                                   << "89860012345678901234";
    QTest::newRow("bare number") << "\r\n89860012345678901234\r\n\r\nOK\r\n"
                                 << "89860012345678901234";
    QTest::newRow("bare with lower-case pad") << "\r\n8986001234567890123f\r\n\r\nOK\r\n"
                                              << "8986001234567890123f";
    QTest::newRow("bare after echo") << "AT+CCID\r\r\n89860012345678901234\r\n\r\nOK\r\n"
                                     << "89860012345678901234";
    QTest::newRow("echo and OK only") << "AT+CCID\r\r\nOK\r\n" << QString();
    QTest::newRow("OK only") << "\r\nOK\r\n" << QString();
    QTest::newRow("colon with nothing after it") << "\r\n+CCID:\r\n\r\nOK\r\n" << QString();
    QTest::newRow("no OK") << "\r\n+CCID: 89860012345678901234\r\n" << QString();
    QTest::newRow("new-message line inside")
        << "\r\n+CCID: 89860012345678901234\r\n+CMTI: \"SM\",3\r\n\r\nOK\r\n"
        << "89860012345678901234";
    QTest::newRow("new-message line before a bare number")
        << "\r\n+CMTI: \"SM\",3\r\n89860012345678901234\r\n\r\nOK\r\n"
        << "89860012345678901234";
}

void TestModemParse::simNo()
{
    QFETCH(QString, answer);
    QFETCH(QString, number);
    QCOMPARE(MyComThread::parseSimNo(answer), number);
}

void TestModemParse::indexList_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QStringList>("indexes");
    QTest::addColumn<bool>("range");

    QTest::newRow("used list") << "\r\n+CMGD: (1,2,5),(0-4)\r\n\r\nOK\r\n"
                               << QStringList{"1", "2", "5"} << false;
    QTest::newRow("0-based list") << "\r\n+CMGD: (0,3),(0-4)\r\n\r\nOK\r\n" << QStringList{"0", "3"} << false;
    QTest::newRow("empty list") << "\r\n+CMGD: (),(0-4)\r\n\r\nOK\r\n" << QStringList() << false;
    QTest::newRow("range") << "\r\n+CMGD: (1-50),(0-4)\r\n\r\nOK\r\n" << QStringList() << true;
    QTest::newRow("spaces and an empty part") << "\r\n+CMGD: ( 1, ,7 ),(0-4)\r\n\r\nOK\r\n"
                                              << QStringList{"1", "7"} << false;
    QTest::newRow("no second group") << "\r\n+CMGD: (1,2)\r\n\r\nOK\r\n" << QStringList() << false;
    QTest::newRow("no list at all") << "\r\nOK\r\n" << QStringList() << false;
}

void TestModemParse::indexList()
{
    QFETCH(QString, answer);
    QFETCH(QStringList, indexes);
    QFETCH(bool, range);
    bool isRange = !range;
    QCOMPARE(MyComThread::parseIndexList(answer, &isRange), indexes);
    QCOMPARE(isRange, range);
}

void TestModemParse::listing_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QStringList>("indexes");

    QTest::newRow("two messages") << "\r\n+CMGL: 1,1,,23\r\n" + pdu + "\r\n+CMGL: 4,0,,23\r\n" + pdu +
                                         "\r\n\r\nOK\r\n"
                                  << QStringList{"1", "4"};
    QTest::newRow("0-based") << "\r\n+CMGL: 0,1,,23\r\n" + pdu + "\r\n\r\nOK\r\n" << QStringList{"0"};
    QTest::newRow("empty store") << "\r\nOK\r\n" << QStringList();
    QTest::newRow("echo and a new-message line")
        << "AT+CMGL=4\r\r\n+CMTI: \"SM\",9\r\n+CMGL: 2,1,,23\r\n" + pdu + "\r\n\r\nOK\r\n"
        << QStringList{"2"};
}

void TestModemParse::listing()
{
    QFETCH(QString, answer);
    QFETCH(QStringList, indexes);
    QCOMPARE(MyComThread::parseListing(answer), indexes);
}

void TestModemParse::readPdu_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("result");

    QTest::newRow("status line, PDU, OK") << "\r\n+CMGR: 0,,23\r\n" + pdu + "\r\n\r\nOK\r\n" << pdu;
    QTest::newRow("with echo") << "AT+CMGR=3\r\r\n+CMGR: 1,,23\r\n" + pdu + "\r\n\r\nOK\r\n" << pdu;
    QTest::newRow("empty slot, bare OK") << "\r\nOK\r\n" << QString();
    QTest::newRow("empty slot, zero header") << "\r\n+CMGR: 0,,0\r\n\r\nOK\r\n" << QString();
    QTest::newRow("new-message line before")
        << "\r\n+CMTI: \"SM\",4\r\n+CMGR: 0,,23\r\n" + pdu + "\r\n\r\nOK\r\n"
        << pdu;
    QTest::newRow("new-message line after the PDU")
        << "\r\n+CMGR: 0,,23\r\n" + pdu + "\r\n+CMTI: \"SM\",4\r\n\r\nOK\r\n"
        << pdu;
    QTest::newRow("signal report after the PDU")
        << "\r\n+CMGR: 0,,23\r\n" + pdu + "\r\n^RSSI:12\r\n\r\nOK\r\n"
        << pdu;
    QTest::newRow("no OK") << "\r\n+CMGR: 0,,23\r\n" + pdu + "\r\n" << QString();
}

void TestModemParse::readPdu()
{
    QFETCH(QString, answer);
    QFETCH(QString, result);
    QCOMPARE(MyComThread::parseReadPdu(answer), result);
}

QTEST_GUILESS_MAIN(TestModemParse)
#include "tst_modemparse.moc"
