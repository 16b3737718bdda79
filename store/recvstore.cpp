#include "store/recvstore.h"

#include "core/clock.h"
#include "core/comlog.h"
#include "core/databasebindquery.h"
#include "core/datadir.h"
#include "pdu/gsmpdurecvdeliver.h"
#include "store/databasetable.h"
#include "store/myrecvsms.h"
#include "store/recvsql.h"

#include <QDateTime>
#include <QDebug>
#include <QVariant>

#include <algorithm>

namespace {

const qint64 storeEpoch = 1600000000;

QString conn()
{
    return QString::fromLatin1(RecvSql::connName);
}

QString sqlText(const char* sql)
{
    return QString::fromLatin1(sql);
}

// Qt binds a null QString as SQL NULL; the decoded columns hold empty text
// where the decoder found nothing.
QVariant textValue(const QString& text)
{
    return text.isNull() ? QVariant(QStringLiteral("")) : QVariant(text);
}

// Runs one statement of the schema set-up; the error text goes to errorText.
bool runSetup(const char* sql, QString& errorText)
{
    DatabaseBindQuery query;
    if (!query.open(conn()) || !query.prepare(sqlText(sql)) || !query.exec()) {
        errorText = query.errorText();
        if (errorText.isEmpty()) {
            errorText = QStringLiteral("no connection");
        }
        return false;
    }
    return true;
}

// Answers 0 or 1 for "is the table there", -1 when the file cannot be read.
int probeTable(QString& errorText)
{
    DatabaseBindQuery query;
    if (!query.open(conn()) ||
        !query.prepare(QStringLiteral("SELECT count(*) AS num FROM sqlite_master WHERE type='table' AND "
                                      "name='t_recv'")) ||
        !query.exec() || !query.next()) {
        errorText = query.errorText();
        return -1;
    }
    return query.value(QStringLiteral("num")).toInt() > 0 ? 1 : 0;
}

// An accepted message must survive a crash of the program or of the machine
// right after the insert: the modem deletes its copy from the SIM once the
// store has it. The write-ahead log costs one flush per commit.
void setDurability()
{
    DatabaseBindQuery mode;
    if (mode.open(conn()) && mode.prepare(QStringLiteral("PRAGMA journal_mode=WAL")) && mode.exec() &&
        mode.next()) {
        const QString result = mode.value(QStringLiteral("journal_mode")).toString();
        if (result.compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0) {
            qDebug("sms-r.db: write-ahead log not available, journal mode %s", result.toUtf8().constData());
        }
    }
    QString ignored;
    runSetup("PRAGMA synchronous=FULL", ignored);
}

int readCount(const char* sql)
{
    DatabaseBindQuery query;
    if (!query.open(conn()) || !query.prepare(sqlText(sql)) || !query.exec()) {
        return -1;
    }
    if (!query.next()) {
        return 0;
    }
    return query.value(QStringLiteral("num")).toInt();
}

// Adds the text column to a file that lacks it, keeping the fate of its rows.
bool ensureTextColumn(QString& errorText)
{
    const int present = readCount(RecvSql::hasTextColumn);
    if (present < 0) {
        errorText = QStringLiteral("cannot read the columns of t_recv");
        return false;
    }
    return present > 0 ||
           (runSetup(RecvSql::addTextColumn, errorText) && runSetup(RecvSql::markWaitingText, errorText) &&
            runSetup(RecvSql::dropWaitBeforeText, errorText) &&
            runSetup(RecvSql::dropPartsBeforeText, errorText));
}

// Creates what a new file lacks and adds the lookup structures to any file,
// all in one transaction so that a failure leaves the file as it was.
bool prepareSchema(bool tableThere, QString& errorText)
{
    if (!runSetup("BEGIN IMMEDIATE", errorText)) {
        return false;
    }
    bool ok = true;
    if (!tableThere) {
        ok = runSetup(RecvSql::createTable, errorText) && runSetup(RecvSql::createUnique, errorText);
    } else {
        QString indexError;
        if (!runSetup(RecvSql::ensureUnique, indexError)) {
            // Rows stored twice before the index existed keep it from being
            // made; the store still works, it just cannot refuse duplicates.
            qDebug("sms-r.db: unique index t_recv_un1 cannot be made: %s", indexError.toUtf8().constData());
        }
    }
    ok = ok && ensureTextColumn(errorText);
    const char* const lookups[] = {
        RecvSql::indexWait,          RecvSql::indexParts,         RecvSql::indexDone,
        RecvSql::indexUndecodable,   RecvSql::indexFailed,        RecvSql::createTotal,
        RecvSql::triggerTotalInsert, RecvSql::triggerTotalDelete, RecvSql::triggerTotalUpdate};
    for (const char* sql : lookups) {
        if (!ok) {
            break;
        }
        ok = runSetup(sql, errorText);
    }
    if (ok) {
        const int rows = readCount(RecvSql::hasTotal);
        if (rows < 0) {
            errorText = QStringLiteral("cannot read t_recv_total");
            ok = false;
        } else if (rows == 0) {
            ok = runSetup(RecvSql::seedTotal, errorText);
        }
    }
    if (ok && runSetup("COMMIT", errorText)) {
        return true;
    }
    QString ignored;
    runSetup("ROLLBACK", ignored);
    return false;
}

// The cut of a modem answer down to its PDU line: the last line that holds
// anything, so that a line end after the PDU does not leave an empty text.
QString storedPdu(const QString& pdu)
{
    if (!pdu.contains(QLatin1Char('\r'))) {
        return pdu;
    }
    const QStringList lines = pdu.split(QLatin1Char('\r'));
    for (auto line = lines.crbegin(); line != lines.crend(); ++line) {
        const QString text = line->trimmed();
        if (!text.isEmpty()) {
            return text;
        }
    }
    return QString();
}

// The one value of the newest matching row; invalid when there is none or
// the query failed.
QVariant newestValue(const char* sql, const QString& column)
{
    DatabaseBindQuery query;
    if (!query.open(conn()) || !query.prepare(sqlText(sql)) || !query.exec() || !query.next()) {
        return QVariant();
    }
    return query.value(column);
}

} // namespace

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

