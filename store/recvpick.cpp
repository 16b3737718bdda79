#include "config/mysetting.h"
#include "store/databasebindquery.h"
#include "store/myrecvsms.h"
#include "store/recvsql.h"

#include <QVariant>

namespace {

enum PickCode
{
    NotOpen = -1,
    OpenFailed = -2,
    PrepareFailed = -3,
    ExecFailed = -4,
    NoRow = -5
};

// Runs a statement up to exec; answers 0 or the negative code of the step that failed.
int runQuery(DatabaseBindQuery& query, const char* sql)
{
    if (!query.open(QString::fromLatin1(RecvSql::connName))) {
        return OpenFailed;
    }
    if (!query.prepare(QString::fromLatin1(sql))) {
        return PrepareFailed;
    }
    return 0;
}

int execQuery(DatabaseBindQuery& query)
{
    return query.exec() ? 0 : ExecFailed;
}

void deleteRecords(QList<MyRecvSms*>& list)
{
    qDeleteAll(list);
    list.clear();
}

} // namespace

bool MySetting::pickNext(QList<MyRecvSms*>& list)
{
    const int single = firstSingle();
    QString partId;
    QString simNo;
    QString sender;
    int partCount = 0;
    const int group = firstCompleteGroup(partId, simNo, sender, partCount);
    if (single < 0 && group < 0) {
        return false;
    }
    if (single >= 0 && (group < 0 || single < group)) {
        return readSingle(single, list);
    }
    return readGroup(partId, simNo, sender, partCount, list);
}

int MySetting::firstSingle()
{
    if (!localDbOpen) {
        return NotOpen;
    }
    DatabaseBindQuery query;
    int code = runQuery(query, RecvSql::firstSingle);
    if (code == 0) {
        code = execQuery(query);
    }
    if (code != 0) {
        return code;
    }
    return query.next() ? query.value(QStringLiteral("tow_id")).toInt() : NoRow;
}

int MySetting::firstCompleteGroup(QString& partId, QString& simNo, QString& sender, int& partCount)
{
    partId.clear();
    simNo.clear();
    sender.clear();
    partCount = 0;
    if (!localDbOpen) {
        return NotOpen;
    }
    DatabaseBindQuery query;
    int code = runQuery(query, RecvSql::firstCompleteGroup);
    if (code == 0) {
        code = execQuery(query);
    }
    if (code != 0) {
        return code;
    }
    if (!query.next()) {
        return NoRow;
    }
    partId = query.value(QStringLiteral("sms_part_id")).toString();
    simNo = query.value(QStringLiteral("sim_no")).toString();
    sender = query.value(QStringLiteral("sms_sender")).toString();
    partCount = query.value(QStringLiteral("sms_part_count")).toInt();
    return query.value(QStringLiteral("xid")).toInt();
}

bool MySetting::readSingle(int towId, QList<MyRecvSms*>& list)
{
    if (!localDbOpen) {
        return false;
    }
    DatabaseBindQuery query;
    if (runQuery(query, RecvSql::readSingle) != 0) {
        return false;
    }
    query.bindValue(0, towId);
    if (execQuery(query) != 0) {
        return false;
    }
    while (query.next()) {
        auto* sms = new MyRecvSms;
        sms->tow_id = towId;
        sms->port_no = query.value(QStringLiteral("port_no")).toString();
        sms->sim_no = query.value(QStringLiteral("sim_no")).toString();
        sms->recv_time = query.value(QStringLiteral("recv_time")).toLongLong();
        sms->sms_sender = query.value(QStringLiteral("sms_sender")).toString();
        sms->sms_stamp = query.value(QStringLiteral("sms_stamp")).toString();
        sms->sms_userdata_value = query.value(QStringLiteral("sms_userdata_value")).toString();
        sms->sms_codetype = query.value(QStringLiteral("sms_codetype")).toInt();
        sms->txt_pdu = query.value(QStringLiteral("txt_pdu")).toString();
        list.append(sms);
    }
    return true;
}

bool MySetting::readGroup(const QString& partId, const QString& simNo, const QString& sender, int partCount,
                          QList<MyRecvSms*>& list)
{
    if (!localDbOpen) {
        return false;
    }
    DatabaseBindQuery query;
    if (runQuery(query, RecvSql::readGroup) != 0) {
        return false;
    }
    query.bindValue(0, simNo);
    query.bindValue(1, sender);
    query.bindValue(2, partId);
    query.bindValue(3, partCount);
    if (execQuery(query) != 0) {
        return false;
    }
    while (query.next()) {
        auto* sms = new MyRecvSms;
        sms->tow_id = query.value(QStringLiteral("tow_id")).toInt();
        sms->port_no = query.value(QStringLiteral("port_no")).toString();
        sms->sim_no = query.value(QStringLiteral("sim_no")).toString();
        sms->recv_time = query.value(QStringLiteral("recv_time")).toLongLong();
        sms->sms_sender = query.value(QStringLiteral("sms_sender")).toString();
        sms->sms_stamp = query.value(QStringLiteral("sms_stamp")).toString();
        sms->sms_part_id = partId;
        sms->sms_part_index = query.value(QStringLiteral("sms_part_index")).toInt();
        sms->sms_part_count = query.value(QStringLiteral("sms_part_count")).toInt();
        sms->sms_userdata_value = query.value(QStringLiteral("sms_userdata_value")).toString();
        sms->sms_codetype = query.value(QStringLiteral("sms_codetype")).toInt();
        sms->txt_pdu = query.value(QStringLiteral("txt_pdu")).toString();
        list.append(sms);
    }
    return true;
}

bool MySetting::markHandled(int towId, int hdFlag)
{
    if (!localDbOpen) {
        return false;
    }
    DatabaseBindQuery query;
    if (runQuery(query, RecvSql::markHandled) != 0) {
        return false;
    }
    query.bindValue(0, hdFlag);
    query.bindValue(1, storeNow());
    query.bindValue(2, towId);
    return execQuery(query) == 0 && query.numRowsAffected() == 1;
}

bool MySetting::expireParts()
{
    if (!localDbOpen) {
        return false;
    }
    // A complete message waiting means forwarding is behind; its missing
    // parts may yet be among the waiting ones, so nothing expires now.
    QList<MyRecvSms*> waiting;
    const bool messageWaiting = pickNext(waiting);
    deleteRecords(waiting);
    if (messageWaiting) {
        return false;
    }
    {
        // Nothing expires before the first message has been forwarded.
        DatabaseBindQuery query;
        if (runQuery(query, RecvSql::lastHandledTime) != 0 || execQuery(query) != 0 || !query.next() ||
            query.value(QStringLiteral("hd_time")).toLongLong() < 1) {
            return false;
        }
    }
    const qint64 now = storeNow();
    DatabaseBindQuery query;
    if (runQuery(query, RecvSql::expireParts) != 0) {
        return false;
    }
    query.bindValue(0, storeNow());
    query.bindValue(1, now);
    return execQuery(query) == 0;
}
