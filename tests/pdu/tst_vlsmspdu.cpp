#include <QProcess>
#include <QtTest>

namespace {

// 你好 in UCS2 from 19876501234.
const QString ucs2Pdu = QStringLiteral("06918967052143040B819178561032F4000891503241035023044F60597D");
// GSM 7-bit: say "hi" \ @   (quotes, an escaped backslash and a last '@').
const QString quotedPdu =
    QStringLiteral("0891683108200005F0040B819178561032F40000915032410350230DF3701E2442A745A0CD0B0400");
// A status report.
const QString reportPdu =
    QStringLiteral("0891683108200005F006060B819178561032F4915032410350239150324103502300");
// 8-bit data from the alphanumeric sender "Google".
const QString dataPdu = QStringLiteral("0891683108200005F0040BD0C7F7FBCC2E0300049150324103502302CAFE");
// A class 0 (flash) message in GSM 7-bit with the Turkish tables: "şı".
const QString turkishFlashPdu =
    QStringLiteral("0891683108200005F0440B819178561032F400F0915032410350230B062501012401019BF901");
const QByteArray turkishFlashLine =
    "{\"sms_recvtype\":0,\"sms_pid\":0,\"sms_sender\":\"19876501234\",\"sms_stamp\":\"2019-05-23 14:30:05\","
    "\"sms_codegroup\":5,\"sms_codetype\":0,\"sms_part_type\":0,\"sms_part_id\":\"\",\"sms_part_index\":0,"
    "\"sms_part_count\":0,\"sms_userdata_head\":\"250101240101\",\"sms_userdata_value\":\"9BF901\","
    "\"sms_text\":1,\"coding_group\":\"data coding and message class\",\"alphabet\":\"GSM 7-bit\","
    "\"compressed\":false,\"message_class\":0,\"locking_shift\":\"Turkish\",\"single_shift\":\"Turkish\","
    "\"text\":\"şı\"}";
// Two 7-bit parts, reference 42: "hello " and "world".
const QString firstPart =
    QStringLiteral("0891683108200005F0440B819178561032F40000915032410350230D050003420201D06536FB0D02");
const QString secondPart =
    QStringLiteral("0891683108200005F0440B819178561032F40000915032410350230C050003420202EE6F399B0C");

const QByteArray ucs2Line =
    "{\"sms_recvtype\":0,\"sms_pid\":0,\"sms_sender\":\"19876501234\",\"sms_stamp\":\"2019-05-23 14:30:05\","
    "\"sms_codegroup\":0,\"sms_codetype\":2,\"sms_part_type\":0,\"sms_part_id\":\"\",\"sms_part_index\":0,"
    "\"sms_part_count\":0,\"sms_userdata_head\":\"\",\"sms_userdata_value\":\"4F60597D\",\"sms_text\":1,"
    "\"coding_group\":\"general data "
    "coding\",\"alphabet\":\"UCS2\",\"compressed\":false,\"message_class\":null,"
    "\"locking_shift\":null,\"single_shift\":null,\"text\":\"你好\"}";
const QByteArray quotedLine =
    "{\"sms_recvtype\":0,\"sms_pid\":0,\"sms_sender\":\"19876501234\",\"sms_stamp\":\"2019-05-23 14:30:05\","
    "\"sms_codegroup\":0,\"sms_codetype\":0,\"sms_part_type\":0,\"sms_part_id\":\"\",\"sms_part_index\":0,"
    "\"sms_part_count\":0,\"sms_userdata_head\":\"\",\"sms_userdata_value\":\"F3701E2442A745A0CD0B0400\","
    "\"sms_text\":1,\"coding_group\":\"general data coding\",\"alphabet\":\"GSM 7-bit\",\"compressed\":false,"
    "\"message_class\":null,\"locking_shift\":\"default\",\"single_shift\":\"default\",\"text\":\"say "
    "\\\"hi\\\" \\\\ @\"}";
const QByteArray reportLine =
    "{\"sms_recvtype\":2,\"sms_pid\":0,\"sms_sender\":null,\"sms_stamp\":null,"
    "\"sms_codegroup\":0,\"sms_codetype\":0,"
    "\"sms_part_type\":0,\"sms_part_id\":null,\"sms_part_index\":0,\"sms_part_"
    "count\":1,\"sms_userdata_head\":null,"
    "\"sms_userdata_value\":null,\"sms_text\":0,\"coding_group\":null,\"alphabet\":null,"
    "\"compressed\":null,\"message_class\":null,\"locking_shift\":null,"
    "\"single_shift\":null,\"text\":null}";
const QByteArray dataLine =
    "{\"sms_recvtype\":0,\"sms_pid\":0,\"sms_sender\":\"Google\",\"sms_stamp\":\"2019-05-23 14:30:05\","
    "\"sms_codegroup\":0,\"sms_codetype\":1,\"sms_part_type\":0,\"sms_part_id\":\"\",\"sms_part_index\":0,"
    "\"sms_part_count\":0,\"sms_userdata_head\":\"\",\"sms_userdata_value\":\"CAFE\",\"sms_text\":0,"
    "\"coding_group\":\"general data coding\",\"alphabet\":\"8-bit data\",\"compressed\":false,"
    "\"message_class\":null,\"locking_shift\":null,\"single_shift\":null,\"text\":null}";

} // namespace

