#include "tools/modemsim/modemsim.h"

#include "tools/modemsim/simpty.h"

#include <QDateTime>
#include <QMap>
#include <QRandomGenerator>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <functional>
#include <future>
#include <mutex>

namespace {

// Taken around every hand-over between threads: held while an event is posted
// and taken again before it runs. Qt's event queue already orders the two; the
// mutex makes that order visible to thread checkers, which cannot see inside
// the Qt library.
std::mutex handover;

// Runs f later in the thread of obj.
void postTo(QObject* obj, std::function<void()> f)
{
    std::lock_guard<std::mutex> lock(handover);
    QMetaObject::invokeMethod(
        obj,
        [f = std::move(f)] {
            {
                std::lock_guard<std::mutex> taken(handover);
            }
            f();
        },
        Qt::QueuedConnection);
}

// Runs f in the given thread (the thread of obj) and waits for it.
void callIn(QObject* obj, QThread* thread, const std::function<void()>& f)
{
    if (QThread::currentThread() == thread) {
        f();
        return;
    }
    std::promise<void> done;
    postTo(obj, [&] {
        f();
        done.set_value();
    });
    done.get_future().wait();
}

const QStringList defaultIccidCommands = {QStringLiteral("AT+CCID"), QStringLiteral("AT+ICCID"),
                                          QStringLiteral("AT^ICCID?"), QStringLiteral("AT+CXXCID"),
                                          QStringLiteral("AT+CICCID")};

struct FaultRule
{
    QString command; // upper case; a trailing '*' makes it a prefix
    ModemSim::Fault fault = ModemSim::Fault::Error;
    int times = -1;
    QByteArray text;
};

bool commandMatches(const QString& pattern, const QString& command)
{
    const QString p = pattern.toUpper();
    const QString c = command.toUpper();
    if (p.endsWith(QLatin1Char('*')))
        return c.startsWith(p.left(p.size() - 1));
    return c == p;
}

QByteArray line(const QByteArray& text)
{
    return "\r\n" + text + "\r\n";
}

bool toInt(const QByteArray& text, int* value)
{
    bool ok = false;
    const int v = text.trimmed().toInt(&ok);
    if (ok)
        *value = v;
    return ok;
}

// Length of the TPDU in octets, as +CMGR and +CMGL report it: the whole PDU
// without the service-centre address and its length octet.
int tpduLength(const QByteArray& pdu)
{
    const int octets = pdu.size() / 2;
    bool ok = false;
    const int smscLen = pdu.left(2).toInt(&ok, 16);
    if (!ok || smscLen + 1 > octets)
        return octets;
    return octets - 1 - smscLen;
}

} // namespace

// Everything the modem knows, shared between the caller's thread and the
// modem's thread under one mutex.
struct SimState
{
    // A standard mutex: thread checkers see it, unlike one inside the Qt library.
    mutable std::mutex mutex;

    // configuration
    QString linkPath;
    QString imei = QStringLiteral("861234567890123");
    QString iccid = QStringLiteral("89860012345678901234");
    QByteArray identification = "VLS Modem Simulator\r\nModel: GSM-PDU\r\nRevision: 1.0";
    bool simPresent = true;
    bool echoAtStart = true;
    ModemSim::IccidStyle iccidStyle = ModemSim::IccidStyle::PlusCcid;
    QStringList iccidCommands = defaultIccidCommands;
    bool imeiViaWmsn = false;
    ModemSim::IndexListStyle listStyle = ModemSim::IndexListStyle::UsedList;
    ModemSim::EmptySlotStyle emptySlotStyle = ModemSim::EmptySlotStyle::BareOk;
    QByteArray errorText = "ERROR";
    QByteArray unsolicitedInAnswer;
    QByteArray noise;
    bool silent = false;
    bool garbage = false;
    int splitBytes = 0;
    int splitDelayMs = 0;
    int answerDelayMs = 0;
    int vanishMs = 1000;
    QList<FaultRule> faults;

    // the modem's session, reset when the port comes back
    bool echo = true;
    int cmee = 0;
    int cmgf = 0;
    int cnmiMt = 1;
    int cfun = 1;
    int creg = 0;

    // radio and SIM
    int signal = 21;
    bool signalNotices = false;
    int registration = 1;
    QByteArray operatorName = "VLS Mobile";
    int accessTechnology = -1;
    ModemSim::SimLock lock = ModemSim::SimLock::None;
    bool pinAtPowerOn = false;
    QByteArray pin = "1234";
    int pinTries = 3;
    bool simStateWithoutResult = false;

    // message storages: the SIM's and the modem's own
    struct Memory
    {
        QMap<int, int> occupied; // index -> position in history
        QMap<int, int> unread;   // index -> 1 while not yet read
    };
    int capacity = 50;
    int indexBase = 1;
    bool meStorage = false;
    QList<ModemSim::Record> history;
    Memory memory[2]; // by ModemSim::Storage
    int mem1 = 0;     // the storage read and deleted in (session)

    // observation
    QStringList commandLog;
    QString devicePath;
    bool present = false;

