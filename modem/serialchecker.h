#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

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
// answer until its final result line arrives, the read time runs out or the
// operator stops the modems. Always used on the thread that owns the port.
//
// Result codes: 100 the modem answered OK; 101 the awaited information line
// came and no final result followed it (see endOnLine); 200 to 204 it ended with an error
// result (ERROR, +CME ERROR, +CMS ERROR, "... NOT SUPPORT", NO CARRIER);
// 301..313 the port could not be used; 401 no final result in time; 402 the
// port failed while waiting ("port lost"); 999 user cancel.
class SerialChecker : public QObject
{
    Q_OBJECT
public:
    enum : int
    {
        Incomplete = 0,
        Ok = 100,
        LineOnly = 101,
        Error = 200,
        CmeError = 201,
        CmsError = 202,
        NotSupported = 203,
        NoCarrier = 204,
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
    // Codes below Confirmed mean the modem said OK; below Answered it gave a
    // final result at all, if only an error.
    static constexpr int Confirmed = 200;
    static constexpr int Answered = 300;

    // Time-outs are clamped into this range (milliseconds).
    static constexpr int MinTimeoutMs = 100;
    static constexpr int MaxTimeoutMs = 300000;
    // Length of one wait for input.
    static constexpr int WaitSliceMs = 200;
    // A resynchronisation reads until the line has been quiet this long,
    // and never longer than ResyncMaxMs.
    static constexpr int ResyncQuietMs = 200;
    static constexpr int ResyncMaxMs = 2000;

    SerialChecker(QObject* parent, ComLog* log);

    // The line settings of every modem port: 8 data bits, no parity, one
    // stop bit, the given speed in both directions, RTS/CTS when asked.
    static void setUpPort(QSerialPort& port, const QString& name, int baudRate, bool hardwareFlow);
    // True when the port has failed for good (unplugged, hung up).
    static bool portBroken(const QSerialPort* port);
    // Reads and returns whatever the modem is still sending, so that a late
    // answer cannot be taken for the answer to the next command.
    static QByteArray resync(QSerialPort* port);

    int sendCommand(QSerialPort* port, const QByteArray& data, int writeTimeoutMs, int readTimeoutMs);
    // For modems that end some answers without a final result: a complete
    // line starting with prefix ends the answer when no final result follows
    // it within graceMs. Applies to the following sendCommand calls.
    void endOnLine(const QByteArray& prefix, int graceMs);
    // One port's own stop: an exchange also ends as "user cancel" once this
    // flag is false, as it does when every modem is stopped.
    void cancelWhenCleared(const std::atomic<bool>* flag) { keepRunning = flag; }

    // The code of an answer by its final result line; Incomplete while there is none.
    static int checkAnswer(const QByteArray& answer);

    // Writes the error text, the stale input and the answer to the port log.
    void logExchange();

    const QByteArray& answer() const { return answerBuf; }
    const QByteArray& staleInput() const { return staleBuf; }
    const QString& errorText() const { return errText; }
    int result() const { return resultCode; }

private:
    int finish(int code, const QString& text);
    void waitForFinal(QSerialPort* port, int readMs);
    bool cancelled() const { return comStopRequested() || (keepRunning != nullptr && !keepRunning->load()); }

    ComLog* log = nullptr;
    QByteArray staleBuf;
    QByteArray answerBuf;
    QString errText;
    int resultCode = 0;
    QByteArray endPrefix;
    int endGraceMs = 0;
    const std::atomic<bool>* keepRunning = nullptr;
};
