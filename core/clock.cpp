#include "core/clock.h"

#include <atomic>

namespace {
std::atomic<qint64> clockOffset{0};
}

namespace AppClock {

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch() + clockOffset.load();
}

QDateTime now()
{
    return QDateTime::fromMSecsSinceEpoch(nowMs());
}

void setOffsetMs(qint64 offset)
{
    clockOffset.store(offset);
}

qint64 offsetMs()
{
    return clockOffset.load();
}

} // namespace AppClock
