#include "modem/repeatedstate.h"

bool RepeatedState::occurred(qint64 nowMs)
{
    ++occurrences;
    // A clock set back counts as a minute gone, so the reminders never stop.
    if (occurrences == 1 || nowMs - lastReportMs >= ReminderMs || nowMs < lastReportMs) {
        lastReportMs = nowMs;
        return true;
    }
    return false;
}

bool RepeatedState::end()
{
    const bool wasOn = occurrences > 0;
    occurrences = 0;
    return wasOn;
}
