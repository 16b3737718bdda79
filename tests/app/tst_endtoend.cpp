#include "tools/modemsim/modembank.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QSerialPortInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Messages built independently of the decoder (3GPP TS 23.040 layout).
const char* const single7Bit = "0891683108200505F0040B813119325476F80000622160010300232BD2329C9D07D1DFA0FABC2"
                               "C0794F1E1369C5D768DDF6D16082E4F8FCBA0DAA60CDAF0DEEB8D0F";
const char* const ucs2Parts[] = {
    "0891683108200505F0440B813108108300F00008622160010300238C0500037703014E004E8C4E0956DB4E94516D4E03516B4E5D"
    "53414E004E8C4E0956DB4E94516D4E03516B4E5D53414E004E8C4E0956DB4E94516D4E03516B4E5D53414E004E8C4E0956DB4E94"
    "516D4E03516B4E5D53414E004E8C4E0956DB4E94516D4E03516B4E5D53414E004E8C4E0956DB4E94516D4E03516B4E5D53414E00"
    "4E8C4E0956DB4E94516D4E03",
    "0891683108200505F0440B813108108300F00008622160010300238C050003770302516B4E5D53414E004E8C4E0956DB4E94516D"
    "4E03516B4E5D53414E004E8C4E0956DB4E94516D4E03516B4E5D53414E004E8C4E0956DB4E94516D4E03516B4E5D53414E004E8C"
    "4E0956DB4E94516D4E03516B4E5D53414E004E8C4E0956DB4E94516D4E03516B4E5D53414E004E8C4E0956DB4E94516D4E03516B"
    "4E5D53414E004E8C4E0956DB",
    "0891683108200505F0440B813108108300F00008622160010300237A0500037703034E94516D4E03516B4E5D53414E004E8C4E09"
    "56DB4E94516D4E03516B4E5D53414E004E8C4E0956DB4E94516D4E03516B4E5D53414E004E8C4E0956DB4E94516D4E03516B4E5D"
    "53414E004E8C4E0956DB4E94516D4E03516B4E5D53414E004E8C4E0956DB4E94516D4E03516B4E5D5341D83CDF89"};
const char* const concat7Parts[] = {
    "0891683108200505F0440D91683108000000F1000062216001030023A00608041234020154741914AFA7C76B9058FEBEBB41E637"
    "1EA4AEB7E173D0DB5E9683E8E832881DD6E741E4F7190400C5643A180CB4416DCA9B14888A2E83E2F5F4780D12CBDF7737C8FCC6"
    "83D4F5367C0E7ADBCB72101D5D06B1C3FA3C88FC3E8300A0984C07838136A84D79930251D16550BC9E1EAF4162F9FBEE0699DF78"
    "90BADE86CF416F7B590EA2A3CB",
    "0891683108200505F0440D91683108000000F10000622160010300235C060804123402022076589F0791DF6710001493E96030D0"
    "06B5296F52202ABA0C8AD7D3E335482C7FDFDD20F31B0F52D7DBF039E86D2FCB41747419C40EEBF320F2FB0C028062321D0C06DA"
    "A036E54D0A04"};
const char* const alphaSender =
    "0891683108200505F0040BD0CDBC30EC5E0300006221600103002311D9775D0E1ABFC965507A0E8AC96634";

QString env(const char* name)
{
    return QString::fromLocal8Bit(qgetenv(name));
}

struct Expected
{
    QString text;
    QString originator;
    int modem;
};

} // namespace

// The real vlsms executable, offscreen, against simulated modems on
// pseudo-terminals and the test MariaDB: every message delivered to a SIM
// arrives in smsserver_in exactly once, and closing the window ends the
// process with exit code 0.
class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void messagesTravelFromSimToMysql();

private:
    QString database;
};

void TestEndToEnd::initTestCase()
{
    QVERIFY2(!env("VLSMS_TEST_MYSQL_PORT").isEmpty(),
             "VLSMS_TEST_MYSQL_* is not set: run the tests through tools/test.sh");
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QMYSQL"), QStringLiteral("tst_admin"));
    db.setHostName(env("VLSMS_TEST_MYSQL_HOST"));
    db.setPort(env("VLSMS_TEST_MYSQL_PORT").toInt());
    db.setUserName(env("VLSMS_TEST_MYSQL_USER"));
    db.setPassword(env("VLSMS_TEST_MYSQL_PWD"));
    db.setDatabaseName(env("VLSMS_TEST_MYSQL_DB"));
    QVERIFY2(db.open(), qPrintable(db.lastError().text()));
    // Read texts back as four-byte UTF-8, as the program writes them.
    QVERIFY(QSqlQuery(db).exec(QStringLiteral("SET NAMES utf8mb4")));
    database = QStringLiteral("vlsms_endtoend_%1").arg(QCoreApplication::applicationPid());
    QSqlQuery query(db);
    QVERIFY(query.exec("DROP DATABASE IF EXISTS " + database));
    QVERIFY(query.exec("CREATE DATABASE " + database + " CHARACTER SET utf8mb4"));
    QVERIFY2(query.exec("CREATE TABLE " + database + ".smsserver_in LIKE " + env("VLSMS_TEST_MYSQL_DB") +
                        ".smsserver_in"),
             qPrintable(query.lastError().text()));
}

void TestEndToEnd::cleanupTestCase()
{
    {
        QSqlQuery query(QSqlDatabase::database(QStringLiteral("tst_admin")));
        query.exec("DROP DATABASE IF EXISTS " + database);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("tst_admin"));
}

