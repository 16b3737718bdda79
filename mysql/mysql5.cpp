#include "mysql/mysql5.h"

#include "core/clock.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>

#include <atomic>
#include <cerrno>
#include <vector>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <poll.h>
#include <sys/socket.h>
#endif

#include <errmsg.h>
#include <mysql.h>

namespace {

const char dateFormat[] = "%Y-%m-%d %H:%i:%s";
const char insertHead[] =
    "INSERT INTO smsserver_in "
    "(process,type,encoding,message_date,receive_date,originator,text,gateway_id,userphone) "
    "VALUES";
const char insertValues[] = "(?,?,?,STR_TO_DATE(?,?),STR_TO_DATE(?,?),?,?,?,?)";
const int valuesPerRow = 11;
// Ids searched per statement when looking for rows whose insert was not
// answered: a slice of the primary key that the server reads in well under
// the statement limit.
const qint64 searchSlice = 50000;

std::atomic<int> waitLimit{10};

// The errors a server gives about the data of the row itself: the row will
// never go in as it is, whatever the link or the table do meanwhile. Every
// other error (the link, time-outs, locks, deadlocks, a missing table or
// column, rights, a read-only or stopping server, or no number at all) is a
// fault the message waits out.
const struct
{
    unsigned int code;
    const char* name;
} refusedErrors[] = {
    {1048, "ER_BAD_NULL_ERROR: column cannot be null"},
    {1062, "ER_DUP_ENTRY: a unique key of the table already holds the value"},
    {1216, "ER_NO_REFERENCED_ROW: foreign key"},
    {1264, "ER_WARN_DATA_OUT_OF_RANGE: out of range value"},
    {1265, "WARN_DATA_TRUNCATED: data truncated"},
    {1292, "ER_TRUNCATED_WRONG_VALUE: incorrect or truncated value"},
    {1300, "ER_INVALID_CHARACTER_STRING: invalid character string"},
    {1366, "ER_TRUNCATED_WRONG_VALUE_FOR_FIELD: incorrect string value"},
    {1367, "ER_ILLEGAL_VALUE_FOR_TYPE: illegal value"},
    {1406, "ER_DATA_TOO_LONG: data too long for the column"},
    {1411, "ER_WRONG_VALUE_FOR_TYPE: incorrect value for a function (STR_TO_DATE)"},
    {1452, "ER_NO_REFERENCED_ROW_2: foreign key"},
    {1586, "ER_DUP_ENTRY_WITH_KEY_NAME: duplicate entry"},
    {1644, "ER_SIGNAL_EXCEPTION: a trigger of the table refused the row"},
    {3819, "ER_CHECK_CONSTRAINT_VIOLATED (MySQL): check constraint"},
    {4025, "ER_CONSTRAINT_FAILED (MariaDB): check constraint"},
};

// Errors that say the table cannot be searched by its id: no right to read
// it or the column, no such column or table. Lasting, unlike a fault of the link.
bool tableCannotTell(unsigned int code)
{
    return code == 1142 || code == 1143 || code == 1054 || code == 1146;
}

// An error number the client library made itself: the server's answer did
// not arrive (lost, timed out, cancelled), as opposed to an error the server
// answered with.
bool clientError(unsigned int code)
{
    return code >= CR_MIN_ERROR && code <= CR_MAX_ERROR;
}

// --- the one connection ---------------------------------------------------

struct Link
{
    MYSQL* mysql = nullptr;
    LinkInfo info;
    // Whether smsserver_in is in an engine with transactions: only there does
    // a failed multi-row insert leave no row behind.
    bool atomicTable = false;
    // The table's auto-increment column, quoted; empty when it has none.
    QByteArray idColumn;
    // The insert of stmtRows rows, prepared once and used again.
    MYSQL_STMT* stmt = nullptr;
    int stmtRows = 0;
    // When the last insert statement went out (AppClock ms).
    qint64 lastSendMs = 0;
};

// Each thread has its own: the forwarder's is the program's link, and a
// forwarder left behind at a stop never touches its successor's.
thread_local Link link;

// --- ending waits from another thread ------------------------------------

std::atomic<bool> cancelled{false};
// The socket of the connection while it exists, so that the stop can shut it
// under a library call that waits on it. Set and cleared by the forwarder's
// thread only, read by the stop under the mutex.
QMutex socketMutex;
my_socket linkSocket{};
bool socketKnown = false;

void noteSocket(my_socket socket)
{
    QMutexLocker lock(&socketMutex);
    linkSocket = socket;
    socketKnown = true;
}

void forgetSocket()
{
    QMutexLocker lock(&socketMutex);
    socketKnown = false;
}

void shutSocket(my_socket socket)
{
#ifdef _WIN32
    ::shutdown(socket, SD_BOTH);
#else
    ::shutdown(socket, SHUT_RDWR);
#endif
}

// The library's wait for its socket to become ready, given the time-out in
// ms: the same poll as its own, in slices, so that a stop ends it at once
// rather than after the time-out. >0 ready, 0 timed out, <0 failed.
int waitOnSocket(my_socket socket, my_bool forRead, int timeoutMs)
{
    noteSocket(socket);
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (cancelled.load()) {
            errno = ECONNABORTED;
            return -1;
        }
        int slice = 100;
        if (timeoutMs > 0) {
            const qint64 left = timeoutMs - clock.elapsed();
            if (left <= 0) {
                errno = ETIMEDOUT;
                return 0;
            }
            slice = int(qMin<qint64>(left, slice));
        }
#ifdef _WIN32
        WSAPOLLFD ready{};
        ready.fd = socket;
        ready.events = forRead ? POLLRDNORM : POLLWRNORM;
        const int rc = WSAPoll(&ready, 1, slice);
#else
        pollfd ready{};
        ready.fd = socket;
        ready.events = forRead ? POLLIN : POLLOUT;
        const int rc = poll(&ready, 1, slice);
        if (rc < 0 && errno == EINTR) {
            continue;
        }
#endif
        if (rc != 0) {
            return rc;
        }
    }
}

