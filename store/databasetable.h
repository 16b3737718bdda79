#pragma once

#include <QObject>
#include <QString>

// Static helpers over named Qt SQL connections. Every failure is written to
// Qt's debug output and answered with false; nothing here keeps state of its
// own: the connections live in Qt's connection registry under their names.
class DatabaseTable : public QObject
{
    Q_OBJECT
public:
    DatabaseTable() = delete;

    // Opens a SQLite file under a connection name. A name that is already
    // registered counts as open and the path is not looked at.
    static bool openDb(const QString& path, const QString& connName);
    // As above; on failure errorText receives the driver's reason. options
    // are the driver's connect options ("QSQLITE_BUSY_TIMEOUT=500").
    static bool openDb(const QString& path, const QString& connName, QString& errorText,
                       const QString& options = QString());
    static bool closeDb(const QString& connName);
    static bool execSql(const QString& connName, const QString& sql);
    // Runs a query and reads column 0 of its first row. False, with value
    // untouched, when the query fails or gives no row.
    static bool execScalar(const QString& connName, const QString& sql, int& value);
    // The table name is pasted into the statement: pass fixed names only.
    static bool tableExists(const QString& connName, const QString& tableName);
};
