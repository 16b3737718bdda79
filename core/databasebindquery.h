#pragma once

#include <QObject>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

// One prepared statement with positional values on a named connection. Made
// for one statement and dropped after it; used only on the thread that owns
// the connection. The fixed order of use: open, prepare, bindValue from
// position 0, exec, then numRowsAffected or next/value.
class DatabaseBindQuery : public QObject
{
    Q_OBJECT
public:
    explicit DatabaseBindQuery(QObject* parent = nullptr);
    ~DatabaseBindQuery() override;

    // Binds the query to an existing connection; only once per object.
    bool open(const QString& connName);
    // A failure is written to Qt's debug output unless the caller expects it
    // and reports it itself.
    void setQuiet(bool on) { quiet = on; }
    bool prepare(const QString& sql);
    void bindValue(int pos, const QVariant& value);
    bool exec();
    bool next();
    QVariant value(const QString& column) const;
    int numRowsAffected() const;
    QString errorText() const;
    // The database's own number of the last error (the server's error code
    // for MySQL), empty when there was none or the driver gives none.
    QString errorCode() const;

private:
    void keepError();

    bool opened = false;
    bool quiet = false;
    QSqlQuery query;
    QString lastErrorText;
    QString lastErrorCode;
};
