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

// SQLite's answers for a lock held elsewhere, SQLITE_BUSY and SQLITE_LOCKED,
// with or without their extended codes.
bool isBusy(const DatabaseBindQuery& query)
{
    bool number = false;
    const int code = query.errorCode().toInt(&number);
    return number && ((code & 0xFF) == 5 || (code & 0xFF) == 6);
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

// An accepted message must survive a crash of the program or of the machine
// right after the insert: the modem deletes its copy from the SIM once the
// store has it. The write-ahead log costs one flush per commit; it also lets
// the store be read while another process holds the write lock.
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
    DatabaseBindQuery synchronous;
    if (synchronous.open(conn()) && synchronous.prepare(QStringLiteral("PRAGMA synchronous=FULL"))) {
        synchronous.exec();
    }
}

void warnUndecodable(const QString& portNo, const QString& simNo, const QString& pdu)
{
    qWarning("sms-r.db: undecodable PDU from %s (SIM %s) kept, not forwarded: %s", qUtf8Printable(portNo),
             qUtf8Printable(simNo), qUtf8Printable(pdu.left(400)));
}

void deleteRecords(QList<MyRecvSms*>& list)
{
    qDeleteAll(list);
    list.clear();
}

} // namespace

// --- statements -------------------------------------------------------------

bool RecvStore::prepare(DatabaseBindQuery& query, const char* sql)
{
    if (!query.open(conn())) {
        return false;
    }
    // While another process holds the lock, refusals are expected; the
    // controller reports the lock once.
    query.setQuiet(locked);
    if (!query.prepare(sqlText(sql))) {
        noteRefusal(query);
        return false;
    }
    return true;
}

// A write that goes through shows that nobody holds the lock any more.
bool RecvStore::exec(DatabaseBindQuery& query, bool writes)
{
    if (!query.exec()) {
        noteRefusal(query);
        return false;
    }
    if (writes && locked) {
        setLocked(false);
    }
    return true;
}

void RecvStore::noteRefusal(const DatabaseBindQuery& query)
{
    if (isBusy(query) && !locked) {
        setLocked(true);
    }
}

// While locked, statements do not wait at all: one caller has waited
// already, and the lock is known to be there.
void RecvStore::setLocked(bool on)
{
    locked = on;
    DatabaseBindQuery wait;
    const QString sql = QStringLiteral("PRAGMA busy_timeout=%1").arg(on ? 0 : busyWaitMs);
    if (wait.open(conn()) && wait.prepare(sql)) {
        wait.exec();
    }
}

bool RecvStore::setUp(const char* sql, QString& errorText, bool writes)
{
    DatabaseBindQuery query;
    if (!prepare(query, sql) || !exec(query, writes)) {
        errorText = query.errorText();
        if (errorText.isEmpty()) {
            errorText = QStringLiteral("no connection");
        }
        return false;
    }
    return true;
}

int RecvStore::readCount(const char* sql)
{
    DatabaseBindQuery query;
    if (!prepare(query, sql) || !exec(query)) {
        return -1;
    }
    if (!query.next()) {
        return 0;
    }
    return query.value(QStringLiteral("num")).toInt();
}

// The one value of the newest matching row; invalid when there is none or
// the query failed.
QVariant RecvStore::newestValue(const char* sql, const QString& column)
{
    DatabaseBindQuery query;
    if (!prepare(query, sql) || !exec(query) || !query.next()) {
        return QVariant();
    }
    return query.value(column);
}

bool RecvStore::probeLock(int waitMs)
{
    if (!localDbOpen) {
        return false;
    }
    if (!locked) {
        return true;
    }
    {
        DatabaseBindQuery wait;
        if (waitMs > 0 && prepare(wait, qPrintable(QStringLiteral("PRAGMA busy_timeout=%1").arg(waitMs)))) {
            exec(wait);
        }
    }
    QString error;
    if (setUp("BEGIN IMMEDIATE", error, true)) {
        setUp("ROLLBACK", error);
        return true;
    }
    if (waitMs > 0) {
        setLocked(true);
    }
    return false;
}

// --- the file -----------------------------------------------------------------

