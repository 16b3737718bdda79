#include "modem/serialchecker.h"

#include "core/comlog.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QSerialPort>

std::atomic<int> comRunState{0};

namespace {

int clampTimeout(int ms)
{
    return qBound(SerialChecker::MinTimeoutMs, ms, SerialChecker::MaxTimeoutMs);
}

// A port that has failed for good (a USB modem unplugged, a pseudo-terminal
// whose other side went away) answers every wait at once with nothing.
bool portBroken(const QSerialPort* port)
{
    if (!port->isOpen()) {
        return true;
    }
    const QSerialPort::SerialPortError err = port->error();
    return err == QSerialPort::ResourceError || err == QSerialPort::ReadError ||
           err == QSerialPort::PermissionError || err == QSerialPort::DeviceNotFoundError;
}

} // namespace

SerialChecker::SerialChecker(QObject* parent, ComLog* portLog) : QObject(parent), log(portLog) {}

int SerialChecker::finish(int code, const QString& text)
{
    resultCode = code;
    errText = text;
    return code;
}

int SerialChecker::sendCommand(QSerialPort* port, const QByteArray& data, const QStringList& okPatterns,
                               const QStringList& errPatterns, int writeTimeoutMs, int readTimeoutMs)
{
    resultCode = Incomplete;
    staleBuf.clear();
    answerBuf.clear();
    errText.clear();

    if (comStopRequested()) {
        return finish(UserCancel, QStringLiteral("user cancel"));
    }
    if (port == nullptr) {
        return finish(PortNull, QStringLiteral("port is null"));
    }
    if (data.isEmpty()) {
        return finish(NoData, QStringLiteral("no data to send"));
    }
    if (!port->isOpen()) {
        return finish(PortNotOpen, QStringLiteral("port not open"));
    }
    // Errors of earlier exchanges must not be taken for a failure of this one.
    port->clearError();
    const int writeMs = clampTimeout(writeTimeoutMs);
    const int readMs = clampTimeout(readTimeoutMs);

    // Unsolicited lines that came in since the last exchange; kept for the log only.
    staleBuf = port->readAll();

    if (log != nullptr && logBit(LogPortSend)) {
        log->write("SEND: " + data);
    }

    const qint64 written = port->write(data);
    if (written == -1) {
        return finish(WriteFailed, port->errorString());
    }
    if (written != data.size()) {
        return finish(WriteShort, port->errorString());
    }
    if (!port->waitForBytesWritten(writeMs)) {
        return finish(WriteTimeout, port->errorString());
    }

    answerBuf = port->readAll();
    resultCode = checkAnswer(answerBuf, okPatterns, errPatterns);
    const qint64 startMs = QDateTime::currentMSecsSinceEpoch();
    while (resultCode == Incomplete) {
        if (comStopRequested()) {
            finish(UserCancel, QStringLiteral("user cancel"));
            break;
        }
        // A clock set back counts as run out, so the wait can never last for ever.
        const qint64 elapsed = QDateTime::currentMSecsSinceEpoch() - startMs;
        if (elapsed < 0 || elapsed > readMs || elapsed > MaxTimeoutMs) {
            finish(RecvTimeout, QStringLiteral("recv time out"));
            break;
        }
        if (port->waitForReadyRead(WaitSliceMs)) {
            answerBuf += port->readAll();
            resultCode = checkAnswer(answerBuf, okPatterns, errPatterns);
        } else if (portBroken(port)) {
            // Without this the loop would spin on a dead port until the read time-out.
            finish(PortLost, QStringLiteral("port lost"));
            break;
        }
    }

    // Lines that trail the final result (more unsolicited output, a late
    // second result) belong to this exchange, not to the next one.
    for (int i = 0; i < DrainRounds && !portBroken(port); ++i) {
        if (port->waitForReadyRead(WaitSliceMs)) {
            answerBuf += port->readAll();
        }
    }
    return resultCode;
}

int SerialChecker::checkAnswer(const QByteArray& answer, const QStringList& okPatterns,
                               const QStringList& errPatterns)
{
    if (okPatterns.isEmpty() && errPatterns.isEmpty()) {
        return AnyAnswer;
    }
    if (answer.isEmpty()) {
        return Incomplete;
    }
    const QString text = QString::fromUtf8(answer);
    // The options give '.', '\s' and '\d' the meaning they have always had here.
    const auto options =
        QRegularExpression::DotMatchesEverythingOption | QRegularExpression::UseUnicodePropertiesOption;
    for (int i = 0; i < okPatterns.size(); ++i) {
        if (QRegularExpression(okPatterns.at(i), options).match(text).hasMatch()) {
            return OkBase + i;
        }
    }
    for (int i = 0; i < errPatterns.size(); ++i) {
        if (QRegularExpression(errPatterns.at(i), options).match(text).hasMatch()) {
            return ErrBase + i;
        }
    }
    return Incomplete;
}

void SerialChecker::logExchange()
{
    if (log == nullptr || !logBit(LogPortExchange)) {
        return;
    }
    if (!errText.isEmpty()) {
        log->write(errText.toUtf8());
    }
    if (!staleBuf.isEmpty()) {
        log->write(staleBuf);
    }
    if (!answerBuf.isEmpty()) {
        log->write(answerBuf);
    }
}
