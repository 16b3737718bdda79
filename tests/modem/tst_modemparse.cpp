// How an answer is judged and parsed, as bytes: by its final result line
// alone, unsolicited lines taken out, line noise neither cutting nor hiding
// anything. The common answer styles also run through a pseudo-terminal in
// the command tests; these are the corners the simulator does not produce.

#include "modem/atanswer.h"
#include "modem/serialchecker.h"

#include <QtTest>

class TestModemParse : public QObject
{
    Q_OBJECT
private slots:
    void finalResult_data();
    void finalResult();
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
    ReadPdu,
    HeldPdu,
    Notified
};
const QByteArray pdu = "0891683108200105F0040D91683118541397F800001270407132052304F4F29C0E";
} // namespace
Q_DECLARE_METATYPE(Rule)

void TestModemParse::finalResult_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<int>("code");

    QTest::newRow("OK in one burst") << QByteArray("\r\nOK\r\n") << 100;
    QTest::newRow("nothing yet") << QByteArray() << 0;
    QTest::newRow("echo only") << QByteArray("AT\r") << 0;
    QTest::newRow("OK not yet ended") << QByteArray("\r\nOK") << 0;
    QTest::newRow("OK ended by LF alone") << QByteArray("\nOK\n") << 100;
    QTest::newRow("+CME ERROR") << QByteArray("\r\n+CME ERROR: 10\r\n") << 201;
    QTest::newRow("+CMS ERROR") << QByteArray("\r\n+CMS ERROR: 321\r\n") << 202;
    QTest::newRow("COMMAND NOT SUPPORT") << QByteArray("\r\nCOMMAND NOT SUPPORT\r\n") << 203;
    QTest::newRow("NO CARRIER") << QByteArray("\r\nNO CARRIER\r\n") << 204;
    QTest::newRow("first final result wins") << QByteArray("\r\nERROR\r\nOK\r\n") << 200;
    QTest::newRow("SIM NOT READY is no result") << QByteArray("\r\nSIM NOT READY\r\n") << 0;
    QTest::newRow("+CPIN: NOT READY before the PDU")
        << QByteArray("\r\n+CPIN: NOT READY\r\n+CMGR: 0,,23\r\n" + pdu + "\r\n") << 0;
    QTest::newRow("unsolicited ERROR word, then OK")
        << QByteArray("\r\n^MODE: ERROR\r\n861234567890123\r\n\r\nOK\r\n") << 100;
    QTest::newRow("ERROR inside an information line") << QByteArray("\r\nLAST ERROR 0\r\n") << 0;
    QTest::newRow("NUL before OK") << QByteArray("\r\n\0OK\r\n", 7) << 100;
    QTest::newRow("NUL line, then ERROR") << QByteArray("\r\n\0\r\nERROR\r\n", 12) << 200;
    QTest::newRow("high bytes around OK") << QByteArray("\r\n\xff\x80OK\xfe\r\n") << 100;
    QTest::newRow("invalid UTF-8, no result") << QByteArray("\r\n\xc3\x28\xa0\xa1\r\n") << 0;
}

void TestModemParse::finalResult()
{
    QFETCH(QByteArray, answer);
    QFETCH(int, code);
    QCOMPARE(SerialChecker::checkAnswer(answer), code);
}

