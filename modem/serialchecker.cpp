#include "modem/serialchecker.h"

#include "core/comlog.h"
#include "modem/atanswer.h"

#include <QElapsedTimer>
#include <QSerialPort>

#include <algorithm>

std::atomic<int> comRunState{0};

namespace {

int clampTimeout(int ms)
{
    return qBound(SerialChecker::MinTimeoutMs, ms, SerialChecker::MaxTimeoutMs);
}

} // namespace

SerialChecker::SerialChecker(QObject* parent, ComLog* portLog) : QObject(parent), log(portLog) {}

void SerialChecker::setUpPort(QSerialPort& port, const QString& name, int baudRate, bool hardwareFlow)
{
    port.setPortName(name);
    port.setBaudRate(baudRate, QSerialPort::AllDirections);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(hardwareFlow ? QSerialPort::HardwareControl : QSerialPort::NoFlowControl);
}

bool SerialChecker::portBroken(const QSerialPort* port)
{
    // A port that has failed for good (a USB modem unplugged, a pseudo-terminal
    // whose other side went away) answers every wait at once with nothing.
    if (!port->isOpen()) {
        return true;
    }
    const QSerialPort::SerialPortError err = port->error();
    return err == QSerialPort::ResourceError || err == QSerialPort::ReadError ||
           err == QSerialPort::PermissionError || err == QSerialPort::DeviceNotFoundError;
}

QByteArray SerialChecker::resync(QSerialPort* port)
{
    QByteArray got = port->readAll();
    QElapsedTimer clock;
    clock.start();
    while (!portBroken(port) && !comStopRequested() && clock.elapsed() < ResyncMaxMs &&
           port->waitForReadyRead(ResyncQuietMs)) {
        got += port->readAll();
    }
    return got;
}

int SerialChecker::finish(int code, const QString& text)
{
    resultCode = code;
    errText = text;
    return code;
}

int SerialChecker::sendCommand(QSerialPort* port, const QByteArray& data, int writeTimeoutMs,
                               int readTimeoutMs)
{
    resultCode = Incomplete;
    staleBuf.clear();
    answerBuf.clear();
    errText.clear();

    if (cancelled()) {
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

    // Unsolicited lines that came in since the last exchange.
    staleBuf = port->readAll();

    if (log != nullptr && logBit(LogPortSend)) {
        log->write("SEND: " + AtAnswer::masked(data));
    }

    const qint64 written = port->write(data);
    if (written == -1) {
        return finish(WriteFailed, port->errorString());
    }
    if (written != data.size()) {
        return finish(WriteShort, port->errorString());
    }
    if (!port->waitForBytesWritten(clampTimeout(writeTimeoutMs))) {
        return finish(WriteTimeout, port->errorString());
    }
    waitForFinal(port, clampTimeout(readTimeoutMs));
    if (resultCode == RecvTimeout) {
        // A late answer must not be read as the answer to the next command.
        answerBuf += resync(port);
    }
    return resultCode;
}

void SerialChecker::endOnLine(const QByteArray& prefix, int graceMs)
{
    endPrefix = prefix;
    endGraceMs = graceMs;
}

void SerialChecker::waitForFinal(QSerialPort* port, int readMs)
{
    answerBuf = port->readAll();
    resultCode = checkAnswer(answerBuf);
    QElapsedTimer clock;
    clock.start();
    QElapsedTimer sinceLine;
    while (resultCode == Incomplete) {
        if (!sinceLine.isValid() && !endPrefix.isEmpty()) {
            const QList<QByteArray> got = AtAnswer::lines(answerBuf);
            if (std::any_of(got.cbegin(), got.cend(),
                            [this](const QByteArray& line) { return line.startsWith(endPrefix); })) {
                sinceLine.start();
            }
        }
        if (sinceLine.isValid() && sinceLine.elapsed() >= endGraceMs) {
            finish(LineOnly, QString());
            return;
        }
        if (cancelled()) {
            finish(UserCancel, QStringLiteral("user cancel"));
            return;
        }
        if (clock.elapsed() > readMs) {
            finish(RecvTimeout, QStringLiteral("recv time out"));
            return;
        }
        if (port->waitForReadyRead(WaitSliceMs)) {
            answerBuf += port->readAll();
            resultCode = checkAnswer(answerBuf);
        } else if (portBroken(port)) {
            // Without this the loop would spin on a dead port until the read time-out.
            finish(PortLost, QStringLiteral("port lost"));
            return;
        }
    }
}

int SerialChecker::checkAnswer(const QByteArray& answer)
{
    switch (AtAnswer::finalResult(answer)) {
    case AtAnswer::Final::None:
        break;
    case AtAnswer::Final::Ok:
        return Ok;
    case AtAnswer::Final::Error:
        return Error;
    case AtAnswer::Final::CmeError:
        return CmeError;
    case AtAnswer::Final::CmsError:
        return CmsError;
    case AtAnswer::Final::NotSupported:
        return NotSupported;
    case AtAnswer::Final::NoCarrier:
        return NoCarrier;
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
    // An echoing modem repeats the PIN it was sent.
    if (!staleBuf.isEmpty()) {
        log->write(AtAnswer::masked(AtAnswer::printable(staleBuf)));
    }
    if (!answerBuf.isEmpty()) {
        log->write(AtAnswer::masked(AtAnswer::printable(answerBuf)));
    }
}