// --- statements -------------------------------------------------------------

QString errorText(MYSQL* mysql)
{
    const unsigned int code = mysql_errno(mysql);
    const QString text = QString::fromUtf8(mysql_error(mysql));
    return code == 0 ? text : QStringLiteral("%1 (error %2)").arg(text).arg(code);
}

QString errorText(MYSQL_STMT* stmt)
{
    const unsigned int code = mysql_stmt_errno(stmt);
    const QString text = QString::fromUtf8(mysql_stmt_error(stmt));
    return code == 0 ? text : QStringLiteral("%1 (error %2)").arg(text).arg(code);
}

bool run(const QByteArray& sql)
{
    if (mysql_real_query(link.mysql, sql.constData(), static_cast<unsigned long>(sql.size())) != 0) {
        return false;
    }
    // A statement that returns rows must have them read before the next one.
    MYSQL_RES* rows = mysql_store_result(link.mysql);
    if (rows != nullptr) {
        mysql_free_result(rows);
    }
    return mysql_errno(link.mysql) == 0;
}

// The rows of a query as text; false when it failed (the error stays on the link).
bool select(const QByteArray& sql, QList<QList<QByteArray>>& rows)
{
    rows.clear();
    if (mysql_real_query(link.mysql, sql.constData(), static_cast<unsigned long>(sql.size())) != 0) {
        return false;
    }
    MYSQL_RES* result = mysql_store_result(link.mysql);
    if (result == nullptr) {
        return mysql_errno(link.mysql) == 0;
    }
    const unsigned int columns = mysql_num_fields(result);
    while (MYSQL_ROW row = mysql_fetch_row(result)) {
        const unsigned long* lengths = mysql_fetch_lengths(result);
        QList<QByteArray> values;
        for (unsigned int i = 0; i < columns; ++i) {
            // NULL reads as an empty value, as an empty date is sent.
            values.append(row[i] == nullptr ? QByteArray("") : QByteArray(row[i], int(lengths[i])));
        }
        rows.append(values);
    }
    mysql_free_result(result);
    return true;
}

