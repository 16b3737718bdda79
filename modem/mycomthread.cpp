#include "modem/mycomthread.h"

#include "core/clock.h"
#include "modem/atanswer.h"
#include "modem/mycomworker.h"
#include "modem/refusedpins.h"
#include "modem/serialchecker.h"

#include <QSerialPort>

namespace {

constexpr int CommandWriteMs = 10000;
constexpr int CommandReadMs = 10000;
// The read or delete of one message; a listing carries every PDU of the
// store, so it may take longer on a slow line.
constexpr int MessageWriteMs = 30000;
constexpr int MessageReadMs = 30000;
constexpr int ListingReadMs = 60000;
constexpr int OpenRadioWriteMs = 2000;
constexpr int OpenRadioReadMs = 3000;
constexpr int ResetWriteMs = 10000;
constexpr int ResetReadMs = 30000;
// What a modem says of itself comes at once; a slow answer must not hold up
// the messages announced meanwhile.
constexpr int HealthReadMs = 5000;
// Some modems end the answer to AT+CPIN? without a final result.
constexpr int SimStateGraceMs = 1000;
// After the PIN is taken, the SIM is asked this many times, a second apart,
// whether it is ready.
constexpr int PinSettleTries = 10;
constexpr int PinSettleMs = 1000;

constexpr int HandshakeTries = 10;
constexpr int BreakInPauseMs = 1000;
constexpr int BreakInWriteMs = 1000;
constexpr int SliceMs = 100;
constexpr int OpenRetryMs = 1000;
constexpr qint64 ResetAfterMs = 15 * 60 * 1000;
constexpr int MaxPartialLine = 512;

// The reads of one health round, in order; a round of the signal alone is
// the last of them.
enum HealthRead : int
{
    ReadCopsFormat,
    ReadRegistration,
    ReadOperator,
    ReadSim,
    ReadStorage,
    ReadSignal,
    HealthReads
};

using Sim = ModemHealth::Sim;

// A SIM that cannot serve messages until something changes.
bool isLocked(Sim sim)
{
    return sim == Sim::Pin || sim == Sim::Puk || sim == Sim::Absent || sim == Sim::Error;
}

// An exchange whose port failed; a time-out alone leaves the port usable.
bool portFailed(int code)
{
    return code >= SerialChecker::PortNull && code != SerialChecker::RecvTimeout;
}

bool isPinUsable(const QByteArray& pin)
{
    return pin.size() >= 4 && pin.size() <= 8 &&
           std::all_of(pin.cbegin(), pin.cend(), [](char c) { return c >= '0' && c <= '9'; });
}

// How a slot is named in the port log: "index 3", "index 3 of ME".
QByteArray slotText(const QString& slot)
{
    const QByteArray storage = slot.section(QLatin1Char('/'), 0, 0).toLatin1();
    const QByteArray index = slot.section(QLatin1Char('/'), 1).toLatin1();
    return "index " + index + (storage == "SM" ? QByteArray() : " of " + storage);
}

const char* answerName(StoreAnswer answer)
{
    switch (answer) {
    case StoreAnswer::Stored:
        return "stored";
    case StoreAnswer::AlreadyStored:
        return "already stored";
    case StoreAnswer::Failed:
        break;
    }
    return "failed";
}

// The set-up commands and the result each needs: some modems refuse the
// optional ones, so for those any final result will do. Numbered errors
// (AT+CMEE=1) are asked for before, with the SIM's state.
struct SetUpCommand
{
    const char* text;
    int successBelow;
};
const SetUpCommand setUpCommands[] = {
    {"ATE0\r", SerialChecker::Confirmed},
    {"AT+CREG=1\r", SerialChecker::Confirmed},
    {"AT+CLIP=1\r", SerialChecker::Answered},
    {"AT+CSMS=1\r", SerialChecker::Answered},
    {"AT+CNMI=1,1,0,1,1\r", SerialChecker::Answered},
    {"AT+CPMS=\"SM\",\"SM\",\"SM\"\r", SerialChecker::Answered},
    {"AT+CMGF=0\r", SerialChecker::Confirmed},
};

} // namespace

MyComThread::MyComThread() : QThread(nullptr) {}

MyComThread::~MyComThread()
{
    stopThread();
}

bool MyComThread::startThread(int newId, const QString& newPortName, int newSpeed, int newBaudRate,
                              int newFlowControl)
{
    running.store(false);
    quit();
    wait();

    id = newId;
    log.open(QStringLiteral("comlog-%1.txt").arg(id));
    portName = newPortName;
    speed = qBound(100, newSpeed, 10000);
    baudRate = newBaudRate;
    flowControl = newFlowControl;

    running.store(true);
    loopEnded.store(false);
    start();
    return true;
}

void MyComThread::stopThread()
{
    running.store(false);
    answerArrived.notify_all();
    quit();
    wait();
    loopEnded.load(std::memory_order_acquire);
}

