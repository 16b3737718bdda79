#include "controller/controller.h"

#include "controller/requeuerequest.h"
#include "core/clock.h"
#include "core/mycardmap.h"
#include "modem/mycomworker.h"
#include "modem/serialchecker.h"
#include "mysql/forwarder.h"
#include "mysql/sentledger.h"
#include "mysql/serveraddress.h"
#include "pdu/gsmop.h"
#include "store/myrecvsms.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSerialPortInfo>
#include <QSet>

#include <algorithm>

namespace {

constexpr int comRunRunning = 1;
// Messages handed to the forwarder at a time: one insert round trip and one
// store transaction each.
constexpr int BatchSize = 100;
// How long a modem may go without signal before its row says so.
constexpr qint64 NoSignalFaultMs = 5 * 60 * 1000;
// metrics.prom is rewritten at least this often (node_exporter is told 15 s).
constexpr qint64 MetricsPeriodMs = 10000;
// At a stop, how long an insert under way may still take before it is cut
// off, and how long the forwarder then has to end: the stop stays short even
// with a frozen server. A batch cut off is looked up at the next link.
constexpr int StopGraceMs = 300;
constexpr int StopCutMs = 1000;

enum HdFlag : int
{
    FlagForwarded = 1,
    FlagRefused = 10
};

QStringList splitList(const QString& text)
{
    return text.split(QRegularExpression(QStringLiteral("[,\uFF0C]")));
}

// A row for a new worker on the port: what its modem said is forgotten; its
// counts since the start stay, and its fault until judged again (so that its
// end is logged).
PortState freshRow(const PortState& port)
{
    PortState fresh;
    fresh.name = port.name;
    fresh.received = port.received;
    fresh.lastMessage = port.lastMessage;
    fresh.fault = port.fault;
    return fresh;
}

} // namespace

Controller::Controller(QObject* parent) : QObject(parent), handTimer(this)
{
    qRegisterMetaType<RoadState>();
    mainLog.open(QStringLiteral("comlog-main.txt"));
    connect(&handTimer, &QTimer::timeout, this, &Controller::tick);

    forwarder = new Forwarder;
    // Without a parent: a thread that must be left behind at a stop is never destroyed.
    forwarderThread = new QThread;
    forwarder->moveToThread(forwarderThread);
    connect(forwarder, &Forwarder::linkOpened, this, &Controller::onLinkOpened);
    connect(forwarder, &Forwarder::forwarded, this, &Controller::onForwarded);
    connect(forwarder, &Forwarder::settled, this, &Controller::onSettled);
    forwarderThread->setObjectName(QStringLiteral("forwarder"));
    forwarderThread->start();
}

Controller::~Controller()
{
    shutdown();
}

QStringList Controller::servedPorts(const QStringList& enumerated, const QString& extraPorts)
{
    QStringList names = enumerated;
    for (const QString& entry : splitList(extraPorts)) {
        const QString name = entry.trimmed();
        if (!name.isEmpty()) {
            names.append(name);
        }
    }
    names.removeDuplicates();
    std::sort(names.begin(), names.end());
    return names;
}

bool Controller::isExcluded(const QString& portName, const QString& ignorePorts)
{
    const QStringList entries = splitList(ignorePorts);
    return std::any_of(entries.cbegin(), entries.cend(),
                       [&portName](const QString& entry) { return entry.trimmed() == portName; });
}

void Controller::start()
{
    settings.loadIni();
    road.storeOpen = recvStore.openLocalDb();
    if (!road.storeOpen && recvStore.isLocked()) {
        logMain(QStringLiteral("LOCAL DB LOCKED at start: opened once the lock is gone"));
    }
    road.storeError = recvStore.localDbError();
    // A batch kept from the last run had no answer, or its marks were not
    // all written: the server is asked before anything is sent. The program
    // ended since its insert went out, so the server's statement limit is
    // past once that much time has gone by from now.
    settleNeeded = road.storeOpen && SentLedger::load(sentRows, sentBound) && !sentRows.isEmpty();
    sentKept = settleNeeded;
    settleNotBeforeMs = AppClock::nowMs() + (Mysql5::statementSeconds() + 1) * 1000;
    if (!road.storeOpen && !storeFaultLogged) {
        storeFaultLogged = true;
        logMain(QStringLiteral("LOCAL DB NOT OPEN: %1").arg(road.storeError));
    }
    setModemsOn(true);
    setSyncOn(true);
    refreshCounts();
    publish();
    writeMetrics();
    handTimer.start(1000);
}