bool RecvStore::openLocalDb()
{
    ensureDataDir();
    const QString path = dataDir() + QLatin1String(RecvSql::fileName);
    QString error;
    bool ok = DatabaseTable::openDb(path, conn(), error);
    if (ok) {
        const int tableThere = probeTable(error);
        ok = tableThere >= 0;
        if (ok) {
            setDurability();
            ok = prepareSchema(tableThere == 1, error);
        }
        if (!ok) {
            // Release the file: nothing here may write to a file it could not read.
            DatabaseTable::closeDb(conn());
        }
    }
    localDbOpen = ok;
    if (ok) {
        localDbOpenError.clear();
        return true;
    }
    if (error.trimmed().isEmpty()) {
        error = QStringLiteral("unknown error");
    }
    localDbOpenError = error.trimmed();
    // The operator must learn of a store that cannot take messages, whatever
    // the log level says.
    const QString line =
        QStringLiteral("LOCAL DB OPEN FAILED: ") + path + QStringLiteral(" - ") + localDbOpenError;
    qWarning("%s", line.toUtf8().constData());
    ComLog mainLog;
    mainLog.open(QStringLiteral("comlog-main.txt"));
    mainLog.write(line.toUtf8());
    return false;
}

void RecvStore::closeLocalDb()
{
    DatabaseTable::closeDb(conn());
    localDbOpen = false;
}

bool RecvStore::insertRecv(const QString& portNo, const QString& devNo, const QString& simNo,
                           const QString& pdu)
{
    return insertRecvOutcome(portNo, devNo, simNo, pdu) == InsertOutcome::Stored;
}

