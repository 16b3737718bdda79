#pragma once

#include <QList>
#include <QObject>
#include <QString>

class MyCardMap;
class MyRecvSms;

// The settings of the program, kept in settings.ini in the data directory, and
// the operations of the local message store (sms-r.db). There is exactly one
// object, theSetting; it is used on the GUI thread only.
class MySetting : public QObject
{
    Q_OBJECT
public:
    explicit MySetting(QObject* parent = nullptr);
    ~MySetting() override;

    // --- configuration --------------------------------------------------
    bool loadIni();
    bool saveIni();
    QString iniPath() const;

    QString lastDbError;
    int baudRate = 115200;
    int flowControl = 0;
    int speed = 200;
    QString ignorePorts;
    MyCardMap* cardMap = nullptr;
    QString mysqlHost = QStringLiteral("127.0.0.1");
    int mysqlPort = 3306;
    QString mysqlUser = QStringLiteral("root");
    QString mysqlPwd = QStringLiteral("73914");
    QString mysqlDbName = QStringLiteral("smsserver");
    int mysqlState = 0;
    bool localDbOpen = false;
    // Serial ports served besides the enumerated ones (DEF_EXTRA_PORTS), as typed.
    QString extraPorts;

    // --- local message store (store/) -----------------------------------
    enum class InsertOutcome
    {
        Stored,
        AlreadyStored,
        Failed
    };

    bool openLocalDb();
    void closeLocalDb();
    bool isLocalDbOpen() const { return localDbOpen; }
    // Why the store could not be opened; empty while it is open or untried.
    QString localDbError() const { return localDbOpenError; }

    bool insertRecv(const QString& portNo, const QString& devNo, const QString& simNo, const QString& pdu);
    InsertOutcome insertRecvOutcome(const QString& portNo, const QString& devNo, const QString& simNo,
                                    const QString& pdu);
    int countAll();
    int countPending();
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
    bool markHandled(int towId, int hdFlag);
    bool expireParts();

private:
    QString localDbOpenError;
};

extern MySetting theSetting;