void Controller::shutdown()
{
    handTimer.stop();
    stopWorkers();
    road.ports.clear();
    runs.clear();
    road.modemsOn = false;
    if (forwarder != nullptr) {
        stopForwarder();
        // A batch that was in flight has its result in this thread's queue by
        // now; it must be marked before the store closes, or the next start
        // would send it again.
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
        road.syncOn = false;
        road.link = LinkOff;
        if (!unmarkedIds[0].isEmpty() || !unmarkedIds[1].isEmpty()) {
            // A lock held elsewhere gets one bounded wait: the stop must not hang on it.
            recvStore.probeLock(stopLockWaitMs);
            retryMarks();
            const int unmarked = unmarkedIds[0].size() + unmarkedIds[1].size();
            if (unmarked > 0) {
                logMain(QStringLiteral("LOCAL DB MARK FAILED AT STOP: %1 rows were forwarded but not marked; "
                                       "the next start looks them up on the server before sending anything")
                            .arg(unmarked));
            }
        }
        // Every answer in and marked: nothing is left for the next start to
        // look up, so it forwards at once.
        if (!batchInFlight && !settleNeeded && unmarkedIds[0].isEmpty() && unmarkedIds[1].isEmpty() &&
            recvStore.isLocalDbOpen() && SentLedger::clear()) {
            sentKept = false;
        }
        recvStore.closeLocalDb();
        road.storeOpen = false;
        if (sinceMetrics.isValid()) {
            metrics.remove();
        }
        publishNow();
        emit stopped();
    }
}

// Ends the forwarder's thread within a bound: a call waiting on a frozen
// server is cut off after a short grace. The batch it carried stays kept in
// the store and is looked up at the next link, in this run or the next. A
// thread that still does not end (a name lookup that hangs) is left behind
// rather than waited for; the process ends around it.
void Controller::stopForwarder()
{
    Forwarder* doomed = forwarder;
    forwarder = nullptr;
    // The link is closed in the thread that opened it.
    QMetaObject::invokeMethod(
        doomed,
        [doomed] {
            delete doomed;
            QThread::currentThread()->quit();
        },
        Qt::QueuedConnection);
    if (!forwarderThread->wait(StopGraceMs)) {
        logMain(
            QStringLiteral("STOP: the MySQL link still waits on its server %1 ms after the stop; the wait "
                           "is cut off (a batch under way is looked up at the next link)")
                .arg(StopGraceMs));
        Forwarder::cancel();
        if (!forwarderThread->wait(StopCutMs)) {
            logMain(QStringLiteral("STOP: the MySQL link did not end within %1 ms; left behind")
                        .arg(StopGraceMs + StopCutMs));
            forwarderThread = nullptr;
            return;
        }
    }
    delete forwarderThread;
    forwarderThread = nullptr;
}

// --- the modems -----------------------------------------------------------

void Controller::setModemsOn(bool on)
{
    stopWorkers();
    // The table is empty while the modems are off; the rows come back in
    // their places when they are switched on again.
    if (!road.ports.isEmpty()) {
        parkedPorts = road.ports;
    }
    road.ports.clear();
    runs.clear();
    road.modemsOn = on;
    if (on) {
        settings.loadIni();
        comRunState.store(comRunRunning);
        for (PortState& port : parkedPorts) {
            PortState fresh = freshRow(port);
            fresh.excluded = isExcluded(fresh.name, settings.ignorePorts);
            // Listed afresh below: a port still gone keeps this.
            fresh.present = false;
            fresh.stateText = QStringLiteral("端口已移除");
            road.ports.append(fresh);
            runs.append(PortRun());
        }
        scanPorts(false);
        judgePorts();
    }
    publish();
}

// The ports to serve now: those the system lists and the extra ones that are
// there to be opened.
QStringList Controller::presentPorts() const
{
    QStringList enumerated = fixedPorts;
    if (!hasFixedPorts) {
        const QList<QSerialPortInfo> infos = QSerialPortInfo::availablePorts();
        for (const QSerialPortInfo& info : infos) {
            enumerated.append(info.portName());
        }
    }
    QStringList extra;
    for (const QString& entry : splitList(settings.extraPorts)) {
        const QString name = entry.trimmed();
        if (!name.isEmpty() && extraPortExists(name)) {
            extra.append(name);
        }
    }
    return servedPorts(enumerated, extra.join(QLatin1Char(',')));
}

bool Controller::extraPortExists(const QString& name)
{
#ifdef Q_OS_WIN
    Q_UNUSED(name)
    return true;
#else
    // The serial port library opens a bare name under /dev.
    const bool isPath = name.startsWith(QLatin1Char('/')) || name.startsWith(QLatin1String("./")) ||
                        name.startsWith(QLatin1String("../"));
    return QFileInfo::exists(isPath ? name : QStringLiteral("/dev/") + name);
#endif
}