    void resetSession()
    {
        echo = echoAtStart;
        cmee = 0;
        cmgf = 0;
        cnmiMt = 1;
        cfun = 1;
        creg = 0;
        mem1 = 0;
    }
    // The modem is switched on: a SIM with its PIN enabled asks for it again.
    void powerOn()
    {
        resetSession();
        if (pinAtPowerOn && lock == ModemSim::SimLock::None)
            lock = ModemSim::SimLock::Pin;
    }
    Memory& current() { return memory[mem1]; }
    bool simReady() const { return simPresent && lock == ModemSim::SimLock::None; }
    QByteArray simStateText() const
    {
        return !simPresent                      ? "NOT INSERTED"
               : lock == ModemSim::SimLock::Pin ? "SIM PIN"
               : lock == ModemSim::SimLock::Puk ? "SIM PUK"
                                                : "READY";
    }
};

// The modem's side of the pseudo-terminal. Lives in the modem's thread; every
// member is touched only there, apart from the shared state under its mutex.
class SimEngine : public QObject
{
public:
    SimEngine(ModemSim* owner, SimState* state);

    bool start(QString* error);
    void shutdown();
    void vanish(int backAfterMs);
    void reappear();
    // Sends the line compose makes of the state (under its lock), unless empty.
    void notify(const std::function<QByteArray(SimState&)>& compose);
    void configureUnsolicited(const QByteArray& text, int everyMs);

private:
    struct OutItem
    {
        QByteArray bytes;
        int delayMs = 0;
        bool vanish = false;
    };

    bool openPort(QString* error);
    void closePort();
    void onReadable();
    void detach();
    void probe();
    // Asks now rather than waiting for the next probe, so that a line sent right
    // after the program opened its port is not lost.
    bool peerThere()
    {
        if (!attached && pty.isOpen())
            probe();
        return attached;
    }
    void pump();
    void handleLine(const QByteArray& command);
    // The fault attached to this command, if any (counted down); under the state's lock.
    bool takeFault(const QString& command, ModemSim::Fault* fault, QByteArray* text);
    // Builds the answer body (info lines) and the final result code of one command.
    // complete: the answer will reach the other side whole, so a message in it
    // counts as read out.
    void answer(const QString& command, bool complete, QByteArray& body, QByteArray& final);
    // One family of commands each; false when the command is not theirs.
    bool answerBasic(const QByteArray& a, QByteArray& body);
    bool answerIdentity(const QByteArray& a, QByteArray& body, QByteArray& final);
    bool answerSettings(const QByteArray& a, QByteArray& body, QByteArray& final);
    bool answerStore(const QByteArray& a, bool complete, QByteArray& body, QByteArray& final);
    bool answerRadio(const QByteArray& a, QByteArray& body, QByteArray& final);
    void pinCommand(const QByteArray& args, QByteArray& final);
    void storageCommand(const QByteArray& a, QByteArray& body, QByteArray& final);
    bool setNumber(const QByteArray& a, const char* prefix, int low, int high, int* field, QByteArray& final);
    bool simCheck(QByteArray& final) const;
    bool inRange(int index) const;
    QByteArray iccidLine() const;
    void deleteCommand(const QByteArray& args, QByteArray& final);
    void readCommand(int index, bool complete, QByteArray& body, QByteArray& final);
    void listCommand(int stat, bool complete, QByteArray& body, QByteArray& final);
    QByteArray cmeError(int code, const char* text) const;
    QByteArray cmsError(int code, const char* text) const;
    QByteArray storeList() const;
    QByteArray readSlot(int index, bool* found);
    QByteArray garbageBytes();
    void deleteSlot(int index);
    void emitSoon(std::function<void()> f);

    ModemSim* owner;
    SimState* st;
    SimPty pty;
    QSocketNotifier* readNotifier = nullptr;
    QSocketNotifier* writeNotifier = nullptr;
    QTimer* delayTimer = nullptr;
    QTimer* unsolicitedTimer = nullptr;
    QTimer* backTimer = nullptr;
    QTimer* probeTimer = nullptr;
    bool attached = false; // the program has the port open
    QByteArray unsolicitedLine;
    QByteArray input;
    QList<QByteArray> lines;
    QList<OutItem> out;
    bool delayDone = false;
    QRandomGenerator random{20240601u};
};

SimEngine::SimEngine(ModemSim* owner, SimState* state) : owner(owner), st(state)
{
    // Made here so that they exist before start(); they move to the modem's
    // thread with this object.
    delayTimer = new QTimer(this);
    delayTimer->setSingleShot(true);
    connect(delayTimer, &QTimer::timeout, this, [this] {
        delayDone = true;
        pump();
    });
    unsolicitedTimer = new QTimer(this);
    connect(unsolicitedTimer, &QTimer::timeout, this, [this] {
        if (peerThere() && out.isEmpty() && lines.isEmpty() && !unsolicitedLine.isEmpty()) {
            out.append({line(unsolicitedLine), 0, false});
            pump();
        }
    });
    backTimer = new QTimer(this);
    backTimer->setSingleShot(true);
    connect(backTimer, &QTimer::timeout, this, [this] { reappear(); });
    probeTimer = new QTimer(this);
    connect(probeTimer, &QTimer::timeout, this, [this] { probe(); });
}

void SimEngine::emitSoon(std::function<void()> f)
{
    // Signals go out in the owner's thread so that receivers and QSignalSpy see
    // them like any other signal of an object living there.
    postTo(owner, std::move(f));
}

bool SimEngine::start(QString* error)
{
    return openPort(error);
}

