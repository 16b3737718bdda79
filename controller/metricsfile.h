#pragma once

#include "controller/roadstate.h"

#include <QByteArray>
#include <QString>

// The controller's state as metrics.prom in the data directory, in the
// Prometheus text exposition format for node_exporter's textfile collector.
// Rewritten whole (a temporary file, then a rename), so that a reader never
// sees half a file. Readable by the file's group as well as its owner: that
// is how another user's node_exporter may be let in (see the README).
class MetricsFile
{
public:
    static QString path();
    // The exposition text of the state: every family with its HELP and TYPE;
    // per-port families for the served ports, labelled by port name.
    static QByteArray text(const RoadState& state);

    // Writes the file now; false with the reason when it could not be written.
    bool write(const RoadState& state, QString* error = nullptr);
    // Removes the file, for a clean end: stale figures would read as live.
    void remove();
};
