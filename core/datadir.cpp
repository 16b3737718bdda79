#include "core/datadir.h"

#include <QDir>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QProcessEnvironment>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace {

QMutex overrideMutex;
QString overridePath;

} // namespace

void setDataDirOverride(const QString& path)
{
    QMutexLocker lock(&overrideMutex);
    overridePath = path.isEmpty() ? QString() : QDir(path).absolutePath();
}

QString dataDir()
{
    {
        QMutexLocker lock(&overrideMutex);
        if (!overridePath.isEmpty()) {
            return overridePath;
        }
    }
    const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    QString base;
    if (env.contains(QStringLiteral("APPDATA"))) {
        base = env.value(QStringLiteral("APPDATA"));
    }
#ifndef Q_OS_WIN
    else {
        // Off Windows there is no APPDATA; the root of the filesystem is not
        // writable for a normal user, so fall back to the XDG data location.
        base = env.value(QStringLiteral("XDG_DATA_HOME"));
        if (base.isEmpty()) {
            base = QDir::homePath() + QStringLiteral("/.local/share");
        }
    }
#endif
    base.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return base + QStringLiteral("/VLSMS");
}

void ensureDataDir()
{
    const QString path = dataDir();
    if (!QDir().exists(path)) {
        QDir().mkpath(path);
        // It holds the messages and the MySQL password. A directory somebody
        // made beforehand keeps the mode they gave it.
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
}

void keepNewFilesPrivate()
{
#ifdef Q_OS_UNIX
    ::umask(S_IRWXG | S_IRWXO);
#endif
}
