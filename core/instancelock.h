#pragma once

#include <QLockFile>
#include <QString>

#include <memory>

// One process per data directory: two would read and delete on the same
// modems and forward the same store. The lock is a file in the data
// directory; the system releases it when the holder ends, however it ends.
class InstanceLock
{
public:
    InstanceLock();
    ~InstanceLock();

    // Takes the lock of the current data directory; false when another
    // process holds it (then holder() names it) or the file cannot be made.
    bool acquire();
    // True when some process holds the lock of the current data directory.
    static bool isHeld();
    // "pid N (name)" of the process holding the lock, as far as it is known.
    QString holder() const;
    QString path() const;

private:
    std::unique_ptr<QLockFile> lock;
};