// Lists the ports and brings the rows in line: a new port takes the next row
// and gets a worker (unless excluded); a port gone has its worker stopped and
// keeps its row; a port back gets a fresh worker, as a re-plugged modem is a
// new device behind the same name. Nothing else restarts.
void Controller::scanPorts(bool logChanges)
{
    sinceScan.start();
    if (!road.modemsOn) {
        return;
    }
    const QStringList present = presentPorts();
    // Sets, and the rows read without a copy: a bank has hundreds of ports,
    // and this runs every ten seconds.
    const QSet<QString> presentNames(present.cbegin(), present.cend());
    QSet<QString> known;
    bool changed = false;
    for (int row = 0; row < road.ports.size(); ++row) {
        known.insert(road.ports.at(row).name);
        const bool here = presentNames.contains(road.ports.at(row).name);
        if (here == road.ports.at(row).present) {
            continue;
        }
        PortState& port = road.ports[row];
        changed = true;
        if (here) {
            port = freshRow(port);
            if (logChanges) {
                logMain(QStringLiteral("PORT BACK: %1").arg(port.name));
            }
            startPort(row);
        } else {
            stopPort(row);
            port.present = false;
            port.working = false;
            port.health = ModemHealth();
            port.stateText = QStringLiteral("端口已移除");
            if (logChanges) {
                logMain(QStringLiteral("PORT GONE: %1").arg(port.name));
            }
        }
    }
    for (const QString& name : present) {
        if (known.contains(name)) {
            continue;
        }
        changed = true;
        PortState port;
        port.name = name;
        road.ports.append(port);
        runs.append(PortRun());
        if (logChanges) {
            logMain(QStringLiteral("PORT NEW: %1").arg(name));
        }
        startPort(road.ports.size() - 1);
    }
    if (changed) {
        judgePorts();
        publish();
    }
}

// A fresh worker on the row's port; its id is the row number + 1, which also
// names the port's log.
void Controller::startPort(int row)
{
    PortState& port = road.ports[row];
    port.excluded = isExcluded(port.name, settings.ignorePorts);
    port.stateText = port.excluded ? QStringLiteral("（排除）") : QStringLiteral("准备连接...");
    runs[row].noSignalSinceMs = -1;
    if (port.excluded) {
        return;
    }
    auto* worker = new MyComWorker(this);
    worker->setParams(row + 1, port.name, settings.speed, settings.baudRate, settings.flowControl);
    worker->setSimPin(settings.simPin);
    runs[row].worker = worker;
    connect(worker, &MyComWorker::workOkMsg, this, &Controller::onWorkOkMsg);
    connect(worker, &MyComWorker::workErrMsg, this, &Controller::onWorkErrMsg);
    connect(worker, &MyComWorker::workHealth, this, &Controller::onWorkHealth);
    worker->startWork();
}

// Whatever the stopped worker still had queued never reaches the row, which
// may have a fresh worker by then.
void Controller::stopPort(int row)
{
    MyComWorker* worker = runs[row].worker;
    if (worker == nullptr) {
        return;
    }
    runs[row].worker = nullptr;
    disconnect(worker, nullptr, this, nullptr);
    worker->stopWork();
    worker->deleteLater();
}

void Controller::stopWorkers()
{
    // Every exchange of every worker ends at once; then each thread is waited for.
    comRunState.store(ComRunStopped);
    for (int row = 0; row < runs.size(); ++row) {
        stopPort(row);
    }
}

void Controller::onWorkOkMsg(int nCheckID, int nMsg, const QByteArray& pduBuf)
{
    if (logBit(LogWorkerMsg)) {
        if (nMsg >= 4) {
            logMain(QStringLiteral("OKMSG: ID=%1, MSG=%2").arg(nCheckID).arg(nMsg));
        }
        if (!pduBuf.isEmpty()) {
            mainLog.write(pduBuf);
        }
    }
    if (nCheckID < 1 || nCheckID > runs.size() || runs.at(nCheckID - 1).worker == nullptr) {
        return;
    }
    PortState& port = road.ports[nCheckID - 1];
    switch (nMsg) {
    case 1:
        port.stateText = QStringLiteral("连接成功,检查AT响应...");
        port.working = false;
        break;
    case 2:
        port.stateText = QStringLiteral("设备初始化...");
        port.working = false;
        break;
    case 4:
        port.stateText = QStringLiteral("获取卡号...");
        port.device = QString::fromUtf8(pduBuf);
        port.working = false;
        break;
    case 5:
        port.stateText = QStringLiteral("工作中(0)...");
        port.sim = QString::fromUtf8(pduBuf);
        port.working = true;
        break;
    case 6:
        port.stateText = QStringLiteral("工作中(1)...");
        port.working = true;
        storeMessage(nCheckID - 1, pduBuf);
        break;
    default:
        return;
    }
    publish();
}

void Controller::onWorkErrMsg(int nCheckID, int nMsg)
{
    if (nCheckID < 1 || nCheckID > runs.size() || runs.at(nCheckID - 1).worker == nullptr) {
        return;
    }
    static const char* const texts[] = {"端口连接异常！",       "连接失败,重试中...",
                                        "AT响应异常,重试中...", "初始化异常,请检查设备！",
                                        "设备号异常！",         "SIM卡异常！"};
    if (nMsg < 0 || nMsg >= int(sizeof(texts) / sizeof(texts[0]))) {
        return;
    }
    road.ports[nCheckID - 1].stateText = QString::fromUtf8(texts[nMsg]);
    road.ports[nCheckID - 1].working = false;
    publish();
}