bool SimEngine::openPort(QString* error)
{
    QString linkPath;
    {
        std::lock_guard<std::mutex> lock(st->mutex);
        linkPath = st->linkPath;
    }
    if (!pty.open(linkPath, error))
        return false;
    readNotifier = new QSocketNotifier(pty.masterFd(), QSocketNotifier::Read, this);
    connect(readNotifier, &QSocketNotifier::activated, this, [this] { onReadable(); });
    writeNotifier = new QSocketNotifier(pty.masterFd(), QSocketNotifier::Write, this);
    writeNotifier->setEnabled(false);
    connect(writeNotifier, &QSocketNotifier::activated, this, [this] {
        writeNotifier->setEnabled(false);
        pump();
    });
    attached = false;
    readNotifier->setEnabled(false);
    probe();
    const QString device = pty.devicePath();
    {
        std::lock_guard<std::mutex> lock(st->mutex);
        st->devicePath = device;
        st->present = true;
        st->powerOn();
    }
    return true;
}

void SimEngine::probe()
{
    if (!pty.isOpen()) {
        probeTimer->stop();
        return;
    }
    if (!pty.peerAttached()) {
        // Nobody there yet: look again soon; the program's first command waits
        // in the terminal's buffer meanwhile.
        if (!probeTimer->isActive())
            probeTimer->start(25);
        return;
    }
    probeTimer->stop();
    attached = true;
    readNotifier->setEnabled(true);
    onReadable();
}

void SimEngine::detach()
{
    // The program closed its port: what the modem was saying is lost.
    attached = false;
    readNotifier->setEnabled(false);
    writeNotifier->setEnabled(false);
    delayTimer->stop();
    delayDone = false;
    input.clear();
    lines.clear();
    out.clear();
    probeTimer->start(25);
}

void SimEngine::closePort()
{
    if (probeTimer)
        probeTimer->stop();
    attached = false;
    delete readNotifier;
    readNotifier = nullptr;
    delete writeNotifier;
    writeNotifier = nullptr;
    if (delayTimer)
        delayTimer->stop();
    pty.close();
    input.clear();
    lines.clear();
    out.clear();
    std::lock_guard<std::mutex> lock(st->mutex);
    st->devicePath.clear();
    st->present = false;
}

void SimEngine::shutdown()
{
    if (backTimer)
        backTimer->stop();
    if (unsolicitedTimer)
        unsolicitedTimer->stop();
    closePort();
}

void SimEngine::vanish(int backAfterMs)
{
    if (!pty.isOpen())
        return;
    closePort();
    emitSoon([o = owner] { emit o->portVanished(); });
    if (backAfterMs >= 0)
        backTimer->start(backAfterMs);
}

void SimEngine::reappear()
{
    backTimer->stop();
    if (pty.isOpen())
        return;
    QString error;
    if (!openPort(&error)) {
        qWarning("modemsim: the port cannot come back: %s", qPrintable(error));
        return;
    }
    emitSoon([o = owner, path = pty.devicePath()] { emit o->portReappeared(path); });
}

void SimEngine::notify(const std::function<QByteArray(SimState&)>& compose)
{
    if (!peerThere())
        return;
    QByteArray text;
    {
        std::lock_guard<std::mutex> lock(st->mutex);
        if (st->silent)
            return;
        text = compose(*st);
    }
    if (text.isEmpty())
        return;
    out.append({line(text), 0, false});
    pump();
}

void SimEngine::configureUnsolicited(const QByteArray& text, int everyMs)
{
    unsolicitedLine = text;
    if (text.isEmpty() || everyMs <= 0)
        unsolicitedTimer->stop();
    else
        unsolicitedTimer->start(everyMs);
}

void SimEngine::onReadable()
{
    char buf[4096];
    for (;;) {
        const qint64 n = pty.read(buf, sizeof buf);
        if (n == 0)
            break;
        if (n < 0) {
            detach();
            return;
        }
        for (qint64 i = 0; i < n; ++i) {
            const char c = buf[i];
            if (c == '\r') {
                const QByteArray cmd = input.trimmed();
                input.clear();
                if (cmd.size() >= 2 && cmd.left(2).toUpper() == "AT") {
                    lines.append(cmd);
                    const QString text = QString::fromLatin1(cmd);
                    {
                        std::lock_guard<std::mutex> lock(st->mutex);
                        st->commandLog.append(text);
                    }
                    emitSoon([o = owner, text] { emit o->commandReceived(text); });
                }
            } else if (c == '\n') {
                continue;
            } else if (c == 0x1A || c == 0x1B) {
                // Ctrl-Z and ESC end or abort a text entry; here they drop the line.
                input.clear();
            } else if (input.size() < 1024) {
                input.append(c);
            }
        }
    }
    pump();
}

void SimEngine::pump()
{
    if (!attached) {
        out.clear();
        return;
    }
    for (;;) {
        if (delayTimer->isActive() || (writeNotifier && writeNotifier->isEnabled()))
            return;
        if (!out.isEmpty()) {
            OutItem& item = out.first();
            if (item.delayMs > 0 && !delayDone) {
                delayTimer->start(item.delayMs);
                return;
            }
            delayDone = false;
            if (item.vanish) {
                int back;
                {
                    std::lock_guard<std::mutex> lock(st->mutex);
                    back = st->vanishMs;
                }
                vanish(back);
                return;
            }
            const qint64 n = pty.write(item.bytes.constData(), item.bytes.size());
            if (n < 0) {
                detach();
                return;
            }
            item.bytes.remove(0, int(n));
            if (item.bytes.isEmpty()) {
                out.removeFirst();
            } else {
                // The other side is not reading: wait until it does.
                item.delayMs = 0;
                writeNotifier->setEnabled(true);
                return;
            }
            continue;
        }
        if (lines.isEmpty())
            return;
        handleLine(lines.takeFirst());
    }
}