QByteArray quoted(const QByteArray& value)
{
    QByteArray out(value.size() * 2 + 1, '\0');
    const unsigned long length = mysql_real_escape_string(link.mysql, out.data(), value.constData(),
                                                          static_cast<unsigned long>(value.size()));
    out.truncate(int(length));
    return '\'' + out + '\'';
}

// Sets up a fresh session: four-byte UTF-8, lock and statement limits below
// the client's read time-out, strict values; then learns what the table is:
// whether its batches are atomic, its id column and the width of gateway_id.
void prepareSession()
{
    // A server too old for utf8mb4 keeps the character set of the
    // handshake; the link itself still works.
    run("SET NAMES utf8mb4");
    const QByteArray lock = QByteArray::number(Mysql5::lockWaitSeconds());
    run("SET SESSION lock_wait_timeout=" + lock);
    run("SET SESSION innodb_lock_wait_timeout=" + lock);
    // MariaDB only; MySQL has no limit for an insert.
    run("SET SESSION max_statement_time=" + QByteArray::number(Mysql5::statementSeconds()));
    // A server in a lax mode cuts a text too long for its column and reports
    // success; strict, it refuses the row, which is then marked failed and
    // can be put back once the column is widened.
    run("SET SESSION sql_mode = IF(@@SESSION.sql_mode = '', 'STRICT_ALL_TABLES', "
        "CONCAT(@@SESSION.sql_mode, ',STRICT_ALL_TABLES'))");

    QList<QList<QByteArray>> rows;
    link.atomicTable =
        select("SELECT e.TRANSACTIONS FROM information_schema.TABLES t JOIN information_schema.ENGINES e"
               " ON e.ENGINE = t.ENGINE WHERE t.TABLE_SCHEMA = DATABASE() AND t.TABLE_NAME = 'smsserver_in'",
               rows) &&
        !rows.isEmpty() && rows.first().first() == "YES";
    link.idColumn.clear();
    link.info.gatewayWidth = 64;
    if (select(
            "SELECT COLUMN_NAME, IFNULL(CHARACTER_MAXIMUM_LENGTH, 0), EXTRA FROM information_schema.COLUMNS"
            " WHERE TABLE_SCHEMA = DATABASE() AND TABLE_NAME = 'smsserver_in'",
            rows)) {
        for (const QList<QByteArray>& column : qAsConst(rows)) {
            const QByteArray name = column.at(0);
            if (name.compare("gateway_id", Qt::CaseInsensitive) == 0) {
                const qint64 width = column.at(1).toLongLong();
                link.info.gatewayWidth = width > 0 ? int(qMin<qint64>(width, 65535)) : 64;
            }
            if (column.at(2).toLower().contains("auto_increment")) {
                link.idColumn = '`' + QByteArray(name).replace('`', "``") + '`';
            }
        }
    }
}

void dropStatement()
{
    if (link.stmt != nullptr) {
        mysql_stmt_close(link.stmt);
        link.stmt = nullptr;
        link.stmtRows = 0;
    }
}

// The prepared insert of n rows; null when the server refused to prepare it
// (err and code say why).
MYSQL_STMT* insertStatement(int n, QString& err, unsigned int& code)
{
    if (link.stmt != nullptr && link.stmtRows == n) {
        return link.stmt;
    }
    dropStatement();
    QByteArray sql = insertHead;
    for (int i = 0; i < n; ++i) {
        sql += (i == 0 ? "" : ",") + QByteArray(insertValues);
    }
    MYSQL_STMT* stmt = mysql_stmt_init(link.mysql);
    if (stmt == nullptr) {
        err = errorText(link.mysql);
        code = mysql_errno(link.mysql);
        return nullptr;
    }
    if (mysql_stmt_prepare(stmt, sql.constData(), static_cast<unsigned long>(sql.size())) != 0) {
        err = errorText(stmt);
        code = mysql_stmt_errno(stmt);
        mysql_stmt_close(stmt);
        return nullptr;
    }
    link.stmt = stmt;
    link.stmtRows = n;
    return stmt;
}

