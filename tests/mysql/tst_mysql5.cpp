#include "mysql/mysql5.h"
#include "support/appfixture.h"
#include "support/tcprelay.h"

#include <QElapsedTimer>
#include <QMap>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTest>

#include <memory>

// Runs against the MariaDB server named by the VLSMS_TEST_MYSQL_* environment.
// Other tests may write to the same table at the same time, so rows are found
// by their own key, never by counting.

class TestMysql5 : public QObject
{
    Q_OBJECT

private:
    QString host;
    int port = 0;
    QString user;
    QString pwd;
    QString db;
    const QString faultDb = QStringLiteral("vlsms_mysql5_%1").arg(QCoreApplication::applicationPid());

    // Opens the forwarder's connection and returns the link state it leads to.
    int connectThrough(int toPort, const QString& password, const QString& dbName);
    QSqlQuery adminQuery(const QString& sql);
    // A message of the batches, told apart by its tag (the gateway) and i.
    static SmsRow testRow(const QString& tag, int i)
    {
        const QString time = QStringLiteral("2026-12-06 10:30:00");
        return SmsRow{{}, "13900000000", tag.left(60), QString::number(10080 + i), time, time, "row"};
    }

private slots:
    void initTestCase()
    {
        host = qEnvironmentVariable("VLSMS_TEST_MYSQL_HOST");
        port = qEnvironmentVariableIntValue("VLSMS_TEST_MYSQL_PORT");
        user = qEnvironmentVariable("VLSMS_TEST_MYSQL_USER");
        pwd = qEnvironmentVariable("VLSMS_TEST_MYSQL_PWD");
        db = qEnvironmentVariable("VLSMS_TEST_MYSQL_DB");
        QVERIFY2(!qEnvironmentVariable("VLSMS_TEST_MYSQL_SSL_CA").isEmpty(),
                 "tools/mariadb.sh test-start sets it");
        appfixture::makeTestDatabase(faultDb);
    }

    void cleanupTestCase() { appfixture::dropTestDatabases({faultDb}); }

    void cleanup()
    {
        Mysql5::closeConn();
        Mysql5::setWaitSeconds(10);
    }

    void openFailures_data()
    {
        QTest::addColumn<int>("target"); // 0 the server, 1 a closed port, 2 a silent listener
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("errorPart");
        QTest::newRow("wrong password") << 0 << "not-the-password"
                                        << "Access denied";
        QTest::newRow("closed port") << 1 << pwd << "connect";
        QTest::newRow("server accepts and never answers") << 2 << pwd << "handshake";
    }

    void openFailures()
    {
        QFETCH(int, target);
        QFETCH(QString, password);
        QFETCH(QString, errorPart);

        int toPort = port;
        std::unique_ptr<TcpRelay> silent;
        if (target == 1) {
            // A port that was free a moment ago is refused now.
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
            toPort = probe.serverPort();
            probe.close();
        } else if (target == 2) {
            silent = std::make_unique<TcpRelay>(0);
            QVERIFY(silent->port() != 0);
            toPort = silent->port();
        }

        QElapsedTimer clock;
        clock.start();
        QString error;
        const bool opened = Mysql5::openConn(host, toPort, user, password, db, error);
        const qint64 elapsed = clock.elapsed();

        QVERIFY(!opened);
        // The driver's text is kept for the log.
        QVERIFY2(error.contains(errorPart, Qt::CaseInsensitive), qPrintable(error));
        // Every wait on the server ends within the bound.
        QVERIFY2(elapsed < (Mysql5::waitSeconds() + 5) * 1000, qPrintable(QString::number(elapsed)));
    }