// Adds the text column to a file that lacks it, or drops the default 0 it was
// added with; either way the waiting rows it leaves without a value are
// judged from their PDU below.
bool RecvStore::ensureTextColumn(QString& errorText)
{
    DatabaseBindQuery column;
    if (!prepare(column, RecvSql::textDefault) || !exec(column) || !column.next()) {
        errorText = QStringLiteral("cannot read the columns of t_recv");
        return false;
    }
    if (column.value(QStringLiteral("num")).toInt() == 0) {
        return setUp(RecvSql::addTextColumn, errorText) && setUp(RecvSql::dropWaitBeforeText, errorText) &&
               setUp(RecvSql::dropPartsBeforeText, errorText);
    }
    if (column.value(QStringLiteral("fixed")).toInt() == 0) {
        return true;
    }
    const int version = readCount("SELECT schema_version AS num FROM pragma_schema_version");
    if (version < 0 || !setUp(RecvSql::rejudgeWaiting, errorText) ||
        !setUp("PRAGMA writable_schema=ON", errorText)) {
        return false;
    }
    DatabaseBindQuery edit;
    const bool edited = prepare(edit, RecvSql::dropTextDefault) && exec(edit) && edit.numRowsAffected() == 1;
    if (!edited) {
        errorText = edit.errorText().isEmpty() ? QStringLiteral("the definition of t_recv is not as expected")
                                               : edit.errorText();
    }
    const bool bumped =
        edited && setUp(qPrintable(QStringLiteral("PRAGMA schema_version=%1").arg(version + 1)), errorText);
    QString ignored;
    setUp("PRAGMA writable_schema=OFF", ignored);
    return bumped;
}

// Creates what a new file lacks and adds the lookup structures to any file,
// all in one transaction so that a failure leaves the file as it was.
bool RecvStore::prepareSchema(bool tableThere, QString& errorText)
{
    if (!setUp("BEGIN IMMEDIATE", errorText, true)) {
        return false;
    }
    bool ok = true;
    if (!tableThere) {
        ok = setUp(RecvSql::createTable, errorText) && setUp(RecvSql::createUnique, errorText);
    } else {
        QString indexError;
        if (!setUp(RecvSql::ensureUnique, indexError)) {
            // Rows stored twice before the index existed keep it from being
            // made; the store still works, it just cannot refuse duplicates.
            qDebug("sms-r.db: unique index t_recv_un1 cannot be made: %s", indexError.toUtf8().constData());
        }
    }
    ok = ok && ensureTextColumn(errorText);
    const char* const lookups[] = {RecvSql::indexWait,          RecvSql::indexParts,
                                   RecvSql::indexDone,          RecvSql::indexUndecodable,
                                   RecvSql::indexFailed,        RecvSql::indexUnjudged,
                                   RecvSql::createTotal,        RecvSql::triggerTotalInsert,
                                   RecvSql::triggerTotalDelete, RecvSql::triggerTotalUpdate};
    for (const char* sql : lookups) {
        if (!ok) {
            break;
        }
        ok = setUp(sql, errorText);
    }
    if (ok) {
        const int rows = readCount(RecvSql::hasTotal);
        if (rows < 0) {
            errorText = QStringLiteral("cannot read t_recv_total");
            ok = false;
        } else if (rows == 0) {
            ok = setUp(RecvSql::seedTotal, errorText);
        }
    }
    // Every waiting row without a text flag, however many an older program left.
    for (int judged = 1; ok && judged > 0;) {
        judged = judgeRows(1000);
        if (judged < 0) {
            errorText = QStringLiteral("cannot judge the waiting rows without a text flag");
            ok = false;
        }
    }
    if (ok && setUp("COMMIT", errorText)) {
        return true;
    }
    QString ignored;
    setUp("ROLLBACK", ignored);
    return false;
}

