#pragma once

#include "modem/mycomthread.h"

#include <QByteArray>
#include <QObject>
#include <QString>

// What a worker reports: the codes of workOkMsg and workErrMsg.
enum WorkOkCode : int
{
    OkPortOpened = 1,
    OkModemAnswered = 2,
    OkDeviceNo = 4, // the device number in pduBuf
    OkSimNo = 5,    // the SIM number in pduBuf
    OkMessage = 6,  // one message: the PDU in pduBuf
};
enum WorkErrCode : int
{
    ErrPortUnusable = 0, // the port cannot be opened: no thread started
    ErrOpenFailed = 1,   // open failed; retrying (reported when it starts and once a minute)
    ErrNoAnswer = 2,     // the modem does not answer; retrying
    ErrSetUp = 3,        // echo off or identification refused; the thread has ended
    ErrDeviceNo = 4,     // no device number; the thread has ended
    ErrSimNo = 5,        // no SIM number; the thread has ended
};

// The GUI-thread side of one modem port. It owns the port's thread, relays
// the thread's progress and error codes with its id added, and carries the
// controller's verdict on each received message back to the thread.
class MyComWorker : public QObject
{
    Q_OBJECT
public:
    explicit MyComWorker(QObject* parent = nullptr);
    ~MyComWorker() override;

    bool setParams(int id, const QString& portName, int speed, int baudRate, int flowControl);
    bool startWork();
    // Returns when the thread has ended.
    bool stopWork();

    QString portName() const { return comPort; }
    QString deviceNo() const;
    QString simNo() const;
    int checkId() const { return id; }

    // The verdict on the code-6 message just relayed: call it from the slot
    // connected to workOkMsg. Without a Stored or AlreadyStored verdict the
    // message stays on the SIM and is read again in a later cycle.
    void answerMessage(StoreAnswer answer);
    // How long the thread waits for a verdict before it leaves the message
    // on the SIM (10 s unless changed).
    void setAnswerTimeoutMs(int ms);
    // How long each handshake try waits for its answer (3 s unless changed;
    // tests shorten it).
    void setHandshakeTimeoutMs(int ms);
    // How often the whole store is listed: before and after the modem's
    // notifications have been seen to work (10 s and 60 s unless changed).
    void setListingPeriodsMs(int untrusted, int trusted);
    // How often signal, registration, operator, SIM state and storage are
    // read (60 s unless changed); the modem's notices update them at once.
    void setHealthPeriodMs(int ms);
    // The PIN sent, once, to a SIM that asks for it (SIM_PIN); empty: none.
    // Takes effect at the next startWork.
    void setSimPin(const QString& pin);

signals:
    void workOkMsg(int nCheckID, int nMsg, QByteArray pduBuf);
    void workErrMsg(int nCheckID, int nMsg);
    void workHealth(int nCheckID, ModemHealth health);

public slots:
    void onThreadOkMsg(int nMsg, QByteArray pduBuf);
    void onThreadErrMsg(int nMsg);
    void onThreadHealth(ModemHealth health);

private:
    QString comPort;
    int speed = 100;
    int baudRate = 115200;
    int flowControl = 0;
    int id = 1000;
    QString simPin;
    bool started = false;
    MyComThread comThread;
    // Code-6 messages relayed so far; the thread counts the same messages.
    quint64 relayedMessages = 0;
};