// The values of the rows of one insert, kept alive while it runs.
class InsertValues
{
public:
    explicit InsertValues(const QList<SmsRow>& rows)
    {
        const std::size_t count = std::size_t(rows.size()) * valuesPerRow;
        binds.assign(count, MYSQL_BIND{});
        lengths.assign(count, 0);
        texts.reserve(count);
        std::size_t at = 0;
        for (const SmsRow& row : rows) {
            bindNumber(at++);
            bindText(at++, "I");
            bindText(at++, "U");
            bindText(at++, row.messageDate.toUtf8());
            bindText(at++, dateFormat);
            bindText(at++, row.receiveDate.toUtf8());
            bindText(at++, dateFormat);
            bindText(at++, row.originator.toUtf8());
            // The column receives exactly the UTF-8 of the text.
            bindText(at++, row.text.toUtf8());
            bindText(at++, row.gatewayId.toUtf8());
            bindText(at++, row.userPhone.toUtf8());
        }
    }

    MYSQL_BIND* data() { return binds.data(); }

private:
    void bindNumber(std::size_t at)
    {
        binds[at].buffer_type = MYSQL_TYPE_LONG;
        binds[at].buffer = &zero;
    }

    // A null text is still a value, the empty one.
    void bindText(std::size_t at, const QByteArray& value)
    {
        texts.push_back(value.isNull() ? QByteArray("") : value);
        binds[at].buffer_type = MYSQL_TYPE_STRING;
        binds[at].buffer = const_cast<char*>(texts.back().constData());
        lengths[at] = static_cast<unsigned long>(texts.back().size());
        binds[at].buffer_length = lengths[at];
        binds[at].length = &lengths[at];
    }

    int zero = 0;
    std::vector<MYSQL_BIND> binds;
    std::vector<unsigned long> lengths;
    // Reserved up front: the binds point into it.
    std::vector<QByteArray> texts;
};

// One INSERT of all the rows; Inserted, or the fate that the error gives.
RowFate insertMany(const QList<SmsRow>& rows, QString& err)
{
    err.clear();
    if (link.mysql == nullptr) {
        err = QStringLiteral("no link open");
        return RowFate::NotSent;
    }
    unsigned int code = 0;
    MYSQL_STMT* stmt = insertStatement(rows.size(), err, code);
    if (stmt == nullptr) {
        // Nothing was run: whatever the error, nothing went in.
        const RowFate fate = Mysql5::fateOfError(code);
        return fate == RowFate::Refused ? fate : RowFate::NotSent;
    }
    InsertValues values(rows);
    if (mysql_stmt_bind_param(stmt, values.data()) != 0) {
        err = errorText(stmt);
        dropStatement();
        return RowFate::NotSent;
    }
    link.lastSendMs = AppClock::nowMs();
    if (mysql_stmt_execute(stmt) != 0) {
        code = mysql_stmt_errno(stmt);
        err = errorText(stmt);
        dropStatement();
        // The statement went out and its answer did not come back: the
        // server may have run it.
        return clientError(code) ? RowFate::Unknown : Mysql5::fateOfError(code);
    }
    const my_ulonglong affected = mysql_stmt_affected_rows(stmt);
    if (affected != my_ulonglong(rows.size())) {
        // No error, yet not the rows asked for (a trigger of the table?):
        // what is in the table is unknown, so the rows are not sent again.
        err = QStringLiteral("the server reported %1 rows inserted for %2").arg(affected).arg(rows.size());
        return RowFate::Refused;
    }
    return RowFate::Inserted;
}

