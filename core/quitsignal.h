#pragma once

#include <QObject>

class QSocketNotifier;
class QThread;

// Turns SIGTERM and SIGINT into a Qt signal, so that a service manager or a
// terminal stops the program the same way as closing its window. Off POSIX
// systems it does nothing.
//
// A stop that hangs (a worker or a server that does not answer, a busy event
// loop) must not keep a service manager waiting: once a signal came, the
// process ends by itself after the grace time, with a line in the main log,
// unless this object has been destroyed by then. The programs keep it alive
// until their clean stop is done. The watch runs in a thread of its own and
// is woken by the signal handler itself, so it works when the event loop
// does not.
class QuitSignal : public QObject
{
    Q_OBJECT
public:
    explicit QuitSignal(QObject* parent = nullptr, int graceMs = 10000);
    ~QuitSignal() override;

    // The exit status of a process ended because its stop did not finish.
    static constexpr int hungStopStatus = 3;

signals:
    void requested();

private:
    void onReadable();

    QSocketNotifier* notifier = nullptr;
    QThread* watchdog = nullptr;
};
