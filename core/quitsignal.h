#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM and SIGINT into a Qt signal, so that a service manager or a
// terminal stops the program the same way as closing its window. Off POSIX
// systems it does nothing.
class QuitSignal : public QObject
{
    Q_OBJECT
public:
    explicit QuitSignal(QObject* parent = nullptr);
    ~QuitSignal() override;

signals:
    void requested();

private:
    void onReadable();

    QSocketNotifier* notifier = nullptr;
};