// How many rows from start go in one statement: up to the batch limit, and
// as many as fit a request well below the smallest max_allowed_packet a
// server is likely to have (1 MB on old MySQL), since a larger request would
// fail as a whole again and again. A long row goes alone.
int chunkSize(const QList<SmsRow>& rows, int start)
{
    const int budget = 512 * 1024;
    int bytes = 0;
    int count = 0;
    while (start + count < rows.size() && count < Mysql5::batchLimit()) {
        const SmsRow& row = rows.at(start + count);
        // UTF-8 takes at most three bytes per UTF-16 unit; a row's other
        // values are short.
        const int rowBytes =
            3 * (row.text.size() + row.originator.size() + row.userPhone.size() + row.gatewayId.size()) + 128;
        if (count > 0 && bytes + rowBytes > budget) {
            break;
        }
        bytes += rowBytes;
        ++count;
    }
    return count;
}

// Inserts one chunk of the rows, whose fates start at offset: in one
// statement where that is safe, row by row where one is refused. False when
// the link or the table failed (err says why); the rest stay NotSent.
bool insertChunk(const QList<SmsRow>& chunk, int offset, QList<RowFate>& fates, QStringList& refusals,
                 QString& err)
{
    if (chunk.size() > 1 && link.atomicTable) {
        const RowFate fate = insertMany(chunk, err);
        if (fate == RowFate::NotSent || fate == RowFate::Unknown) {
            for (int i = 0; i < chunk.size(); ++i) {
                fates[offset + i] = fate;
            }
            return false;
        }
        if (fate == RowFate::Inserted) {
            for (int i = 0; i < chunk.size(); ++i) {
                fates[offset + i] = RowFate::Inserted;
            }
            return true;
        }
        // One of them was refused and none went in: find it row by row.
    }
    for (int i = 0; i < chunk.size(); ++i) {
        const RowFate fate = insertMany({chunk.at(i)}, err);
        fates[offset + i] = fate;
        if (fate == RowFate::NotSent || fate == RowFate::Unknown) {
            return false;
        }
        if (fate == RowFate::Refused && !refusals.contains(err)) {
            refusals.append(err);
        }
    }
    return true;
}

// What a stored row must equal to be one of ours.
QList<QByteArray> rowValues(const SmsRow& row)
{
    const QString values[] = {row.gatewayId,   row.originator, row.messageDate,
                              row.receiveDate, row.text,       row.userPhone};
    QList<QByteArray> bytes;
    for (const QString& value : values) {
        bytes.append(value.isNull() ? QByteArray("") : value.toUtf8());
    }
    return bytes;
}

// Characters as a column counts them: one for a character outside the basic
// plane, which takes two UTF-16 units.
int charCount(const QString& text)
{
    int count = 0;
    for (int i = 0; i < text.size(); ++i) {
        count += text.at(i).isLowSurrogate() && i > 0 && text.at(i - 1).isHighSurrogate() ? 0 : 1;
    }
    return count;
}

QString firstChars(const QString& text, int n)
{
    int end = 0;
    for (int taken = 0; taken < n && end < text.size(); ++taken) {
        end += text.at(end).isHighSurrogate() && end + 1 < text.size() && text.at(end + 1).isLowSurrogate()
                   ? 2
                   : 1;
    }
    return text.left(end);
}

QString lastChars(const QString& text, int n)
{
    int start = text.size();
    for (int taken = 0; taken < n && start > 0; ++taken) {
        start -=
            text.at(start - 1).isLowSurrogate() && start > 1 && text.at(start - 2).isHighSurrogate() ? 2 : 1;
    }
    return text.mid(start);
}

