#pragma once

#include <QObject>
#include <QString>

// The operations on the central MySQL database that receives one row per
// complete message in smsserver_in. The connection is a named Qt SQL
// connection that exists from a successful openConn until closeConn; every
// call must come from the one thread that opened it (the forwarder's).
class Mysql5 : public QObject
{
    Q_OBJECT
public:
    Mysql5() = delete;

    // Name under which the connection is registered.
    static QString connectionName();

    // Opens the connection; true when it is open (or was open already). On
    // failure err holds the driver's text and no connection of the name is
    // left behind.
    static bool openConn(const QString& host, const int& port, const QString& user, const QString& pwd,
                         const QString& dbName, QString& err);
    // True when a connection existed and was closed and removed.
    static bool closeConn();
    // True when the server answers a trivial query; otherwise err says why.
    static bool testConn(QString& err);
    // Inserts one message; true when exactly one row went in.
    static bool insertSms(const QString& userPhone, const QString& gatewayId, const QString& originator,
                          const QString& messageDate, const QString& receiveDate, const QString& text,
                          QString& err);

    // Upper bound, in seconds, of each wait on the server: connecting,
    // reading an answer, writing a request. A server that stops answering
    // thus blocks the caller for about this long, not for minutes.
    static int waitSeconds();
    // Takes effect at the next open; values below 1 are raised to 1.
    static void setWaitSeconds(int seconds);
};
