#include "mysql/mysql5.h"

#include "core/databasebindquery.h"

#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <atomic>

namespace {

const char connName[] = "VLSMS_MYSQL_05";
const char dateFormat[] = "%Y-%m-%d %H:%i:%s";
const char insertHead[] =
    "INSERT INTO smsserver_in "
    "(process,type,encoding,message_date,receive_date,originator,text,gateway_id,userphone) "
    "VALUES";
const char insertValues[] = "(?,?,?,STR_TO_DATE(?,?),STR_TO_DATE(?,?),?,?,?,?)";
const int valuesPerRow = 11;

std::atomic<int> waitLimit{10};
// Whether smsserver_in is in an engine with transactions: only there does a
// failed multi-row insert leave no row behind. Set at each open.
std::atomic<bool> tableAtomic{false};

// The errors a server gives about the data of the row itself: the row will
// never go in as it is, whatever the link or the table do meanwhile. Every
// other error (the link, time-outs, locks, deadlocks, a missing table or
// column, rights, a read-only or stopping server, or no number at all) is a
// fault the message waits out.
const struct
{
    int code;
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

// The driver's defaults would let a silent server hold a query for many
// minutes; these bound every connect, read and write.
QString connectOptions(const LinkSettings& link)
{
    const QString seconds = QString::number(waitLimit.load());
    QString options =
        QStringLiteral("MYSQL_OPT_CONNECT_TIMEOUT=%1;MYSQL_OPT_READ_TIMEOUT=%1;MYSQL_OPT_WRITE_TIMEOUT=%1")
            .arg(seconds);
    const QString tls[][2] = {{QStringLiteral("SSL_CA"), link.sslCa},
                              {QStringLiteral("SSL_CERT"), link.sslCert},
                              {QStringLiteral("SSL_KEY"), link.sslKey}};
    for (const auto& option : tls) {
        if (!option[1].isEmpty()) {
            options += QLatin1Char(';') + option[0] + QLatin1Char('=') + option[1];
        }
    }
    return options;
}

// The driver splits its options at ';' and squeezes blanks: a file name
// with either would reach the client library changed, so such a name is
// refused rather than silently not used. Unreadable files are refused too.
QString tlsProblem(const LinkSettings& link)
{
    const QString files[] = {link.sslCa, link.sslCert, link.sslKey};
    for (const QString& file : files) {
        if (file.isEmpty()) {
            continue;
        }
        if (file.contains(QLatin1Char(';')) || file != file.simplified()) {
            return QStringLiteral(
                       "TLS file name with ';' or repeated blanks cannot be passed to the driver: %1")
                .arg(file);
        }
        if (!QFileInfo(file).isReadable()) {
            return QStringLiteral("TLS file cannot be read: %1").arg(file);
        }
    }
    if (link.sslCert.isEmpty() != link.sslKey.isEmpty()) {
        return QStringLiteral("TLS client certificate and key go together: set both or neither");
    }
    return QString();
}

bool runSession(QSqlDatabase& db, const QString& sql)
{
    QSqlQuery query(db);
    if (!query.exec(sql)) {
        qDebug("%s failed: %s", qUtf8Printable(sql), qUtf8Printable(query.lastError().text()));
        return false;
    }
    return true;
}

// Sets up a fresh session: four-byte UTF-8, lock and statement limits below
// the client's read time-out, strict values, and whether batches of the
// table are atomic.
void prepareSession(QSqlDatabase& db)
{
    // The driver settles for three-byte UTF-8 with this client library, which
    // turns emoji and rare CJK characters into '?'. A server too old for
    // utf8mb4 keeps the driver's choice; the link itself still works.
    runSession(db, QStringLiteral("SET NAMES utf8mb4"));
    const QString lock = QString::number(Mysql5::lockWaitSeconds());
    runSession(db, QStringLiteral("SET SESSION lock_wait_timeout=") + lock);
    runSession(db, QStringLiteral("SET SESSION innodb_lock_wait_timeout=") + lock);
    // MariaDB only; MySQL has no limit for an insert.
    runSession(db, QStringLiteral("SET SESSION max_statement_time=") +
                       QString::number(Mysql5::statementSeconds()));
    // A server in a lax mode cuts a text too long for its column and reports
    // success; strict, it refuses the row, which is then marked failed and
    // can be put back once the column is widened.
    runSession(db, QStringLiteral("SET SESSION sql_mode = IF(@@SESSION.sql_mode = '', 'STRICT_ALL_TABLES', "
                                  "CONCAT(@@SESSION.sql_mode, ',STRICT_ALL_TABLES'))"));

    QSqlQuery engine(db);
    tableAtomic.store(
        engine.exec(QStringLiteral(
            "SELECT e.TRANSACTIONS FROM information_schema.TABLES t JOIN information_schema.ENGINES e"
            " ON e.ENGINE = t.ENGINE WHERE t.TABLE_SCHEMA = DATABASE()"
            " AND t.TABLE_NAME = 'smsserver_in'")) &&
        engine.next() && engine.value(0).toString() == QLatin1String("YES"));
}

// Qt binds a null string as SQL NULL; an empty text or sender is still a
// value, not a missing one.
QVariant textValue(const QString& text)
{
    return text.isNull() ? QVariant(QStringLiteral("")) : QVariant(text);
}

QVariant bytesValue(const QByteArray& bytes)
{
    return bytes.isNull() ? QVariant(QByteArray("")) : QVariant(bytes);
}

void bindRow(DatabaseBindQuery& query, int first, const SmsRow& row)
{
    const QString format = QString::fromLatin1(dateFormat);
    query.bindValue(first + 0, 0);
    query.bindValue(first + 1, QStringLiteral("I"));
    query.bindValue(first + 2, QStringLiteral("U"));
    query.bindValue(first + 3, textValue(row.messageDate));
    query.bindValue(first + 4, format);
    query.bindValue(first + 5, textValue(row.receiveDate));
    query.bindValue(first + 6, format);
    query.bindValue(first + 7, textValue(row.originator));
    // As bytes: the column receives exactly the UTF-8 of the text.
    query.bindValue(first + 8, bytesValue(row.text.toUtf8()));
    query.bindValue(first + 9, textValue(row.gatewayId));
    query.bindValue(first + 10, textValue(row.userPhone));
}

QString failureText(const DatabaseBindQuery& query)
{
    const QString code = query.errorCode();
    return code.isEmpty() ? query.errorText() : QStringLiteral("%1 (error %2)").arg(query.errorText(), code);
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

// One INSERT of all the rows; Inserted, or the fate that the error gives.
RowFate insertMany(const QList<SmsRow>& rows, QString& err)
{
    err.clear();
    DatabaseBindQuery query;
    if (!query.open(Mysql5::connectionName())) {
        err = QStringLiteral("database not set");
        return RowFate::NotSent;
    }
    QString sql = QString::fromLatin1(insertHead);
    for (int i = 0; i < rows.size(); ++i) {
        sql += (i == 0 ? QStringLiteral("") : QStringLiteral(",")) + QString::fromLatin1(insertValues);
    }
    if (!query.prepare(sql)) {
        err = failureText(query);
        return Mysql5::fateOfError(query.errorCode());
    }
    for (int i = 0; i < rows.size(); ++i) {
        bindRow(query, i * valuesPerRow, rows.at(i));
    }
    if (!query.exec()) {
        err = failureText(query);
        return Mysql5::fateOfError(query.errorCode());
    }
    const int affected = query.numRowsAffected();
    if (affected != rows.size()) {
        // No error, yet not the rows asked for (a trigger of the table?):
        // what is in the table is unknown, so the rows are not sent again.
        err = QStringLiteral("the server reported %1 rows inserted for %2").arg(affected).arg(rows.size());
        return RowFate::Refused;
    }
    return RowFate::Inserted;
}

// Inserts one chunk of the rows, whose fates start at offset: in one
// statement where that is safe, row by row where one is refused. False when
// the link or the table failed (err says why); the rest stay NotSent.
bool insertChunk(const QList<SmsRow>& chunk, int offset, QList<RowFate>& fates, QStringList& refusals,
                 QString& err)
{
    if (chunk.size() > 1 && tableAtomic.load()) {
        const RowFate fate = insertMany(chunk, err);
        if (fate == RowFate::NotSent) {
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
        if (fate == RowFate::NotSent) {
            return false;
        }
        if (fate == RowFate::Refused && !refusals.contains(err)) {
            refusals.append(err);
        }
    }
    return true;
}

} // namespace

QString Mysql5::connectionName()
{
    return QString::fromLatin1(connName);
}

int Mysql5::waitSeconds()
{
    return waitLimit.load();
}

void Mysql5::setWaitSeconds(int seconds)
{
    waitLimit.store(qMax(1, seconds));
}

int Mysql5::lockWaitSeconds()
{
    return qMax(1, waitLimit.load() / 2);
}

int Mysql5::statementSeconds()
{
    return qMax(1, waitLimit.load() * 3 / 4);
}

RowFate Mysql5::fateOfError(const QString& nativeCode)
{
    bool isNumber = false;
    const int code = nativeCode.trimmed().toInt(&isNumber);
    for (const auto& refused : refusedErrors) {
        if (isNumber && refused.code == code) {
            return RowFate::Refused;
        }
    }
    return RowFate::NotSent;
}

bool Mysql5::openConn(const QString& host, const int& port, const QString& user, const QString& pwd,
                      const QString& dbName, QString& err)
{
    LinkSettings link;
    link.host = host;
    link.port = port;
    link.user = user;
    link.pwd = pwd;
    link.dbName = dbName;
    return openConn(link, err);
}

bool Mysql5::openConn(const LinkSettings& link, QString& err)
{
    err.clear();
    const QString name = connectionName();
    if (QSqlDatabase::contains(name)) {
        return true;
    }
    if (link.wantsTls()) {
        err = tlsProblem(link);
        if (!err.isEmpty()) {
            return false;
        }
    }
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QMYSQL"), name);
        db.setHostName(link.host);
        db.setPort(link.port);
        db.setUserName(link.user);
        db.setPassword(link.pwd);
        db.setDatabaseName(link.dbName);
        db.setConnectOptions(connectOptions(link));
        ok = db.open();
        if (ok) {
            prepareSession(db);
        } else {
            err = db.lastError().text();
        }
    }
    // Asked for TLS, the link is encrypted or not used at all.
    if (ok && link.wantsTls() && sslCipher().isEmpty()) {
        ok = false;
        err = QStringLiteral("TLS was set but the link is not encrypted");
    }
    if (!ok) {
        closeConn();
    }
    return ok;
}

bool Mysql5::closeConn()
{
    const QString name = connectionName();
    if (!QSqlDatabase::contains(name)) {
        return false;
    }
    {
        QSqlDatabase db = QSqlDatabase::database(name, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    tableAtomic.store(false);
    return true;
}

bool Mysql5::testConn(QString& err)
{
    err.clear();
    const QString name = connectionName();
    if (!QSqlDatabase::contains(name)) {
        err = QStringLiteral("database not contains");
        return false;
    }
    DatabaseBindQuery query;
    if (!query.open(name)) {
        err = QStringLiteral("database not set");
        return false;
    }
    if (!query.prepare(QStringLiteral("SELECT VERSION(), USER()")) || !query.exec()) {
        err = query.errorText();
        return false;
    }
    if (!query.next()) {
        err = QStringLiteral("database conn no result.");
        return false;
    }
    return true;
}

QString Mysql5::sslCipher()
{
    const QString name = connectionName();
    if (!QSqlDatabase::contains(name)) {
        return QString();
    }
    QSqlQuery query(QSqlDatabase::database(name, false));
    if (!query.exec(QStringLiteral("SHOW SESSION STATUS LIKE 'Ssl_cipher'")) || !query.next()) {
        return QString();
    }
    return query.value(1).toString();
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

RowFate Mysql5::insertRow(const SmsRow& row, QString& err)
{
    err.clear();
    if (!QSqlDatabase::contains(connectionName())) {
        err = QStringLiteral("database not contains");
        return RowFate::NotSent;
    }
    return insertMany({row}, err);
}

bool Mysql5::insertBatch(const QList<SmsRow>& rows, QList<RowFate>& fates, QString& err)
{
    err.clear();
    fates.clear();
    for (int i = 0; i < rows.size(); ++i) {
        fates.append(RowFate::NotSent);
    }
    if (!QSqlDatabase::contains(connectionName())) {
        err = QStringLiteral("database not contains");
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