void Controller::onWorkHealth(int nCheckID, const ModemHealth& health)
{
    if (nCheckID < 1 || nCheckID > runs.size() || runs.at(nCheckID - 1).worker == nullptr) {
        return;
    }
    road.ports[nCheckID - 1].health = health;
    // No signal: rssi 0, or none known while the modem says it is not
    // registered. An unknown rssi alone is not judged: the modem may not
    // have said yet, or may not say at all.
    const bool noSignal =
        health.signal == 0 ||
        (health.signal < 0 && (health.registration == ModemHealth::Registration::Searching ||
                               health.registration == ModemHealth::Registration::Unregistered));
    qint64& since = runs[nCheckID - 1].noSignalSinceMs;
    if (!noSignal) {
        since = -1;
    } else if (since < 0) {
        since = AppClock::nowMs();
    }
    judgePorts();
    publish();
}

// Why a served port needs the operator's eye; empty when nothing does.
QString Controller::portFault(int row) const
{
    const PortState& port = road.ports.at(row);
    if (port.excluded) {
        return QString();
    }
    if (!port.present) {
        return QStringLiteral("端口已移除");
    }
    switch (port.health.sim) {
    case ModemHealth::Sim::Absent:
        return QStringLiteral("未插SIM卡");
    case ModemHealth::Sim::Pin:
        return port.health.pinRefused ? QStringLiteral("SIM卡拒绝了设置的PIN码，不再尝试")
                                      : QStringLiteral("SIM卡需要PIN码");
    case ModemHealth::Sim::Puk:
        return QStringLiteral("SIM卡已锁，需要PUK码");
    case ModemHealth::Sim::Error:
        return QStringLiteral("SIM卡故障");
    default:
        break;
    }
    if (port.health.registration == ModemHealth::Registration::Denied) {
        return QStringLiteral("网络拒绝注册");
    }
    const qint64 since = runs.at(row).noSignalSinceMs;
    if (since >= 0 && AppClock::nowMs() - since >= NoSignalFaultMs) {
        return QStringLiteral("无信号超过5分钟");
    }
    return QString();
}

// A fault is logged when it starts and when it is over.
void Controller::judgePorts()
{
    for (int row = 0; row < road.ports.size(); ++row) {
        PortState& port = road.ports[row];
        const QString fault = portFault(row);
        if (fault == port.fault) {
            continue;
        }
        logMain(fault.isEmpty() ? QStringLiteral("PORT FAULT OVER: %1").arg(port.name)
                                : QStringLiteral("PORT FAULT: %1: %2").arg(port.name, fault));
        port.fault = fault;
    }
}

// The worker deletes the message from the SIM only once the store holds it.
void Controller::storeMessage(int row, const QByteArray& pdu)
{
    MyComWorker* worker = runs.at(row).worker;
    const RecvStore::InsertOutcome outcome = recvStore.insertRecvOutcome(
        worker->portName(), worker->deviceNo(), worker->simNo(), QString::fromUtf8(pdu));
    switch (outcome) {
    case RecvStore::InsertOutcome::Stored: {
        worker->answerMessage(StoreAnswer::Stored);
        noteStoreWriteFault(QString());
        PortState& port = road.ports[row];
        ++port.received;
        ++road.receivedSinceStart;
        port.lastMessage = AppClock::now().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        road.total = recvStore.countAll();
        road.lastSender = recvStore.lastSender();
        road.lastRecvTime = recvStore.lastRecvTime();
        forwardMore();
        break;
    }
    case RecvStore::InsertOutcome::AlreadyStored:
        worker->answerMessage(StoreAnswer::AlreadyStored);
        break;
    case RecvStore::InsertOutcome::Failed:
        worker->answerMessage(StoreAnswer::Failed);
        storeFaultFromLock = recvStore.isLocked();
        // Never null here: a refusal without a reason is still a refusal.
        noteStoreWriteFault(recvStore.lastWriteError().isNull() ? QStringLiteral("")
                                                                : recvStore.lastWriteError());
        return;
    }
}