QByteArray SimEngine::garbageBytes()
{
    // High bytes and control characters only: no letters, so no result code
    // and no error word can appear by chance.
    const int n = 8 + int(random.bounded(40));
    QByteArray bytes;
    for (int i = 0; i < n; ++i) {
        const quint32 r = random.bounded(160);
        bytes.append(char(r < 32 ? r : 0x60 + r));
    }
    return bytes;
}

bool SimEngine::takeFault(const QString& command, ModemSim::Fault* fault, QByteArray* text)
{
    for (int i = 0; i < st->faults.size(); ++i) {
        FaultRule& r = st->faults[i];
        if (!commandMatches(r.command, command))
            continue;
        *fault = r.fault;
        *text = r.text;
        if (r.times > 0 && --r.times == 0)
            st->faults.removeAt(i);
        return true;
    }
    return false;
}

void SimEngine::handleLine(const QByteArray& raw)
{
    const QString command = QString::fromLatin1(raw);
    QByteArray echo, body, final;
    std::unique_lock<std::mutex> lock(st->mutex);
    if (st->silent)
        return;
    if (st->echo)
        echo = raw + '\r';

    ModemSim::Fault fault = ModemSim::Fault::Error;
    QByteArray faultText;
    const bool faulted = takeFault(command, &fault, &faultText);

    if (faulted && fault == ModemSim::Fault::Silence)
        return;
    if (faulted && fault == ModemSim::Fault::Error) {
        final = line(faultText.isEmpty() ? st->errorText : faultText);
    } else {
        const bool cut = st->garbage || (faulted && fault != ModemSim::Fault::Error);
        answer(command, !cut, body, final);
    }
    if (!st->unsolicitedInAnswer.isEmpty())
        body += line(st->unsolicitedInAnswer);
    if (!st->noise.isEmpty()) {
        // Line noise before the information lines and glued to the front of
        // the final result line.
        body = st->noise + body;
        final = "\r\n" + st->noise + final.mid(2);
    }

    QByteArray whole;
    bool vanishAfter = false;
    if (st->garbage || (faulted && fault == ModemSim::Fault::Garbage)) {
        whole = garbageBytes();
    } else if (faulted && (fault == ModemSim::Fault::Hang || fault == ModemSim::Fault::Vanish)) {
        // Half of what would have come, and never the final result code.
        whole = echo + (body.isEmpty() ? QByteArray("\r\n") : body.left(qMax(2, body.size() / 2)));
        vanishAfter = fault == ModemSim::Fault::Vanish;
    } else {
        whole = echo + body + final;
    }

    const int chunk = st->splitBytes > 0 ? st->splitBytes : whole.size();
    const int splitDelay = st->splitBytes > 0 ? st->splitDelayMs : 0;
    const int firstDelay = st->answerDelayMs;
    lock.unlock();

    for (int pos = 0; pos < whole.size(); pos += chunk)
        out.append({whole.mid(pos, chunk), pos == 0 ? firstDelay : splitDelay, false});
    // A short pause lets the half answer reach the other side before the hang-up.
    if (vanishAfter)
        out.append({QByteArray(), 100, true});
}

QByteArray SimEngine::cmeError(int code, const char* text) const
{
    if (st->cmee == 1)
        return line("+CME ERROR: " + QByteArray::number(code));
    if (st->cmee == 2)
        return line(QByteArray("+CME ERROR: ") + text);
    return line(st->errorText);
}

QByteArray SimEngine::cmsError(int code, const char* text) const
{
    if (st->cmee == 2)
        return line(QByteArray("+CMS ERROR: ") + text);
    return line("+CMS ERROR: " + QByteArray::number(code));
}

QByteArray SimEngine::storeList() const
{
    const QByteArray deleteFlags = ",(0-4)";
    switch (st->listStyle) {
    case ModemSim::IndexListStyle::EmptyList:
        return "+CMGD: ()" + deleteFlags;
    case ModemSim::IndexListStyle::Range:
        return "+CMGD: (" + QByteArray::number(st->indexBase) + '-' +
               QByteArray::number(st->indexBase + st->capacity - 1) + ')' + deleteFlags;
    case ModemSim::IndexListStyle::UsedList:
        break;
    }
    QByteArray used;
    for (auto it = st->current().occupied.cbegin(); it != st->current().occupied.cend(); ++it) {
        if (!used.isEmpty())
            used += ',';
        used += QByteArray::number(it.key());
    }
    return "+CMGD: (" + used + ')' + deleteFlags;
}

void SimEngine::deleteSlot(int index)
{
    SimState::Memory& memory = st->current();
    const auto it = memory.occupied.find(index);
    if (it == memory.occupied.end())
        return;
    ModemSim::Record& rec = st->history[it.value()];
    rec.deleted = true;
    emitSoon([o = owner, index, pdu = rec.pdu] { emit o->messageDeleted(index, pdu); });
    memory.occupied.erase(it);
    memory.unread.remove(index);
}

void SimEngine::answer(const QString& command, bool complete, QByteArray& body, QByteArray& final)
{
    const QByteArray a = command.toUpper().toLatin1().mid(2); // after "AT"
    final = line("OK");
    if (answerBasic(a, body) || answerIdentity(a, body, final) || answerSettings(a, body, final) ||
        answerStore(a, complete, body, final) || answerRadio(a, body, final))
        return;
    final = line(st->errorText);
}