class TestVlsmsPdu : public QObject
{
    Q_OBJECT

private slots:
    void run_data();
    void run();
};

void TestVlsmsPdu::run_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<QByteArray>("error");
    QTest::addColumn<int>("exitCode");

    QTest::newRow("UCS2 message as an argument") << QStringList{ucs2Pdu} << QByteArray() << ucs2Line + '\n'
                                                 << QByteArray() << 0;
    QTest::newRow("quotes and backslash escaped in JSON")
        << QStringList{quotedPdu} << QByteArray() << quotedLine + '\n'
        << QByteArray() << 0;
    QTest::newRow("status report keeps the column defaults")
        << QStringList{reportPdu} << QByteArray() << reportLine + '\n'
        << QByteArray() << 0;
    QTest::newRow("8-bit data is not forwarded") << QStringList{dataPdu} << QByteArray() << dataLine + '\n'
                                                 << QByteArray() << 0;
    QTest::newRow("flash message with national language tables")
        << QStringList{turkishFlashPdu} << QByteArray() << turkishFlashLine + '\n'
        << QByteArray() << 0;
    QTest::newRow("modem answer with its header line")
        << QStringList{QStringLiteral("+CMGR: 0,,24\r\n") + ucs2Pdu + QStringLiteral("\r\n")} << QByteArray()
        << ucs2Line + '\n'
        << QByteArray() << 0;
    QTest::newRow("standard input, blank lines skipped, bad line named")
        << QStringList() << (ucs2Pdu + "\r\n\n  \nnot a pdu\n" + dataPdu.toLower() + "\n").toUtf8()
        << ucs2Line + '\n' + QByteArray(dataLine).replace("CAFE", "cafe") + '\n'
        << QByteArray("line 4: not a hexadecimal PDU") << 1;
    QTest::newRow("bad argument named, the others decoded")
        << QStringList{ucs2Pdu, QStringLiteral("07G1"), reportPdu} << QByteArray()
        << ucs2Line + '\n' + reportLine + '\n'
        << QByteArray("argument 2: not a hexadecimal PDU") << 1;
    QTest::newRow("join in part-index order")
        << QStringList{QStringLiteral("--join"), secondPart, firstPart} << QByteArray()
        << QByteArray("{\"text\":\"hello world\"}\n") << QByteArray() << 0;
    QTest::newRow("join from standard input")
        << QStringList{QStringLiteral("--join")} << (firstPart + "\n" + secondPart + "\n").toUtf8()
        << QByteArray("{\"text\":\"hello world\"}\n") << QByteArray() << 0;
    QTest::newRow("join with a bad part")
        << QStringList{QStringLiteral("--join"), firstPart, QStringLiteral("xyz")} << QByteArray()
        << QByteArray("{\"text\":\"hello \"}\n") << QByteArray("argument 2: not a hexadecimal PDU") << 1;
}

void TestVlsmsPdu::run()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, output);
    QFETCH(QByteArray, error);
    QFETCH(int, exitCode);

    QProcess process;
    process.start(QStringLiteral(VLSMS_PDU_BIN), args);
    QVERIFY2(process.waitForStarted(10000), qPrintable(process.errorString()));
    process.write(input);
    process.closeWriteChannel();
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.readAllStandardOutput(), output);
    const QByteArray errorText = process.readAllStandardError();
    if (error.isEmpty())
        QCOMPARE(errorText, QByteArray());
    else
        QVERIFY2(errorText.contains(error) && errorText.count('\n') == 1, errorText.constData());
    QCOMPARE(process.exitCode(), exitCode);
}

QTEST_GUILESS_MAIN(TestVlsmsPdu)
#include "tst_vlsmspdu.moc"
