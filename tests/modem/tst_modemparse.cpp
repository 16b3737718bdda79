// The completion test of an exchange and the corners of the answer parse
// rules that the simulated modems do not produce (the common answer styles
// are run through a pseudo-terminal by the command tests).

#include "modem/mycomthread.h"
#include "modem/serialchecker.h"

#include <QtTest>

class TestModemParse : public QObject
{
    Q_OBJECT
private slots:
    void checkAnswer_data();
    void checkAnswer();
    void parseRules_data();
    void parseRules();
};

namespace {
enum class Rule
{
    DeviceNo,
    SimNo,
    IndexList,
    Listing,
    ReadPdu
};
const QString pdu = QStringLiteral("0891683108200105F0040D91683118541397F800001270407132052304F4F29C0E");
} // namespace
Q_DECLARE_METATYPE(Rule)

void TestModemParse::checkAnswer_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QStringList>("ok");
    QTest::addColumn<int>("code");

    const QStringList okList{QStringLiteral("OK\r")};
    QTest::newRow("OK in one burst") << QByteArray("\r\nOK\r\n") << okList << 100;
    QTest::newRow("nothing yet") << QByteArray() << okList << 0;
    QTest::newRow("echo only") << QByteArray("AT\r") << okList << 0;
    QTest::newRow("OK followed by LF alone") << QByteArray("\nOK\n") << okList << 0;
    QTest::newRow("+CME ERROR") << QByteArray("\r\n+CME ERROR: 10\r\n") << okList << 200;
    QTest::newRow("SIM NOT READY") << QByteArray("\r\nSIM NOT READY\r\n") << okList << 201;
    QTest::newRow("OK wins over ERROR") << QByteArray("\r\nERROR\r\nOK\r\n") << okList << 100;
    QTest::newRow("both lists empty") << QByteArray() << QStringList() << 1;
    QTest::newRow("second OK pattern")
        << QByteArray("\r\nREADY\r\n") << QStringList{QStringLiteral("OK\r"), QStringLiteral("READY")} << 101;
}

void TestModemParse::checkAnswer()
{
    QFETCH(QByteArray, answer);
    QFETCH(QStringList, ok);
    QFETCH(int, code);
    const QStringList err = ok.isEmpty() ? QStringList() : QStringList{"ERROR", "NOT"};
    QCOMPARE(SerialChecker::checkAnswer(answer, ok, err), code);
}

void TestModemParse::parseRules_data()
{
    QTest::addColumn<Rule>("rule");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("result");

    QTest::newRow("device: OK alone") << Rule::DeviceNo << "\r\nOK\r\n" << QString();
    QTest::newRow("device: OK first") << Rule::DeviceNo << "OK\r\n861234567890123\r\n" << QString();
    QTest::newRow("device: RING before") << Rule::DeviceNo << "\r\nRING\r\n\r\n861234567890123\r\n\r\nOK\r\n"
                                         << "861234567890123";
    QTest::newRow("SIM: two colons keep the last part")
        << Rule::SimNo << "\r\n+ICCID: ICCID: 89860012345678901234\r\n\r\nOK\r\n"
        << "89860012345678901234";
    QTest::newRow("SIM: colon with nothing after it") << Rule::SimNo << "\r\n+CCID:\r\n\r\nOK\r\n"
                                                      << QString();
    QTest::newRow("SIM: echo and OK only") << Rule::SimNo << "AT+CCID\r\r\nOK\r\n" << QString();
    QTest::newRow("SIM: no OK") << Rule::SimNo << "\r\n+CCID: 89860012345678901234\r\n" << QString();
    QTest::newRow("SIM: new-message line after the number")
        << Rule::SimNo << "\r\n+CCID: 89860012345678901234\r\n+CMTI: \"SM\",3\r\n\r\nOK\r\n"
        << "89860012345678901234";
    QTest::newRow("list: spaces and an empty part")
        << Rule::IndexList << "\r\n+CMGD: ( 1, ,7 ),(0-4)\r\n\r\nOK\r\n"
        << "1|7";
    QTest::newRow("list: no list of flags") << Rule::IndexList << "\r\n+CMGD: (1,2)\r\n\r\nOK\r\n"
                                            << "1|2";
    QTest::newRow("list: nothing stored, no list of flags")
        << Rule::IndexList << "\r\n+CMGD: ()\r\n\r\nOK\r\n"
        << QString();
    QTest::newRow("list: a range, no list of flags") << Rule::IndexList << "\r\n+CMGD: (1-30)\r\n\r\nOK\r\n"
                                                     << QString();
    QTest::newRow("listing: new-message line among entries")
        << Rule::Listing
        << "\r\n+CMTI: \"SM\",9\r\n+CMGL: 2,1,,23\r\n" + pdu + "\r\n+CMGL: 4,0,,23\r\n" + pdu +
               "\r\n\r\nOK\r\n"
        << "2|4";
    QTest::newRow("PDU: new-message line after it")
        << Rule::ReadPdu << "\r\n+CMGR: 0,,23\r\n" + pdu + "\r\n+CMTI: \"SM\",4\r\n\r\nOK\r\n"
        << pdu;
    QTest::newRow("PDU: no OK") << Rule::ReadPdu << "\r\n+CMGR: 0,,23\r\n" + pdu + "\r\n" << QString();
}

void TestModemParse::parseRules()
{
    QFETCH(Rule, rule);
    QFETCH(QString, answer);
    QFETCH(QString, result);
    switch (rule) {
    case Rule::DeviceNo:
        QCOMPARE(MyComThread::parseDeviceNo(answer), result);
        break;
    case Rule::SimNo:
        QCOMPARE(MyComThread::parseSimNo(answer), result);
        break;
    case Rule::IndexList:
        QCOMPARE(MyComThread::parseIndexList(answer).join(QLatin1Char('|')), result);
        break;
    case Rule::Listing:
        QCOMPARE(MyComThread::parseListing(answer).join(QLatin1Char('|')), result);
        break;
    case Rule::ReadPdu:
        QCOMPARE(MyComThread::parseReadPdu(answer), result);
        break;
    }
}

QTEST_GUILESS_MAIN(TestModemParse)
#include "tst_modemparse.moc"