bool SimEngine::answerBasic(const QByteArray& a, QByteArray& body)
{
    if (a.isEmpty() || a == "Z" || a == "&F") {
        if (!a.isEmpty())
            st->resetSession();
    } else if (a == "E0" || a == "E1" || a == "E") {
        st->echo = a == "E1";
    } else if (a == "I" || a == "I0" || a == "+GMI" || a == "+CGMI") {
        body = line(st->identification);
    } else {
        return false;
    }
    return true;
}

bool SimEngine::answerIdentity(const QByteArray& a, QByteArray& body, QByteArray& final)
{
    const QByteArray error = line(st->errorText);
    if (a == "+CGSN" || a == "+GSN" || a == "+WMSN") {
        // AT+WMSN answers exactly when AT+CGSN does not.
        const bool byWmsn = a == "+WMSN";
        if (st->imeiViaWmsn == byWmsn)
            body = line(st->imei.toLatin1());
        else
            final = error;
        return true;
    }
    if (a != "+CCID" && a != "+CXXCID" && a != "+ICCID" && a != "^ICCID?" && a != "+CICCID")
        return false;
    bool known = false;
    for (const QString& c : qAsConst(st->iccidCommands))
        known = known || c.toUpper().toLatin1() == "AT" + a;
    if (!known)
        final = error;
    else if (!st->simPresent)
        final = cmeError(10, "SIM not inserted");
    else
        body = line(iccidLine());
    return true;
}

QByteArray SimEngine::iccidLine() const
{
    const QByteArray id = st->iccid.toLatin1();
    switch (st->iccidStyle) {
    case ModemSim::IccidStyle::PlusCcid:
        return "+CCID: " + id;
    case ModemSim::IccidStyle::Bare:
        break;
    case ModemSim::IccidStyle::CaretIccid:
        return "^ICCID: " + id;
    case ModemSim::IccidStyle::Quoted:
        return "+CCID: \"" + id + '"';
    case ModemSim::IccidStyle::PlusIccid:
        return "+ICCID: " + id;
    }
    return id;
}

// "+XXXX=<n>" with n in [low, high] sets *field; anything else is an error.
bool SimEngine::setNumber(const QByteArray& a, const char* prefix, int low, int high, int* field,
                          QByteArray& final)
{
    if (!a.startsWith(prefix))
        return false;
    int v = 0;
    if (toInt(a.mid(int(qstrlen(prefix))).split(',').first(), &v) && v >= low && v <= high) {
        if (field)
            *field = v;
    } else {
        final = line(st->errorText);
    }
    return true;
}

bool SimEngine::answerSettings(const QByteArray& a, QByteArray& body, QByteArray& final)
{
    if (setNumber(a, "+CMEE=", 0, 2, &st->cmee, final) || setNumber(a, "+CREG=", 0, 2, &st->creg, final) ||
        setNumber(a, "+CLIP=", 0, 1, nullptr, final) || setNumber(a, "+CMGF=", 0, 1, &st->cmgf, final) ||
        setNumber(a, "+CFUN=", 0, 4, &st->cfun, final))
        return true;
    if (a == "+CMGF?") {
        body = line("+CMGF: " + QByteArray::number(st->cmgf));
    } else if (a == "+CFUN?") {
        body = line("+CFUN: " + QByteArray::number(st->cfun));
    } else if (a.startsWith("+CSMS=")) {
        if (simCheck(final))
            body = line("+CSMS: 1,1,1");
    } else if (a.startsWith("+CNMI=")) {
        const QList<QByteArray> parts = a.mid(6).split(',');
        int mt = 0;
        if (parts.size() >= 2 && toInt(parts.at(1), &mt) && mt >= 0 && mt <= 3)
            st->cnmiMt = mt;
        else
            final = line(st->errorText);
    } else if (a.startsWith("+CPMS")) {
        storageCommand(a, body, final);
    } else {
        return false;
    }
    return true;
}

void SimEngine::storageCommand(const QByteArray& a, QByteArray& body, QByteArray& final)
{
    static const QByteArray names[] = {"SM", "ME"};
    if (a == "+CPMS=?") {
        const QByteArray list = st->meStorage ? "(\"SM\",\"ME\",\"MT\")" : "(\"SM\")";
        body = line("+CPMS: " + list + ',' + list + ',' + list);
        return;
    }
    if (!simCheck(final))
        return;
    if (a.startsWith("+CPMS=")) {
        // The first storage is the one read and deleted in.
        const QByteArray first = a.mid(6).split(',').first().replace('"', QByteArray());
        if (first != "SM" && (first != "ME" || !st->meStorage)) {
            final = cmsError(302, "operation not allowed");
            return;
        }
        st->mem1 = first == "ME" ? 1 : 0;
    } else if (a != "+CPMS?") {
        final = line(st->errorText);
        return;
    }
    const QByteArray one =
        QByteArray::number(st->current().occupied.size()) + ',' + QByteArray::number(st->capacity);
    const QByteArray named = '"' + names[st->mem1] + "\"," + one;
    if (a == "+CPMS?")
        body = line("+CPMS: " + named + ',' + named + ',' + named);
    else
        body = line("+CPMS: " + one + ',' + one + ',' + one);
}

