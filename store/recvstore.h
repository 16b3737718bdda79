#pragma once

#include <QList>
#include <QString>

class MyRecvSms;

// The local message store, sms-r.db in the data directory: every PDU a modem
// handed over, decoded, with duplicates refused by the unique index and the
// parts of multi-part messages grouped for forwarding. One object per
// process; it and its connection are used only by the thread that opened it.
class RecvStore
{
public:
    enum class InsertOutcome
    {
        Stored,
        AlreadyStored,
        Failed
    };

    RecvStore() = default;
    RecvStore(const RecvStore&) = delete;
    RecvStore& operator=(const RecvStore&) = delete;

    bool openLocalDb();
    void closeLocalDb();
    bool isLocalDbOpen() const { return localDbOpen; }
    // Why the store could not be opened; empty while it is open or untried.
    QString localDbError() const { return localDbOpenError; }

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

private:
    bool localDbOpen = false;
    QString localDbOpenError;
    QString writeError;
};
