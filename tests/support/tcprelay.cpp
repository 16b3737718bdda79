#include "support/tcprelay.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

TcpRelay::TcpRelay(quint16 upstream, const QString& listenAddress)
    : upstreamPort(upstream), address(listenAddress)
{
    moveToThread(&worker);
    worker.start();
    QMetaObject::invokeMethod(this, &TcpRelay::listen, Qt::BlockingQueuedConnection);
}

TcpRelay::~TcpRelay()
{
    drop();
    worker.quit();
    worker.wait();
}

void TcpRelay::listen()
{
    server = new QTcpServer(this);
    if (server->listen(QHostAddress(address), 0)) {
        listenPort = server->serverPort();
    }
    connect(server, &QTcpServer::newConnection, this, &TcpRelay::accept);
}

void TcpRelay::accept()
{
    // A silent relay leaves the connections in the listen queue: the client's
    // connect succeeds and then nothing ever arrives.
    if (upstreamPort == 0) {
        return;
    }
    while (QTcpSocket* client = server->nextPendingConnection()) {
        client->setParent(this);
        auto* upstream = new QTcpSocket(this);
        pipe(client, upstream);
        pipe(upstream, client);
        upstream->connectToHost(QHostAddress::LocalHost, upstreamPort);
    }
}

void TcpRelay::pipe(QTcpSocket* from, QTcpSocket* to)
{
    connect(from, &QTcpSocket::readyRead, this, [this, from, to] {
        if (frozen) {
            return;
        }
        const QByteArray data = from->readAll();
        if (from == answerLost) {
            frozen = holdAnswer;
            if (!holdAnswer) {
                // Not from inside the socket's own signal.
                QMetaObject::invokeMethod(this, &TcpRelay::abortAll, Qt::QueuedConnection);
            }
            return;
        }
        if (!answerMarker.isEmpty() && data.contains(answerMarker)) {
            answerMarker.clear();
            answerLost = to;
        }
        to->write(data);
    });
    connect(from, &QTcpSocket::disconnected, this, [this, to] {
        if (!frozen) {
            to->disconnectFromHost();
        }
    });
}

void TcpRelay::doDrop()
{
    if (server == nullptr) {
        return;
    }
    delete server;
    server = nullptr;
    abortAll();
}

void TcpRelay::abortAll()
{
    answerLost = nullptr;
    // Abort every side first: an abort tells the partner to disconnect, so
    // none may be gone yet.
    const QList<QTcpSocket*> sockets = findChildren<QTcpSocket*>();
    for (QTcpSocket* socket : sockets) {
        socket->abort();
    }
    qDeleteAll(sockets);
}