bool SimEngine::answerRadio(const QByteArray& a, QByteArray& body, QByteArray& final)
{
    const int stat = st->simReady() ? st->registration : 0;
    if (a == "+CSQ") {
        body = line("+CSQ: " + QByteArray::number(st->signal) + ",99");
    } else if (a == "+CREG?") {
        body = line("+CREG: " + QByteArray::number(st->creg) + ',' + QByteArray::number(stat) +
                    (st->creg == 2 ? ",\"00A1\",\"1B2C\"" : ""));
    } else if (a == "+COPS?") {
        QByteArray name = ",0,\"" + st->operatorName + '"';
        if (st->accessTechnology >= 0)
            name += ',' + QByteArray::number(st->accessTechnology);
        body = line("+COPS: 0" + ((stat == 1 || stat == 5) && !st->operatorName.isEmpty() ? name : ""));
    } else if (a.startsWith("+COPS=")) {
        // The format and mode are taken; the answers keep the name.
    } else if (a == "+CPIN?") {
        if (!st->simPresent)
            final = cmeError(10, "SIM not inserted");
        else
            body = line("+CPIN: " + st->simStateText());
        if (st->simStateWithoutResult && st->simPresent)
            final.clear();
    } else if (a.startsWith("+CPIN=")) {
        pinCommand(a.mid(6).split(',').first().replace('"', QByteArray()), final);
    } else {
        return false;
    }
    return true;
}

void SimEngine::pinCommand(const QByteArray& pin, QByteArray& final)
{
    if (!st->simPresent) {
        final = cmeError(10, "SIM not inserted");
    } else if (st->lock == ModemSim::SimLock::None) {
        final = cmeError(3, "operation not allowed");
    } else if (st->lock == ModemSim::SimLock::Pin && pin == st->pin) {
        st->lock = ModemSim::SimLock::None;
        st->pinTries = 3;
        // The SIM tells it is ready after the result.
        final += line("+CPIN: READY");
    } else {
        // Three wrong PINs lock the SIM behind its PUK, which is not modelled.
        if (st->lock == ModemSim::SimLock::Pin && --st->pinTries <= 0)
            st->lock = ModemSim::SimLock::Puk;
        final = cmeError(16, "incorrect password");
    }
}

bool SimEngine::simCheck(QByteArray& final) const
{
    if (!st->simPresent)
        final = cmsError(310, "SIM not inserted");
    else if (st->lock == ModemSim::SimLock::Pin)
        final = cmsError(311, "SIM PIN required");
    else if (st->lock == ModemSim::SimLock::Puk)
        final = cmsError(316, "SIM PUK required");
    return st->simReady();
}

bool SimEngine::answerStore(const QByteArray& a, bool complete, QByteArray& body, QByteArray& final)
{
    if (a == "+CMGD=?") {
        if (simCheck(final))
            body = line(storeList());
    } else if (a.startsWith("+CMGD=")) {
        deleteCommand(a.mid(6), final);
    } else if (a.startsWith("+CMGR=")) {
        int index = -1;
        if (!toInt(a.mid(6), &index))
            final = line(st->errorText);
        else if (simCheck(final))
            readCommand(index, complete, body, final);
    } else if (a == "+CMGL" || a.startsWith("+CMGL=")) {
        int stat = 0;
        if (a.startsWith("+CMGL=") && (!toInt(a.mid(6), &stat) || stat < 0 || stat > 4))
            final = line(st->errorText);
        else if (simCheck(final))
            listCommand(stat, complete, body, final);
    } else {
        return false;
    }
    return true;
}

bool SimEngine::inRange(int index) const
{
    return index >= st->indexBase && index < st->indexBase + st->capacity;
}

void SimEngine::deleteCommand(const QByteArray& args, QByteArray& final)
{
    const QList<QByteArray> parts = args.split(',');
    int index = -1;
    int flag = 0;
    if (!toInt(parts.first(), &index) || (parts.size() > 1 && !toInt(parts.at(1), &flag)) || flag < 0 ||
        flag > 4) {
        final = line(st->errorText);
    } else if (!simCheck(final)) {
        return;
    } else if (flag == 0) {
        if (inRange(index))
            deleteSlot(index);
        else
            final = cmsError(321, "invalid memory index");
    } else {
        // Flags 1 to 3 spare what is still unread; 4 clears everything.
        const QList<int> indexes = st->current().occupied.keys();
        for (int i : indexes) {
            if (flag == 4 || !st->current().unread.contains(i))
                deleteSlot(i);
        }
    }
}

void SimEngine::readCommand(int index, bool complete, QByteArray& body, QByteArray& final)
{
    if (st->cmgf != 0) {
        final = cmsError(302, "operation not allowed");
    } else if (!inRange(index)) {
        final = cmsError(321, "invalid memory index");
    } else if (st->current().occupied.contains(index)) {
        ModemSim::Record& rec = st->history[st->current().occupied.value(index)];
        const int stat = st->current().unread.contains(index) ? 0 : 1;
        body = line("+CMGR: " + QByteArray::number(stat) + ",," + QByteArray::number(tpduLength(rec.pdu))) +
               rec.pdu + "\r\n";
        rec.timesRead += complete ? 1 : 0;
        st->current().unread.remove(index);
    } else if (st->emptySlotStyle == ModemSim::EmptySlotStyle::ZeroHeader) {
        body = line("+CMGR: 0,,0");
    } else if (st->emptySlotStyle == ModemSim::EmptySlotStyle::CmsError) {
        final = cmsError(321, "invalid memory index");
    }
}