// TLS files that cannot be used, named before the client library meets them.
QString tlsProblem(const LinkSettings& settings)
{
    const QString files[] = {settings.sslCa, settings.sslCert, settings.sslKey};
    for (const QString& file : files) {
        if (!file.isEmpty() && !QFileInfo(file).isReadable()) {
            return QStringLiteral("TLS file cannot be read: %1").arg(file);
        }
    }
    if (settings.sslCert.isEmpty() != settings.sslKey.isEmpty()) {
        return QStringLiteral("TLS client certificate and key go together: set both or neither");
    }
    return QString();
}

void setTimeouts(MYSQL* mysql)
{
    const unsigned int connect = static_cast<unsigned int>(Mysql5::connectSeconds());
    const unsigned int wait = static_cast<unsigned int>(Mysql5::waitSeconds());
    mysql_options(mysql, MYSQL_OPT_CONNECT_TIMEOUT, &connect);
    mysql_options(mysql, MYSQL_OPT_READ_TIMEOUT, &wait);
    mysql_options(mysql, MYSQL_OPT_WRITE_TIMEOUT, &wait);
}

void setTls(MYSQL* mysql, const LinkSettings& settings)
{
    const my_bool yes = 1;
    mysql_options(mysql, MYSQL_OPT_SSL_ENFORCE, &yes);
    const QByteArray ca = QFile::encodeName(settings.sslCa);
    const QByteArray cert = QFile::encodeName(settings.sslCert);
    const QByteArray key = QFile::encodeName(settings.sslKey);
    if (!ca.isEmpty()) {
        mysql_options(mysql, MYSQL_OPT_SSL_CA, ca.constData());
        // The certificate must name the host the link was opened to, not
        // merely come from the CA.
        mysql_options(mysql, MYSQL_OPT_SSL_VERIFY_SERVER_CERT, &yes);
    }
    if (!cert.isEmpty()) {
        mysql_options(mysql, MYSQL_OPT_SSL_CERT, cert.constData());
        mysql_options(mysql, MYSQL_OPT_SSL_KEY, key.constData());
    }
}

} // namespace

// --- the link ------------------------------------------------------------

int Mysql5::waitSeconds()
{
    return waitLimit.load();
}

void Mysql5::setWaitSeconds(int seconds)
{
    waitLimit.store(qMax(1, seconds));
}

int Mysql5::connectSeconds()
{
    return qMax(1, waitLimit.load() * 3 / 10);
}

int Mysql5::lockWaitSeconds()
{
    return qMax(1, waitLimit.load() / 2);
}

int Mysql5::statementSeconds()
{
    return qMax(1, waitLimit.load() * 3 / 4);
}

RowFate Mysql5::fateOfError(unsigned int code)
{
    for (const auto& refused : refusedErrors) {
        if (refused.code == code) {
            return RowFate::Refused;
        }
    }
    return RowFate::NotSent;
}

void Mysql5::cancel()
{
    cancelled.store(true);
    QMutexLocker lock(&socketMutex);
    if (socketKnown) {
        shutSocket(linkSocket);
    }
}

void Mysql5::resetCancel()
{
    cancelled.store(false);
}

bool Mysql5::openConn(const QString& host, const int& port, const QString& user, const QString& pwd,
                      const QString& dbName, QString& err)
{
    LinkSettings settings;
    settings.host = host;
    settings.port = port;
    settings.user = user;
    settings.pwd = pwd;
    settings.dbName = dbName;
    return openConn(settings, err);
}

bool Mysql5::openConn(const LinkSettings& settings, QString& err)
{
    return openConn(settings, ServerAddress{settings.host, settings.port}, err);
}

