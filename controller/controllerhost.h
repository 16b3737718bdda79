#pragma once

#include "controller/roadstate.h"

#include <QObject>
#include <QThread>

class Controller;

// Runs the controller in a thread of its own, so that whoever shows its
// state (the window, the service's status file) never waits for a modem, the
// store or the MySQL server. Commands are queued to the controller; its state
// arrives through stateChanged in the host's thread.
class ControllerHost : public QObject
{
    Q_OBJECT
public:
    explicit ControllerHost(QObject* parent = nullptr);
    ~ControllerHost() override;

    // Starts the thread and the road (store, modems, sync).
    void start();
    // Stops the road and the thread; returns once both have ended.
    void stop();

    void setModemsOn(bool on);
    void setSyncOn(bool on);
    void requeueFailed();

    const RoadState& lastState() const { return last; }

signals:
    void stateChanged(const RoadState& state);
    // After every tick of the controller, emitted in the controller's thread:
    // connect with Qt::DirectConnection to act there (a watchdog that must
    // stop when the road stops).
    void ticked();

private:
    QThread thread;
    Controller* controller = nullptr;
    RoadState last;
};