QString MyComThread::deviceNo() const
{
    std::lock_guard<std::mutex> lock(numbersMutex);
    return devNo;
}

QString MyComThread::simNo() const
{
    std::lock_guard<std::mutex> lock(numbersMutex);
    return simNumber;
}

void MyComThread::setDeviceNo(const QString& value)
{
    std::lock_guard<std::mutex> lock(numbersMutex);
    devNo = value;
}

void MyComThread::setSimNo(const QString& value)
{
    std::lock_guard<std::mutex> lock(numbersMutex);
    simNumber = value;
}

void MyComThread::deliverAnswer(quint64 seq, StoreAnswer answer)
{
    std::lock_guard<std::mutex> lock(answerMutex);
    if (seq > answeredSeq) {
        answeredSeq = seq;
        lastAnswer = answer;
    }
    answerArrived.notify_all();
}

bool MyComThread::keepGoing() const
{
    // The running flag governs this thread's own loop; the commands may also
    // be called on a port owned by another thread.
    const bool ownLoop = QThread::currentThread() == this;
    return (running.load() || !ownLoop) && !comStopRequested();
}

bool MyComThread::pause(int ms)
{
    QElapsedTimer clock;
    clock.start();
    for (qint64 left = ms; left > 0 && keepGoing(); left = ms - clock.elapsed()) {
        QThread::msleep(ulong(qMin<qint64>(SliceMs, left)));
    }
    return keepGoing();
}

// --- AT command set ------------------------------------------------------

void MyComThread::pauseBeforeCommand()
{
    // DEF_SPEED is the breath a modem gets between two commands; time spent
    // waiting for input since the last one counts.
    if (sinceCommand.isValid() && sinceCommand.elapsed() < speed) {
        pause(int(speed - sinceCommand.elapsed()));
    }
}

int MyComThread::exchange(QSerialPort* port, const QByteArray& command, int writeMs, int readMs,
                          QByteArray* answer, const QByteArray& endLine)
{
    pauseBeforeCommand();
    SerialChecker checker(nullptr, &log);
    checker.endOnLine(endLine, SimStateGraceMs);
    if (QThread::currentThread() == this) {
        // This port alone may be stopped (gone from the system, say).
        checker.cancelWhenCleared(&running);
    }
    const int code = checker.sendCommand(port, command, writeMs, readMs);
    sinceCommand.start();
    checker.logExchange();
    noteUnsolicited(checker.staleInput() + checker.answer());
    // A locked or missing SIM also shows in the errors of other commands.
    const Sim sim = AtAnswer::simOfError(checker.answer());
    if (sim != Sim::Unknown) {
        health.sim = sim;
    }
    if (answer != nullptr) {
        *answer = checker.answer();
    }
    return code;
}

QString MyComThread::slotKey(const QByteArray& storage, const QString& index)
{
    return QString::fromLatin1(storage) + QLatin1Char('/') + index;
}

void MyComThread::noteUnsolicited(const QByteArray& bytes)
{
    // Only complete lines count; the tail waits for the rest of its line.
    QByteArray text = partialLine + bytes;
    const int end = qMax(text.lastIndexOf('\r'), text.lastIndexOf('\n'));
    partialLine = text.mid(end + 1).right(MaxPartialLine);
    text.truncate(end + 1);
    for (const QByteArray& line : AtAnswer::lines(text)) {
        const AtAnswer::Notice notice = AtAnswer::notice(line);
        switch (notice.kind) {
        case AtAnswer::Notice::Kind::NewMessage: {
            if (notice.storage != "SM" && notice.storage != "ME") {
                // A combined storage ("MT"): its indexes are no slot of ours.
                sinceListing.invalidate();
                break;
            }
            if (!storages.contains(notice.storage)) {
                storages.append(notice.storage);
            }
            const QString slot = slotKey(notice.storage, QString::number(notice.index));
            // Announced again: the message we stored there is gone, and the
            // one there now must not be deleted unread.
            owedDeletes.removeAll(slot);
            if (!notified.contains(slot) && !readEmpty.contains(slot)) {
                notified.append(slot);
            }
            break;
        }
        case AtAnswer::Notice::Kind::Registration:
            health.registration = notice.registration;
            break;
        case AtAnswer::Notice::Kind::Signal:
            health.signal = notice.signal;
            break;
        case AtAnswer::Notice::Kind::Sim:
            health.sim = notice.sim;
            break;
        case AtAnswer::Notice::Kind::None:
            break;
        }
    }
}

bool MyComThread::atHandshake(QSerialPort* port)
{
    return exchange(port, "AT\r", CommandWriteMs, handshakeReadMs.load()) < SerialChecker::Confirmed;
}

