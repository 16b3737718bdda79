#pragma once

#include "controller/metricsfile.h"
#include "controller/roadstate.h"
#include "core/comlog.h"
#include "core/mysetting.h"
#include "mysql/forwarder.h"
#include "mysql/smsrow.h"
#include "store/recvstore.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QThread>
#include <QTimer>

class MyComWorker;

// The whole road of a message, without any widget: one worker per served
// serial port, the local store, the forwarding cycle with its link retry, the
// daily restart of the modems and the expiry of parts that never completed.
// The ports are listed again every ten seconds: a port that appears gets a
// worker, one that goes away keeps its row, marked gone, until it is back.
// It lives in a thread of its own (see ControllerHost); the window and the
// service send it commands through its slots and draw what stateChanged says.
class Controller : public QObject
{
    Q_OBJECT
public:
    explicit Controller(QObject* parent = nullptr);
    ~Controller() override;

    // The port names a run serves: the enumerated ports plus the extra ones,
    // each once, sorted case-sensitively.
    static QStringList servedPorts(const QStringList& enumerated, const QString& extraPorts);
    // True when an extra port is there to be opened: a path (or, on Unix, a
    // name under /dev) that exists. Windows names always count.
    static bool extraPortExists(const QString& name);
    // True when the port name equals one entry of the exclusion list (entries
    // split at ',' or '，' and trimmed; the comparison is case-sensitive).
    static bool isExcluded(const QString& portName, const QString& ignorePorts);

    const RoadState& state() const { return road; }
    RecvStore& store() { return recvStore; }
    // The ports the system lists, in place of its own list; tests set it, and
    // set it again to plug and unplug ports between two listings.
    void setEnumeratedPorts(const QStringList& ports)
    {
        fixedPorts = ports;
        hasFixedPorts = true;
    }

public slots:
    // Opens the store and switches the modems and the sync on, as at start-up.
    void start();
    // Switches everything off and closes the store; the object may be
    // destroyed afterwards.
    void shutdown();
    void setModemsOn(bool on);
    void setSyncOn(bool on);
    // Puts the messages the server refused back into the queue; the number
    // of messages put back, or -1 when the store refused the change.
    int requeueFailed();
    // The one-second tick: link retry, forwarding, daily restart, expiry.
    void tick();

signals:
    void stateChanged(const RoadState& state);
    // After every tick, in the controller's thread: a service manager's
    // watchdog fed from here sees the road itself keep moving.
    void ticked();
    void stopped();

private:
    friend class TestController;

    // What the controller keeps of each row of road.ports.
    struct PortRun
    {
        // Null while the port is gone or excluded, or the modems are off.
        MyComWorker* worker = nullptr;
        // Since when the modem has said it has no signal; -1 while it has.
        qint64 noSignalSinceMs = -1;
    };
    // The longest a stop waits for a lock held elsewhere to mark the last batch.
    static constexpr int stopLockWaitMs = 1000;

    QStringList presentPorts() const;
    void scanPorts(bool logChanges);
    void startPort(int row);
    void stopPort(int row);
    void stopWorkers();
    void judgePorts();
    QString portFault(int row) const;
    void writeMetrics();
    void onWorkOkMsg(int nCheckID, int nMsg, const QByteArray& pduBuf);
    void onWorkErrMsg(int nCheckID, int nMsg);
    void onWorkHealth(int nCheckID, const ModemHealth& health);
    void storeMessage(int row, const QByteArray& pdu);
    void noteStoreWriteFault(const QString& error);
    void openLink(Forwarder::Round round);
    void onLinkOpened(bool ok, const QString& error, const LinkInfo& info);
    void loseLink(const QString& error);
    void linkStep();
    void logLinkFault();
    void forwardMore();
    void onForwarded(const QList<SmsRow>& rows, const QList<RowFate>& fates, const QString& error,
                     qint64 idFloor, qint64 sentMs);
    void onSettled(const QList<SmsRow>& rows, const QList<bool>& found, Mysql5::Check check,
                   const QString& error);
    void stopForwarder();
    void retryMarks();
    bool storeAvailable();
    void noteStoreLock();
    void answerRequeueRequest();
    void dailyRestart();
    void clearOldParts();
    void refreshCounts();
    void publish();
    void publishNow();
    void logMain(const QString& text);

    MySetting settings;
    RecvStore recvStore;
    ComLog mainLog;
    RoadState road;
    QTimer handTimer;
    QStringList fixedPorts;
    bool hasFixedPorts = false;
    // One entry per row of road.ports.
    QList<PortRun> runs;
    // The rows while the modems are off: a port keeps its row, its id and
    // its counts for the whole run.
    QList<PortState> parkedPorts;
    int scanPeriodMs = 10000;
    QElapsedTimer sinceScan;
    MetricsFile metrics;
    QElapsedTimer sinceMetrics;
    bool metricsFaultLogged = false;

    QThread* forwarderThread = nullptr;
    Forwarder* forwarder = nullptr;
    bool batchInFlight = false;
    bool publishQueued = false;
    // The link in use: its server, the width of gateway_id, the id bound of
    // the next batch.
    LinkInfo link;
    Forwarder::Round lastRound = Forwarder::Round::First;
    // The batch last handed to the server, as kept in the store until the
    // next one; settleNeeded while its outcome is unknown, to be looked up
    // on the server not before settleNotBeforeMs (the server may still be
    // running the insert until its statement limit has passed).
    QList<SmsRow> sentRows;
    qint64 sentBound = -1;
    bool sentKept = false;
    bool settleNeeded = false;
    qint64 settleNotBeforeMs = 0;
    bool sentFaultLogged = false;
    // Rows inserted (flag 1) or refused (flag 10) whose mark has not reached
    // the store yet: nothing more is forwarded until they are marked.
    QList<int> unmarkedIds[2];
    bool markFaultLogged = false;
    qint64 linkFaultSinceMs = -1;
    qint64 storeFaultSinceMs = -1;
    // The last store write fault was a lock held elsewhere: it ends with the lock.
    bool storeFaultFromLock = false;
    qint64 storeLockSinceMs = -1;
    qint64 storeLockLoggedMs = 0;
    qint64 storeFaultLoggedMs = 0;
    qint64 linkFaultLoggedMs = 0;

    int tickCount = 0;
    int lastRestartDay = -1;
    int lastClearMinute = -1;
    bool storeFaultLogged = false;
};
