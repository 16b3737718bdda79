#pragma once

#include "core/comlog.h"

#include <QByteArray>
#include <QHash>
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

// One modem port: opens it, brings the modem up, reads its device and SIM
// numbers and then, tick after tick, reads the SIM store and hands every PDU
// to the GUI thread. Lives in the GUI thread as a member of its MyComWorker;
// run() owns the serial port.
class MyComThread : public QThread
{
    Q_OBJECT
public:
    // What became of the read of one index.
    enum class ReadResult
    {
        Message,  // a PDU was read and emitted with code 6
        Empty,    // the modem answered, but with no PDU (an error or an empty slot)
        TimedOut, // the modem never finished its answer
        PortFault // the port could not be used, or the operator stopped the modems
    };

    // Reads that failed this many cycles in a row are deleted on their own.
    static constexpr int MaxReadFailures = 3;
    static constexpr int DefaultAnswerTimeoutMs = 10000;

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

    // --- AT command set; each runs one exchange on the open port ----------
    bool atHandshake(QSerialPort* port);
    bool atEchoOff(QSerialPort* port);
    bool atIdentify(QSerialPort* port);
    bool atDeviceNo(QSerialPort* port, const QByteArray& command);
    bool atSimNo(QSerialPort* port, const QByteArray& command);
    bool atPlain(QSerialPort* port, const QByteArray& command, int successBelow);
    // Tries the forms in turn until one yields a number.
    bool readDeviceNo(QSerialPort* port);
    bool readSimNo(QSerialPort* port);
    bool atListIndexes(QSerialPort* port, QStringList& indexes);
    ReadResult atReadMessage(QSerialPort* port, const QString& index);
    bool atDeleteMessage(QSerialPort* port, const QString& index);
    bool atRadio(QSerialPort* port, bool on, bool afterOpen);
    bool breakIn(QSerialPort* port);

    // The forms tried, in order, for the device and the SIM number.
    static const QList<QByteArray>& deviceNoCommands();
    static const QList<QByteArray>& simNoCommands();

    // --- parse rules over an answer; pure, so they can be checked as tables -
    // Removes the modem's unsolicited result lines (new-message and
    // registration indications, RING, ...) that can arrive inside an answer.
    static QString withoutUnsolicited(const QString& answer);
    // The number before the first OK; empty when there is none.
    static QString parseDeviceNo(const QString& answer);
    // The number after the colon of the answer line, or the bare number on
    // the last line before OK; empty when there is none.
    static QString parseSimNo(const QString& answer);
    // Indexes of the first parenthesised list of an "AT+CMGD=?" answer.
    // isRange is set when the modem gave a range of slots instead.
    static QStringList parseIndexList(const QString& answer, bool* isRange = nullptr);
    // Indexes of the "+CMGL:" lines of a message listing.
    static QStringList parseListing(const QString& answer);
    // The PDU line of an "AT+CMGR=" answer; empty when there is none.
    static QString parseReadPdu(const QString& answer);

signals:
    void threadOkMsg(int nMsg, QByteArray pduBuf);
    void threadErrMsg(int nMsg);

protected:
    void run() override;

private:
    int exchange(QSerialPort* port, const QByteArray& command, int writeMs, int readMs,
                 QByteArray* answer = nullptr);
    int tick(QSerialPort* port, int step);
    bool handshakeRounds(QSerialPort* port);
    bool readMessages(QSerialPort* port);
    bool waitForAnswer(quint64 seq);
    void resetModem(QSerialPort* port);
    bool pause(int ms);
    bool keepGoing() const;
    void setDeviceNo(const QString& value);
    void setSimNo(const QString& value);

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

    // Consecutive failed reads of each index still listed on the SIM.
    QHash<QString, int> readFailures;
};
