#pragma once

#include <QObject>
#include <QThread>

#include <atomic>

class QTcpServer;
class QTcpSocket;

// A TCP relay on a loopback port of its own, in front of a real server. It runs
// on its own thread so that it keeps relaying while the test's thread blocks
// in a query. It can stop relaying while holding every connection open (a
// server that no longer answers) or drop everything and stop listening (a
// server that went away). With no upstream port it accepts connections and
// never says a word.
class TcpRelay : public QObject
{
    Q_OBJECT
public:
    explicit TcpRelay(quint16 upstreamPort);
    ~TcpRelay() override;

    // The port the relay listens on; 0 when it could not listen.
    quint16 port() const { return listenPort.load(); }
    void freeze()
    {
        QMetaObject::invokeMethod(
            this, [this] { frozen = true; }, Qt::BlockingQueuedConnection);
    }
    void drop() { QMetaObject::invokeMethod(this, &TcpRelay::doDrop, Qt::BlockingQueuedConnection); }

private:
    void listen();
    void accept();
    void doDrop();
    void pipe(QTcpSocket* from, QTcpSocket* to);

    QThread worker;
    quint16 upstreamPort;
    std::atomic<quint16> listenPort{0};
    QTcpServer* server = nullptr;
    bool frozen = false;
};