void SimEngine::listCommand(int stat, bool complete, QByteArray& body, QByteArray& final)
{
    if (st->cmgf != 0) {
        final = cmsError(302, "operation not allowed");
        return;
    }
    QByteArray list;
    SimState::Memory& memory = st->current();
    const QList<int> indexes = memory.occupied.keys();
    for (int i : indexes) {
        const int s = memory.unread.contains(i) ? 0 : 1;
        if (stat != 4 && stat != s)
            continue;
        ModemSim::Record& rec = st->history[memory.occupied.value(i)];
        list += "+CMGL: " + QByteArray::number(i) + ',' + QByteArray::number(s) + ",," +
                QByteArray::number(tpduLength(rec.pdu)) + "\r\n" + rec.pdu + "\r\n";
        rec.timesRead += complete ? 1 : 0;
        memory.unread.remove(i);
    }
    if (!list.isEmpty())
        body = "\r\n" + list;
}

// ---------------------------------------------------------------------------

ModemSim::ModemSim(const QString& linkPath, QThread* runIn, QObject* parent)
    : QObject(parent), state(new SimState)
{
    state->linkPath = linkPath;
    if (runIn) {
        thread = runIn;
    } else {
        thread = new QThread;
        thread->setObjectName(QStringLiteral("modemsim"));
        ownThread = true;
        thread->start();
    }
    engine = new SimEngine(this, state.get());
    engine->moveToThread(thread);
}

ModemSim::~ModemSim()
{
    stop();
    if (engine) {
        SimEngine* e = engine;
        engine = nullptr;
        if (QThread::currentThread() == thread)
            delete e;
        else
            callIn(e, thread, [e] { e->deleteLater(); });
    }
    if (ownThread) {
        thread->quit();
        thread->wait();
        delete thread;
    }
}

bool ModemSim::start(QString* error)
{
    if (started)
        return true;
    bool ok = false;
    QString why;
    callIn(engine, thread, [&] { ok = engine->start(&why); });
    if (!ok && error)
        *error = why;
    started = ok;
    return ok;
}

void ModemSim::stop()
{
    if (!started || !engine)
        return;
    callIn(engine, thread, [this] { engine->shutdown(); });
    started = false;
}

QString ModemSim::portPath() const
{
    std::lock_guard<std::mutex> lock(state->mutex);
    return state->linkPath.isEmpty() ? state->devicePath : state->linkPath;
}

QString ModemSim::devicePath() const
{
    std::lock_guard<std::mutex> lock(state->mutex);
    return state->devicePath;
}

int ModemSim::addMessage(const QByteArray& pduHex, bool announce)
{
    return addMessage(pduHex, Storage::SM, announce);
}

int ModemSim::addMessage(const QByteArray& pduHex, Storage storage, bool announce)
{
    int index = -1;
    {
        std::lock_guard<std::mutex> lock(state->mutex);
        SimState::Memory& memory = state->memory[int(storage)];
        for (int i = state->indexBase; i < state->indexBase + state->capacity; ++i) {
            if (!memory.occupied.contains(i)) {
                index = i;
                break;
            }
        }
        if (index < 0)
            return -1;
        Record rec;
        rec.index = index;
        rec.storage = storage;
        rec.pdu = pduHex.trimmed();
        rec.storedAtMs = QDateTime::currentMSecsSinceEpoch();
        state->history.append(rec);
        memory.occupied.insert(index, state->history.size() - 1);
        memory.unread.insert(index, 1);
    }
    if (announce) {
        const QByteArray text =
            (storage == Storage::ME ? "+CMTI: \"ME\"," : "+CMTI: \"SM\",") + QByteArray::number(index);
        notify([text](SimState& s) { return s.cnmiMt == 0 ? QByteArray() : text; });
    }
    return index;
}

void ModemSim::notify(const std::function<QByteArray(SimState&)>& compose)
{
    SimEngine* e = engine;
    if (e)
        postTo(e, [e, compose] { e->notify(compose); });
}

QList<int> ModemSim::storedIndexes(Storage storage) const
{
    std::lock_guard<std::mutex> lock(state->mutex);
    return state->memory[int(storage)].occupied.keys();
}

QByteArray ModemSim::messageAt(int index) const
{
    std::lock_guard<std::mutex> lock(state->mutex);
    const QMap<int, int>& occupied = state->memory[0].occupied;
    const auto it = occupied.constFind(index);
    return it == occupied.cend() ? QByteArray() : state->history.at(it.value()).pdu;
}

QList<ModemSim::Record> ModemSim::history() const
{
    std::lock_guard<std::mutex> lock(state->mutex);
    return state->history;
}

void ModemSim::clearStore()
{
    std::lock_guard<std::mutex> lock(state->mutex);
    for (SimState::Memory& memory : state->memory) {
        for (auto it = memory.occupied.cbegin(); it != memory.occupied.cend(); ++it)
            state->history[it.value()].deleted = true;
        memory.occupied.clear();
        memory.unread.clear();
    }
}

#define SIM_SET(field, value)                                                                                \
    do {                                                                                                     \
        std::lock_guard<std::mutex> lock(state->mutex);                                                      \
        state->field = value;                                                                                \
    } while (false)

