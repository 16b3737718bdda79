#pragma once

#include "mysql/linksettings.h"
#include "mysql/serveraddress.h"
#include "mysql/smsrow.h"

#include <QList>
#include <QObject>
#include <QString>

// The operations on the central MySQL database that receives one row per
// complete message in smsserver_in, spoken through the MariaDB client
// library (it talks to MySQL and MariaDB servers alike). A thread has one
// connection, from a successful openConn until closeConn, which only it uses:
// the forwarder's thread holds the program's link.
class Mysql5 : public QObject
{
    Q_OBJECT
public:
    Mysql5() = delete;

    // Opens the connection to one server; true when it is open (or was open
    // already). On failure err holds the reason and nothing is left open.
    // With TLS settings the link is encrypted, and with a CA the server's
    // certificate must chain to it and name the host it was reached by, or
    // the link is not opened.
    static bool openConn(const LinkSettings& link, const ServerAddress& server, QString& err);
    // The same, link.host taken as one server at link.port.
    static bool openConn(const LinkSettings& link, QString& err);
    static bool openConn(const QString& host, const int& port, const QString& user, const QString& pwd,
                         const QString& dbName, QString& err);
    // True when a connection was open and is closed now.
    static bool closeConn();
    // True when the server answers; otherwise err says why.
    static bool testConn(QString& err);
    // What the open link is and what it learned of the table at the open;
    // empty values when no link is open.
    static LinkInfo linkInfo();
    // The cipher of the open link; empty when it is not encrypted.
    static QString sslCipher();

    // Reads the table's highest id into floor: every row the link inserts
    // afterwards gets a larger one. floor is -1 when the table cannot tell (no
    // auto-increment column, no right to read it). False when the link
    // failed (err says why).
    static bool readIdFloor(qint64& floor, QString& err);

    // Inserts one message; true when exactly one row went in.
    static bool insertSms(const QString& userPhone, const QString& gatewayId, const QString& originator,
                          const QString& messageDate, const QString& receiveDate, const QString& text,
                          QString& err);
    // Inserts one message and says what became of it.
    static RowFate insertRow(const SmsRow& row, QString& err);
    // Inserts the rows, up to batchLimit() in one statement, and gives the
    // fate of each in fates (same order). A row the server refuses for its
    // own data costs neither the others nor a second copy of any. At the
    // first failure of the link or the table the rest are NotSent; a
    // statement whose answer never came is Unknown. True when every row went
    // in; otherwise err says why.
    static bool insertBatch(const QList<SmsRow>& rows, QList<RowFate>& fates, QString& err);
    static int batchLimit() { return 100; }
    // When the last insert statement of the open link went out (AppClock ms).
    static qint64 lastSentMs();

    enum class Check
    {
        Done,       // found says which rows the table holds
        Impossible, // the table cannot be searched (no id bound, no auto-increment column, no right)
        Failed      // the link or the server failed: try again later
    };
    // Which of the rows smsserver_in holds among its rows with an id above
    // bound. A row matches a stored row on all the values it carries, each
    // stored row matching one row at most, so that rows of other hosts and
    // repeated messages are told apart. The search runs on the server's view
    // once every write committed before it is applied (a Galera node waits
    // for the cluster), in slices of ids so that no statement runs long.
    static Check findRows(const QList<SmsRow>& rows, qint64 bound, QList<bool>& found, QString& err);

    // The gateway_id of a message that arrived on portName: "<gatewayName>:<portName>",
    // or the port name alone without a gateway name, in at most width
    // characters. A port name too long keeps its end, the part that tells
    // ports apart; a gateway name longer than half the width is cut.
    static QString gatewayId(const QString& gatewayName, const QString& portName, int width);

    // The fate of a row whose insert failed with the server's error number:
    // Refused for errors about the row's own data, NotSent for everything else.
    static RowFate fateOfError(unsigned int code);

    // Upper bound, in seconds, of each wait on the server for an answer or to
    // send a request. A server that stops answering thus blocks the caller
    // for about this long, not for minutes. The session's lock and statement
    // limits are set below it, so that the server ends a stalled insert with
    // a definite error first.
    static int waitSeconds();
    // Takes effect at the next open; values below 1 are raised to 1.
    static void setWaitSeconds(int seconds);
    // The bound of connecting to a server, shorter than the wait for an
    // answer so that a frozen server of a list holds the link up briefly.
    static int connectSeconds();
    // The session's lock wait and statement time limits, in seconds.
    static int lockWaitSeconds();
    static int statementSeconds();

    // Ends every wait of the link on its server at once, and makes the next
    // ones fail until resetCancel: the program is stopping. Safe from any
    // thread.
    static void cancel();
    static void resetCancel();
};

Q_DECLARE_METATYPE(Mysql5::Check)
