#include "modem/mycomthread.h"

#include "core/clock.h"
#include "modem/serialchecker.h"

#include <QRegularExpression>
#include <QSerialPort>

namespace {

const QStringList& okPatterns()
{
    static const QStringList list{QStringLiteral("OK\r")};
    return list;
}

const QStringList& errPatterns()
{
    static const QStringList list{QStringLiteral("ERROR"), QStringLiteral("NOT")};
    return list;
}

// Result codes below this bound mean the modem confirmed the command; below
// AnsweredBound it answered at all, if only with an error.
constexpr int ConfirmedBound = 200;
constexpr int AnsweredBound = 400;

constexpr int CommandWriteMs = 10000;
constexpr int CommandReadMs = 10000;
constexpr int HandshakeReadMs = 3000;
constexpr int StoreWriteMs = 30000;
constexpr int StoreReadMs = 300000;
// A listing carries every PDU of the store, so it may take a while on a slow line.
constexpr int ListingReadMs = 60000;
constexpr int OpenRadioWriteMs = 2000;
constexpr int OpenRadioReadMs = 3000;
constexpr int ResetWriteMs = 10000;
constexpr int ResetReadMs = 300000;

constexpr int HandshakeTries = 10;
constexpr int BreakInPauseMs = 1000;
constexpr int BreakInWriteMs = 1000;
constexpr int SliceMs = 100;
constexpr qint64 ResetAfterMs = 15 * 60 * 1000;

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
    for (int slept = 0; slept < ms && keepGoing(); slept += SliceMs) {
        QThread::msleep(SliceMs);
    }
    return keepGoing();
}

// --- AT command set ------------------------------------------------------

int MyComThread::exchange(QSerialPort* port, const QByteArray& command, int writeMs, int readMs,
                          QByteArray* answer)
{
    SerialChecker checker(nullptr, &log);
    const int code = checker.sendCommand(port, command, okPatterns(), errPatterns(), writeMs, readMs);
    checker.logExchange();
    if (answer != nullptr) {
        *answer = checker.answer();
    }
    return code;
}

bool MyComThread::atHandshake(QSerialPort* port)
{
    return exchange(port, "AT\r", CommandWriteMs, HandshakeReadMs) < ConfirmedBound;
}

bool MyComThread::atEchoOff(QSerialPort* port)
{
    return atPlain(port, "ATE0\r", ConfirmedBound);
}

bool MyComThread::atIdentify(QSerialPort* port)
{
    return atPlain(port, "ATI\r", ConfirmedBound);
}

bool MyComThread::atPlain(QSerialPort* port, const QByteArray& command, int successBelow)
{
    return exchange(port, command, CommandWriteMs, CommandReadMs) < successBelow;
}

bool MyComThread::atDeviceNo(QSerialPort* port, const QByteArray& command)
{
    QByteArray answer;
    if (exchange(port, command, CommandWriteMs, CommandReadMs, &answer) >= ConfirmedBound) {
        return false;
    }
    // An OK without a number is no use: the store refuses rows without one.
    const QString value = parseDeviceNo(QString::fromUtf8(answer));
    if (value.isEmpty()) {
        return false;
    }
    setDeviceNo(value);
    return true;
}

bool MyComThread::atSimNo(QSerialPort* port, const QByteArray& command)
{
    QByteArray answer;
    if (exchange(port, command, CommandWriteMs, CommandReadMs, &answer) >= ConfirmedBound) {
        return false;
    }
    const QString value = parseSimNo(QString::fromUtf8(answer));
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
    const int code = exchange(port, "AT+CMGD=?\r", CommandWriteMs, CommandReadMs, &answer);
    if (code >= AnsweredBound) {
        return false;
    }
    indexes.clear();
    if (code >= ConfirmedBound) {
        return false;
    }
    bool isRange = false;
    indexes = parseIndexList(QString::fromUtf8(answer), &isRange);
    if (!isRange) {
        return true;
    }
    // This modem names the range of its slots, not the used ones: ask for
    // the stored messages themselves.
    if (exchange(port, "AT+CMGL=4\r", CommandWriteMs, ListingReadMs, &answer) >= ConfirmedBound) {
        return false;
    }
    indexes = parseListing(QString::fromUtf8(answer));
    return true;
}