    void lostServer_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("server goes away") << "drop";
        QTest::newRow("server stops answering") << "freeze";
    }

    void lostServer()
    {
        QFETCH(QString, how);
        TcpRelay relay(static_cast<quint16>(port));
        QVERIFY(relay.port() != 0);
        QCOMPARE(connectThrough(relay.port(), pwd, db), 2);
        QString err;
        QVERIFY2(Mysql5::testConn(err), qPrintable(err));

        if (how == QStringLiteral("drop")) {
            relay.drop();
        } else {
            relay.freeze();
        }

        QElapsedTimer clock;
        clock.start();
        QVERIFY(!Mysql5::testConn(err));
        const qint64 elapsed = clock.elapsed();
        QVERIFY(!err.isEmpty());
        QVERIFY2(elapsed < (Mysql5::waitSeconds() + 5) * 1000, qPrintable(QString::number(elapsed)));

        // Closed, the link opens again.
        QVERIFY(Mysql5::closeConn());
        QCOMPARE(connectThrough(port, pwd, db), 2);
    }

    void insertWritesEveryColumn_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("messageDate");
        QTest::addColumn<QString>("receiveDate");
        QTest::addColumn<QString>("originator");

        QTest::newRow("emoji and rare CJK outside the basic plane")
            << QString::fromUtf8("OK 👍🎉 𠀀𪚥 end") << QStringLiteral("2025-01-01 00:00:00")
            << QStringLiteral("2025-01-01 00:00:01") << QStringLiteral("10086");
        QTest::newRow("quotes, backslash and line breaks")
            << QStringLiteral("it's \"quoted\" \\ back\r\nslash;--") << QStringLiteral("2023-07-15 12:30:45")
            << QStringLiteral("2023-07-15 12:31:00") << QStringLiteral("Bank'Alert");
    }

    void insertWritesEveryColumn()
    {
        QFETCH(QString, text);
        QFETCH(QString, messageDate);
        QFETCH(QString, receiveDate);
        QFETCH(QString, originator);

        QCOMPARE(connectThrough(port, pwd, db), 2);
        QString err;
        const QString gateway =
            QStringLiteral("COM17-%1").arg(QCoreApplication::applicationPid() + text.size());
        QVERIFY2(Mysql5::insertSms("13912345678", gateway, originator, messageDate, receiveDate, text, err),
                 qPrintable(err));
        QSqlQuery row = adminQuery(QStringLiteral("SELECT CONCAT_WS('|', process, type, encoding,"
                                                  " DATE_FORMAT(message_date, '%Y-%m-%d %H:%i:%s'),"
                                                  " DATE_FORMAT(receive_date, '%Y-%m-%d %H:%i:%s'),"
                                                  " originator, gateway_id, userphone), HEX(text)"
                                                  " FROM smsserver_in WHERE gateway_id = '%1'")
                                       .arg(gateway));
        QVERIFY(row.next());
        QCOMPARE(
            row.value(0).toString(),
            QStringList({"0|I|U", messageDate, receiveDate, originator, gateway, "13912345678"}).join('|'));
        QCOMPARE(row.value(1).toByteArray(), text.toUtf8().toHex().toUpper());
    }

    // What becomes of a batch of three rows under each fault of the row, the
    // table or the link: refused rows alone, no copies, and a definite answer
    // from the server before the client's read time-out.
    void insertFaults_data()
    {
        QTest::addColumn<QString>("before"); // run before the link opens (%1: the table)
        QTest::addColumn<QString>("after");  // run once the link is open
        QTest::addColumn<QString>("undo");   // run afterwards
        QTest::addColumn<QString>("badRow"); // field:value of the middle row
        QTest::addColumn<QList<RowFate>>("fates");
        // The server's error number: for a lock, its own answer, not the client's
        // read time-out (which would leave the insert pending, its fate unknown).
        QTest::addColumn<QString>("code");

        const RowFate in = RowFate::Inserted;
        const RowFate notSent = RowFate::NotSent;
        const QList<RowFate> middleRefused{in, RowFate::Refused, in};
        const QList<RowFate> noneSent{notSent, notSent, notSent};
        const auto fault = [](const char* name, const char* before, const char* after, const char* undo,
                              const QString& badRow, const QList<RowFate>& fates, const char* code) {
            QTest::newRow(name) << before << after << undo << badRow << fates << code;
        };
        // The row's own data: refused alone.
        fault("text too long, server in a lax mode that would cut it",
              "SET GLOBAL sql_mode = ''\nALTER TABLE %1 MODIFY text VARCHAR(40)", "",
              "SET GLOBAL sql_mode = DEFAULT", QString("text:").leftJustified(46, QLatin1Char('x')),
              middleRefused, "1406");
        fault("emoji in a three-byte column", "ALTER TABLE %1 MODIFY text TEXT CHARACTER SET utf8mb3", "", "",
              QString::fromUtf8("text:验证码 👍"), middleRefused, "1366");
        fault("trigger of the operator refuses the row",
              "CREATE TRIGGER %1_no_spam BEFORE INSERT ON %1 FOR EACH ROW IF NEW.originator = 'spam' THEN "
              "SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT = 'no spam'; END IF",
              "", "", "originator:spam", middleRefused, "1644");
        fault("unique key of the operator already holds the value",
              "ALTER TABLE %1 ADD UNIQUE KEY one_per_sender (originator)", "", "", "originator:10080",
              middleRefused, "1062");
        fault("date the server cannot read", "", "", "", "messageDate:2026-02-30 25:61:00", middleRefused,
              "1411");
        fault("table without transactions: no copies of the rows before the refused one",
              "ALTER TABLE %1 ENGINE=MyISAM, MODIFY text VARCHAR(40)", "", "",
              QString("text:").leftJustified(46, QLatin1Char('x')), middleRefused, "1406");
        // The table, the rights, the link: nothing sent, the messages wait.
        fault("table renamed", "", "RENAME TABLE %1 TO %1_away", "RENAME TABLE %1_away TO %1", "", noneSent,
              "1146");
        fault("table write-locked by another session", "", "LOCK TABLES %1 WRITE", "UNLOCK TABLES", "",
              noneSent, "1205");
        fault("server gone", "", "drop", "", "", noneSent, "");
    }

    void insertFaults()
    {
        QFETCH(QString, before);
        QFETCH(QString, after);
        QFETCH(QString, undo);
        QFETCH(QString, badRow);
        QFETCH(QList<RowFate>, fates);
        QFETCH(QString, code);

        const QString table = faultDb + QStringLiteral(".smsserver_in");
        adminQuery(QStringLiteral("DROP TABLE IF EXISTS %1").arg(table));
        QVERIFY(adminQuery(QStringLiteral("CREATE TABLE %1 LIKE %2.smsserver_in").arg(table, db)).isActive());
        const auto onTable = [&table](const QString& sql) {
            return sql.contains("%1") ? sql.arg(table) : sql;
        };
        for (const QString& sql : before.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            QVERIFY(adminQuery(onTable(sql)).isActive());
        }
        TcpRelay relay(static_cast<quint16>(port));
        Mysql5::setWaitSeconds(4);
        QString err;
        QVERIFY2(Mysql5::openConn(host, relay.port(), user, pwd, faultDb, err), qPrintable(err));
        if (after == QStringLiteral("drop")) {
            relay.drop();
        } else if (!after.isEmpty()) {
            QVERIFY(adminQuery(QString(after).arg(table)).isActive());
        }

        QList<SmsRow> rows;
        for (int i = 0; i < 3; ++i) {
            rows.append(testRow(QTest::currentDataTag(), i));
        }
        // The middle row differs in one field, given as field:value.
        const QMap<QString, QString*> fields{{"text", &rows[1].text},
                                             {"originator", &rows[1].originator},
                                             {"messageDate", &rows[1].messageDate}};
        if (fields.contains(badRow.section(QLatin1Char(':'), 0, 0))) {
            *fields.value(badRow.section(QLatin1Char(':'), 0, 0)) = badRow.section(QLatin1Char(':'), 1);
        }
        QList<RowFate> got;
        const bool allIn = Mysql5::insertBatch(rows, got, err);
        if (!undo.isEmpty()) {
            adminQuery(onTable(undo));
        }
        Mysql5::closeConn();
        Mysql5::setWaitSeconds(10);

        QVERIFY2(got == fates, qPrintable(QStringLiteral("fates differ; error: ") + err));
        QVERIFY2(err.contains(code), qPrintable(err));
        QCOMPARE(allIn, err.isEmpty());
        // Exactly the rows reported inserted are there, each once.
        QSqlQuery count = adminQuery(QStringLiteral("SELECT COUNT(*) FROM %1").arg(table));
        QVERIFY(count.next());
        QCOMPARE(count.value(0).toInt(), int(fates.count(RowFate::Inserted)));
    }

    // A hundred long messages are more than an old server takes in one request:
    // they go in several, all of them, each once.
    void longRowsSplitBelowThePacketLimit()
    {
        // Taken by sessions opened from now on; the other tests' rows are short.
        QVERIFY(adminQuery(QStringLiteral("SET GLOBAL max_allowed_packet = 1048576")).isActive());
        QString err;
        const bool opened = Mysql5::openConn(host, port, user, pwd, db, err);
        adminQuery(QStringLiteral("SET GLOBAL max_allowed_packet = DEFAULT"));
        QVERIFY2(opened, qPrintable(err));

        const QString tag = QStringLiteral("LONG-%1").arg(QCoreApplication::applicationPid());
        QList<SmsRow> rows;
        for (int i = 0; i < Mysql5::batchLimit(); ++i) {
            rows.append(testRow(tag, i));
            rows.last().text = QString::fromUtf8("长").repeated(255 * 30); // 23 KB of UTF-8 each
        }
        QList<RowFate> fates;
        QVERIFY2(Mysql5::insertBatch(rows, fates, err), qPrintable(err));
        QSqlQuery count = adminQuery(QStringLiteral("SELECT COUNT(DISTINCT originator) * 1000 + COUNT(*) "
                                                    "FROM smsserver_in WHERE gateway_id = '%1'")
                                         .arg(tag));
        QVERIFY(count.next());
        QCOMPARE(count.value(0).toInt(), rows.size() * 1001); // each once
        adminQuery(QStringLiteral("DELETE FROM smsserver_in WHERE gateway_id = '%1'").arg(tag));
    }

    // TLS: with the server's CA the link is encrypted, and opened only to a
    // server whose certificate chains to that CA and names the host the link
    // was opened to. The test server's certificate names 127.0.0.1 and
    // localhost; reached as 127.0.0.2 it is a certificate for another name.
    void tlsLink_data()
    {
        QTest::addColumn<QString>("ca");
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("opens"); // and encrypted
        QTest::addColumn<QString>("errorPart");
        const QString ca = qEnvironmentVariable("VLSMS_TEST_MYSQL_SSL_CA");
        QTest::newRow("the CA that signed the server, its own name: encrypted")
            << ca << "127.0.0.1" << true << "";
        QTest::newRow("a CA that did not sign the server: refused")
            << qEnvironmentVariable("VLSMS_TEST_MYSQL_SSL_OTHER_CA") << "127.0.0.1" << false << "SSL";
        QTest::newRow("a certificate made for another name: refused") << ca << "127.0.0.2" << false << "SSL";
    }

    void tlsLink()
    {
        QFETCH(QString, ca);
        QFETCH(QString, address);
        QFETCH(bool, opens);
        QFETCH(QString, errorPart);

        TcpRelay relay(static_cast<quint16>(port), address);
        QVERIFY(relay.port() != 0);
        const LinkSettings link{address, relay.port(), user, pwd, db, ca, QString(), QString()};
        QString err;
        QCOMPARE(Mysql5::openConn(link, err), opens);
        QVERIFY2(err.contains(errorPart, Qt::CaseInsensitive), qPrintable(err));
        QCOMPARE(!Mysql5::sslCipher().isEmpty(), opens);
    }

    // A batch committed whose answer was lost has an unknown fate; asked
    // afterwards, the server shows each of its rows once. A row asked twice
    // is found once, a row never sent is not, nor rows below the bound.
    void lostAnswerIsLookedUp()
    {
        TcpRelay relay(static_cast<quint16>(port));
        QCOMPARE(connectThrough(relay.port(), pwd, db), 2);
        const qint64 bound = Mysql5::linkInfo().idFloor;
        QVERIFY(bound >= 0);
        QList<SmsRow> rows;
        for (int i = 0; i < 3; ++i) {
            rows.append(testRow(QStringLiteral("LOST-%1").arg(QCoreApplication::applicationPid()), i));
        }
        rows[1].text = QStringLiteral("answer lost");
        relay.dropAnswerTo("answer lost");
        QList<RowFate> fates;
        QString err;
        QVERIFY(!Mysql5::insertBatch(rows, fates, err));
        QCOMPARE(fates, (QList<RowFate>{RowFate::Unknown, RowFate::Unknown, RowFate::Unknown}));

        Mysql5::closeConn();
        QCOMPARE(connectThrough(port, pwd, db), 2);
        QList<bool> found;
        const QList<SmsRow> asked = rows + QList<SmsRow>{rows.at(1), testRow(rows.at(0).gatewayId, 7)};
        QCOMPARE(Mysql5::findRows(asked, bound, found, err), Mysql5::Check::Done);
        QCOMPARE(found, (QList<bool>{true, true, true, false, false}));
        QCOMPARE(Mysql5::findRows(rows, Mysql5::linkInfo().idFloor, found, err), Mysql5::Check::Done);
        QCOMPARE(found, (QList<bool>{false, false, false}));
    }

    // gateway_id fits its column whatever the port name: a long name keeps
    // its end, the part that tells ports apart, after this host's name.
    void gatewayIdFitsTheColumn_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("port");
        QTest::addColumn<int>("width");
        QTest::addColumn<QString>("gatewayId");
        const QString byId =
            QStringLiteral("/dev/serial/by-id/usb-Quectel_Wireless_Solutions_EC25_0123-if02-port0");
        QTest::newRow("no gateway name, short port: as before") << ""
                                                                << "ttyUSB0" << 64 << "ttyUSB0";
        QTest::newRow("gateway name") << "hostA"
                                      << "ttyUSB0" << 64 << "hostA:ttyUSB0";
        QTest::newRow("port by its stable path") << "" << byId << 64 << byId.right(64);
        QTest::newRow("gateway name and a long path") << "hostA" << byId << 64 << "hostA:" + byId.right(58);
        QTest::newRow("gateway name longer than half the column")
            << QString(40, QLatin1Char('h')) << "COM3" << 20 << "hhhhhhhhh:COM3";
        QTest::newRow("characters outside the basic plane count once")
            << QString::fromUtf8("主机😀") << "ttyUSB12" << 8 << QString::fromUtf8("主机😀:SB12");
    }

    void gatewayIdFitsTheColumn()
    {
        QFETCH(QString, name);
        QFETCH(QString, port);
        QFETCH(int, width);
        QFETCH(QString, gatewayId);
        QCOMPARE(Mysql5::gatewayId(name, port, width), gatewayId);
    }

    void serverList_data()
    {
        QTest::addColumn<QString>("list");
        QTest::addColumn<QString>("servers");
        QTest::addColumn<int>("problems");
        QTest::newRow("one host, the default port") << "db.example.org"
                                                    << "db.example.org:3306" << 0;
        QTest::newRow("hosts with ports, blanks, a full-width comma")
            << QString::fromUtf8(" db1:3307 , db2，10.0.0.3:3308,") << "db1:3307 db2:3306 10.0.0.3:3308" << 0;
        QTest::newRow("IPv6 bare and in brackets") << "::1,[fe80::1]:3310"
                                                   << "[::1]:3306 [fe80::1]:3310" << 0;
        QTest::newRow("bad ports are left out") << "db1:0,db2:x,db3:70000,[::1]x,db4:"
                                                << "" << 5;
    }

    void serverList()
    {
        QFETCH(QString, list);
        QFETCH(QString, servers);
        QFETCH(int, problems);
        QStringList found;
        QStringList said;
        for (const ServerAddress& server : ServerAddress::parseList(list, 3306, &said)) {
            found.append(server.text());
        }
        QCOMPARE(found.join(QLatin1Char(' ')), servers);
        QCOMPARE(said.size(), problems);
    }
};

int TestMysql5::connectThrough(int toPort, const QString& password, const QString& dbName)
{
    QString error;
    return Mysql5::openConn(host, toPort, user, password, dbName, error) ? 2 : 3;
}

QSqlQuery TestMysql5::adminQuery(const QString& sql)
{
    QSqlQuery query(appfixture::adminDb());
    if (!query.exec(sql)) {
        qWarning("admin query failed: %s: %s", qPrintable(sql), qPrintable(query.lastError().text()));
    }
    return query;
}

QTEST_GUILESS_MAIN(TestMysql5)
#include "tst_mysql5.moc"
