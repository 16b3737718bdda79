#pragma once

#include "core/comlog.h"
#include "modem/modemhealth.h"
#include "modem/repeatedstate.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <mutex>

class QSerialPort;

// The controller's verdict on one received message (code 6). Only a message
// the store holds may be deleted from the SIM.
enum class StoreAnswer
{
    Stored,
    AlreadyStored,
    Failed
};

// One modem port: opens it, brings the modem up, reads its device number,
// the state of its SIM (entering the configured PIN once when the SIM asks
// for it) and the SIM number, sets it up once, and then reads every message
// the modem announces with "+CMTI" at once, with a periodic listing of every
// storage (the SIM's, and the modem's own memory when it has one) as the
// safety net. Each PDU goes to the GUI thread; a message is deleted from the
// storage it was read from once the controller says the store holds it. Between
// reads, at most once a minute, it reads signal, registration, operator, SIM
// state and storage use, and hears the modem's notices of them. Lives in the
// GUI thread as a member of its MyComWorker; run() owns the serial port.
class MyComThread : public QThread
{
    Q_OBJECT
public:
    // What became of the read of one index.
    enum class ReadResult
    {
        Message,  // a PDU was read and emitted with code 6
        Empty,    // the modem's final result said: nothing there, or an error, and no PDU came
        Garbled,  // a PDU came, but the answer did not end OK
        TimedOut, // the modem never finished its answer
        PortFault // the port could not be used, or the operator stopped the modems
    };
    // Where the modem loop stands.
    enum class Step
    {
        Closed,    // open the port (retried while it fails)
        Handshake, // "AT" until the modem answers
        EchoOff,
        Identify,
        DeviceNo,
        SimCheck, // the SIM's state: ready, asking for a code, absent
        SimNo,
        Unlock,    // the PIN, when the SIM asks for it and it may be tried
        SimLocked, // a SIM that cannot be used: its state is re-read once a minute
        SetUp,     // the set-up commands: once per opening and after a modem restart
        Work,      // notified reads, the periodic listing, the restart when due
        Reopen     // close, then open again
    };

    // Reads answered empty or with an error this many listings in a row
    // clear the slot unread, unless one of those answers held a PDU.
    static constexpr int MaxReadFailures = 3;
    static constexpr int DefaultAnswerTimeoutMs = 10000;
    // The store is listed this often while the modem has not shown that its
    // new-message notifications work, and TrustedListingMs once it has.
    static constexpr int ListingMs = 10000;
    static constexpr int TrustedListingMs = 60000;
    // The signal is read this often; registration, operator, SIM and storage
    // in every FullHealthRounds-th round (their changes also come as notices,
    // or as errors of the message commands). Each read leaves the modem its
    // breath, in which an announced message would have to wait.
    static constexpr int HealthMs = 60000;
    static constexpr int FullHealthRounds = 5;
    // After the store refused a message, the storages are listed again after
    // a pause that doubles from the first while the store keeps refusing.
    static constexpr int FirstRetryMs = 1000;
    static constexpr int LastRetryMs = 8000;

    MyComThread();
    ~MyComThread() override;

    bool startThread(int id, const QString& portName, int speed, int baudRate, int flowControl);
    void stopThread();

    // Safe from any thread.
    QString deviceNo() const;
    QString simNo() const;

    // Called on the GUI thread with the verdict on the code-6 message counted
    // seq (1 for the first message this object emitted, and so on).
    void deliverAnswer(quint64 seq, StoreAnswer answer);
    void setAnswerTimeoutMs(int ms) { answerTimeoutMs.store(ms); }
    void setHandshakeTimeoutMs(int ms) { handshakeReadMs.store(ms); }
    void setListingPeriodsMs(int untrusted, int trusted)
    {
        listingMs.store(untrusted);
        trustedListingMs.store(trusted);
    }
    void setHealthPeriodMs(int ms) { healthMs.store(ms); }
    // The PIN entered when a SIM asks for it; call before startThread.
    void setSimPin(const QString& pin) { simPin = pin.trimmed().toLatin1(); }

    // --- AT command set; each runs one exchange on the open port ----------
    bool atHandshake(QSerialPort* port);
    bool atPlain(QSerialPort* port, const QByteArray& command, int successBelow);
    bool atDeviceNo(QSerialPort* port, const QByteArray& command);
    bool atSimNo(QSerialPort* port, const QByteArray& command);
    // Tries the forms in turn until one yields a number.
    bool readDeviceNo(QSerialPort* port);
    bool readSimNo(QSerialPort* port);
    bool atListIndexes(QSerialPort* port, QStringList& indexes);
    ReadResult atReadMessage(QSerialPort* port, const QString& index);
    // "AT+CPIN?"; the exchange's code, the state in lastHealth().
    int atSimState(QSerialPort* port);
    // What the thread last read or heard; only for the thread that runs the commands.
    const ModemHealth& lastHealth() const { return health; }
    // The exchange's code (SerialChecker).
    int atDeleteMessage(QSerialPort* port, const QString& index);
    bool atRadio(QSerialPort* port, bool on, bool afterOpen);
    bool breakIn(QSerialPort* port);

