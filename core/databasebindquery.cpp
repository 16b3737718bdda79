#include "core/databasebindquery.h"

#include <QDebug>
#include <QSqlDatabase>
#include <QSqlError>

DatabaseBindQuery::DatabaseBindQuery(QObject* parent) : QObject(parent) {}

DatabaseBindQuery::~DatabaseBindQuery()
{
    if (opened) {
        query.clear();
    }
}

bool DatabaseBindQuery::open(const QString& connName)
{
    if (connName.isEmpty() || opened || !QSqlDatabase::contains(connName)) {
        return false;
    }
    query = QSqlQuery(QSqlDatabase::database(connName));
    opened = true;
    return true;
}

bool DatabaseBindQuery::prepare(const QString& sql)
{
    if (!opened) {
        return false;
    }
    if (!query.prepare(sql)) {
        keepError();
        if (!quiet) {
            qDebug("query:[%s] error: %s", sql.toUtf8().constData(), lastErrorText.toUtf8().constData());
        }
        return false;
    }
    return true;
}

void DatabaseBindQuery::bindValue(int pos, const QVariant& value)
{
    if (opened) {
        query.bindValue(pos, value, QSql::In);
    }
}

bool DatabaseBindQuery::exec()
{
    if (!opened) {
        return false;
    }
    if (!query.exec()) {
        keepError();
        if (!quiet) {
            qDebug("exec - error: %s", lastErrorText.toUtf8().constData());
        }
        return false;
    }
    return true;
}

bool DatabaseBindQuery::next()
{
    return opened && query.next();
}

QVariant DatabaseBindQuery::value(const QString& column) const
{
    return query.value(column);
}

int DatabaseBindQuery::numRowsAffected() const
{
    return opened ? query.numRowsAffected() : -1;
}

QString DatabaseBindQuery::errorText() const
{
    return lastErrorText;
}

QString DatabaseBindQuery::errorCode() const
{
    return lastErrorCode;
}

void DatabaseBindQuery::keepError()
{
    const QSqlError error = query.lastError();
    lastErrorText = error.text();
    lastErrorCode = error.nativeErrorCode();
}