// A store that refuses messages (a full disk, a foreign lock) leaves them on
// the SIMs, so nothing is lost, but the operator must hear of it: logged when
// it starts, once a minute while it lasts, and when the store takes messages
// again; shown while it lasts.
void Controller::noteStoreWriteFault(const QString& error)
{
    const qint64 now = AppClock::nowMs();
    if (error.isNull()) {
        if (storeFaultSinceMs >= 0) {
            logMain(QStringLiteral("LOCAL DB WRITE BACK after %1 s").arg((now - storeFaultSinceMs) / 1000));
            storeFaultSinceMs = -1;
            if (road.alert.startsWith(QLatin1String("LOCAL DB WRITE FAILED"))) {
                road.alert.clear();
            }
        }
        return;
    }
    const QString text = QStringLiteral("LOCAL DB WRITE FAILED: %1; messages stay on the SIMs")
                             .arg(error.isEmpty() ? QStringLiteral("unknown error") : error);
    if (storeFaultSinceMs < 0) {
        storeFaultSinceMs = now;
        storeFaultLoggedMs = now;
        logMain(text);
    } else if (now - storeFaultLoggedMs >= 60000) {
        storeFaultLoggedMs = now;
        logMain(QStringLiteral("%1 (for %2 s)").arg(text).arg((now - storeFaultSinceMs) / 1000));
    }
    if (road.alert.isEmpty()) {
        road.alert = text;
    }
}

// --- the link and the forwarding cycle ----------------------------------

void Controller::setSyncOn(bool on)
{
    road.syncOn = on;
    road.linkError.clear();
    linkFaultSinceMs = -1;
    road.linkEncrypted = false;
    road.linkServer.clear();
    if (forwarder != nullptr) {
        QMetaObject::invokeMethod(forwarder, &Forwarder::closeLink, Qt::QueuedConnection);
    }
    road.link = LinkOff;
    if (on) {
        settings.loadIni();
        openLink(Forwarder::Round::First);
    }
    publish();
}

void Controller::openLink(Forwarder::Round round)
{
    road.link = LinkConnecting;
    road.linkEncrypted = false;
    road.linkServer.clear();
    lastRound = round;
    LinkSettings settingsOfLink;
    settingsOfLink.host = settings.mysqlHost;
    settingsOfLink.port = settings.mysqlPort;
    settingsOfLink.user = settings.mysqlUser;
    settingsOfLink.pwd = settings.mysqlPwd;
    settingsOfLink.dbName = settings.mysqlDbName;
    settingsOfLink.sslCa = settings.mysqlSslCa;
    settingsOfLink.sslCert = settings.mysqlSslCert;
    settingsOfLink.sslKey = settings.mysqlSslKey;
    Forwarder* target = forwarder;
    if (target == nullptr) {
        return;
    }
    QMetaObject::invokeMethod(
        target, [target, settingsOfLink, round] { target->openLink(settingsOfLink, round); },
        Qt::QueuedConnection);
}

void Controller::onLinkOpened(bool ok, const QString& error, const LinkInfo& info)
{
    // An attempt that was under way when the sync was switched off may still
    // report; the link stays off.
    if (!road.syncOn || road.link != LinkConnecting) {
        return;
    }
    road.link = ok ? LinkUp : LinkError;
    road.linkError = error;
    road.linkEncrypted = ok && !info.cipher.isEmpty();
    road.linkServer = ok ? info.server : QString();
    link = info;
    if (ok) {
        const QString how = info.cipher.isEmpty() ? QStringLiteral("not encrypted")
                                                  : QStringLiteral("encrypted (%1)").arg(info.cipher);
        // Logged once when the link comes up, and once when it is back after
        // a fault, however many attempts that took.
        if (linkFaultSinceMs >= 0) {
            logMain(QStringLiteral("MYSQL LINK BACK after %1 s, %2, on %3")
                        .arg((AppClock::nowMs() - linkFaultSinceMs) / 1000)
                        .arg(how, info.server));
            linkFaultSinceMs = -1;
        } else {
            logMain(QStringLiteral("MYSQL LINK UP, %1, on %2").arg(how, info.server));
        }
    } else if (lastRound == Forwarder::Round::Failover) {
        // The loss was logged a moment ago; what the other servers said is news.
        logMain(error);
    }
    publish();
    forwardMore();
}

// The link failed under a batch: with other servers in the list they are
// tried at once, the next after the lost one first; otherwise (and when none
// of them answers) the retry countdown runs. The reason is logged now and
// shown meanwhile.
void Controller::loseLink(const QString& error)
{
    road.linkError = error.isEmpty() ? QStringLiteral("MYSQL CONECT LOST.") : error;
    road.link = LinkError;
    road.linkEncrypted = false;
    road.linkServer.clear();
    if (ServerAddress::parseList(settings.mysqlHost, settings.mysqlPort).size() > 1 && forwarder != nullptr) {
        logLinkFault();
        openLink(Forwarder::Round::Failover);
    } else if (forwarder != nullptr) {
        QMetaObject::invokeMethod(forwarder, &Forwarder::closeLink, Qt::QueuedConnection);
    }
}

void Controller::linkStep()
{
    if (!road.syncOn || road.link == LinkOff || road.link == LinkConnecting) {
        return;
    }
    if (road.link > LinkRetryLast) {
        --road.link;
    } else if (road.link == LinkRetryLast) {
        openLink(Forwarder::Round::Retry);
    } else if (road.link == LinkUp) {
        forwardMore();
    } else {
        logLinkFault();
        road.link = LinkRetryFirst;
    }
}