bool MyComThread::atPlain(QSerialPort* port, const QByteArray& command, int successBelow)
{
    return exchange(port, command, CommandWriteMs, CommandReadMs) < successBelow;
}

bool MyComThread::atDeviceNo(QSerialPort* port, const QByteArray& command)
{
    QByteArray answer;
    exchange(port, command, CommandWriteMs, CommandReadMs, &answer);
    // An OK without a number is no use: the store refuses rows without one.
    const QString value = AtAnswer::deviceNo(answer);
    if (value.isEmpty()) {
        return false;
    }
    setDeviceNo(value);
    return true;
}

bool MyComThread::atSimNo(QSerialPort* port, const QByteArray& command)
{
    QByteArray answer;
    exchange(port, command, CommandWriteMs, CommandReadMs, &answer);
    const QString value = AtAnswer::simNo(answer);
    if (value.isEmpty()) {
        return false;
    }
    setSimNo(value);
    return true;
}

bool MyComThread::readDeviceNo(QSerialPort* port)
{
    for (const QByteArray& command : deviceNoCommands()) {
        if (!keepGoing()) {
            break;
        }
        if (atDeviceNo(port, command)) {
            return true;
        }
    }
    return false;
}

bool MyComThread::readSimNo(QSerialPort* port)
{
    for (const QByteArray& command : simNoCommands()) {
        if (!keepGoing()) {
            break;
        }
        if (atSimNo(port, command)) {
            return true;
        }
    }
    return false;
}

bool MyComThread::atListIndexes(QSerialPort* port, QStringList& indexes)
{
    QByteArray answer;
    indexes.clear();
    if (exchange(port, "AT+CMGD=?\r", CommandWriteMs, CommandReadMs, &answer) >= SerialChecker::Confirmed) {
        return false;
    }
    bool isRange = false;
    indexes = AtAnswer::indexList(answer, &isRange);
    if (!isRange) {
        return true;
    }
    // This modem names the range of its slots, not the used ones: ask for
    // the stored messages themselves.
    if (exchange(port, "AT+CMGL=4\r", CommandWriteMs, ListingReadMs, &answer) >= SerialChecker::Confirmed) {
        return false;
    }
    indexes = AtAnswer::listing(answer);
    return true;
}

MyComThread::ReadResult MyComThread::atReadMessage(QSerialPort* port, const QString& index)
{
    QByteArray answer;
    const QByteArray command = "AT+CMGR=" + index.toLatin1() + "\r";
    const int code = exchange(port, command, MessageWriteMs, MessageReadMs, &answer);
    const AtAnswer::Read read = AtAnswer::readPdu(answer);
    if (code == SerialChecker::RecvTimeout) {
        return ReadResult::TimedOut;
    }
    if (code >= SerialChecker::PortNull) {
        return ReadResult::PortFault;
    }
    if (read.pdu.isEmpty()) {
        return read.heldPdu ? ReadResult::Garbled : ReadResult::Empty;
    }
    {
        std::lock_guard<std::mutex> lock(answerMutex);
        ++emittedSeq;
    }
    emit threadOkMsg(OkMessage, read.pdu);
    return ReadResult::Message;
}

int MyComThread::atSimState(QSerialPort* port)
{
    QByteArray answer;
    const int code = exchange(port, "AT+CPIN?\r", CommandWriteMs, HealthReadMs, &answer, "+CPIN:");
    health.sim = AtAnswer::simOf(answer);
    return code;
}

int MyComThread::atDeleteMessage(QSerialPort* port, const QString& index)
{
    const QByteArray command = "AT+CMGD=" + index.toLatin1() + "\r";
    return exchange(port, command, MessageWriteMs, MessageReadMs);
}

bool MyComThread::atRadio(QSerialPort* port, bool on, bool afterOpen)
{
    const QByteArray command = on ? QByteArray("AT+CFUN=1,0\r") : QByteArray("AT+CFUN=0,0\r");
    if (afterOpen) {
        return exchange(port, command, OpenRadioWriteMs, OpenRadioReadMs) < SerialChecker::Answered;
    }
    return exchange(port, command, ResetWriteMs, ResetReadMs) < SerialChecker::Answered;
}

bool MyComThread::breakIn(QSerialPort* port)
{
    // Ends a half-typed message (Ctrl-Z) or cancels it (ESC), in case an
    // earlier session left the modem waiting for message text.
    static const char bytes[] = {0x1A, '\r', 0x1B, '\r'};
    for (char byte : bytes) {
        if (!port->isOpen()) {
            break;
        }
        port->write(&byte, 1);
        port->waitForBytesWritten(BreakInWriteMs);
    }
    return true;
}

const QList<QByteArray>& MyComThread::deviceNoCommands()
{
    static const QList<QByteArray> list{"AT+CGSN\r", "AT+WMSN\r"};
    return list;
}

