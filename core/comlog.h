#pragma once

#include <QByteArray>
#include <QMutex>
#include <QString>

#include <atomic>

// Bit mask of optional log lines, from the LOGLEVEL key of settings.ini.
// Written by loadIni on the GUI thread, read by every thread.
extern std::atomic<int> logLevel;

enum LogBit : int
{
    LogPortExchange = 0x1, // port log: error text, stale input and answer of every exchange
    LogWorkerMsg = 0x2,    // main log: "OKMSG" lines for worker codes 4 and above
    LogPortSend = 0x10,    // port log: "SEND: " before every exchange
    LogTick = 0x100,       // main log: tick, restart and expiry lines
    LogInsertCard = 0x200, // main log: "insert card" lines of every forwarded message
};

inline bool logBit(int bit)
{
    return (logLevel.load(std::memory_order_relaxed) & bit) != 0;
}

// An append-only, time-stamped text log bound to one file. The file is opened
// and closed for every record, so a deleted file is created anew.
class ComLog
{
public:
    ComLog() = default;
    ComLog(const ComLog&) = delete;
    ComLog& operator=(const ComLog&) = delete;

    // Binds the log to a file; a file that cannot be opened leaves it disabled.
    void open(const QString& name);
    // Appends one record: stamp, " - ", the text without CR and Ctrl-Z, LF.
    void write(const QByteArray& text);

    bool isEnabled() const;
    QString boundFile() const;

    // Every record of every log also goes to standard error, for a service
    // whose standard error is collected by the system journal.
    static void setMirrorToStderr(bool on);

private:
    bool enabled = false;
    QString fileName;
    mutable QMutex mutex;
};