// A link that stays down is logged when it goes down, then once a minute
// while it stays down (with how long), and when it is back: not at every
// attempt.
void Controller::logLinkFault()
{
    const qint64 now = AppClock::nowMs();
    const QString text = road.linkError.isEmpty() ? QStringLiteral("MYSQL LINK DOWN") : road.linkError;
    if (linkFaultSinceMs < 0) {
        linkFaultSinceMs = now;
        linkFaultLoggedMs = now;
        logMain(text);
    } else if (now - linkFaultLoggedMs >= 60000) {
        linkFaultLoggedMs = now;
        logMain(QStringLiteral("%1 (down for %2 s)").arg(text).arg((now - linkFaultSinceMs) / 1000));
    }
}

// Hands the forwarder the next complete messages, up to a batch, once it is
// idle and every earlier result is marked in the store. A batch whose
// outcome is unknown is first looked up on the server.
void Controller::forwardMore()
{
    // Nothing goes out while the store is locked: its marks could not follow.
    if (!road.syncOn || road.link != LinkUp || batchInFlight || !recvStore.isLocalDbOpen() ||
        recvStore.isLocked() || !unmarkedIds[0].isEmpty() || !unmarkedIds[1].isEmpty() ||
        forwarder == nullptr) {
        return;
    }
    if (settleNeeded) {
        // Until the server's statement limit has passed, the insert may
        // still be running there; the tick comes back.
        if (AppClock::nowMs() >= settleNotBeforeMs) {
            batchInFlight = true;
            Forwarder* target = forwarder;
            const QList<SmsRow> rows = sentRows;
            const qint64 bound = sentBound;
            QMetaObject::invokeMethod(
                target, [target, rows, bound] { target->settle(rows, bound); }, Qt::QueuedConnection);
        }
        return;
    }
    QList<QList<MyRecvSms*>> messages;
    const bool picked = recvStore.pickBatch(BatchSize, messages);
    QList<SmsRow> batch;
    for (QList<MyRecvSms*>& records : messages) {
        const MyRecvSms* first = records.first();
        SmsRow row;
        row.gatewayId = Mysql5::gatewayId(settings.gatewayName, first->port_no, link.gatewayWidth);
        row.originator = first->sms_sender;
        row.messageDate = first->sms_stamp;
        row.receiveDate = RecvStore::timeText(first->recv_time);
        row.userPhone = settings.cardMap->phoneForSim(first->sim_no);
        // The text is formed from the stored PDUs of the parts, so that 7-bit
        // messages keep '@', the extension characters and the fill bits.
        QStringList pdus;
        for (const MyRecvSms* record : qAsConst(records)) {
            pdus.append(record->txt_pdu);
            row.towIds.append(record->tow_id);
        }
        row.text = GsmOp::messageText(pdus);
        qDeleteAll(records);
        batch.append(row);
    }
    if (!picked && !storeFaultLogged) {
        storeFaultLogged = true;
        logMain(QStringLiteral("LOCAL DB READ FAILED: no message can be picked for forwarding"));
    }
    if (batch.isEmpty()) {
        // Every row of the batch kept is marked: nothing to look up any more.
        if (sentKept && SentLedger::clear()) {
            sentKept = false;
        }
        return;
    }
    // Kept before it goes out: should no answer come, even after this
    // program has died, the next link finds out what the server holds. A
    // store that refuses it (another process holding its lock) does not stop
    // the batch: its marks will fail as well and pause forwarding after it.
    if (SentLedger::record(batch, link.idFloor)) {
        sentKept = true;
        sentFaultLogged = false;
    } else if (!sentFaultLogged) {
        sentFaultLogged = true;
        logMain(QStringLiteral("LOCAL DB WRITE FAILED: the batch going to MySQL is not kept in the store; "
                               "should the program end before its answer, it is sent again"));
    }
    sentRows = batch;
    sentBound = link.idFloor;
    batchInFlight = true;
    QMetaObject::invokeMethod(forwarder, "forward", Qt::QueuedConnection, Q_ARG(QList<SmsRow>, batch));
}