const QList<QByteArray>& MyComThread::simNoCommands()
{
    static const QList<QByteArray> list{"AT+CCID\r", "AT+CXXCID\r", "AT+ICCID\r", "AT^ICCID?\r",
                                        "AT+CICCID\r"};
    return list;
}

// --- the modem loop --------------------------------------------------------

void MyComThread::run()
{
    QSerialPort port;
    SerialChecker::setUpPort(port, portName, baudRate, flowControl == 1);
    lastResetMs = AppClock::nowMs();
    Step step = Step::Closed;
    while (running.load() && !comStopRequested()) {
        step = advance(&port, step);
    }
    port.close();
    loopEnded.store(true, std::memory_order_release);
}

MyComThread::Step MyComThread::advance(QSerialPort* port, Step step)
{
    switch (step) {
    case Step::Closed:
        return openPort(port);
    case Step::Handshake:
        if (handshakeRounds(port)) {
            if (notAnswering.end()) {
                log.write("MODEM ANSWERS AGAIN");
            }
            emit threadOkMsg(OkModemAnswered, QByteArray());
            return Step::EchoOff;
        }
        if (keepGoing()) {
            if (notAnswering.occurred(AppClock::nowMs())) {
                log.write("MODEM DOES NOT ANSWER (" + QByteArray::number(notAnswering.count()) + " rounds)");
            }
            emit threadErrMsg(ErrNoAnswer);
        }
        return Step::Reopen;
    case Step::EchoOff:
    case Step::Identify:
    case Step::DeviceNo:
    case Step::SimNo:
        return identify(port, step);
    case Step::SimCheck:
        return checkSim(port);
    case Step::Unlock:
        return unlock(port);
    case Step::SimLocked:
        return waitLocked(port);
    case Step::SetUp:
        return setUp(port) ? Step::Work : Step::Reopen;
    case Step::Work:
        return work(port);
    case Step::Reopen:
        port->close();
        // Nothing is known of a modem that is not spoken to.
        health = ModemHealth();
        publishHealth();
        return Step::Closed;
    }
    return Step::Reopen;
}

MyComThread::Step MyComThread::openPort(QSerialPort* port)
{
    port->clearError();
    if (!port->open(QIODevice::ReadWrite)) {
        // Reported when it starts and once a minute while it lasts.
        if (openFailing.occurred(AppClock::nowMs())) {
            log.write("PORT NOT OPEN: " + port->errorString().toUtf8() + " (" +
                      QByteArray::number(openFailing.count()) + " tries)");
            emit threadErrMsg(ErrOpenFailed);
        }
        pause(OpenRetryMs);
        return Step::Closed;
    }
    if (openFailing.isOn()) {
        log.write("PORT OPEN AGAIN after " + QByteArray::number(openFailing.count()) + " failed tries");
        openFailing.end();
    }
    emit threadOkMsg(OkPortOpened, QByteArray());
    // The modem may have been powered off meanwhile: its SIM, storages and
    // settings are learnt anew.
    simNoKnown = false;
    pinSent = false;
    copsFormatSet = false;
    selected.clear();
    healthStep = -1;
    healthRounds = 0;
    // The modem may have been re-plugged with another card: what the listing
    // finds stored is deleted then.
    owedDeletes.clear();
    sinceHealth.invalidate();
    // Whatever an earlier session left on the line is not an answer of ours.
    partialLine.clear();
    noteUnsolicited(SerialChecker::resync(port));
    atRadio(port, true, true);
    return Step::Handshake;
}

MyComThread::Step MyComThread::fatal(int code)
{
    // Failures caused by a stop request are not the modem's fault: report nothing.
    if (keepGoing()) {
        emit threadErrMsg(code);
        // The worker stops this thread on codes 3 and above; ending here
        // as well keeps the port from being reopened in the meantime.
        running.store(false);
    }
    return Step::Reopen;
}

MyComThread::Step MyComThread::identify(QSerialPort* port, Step step)
{
    switch (step) {
    case Step::EchoOff:
        return atPlain(port, "ATE0\r", SerialChecker::Confirmed) ? Step::Identify : fatal(ErrSetUp);
    case Step::Identify:
        return atPlain(port, "ATI\r", SerialChecker::Confirmed) ? Step::DeviceNo : fatal(ErrSetUp);
    case Step::DeviceNo:
        if (readDeviceNo(port)) {
            emit threadOkMsg(OkDeviceNo, deviceNo().toUtf8());
            return Step::SimCheck;
        }
        return fatal(ErrDeviceNo);
    default:
        if (readSimNo(port)) {
            simNoKnown = true;
            emit threadOkMsg(OkSimNo, simNo().toUtf8());
            return Step::Unlock;
        }
        // A locked SIM may keep its number to itself until it is opened.
        if (health.sim == Sim::Pin || health.sim == Sim::Puk) {
            return Step::Unlock;
        }
        return fatal(ErrSimNo);
    }
}

