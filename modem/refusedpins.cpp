#include "modem/refusedpins.h"

#include <QSet>

#include <mutex>

namespace {

std::mutex mutex;

QSet<QString>& keys()
{
    static QSet<QString> set;
    return set;
}

} // namespace

QString RefusedPins::simKey(const QString& simNo)
{
    return QStringLiteral("sim:") + simNo;
}

QString RefusedPins::portKey(const QString& portName)
{
    return QStringLiteral("port:") + portName;
}

bool RefusedPins::contains(const QString& key)
{
    std::lock_guard<std::mutex> lock(mutex);
    return keys().contains(key);
}

void RefusedPins::add(const QString& key)
{
    std::lock_guard<std::mutex> lock(mutex);
    keys().insert(key);
}

void RefusedPins::clear()
{
    std::lock_guard<std::mutex> lock(mutex);
    keys().clear();
}
