#pragma once

// What the tests that meet the test MariaDB share: messages built by hand,
// independently of the decoder, and a database of their own on the server.

#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QTest>

namespace appfixture {

// Messages built independently of the decoder (3GPP TS 23.040 layout).
inline const char* const single7Bit =
    "0891683108200505F0040B813119325476F80000622160010300232BD2329C9D07D1DFA0FABC2"
    "C0794F1E1369C5D768DDF6D16082E4F8FCBA0DAA60CDAF0DEEB8D0F";
inline const char* const ucs2Parts[] = {
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
inline const char* const concat7Parts[] = {
    "0891683108200505F0440D91683108000000F1000062216001030023A00608041234020154741914AFA7C76B9058FEBEBB41E637"
    "1EA4AEB7E173D0DB5E9683E8E832881DD6E741E4F7190400C5643A180CB4416DCA9B14888A2E83E2F5F4780D12CBDF7737C8FCC6"
    "83D4F5367C0E7ADBCB72101D5D06B1C3FA3C88FC3E8300A0984C07838136A84D79930251D16550BC9E1EAF4162F9FBEE0699DF78"
    "90BADE86CF416F7B590EA2A3CB",
    "0891683108200505F0440D91683108000000F10000622160010300235C060804123402022076589F0791DF6710001493E96030D0"
    "06B5296F52202ABA0C8AD7D3E335482C7FDFDD20F31B0F52D7DBF039E86D2FCB41747419C40EEBF320F2FB0C028062321D0C06DA"
    "A036E54D0A04"};
inline const char* const alphaSender =
    "0891683108200505F0040BD0CDBC30EC5E0300006221600103002311D9775D0E1ABFC965507A0E8AC96634";

inline QString concat7Text()
{
    QString text;
    for (int i = 0; i < 4; ++i) {
        text += QString::fromUtf8("The quick brown fox jumps over the lazy dog @ 12:00 {€} ");
    }
    return text;
}

// The texts the senders typed.
inline const char* const single7BitText = "Reply to user@example.com, price 5€ [ok]";
inline const char* const alphaSenderText = "Your code is 1234";

inline QString env(const char* name)
{
    return QString::fromLocal8Bit(qgetenv(name));
}

// Connects "tst_admin" to the test server named by VLSMS_TEST_MYSQL_* and
// makes a fresh database `name` with the test server's smsserver_in table.
// A test that finds no server fails; it does not skip.
inline void makeTestDatabase(const QString& name)
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
    QSqlQuery query(db);
    QVERIFY(query.exec("DROP DATABASE IF EXISTS " + name));
    QVERIFY(query.exec("CREATE DATABASE " + name + " CHARACTER SET utf8mb4"));
    QVERIFY2(query.exec("CREATE TABLE " + name + ".smsserver_in LIKE " + env("VLSMS_TEST_MYSQL_DB") +
                        ".smsserver_in"),
             qPrintable(query.lastError().text()));
}

inline QSqlDatabase adminDb()
{
    return QSqlDatabase::database(QStringLiteral("tst_admin"));
}

inline void dropTestDatabases(const QStringList& names)
{
    {
        QSqlQuery query(adminDb());
        for (const QString& name : names) {
            query.exec("DROP DATABASE IF EXISTS " + name);
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("tst_admin"));
}

} // namespace appfixture
