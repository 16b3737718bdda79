#include "modem/mycomthread.h"

#include "core/clock.h"
#include "modem/atanswer.h"
#include "modem/mycomworker.h"
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
constexpr int ResetReadMs = 300000;

constexpr int HandshakeTries = 10;
constexpr int BreakInPauseMs = 1000;
constexpr int BreakInWriteMs = 1000;
constexpr int SliceMs = 100;
constexpr int OpenRetryMs = 1000;
constexpr qint64 ResetAfterMs = 15 * 60 * 1000;
constexpr int MaxPartialLine = 512;

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
// optional ones, so for those any final result will do.
struct SetUpCommand
{
    const char* text;
    int successBelow;
};
const SetUpCommand setUpCommands[] = {
    {"ATE0\r", SerialChecker::Confirmed},
    {"AT+CMEE=1\r", SerialChecker::Confirmed},
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
                          QByteArray* answer)
{
    pauseBeforeCommand();
    SerialChecker checker(nullptr, &log);
    const int code = checker.sendCommand(port, command, writeMs, readMs);
    sinceCommand.start();
    checker.logExchange();
    noteUnsolicited(checker.staleInput() + checker.answer());
    if (answer != nullptr) {
        *answer = checker.answer();
    }
    return code;
}

void MyComThread::noteUnsolicited(const QByteArray& bytes)
{
    // Only complete lines count; the tail waits for the rest of its line.
    QByteArray text = partialLine + bytes;
    const int end = qMax(text.lastIndexOf('\r'), text.lastIndexOf('\n'));
    partialLine = text.mid(end + 1).right(MaxPartialLine);
    text.truncate(end + 1);
    for (int index : AtAnswer::newMessageIndexes(text)) {
        const QString name = QString::number(index);
        if (!notified.contains(name) && !readEmpty.contains(name)) {
            notified.append(name);
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
    case Step::SetUp:
        return setUp(port) ? Step::Work : Step::Reopen;
    case Step::Work:
        return work(port);
    case Step::Reopen:
        port->close();
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
            return Step::SimNo;
        }
        return fatal(ErrDeviceNo);
    default:
        if (readSimNo(port)) {
            emit threadOkMsg(OkSimNo, simNo().toUtf8());
            return Step::SetUp;
        }
        return fatal(ErrSimNo);
    }
}

bool MyComThread::setUp(QSerialPort* port)
{
    for (const SetUpCommand& command : setUpCommands) {
        if (!keepGoing() || !atPlain(port, command.text, command.successBelow)) {
            return false;
        }
    }
    // A fresh set-up deserves a look at the whole store.
    sinceListing.invalidate();
    return true;
}

MyComThread::Step MyComThread::work(QSerialPort* port)
{
    if (!notified.isEmpty()) {
        return readNotified(port) ? Step::Work : Step::Reopen;
    }
    const int period = notificationsWork ? trustedListingMs.load() : listingMs.load();
    if (!sinceListing.isValid() || sinceListing.elapsed() >= period) {
        const bool ok = readMessages(port);
        sinceListing.start();
        return ok ? Step::Work : Step::Reopen;
    }
    const qint64 sinceReset = AppClock::nowMs() - lastResetMs;
    if (sinceReset >= 0 && sinceReset > ResetAfterMs) {
        resetModem(port);
        lastResetMs = AppClock::nowMs();
        return Step::SetUp;
    }
    return listen(port) ? Step::Work : Step::Reopen;
}

bool MyComThread::listen(QSerialPort* port)
{
    // Sleeps in the port until the modem says something (a notification) or
    // a slice has passed, so that a stop is seen quickly.
    if (port->waitForReadyRead(SliceMs)) {
        const QByteArray bytes = port->readAll();
        if (logBit(LogPortExchange)) {
            log.write(AtAnswer::printable(bytes));
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

bool MyComThread::storeAccepted(const QString& index)
{
    // After a read that emitted code 6: wait for the store's verdict.
    quint64 seq = 0;
    {
        std::lock_guard<std::mutex> lock(answerMutex);
        seq = emittedSeq;
    }
    lastResetMs = AppClock::nowMs();
    if (waitForAnswer(seq)) {
        return true;
    }
    if (logBit(LogPortExchange)) {
        QByteArray why = "no answer";
        {
            std::lock_guard<std::mutex> lock(answerMutex);
            if (answeredSeq == seq) {
                why = answerName(lastAnswer);
            }
        }
        log.write("KEEP MESSAGE: index " + index.toLatin1() + " stays on the SIM (store: " + why + ")");
    }
    return false;
}

bool MyComThread::readNotified(QSerialPort* port)
{
    while (!notified.isEmpty() && keepGoing()) {
        const QString index = notified.takeFirst();
        const ReadResult result = atReadMessage(port, index);
        if (result == ReadResult::PortFault || result == ReadResult::TimedOut) {
            // Read again after the reopening, by the listing if not sooner.
            return false;
        }
        if (result != ReadResult::Message) {
            // Perhaps taken by a listing already; the next listing looks again.
            readEmpty.insert(index);
            continue;
        }
        notificationsWork = true;
        if (storeAccepted(index) && !deleteMessages(port, {index}, {})) {
            return false;
        }
    }
    return true;
}

bool MyComThread::readMessages(QSerialPort* port)
{
    QStringList indexes;
    if (!atListIndexes(port, indexes)) {
        return false;
    }
    readEmpty.clear();
    // Failure counts and PDU marks belong to entries still on the SIM.
    for (auto it = readFailures.begin(); it != readFailures.end();) {
        it = indexes.contains(it.key()) ? std::next(it) : readFailures.erase(it);
    }
    heldPdu.intersect(QSet<QString>(indexes.cbegin(), indexes.cend()));

    QStringList accepted;
    QStringList unreadable;
    for (const QString& index : qAsConst(indexes)) {
        if (!keepGoing()) {
            break;
        }
        if (readFailures.value(index) >= MaxReadFailures && !heldPdu.contains(index)) {
            unreadable.append(index);
            continue;
        }
        const ReadResult result = atReadMessage(port, index);
        if (result == ReadResult::PortFault || result == ReadResult::TimedOut) {
            return false;
        }
        if (result == ReadResult::Garbled) {
            heldPdu.insert(index);
            continue;
        }
        if (result == ReadResult::Empty) {
            if (++readFailures[index] >= MaxReadFailures && !heldPdu.contains(index)) {
                unreadable.append(index);
            }
            continue;
        }
        readFailures.remove(index);
        // A message no notification announced: this modem's cannot be trusted.
        const bool announced = notified.removeAll(index) > 0;
        notificationsWork = notificationsWork && announced;
        if (storeAccepted(index)) {
            accepted.append(index);
        }
    }
    return deleteMessages(port, accepted, unreadable);
}

bool MyComThread::deleteMessages(QSerialPort* port, const QStringList& accepted,
                                 const QStringList& unreadable)
{
    for (const QString& index : accepted + unreadable) {
        if (!keepGoing()) {
            break;
        }
        if (unreadable.contains(index)) {
            log.write("DROP UNREADABLE MESSAGE: index " + index.toLatin1() +
                      " answered empty or refused in " + QByteArray::number(MaxReadFailures) + " listings");
        }
        const int code = atDeleteMessage(port, index);
        if (code >= SerialChecker::Answered) {
            return false;
        }
        // A refused delete leaves the message where the next listing finds it.
        if (code < SerialChecker::Confirmed) {
            readFailures.remove(index);
            heldPdu.remove(index);
            notified.removeAll(index);
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