MyComThread::Step MyComThread::checkSim(QSerialPort* port)
{
    // Numbered errors tell a missing SIM from a locked one; the set-up needs them.
    if (!atPlain(port, "AT+CMEE=1\r", SerialChecker::Confirmed) || portFailed(atSimState(port))) {
        return Step::Reopen;
    }
    publishHealth();
    if (health.sim == Sim::Absent || health.sim == Sim::Error) {
        return Step::SimLocked;
    }
    return simNoKnown ? Step::Unlock : Step::SimNo;
}

QString MyComThread::pinKey() const
{
    return simNoKnown ? RefusedPins::simKey(simNo()) : RefusedPins::portKey(portName);
}

bool MyComThread::pinMayBeTried() const
{
    return isPinUsable(simPin) && !pinSent && !RefusedPins::contains(pinKey());
}

MyComThread::Step MyComThread::unlock(QSerialPort* port)
{
    if (health.sim == Sim::Ready || health.sim == Sim::Unknown) {
        return Step::SetUp;
    }
    if (health.sim != Sim::Pin || !pinMayBeTried()) {
        return Step::SimLocked;
    }
    QByteArray answer;
    const int code = exchange(port, "AT+CPIN=\"" + simPin + "\"\r", CommandWriteMs, CommandReadMs, &answer);
    if (code >= SerialChecker::Confirmed) {
        // Refused, or no answer: either way the SIM may have counted a wrong
        // try, and three lock it behind its PUK.
        RefusedPins::add(pinKey());
        const QList<QByteArray> lines = AtAnswer::lines(answer);
        log.write("SIM PIN REFUSED (" + (lines.isEmpty() ? "no answer" : AtAnswer::masked(lines.last())) +
                  "): it is not tried again on this SIM");
        if (portFailed(code) || portFailed(atSimState(port))) {
            return Step::Reopen;
        }
        publishHealth();
        return Step::SimLocked;
    }
    pinSent = true;
    log.write("SIM PIN ACCEPTED");
    for (int i = 0; i < PinSettleTries && keepGoing(); ++i) {
        if (portFailed(atSimState(port))) {
            return Step::Reopen;
        }
        if (health.sim != Sim::Pin || !pause(PinSettleMs)) {
            break;
        }
    }
    publishHealth();
    if (health.sim != Sim::Ready) {
        return Step::SimLocked;
    }
    // Ready: should the modem restart and the SIM ask again, the PIN is due again.
    pinSent = false;
    return simNoKnown ? Step::SetUp : Step::SimNo;
}

MyComThread::Step MyComThread::waitLocked(QSerialPort* port)
{
    if (health.sim != lockLogged && isLocked(health.sim)) {
        lockLogged = health.sim;
        const bool refused = RefusedPins::contains(pinKey());
        log.write("SIM NOT USABLE: " + ModemHealth::simName(health.sim).toLatin1() +
                  (health.sim != Sim::Pin ? ""
                   : refused              ? " (the PIN was refused)"
                   : simPin.isEmpty()     ? " (no SIM_PIN set)"
                   : !isPinUsable(simPin) ? " (SIM_PIN is not 4 to 8 digits)"
                                          : "") +
                  "; looked at again once a minute");
    }
    if (healthDue()) {
        for (int i = 0; i < HealthReads; ++i) {
            if (!healthRead(port, i)) {
                return Step::Reopen;
            }
        }
        sinceHealth.start();
    } else if (!listen(port)) {
        return Step::Reopen;
    }
    publishHealth();
    if (health.sim == Sim::Ready) {
        log.write("SIM READY");
        lockLogged = Sim::Unknown;
        // Perhaps another card: its number is read again.
        simNoKnown = false;
        return Step::SimCheck;
    }
    return health.sim == Sim::Pin && pinMayBeTried() ? Step::Unlock : Step::SimLocked;
}

bool MyComThread::setUp(QSerialPort* port)
{
    for (const SetUpCommand& command : setUpCommands) {
        if (!keepGoing() || !atPlain(port, command.text, command.successBelow)) {
            return false;
        }
    }
    // The modem's own memory is read as well when it has one; SM alone
    // needs no storage commands in the cycle.
    QByteArray answer;
    if (portFailed(exchange(port, "AT+CPMS=?\r", CommandWriteMs, CommandReadMs, &answer))) {
        return false;
    }
    storages = {"SM"};
    if (AtAnswer::storagesOf(answer).contains("ME")) {
        storages.append("ME");
    }
    selected.clear();
    // A fresh set-up deserves a look at the whole store.
    sinceListing.invalidate();
    return true;
}