void Controller::onForwarded(const QList<SmsRow>& rows, const QList<RowFate>& fates, const QString& error,
                             qint64 idFloor, qint64 sentMs)
{
    batchInFlight = false;
    if (idFloor >= 0) {
        link.idFloor = idFloor;
    }
    bool notSent = false;
    for (int i = 0; i < rows.size() && i < fates.size(); ++i) {
        const SmsRow& row = rows.at(i);
        if (logBit(LogInsertCard)) {
            logMain(QStringLiteral("insert card: (phone-%1)").arg(row.userPhone));
            logMain(QStringLiteral("insert card: (comm-%1)").arg(row.gatewayId));
            logMain(QStringLiteral("insert card: (sender-%1)").arg(row.originator));
            logMain(QStringLiteral("insert card: (sendstamp-%1)").arg(row.messageDate));
            logMain(QStringLiteral("insert card: (recvstamp-%1)").arg(row.receiveDate));
            logMain(QStringLiteral("insert card: (txt-%1)").arg(row.text));
        }
        switch (fates.at(i)) {
        case RowFate::Inserted:
            unmarkedIds[0] += row.towIds;
            ++road.forwarded;
            break;
        case RowFate::Refused:
            unmarkedIds[1] += row.towIds;
            logMain(QStringLiteral("MYSQL ROW REFUSED by %1, marked failed (%2, %3, %4): %5")
                        .arg(link.server, row.gatewayId, row.originator, row.receiveDate, error));
            break;
        case RowFate::Unknown:
            settleNeeded = true;
            settleNotBeforeMs = sentMs + (Mysql5::statementSeconds() + 1) * 1000;
            notSent = true;
            break;
        case RowFate::NotSent:
            notSent = true;
            break;
        }
    }
    // The message waits; the link is given up now.
    if (notSent && road.link == LinkUp) {
        loseLink(error);
    }
    retryMarks();
    publish();
    forwardMore();
}

void Controller::onSettled(const QList<SmsRow>& rows, const QList<bool>& found, Mysql5::Check check,
                           const QString& error)
{
    batchInFlight = false;
    if (check == Mysql5::Check::Failed) {
        if (road.link == LinkUp) {
            loseLink(error);
        }
        publish();
        return;
    }
    settleNeeded = false;
    int there = 0;
    for (int i = 0; i < rows.size() && i < found.size(); ++i) {
        if (found.at(i)) {
            unmarkedIds[0] += rows.at(i).towIds;
            ++there;
        }
    }
    // The rest are still waiting in the store and go with the next batch.
    if (check == Mysql5::Check::Done) {
        logMain(QStringLiteral("MYSQL UNANSWERED BATCH LOOKED UP on %1: %2 of its %3 messages are in "
                               "smsserver_in and marked forwarded, %4 are not and wait to be sent")
                    .arg(road.linkServer)
                    .arg(there)
                    .arg(rows.size())
                    .arg(rows.size() - there));
    } else {
        logMain(QStringLiteral("MYSQL UNANSWERED BATCH NOT LOOKED UP on %1 (%2): its %3 messages wait to be "
                               "sent again")
                    .arg(road.linkServer, error)
                    .arg(rows.size()));
    }
    retryMarks();
    publish();
    forwardMore();
}

// A forward is finished only once its mark is in the store; until then the
// message must not be picked again, or it would reach the server twice.
void Controller::retryMarks()
{
    const int flags[2] = {FlagForwarded, FlagRefused};
    for (int i = 0; i < 2; ++i) {
        if (unmarkedIds[i].isEmpty()) {
            continue;
        }
        if (!recvStore.markBatch(unmarkedIds[i], flags[i])) {
            if (!markFaultLogged) {
                markFaultLogged = true;
                road.alert =
                    QStringLiteral("LOCAL DB MARK FAILED: forwarding paused until the store takes the marks");
                logMain(road.alert);
            }
            return;
        }
        unmarkedIds[i].clear();
    }
    if (markFaultLogged) {
        markFaultLogged = false;
        road.alert.clear();
        logMain(QStringLiteral("LOCAL DB MARK DONE: forwarding goes on"));
    }
    road.lastHandledTime = recvStore.lastHandledTime();
}

int Controller::requeueFailed()
{
    const int messages = recvStore.countFailed();
    const int rows = recvStore.requeueFailed();
    if (rows < 0) {
        logMain(QStringLiteral("REQUEUE FAILED MESSAGES: the local store refused the change"));
    } else {
        logMain(QStringLiteral("REQUEUE FAILED MESSAGES: %1 back in the queue (%2 rows)")
                    .arg(messages)
                    .arg(rows));
    }
    refreshCounts();
    publish();
    forwardMore();
    return rows < 0 ? -1 : messages;
}

// vlsmsd --requeue-failed asks the running instance through the data directory.
void Controller::answerRequeueRequest()
{
    QString token;
    if (!RequeueRequest::take(token)) {
        return;
    }
    const int messages = requeueFailed();
    RequeueRequest::answer(token, messages < 0
                                      ? QStringLiteral("the local store refused the change")
                                      : QStringLiteral("%1 failed messages back in the queue").arg(messages));
}

// --- the tick -------------------------------------------------------------

