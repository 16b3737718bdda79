#pragma once

#include "mysql/linksettings.h"
#include "mysql/smsrow.h"

#include <QList>
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
    // failure err holds the reason and no connection of the name is left
    // behind. With TLS settings the link is either encrypted or not opened.
    static bool openConn(const LinkSettings& link, QString& err);
    static bool openConn(const QString& host, const int& port, const QString& user, const QString& pwd,
                         const QString& dbName, QString& err);
    // True when a connection existed and was closed and removed.
    static bool closeConn();
    // True when the server answers a trivial query; otherwise err says why.
    static bool testConn(QString& err);
    // The cipher of the open link; empty when it is not encrypted.
    static QString sslCipher();

    // Inserts one message; true when exactly one row went in.
    static bool insertSms(const QString& userPhone, const QString& gatewayId, const QString& originator,
                          const QString& messageDate, const QString& receiveDate, const QString& text,
                          QString& err);
    // Inserts one message and says what became of it.
    static RowFate insertRow(const SmsRow& row, QString& err);
    // Inserts the rows, up to batchLimit() in one statement, and gives the
    // fate of each in fates (same order). A row the server refuses for its
    // own data costs neither the others nor a second copy of any. At the
    // first failure of the link or the table the rest are NotSent. True when
    // every row went in; otherwise err says why.
    static bool insertBatch(const QList<SmsRow>& rows, QList<RowFate>& fates, QString& err);
    static int batchLimit() { return 100; }

    // The fate of a row whose insert failed with the server's error number
    // (QSqlError::nativeErrorCode): Refused for errors about the row's own
    // data, NotSent for everything else.
    static RowFate fateOfError(const QString& nativeCode);

    // Upper bound, in seconds, of each wait on the server: connecting,
    // reading an answer, writing a request. A server that stops answering
    // thus blocks the caller for about this long, not for minutes. The
    // session's lock and statement limits are set below it, so that the
    // server ends a stalled insert with a definite error first.
    static int waitSeconds();
    // Takes effect at the next open; values below 1 are raised to 1.
    static void setWaitSeconds(int seconds);
    // The session's lock wait and statement time limits, in seconds.
    static int lockWaitSeconds();
    static int statementSeconds();
};