bool Mysql5::openConn(const LinkSettings& settings, const ServerAddress& server, QString& err)
{
    err.clear();
    if (link.mysql != nullptr) {
        return true;
    }
    if (settings.wantsTls()) {
        err = tlsProblem(settings);
        if (!err.isEmpty()) {
            return false;
        }
    }
    if (cancelled.load()) {
        err = QStringLiteral("the program is stopping");
        return false;
    }
    MYSQL* mysql = mysql_init(nullptr);
    if (mysql == nullptr) {
        err = QStringLiteral("out of memory for the MySQL client");
        return false;
    }
    setTimeouts(mysql);
    mysql_options(mysql, MYSQL_SET_CHARSET_NAME, "utf8mb4");
    const my_bool no = 0;
    mysql_options(mysql, MYSQL_OPT_RECONNECT, &no);
    const unsigned int noLocalFiles = 0;
    mysql_options(mysql, MYSQL_OPT_LOCAL_INFILE, &noLocalFiles);
    mysql_optionsv(mysql, MARIADB_OPT_IO_WAIT, &waitOnSocket);
    if (settings.wantsTls()) {
        setTls(mysql, settings);
    }
    const QByteArray host = server.host.toUtf8();
    const QByteArray user = settings.user.toUtf8();
    const QByteArray pwd = settings.pwd.toUtf8();
    const QByteArray db = settings.dbName.toUtf8();
    const bool ok = mysql_real_connect(mysql, host.constData(), user.constData(), pwd.constData(),
                                       db.isEmpty() ? nullptr : db.constData(),
                                       static_cast<unsigned int>(server.port), nullptr, 0) != nullptr;
    forgetSocket();
    if (!ok) {
        err = errorText(mysql);
        mysql_close(mysql);
        return false;
    }
    noteSocket(mysql_get_socket(mysql));
    link.mysql = mysql;
    link.info = LinkInfo();
    link.info.server = server.text();
    const char* cipher = mysql_get_ssl_cipher(mysql);
    link.info.cipher = cipher == nullptr ? QString() : QString::fromLatin1(cipher);
    // Asked for TLS, the link is encrypted or not used at all.
    if (settings.wantsTls() && link.info.cipher.isEmpty()) {
        closeConn();
        err = QStringLiteral("TLS was set but the link is not encrypted");
        return false;
    }
    prepareSession();
    if (!readIdFloor(link.info.idFloor, err)) {
        closeConn();
        return false;
    }
    return true;
}

bool Mysql5::closeConn()
{
    if (link.mysql == nullptr) {
        return false;
    }
    dropStatement();
    forgetSocket();
    mysql_close(link.mysql);
    link = Link();
    return true;
}

bool Mysql5::testConn(QString& err)
{
    err.clear();
    if (link.mysql == nullptr) {
        err = QStringLiteral("no link open");
        return false;
    }
    if (mysql_ping(link.mysql) != 0) {
        err = errorText(link.mysql);
        return false;
    }
    return true;
}

LinkInfo Mysql5::linkInfo()
{
    return link.info;
}

QString Mysql5::sslCipher()
{
    return link.info.cipher;
}

bool Mysql5::readIdFloor(qint64& floor, QString& err)
{
    floor = -1;
    if (link.mysql == nullptr) {
        err = QStringLiteral("no link open");
        return false;
    }
    if (link.idColumn.isEmpty()) {
        return true;
    }
    QList<QList<QByteArray>> rows;
    if (!select("SELECT IFNULL(MAX(" + link.idColumn + "), 0) FROM smsserver_in", rows)) {
        if (tableCannotTell(mysql_errno(link.mysql))) {
            return true;
        }
        err = errorText(link.mysql);
        return false;
    }
    bool isNumber = false;
    const qint64 value = rows.value(0).value(0).toLongLong(&isNumber);
    floor = isNumber ? value : -1;
    return true;
}

bool Mysql5::insertSms(const QString& userPhone, const QString& gatewayId, const QString& originator,
                       const QString& messageDate, const QString& receiveDate, const QString& text,
                       QString& err)
{
    SmsRow row;
    row.userPhone = userPhone;
    row.gatewayId = gatewayId;
    row.originator = originator;
    row.messageDate = messageDate;
    row.receiveDate = receiveDate;
    row.text = text;
    return insertRow(row, err) == RowFate::Inserted;
}

qint64 Mysql5::lastSentMs()
{
    return link.lastSendMs;
}

