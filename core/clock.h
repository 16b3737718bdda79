#pragma once

#include <QDateTime>
#include <QtGlobal>

// The program's one source of the current time. Everything that acts on the
// wall clock (store times, the daily restart, the five-minute expiry) asks
// here, so that a test can move the clock to 01:01 or to a fifth minute.
namespace AppClock {

// Milliseconds since the epoch, moved by the offset.
qint64 nowMs();
// Local date and time, moved by the offset.
QDateTime now();
// Shift the clock by this many milliseconds (0 restores real time).
void setOffsetMs(qint64 offset);
qint64 offsetMs();

} // namespace AppClock
