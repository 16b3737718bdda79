#include "tools/modemsim/modembank.h"

#include <QDir>
#include <QProcess>
#include <QSerialPortInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include "support/appfixture.h"

using namespace appfixture;

namespace {

struct Expected
{
    QString text;
    QString originator;
    int modem;
};

// One text message of each coding-group family and of the national language
// tables, from 13912345678, and two messages that are stored but carry no
// text to forward.
const std::pair<const char*, const char*> codingCases[] = {
    {"0891683108200505F0040B813119325476F8001062216001030023154676788ED681F2EFBA1C347E93CB20DA2D1603",
     "Flash: your code 4711"},
    {"0891683108200505F0440B813119325476F80000622160010300231103240101D84CCBEBB21CB499A73773", "Şeker şiş"},
};
const char* const notText[] = {
    "0891683108200505F0040B813119325476F80004622160010300230568656C6C6F", // 8-bit data
};

} // namespace

// The real programs, the window (offscreen) and the service, against
// simulated modems on pseudo-terminals and the test MariaDB: every message
// delivered to a SIM arrives in smsserver_in exactly once, a second process on
// the same data directory is refused, and SIGTERM ends the process with exit
// code 0.
class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        database = QStringLiteral("vlsms_endtoend_%1").arg(QCoreApplication::applicationPid());
        makeTestDatabase(database);
    }

    void cleanupTestCase() { dropTestDatabases({database}); }

    void messagesTravelFromSimToMysql_data()
    {
        QTest::addColumn<bool>("service");
        QTest::newRow("the window") << false;
        QTest::newRow("the service") << true;
    }

    void messagesTravelFromSimToMysql()
    {
        QFETCH(bool, service);
        QSqlQuery(adminDb()).exec("DELETE FROM " + database + ".smsserver_in");
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
        expected.append({QString::fromUtf8(single7BitText), "13912345678", 0});
        bank.modem(1)->addMessage(alphaSender);
        expected.append({QString::fromUtf8(alphaSenderText), "MyBank", 1});
        bank.modem(2)->addMessage(concat7Parts[0]);
        expected.append({concat7Text(), "8613800000001", 2});
        // The same PDU on another SIM is another message.
        bank.modem(3)->addMessage(single7Bit);
        expected.append({expected.first().text, "13912345678", 3});
        for (const auto& [pdu, text] : codingCases) {
            bank.modem(3)->addMessage(pdu);
            expected.append({QString::fromUtf8(text), "13912345678", 3});
        }
        for (const char* pdu : notText) {
            bank.modem(3)->addMessage(pdu);
        }

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
        text +=
            "MYSQL_HOST=" + env("VLSMS_TEST_MYSQL_HOST") + "\nMYSQL_PORT=" + env("VLSMS_TEST_MYSQL_PORT") +
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
        const QStringList dataDirArgs{QStringLiteral("--data-dir"), appData + "/VLSMS"};
        if (service) {
            program.start(QStringLiteral(VLSMSD_BIN), dataDirArgs);
        } else {
            program.start(QStringLiteral(VLSMS_BIN), QStringList());
        }
        QVERIFY(program.waitForStarted(10000));
        // Runs the service's command line on the same data directory.
        auto serviceCommand = [&](const QStringList& args, QByteArray* out = nullptr) {
            QProcess command;
            command.start(QStringLiteral(VLSMSD_BIN), dataDirArgs + args);
            if (!command.waitForFinished(20000)) {
                return -1;
            }
            if (out != nullptr) {
                *out = command.readAllStandardOutput() + command.readAllStandardError();
            }
            return command.exitCode();
        };

        QSqlDatabase db = adminDb();
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
            query.prepare(
                "SELECT COUNT(*) FROM " + database +
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
        }

        // Messages without text stay in the store: forwarding goes oldest first,
        // and the last part stored has been forwarded, so nothing more arrives.
        QCOMPARE(rows(), expected.size());

        // The running instance reports its ports; a second one is refused.
        QByteArray status;
        QTRY_VERIFY_WITH_TIMEOUT(serviceCommand({QStringLiteral("--status")}, &status) == 0 &&
                                     status.contains(bank.portPaths().last().toUtf8()),
                                 15000);
        QByteArray refusal;
        QCOMPARE(serviceCommand({}, &refusal), 1);
        QVERIFY2(refusal.contains("already runs"), refusal.constData());

        program.terminate(); // SIGTERM: what a service manager or closing the window does
        QVERIFY(program.waitForFinished(20000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
    }

private:
    QString database;
};

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
