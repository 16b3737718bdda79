#include "servicenotifier.h"

#include "controller/controllerhost.h"

#include <chrono>

#ifdef VLSMS_SYSTEMD
#include <systemd/sd-daemon.h>
#endif

namespace {

qint64 steadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void notify(const QByteArray& text)
{
#ifdef VLSMS_SYSTEMD
    sd_notify(0, text.constData());
#else
    Q_UNUSED(text)
#endif
}

} // namespace

ServiceNotifier::ServiceNotifier(ControllerHost& host, QObject* parent) : QObject(parent)
{
#ifdef VLSMS_SYSTEMD
    uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) > 0) {
        watchdogMs = qint64(usec / 1000);
    }
#endif
    connect(&host, &ControllerHost::stateChanged, this, &ServiceNotifier::onState);
    if (watchdogMs > 0) {
        mainAliveMs.store(steadyMs());
        connect(&heartbeat, &QTimer::timeout, this, [this] { mainAliveMs.store(steadyMs()); });
        heartbeat.start(1000);
        connect(&host, &ControllerHost::ticked, this, &ServiceNotifier::onTick, Qt::DirectConnection);
    }
}

QString ServiceNotifier::statusLine(const RoadState& state)
{
    int served = 0;
    int working = 0;
    int gone = 0;
    for (const PortState& port : state.ports) {
        served += port.excluded ? 0 : 1;
        working += port.working && port.present ? 1 : 0;
        gone += port.present || port.excluded ? 0 : 1;
    }
    QString line;
    if (!state.storeOpen) {
        line += QStringLiteral("store not open (%1); ").arg(state.storeError);
    }
    if (state.modemsOn) {
        line += QStringLiteral("%1 of %2 ports working").arg(working).arg(served);
        if (gone > 0) {
            line += QStringLiteral(", %1 gone").arg(gone);
        }
    } else {
        line += QStringLiteral("modems off");
    }
    line += QStringLiteral("; %1 pending")
                .arg(state.pending < 0 ? QStringLiteral("?") : QString::number(state.pending));
    if (state.failed > 0) {
        line += QStringLiteral(", %1 refused by MySQL").arg(state.failed);
    }
    const char* link = state.link == LinkUp           ? (state.linkEncrypted ? "up (TLS)" : "up")
                       : state.link == LinkOff        ? "off"
                       : state.link == LinkConnecting ? "connecting"
                                                      : "down, retrying";
    return line + QStringLiteral("; MySQL link ") + QLatin1String(link);
}

void ServiceNotifier::stopping()
{
    notify("STOPPING=1");
}

void ServiceNotifier::onState(const RoadState& state)
{
    QByteArray message;
    // Ready once the store is open and the workers have started; a store
    // that cannot be opened keeps the service starting, and its reason shows.
    if (!ready && state.storeOpen && state.modemsOn) {
        ready = true;
        message = "READY=1\n";
    }
    const QString status = statusLine(state);
    if (status != lastStatus) {
        lastStatus = status;
        message += "STATUS=" + status.toUtf8();
    }
    if (!message.isEmpty()) {
        notify(message);
    }
}

// In the controller's thread.
void ServiceNotifier::onTick()
{
    if (steadyMs() - mainAliveMs.load() < watchdogMs / 2) {
        notify("WATCHDOG=1");
    }
}
