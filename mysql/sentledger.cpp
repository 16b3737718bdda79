#include "mysql/sentledger.h"

#include "core/databasebindquery.h"
#include "store/recvsql.h"

#include <QStringList>

namespace {

const char createTable[] =
    "CREATE TABLE IF NOT EXISTS t_sent (sent_no INTEGER PRIMARY KEY, sent_bound INTEGER NOT NULL, "
    "sent_tow_ids TEXT NOT NULL, sent_gateway TEXT NOT NULL, sent_originator TEXT NOT NULL, "
    "sent_message_date TEXT NOT NULL, sent_receive_date TEXT NOT NULL, sent_text TEXT NOT NULL, "
    "sent_userphone TEXT NOT NULL)";
const char insertRow[] = "INSERT INTO t_sent (sent_no, sent_bound, sent_tow_ids, sent_gateway, "
                         "sent_originator, sent_message_date, "
                         "sent_receive_date, sent_text, sent_userphone) VALUES (?,?,?,?,?,?,?,?,?)";
const char selectRows[] =
    "SELECT sent_bound, sent_tow_ids, sent_gateway, sent_originator, sent_message_date, sent_receive_date, "
    "sent_text, sent_userphone FROM t_sent ORDER BY sent_no";

bool run(const char* sql)
{
    DatabaseBindQuery query;
    return query.open(QString::fromLatin1(RecvSql::connName)) && query.prepare(QString::fromLatin1(sql)) &&
           query.exec();
}

QVariant text(const QString& value)
{
    return value.isNull() ? QVariant(QStringLiteral("")) : QVariant(value);
}

bool insert(int no, const SmsRow& row, qint64 bound)
{
    QStringList towIds;
    for (int id : row.towIds) {
        towIds.append(QString::number(id));
    }
    DatabaseBindQuery query;
    if (!query.open(QString::fromLatin1(RecvSql::connName)) ||
        !query.prepare(QString::fromLatin1(insertRow))) {
        return false;
    }
    const QVariant values[] = {no,
                               bound,
                               towIds.join(QLatin1Char(',')),
                               text(row.gatewayId),
                               text(row.originator),
                               text(row.messageDate),
                               text(row.receiveDate),
                               text(row.text),
                               text(row.userPhone)};
    for (int i = 0; i < int(sizeof(values) / sizeof(values[0])); ++i) {
        query.bindValue(i, values[i]);
    }
    return query.exec();
}

} // namespace

bool SentLedger::record(const QList<SmsRow>& rows, qint64 bound)
{
    if (!run(createTable) || !run("BEGIN IMMEDIATE")) {
        return false;
    }
    bool ok = run("DELETE FROM t_sent");
    for (int i = 0; ok && i < rows.size(); ++i) {
        ok = insert(i, rows.at(i), bound);
    }
    if (ok && run("COMMIT")) {
        return true;
    }
    run("ROLLBACK");
    return false;
}

bool SentLedger::load(QList<SmsRow>& rows, qint64& bound)
{
    rows.clear();
    bound = -1;
    DatabaseBindQuery query;
    if (!run(createTable) || !query.open(QString::fromLatin1(RecvSql::connName)) ||
        !query.prepare(QString::fromLatin1(selectRows)) || !query.exec()) {
        return false;
    }
    while (query.next()) {
        SmsRow row;
        for (const QString& id :
             query.value(QStringLiteral("sent_tow_ids")).toString().split(QLatin1Char(','))) {
            bool isNumber = false;
            const int towId = id.toInt(&isNumber);
            if (isNumber) {
                row.towIds.append(towId);
            }
        }
        row.gatewayId = query.value(QStringLiteral("sent_gateway")).toString();
        row.originator = query.value(QStringLiteral("sent_originator")).toString();
        row.messageDate = query.value(QStringLiteral("sent_message_date")).toString();
        row.receiveDate = query.value(QStringLiteral("sent_receive_date")).toString();
        row.text = query.value(QStringLiteral("sent_text")).toString();
        row.userPhone = query.value(QStringLiteral("sent_userphone")).toString();
        bound = query.value(QStringLiteral("sent_bound")).toLongLong();
        rows.append(row);
    }
    return true;
}

bool SentLedger::clear()
{
    return run(createTable) && run("DELETE FROM t_sent");
}
