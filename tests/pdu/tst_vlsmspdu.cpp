// The command-line decoder: one JSON line per PDU, bad input named on
// standard error with a failing exit code, parts joined in index order.
#include "support/pdubuilder.h"

#include <QProcess>
#include <QtTest>

using namespace PduBuilder;

namespace {

const QString no = QStringLiteral("19876501234");
const QString ucs2Pdu = ucs2(no, QString::fromUtf8("你好"));
// The end of its line; the columns before it are the store's own.
const QByteArray ucs2Line = "\"alphabet\":\"UCS2\",\"compressed\":false,\"message_class\":null,"
                            "\"locking_shift\":null,\"single_shift\":null,\"text\":\"你好\"}\n";
// 8-bit data from the alphanumeric sender "Google".
const QString dataPdu = deliverRaw("04", "0BD0C7F7FBCC2E03", "04", 2, "CAFE");
const QString firstPart = sevenBit(no, "hello ", partHeader(0x42, 2, 1));
const QString secondPart = sevenBit(no, "world", partHeader(0x42, 2, 2));

} // namespace
class TestVlsmsPdu : public QObject
{
    Q_OBJECT

private slots:
    void run_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArrayList>("lines"); // each output line holds its entry
        QTest::addColumn<QByteArray>("error");
        const auto row = [](const char* name, const QStringList& args, const QByteArray& input,
                            const QByteArrayList& lines, const QByteArray& error) {
            QTest::newRow(name) << args << input << lines << error;
        };

        row("UCS2 message as an argument", {ucs2Pdu}, {}, {ucs2Line}, {});
        row("quotes and backslash escaped in JSON", {sevenBit(no, QByteArray("say \"hi\" \x1B\x2F ") + '\0')},
            {}, {"\"text\":\"say \\\"hi\\\" \\\\ @\"}\n"}, {});
        row("flash message with national language tables",
            {sevenBit(no, QByteArray::fromHex("1B7307"), languages(1, 1), 0xF0)}, {},
            {"\"message_class\":0,\"locking_shift\":\"Turkish\",\"single_shift\":\"Turkish\",\"text\":"
             "\"şı\"}"},
            {});
        row("standard input, blank lines skipped, bad line named", {},
            (ucs2Pdu + "\r\n\n  \nnot a pdu\n" + dataPdu.toLower() + "\n").toUtf8(), {ucs2Line, "\"cafe\""},
            "line 4: not a hexadecimal PDU");
        row("bad argument named, the others decoded", {ucs2Pdu, "07G1", statusReport(6)}, {},
            {ucs2Line, "\"sms_recvtype\":2"}, "argument 2: not a hexadecimal PDU");
        row("join in part-index order", {"--join", secondPart, firstPart}, {},
            {"{\"text\":\"hello world\"}\n"}, {});
    }

    void run()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, input);
        QFETCH(QByteArrayList, lines);
        QFETCH(QByteArray, error);

        QProcess process;
        process.start(QStringLiteral(VLSMS_PDU_BIN), args);
        QVERIFY2(process.waitForStarted(10000), qPrintable(process.errorString()));
        process.write(input);
        process.closeWriteChannel();
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        const QByteArrayList out = process.readAllStandardOutput().split('\n');
        QCOMPARE(out.size(), lines.size() + 1);
        for (int i = 0; i < lines.size(); ++i) {
            QVERIFY2((out.at(i) + '\n').contains(lines.at(i)), out.at(i).constData());
        }
        const QByteArray errorText = process.readAllStandardError();
        QVERIFY2(error.isEmpty() ? errorText.isEmpty()
                                 : errorText.contains(error) && errorText.count('\n') == 1,
                 errorText.constData());
        QCOMPARE(process.exitCode(), error.isEmpty() ? 0 : 1);
    }
};

QTEST_GUILESS_MAIN(TestVlsmsPdu)
#include "tst_vlsmspdu.moc"
