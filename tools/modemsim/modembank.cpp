#include "tools/modemsim/modembank.h"

#include <QDir>
#include <QThread>

ModemBank::ModemBank(QObject* parent) : QObject(parent) {}

ModemBank::~ModemBank()
{
    stop();
}

bool ModemBank::start(int count, const QString& dir, QString* error, int threadCount)
{
    stop();
    if (!QDir().mkpath(dir)) {
        if (error)
            *error = QStringLiteral("cannot create %1").arg(dir);
        return false;
    }
    threadCount = qBound(1, threadCount, qMax(1, count));
    for (int i = 0; i < threadCount; ++i) {
        auto* t = new QThread;
        t->setObjectName(QStringLiteral("modembank-%1").arg(i));
        t->start();
        threads.append(t);
    }
    for (int i = 0; i < count; ++i) {
        auto* sim = new ModemSim(QDir(dir).filePath(QStringLiteral("modem%1").arg(i + 1)),
                                 threads.at(i % threadCount));
        modems.append(sim);
        QString why;
        if (!sim->start(&why)) {
            if (error)
                *error = QStringLiteral("modem %1: %2").arg(i + 1).arg(why);
            stop();
            return false;
        }
    }
    return true;
}

void ModemBank::stop()
{
    qDeleteAll(modems);
    modems.clear();
    for (QThread* t : qAsConst(threads)) {
        t->quit();
        t->wait();
    }
    qDeleteAll(threads);
    threads.clear();
}

QStringList ModemBank::portPaths() const
{
    QStringList paths;
    for (const ModemSim* sim : modems)
        paths.append(sim->portPath());
    return paths;
}
