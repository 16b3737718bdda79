#include "store/databasetable.h"

#include <QDebug>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

namespace {

void reportSqlError(const QString& sql, const QSqlError& error)
{
    qDebug("sql:[%s], error: %s", sql.toUtf8().constData(), error.text().toUtf8().constData());
}

} // namespace

bool DatabaseTable::openDb(const QString& path, const QString& connName)
{
    QString ignored;
    return openDb(path, connName, ignored);
}

bool DatabaseTable::openDb(const QString& path, const QString& connName, QString& errorText,
                           const QString& options)
{
    if (connName.isEmpty()) {
        errorText = QStringLiteral("empty connection name");
        return false;
    }
    if (QSqlDatabase::contains(connName)) {
        return true;
    }
    bool opened = false;
    {
        // The handle must be gone before the connection can be removed.
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connName);
        db.setDatabaseName(path);
        db.setConnectOptions(options);
        opened = db.open();
        if (!opened) {
            errorText = db.lastError().text();
        }
    }
    if (!opened) {
        QSqlDatabase::removeDatabase(connName);
    }
    return opened;
}

bool DatabaseTable::closeDb(const QString& connName)
{
    if (connName.isEmpty() || !QSqlDatabase::contains(connName)) {
        return false;
    }
    {
        QSqlDatabase db = QSqlDatabase::database(connName, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(connName);
    return true;
}

bool DatabaseTable::execSql(const QString& connName, const QString& sql)
{
    if (connName.isEmpty() || !QSqlDatabase::contains(connName)) {
        return false;
    }
    QSqlQuery query(QSqlDatabase::database(connName));
    if (!query.exec(sql)) {
        reportSqlError(sql, query.lastError());
        return false;
    }
    query.clear();
    return true;
}

bool DatabaseTable::execScalar(const QString& connName, const QString& sql, int& value)
{
    if (connName.isEmpty() || !QSqlDatabase::contains(connName)) {
        return false;
    }
    QSqlQuery query(QSqlDatabase::database(connName));
    if (!query.exec(sql)) {
        reportSqlError(sql, query.lastError());
        return false;
    }
    bool found = false;
    if (query.next()) {
        value = query.value(0).toInt();
        found = true;
    }
    query.clear();
    return found;
}

bool DatabaseTable::tableExists(const QString& connName, const QString& tableName)
{
    if (connName.isEmpty()) {
        return false;
    }
    int count = 0;
    const QString sql = QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type='table' AND name='") +
                        tableName + QLatin1Char('\'');
    return execScalar(connName, sql, count) && count >= 1;
}
