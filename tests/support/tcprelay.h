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
// server that went away), or pass a request on and lose its answer (a server
// or network that died after the commit). With no upstream port it accepts
// connections and never says a word.
class TcpRelay : public QObject
{
    Q_OBJECT
public:
    // Listens on the loopback address given (another 127.x.y.z reaches the
    // same server by another name).
    explicit TcpRelay(quint16 upstreamPort, const QString& address = QStringLiteral("127.0.0.1"));
    ~TcpRelay() override;

    // The port the relay listens on; 0 when it could not listen.
    quint16 port() const { return listenPort.load(); }
    void freeze()
    {
        QMetaObject::invokeMethod(
            this, [this] { frozen = true; }, Qt::BlockingQueuedConnection);
    }
    void drop() { QMetaObject::invokeMethod(this, &TcpRelay::doDrop, Qt::BlockingQueuedConnection); }
    // The next request holding marker reaches the server; its answer is
    // thrown away and every connection dropped (the relay keeps listening),
    // or with hold the relay freezes on it.
    void dropAnswerTo(const QByteArray& marker, bool hold = false)
    {
        QMetaObject::invokeMethod(
            this, [this, marker, hold] { answerMarker = marker, holdAnswer = hold; },
            Qt::BlockingQueuedConnection);
    }

private:
    void listen();
    void accept();
    void doDrop();
    void abortAll();
    void pipe(QTcpSocket* from, QTcpSocket* to);

    QThread worker;
    quint16 upstreamPort;
    QString address;
    QByteArray answerMarker;
    bool holdAnswer = false;
    QTcpSocket* answerLost = nullptr;
    std::atomic<quint16> listenPort{0};
    QTcpServer* server = nullptr;
    bool frozen = false;
};