RecvStore::InsertOutcome RecvStore::insertRecvOutcome(const QString& portNo, const QString& devNo,
                                                      const QString& simNo, const QString& pdu)
{
    if (!localDbOpen || portNo.isEmpty() || devNo.isEmpty() || simNo.isEmpty() || pdu.isEmpty()) {
        return InsertOutcome::Failed;
    }
    const QString txtPdu = storedPdu(pdu);
    if (txtPdu.isEmpty()) {
        qDebug("insert - no PDU in the text: [%s]", pdu.toUtf8().constData());
        return InsertOutcome::Failed;
    }

    GsmPduRecvDeliver deliver;
    const bool decoded = deliver.decode(txtPdu);
    const int type = deliver.messageType();
    // A message that cannot be read is kept as it came, never forwarded:
    // junk must not reach smsserver_in, and the PDU must not be lost.
    const bool undecodable = type == 0 && !decoded;
    if (undecodable) {
        qWarning("sms-r.db: undecodable PDU from %s (SIM %s) kept, not forwarded: %s", qUtf8Printable(portNo),
                 qUtf8Printable(simNo), qUtf8Printable(txtPdu.left(400)));
    }

    DatabaseBindQuery query;
    if (!query.open(conn())) {
        return InsertOutcome::Failed;
    }
    // The inserts start with the same six values; a decoded one adds the fields.
    const char* sql = undecodable ? RecvSql::insertUndecodable
                      : type != 0 ? RecvSql::insertRaw
                                  : RecvSql::insertDecoded;
    if (!query.prepare(sqlText(sql))) {
        writeError = query.errorText().trimmed();
        return InsertOutcome::Failed;
    }
    query.bindValue(0, portNo);
    query.bindValue(1, devNo);
    query.bindValue(2, simNo);
    query.bindValue(3, txtPdu);
    query.bindValue(4, storeNow());
    query.bindValue(5, type);
    if (type == 0 && !undecodable) {
        query.bindValue(6, deliver.pid);
        query.bindValue(7, textValue(deliver.sender));
        query.bindValue(8, textValue(deliver.stampText()));
        query.bindValue(9, deliver.codeGroup());
        query.bindValue(10, deliver.codeType());
        query.bindValue(11, deliver.partType);
        query.bindValue(12, textValue(deliver.partId));
        query.bindValue(13, deliver.partIndex);
        query.bindValue(14, deliver.partCount);
        query.bindValue(15, textValue(deliver.udh));
        query.bindValue(16, textValue(deliver.ud));
        query.bindValue(17, deliver.forwardable() ? 1 : 0);
    }
    if (query.exec()) {
        return query.numRowsAffected() == 1 ? InsertOutcome::Stored : InsertOutcome::Failed;
    }

    // Most refusals are the unique index: the same message read off the SIM
    // again. Anything else (a full disk, a damaged file) is a failure.
    DatabaseBindQuery lookup;
    if (lookup.open(conn()) && lookup.prepare(sqlText(RecvSql::isStored))) {
        lookup.bindValue(0, simNo);
        lookup.bindValue(1, txtPdu);
        if (lookup.exec() && lookup.next()) {
            return InsertOutcome::AlreadyStored;
        }
    }
    writeError = query.errorText().trimmed();
    return InsertOutcome::Failed;
}

int RecvStore::countAll()
{
    return localDbOpen ? readCount(RecvSql::countAll) : -1;
}

int RecvStore::countUndecodable()
{
    return localDbOpen ? readCount(RecvSql::countUndecodable) : -1;
}

int RecvStore::countPending()
{
    return localDbOpen ? readCount(RecvSql::countPending) : -1;
}

QString RecvStore::lastSender()
{
    const QVariant value =
        localDbOpen ? newestValue(RecvSql::lastSender, QStringLiteral("sms_sender")) : QVariant();
    return value.isValid() ? value.toString() : QStringLiteral("-");
}

QString RecvStore::lastRecvTime()
{
    const QVariant value =
        localDbOpen ? newestValue(RecvSql::lastRecvTime, QStringLiteral("recv_time")) : QVariant();
    return value.isValid() ? timeText(value.toLongLong()) : QStringLiteral("-");
}

