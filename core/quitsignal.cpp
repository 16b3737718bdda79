#include "core/quitsignal.h"

#include "core/comlog.h"

#include <QDeadlineTimer>
#include <QSocketNotifier>
#include <QThread>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// [0] is written by the handler, [1] read by the event loop.
int signalPipe[2] = {-1, -1};
// The handler wakes the watchdog through watchPipe; the destructor releases
// it through donePipe.
int watchPipe[2] = {-1, -1};
int donePipe[2] = {-1, -1};

extern "C" void onQuitSignal(int)
{
    const char byte = 1;
    // Only async-signal-safe work here; the event loop does the rest.
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[0], &byte, 1);
    [[maybe_unused]] const ssize_t woken = ::write(watchPipe[1], &byte, 1);
}

// Waits for a quit signal, then for the clean stop; false when the stop was
// done in time (or none was asked for).
bool stopHangs(int graceMs)
{
    pollfd both[2] = {{watchPipe[0], POLLIN, 0}, {donePipe[0], POLLIN, 0}};
    int ready = 0;
    do {
        ready = ::poll(both, 2, -1);
    } while (ready < 0 && errno == EINTR);
    if (ready < 0 || both[1].revents != 0) {
        return false;
    }
    pollfd done = {donePipe[0], POLLIN, 0};
    const QDeadlineTimer deadline(graceMs);
    do {
        ready = ::poll(&done, 1, int(deadline.remainingTime()));
    } while (ready < 0 && errno == EINTR);
    return ready == 0;
}

void endHungProcess(int graceMs)
{
    const QByteArray line = QStringLiteral("STOP DID NOT FINISH within %1 s of the quit signal; the process "
                                           "ends now without a clean stop")
                                .arg(graceMs / 1000.0)
                                .toUtf8();
    ComLog log;
    log.open(QStringLiteral("comlog-main.txt"));
    log.write(line);
    std::fprintf(stderr, "%s\n", line.constData());
    std::fflush(stderr);
    // Every accepted message is already on disk; only the stop is cut short.
    std::_Exit(QuitSignal::hungStopStatus);
}
} // namespace
#endif

QuitSignal::QuitSignal(QObject* parent, int graceMs) : QObject(parent)
{
#ifdef Q_OS_UNIX
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0 || ::pipe(watchPipe) != 0 ||
        ::pipe(donePipe) != 0) {
        return;
    }
    notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &QuitSignal::onReadable);
    watchdog = QThread::create([graceMs] {
        if (stopHangs(graceMs)) {
            endHungProcess(graceMs);
        }
    });
    watchdog->setObjectName(QStringLiteral("quit watchdog"));
    watchdog->start();
    struct sigaction action = {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
#else
    Q_UNUSED(graceMs)
#endif
}

QuitSignal::~QuitSignal()
{
#ifdef Q_OS_UNIX
    if (notifier != nullptr) {
        signal(SIGTERM, SIG_DFL);
        signal(SIGINT, SIG_DFL);
        const char byte = 1;
        [[maybe_unused]] const ssize_t written = ::write(donePipe[1], &byte, 1);
        watchdog->wait();
        delete watchdog;
        for (int* fd :
             {&signalPipe[0], &signalPipe[1], &watchPipe[0], &watchPipe[1], &donePipe[0], &donePipe[1]}) {
            ::close(*fd);
            *fd = -1;
        }
    }
#endif
}

void QuitSignal::onReadable()
{
#ifdef Q_OS_UNIX
    char byte = 0;
    [[maybe_unused]] const ssize_t got = ::read(signalPipe[1], &byte, 1);
#endif
    emit requested();
}
