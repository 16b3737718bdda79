#include "controller/statusfile.h"

#include "core/datadir.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QSaveFile>

StatusFile::StatusFile(QObject* parent) : QObject(parent), timer(this)
{
    // Every second, changed or not, from the last state the controller
    // published: "updated" shows that this writer lives, "last_tick" that
    // the controller does. Nothing to say before the controller has said
    // anything.
    connect(&timer, &QTimer::timeout, this, [this] {
        if (haveState) {
            write();
        }
    });
    timer.start(1000);
}

StatusFile::~StatusFile() = default;

QString StatusFile::path()
{
    return dataDir() + QStringLiteral("/status.json");
}

// Kept as it came (a shared copy) and made into JSON only when written: the
// controller may publish many times a second.
void StatusFile::update(const RoadState& state)
{
    current = state;
    haveState = true;
}

bool StatusFile::write()
{
    QJsonObject doc = current.toJson();
    doc.insert(QStringLiteral("updated"),
               QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    doc.insert(QStringLiteral("pid"), QCoreApplication::applicationPid());
    QSaveFile file(path());
    bool ok = file.open(QIODevice::WriteOnly);
    if (ok) {
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        file.write(QJsonDocument(doc).toJson());
        ok = file.commit();
    }
    if (!ok && !writeFaultLogged) {
        writeFaultLogged = true;
        qWarning("status file %s cannot be written: %s", qUtf8Printable(path()),
                 qUtf8Printable(file.errorString()));
    }
    writeFaultLogged = writeFaultLogged && !ok;
    return ok;
}

void StatusFile::remove()
{
    timer.stop();
    QFile::remove(path());
}