QString RecvStore::lastHandledTime()
{
    const QVariant value =
        localDbOpen ? newestValue(RecvSql::lastHandledTime, QStringLiteral("hd_time")) : QVariant();
    return value.isValid() ? timeText(value.toLongLong()) : QStringLiteral("-");
}

qint64 RecvStore::storeNow()
{
    return AppClock::nowMs() / 1000 - storeEpoch;
}

QString RecvStore::timeText(qint64 storeTime)
{
    return QDateTime::fromSecsSinceEpoch(storeTime + storeEpoch)
        .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

bool RecvStore::pickNext(QList<MyRecvSms*>& list)
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

int RecvStore::firstSingle()
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

int RecvStore::firstCompleteGroup(QString& partId, QString& simNo, QString& sender, int& partCount)
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

bool RecvStore::readSingle(int towId, QList<MyRecvSms*>& list)
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

bool RecvStore::readGroup(const QString& partId, const QString& simNo, const QString& sender, int partCount,
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

bool RecvStore::markHandled(int towId, int hdFlag)
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

bool RecvStore::pickBatch(int max, QList<QList<MyRecvSms*>>& messages)
{
    if (!localDbOpen || max < 1) {
        return false;
    }
    struct Head
    {
        int firstId;
        QString partId;
        QString simNo;
        QString sender;
        int partCount; // 0 for a single
    };
    QList<Head> heads;
    DatabaseBindQuery singles;
    if (runQuery(singles, RecvSql::firstSingles) != 0) {
        return false;
    }
    singles.bindValue(0, max);
    if (execQuery(singles) != 0) {
        return false;
    }
    while (singles.next()) {
        heads.append({singles.value(QStringLiteral("tow_id")).toInt(), QString(), QString(), QString(), 0});
    }
    DatabaseBindQuery groups;
    if (runQuery(groups, RecvSql::firstCompleteGroups) != 0) {
        return false;
    }
    groups.bindValue(0, max);
    if (execQuery(groups) != 0) {
        return false;
    }
    while (groups.next()) {
        heads.append({groups.value(QStringLiteral("xid")).toInt(),
                      groups.value(QStringLiteral("sms_part_id")).toString(),
                      groups.value(QStringLiteral("sim_no")).toString(),
                      groups.value(QStringLiteral("sms_sender")).toString(),
                      groups.value(QStringLiteral("sms_part_count")).toInt()});
    }
    std::sort(heads.begin(), heads.end(), [](const Head& a, const Head& b) { return a.firstId < b.firstId; });
    bool ok = true;
    for (int i = 0; i < heads.size() && i < max && ok; ++i) {
        const Head& head = heads.at(i);
        QList<MyRecvSms*> parts;
        ok = head.partCount == 0 ? readSingle(head.firstId, parts)
                                 : readGroup(head.partId, head.simNo, head.sender, head.partCount, parts);
        if (!parts.isEmpty()) {
            messages.append(parts);
        }
    }
    return ok;
}

bool RecvStore::markBatch(const QList<int>& towIds, int hdFlag)
{
    if (!localDbOpen) {
        return false;
    }
    QString error;
    if (!runSetup("BEGIN IMMEDIATE", error)) {
        return false;
    }
    bool ok = true;
    for (int id : towIds) {
        ok = ok && markHandled(id, hdFlag);
    }
    if (ok && runSetup("COMMIT", error)) {
        return true;
    }
    runSetup("ROLLBACK", error);
    return false;
}

bool RecvStore::expireParts()
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

int RecvStore::countFailed()
{
    return localDbOpen ? readCount(RecvSql::countFailed) : -1;
}

int RecvStore::requeueFailed()
{
    if (!localDbOpen) {
        return -1;
    }
    DatabaseBindQuery query;
    if (runQuery(query, RecvSql::requeueFailed) != 0 || execQuery(query) != 0) {
        return -1;
    }
    return query.numRowsAffected();
}
