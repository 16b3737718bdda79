// Forwarding speed on loopback against the server named by VLSMS_TEST_MYSQL_*:
// the test query, single inserts, and batches of up to 100 rows as the
// forwarder sends them (one test query, then one multi-row insert per batch),
// and the look-up of an unanswered batch of 100 rows among those inserted.
//
//   bench_mysql [messages]      (default 2000)
#include "mysql/mysql5.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QList>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTimer>

#include <cstdio>
#include <functional>

namespace {

double rate(int count, qint64 ns)
{
    return ns > 0 ? count * 1e9 / static_cast<double>(ns) : 0.0;
}

// Runs step count times and prints the rate; false at the first failure.
bool measure(const char* label, int count, const std::function<bool(int)>& step, const char* unit = "msg")
{
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < count; ++i) {
        if (!step(i)) {
            std::fprintf(stderr, "%s failed at message %d\n", label, i);
            return false;
        }
    }
    const qint64 ns = clock.nsecsElapsed();
    std::printf("%-22s %6d %-5s %8.1f ms  %8.1f %s/s  %6.3f ms/%s\n", label, count, unit, ns / 1e6,
                rate(count, ns), unit, ns / 1e6 / count, unit);
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? qMax(1, QByteArray(argv[1]).toInt()) : 2000;
    const QString host = qEnvironmentVariable("VLSMS_TEST_MYSQL_HOST");
    const int port = qEnvironmentVariableIntValue("VLSMS_TEST_MYSQL_PORT");
    if (host.isEmpty() || port <= 0) {
        std::fprintf(stderr,
                     "VLSMS_TEST_MYSQL_* is not set (tools/mariadb.sh test-start DIR; . DIR/env.sh)\n");
        return 2;
    }

    QElapsedTimer openClock;
    openClock.start();
    QString openError;
    if (!Mysql5::openConn(host, port, qEnvironmentVariable("VLSMS_TEST_MYSQL_USER"),
                          qEnvironmentVariable("VLSMS_TEST_MYSQL_PWD"),
                          qEnvironmentVariable("VLSMS_TEST_MYSQL_DB"), openError)) {
        std::fprintf(stderr, "no connection: %s\n", qPrintable(openError));
        return 1;
    }
    std::printf("open: %.1f ms\n", openClock.nsecsElapsed() / 1e6);
    qint64 bound = -1;
    QString floorError;
    Mysql5::readIdFloor(bound, floorError);

    const QString gateway = QStringLiteral("BENCH");
    const QString text = QString::fromUtf8("验证码：123456，五分钟内有效，请勿告诉他人。【银行】😀 ") +
                         QStringLiteral("Your verification code is 123456.");
    QString err;
    auto test = [&err](int) { return Mysql5::testConn(err); };
    auto insert = [&](int i) {
        return Mysql5::insertSms(QStringLiteral("13912345678"), gateway, QString::number(10086 + i),
                                 QStringLiteral("2026-12-06 09:50:20"), QStringLiteral("2026-12-06 09:50:21"),
                                 text, err);
    };
    auto forward = [&](int i) { return test(i) && insert(i); };
    QList<SmsRow> batch;
    for (int i = 0; i < Mysql5::batchLimit(); ++i) {
        SmsRow row;
        row.userPhone = QStringLiteral("13912345678");
        row.gatewayId = gateway;
        row.originator = QString::number(10086 + i);
        row.messageDate = QStringLiteral("2026-12-06 09:50:20");
        row.receiveDate = QStringLiteral("2026-12-06 09:50:21");
        row.text = text;
        batch.append(row);
    }
    // One step is one batch; the rate printed is batches, the rows follow.
    const int batches = qMax(1, count / Mysql5::batchLimit());
    auto forwardBatch = [&](int) {
        QList<RowFate> fates;
        return test(0) && Mysql5::insertBatch(batch, fates, err);
    };

    bool ok = measure("testConn", count, test) && measure("insertSms", count, insert) &&
              measure("testConn + insertSms", count, forward);
    QElapsedTimer batchClock;
    batchClock.start();
    ok = ok && measure("testConn + insertBatch", batches, forwardBatch, "batch");
    if (ok) {
        const qint64 ns = batchClock.nsecsElapsed();
        std::printf("%-22s %6d rows  %8.1f ms  %8.1f rows/s (batches of %d)\n", "batch rows",
                    batches * Mysql5::batchLimit(), ns / 1e6, rate(batches * Mysql5::batchLimit(), ns),
                    Mysql5::batchLimit());
    }
    // One row of the batch was never sent: the search reads every row
    // inserted above, all of them between the bound and the top.
    QList<SmsRow> asked = batch;
    asked.last().text = QStringLiteral("never sent");
    auto lookUp = [&](int) {
        QList<bool> found;
        return Mysql5::findRows(asked, bound, found, err) == Mysql5::Check::Done &&
               found.count(true) == asked.size() - 1;
    };
    ok = ok && measure("findRows, full range", 10, lookUp, "batch");
    if (!ok) {
        std::fprintf(stderr, "error: %s\n", qPrintable(err));
    }
    Mysql5::closeConn();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QMYSQL"), QStringLiteral("cleanup"));
        db.setHostName(host);
        db.setPort(port);
        db.setUserName(qEnvironmentVariable("VLSMS_TEST_MYSQL_USER"));
        db.setPassword(qEnvironmentVariable("VLSMS_TEST_MYSQL_PWD"));
        db.setDatabaseName(qEnvironmentVariable("VLSMS_TEST_MYSQL_DB"));
        if (db.open()) {
            QSqlQuery(db).exec(QStringLiteral("DELETE FROM smsserver_in WHERE gateway_id = 'BENCH'"));
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("cleanup"));
    return ok ? 0 : 1;
}
