#pragma once

#include "controller/roadstate.h"

#include <QObject>
#include <QString>
#include <QTimer>

// The controller's state as a JSON file in the data directory, for
// `vlsmsd --status`. Rewritten whole (a temporary file, then a rename) every
// second, on a timer of the thread that owns it, so that a slow controller
// never makes it stale.
class StatusFile : public QObject
{
    Q_OBJECT
public:
    explicit StatusFile(QObject* parent = nullptr);
    ~StatusFile() override;

    static QString path();

    void update(const RoadState& state);
    // Writes now; false when the file could not be written.
    bool write();
    // Removes the file, for a clean end.
    void remove();

private:
    RoadState current;
    bool haveState = false;
    QTimer timer;
    bool writeFaultLogged = false;
};
