#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>

class ComLog;
class QSerialPort;

// Run state of the modem side, shared by every worker: 0 before the first
// start, 1 while the workers run, 99 to make every exchange and every worker
// loop end at once. Written by the GUI thread only.
extern std::atomic<int> comRunState;

constexpr int ComRunStopped = 99;

inline bool comStopRequested()
{
    return comRunState.load(std::memory_order_acquire) == ComRunStopped;
}

// One AT exchange on an open serial port: write a command, then collect the
// answer until one of the patterns matches, the read time runs out or the
// operator stops the modems. Always used on the thread that owns the port.
//
// Result codes: 100 + i OK pattern i matched, 200 + i error pattern i matched,
// 301..313 the port could not be used, 401 no answer in time, 402 the port
// failed while waiting ("port lost"), 999 user cancel.
class SerialChecker : public QObject
{
    Q_OBJECT
public:
    enum : int
    {
        Incomplete = 0,
        AnyAnswer = 1,
        OkBase = 100,
        ErrBase = 200,
        PortNull = 301,
        NoData = 302,
        PortNotOpen = 303,
        WriteFailed = 311,
        WriteShort = 312,
        WriteTimeout = 313,
        RecvTimeout = 401,
        PortLost = 402,
        UserCancel = 999,
    };

    // Time-outs are clamped into this range (milliseconds).
    static constexpr int MinTimeoutMs = 100;
    static constexpr int MaxTimeoutMs = 300000;
    // Length of one wait for input, and the number of waits of the drain.
    static constexpr int WaitSliceMs = 200;
    static constexpr int DrainRounds = 3;

    SerialChecker(QObject* parent, ComLog* log);

    int sendCommand(QSerialPort* port, const QByteArray& data, const QStringList& okPatterns,
                    const QStringList& errPatterns, int writeTimeoutMs, int readTimeoutMs);

    // 0 while no pattern matches; 1 when both lists are empty; otherwise
    // 100 + index of the first matching OK pattern, else 200 + index of the
    // first matching error pattern.
    static int checkAnswer(const QByteArray& answer, const QStringList& okPatterns,
                           const QStringList& errPatterns);

    // Writes the error text, the stale input and the answer to the port log.
    void logExchange();

    const QByteArray& answer() const { return answerBuf; }
    const QByteArray& staleInput() const { return staleBuf; }
    const QString& errorText() const { return errText; }
    int result() const { return resultCode; }

private:
    int finish(int code, const QString& text);

    ComLog* log = nullptr;
    QByteArray staleBuf;
    QByteArray answerBuf;
    QString errText;
    int resultCode = 0;
};
