#include "core/comlog.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>

#include <cstdio>

std::atomic<int> logLevel{0};

namespace {

std::atomic<bool> mirrorToStderr{false};
QMutex stderrMutex;

} // namespace

void ComLog::setMirrorToStderr(bool on)
{
    mirrorToStderr.store(on);
}

void ComLog::open(const QString& name)
{
    QMutexLocker lock(&mutex);
    enabled = false;
    QFile file(name);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        fileName = name;
        enabled = true;
        file.close();
    }
}

void ComLog::write(const QByteArray& text)
{
    QString line = QString::fromUtf8(text);
    line.remove(QLatin1Char('\r'));
    line.remove(QChar(0x1A));
    if (line.isEmpty()) {
        return;
    }
    QMutexLocker lock(&mutex);
    if (!enabled) {
        return;
    }
    if (mirrorToStderr.load()) {
        QMutexLocker errLock(&stderrMutex);
        const QByteArray where = QFileInfo(fileName).fileName().toUtf8();
        std::fprintf(stderr, "%s: %s\n", where.constData(), line.toUtf8().constData());
        std::fflush(stderr);
    }
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        return;
    }
    QByteArray record =
        QDateTime::currentDateTime().toString(QStringLiteral("MM-dd hh:mm:ss:zzz - ")).toUtf8();
    record += " - ";
    record += line.toUtf8();
    record += '\n';
    file.write(record);
    file.close();
}

bool ComLog::isEnabled() const
{
    QMutexLocker lock(&mutex);
    return enabled;
}

QString ComLog::boundFile() const
{
    QMutexLocker lock(&mutex);
    return fileName;
}
