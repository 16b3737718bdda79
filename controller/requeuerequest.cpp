#include "controller/requeuerequest.h"

#include "core/datadir.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QSaveFile>
#include <QThread>

namespace {

// Written whole under a temporary name and renamed, so that the reader never
// sees half a file; private like every file of the data directory.
bool writeWhole(const QString& path, const QByteArray& content, QString& err)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        err = file.errorString();
        return false;
    }
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    file.write(content);
    if (!file.commit()) {
        err = file.errorString();
        return false;
    }
    return true;
}

} // namespace

QString RequeueRequest::requestPath()
{
    return dataDir() + QStringLiteral("/requeue-failed.request");
}

QString RequeueRequest::answerPath()
{
    return dataDir() + QStringLiteral("/requeue-failed.answer");
}

bool RequeueRequest::post(QString& token, QString& err)
{
    token = QStringLiteral("%1-%2")
                .arg(QCoreApplication::applicationPid())
                .arg(QDateTime::currentMSecsSinceEpoch());
    QFile::remove(answerPath());
    return writeWhole(requestPath(), token.toUtf8() + '\n', err);
}

bool RequeueRequest::waitAnswer(const QString& token, int timeoutMs, QString& answer)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        QFile file(answerPath());
        if (file.open(QIODevice::ReadOnly)) {
            const QByteArray content = file.readAll();
            const int lineEnd = content.indexOf('\n');
            if (lineEnd > 0 && QString::fromUtf8(content.left(lineEnd)) == token) {
                answer = QString::fromUtf8(content.mid(lineEnd + 1)).trimmed();
                file.close();
                QFile::remove(answerPath());
                return true;
            }
        }
        if (clock.elapsed() >= timeoutMs) {
            return false;
        }
        QThread::msleep(100);
    }
}

bool RequeueRequest::take(QString& token)
{
    QFile file(requestPath());
    if (!file.exists() || !file.open(QIODevice::ReadOnly)) {
        return false;
    }
    token = QString::fromUtf8(file.readAll()).trimmed();
    file.close();
    file.remove();
    return true;
}

bool RequeueRequest::answer(const QString& token, const QString& text)
{
    QString err;
    return writeWhole(answerPath(), token.toUtf8() + '\n' + text.toUtf8() + '\n', err);
}