int MyComThread::selectStorage(QSerialPort* port, const QByteArray& storage)
{
    if (storages.size() < 2 || selected == storage) {
        return SerialChecker::Ok;
    }
    QByteArray answer;
    const int code = exchange(port, "AT+CPMS=\"" + storage + "\"\r", CommandWriteMs, CommandReadMs, &answer);
    // Without a clear OK the storage in use is not known: chosen again next time.
    selected = code < SerialChecker::Confirmed ? storage : QByteArray();
    if (!selected.isEmpty()) {
        noteStorage(answer, storage, false);
    } else if (code < SerialChecker::Answered) {
        // A modem that will not switch is read, until its next set-up, as one
        // with a single storage: the one in use.
        log.write("STORAGE " + storage + " CANNOT BE SELECTED: only the storage in use is read");
        storages = {"SM"};
    }
    return code;
}

bool MyComThread::healthDue() const
{
    return !sinceHealth.isValid() || sinceHealth.elapsed() >= healthMs.load();
}

bool MyComThread::healthRead(QSerialPort* port, int which)
{
    QByteArray answer;
    int code = SerialChecker::Ok;
    bool known = false;
    switch (which) {
    case ReadCopsFormat:
        // Operator names rather than numbers, asked once; a refusal is no fault.
        if (!copsFormatSet) {
            code = exchange(port, "AT+COPS=3,0\r", CommandWriteMs, HealthReadMs);
            copsFormatSet = true;
        }
        break;
    case ReadSignal:
        code = exchange(port, "AT+CSQ\r", CommandWriteMs, HealthReadMs, &answer);
        health.signal = AtAnswer::signalOf(answer);
        break;
    case ReadRegistration:
        code = exchange(port, "AT+CREG?\r", CommandWriteMs, HealthReadMs, &answer);
        health.registration = AtAnswer::registrationOf(answer);
        break;
    case ReadOperator:
        code = exchange(port, "AT+COPS?\r", CommandWriteMs, HealthReadMs, &answer);
        health.operatorName = AtAnswer::operatorOf(answer, &known);
        break;
    case ReadSim:
        code = atSimState(port);
        break;
    default:
        code = exchange(port, "AT+CPMS?\r", CommandWriteMs, HealthReadMs, &answer);
        noteStorage(answer, QByteArray(), true);
        break;
    }
    return !portFailed(code);
}

void MyComThread::noteStorage(const QByteArray& answer, const QByteArray& selectedNow, bool forgetOnOdd)
{
    QByteArray name;
    int used = -1;
    int total = -1;
    if (AtAnswer::storageCount(answer, &name, &used, &total)) {
        storageUse.insert(name.isEmpty() ? selectedNow : name, qMakePair(used, total));
    } else if (forgetOnOdd) {
        storageUse.clear();
    }
    health.storageUsed = storageUse.isEmpty() ? -1 : 0;
    health.storageTotal = health.storageUsed;
    for (const QPair<int, int>& use : qAsConst(storageUse)) {
        health.storageUsed += use.first;
        health.storageTotal += use.second;
    }
}

void MyComThread::publishHealth()
{
    health.pinRefused = health.sim != Sim::Ready && RefusedPins::contains(pinKey());
    if (health != published) {
        published = health;
        emit threadHealth(health);
    }
}

MyComThread::Step MyComThread::work(QSerialPort* port)
{
    if (isLocked(health.sim)) {
        // The card may be another one once it serves again: the indexes
        // owed a delete are not its messages.
        owedDeletes.clear();
        return Step::Unlock;
    }
    const int period = notificationsWork ? trustedListingMs.load() : listingMs.load();
    const bool retryDue = sinceRefusal.isValid() && sinceRefusal.elapsed() >= retryPauseMs;
    const qint64 sinceReset = AppClock::nowMs() - lastResetMs;
    bool ok = true;
    if (!notified.isEmpty()) {
        ok = readNotified(port);
    } else if (sinceCommand.isValid() && sinceCommand.elapsed() < speed) {
        // The modem's breath is spent listening, so that a message announced
        // in it is read before anything else is sent.
        ok = listen(port);
    } else if (!owedDeletes.isEmpty()) {
        ok = deleteOwed(port);
    } else if (!sinceListing.isValid() || sinceListing.elapsed() >= period || retryDue) {
        ok = readMessages(port);
        sinceListing.start();
    } else if (healthStep >= 0 || healthDue()) {
        // One read per turn, so that a message announced meanwhile goes first.
        if (healthStep < 0) {
            healthStep = healthRounds % FullHealthRounds == 0 ? 0 : int(ReadSignal);
        }
        ok = healthRead(port, healthStep);
        if (++healthStep >= HealthReads) {
            healthStep = -1;
            ++healthRounds;
            sinceHealth.start();
        }
    } else if (sinceReset >= 0 && sinceReset > ResetAfterMs) {
        resetModem(port);
        lastResetMs = AppClock::nowMs();
        return Step::SimCheck;
    } else {
        ok = listen(port);
    }
    publishHealth();
    if (ok) {
        return Step::Work;
    }
    // A SIM that stopped serving (taken out, asking for its PIN again) is
    // waited for; the port itself is fine.
    return isLocked(health.sim) && !SerialChecker::portBroken(port) ? Step::Unlock : Step::Reopen;
}