    // The forms tried, in order, for the device and the SIM number.
    static const QList<QByteArray>& deviceNoCommands();
    static const QList<QByteArray>& simNoCommands();

signals:
    void threadOkMsg(int nMsg, QByteArray pduBuf);
    void threadErrMsg(int nMsg);
    // The modem's radio and SIM as last read, whenever a value changed.
    void threadHealth(ModemHealth health);

protected:
    void run() override;

private:
    // endLine: see SerialChecker::endOnLine.
    int exchange(QSerialPort* port, const QByteArray& command, int writeMs, int readMs,
                 QByteArray* answer = nullptr, const QByteArray& endLine = QByteArray());
    void pauseBeforeCommand();
    void noteUnsolicited(const QByteArray& bytes);
    Step advance(QSerialPort* port, Step step);
    Step openPort(QSerialPort* port);
    Step identify(QSerialPort* port, Step step);
    Step checkSim(QSerialPort* port);
    Step unlock(QSerialPort* port);
    Step waitLocked(QSerialPort* port);
    bool pinMayBeTried() const;
    QString pinKey() const;
    bool setUp(QSerialPort* port);
    Step work(QSerialPort* port);
    bool listen(QSerialPort* port);
    bool handshakeRounds(QSerialPort* port);
    // One command of the health round; false when the port failed.
    bool healthRead(QSerialPort* port, int which);
    bool healthDue() const;
    void publishHealth();
    // Messages held and room from a "+CPMS" answer; an odd answer to the
    // health read (forgetOnOdd) makes them unknown.
    void noteStorage(const QByteArray& answer, const QByteArray& selectedNow, bool forgetOnOdd);
    // Selects the storage to read and delete in: the exchange's code, Ok
    // when it needs no command. Only a modem with two storages is asked.
    int selectStorage(QSerialPort* port, const QByteArray& storage);
    bool readNotified(QSerialPort* port);
    bool deleteOwed(QSerialPort* port);
    bool readMessages(QSerialPort* port);
    bool listStorage(QSerialPort* port, const QByteArray& storage);
    bool storeAccepted(const QString& slot);
    // After reads: brings the next listing forward when the store refused one.
    void planRetry(bool wholeListing);
    bool deleteMessages(QSerialPort* port, const QStringList& accepted, const QStringList& unreadable);
    bool waitForAnswer(quint64 seq);
    void resetModem(QSerialPort* port);
    bool pause(int ms);
    bool keepGoing() const;
    Step fatal(int code);
    void setDeviceNo(const QString& value);
    void setSimNo(const QString& value);
    static QString slotKey(const QByteArray& storage, const QString& index);

    std::atomic<bool> running{false};
    // Set as the last act of run(); read after wait() so that the end of the
    // loop is ordered before whatever the stopping thread does next, in a way
    // the thread sanitizer can follow.
    std::atomic<bool> loopEnded{true};
    QString portName;
    int speed = 100;
    int baudRate = 115200;
    int flowControl = 0;
    qint64 lastResetMs = 0;
    ComLog log;
    int id = 1000;

    // Standard mutexes rather than Qt's: the thread sanitizer sees them.
    mutable std::mutex numbersMutex;
    QString devNo;
    QString simNumber;

    // Answers of the controller to code-6 messages, matched by count.
    std::mutex answerMutex;
    std::condition_variable answerArrived;
    quint64 emittedSeq = 0;
    quint64 answeredSeq = 0;
    StoreAnswer lastAnswer = StoreAnswer::Failed;
    std::atomic<int> answerTimeoutMs{DefaultAnswerTimeoutMs};
    std::atomic<int> handshakeReadMs{3000};
    std::atomic<int> listingMs{ListingMs};
    std::atomic<int> trustedListingMs{TrustedListingMs};
    std::atomic<int> healthMs{HealthMs};
    QByteArray simPin;

    // --- state of the loop, touched by the worker thread only -------------
    QElapsedTimer sinceCommand; // invalid until the first command
    QByteArray partialLine;     // an unsolicited line not yet complete
    // Message slots are named "<storage>/<index>" (slotKey).
    QStringList notified;    // announced by "+CMTI", not yet read
    QStringList owedDeletes; // read and stored, not yet deleted (SIM slots)
    QSet<QString> readEmpty; // notified, read empty: not read again until the next listing
    bool notificationsWork = false;
    QElapsedTimer sinceListing; // invalid: a listing is due
    // Consecutive empty or refused reads of each slot still listed, and the
    // slots whose answers ever held a PDU: those are never cleared unread.
    QHash<QString, int> readFailures;
    QSet<QString> heldPdu;
    // The storages read, "SM" first; the one selected for reading now (empty:
    // not known), and the messages held and room of each.
    QList<QByteArray> storages{"SM"};
    QByteArray selected;
    QHash<QByteArray, QPair<int, int>> storageUse;
    // Refusals by the store in the current listing or notified reads, and
    // the listing they bring forward.
    bool refusedNow = false;
    bool acceptedNow = false;
    int retryPauseMs = 0;
    QElapsedTimer sinceRefusal; // valid while a retry is owed

    ModemHealth health;
    ModemHealth published;
    QElapsedTimer sinceHealth; // invalid: a round is due
    int healthStep = -1;       // the next command of the round in progress; -1 none
    int healthRounds = 0;      // rounds since the port was opened
    bool copsFormatSet = false;
    bool simNoKnown = false; // read since the port was opened or the SIM came back
    bool pinSent = false;    // accepted, and the SIM not yet seen ready
    ModemHealth::Sim lockLogged = ModemHealth::Sim::Unknown;
    RepeatedState openFailing;
    RepeatedState notAnswering;
};
