#include "mysql/mysql5.h"

#include "core/databasebindquery.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <atomic>

namespace {

const char connName[] = "VLSMS_MYSQL_05";
const char dateFormat[] = "%Y-%m-%d %H:%i:%s";

std::atomic<int> waitLimit{10};

// The driver's defaults would let a silent server hold a query for many
// minutes; these bound every connect, read and write.
QString connectOptions()
{
    const QString seconds = QString::number(waitLimit.load());
    return QStringLiteral("MYSQL_OPT_CONNECT_TIMEOUT=%1;MYSQL_OPT_READ_TIMEOUT=%1;MYSQL_OPT_WRITE_TIMEOUT=%1")
        .arg(seconds);
}

// The driver settles for three-byte UTF-8 with this client library, which
// turns emoji and rare CJK characters into '?'. A server too old for utf8mb4
// keeps the driver's choice; the link itself still works.
void useFourByteUtf8(QSqlDatabase& db)
{
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SET NAMES utf8mb4"))) {
        qDebug("SET NAMES utf8mb4 failed: %s", query.lastError().text().toUtf8().constData());
    }
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

bool Mysql5::openConn(const QString& host, const int& port, const QString& user, const QString& pwd,
                      const QString& dbName, QString& err)
{
    err.clear();
    const QString name = connectionName();
    if (QSqlDatabase::contains(name)) {
        return true;
    }
    bool ok = false;
    QString error;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QMYSQL"), name);
        db.setHostName(host);
        db.setPort(port);
        db.setUserName(user);
        db.setPassword(pwd);
        db.setDatabaseName(dbName);
        db.setConnectOptions(connectOptions());
        ok = db.open();
        if (ok) {
            useFourByteUtf8(db);
        } else {
            error = db.lastError().text();
        }
    }
    if (!ok) {
        err = error;
        QSqlDatabase::removeDatabase(name);
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

bool Mysql5::insertSms(const QString& userPhone, const QString& gatewayId, const QString& originator,
                       const QString& messageDate, const QString& receiveDate, const QString& text,
                       QString& err)
{
    err.clear();
    const QString name = connectionName();
    if (!QSqlDatabase::contains(name)) {
        return false;
    }
    DatabaseBindQuery query;
    if (!query.open(name)) {
        err = QStringLiteral("database not set");
        return false;
    }
    if (!query.prepare(QStringLiteral("INSERT INTO smsserver_in "
                                      "(process,type,encoding,message_date,receive_date,originator,text,"
                                      "gateway_id,userphone) "
                                      "VALUES(?,?,?,STR_TO_DATE(?,?),STR_TO_DATE(?,?),?,?,?,?)"))) {
        err = query.errorText();
        return false;
    }
    const QString format = QString::fromLatin1(dateFormat);
    query.bindValue(0, 0);
    query.bindValue(1, QStringLiteral("I"));
    query.bindValue(2, QStringLiteral("U"));
    query.bindValue(3, textValue(messageDate));
    query.bindValue(4, format);
    query.bindValue(5, textValue(receiveDate));
    query.bindValue(6, format);
    query.bindValue(7, textValue(originator));
    // As bytes: the column receives exactly the UTF-8 of the text.
    query.bindValue(8, bytesValue(text.toUtf8()));
    query.bindValue(9, textValue(gatewayId));
    query.bindValue(10, textValue(userPhone));
    if (!query.exec()) {
        err = query.errorText();
        return false;
    }
    return query.numRowsAffected() == 1;
}