void ModemSim::setCapacity(int slotCount)
{
    SIM_SET(capacity, qBound(1, slotCount, 1000));
}
void ModemSim::setIndexBase(int base)
{
    SIM_SET(indexBase, base == 0 ? 0 : 1);
}
void ModemSim::setImei(const QString& imei)
{
    SIM_SET(imei, imei);
}
void ModemSim::setIccid(const QString& iccid)
{
    SIM_SET(iccid, iccid);
}
void ModemSim::setIdentification(const QByteArray& text)
{
    SIM_SET(identification, text);
}
void ModemSim::setSimPresent(bool present)
{
    SIM_SET(simPresent, present);
    notify([](SimState& s) { return "+CPIN: " + s.simStateText(); });
}

void ModemSim::setSimLock(SimLock lock, const QByteArray& pin)
{
    {
        std::lock_guard<std::mutex> guard(state->mutex);
        state->lock = lock;
        state->pinAtPowerOn = lock != SimLock::None;
        state->pin = pin;
        state->pinTries = 3;
    }
    notify([](SimState& s) { return "+CPIN: " + s.simStateText(); });
}

ModemSim::SimLock ModemSim::simLock() const
{
    std::lock_guard<std::mutex> lock(state->mutex);
    return state->lock;
}

void ModemSim::setSimStateWithoutResult(bool on)
{
    SIM_SET(simStateWithoutResult, on);
}

void ModemSim::setMeStorage(bool on)
{
    SIM_SET(meStorage, on);
}

void ModemSim::setSignal(int rssi)
{
    SIM_SET(signal, rssi);
    notify(
        [](SimState& s) { return s.signalNotices ? "^RSSI:" + QByteArray::number(s.signal) : QByteArray(); });
}

void ModemSim::setSignalNotices(bool on)
{
    SIM_SET(signalNotices, on);
}

void ModemSim::setRegistration(int stat)
{
    SIM_SET(registration, stat);
    notify([](SimState& s) {
        const QByteArray text = "+CREG: " + QByteArray::number(s.simReady() ? s.registration : 0);
        return s.creg == 0 ? QByteArray() : s.creg == 1 ? text : text + ",\"00A1\",\"1B2C\"";
    });
}

void ModemSim::setOperator(const QByteArray& name, int accessTechnology)
{
    std::lock_guard<std::mutex> lock(state->mutex);
    state->operatorName = name;
    state->accessTechnology = accessTechnology;
}
void ModemSim::setIccidStyle(IccidStyle style)
{
    SIM_SET(iccidStyle, style);
}
void ModemSim::setIccidCommands(const QStringList& commands)
{
    SIM_SET(iccidCommands, commands);
}
void ModemSim::setImeiViaWmsn(bool on)
{
    SIM_SET(imeiViaWmsn, on);
}
void ModemSim::setIndexListStyle(IndexListStyle style)
{
    SIM_SET(listStyle, style);
}
void ModemSim::setEmptySlotStyle(EmptySlotStyle style)
{
    SIM_SET(emptySlotStyle, style);
}
void ModemSim::setErrorText(const QByteArray& text)
{
    SIM_SET(errorText, text);
}
void ModemSim::setUnsolicitedInAnswer(const QByteArray& text)
{
    SIM_SET(unsolicitedInAnswer, text);
}
void ModemSim::setNoise(const QByteArray& bytes)
{
    SIM_SET(noise, bytes);
}
void ModemSim::setSilent(bool on)
{
    SIM_SET(silent, on);
}
void ModemSim::setGarbage(bool on)
{
    SIM_SET(garbage, on);
}
void ModemSim::setAnswerDelay(int ms)
{
    SIM_SET(answerDelayMs, qMax(0, ms));
}
void ModemSim::setVanishTime(int ms)
{
    SIM_SET(vanishMs, ms);
}

void ModemSim::setEcho(bool on)
{
    std::lock_guard<std::mutex> lock(state->mutex);
    state->echo = on;
    state->echoAtStart = on;
}

void ModemSim::setSplit(int chunkBytes, int delayMs)
{
    std::lock_guard<std::mutex> lock(state->mutex);
    state->splitBytes = qMax(0, chunkBytes);
    state->splitDelayMs = qMax(0, delayMs);
}

void ModemSim::setUnsolicited(const QByteArray& text, int everyMs)
{
    SimEngine* e = engine;
    postTo(e, [e, text, everyMs] { e->configureUnsolicited(text, everyMs); });
}

void ModemSim::setFault(const QString& command, Fault fault, int times, const QByteArray& text)
{
    std::lock_guard<std::mutex> lock(state->mutex);
    if (times == 0)
        return;
    state->faults.append({command.toUpper(), fault, times, text});
}

void ModemSim::clearFaults()
{
    SIM_SET(faults, QList<FaultRule>());
}

void ModemSim::vanish(int backAfterMs)
{
    SimEngine* e = engine;
    callIn(e, thread, [e, backAfterMs] { e->vanish(backAfterMs); });
}

void ModemSim::reappear()
{
    if (!started)
        return;
    SimEngine* e = engine;
    callIn(e, thread, [e] { e->reappear(); });
}

bool ModemSim::isPresent() const
{
    std::lock_guard<std::mutex> lock(state->mutex);
    return state->present;
}

QStringList ModemSim::commandLog() const
{
    std::lock_guard<std::mutex> lock(state->mutex);
    return state->commandLog;
}

void ModemSim::clearCommandLog()
{
    SIM_SET(commandLog, QStringList());
}

int ModemSim::commandCount(const QString& command) const
{
    std::lock_guard<std::mutex> lock(state->mutex);
    int n = 0;
    for (const QString& c : qAsConst(state->commandLog))
        n += commandMatches(command, c) ? 1 : 0;
    return n;
}
