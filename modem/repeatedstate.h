#pragma once

#include <QtGlobal>

// A condition that may last (a port that will not open, a modem that does not
// answer): worth a log line when it begins, a reminder once a minute while it
// lasts and a line when it ends, not one on every try.
class RepeatedState
{
public:
    static constexpr qint64 ReminderMs = 60000;

    // Counts one more occurrence; true when this one should be reported.
    bool occurred(qint64 nowMs);
    // Ends the condition; true when it was on, so that its end gets a line.
    bool end();

    bool isOn() const { return occurrences > 0; }
    int count() const { return occurrences; }

private:
    int occurrences = 0;
    qint64 lastReportMs = 0;
};
