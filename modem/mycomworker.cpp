#include "modem/mycomworker.h"

#include "modem/serialchecker.h"

#include <QSerialPort>

MyComWorker::MyComWorker(QObject* parent) : QObject(parent)
{
    qRegisterMetaType<ModemHealth>();
    connect(&comThread, &MyComThread::threadOkMsg, this, &MyComWorker::onThreadOkMsg);
    connect(&comThread, &MyComThread::threadErrMsg, this, &MyComWorker::onThreadErrMsg);
    connect(&comThread, &MyComThread::threadHealth, this, &MyComWorker::onThreadHealth);
}

MyComWorker::~MyComWorker()
{
    // A thread object must never be destroyed while its thread runs.
    comThread.stopThread();
}

bool MyComWorker::setParams(int newId, const QString& newPortName, int newSpeed, int newBaudRate,
                            int newFlowControl)
{
    id = newId;
    comPort = newPortName;
    speed = newSpeed;
    baudRate = newBaudRate;
    flowControl = newFlowControl;
    return true;
}

bool MyComWorker::startWork()
{
    if (started) {
        return true;
    }
    if (comPort.isEmpty()) {
        return false;
    }
    // A port held by another program fails here, before any thread runs.
    QSerialPort trial;
    SerialChecker::setUpPort(trial, comPort, baudRate, false);
    if (!trial.open(QIODevice::ReadWrite)) {
        emit workErrMsg(id, ErrPortUnusable);
        return false;
    }
    trial.close();
    started = true;
    comThread.setSimPin(simPin);
    comThread.startThread(id, comPort, speed, baudRate, flowControl);
    return true;
}

bool MyComWorker::stopWork()
{
    started = false;
    comThread.stopThread();
    return true;
}

QString MyComWorker::deviceNo() const
{
    return comThread.deviceNo();
}

QString MyComWorker::simNo() const
{
    QString value = comThread.simNo();
    const int colon = value.lastIndexOf(QLatin1Char(':'));
    if (colon >= 0) {
        value = value.mid(colon + 1).trimmed();
    }
    return value;
}

void MyComWorker::answerMessage(StoreAnswer answer)
{
    comThread.deliverAnswer(relayedMessages, answer);
}

void MyComWorker::setAnswerTimeoutMs(int ms)
{
    comThread.setAnswerTimeoutMs(ms);
}

void MyComWorker::setHandshakeTimeoutMs(int ms)
{
    comThread.setHandshakeTimeoutMs(ms);
}

void MyComWorker::setListingPeriodsMs(int untrusted, int trusted)
{
    comThread.setListingPeriodsMs(untrusted, trusted);
}

void MyComWorker::setHealthPeriodMs(int ms)
{
    comThread.setHealthPeriodMs(ms);
}

void MyComWorker::setSimPin(const QString& pin)
{
    simPin = pin;
}

void MyComWorker::onThreadOkMsg(int nMsg, QByteArray pduBuf)
{
    if (nMsg == OkMessage) {
        ++relayedMessages;
    }
    emit workOkMsg(id, nMsg, pduBuf);
}

void MyComWorker::onThreadErrMsg(int nMsg)
{
    emit workErrMsg(id, nMsg);
    if (nMsg >= ErrSetUp) {
        comThread.stopThread();
    }
}

void MyComWorker::onThreadHealth(ModemHealth health)
{
    emit workHealth(id, health);
}
