#pragma once

#include <QList>
#include <QString>
#include <QVariant>

class DatabaseBindQuery;
class MyRecvSms;

// The local message store, sms-r.db in the data directory: every PDU a modem
// handed over, decoded, with duplicates refused by the unique index and the
// parts of multi-part messages grouped for forwarding. One object per
// process; it and its connection are used only by the thread that opened it.
//
// No call waits long for another process that holds the file's write lock: a
// statement waits at most busyWaitMs, and once one has been refused for the
// lock the store counts as locked and every statement fails at once until a
// write goes through again (probeLock, or any write that succeeds).
class RecvStore
{
public:
    enum class InsertOutcome
    {
        Stored,
        AlreadyStored,
        Failed
    };

    // The longest one statement waits for another process's lock.
    static constexpr int busyWaitMs = 500;

    RecvStore() = default;
    RecvStore(const RecvStore&) = delete;
    RecvStore& operator=(const RecvStore&) = delete;

    // Opens (and if need be creates or updates) the file; a failure is
    // logged unless reportFailure is false.
    bool openLocalDb(bool reportFailure = true);
    void closeLocalDb();
    bool isLocalDbOpen() const { return localDbOpen; }
    // Why the store could not be opened; empty while it is open or untried.
    QString localDbError() const { return localDbOpenError; }
    // Another process holds the write lock: the last write (or the open)
    // was refused for it.
    bool isLocked() const { return locked; }
    // Tries the write lock, waiting up to waitMs, and lets it go at once;
    // true, and no longer locked, when it could be had.
    bool probeLock(int waitMs = 0);

    bool insertRecv(const QString& portNo, const QString& devNo, const QString& simNo, const QString& pdu);
    InsertOutcome insertRecvOutcome(const QString& portNo, const QString& devNo, const QString& simNo,
                                    const QString& pdu);
    // Why the last refused insert failed (a full disk, a lock held too long).
    QString lastWriteError() const { return writeError; }
    int countAll();
    int countPending();
    // Messages kept but never forwarded because their PDU cannot be decoded.
    int countUndecodable();
    QString lastSender();
    QString lastRecvTime();
    QString lastHandledTime();
    static qint64 storeNow();
    static QString timeText(qint64 storeTime);

    bool pickNext(QList<MyRecvSms*>& list);
    int firstSingle();
    int firstCompleteGroup(QString& partId, QString& simNo, QString& sender, int& partCount);
    bool readSingle(int towId, QList<MyRecvSms*>& list);
    bool readGroup(const QString& partId, const QString& simNo, const QString& sender, int partCount,
                   QList<MyRecvSms*>& list);
    // Up to max complete messages in the order pickNext would give them, each
    // as the list of its parts; the caller owns the records.
    bool pickBatch(int max, QList<QList<MyRecvSms*>>& messages);
    bool markHandled(int towId, int hdFlag);
    // Marks all the rows or none, in one transaction.
    bool markBatch(const QList<int>& towIds, int hdFlag);
    bool expireParts();

    // Messages the server refused (flag 10); -1 when the store cannot say.
    int countFailed();
    // Puts the refused messages back in the queue; the number of rows
    // (parts) changed, or -1 when the store refused the change.
    int requeueFailed();

    // Sets the text flag of up to max waiting rows stored without one (by a
    // program that does not know it) from their PDU; a PDU that cannot be
    // decoded is marked undecodable. The number of rows judged, -1 when the
    // store refused.
    int judgeWaiting(int max = 1000);

private:
    bool prepareSchema(bool tableThere, QString& errorText);
    bool ensureTextColumn(QString& errorText);
    bool setUp(const char* sql, QString& errorText, bool writes = false);
    bool prepare(DatabaseBindQuery& query, const char* sql);
    bool exec(DatabaseBindQuery& query, bool writes = false);
    void noteRefusal(const DatabaseBindQuery& query);
    void setLocked(bool on);
    int readCount(const char* sql);
    QVariant newestValue(const char* sql, const QString& column);
    int judgeRows(int max);

    bool localDbOpen = false;
    bool locked = false;
    QString localDbOpenError;
    QString writeError;
};