MyComThread::ReadResult MyComThread::atReadMessage(QSerialPort* port, const QString& index)
{
    QByteArray answer;
    const QByteArray command = "AT+CMGR=" + index.toUtf8() + "\r";
    const int code = exchange(port, command, StoreWriteMs, StoreReadMs, &answer);
    if (code == SerialChecker::RecvTimeout) {
        return ReadResult::TimedOut;
    }
    if (code >= SerialChecker::PortNull) {
        return ReadResult::PortFault;
    }
    if (code >= ConfirmedBound) {
        return ReadResult::Empty;
    }
    const QString pdu = parseReadPdu(QString::fromUtf8(answer));
    if (pdu.isEmpty()) {
        return ReadResult::Empty;
    }
    {
        std::lock_guard<std::mutex> lock(answerMutex);
        ++emittedSeq;
    }
    emit threadOkMsg(6, pdu.toUtf8());
    return ReadResult::Message;
}

bool MyComThread::atDeleteMessage(QSerialPort* port, const QString& index)
{
    const QByteArray command = "AT+CMGD=" + index.toUtf8() + "\r";
    return exchange(port, command, StoreWriteMs, StoreReadMs) < AnsweredBound;
}

bool MyComThread::atRadio(QSerialPort* port, bool on, bool afterOpen)
{
    const QByteArray command = on ? QByteArray("AT+CFUN=1,0\r") : QByteArray("AT+CFUN=0,0\r");
    if (afterOpen) {
        return exchange(port, command, OpenRadioWriteMs, OpenRadioReadMs) < AnsweredBound;
    }
    return exchange(port, command, ResetWriteMs, ResetReadMs) < AnsweredBound;
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

// --- parse rules -----------------------------------------------------------

QString MyComThread::withoutUnsolicited(const QString& answer)
{
    static const QRegularExpression unsolicited(
        QStringLiteral("^\\s*(RING\\s*$|\\+CMTI:|\\+CDSI:|\\+CBM:|\\+CREG:|\\+CGREG:|\\+CEREG:|\\+CLIP:|"
                       "\\+CRING:|\\+CUSD:|\\+CIEV:|\\^RSSI:|\\^HCSQ:|\\^MODE:|\\^BOOT:|\\^SRVST:|"
                       "\\^SIMST:)"),
        QRegularExpression::UseUnicodePropertiesOption);
    if (!answer.contains(QLatin1String("RING")) && !answer.contains(QLatin1Char(':'))) {
        return answer;
    }
    QStringList lines = answer.split(QLatin1Char('\n'));
    for (int i = lines.size() - 1; i >= 0; --i) {
        if (unsolicited.match(lines.at(i)).capturedStart() == 0) {
            lines.removeAt(i);
        }
    }
    return lines.join(QLatin1Char('\n'));
}

QString MyComThread::parseDeviceNo(const QString& answer)
{
    const QString text = withoutUnsolicited(answer);
    const int ok = text.indexOf(QLatin1String("OK"));
    if (ok <= 0) {
        return QString();
    }
    QString value = text.left(ok).trimmed();
    // An echoed command line stands before the number.
    const int cr = value.indexOf(QLatin1Char('\r'));
    if (cr > 0) {
        value = value.mid(cr).trimmed();
    }
    return value;
}

QString MyComThread::parseSimNo(const QString& answer)
{
    const QString text = withoutUnsolicited(answer);
    const int colon = text.indexOf(QLatin1Char(':'));
    const int ok = text.indexOf(QLatin1String("OK"));
    if (ok <= 0 || colon == 0) {
        return QString();
    }
    if (colon < 0) {
        // Answered with the bare number: the last line before OK that is not
        // the echo of the command.
        const QStringList lines = text.left(ok).split(QRegularExpression(QStringLiteral("[\r\n]")));
        for (int i = lines.size() - 1; i >= 0; --i) {
            const QString line = lines.at(i).trimmed();
            if (!line.isEmpty()) {
                return line.startsWith(QLatin1String("AT"), Qt::CaseInsensitive) ? QString() : line;
            }
        }
        return QString();
    }
    QString value = ok < colon ? text.mid(colon + 1) : text.mid(colon + 1, ok - colon - 1);
    const int lastColon = value.lastIndexOf(QLatin1Char(':'));
    if (lastColon >= 0) {
        value = value.mid(lastColon + 1);
    }
    return value.trimmed();
}

QStringList MyComThread::parseIndexList(const QString& answer, bool* isRange)
{
    if (isRange != nullptr) {
        *isRange = false;
    }
    QStringList indexes;
    QString inner;
    // '.' matches a line end too, as it always has here.
    static const QRegularExpression list(QStringLiteral("[(].*[)],"),
                                         QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch listed = list.match(answer);
    if (listed.hasMatch()) {
        if (listed.capturedLength() < 4) {
            return indexes;
        }
        inner = listed.captured(0).mid(1, listed.capturedLength() - 3);
    } else {
        // The list of deletion flags is optional: some modems give only the
        // list of indexes.
        static const QRegularExpression only(QStringLiteral("\\+CMGD:\\s*[(]([^)]*)[)]"),
                                             QRegularExpression::UseUnicodePropertiesOption);
        const QRegularExpressionMatch alone = only.match(answer);
        if (!alone.hasMatch()) {
            return indexes;
        }
        inner = alone.captured(1);
    }
    const QStringList parts = inner.split(QLatin1Char(','), Qt::KeepEmptyParts);
    for (const QString& part : parts) {
        const QString index = part.trimmed();
        if (index.isEmpty()) {
            continue;
        }
        if (index.indexOf(QLatin1Char('-'), 1) > 0) {
            if (isRange != nullptr) {
                *isRange = true;
            }
            continue;
        }
        indexes.append(index);
    }
    return indexes;
}

QStringList MyComThread::parseListing(const QString& answer)
{
    QStringList indexes;
    static const QRegularExpression entry(QStringLiteral("^\\s*\\+CMGL:\\s*(\\d+)\\s*,"),
                                          QRegularExpression::UseUnicodePropertiesOption);
    const QStringList lines = answer.split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        const QRegularExpressionMatch rx = entry.match(line);
        if (rx.capturedStart() == 0 && !indexes.contains(rx.captured(1))) {
            indexes.append(rx.captured(1));
        }
    }
    return indexes;
}

QString MyComThread::parseReadPdu(const QString& answer)
{
    const QString text = withoutUnsolicited(answer);
    const int colon = text.indexOf(QLatin1Char(':'));
    if (colon <= 0) {
        return QString();
    }
    const int cr = text.indexOf(QLatin1Char('\r'), colon);
    if (cr <= 0) {
        return QString();
    }
    const int ok = text.indexOf(QLatin1String("OK"), cr);
    if (ok <= 0) {
        return QString();
    }
    QString pdu = text.mid(cr, ok - cr).trimmed();
    const int lastCr = pdu.lastIndexOf(QLatin1Char('\r'));
    if (lastCr >= 0) {
        pdu = pdu.mid(lastCr).trimmed();
    }
    return pdu;
}

// --- the modem loop --------------------------------------------------------

void MyComThread::run()
{
    QSerialPort port;
    port.setPortName(portName);
    port.setBaudRate(baudRate, QSerialPort::AllDirections);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(flowControl == 1 ? QSerialPort::HardwareControl : QSerialPort::NoFlowControl);
    lastResetMs = AppClock::nowMs();

    bool portOpen = false;
    int step = 0;
    while (running.load()) {
        if (comStopRequested()) {
            break;
        }
        if (!portOpen) {
            port.clearError();
            portOpen = port.open(QIODevice::ReadWrite);
            if (portOpen) {
                emit threadOkMsg(1, QByteArray());
            } else {
                emit threadErrMsg(1);
            }
            atRadio(&port, true, true);
            step = 0;
        } else if (step < 0) {
            port.close();
            portOpen = false;
            step = 0;
        } else {
            step = tick(&port, step);
        }
        pause(speed);
    }
    port.close();
    loopEnded.store(true, std::memory_order_release);
}

int MyComThread::tick(QSerialPort* port, int step)
{
    // Failures caused by a stop request are not the modem's fault: report nothing.
    auto fatal = [this](int code) {
        if (keepGoing()) {
            emit threadErrMsg(code);
            // The worker stops this thread on codes 3 and above; ending here
            // as well keeps the port from being reopened in the meantime.
            running.store(false);
        }
        return -1;
    };

    switch (step) {
    case 0:
        if (handshakeRounds(port)) {
            emit threadOkMsg(2, QByteArray());
            return 1;
        }
        if (keepGoing()) {
            emit threadErrMsg(2);
        }
        return -1;
    case 1:
        return atEchoOff(port) ? 2 : fatal(3);
    case 2:
        return atIdentify(port) ? 3 : fatal(3);
    case 3:
        if (readDeviceNo(port)) {
            emit threadOkMsg(4, deviceNo().toUtf8());
            return 4;
        }
        return fatal(4);
    case 4:
        if (readSimNo(port)) {
            emit threadOkMsg(5, simNo().toUtf8());
            return 5;
        }
        return fatal(5);
    case 5:
        return atEchoOff(port) ? 6 : -1;
    case 6:
        return atPlain(port, "AT+CMEE=1\r", ConfirmedBound) ? 7 : -1;
    case 7:
        return atPlain(port, "AT+CREG=1\r", ConfirmedBound) ? 8 : -1;
    case 8:
        return atPlain(port, "AT+CLIP=1\r", AnsweredBound) ? 9 : -1;
    case 9:
        return atPlain(port, "AT+CSMS=1\r", AnsweredBound) ? 10 : -1;
    case 10:
        return atPlain(port, "AT+CNMI=1,1,0,1,1\r", AnsweredBound) ? 11 : -1;
    case 11:
        return atPlain(port, "AT+CPMS=\"SM\",\"SM\",\"SM\"\r", AnsweredBound) ? 12 : -1;
    case 12:
        return atPlain(port, "AT+CMGF=0\r", ConfirmedBound) ? 13 : -1;
    case 24:
        // A failed cycle deletes nothing: whatever is still on the SIM is read
        // again after the port has been reopened.
        return readMessages(port) ? 25 : -1;
    case 30: {
        const qint64 sinceReset = AppClock::nowMs() - lastResetMs;
        if (sinceReset >= 0 && sinceReset > ResetAfterMs) {
            resetModem(port);
            lastResetMs = AppClock::nowMs();
        }
        return 31;
    }
    case 33:
        return 5;
    default:
        return step + 1;
    }
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

bool MyComThread::readMessages(QSerialPort* port)
{
    QStringList indexes;
    if (!atListIndexes(port, indexes)) {
        return false;
    }
    // Failure counts belong to entries still on the SIM.
    for (auto it = readFailures.begin(); it != readFailures.end();) {
        it = indexes.contains(it.key()) ? std::next(it) : readFailures.erase(it);
    }

    QStringList accepted;
    QStringList unreadable;
    for (const QString& index : qAsConst(indexes)) {
        if (!keepGoing()) {
            break;
        }
        if (readFailures.value(index) >= MaxReadFailures) {
            unreadable.append(index);
            continue;
        }
        const ReadResult result = atReadMessage(port, index);
        if (result == ReadResult::PortFault) {
            return false;
        }
        if (result == ReadResult::TimedOut) {
            ++readFailures[index];
            return false;
        }
        lastResetMs = AppClock::nowMs();
        if (result == ReadResult::Empty) {
            if (++readFailures[index] >= MaxReadFailures) {
                unreadable.append(index);
            }
            continue;
        }
        readFailures.remove(index);
        quint64 seq = 0;
        {
            std::lock_guard<std::mutex> lock(answerMutex);
            seq = emittedSeq;
        }
        if (waitForAnswer(seq)) {
            accepted.append(index);
        } else if (logBit(LogPortExchange)) {
            QByteArray why = "no answer";
            {
                std::lock_guard<std::mutex> lock(answerMutex);
                if (answeredSeq == seq) {
                    why = answerName(lastAnswer);
                }
            }
            log.write("KEEP MESSAGE: index " + index.toUtf8() + " stays on the SIM (store: " + why + ")");
        }
    }

    QStringList done = accepted + unreadable;
    while (keepGoing() && !done.isEmpty()) {
        const QString index = done.first();
        if (unreadable.contains(index)) {
            log.write("DROP UNREADABLE MESSAGE: index " + index.toUtf8() + " could not be read in " +
                      QByteArray::number(MaxReadFailures) + " cycles");
        }
        if (!atDeleteMessage(port, index)) {
            return false;
        }
        readFailures.remove(index);
        done.removeFirst();
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
