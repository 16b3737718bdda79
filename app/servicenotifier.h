#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>

class ControllerHost;
struct RoadState;

// What the service tells its service manager (systemd's sd_notify): that it
// is ready once the store is open and the workers have started, a one-line
// status whenever that changes, and that it is stopping; and, when the
// manager keeps a watchdog, a ping after every tick of the controller, sent
// from the controller's own thread and only while the main thread is alive
// too, so that a road that hangs anywhere gets the service restarted.
// Without a service manager (or built without libsystemd) it does nothing.
class ServiceNotifier : public QObject
{
    Q_OBJECT
public:
    explicit ServiceNotifier(ControllerHost& host, QObject* parent = nullptr);

    // The line shown by `systemctl status`: the ports, the queue and the link.
    static QString statusLine(const RoadState& state);
    void stopping();

private:
    void onState(const RoadState& state);
    void onTick();

    bool ready = false;
    QString lastStatus;
    // The watchdog's period as the manager set it; 0 when there is none.
    qint64 watchdogMs = 0;
    QTimer heartbeat;
    // When the main thread last ran its event loop (a steady clock, ms).
    std::atomic<qint64> mainAliveMs{0};
};
