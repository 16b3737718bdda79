#include "core/instancelock.h"

#include "core/datadir.h"

namespace {

constexpr int probeGraceMs = 1000;

QString lockPath()
{
    return dataDir() + QStringLiteral("/vlsms.lock");
}

} // namespace

InstanceLock::InstanceLock() = default;

InstanceLock::~InstanceLock() = default;

bool InstanceLock::acquire()
{
    ensureDataDir();
    lock = std::make_unique<QLockFile>(lockPath());
    // Only a lock whose process is gone is stale, never one by its age.
    lock->setStaleLockTime(0);
    // isHeld() in a status query takes the lock for a moment to test it; a
    // start at that moment waits it out instead of refusing to run.
    return lock->tryLock(probeGraceMs);
}

bool InstanceLock::isHeld()
{
    QLockFile probe(lockPath());
    probe.setStaleLockTime(0);
    if (probe.tryLock(0)) {
        probe.unlock();
        return false;
    }
    return probe.error() == QLockFile::LockFailedError;
}

QString InstanceLock::holder() const
{
    qint64 pid = 0;
    QString host;
    QString app;
    if (lock != nullptr && lock->getLockInfo(&pid, &host, &app)) {
        return QStringLiteral("pid %1 (%2)").arg(pid).arg(app);
    }
    return QStringLiteral("another process");
}

QString InstanceLock::path() const
{
    return lockPath();
}
