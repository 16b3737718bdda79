#pragma once

#include "controller/roadstate.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

// The controller's state as a JSON file in the data directory, for
// `vlsmsd --status`. Rewritten whole (a temporary file, then a rename) when
// the state changed, at most once a second, and at least every ten seconds.
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
    QJsonObject current;
    bool dirty = false;
    QTimer timer;
    QElapsedTimer sinceWrite;
    bool writeFaultLogged = false;
};