void TestEndToEnd::messagesTravelFromSimToMysql()
{
    QTemporaryDir dir;
    ModemBank bank;
    QString error;
    QVERIFY2(bank.start(4, dir.filePath(QStringLiteral("modems")), &error), qPrintable(error));
    QStringList iccids;
    for (int i = 0; i < bank.count(); ++i) {
        iccids << QStringLiteral("8986000000000000%1").arg(i + 1, 4, 10, QLatin1Char('0'));
        bank.modem(i)->setIccid(iccids.last());
    }

    // Messages waiting on the SIMs before the program starts.
    QList<Expected> expected;
    bank.modem(0)->addMessage(single7Bit);
    expected.append({QString::fromUtf8("Reply to user@example.com, price 5€ [ok]"), "13912345678", 0});
    bank.modem(0)->addMessage(alphaSender);
    expected.append({QStringLiteral("Your code is 1234"), "MyBank", 0});
    for (const char* part : {ucs2Parts[1], ucs2Parts[2], ucs2Parts[0]}) {
        bank.modem(1)->addMessage(part);
    }
    QString ucs2;
    for (int i = 0; i < 19; ++i) {
        ucs2 += QString::fromUtf8("一二三四五六七八九十");
    }
    expected.append({ucs2 + QString::fromUtf8("🎉"), "13800138000", 1});
    bank.modem(2)->addMessage(concat7Parts[0]);
    QString concat;
    for (int i = 0; i < 4; ++i) {
        concat += QString::fromUtf8("The quick brown fox jumps over the lazy dog @ 12:00 {€} ");
    }
    expected.append({concat, "8613800000001", 2});
    // The same PDU on another SIM is another message.
    bank.modem(3)->addMessage(single7Bit);
    expected.append({expected.first().text, "13912345678", 3});

    QStringList machinePorts;
    const QList<QSerialPortInfo> infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& info : infos) {
        machinePorts << info.portName();
    }
    const QString appData = dir.filePath(QStringLiteral("appdata"));
    QVERIFY(QDir().mkpath(appData + "/VLSMS"));
    QFile ini(appData + "/VLSMS/settings.ini");
    QVERIFY(ini.open(QIODevice::WriteOnly));
    QString text = "[General]\nDEF_SPEED=100\n";
    text += "DEF_IGNORE=\"" + machinePorts.join(',') + "\"\n";
    text += "DEF_EXTRA_PORTS=\"" + bank.portPaths().join(',') + "\"\n";
    text += "MYSQL_HOST=" + env("VLSMS_TEST_MYSQL_HOST") + "\nMYSQL_PORT=" + env("VLSMS_TEST_MYSQL_PORT") +
            "\nMYSQL_USER=" + env("VLSMS_TEST_MYSQL_USER") + "\nMYSQL_PWD=" + env("VLSMS_TEST_MYSQL_PWD") +
            "\nMYSQL_DBNAME=" + database + "\n[CARD]\nNUM=4\n";
    for (int i = 0; i < iccids.size(); ++i) {
        text += QStringLiteral("SIM_%1=%2\nPHN_%1=1390000000%1\n").arg(i).arg(iccids.at(i));
    }
    ini.write(text.toUtf8());
    ini.close();

    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("APPDATA"), appData);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    program.setProcessEnvironment(environment);
    program.setWorkingDirectory(dir.path());
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(QStringLiteral(VLSMS_BIN), QStringList());
    QVERIFY(program.waitForStarted(10000));

    QSqlDatabase db = QSqlDatabase::database(QStringLiteral("tst_admin"));
    auto rows = [&] {
        QSqlQuery query(db);
        query.exec("SELECT COUNT(*) FROM " + database + ".smsserver_in");
        return query.next() ? query.value(0).toInt() : -1;
    };
    // Everything but the concatenated message, whose second part is not there yet.
    QTRY_COMPARE_WITH_TIMEOUT(rows(), expected.size() - 1, 120000);
    // Its second part arrives while the program runs.
    bank.modem(2)->addMessage(concat7Parts[1]);
    QTRY_COMPARE_WITH_TIMEOUT(rows(), expected.size(), 120000);

    const QStringList ports = bank.portPaths();
    for (const Expected& message : qAsConst(expected)) {
        QSqlQuery query(db);
        query.prepare("SELECT COUNT(*) FROM " + database +
                      ".smsserver_in WHERE text=? AND originator=? AND gateway_id=? AND userphone=? AND "
                      "message_date='2026-12-06 10:30:00' AND process=0 AND type='I' AND encoding='U' AND "
                      "ABS(TIMESTAMPDIFF(SECOND, receive_date, NOW())) < 600");
        query.addBindValue(message.text.toUtf8());
        query.addBindValue(message.originator);
        query.addBindValue(ports.at(message.modem));
        query.addBindValue(QStringLiteral("1390000000%1").arg(message.modem));
        QVERIFY2(query.exec(), qPrintable(query.lastError().text()));
        QVERIFY(query.next());
        QVERIFY2(query.value(0).toInt() == 1, qPrintable(message.originator + ": " + message.text));
    }
    // Every message was taken off its SIM once stored.
    for (int i = 0; i < bank.count(); ++i) {
        QTRY_VERIFY_WITH_TIMEOUT(bank.modem(i)->storedIndexes().isEmpty(), 30000);
        const QList<ModemSim::Record> history = bank.modem(i)->history();
        for (const ModemSim::Record& record : history) {
            QVERIFY(record.deleted);
            QVERIFY(record.timesRead >= 1);
        }
    }

    program.terminate(); // what closing the window does, from outside
    QElapsedTimer closing;
    closing.start();
    QVERIFY(program.waitForFinished(20000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    qInfo("window closed, process ended after %lld ms", closing.elapsed());
}

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