void Controller::tick()
{
    if (tickCount >= 90000000) {
        tickCount = 0;
    }
    ++tickCount;
    road.ticks = tickCount;
    road.lastTick = AppClock::now().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (logBit(LogTick) && tickCount % 10 == 1) {
        logMain(QStringLiteral("TICK-%1, STAT=%2").arg(tickCount).arg(road.link));
    }
    // A store that another process holds locked costs the tick one try
    // without waiting; the store's work waits for a later tick.
    const bool storeFree = storeAvailable();
    if (storeFree) {
        retryMarks();
        answerRequeueRequest();
        const int judged = recvStore.judgeWaiting();
        if (judged > 0) {
            logMain(QStringLiteral("LOCAL DB: %1 waiting messages stored without a text flag judged from "
                                   "their PDU")
                        .arg(judged));
        }
    }
    linkStep();
    dailyRestart();
    if (!sinceScan.isValid() || sinceScan.elapsed() >= scanPeriodMs) {
        scanPorts(true);
    }
    if (storeFree) {
        clearOldParts();
    }
    refreshCounts();
    judgePorts();
    publish();
    if (!sinceMetrics.isValid() || sinceMetrics.elapsed() >= MetricsPeriodMs) {
        writeMetrics();
    }
    emit ticked();
}

void Controller::writeMetrics()
{
    sinceMetrics.start();
    QString error;
    const bool ok = metrics.write(road, &error);
    if (ok == !metricsFaultLogged) {
        return;
    }
    metricsFaultLogged = !ok;
    logMain(ok ? QStringLiteral("METRICS FILE WRITTEN AGAIN: %1").arg(MetricsFile::path())
               : QStringLiteral("METRICS FILE NOT WRITTEN: %1: %2").arg(MetricsFile::path(), error));
}

// True when the store is open and nobody else holds its lock. A store that
// could not be opened for a lock held elsewhere is opened once it is free.
bool Controller::storeAvailable()
{
    if (!recvStore.isLocalDbOpen()) {
        if (!recvStore.isLocked() || !recvStore.openLocalDb(false)) {
            return false;
        }
        road.storeOpen = true;
        road.storeError.clear();
        logMain(QStringLiteral("LOCAL DB OPEN: the lock that kept it closed is gone"));
        return true;
    }
    return recvStore.probeLock();
}

void Controller::dailyRestart()
{
    if (!road.modemsOn) {
        return;
    }
    const QDateTime now = AppClock::now();
    const int day = now.date().day();
    if (day != lastRestartDay && now.time().hour() == 1 && now.time().minute() == 1) {
        lastRestartDay = day;
        setModemsOn(true);
        if (logBit(LogTick)) {
            logMain(QStringLiteral("RESTART COMM WORK..."));
        }
    }
}

void Controller::clearOldParts()
{
    const int minute = AppClock::now().time().minute();
    if (minute != lastClearMinute && minute % 5 == 0) {
        lastClearMinute = minute;
        recvStore.expireParts();
        if (logBit(LogTick)) {
            logMain(QStringLiteral("CLEAR OLD MULTI USER-DATA"));
        }
    }
}

void Controller::refreshCounts()
{
    if (!recvStore.isLocalDbOpen()) {
        return;
    }
    road.total = recvStore.countAll();
    road.pending = recvStore.countPending();
    road.undecodable = recvStore.countUndecodable();
    road.failed = recvStore.countFailed();
    road.lastSender = recvStore.lastSender();
    road.lastRecvTime = recvStore.lastRecvTime();
    road.lastHandledTime = recvStore.lastHandledTime();
}

// Logged when another process takes the store's lock, once a minute while it
// holds it, and when it lets go; shown while it lasts.
void Controller::noteStoreLock()
{
    const bool locked = recvStore.isLocked();
    const qint64 now = AppClock::nowMs();
    if (locked && !road.storeLocked) {
        storeLockSinceMs = now;
        storeLockLoggedMs = now;
        logMain(QStringLiteral("LOCAL DB LOCKED: another process holds the write lock of sms-r.db; messages "
                               "stay on the SIMs and forwarding waits"));
    } else if (locked && now - storeLockLoggedMs >= 60000) {
        storeLockLoggedMs = now;
        logMain(QStringLiteral("LOCAL DB LOCKED for %1 s").arg((now - storeLockSinceMs) / 1000));
    } else if (!locked && road.storeLocked) {
        logMain(QStringLiteral("LOCAL DB LOCK RELEASED after %1 s").arg((now - storeLockSinceMs) / 1000));
        if (storeFaultFromLock) {
            noteStoreWriteFault(QString());
        }
    }
    road.storeLocked = locked;
}

// Changes come in bursts (every worker of a bank at start, a health read
// each): one copy of the state goes out per pass of this thread's event loop,
// after the burst, rather than one per change for the host to work through.
void Controller::publish()
{
    noteStoreLock();
    if (publishQueued) {
        return;
    }
    publishQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (publishQueued) {
                publishQueued = false;
                emit stateChanged(road);
            }
        },
        Qt::QueuedConnection);
}

void Controller::publishNow()
{
    noteStoreLock();
    publishQueued = false;
    emit stateChanged(road);
}

void Controller::logMain(const QString& text)
{
    mainLog.write(text.toUtf8());
}
