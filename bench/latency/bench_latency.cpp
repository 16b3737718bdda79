// The time from a message entering a SIM to its row in smsserver_in, the way
// an operator waiting for a one-time code sees it.
//
// The simulated modems live in this process; the real vlsmsd runs beside it
// against them and the test MariaDB. Messages arrive at random moments
// (exponential gaps), each on a random modem with "+CMTI" announced, each
// with a text of its own; the rows are polled every 5 ms and matched by text.
// Prints p50, p90, p95, p99 and the maximum, the share above 0.1 s, the
// messages missing or repeated, and the CPU time vlsmsd used.
//
// Usage: bench_latency [--modems 64] [--messages 640] [--rate 20] [--speed 200] [--idle 0]
//   --rate: messages per second over the whole bank.
//   --idle: seconds of nothing arriving first: CPU and peak memory of vlsmsd.
// Needs VLSMS_TEST_MYSQL_* (tools/mariadb.sh test-start DIR; . DIR/env.sh).

#include "support/pdubuilder.h"
#include "tools/modemsim/modembank.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QRandomGenerator>
#include <QSerialPortInfo>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

QString env(const char* name)
{
    return qEnvironmentVariable(name);
}

int option(const QStringList& args, const QString& name, int fallback)
{
    const int at = args.indexOf(name);
    return at >= 0 && at + 1 < args.size() ? args.at(at + 1).toInt() : fallback;
}

// An SMS-DELIVER in UCS2 from a fixed sender, with the text given.
QByteArray deliverPdu(const QString& text)
{
    return PduBuilder::ucs2(QStringLiteral("8613912345678"), text).toLatin1();
}

double percentile(QVector<double> values, double p)
{
    if (values.isEmpty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const int index = qBound(0, int(std::ceil(p * values.size())) - 1, values.size() - 1);
    return values.at(index);
}

bool makeDatabase(const QString& name)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QMYSQL"), QStringLiteral("bench"));
    db.setHostName(env("VLSMS_TEST_MYSQL_HOST"));
    db.setPort(env("VLSMS_TEST_MYSQL_PORT").toInt());
    db.setUserName(env("VLSMS_TEST_MYSQL_USER"));
    db.setPassword(env("VLSMS_TEST_MYSQL_PWD"));
    db.setDatabaseName(env("VLSMS_TEST_MYSQL_DB"));
    if (!db.open()) {
        std::fprintf(stderr, "no database: %s\n", qPrintable(db.lastError().text()));
        return false;
    }
    QSqlQuery query(db);
    query.exec("DROP DATABASE IF EXISTS " + name);
    return query.exec("CREATE DATABASE " + name + " CHARACTER SET utf8mb4") &&
           query.exec("CREATE TABLE " + name + ".smsserver_in LIKE " + env("VLSMS_TEST_MYSQL_DB") +
                      ".smsserver_in");
}

bool writeSettings(const QString& dataDir, const QStringList& ports, const QString& database, int speed)
{
    QDir().mkpath(dataDir);
    QFile ini(dataDir + "/settings.ini");
    if (!ini.open(QIODevice::WriteOnly)) {
        return false;
    }
    QString text = QStringLiteral("[General]\nDEF_SPEED=%1\n").arg(speed);
    // Only the simulated modems are served.
    QStringList machinePorts;
    const QList<QSerialPortInfo> infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& info : infos) {
        machinePorts << info.portName();
    }
    text += "DEF_IGNORE=\"" + machinePorts.join(',') + "\"\n";
    text += "DEF_EXTRA_PORTS=\"" + ports.join(',') + "\"\n";
    text += "MYSQL_HOST=" + env("VLSMS_TEST_MYSQL_HOST") + "\nMYSQL_PORT=" + env("VLSMS_TEST_MYSQL_PORT") +
            "\nMYSQL_USER=" + env("VLSMS_TEST_MYSQL_USER") + "\nMYSQL_PWD=" + env("VLSMS_TEST_MYSQL_PWD") +
            "\nMYSQL_DBNAME=" + database + "\n";
    return ini.write(text.toUtf8()) > 0;
}

// Peak resident memory of a process in MB, from /proc.
double peakRssMb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:")) {
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
        }
    }
    return -1;
}