bool MyComThread::listen(QSerialPort* port)
{
    // Sleeps in the port until the modem says something (a notification) or
    // a slice has passed, so that a stop is seen quickly.
    if (port->waitForReadyRead(SliceMs)) {
        const QByteArray bytes = port->readAll();
        if (logBit(LogPortExchange)) {
            log.write(AtAnswer::masked(AtAnswer::printable(bytes)));
        }
        noteUnsolicited(bytes);
        return true;
    }
    return !SerialChecker::portBroken(port);
}

bool MyComThread::handshakeRounds(QSerialPort* port)
{
    for (int i = 0; i < HandshakeTries && keepGoing(); ++i) {
        if (atHandshake(port)) {
            return true;
        }
    }
    if (!keepGoing()) {
        return false;
    }
    breakIn(port);
    if (!pause(BreakInPauseMs)) {
        return false;
    }
    for (int i = 0; i < HandshakeTries && keepGoing(); ++i) {
        if (atHandshake(port)) {
            return true;
        }
    }
    return false;
}

bool MyComThread::waitForAnswer(quint64 seq)
{
    std::unique_lock<std::mutex> lock(answerMutex);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(answerTimeoutMs.load());
    // Bounded, and cut into short waits: the GUI thread may itself be
    // waiting in stopThread for this thread to end.
    while (answeredSeq < seq) {
        if (!keepGoing() || std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        answerArrived.wait_for(lock, std::chrono::milliseconds(SliceMs));
    }
    return answeredSeq == seq &&
           (lastAnswer == StoreAnswer::Stored || lastAnswer == StoreAnswer::AlreadyStored);
}

bool MyComThread::storeAccepted(const QString& slot)
{
    // After a read that emitted code 6: wait for the store's verdict.
    quint64 seq = 0;
    {
        std::lock_guard<std::mutex> lock(answerMutex);
        seq = emittedSeq;
    }
    lastResetMs = AppClock::nowMs();
    if (waitForAnswer(seq)) {
        acceptedNow = true;
        return true;
    }
    refusedNow = true;
    if (logBit(LogPortExchange)) {
        QByteArray why = "no answer";
        {
            std::lock_guard<std::mutex> lock(answerMutex);
            if (answeredSeq == seq) {
                why = answerName(lastAnswer);
            }
        }
        log.write("KEEP MESSAGE: " + slotText(slot) + " stays in the modem (store: " + why + ")");
    }
    return false;
}

bool MyComThread::readNotified(QSerialPort* port)
{
    refusedNow = false;
    acceptedNow = false;
    bool ok = true;
    while (ok && !notified.isEmpty() && keepGoing()) {
        // Those in the storage selected now first: fewer switches.
        int at = 0;
        while (at < notified.size() && !notified.at(at).startsWith(slotKey(selected, QString()))) {
            ++at;
        }
        const QString slot = notified.takeAt(at < notified.size() ? at : 0);
        const int selection = selectStorage(port, slot.section(QLatin1Char('/'), 0, 0).toLatin1());
        const ReadResult result = selection >= SerialChecker::Answered ? ReadResult::PortFault
                                  : selection >= SerialChecker::Confirmed
                                      ? ReadResult::Empty
                                      : atReadMessage(port, slot.section(QLatin1Char('/'), 1));
        if (result == ReadResult::PortFault || result == ReadResult::TimedOut) {
            // Read again after the reopening, by the listing if not sooner.
            ok = false;
        } else if (result != ReadResult::Message) {
            // Perhaps taken by a listing already; the next listing looks again.
            readEmpty.insert(slot);
        } else {
            notificationsWork = true;
            // A notice of this slot that came with its own answer names the
            // message just read.
            notified.removeAll(slot);
            if (!storeAccepted(slot)) {
                continue;
            }
            if (slot.startsWith(QLatin1String("SM/"))) {
                // Deleted on a later turn, after any message announced
                // meanwhile has been read.
                owedDeletes.append(slot);
            } else {
                // Another storage is selected now: deleted while it is.
                ok = deleteMessages(port, {slot}, {});
            }
        }
    }
    planRetry(false);
    return ok && selectStorage(port, "SM") < SerialChecker::Answered;
}

bool MyComThread::deleteOwed(QSerialPort* port)
{
    // One a turn, so that a message announced meanwhile is read first.
    const QString slot = owedDeletes.takeFirst();
    const int selection = selectStorage(port, "SM");
    if (selection >= SerialChecker::Confirmed) {
        // Not selectable now: the next listing finds it stored and deletes it.
        return selection < SerialChecker::Answered;
    }
    return deleteMessages(port, {slot}, {});
}

bool MyComThread::readMessages(QSerialPort* port)
{
    refusedNow = false;
    acceptedNow = false;
    // This listing is the retry owed for earlier refusals.
    sinceRefusal.invalidate();
    bool ok = true;
    const QList<QByteArray> listed = storages; // a notice may add one meanwhile
    for (const QByteArray& storage : listed) {
        if (!ok || !keepGoing()) {
            break;
        }
        const int selection = selectStorage(port, storage);
        // A storage the modem will not select now is skipped until the next listing.
        ok = selection < SerialChecker::Confirmed ? listStorage(port, storage)
                                                  : selection < SerialChecker::Answered;
    }
    planRetry(true);
    return ok && selectStorage(port, "SM") < SerialChecker::Answered;
}

void MyComThread::planRetry(bool wholeListing)
{
    if (refusedNow) {
        retryPauseMs = retryPauseMs == 0 ? FirstRetryMs : qMin(2 * retryPauseMs, LastRetryMs);
        sinceRefusal.start();
    } else if (wholeListing && acceptedNow) {
        // Only a listing that stored everything it read shows the store well again.
        retryPauseMs = 0;
    }
}

bool MyComThread::listStorage(QSerialPort* port, const QByteArray& storage)
{
    QStringList indexes;
    if (!atListIndexes(port, indexes)) {
        return false;
    }
    const QString prefix = slotKey(storage, QString());
    QSet<QString> listed;
    for (const QString& index : qAsConst(indexes)) {
        listed.insert(slotKey(storage, index));
    }
    // Empty reads, failure counts and PDU marks belong to entries still there.
    const auto gone = [&](const QString& slot) { return slot.startsWith(prefix) && !listed.contains(slot); };
    for (auto it = readEmpty.begin(); it != readEmpty.end();) {
        it = it->startsWith(prefix) ? readEmpty.erase(it) : std::next(it);
    }
    for (auto it = readFailures.begin(); it != readFailures.end();) {
        it = gone(it.key()) ? readFailures.erase(it) : std::next(it);
    }
    for (auto it = heldPdu.begin(); it != heldPdu.end();) {
        it = gone(*it) ? heldPdu.erase(it) : std::next(it);
    }

    QStringList accepted;
    QStringList unreadable;
    for (const QString& index : qAsConst(indexes)) {
        if (!keepGoing()) {
            break;
        }
        const QString slot = slotKey(storage, index);
        if (readFailures.value(slot) >= MaxReadFailures && !heldPdu.contains(slot)) {
            unreadable.append(slot);
            continue;
        }
        const ReadResult result = atReadMessage(port, index);
        if (result == ReadResult::PortFault || result == ReadResult::TimedOut) {
            return false;
        }
        if (result == ReadResult::Garbled) {
            heldPdu.insert(slot);
            continue;
        }
        if (result == ReadResult::Empty) {
            if (++readFailures[slot] >= MaxReadFailures && !heldPdu.contains(slot)) {
                unreadable.append(slot);
            }
            continue;
        }
        readFailures.remove(slot);
        // A message no notification announced: this modem's cannot be trusted.
        const bool announced = notified.removeAll(slot) > 0;
        notificationsWork = notificationsWork && announced;
        if (storeAccepted(slot)) {
            accepted.append(slot);
        }
    }
    return deleteMessages(port, accepted, unreadable);
}

bool MyComThread::deleteMessages(QSerialPort* port, const QStringList& accepted,
                                 const QStringList& unreadable)
{
    // Called with the storage of the slots selected.
    for (const QString& slot : accepted + unreadable) {
        if (!keepGoing()) {
            break;
        }
        if (unreadable.contains(slot)) {
            log.write("DROP UNREADABLE MESSAGE: " + slotText(slot) + " answered empty or refused in " +
                      QByteArray::number(MaxReadFailures) + " listings");
        }
        const int code = atDeleteMessage(port, slot.section(QLatin1Char('/'), 1));
        if (code >= SerialChecker::Answered) {
            return false;
        }
        // A refused delete leaves the message where the next listing finds it.
        if (code < SerialChecker::Confirmed) {
            readFailures.remove(slot);
            heldPdu.remove(slot);
            notified.removeAll(slot);
        }
    }
    return true;
}

void MyComThread::resetModem(QSerialPort* port)
{
    // Radio off twice, then on three times, with long settling pauses; some
    // modems need the repeat before they take the command.
    const struct
    {
        bool on;
        int pauseMs;
    } plan[] = {{false, 20000}, {false, 10000}, {true, 30000}, {true, 20000}, {true, 10000}};
    for (const auto& stage : plan) {
        if (!keepGoing()) {
            return;
        }
        atRadio(port, stage.on, false);
        pause(stage.pauseMs);
    }
}