RowFate Mysql5::insertRow(const SmsRow& row, QString& err)
{
    return insertMany({row}, err);
}

bool Mysql5::insertBatch(const QList<SmsRow>& rows, QList<RowFate>& fates, QString& err)
{
    err.clear();
    fates.clear();
    for (int i = 0; i < rows.size(); ++i) {
        fates.append(RowFate::NotSent);
    }
    if (link.mysql == nullptr) {
        err = QStringLiteral("no link open");
        return rows.isEmpty();
    }
    QStringList refusals;
    int size = 0;
    for (int start = 0; start < rows.size(); start += size) {
        size = chunkSize(rows, start);
        if (!insertChunk(rows.mid(start, size), start, fates, refusals, err)) {
            return false;
        }
    }
    err = refusals.join(QStringLiteral("; "));
    return refusals.isEmpty();
}

Mysql5::Check Mysql5::findRows(const QList<SmsRow>& rows, qint64 bound, QList<bool>& found, QString& err)
{
    err.clear();
    found.clear();
    for (int i = 0; i < rows.size(); ++i) {
        found.append(false);
    }
    if (link.mysql == nullptr) {
        err = QStringLiteral("no link open");
        return Check::Failed;
    }
    if (bound < 0 || link.idColumn.isEmpty()) {
        err = QStringLiteral("smsserver_in cannot be searched by an auto-increment id");
        return Check::Impossible;
    }
    QList<QList<QByteArray>> wanted;
    QList<QByteArray> gateways;
    for (const SmsRow& row : rows) {
        wanted.append(rowValues(row));
        const QByteArray gateway = quoted(wanted.last().first());
        if (!gateways.contains(gateway)) {
            gateways.append(gateway);
        }
    }
    // A Galera node reads once it has applied every write committed in the
    // cluster before the read: a row inserted through a node that died is
    // seen on the node that answers now. Other servers have no such setting.
    run("SET SESSION wsrep_sync_wait = 1");
    QList<QList<QByteArray>> result;
    const bool topRead = select("SELECT IFNULL(MAX(" + link.idColumn + "), 0) FROM smsserver_in", result);
    const qint64 top = topRead ? result.value(0).value(0).toLongLong() : 0;
    int left = rows.size();
    bool ok = topRead;
    for (qint64 from = bound; ok && left > 0 && from < top; from += searchSlice) {
        const QByteArray sql = "SELECT gateway_id, originator, DATE_FORMAT(message_date, '" +
                               QByteArray(dateFormat) + "'), DATE_FORMAT(receive_date, '" +
                               QByteArray(dateFormat) + "'), text, userphone FROM smsserver_in WHERE " +
                               link.idColumn + " > " + QByteArray::number(from) + " AND " + link.idColumn +
                               " <= " + QByteArray::number(qMin(top, from + searchSlice)) +
                               " AND gateway_id IN (" + gateways.join(',') + ")";
        ok = select(sql, result);
        for (const QList<QByteArray>& stored : qAsConst(result)) {
            for (int i = 0; i < wanted.size(); ++i) {
                if (!found.at(i) && wanted.at(i) == stored) {
                    found[i] = true;
                    --left;
                    break;
                }
            }
        }
    }
    const unsigned int code = mysql_errno(link.mysql);
    if (!ok) {
        err = errorText(link.mysql);
    }
    run("SET SESSION wsrep_sync_wait = DEFAULT");
    if (!ok) {
        for (int i = 0; i < found.size(); ++i) {
            found[i] = false;
        }
        return tableCannotTell(code) ? Check::Impossible : Check::Failed;
    }
    return Check::Done;
}

QString Mysql5::gatewayId(const QString& gatewayName, const QString& portName, int width)
{
    width = qMax(2, width);
    const QString prefix =
        gatewayName.isEmpty() ? QString() : firstChars(gatewayName, width / 2 - 1) + QLatin1Char(':');
    return prefix + lastChars(portName, width - charCount(prefix));
}