bool RecvStore::openLocalDb(bool reportFailure)
{
    ensureDataDir();
    const QString path = dataDir() + QLatin1String(RecvSql::fileName);
    QString error;
    locked = false;
    bool ok =
        DatabaseTable::openDb(path, conn(), error, QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(busyWaitMs));
    localDbOpen = ok;
    if (ok) {
        bool tableThere = false;
        {
            DatabaseBindQuery probe;
            ok = prepare(probe,
                         "SELECT count(*) AS num FROM sqlite_master WHERE type='table' AND name='t_recv'") &&
                 exec(probe) && probe.next();
            error = probe.errorText();
            tableThere = ok && probe.value(QStringLiteral("num")).toInt() > 0;
        }
        if (ok) {
            setDurability();
            ok = prepareSchema(tableThere, error);
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
    if (!reportFailure) {
        return false;
    }
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
    locked = false;
}

// --- messages -----------------------------------------------------------------

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
        warnUndecodable(portNo, simNo, txtPdu);
    }

    DatabaseBindQuery query;
    // The inserts start with the same six values; a decoded one adds the fields.
    const char* sql = undecodable ? RecvSql::insertUndecodable
                      : type != 0 ? RecvSql::insertRaw
                                  : RecvSql::insertDecoded;
    if (!prepare(query, sql)) {
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
    if (exec(query, true)) {
        return query.numRowsAffected() == 1 ? InsertOutcome::Stored : InsertOutcome::Failed;
    }
    writeError = query.errorText().trimmed();

    // Most refusals are the unique index: the same message read off the SIM
    // again (or read again while another process holds the lock: the copy
    // stored before may go). Anything else (a full disk, a damaged file) is a
    // failure.
    DatabaseBindQuery lookup;
    if (prepare(lookup, RecvSql::isStored)) {
        lookup.bindValue(0, simNo);
        lookup.bindValue(1, txtPdu);
        if (exec(lookup) && lookup.next()) {
            return InsertOutcome::AlreadyStored;
        }
    }
    return InsertOutcome::Failed;
}

int RecvStore::judgeWaiting(int max)
{
    if (!localDbOpen) {
        return -1;
    }
    // Nothing to judge, the usual case, needs no write lock.
    DatabaseBindQuery any;
    if (!prepare(any, RecvSql::pickUnjudged)) {
        return -1;
    }
    any.bindValue(0, 0);
    any.bindValue(1, 1);
    if (!exec(any)) {
        return -1;
    }
    if (!any.next()) {
        return 0;
    }
    QString error;
    if (!setUp("BEGIN IMMEDIATE", error, true)) {
        return -1;
    }
    const int judged = judgeRows(max);
    if (judged >= 0 && setUp("COMMIT", error)) {
        return judged;
    }
    setUp("ROLLBACK", error);
    return -1;
}

// Up to max rows, in the caller's transaction.
int RecvStore::judgeRows(int max)
{
    QList<QPair<int, QString>> rows;
    {
        DatabaseBindQuery pick;
        if (!prepare(pick, RecvSql::pickUnjudged)) {
            return -1;
        }
        pick.bindValue(0, 0);
        pick.bindValue(1, max);
        if (!exec(pick)) {
            return -1;
        }
        while (pick.next()) {
            rows.append({pick.value(QStringLiteral("tow_id")).toInt(),
                         pick.value(QStringLiteral("txt_pdu")).toString()});
        }
    }
    for (const auto& [towId, pdu] : qAsConst(rows)) {
        GsmPduRecvDeliver deliver;
        const bool decoded = deliver.decode(pdu);
        const bool undecodable = deliver.messageType() == 0 && !decoded;
        DatabaseBindQuery set;
        if (!prepare(set, undecodable ? RecvSql::setUndecodable : RecvSql::setJudged)) {
            return -1;
        }
        if (undecodable) {
            warnUndecodable(QStringLiteral("row %1").arg(towId), QStringLiteral("-"), pdu);
            set.bindValue(0, towId);
        } else {
            set.bindValue(0, deliver.forwardable() ? 1 : 0);
            set.bindValue(1, towId);
        }
        if (!exec(set, true)) {
            return -1;
        }
    }
    return rows.size();
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

// --- forwarding ---------------------------------------------------------------

namespace {

enum PickCode
{
    NotOpen = -1,
    Failed = -4,
    NoRow = -5
};

} // namespace

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
    if (!prepare(query, RecvSql::firstSingle) || !exec(query)) {
        return Failed;
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
    if (!prepare(query, RecvSql::firstCompleteGroup) || !exec(query)) {
        return Failed;
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
    if (!prepare(query, RecvSql::readSingle)) {
        return false;
    }
    query.bindValue(0, towId);
    if (!exec(query)) {
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
    if (!prepare(query, RecvSql::readGroup)) {
        return false;
    }
    query.bindValue(0, simNo);
    query.bindValue(1, sender);
    query.bindValue(2, partId);
    query.bindValue(3, partCount);
    if (!exec(query)) {
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
    if (!prepare(query, RecvSql::markHandled)) {
        return false;
    }
    query.bindValue(0, hdFlag);
    query.bindValue(1, storeNow());
    query.bindValue(2, towId);
    return exec(query, true) && query.numRowsAffected() == 1;
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
    if (!prepare(singles, RecvSql::firstSingles)) {
        return false;
    }
    singles.bindValue(0, max);
    if (!exec(singles)) {
        return false;
    }
    while (singles.next()) {
        heads.append({singles.value(QStringLiteral("tow_id")).toInt(), QString(), QString(), QString(), 0});
    }
    DatabaseBindQuery groups;
    if (!prepare(groups, RecvSql::firstCompleteGroups)) {
        return false;
    }
    groups.bindValue(0, max);
    if (!exec(groups)) {
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
    if (!setUp("BEGIN IMMEDIATE", error, true)) {
        return false;
    }
    bool ok = true;
    for (int id : towIds) {
        ok = ok && markHandled(id, hdFlag);
    }
    if (ok && setUp("COMMIT", error)) {
        return true;
    }
    setUp("ROLLBACK", error);
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
        if (!prepare(query, RecvSql::lastHandledTime) || !exec(query) || !query.next() ||
            query.value(QStringLiteral("hd_time")).toLongLong() < 1) {
            return false;
        }
    }
    const qint64 now = storeNow();
    DatabaseBindQuery query;
    if (!prepare(query, RecvSql::expireParts)) {
        return false;
    }
    query.bindValue(0, now);
    query.bindValue(1, now);
    return exec(query, true);
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
    if (!prepare(query, RecvSql::requeueFailed) || !exec(query, true)) {
        return -1;
    }
    return query.numRowsAffected();
}
