#pragma once

#include <QString>
#include <QtGlobal>

// The master side of one pseudo-terminal, in raw mode, with an optional stable
// symbolic link to its slave device.
//
// The slave is kept open by a holder descriptor of our own: without it, every
// time the program closes its port the master would see a hang-up, and data
// written in between would be refused.
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
    // Non-blocking; the count written (0 when the buffer is full), -1 on error.
    qint64 write(const char* data, qint64 size);

private:
    int master = -1;
    int holder = -1;
    QString device;
    QString link;
};