// CPU seconds (user + system) of a process, from /proc.
double cpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) {
        return -1;
    }
    const QList<QByteArray> fields = stat.readAll().split(')').value(1).trimmed().split(' ');
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) / 100.0;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int modems = option(args, QStringLiteral("--modems"), 64);
    const int messages = option(args, QStringLiteral("--messages"), 640);
    const int rate = qMax(1, option(args, QStringLiteral("--rate"), 20));
    const int speed = option(args, QStringLiteral("--speed"), 200);
    const int idle = option(args, QStringLiteral("--idle"), 0);
    if (env("VLSMS_TEST_MYSQL_PORT").isEmpty()) {
        std::fprintf(stderr,
                     "VLSMS_TEST_MYSQL_* is not set (tools/mariadb.sh test-start DIR; . DIR/env.sh)\n");
        return 2;
    }
    const QString database = QStringLiteral("vlsms_latency_%1").arg(app.applicationPid());
    QTemporaryDir dir;
    ModemBank bank;
    QString error;
    if (!makeDatabase(database) || !bank.start(modems, dir.filePath(QStringLiteral("modems")), &error) ||
        !writeSettings(dir.filePath(QStringLiteral("data")), bank.portPaths(), database, speed)) {
        std::fprintf(stderr, "set-up failed: %s\n", qPrintable(error));
        return 1;
    }
    QProcess service;
    service.setWorkingDirectory(dir.path());
    service.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    service.start(QStringLiteral(VLSMSD_BIN),
                  {QStringLiteral("--data-dir"), dir.filePath(QStringLiteral("data"))});
    if (!service.waitForStarted(10000)) {
        return 1;
    }
    // Let every worker come up before the clock starts.
    QTest::qWait(3000 + modems * 60);
    if (idle > 0) {
        const double idleBefore = cpuSeconds(service.processId());
        QTest::qWait(idle * 1000);
        const double idleCpu = cpuSeconds(service.processId()) - idleBefore;
        std::printf("idle %d s with %d modems: CPU %.2f s (%.1f %% of one core), peak RSS %.1f MB\n", idle,
                    modems, idleCpu, 100.0 * idleCpu / idle, peakRssMb(service.processId()));
    }
    const double cpuBefore = cpuSeconds(service.processId());

    QSqlDatabase db = QSqlDatabase::database(QStringLiteral("bench"));
    QHash<QString, qint64> sentAt;
    QVector<double> latencies;
    QSet<QString> arrived;
    int duplicates = 0;
    int unknown = 0;
    QElapsedTimer clock;
    clock.start();
    qint64 nextSend = 0;
    qint64 lastId = 0;
    int sent = 0;
    const qint64 deadline = qint64(messages) * 1000 / rate + 120000;
    while (latencies.size() < messages && clock.elapsed() < deadline) {
        while (sent < messages && clock.elapsed() >= nextSend) {
            const QString text = QStringLiteral("code %1").arg(sent);
            bank.modem(QRandomGenerator::global()->bounded(modems))->addMessage(deliverPdu(text));
            sentAt.insert(text, clock.elapsed());
            ++sent;
            nextSend += qint64(-std::log(1.0 - QRandomGenerator::global()->generateDouble()) * 1000.0 / rate);
        }
        QSqlQuery rows(db);
        rows.exec(
            QStringLiteral("SELECT id, text FROM %1.smsserver_in WHERE id > %2").arg(database).arg(lastId));
        while (rows.next()) {
            lastId = qMax(lastId, rows.value(0).toLongLong());
            const QString text = QString::fromUtf8(rows.value(1).toByteArray());
            const auto at = sentAt.constFind(text);
            if (at == sentAt.constEnd()) {
                ++unknown;
            } else if (arrived.contains(text)) {
                ++duplicates;
            } else {
                arrived.insert(text);
                latencies.append((clock.elapsed() - at.value()) / 1000.0);
            }
        }
        QTest::qWait(5);
    }
    const double cpu = cpuSeconds(service.processId()) - cpuBefore;
    const double rss = peakRssMb(service.processId());
    const double seconds = clock.elapsed() / 1000.0;
    service.terminate();
    service.waitForFinished(20000);
    // The rows that came after the last poll, up to the service's stop: a
    // message sent twice may show only here.
    QSqlQuery late(db);
    late.exec(QStringLiteral("SELECT text FROM %1.smsserver_in WHERE id > %2").arg(database).arg(lastId));
    while (late.next()) {
        const QString text = QString::fromUtf8(late.value(0).toByteArray());
        if (arrived.contains(text)) {
            ++duplicates;
        } else if (sentAt.contains(text)) {
            arrived.insert(text);
        } else {
            ++unknown;
        }
    }
    QSqlQuery(db).exec("DROP DATABASE IF EXISTS " + database);
    std::printf("modems %d, DEF_SPEED %d ms, %d messages at %d/s: %d arrived, %d missing, %d repeated rows, "
                "%d unknown rows\n",
                modems, speed, sent, rate, int(arrived.size()), sent - int(arrived.size()), duplicates,
                unknown);
    std::printf("SIM -> smsserver_in: p50 %.3f s, p90 %.3f s, p95 %.3f s, p99 %.3f s, max %.3f s\n",
                percentile(latencies, 0.5), percentile(latencies, 0.9), percentile(latencies, 0.95),
                percentile(latencies, 0.99), percentile(latencies, 1.0));
    const int slow = int(std::count_if(latencies.cbegin(), latencies.cend(), [](double s) { return s > 0.1; }));
    std::printf("over 0.1 s: %d of %d (%.1f %%)\n", slow, int(latencies.size()),
                latencies.isEmpty() ? 0.0 : 100.0 * slow / latencies.size());
    std::printf("vlsmsd CPU: %.1f s in %.1f s (%.1f %% of one core), peak RSS %.1f MB\n", cpu, seconds,
                100.0 * cpu / seconds, rss);
    return latencies.size() == messages && duplicates == 0 && unknown == 0 ? 0 : 1;
}