void TestModemParse::parseRules_data()
{
    QTest::addColumn<Rule>("rule");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("result");

    QTest::newRow("device: OK alone") << Rule::DeviceNo << QByteArray("\r\nOK\r\n") << QString();
    QTest::newRow("device: OK first")
        << Rule::DeviceNo << QByteArray("OK\r\n861234567890123\r\n") << QString();
    QTest::newRow("device: RING before")
        << Rule::DeviceNo << QByteArray("\r\nRING\r\n\r\n861234567890123\r\n\r\nOK\r\n") << "861234567890123";
    QTest::newRow("device: ends ERROR")
        << Rule::DeviceNo << QByteArray("\r\n861234567890123\r\n\r\nERROR\r\n") << QString();
    QTest::newRow("device: NUL before the number") << Rule::DeviceNo
                                                   << QByteArray("\r\n\0"
                                                                 "861234567890123\r\n\r\nOK\r\n",
                                                                 26)
                                                   << "861234567890123";
    QTest::newRow("SIM: two colons keep the last part")
        << Rule::SimNo << QByteArray("\r\n+ICCID: ICCID: 89860012345678901234\r\n\r\nOK\r\n")
        << "89860012345678901234";
    QTest::newRow("SIM: colon with nothing after it")
        << Rule::SimNo << QByteArray("\r\n+CCID:\r\n\r\nOK\r\n") << QString();
    QTest::newRow("SIM: echo and OK only") << Rule::SimNo << QByteArray("AT+CCID\r\r\nOK\r\n") << QString();
    QTest::newRow("SIM: no OK") << Rule::SimNo << QByteArray("\r\n+CCID: 89860012345678901234\r\n")
                                << QString();
    QTest::newRow("SIM: new-message line after the number")
        << Rule::SimNo << QByteArray("\r\n+CCID: 89860012345678901234\r\n+CMTI: \"SM\",3\r\n\r\nOK\r\n")
        << "89860012345678901234";
    QTest::newRow("list: spaces and an empty part")
        << Rule::IndexList << QByteArray("\r\n+CMGD: ( 1, ,7 ),(0-4)\r\n\r\nOK\r\n") << "1|7";
    QTest::newRow("list: no list of flags")
        << Rule::IndexList << QByteArray("\r\n+CMGD: (1,2)\r\n\r\nOK\r\n") << "1|2";
    QTest::newRow("list: nothing stored")
        << Rule::IndexList << QByteArray("\r\n+CMGD: ()\r\n\r\nOK\r\n") << QString();
    QTest::newRow("list: a range") << Rule::IndexList << QByteArray("\r\n+CMGD: (1-30)\r\n\r\nOK\r\n")
                                   << QString();
    QTest::newRow("list: noise is no index")
        << Rule::IndexList << QByteArray("\r\n+CMGD: (1,\xff,3),(0-4)\r\n\r\nOK\r\n") << "1|3";
    QTest::newRow("listing: new-message line among entries")
        << Rule::Listing
        << QByteArray("\r\n+CMTI: \"SM\",9\r\n+CMGL: 2,1,,23\r\n" + pdu + "\r\n+CMGL: 4,0,,23\r\n" + pdu +
                      "\r\n\r\nOK\r\n")
        << "2|4";
    QTest::newRow("PDU: new-message line after it")
        << Rule::ReadPdu << QByteArray("\r\n+CMGR: 0,,23\r\n" + pdu + "\r\n+CMTI: \"SM\",4\r\n\r\nOK\r\n")
        << QString::fromLatin1(pdu);
    QTest::newRow("PDU: NUL inside the line")
        << Rule::ReadPdu
        << QByteArray("\r\n+CMGR: 0,,23\r\n" + pdu.left(10) + '\0' + pdu.mid(10) + "\r\nOK\r\n")
        << QString::fromLatin1(pdu);
    QTest::newRow("PDU: no OK") << Rule::ReadPdu << QByteArray("\r\n+CMGR: 0,,23\r\n" + pdu + "\r\n")
                                << QString();
    QTest::newRow("held: PDU, then ERROR")
        << Rule::HeldPdu << QByteArray("\r\n+CMGR: 0,,23\r\n" + pdu + "\r\n\r\nERROR\r\n") << "held";
    QTest::newRow("held: empty-slot header")
        << Rule::HeldPdu << QByteArray("\r\n+CMGR: 0,,0\r\n\r\nOK\r\n") << QString();
    QTest::newRow("notified: alone and among lines")
        << Rule::Notified << QByteArray("+CMTI: \"SM\",3\r\n\r\n+CREG: 1\r\n+CMTI: \"SM\", 12\r\n") << "3|12";
    QTest::newRow("notified: other store, broken, unfinished")
        << Rule::Notified << QByteArray("+CMTI: \"ME\",3\r\n+CMTI: \"SM\",x\r\n+CMTI: \"SM\",5") << QString();
}

void TestModemParse::parseRules()
{
    QFETCH(Rule, rule);
    QFETCH(QByteArray, answer);
    QFETCH(QString, result);
    QStringList notified;
    switch (rule) {
    case Rule::DeviceNo:
        QCOMPARE(AtAnswer::deviceNo(answer), result);
        break;
    case Rule::SimNo:
        QCOMPARE(AtAnswer::simNo(answer), result);
        break;
    case Rule::IndexList:
        QCOMPARE(AtAnswer::indexList(answer).join(QLatin1Char('|')), result);
        break;
    case Rule::Listing:
        QCOMPARE(AtAnswer::listing(answer).join(QLatin1Char('|')), result);
        break;
    case Rule::ReadPdu:
        QCOMPARE(QString::fromLatin1(AtAnswer::readPdu(answer).pdu), result);
        break;
    case Rule::HeldPdu:
        QCOMPARE(AtAnswer::readPdu(answer).heldPdu, !result.isEmpty());
        break;
    case Rule::Notified:
        for (int index : AtAnswer::newMessageIndexes(answer)) {
            notified.append(QString::number(index));
        }
        QCOMPARE(notified.join(QLatin1Char('|')), result);
        break;
    }
}

QTEST_GUILESS_MAIN(TestModemParse)
#include "tst_modemparse.moc"
