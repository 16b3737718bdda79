#pragma once

#include <QString>
#include <QtGlobal>

// The master side of one pseudo-terminal, in raw mode, with an optional stable
// symbolic link to its slave device.
//
// Nothing of ours keeps the slave open, so the master can tell whether the
// program has the port open (otherwise it sees a hang-up), and what a modem says
// to a closed port is lost, as on a real line.
class SimPty
{
public:
    SimPty() = default;
    SimPty(const SimPty&) = delete;
    SimPty& operator=(const SimPty&) = delete;
    ~SimPty();

    // Creates a new pseudo-terminal; when linkPath is not empty, points the link
    // at it (replacing an old link atomically).
    bool open(const QString& linkPath, QString* error);
    // Closes both sides (the program's open port sees a hang-up) and removes the link.
    void close();

    bool isOpen() const { return master >= 0; }
    int masterFd() const { return master; }
    QString devicePath() const { return device; }

    // Non-blocking; 0 when nothing is waiting, -1 on a hang-up or error.
    qint64 read(char* data, qint64 size);
    // True while some process has the slave side open.
    bool peerAttached() const;
    // Non-blocking; the count written (0 when the buffer is full), -1 on error.
    qint64 write(const char* data, qint64 size);

private:
    int master = -1;
    QString device;
    QString link;
};
