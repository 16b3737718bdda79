// A backlog of complete messages waiting in the store when the MySQL link
// comes up, as after an outage: the real vlsmsd drains it into the test
// MariaDB. Prints messages per second, and the rows that arrived twice.
//
// Usage: bench_backlog [--messages 100000]
// Needs VLSMS_TEST_MYSQL_* (tools/mariadb.sh test-start DIR; . DIR/env.sh).

#include "core/databasebindquery.h"
#include "core/datadir.h"
#include "store/recvstore.h"
#include "support/pdubuilder.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSerialPortInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>

namespace {

QString env(const char* name)
{
    return qEnvironmentVariable(name);
}

QString ucs2Pdu(const QString& text)
{
    return PduBuilder::ucs2(QStringLiteral("8613912345678"), text);
}

QSqlDatabase admin()
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QMYSQL"), QStringLiteral("bench"));
    db.setHostName(env("VLSMS_TEST_MYSQL_HOST"));
    db.setPort(env("VLSMS_TEST_MYSQL_PORT").toInt());
    db.setUserName(env("VLSMS_TEST_MYSQL_USER"));
    db.setPassword(env("VLSMS_TEST_MYSQL_PWD"));
    db.setDatabaseName(env("VLSMS_TEST_MYSQL_DB"));
    db.open();
    return db;
}

int scalar(QSqlDatabase& db, const QString& sql)
{
    QSqlQuery query(db);
    return query.exec(sql) && query.next() ? query.value(0).toInt() : -1;
}

bool writeSettings(const QString& dataDir, const QString& database)
{
    QStringList machinePorts;
    const QList<QSerialPortInfo> infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& info : infos) {
        machinePorts << info.portName();
    }
    QDir().mkpath(dataDir);
    QFile ini(dataDir + "/settings.ini");
    if (!ini.open(QIODevice::WriteOnly)) {
        return false;
    }
    const QString text = "[General]\nDEF_IGNORE=\"" + machinePorts.join(',') +
                         "\"\nMYSQL_HOST=" + env("VLSMS_TEST_MYSQL_HOST") +
                         "\nMYSQL_PORT=" + env("VLSMS_TEST_MYSQL_PORT") +
                         "\nMYSQL_USER=" + env("VLSMS_TEST_MYSQL_USER") +
                         "\nMYSQL_PWD=" + env("VLSMS_TEST_MYSQL_PWD") + "\nMYSQL_DBNAME=" + database + "\n";
    return ini.write(text.toUtf8()) > 0;
}

// Fills the store in one transaction: one flush instead of one per message.
bool fillStore(int count)
{
    RecvStore store;
    if (!store.openLocalDb()) {
        return false;
    }
    // The queries end before the connection is closed.
    bool ok = false;
    {
        DatabaseBindQuery begin;
        begin.open(QStringLiteral("VLSMSDB"));
        begin.prepare(QStringLiteral("BEGIN"));
        ok = begin.exec();
    }
    for (int i = 0; i < count && ok; ++i) {
        ok = store.insertRecv(QStringLiteral("COM%1").arg(i % 64), QStringLiteral("IMEI"),
                              QStringLiteral("8986%1").arg(i % 64, 16, 10, QLatin1Char('0')),
                              ucs2Pdu(QStringLiteral("backlog %1 验证码").arg(i)));
    }
    {
        DatabaseBindQuery commit;
        commit.open(QStringLiteral("VLSMSDB"));
        commit.prepare(QStringLiteral("COMMIT"));
        ok = commit.exec() && ok;
    }
    ok = ok && store.countPending() == count;
    store.closeLocalDb();
    return ok;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int at = args.indexOf(QStringLiteral("--messages"));
    const int count = at >= 0 ? args.value(at + 1).toInt() : 100000;
    if (env("VLSMS_TEST_MYSQL_PORT").isEmpty()) {
        std::fprintf(stderr,
                     "VLSMS_TEST_MYSQL_* is not set (tools/mariadb.sh test-start DIR; . DIR/env.sh)\n");
        return 2;
    }
    QSqlDatabase db = admin();
    const QString database = QStringLiteral("vlsms_backlog_%1").arg(app.applicationPid());
    QSqlQuery setup(db);
    setup.exec("CREATE DATABASE " + database + " CHARACTER SET utf8mb4");
    setup.exec("CREATE TABLE " + database + ".smsserver_in LIKE " + env("VLSMS_TEST_MYSQL_DB") +
               ".smsserver_in");

    QTemporaryDir dir;
    const QString dataDir = dir.filePath(QStringLiteral("data"));
    setDataDirOverride(dataDir);
    QElapsedTimer fill;
    fill.start();
    if (!writeSettings(dataDir, database) || !fillStore(count)) {
        std::fprintf(stderr, "cannot fill the store\n");
        return 1;
    }
    std::printf("store filled with %d complete messages in %.1f s\n", count, fill.elapsed() / 1000.0);

    QProcess service;
    service.setWorkingDirectory(dir.path());
    service.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer clock;
    clock.start();
    service.start(QStringLiteral(VLSMSD_BIN), {QStringLiteral("--data-dir"), dataDir});
    if (!service.waitForStarted(10000)) {
        return 1;
    }
    const QString table = database + ".smsserver_in";
    int rows = 0;
    while (rows < count && clock.elapsed() < 600000 && service.state() == QProcess::Running) {
        QThread::msleep(100);
        rows = scalar(db, "SELECT COUNT(*) FROM " + table);
    }
    const double seconds = clock.elapsed() / 1000.0;
    QThread::msleep(1500); // anything sent twice would arrive now
    rows = scalar(db, "SELECT COUNT(*) FROM " + table);
    const int distinct = scalar(db, "SELECT COUNT(DISTINCT text) FROM " + table);
    service.terminate();
    service.waitForFinished(20000);
    QSqlQuery(db).exec("DROP DATABASE " + database);

    std::printf("drained %d of %d in %.1f s (start-up included): %.0f messages/s; %d rows arrived twice\n",
                rows, count, seconds, rows / seconds, rows - distinct);
    return rows == count && distinct == rows ? 0 : 1;
}
