#include "mysql/forwarder.h"

#include "mysql/mysql5.h"

Forwarder::Forwarder(QObject* parent) : QObject(parent)
{
    qRegisterMetaType<SmsRow>();
    qRegisterMetaType<QList<SmsRow>>();
    qRegisterMetaType<RowFate>();
    qRegisterMetaType<QList<RowFate>>();
}

Forwarder::~Forwarder()
{
    Mysql5::closeConn();
}

void Forwarder::openLink(const QString& host, int port, const QString& user, const QString& pwd,
                         const QString& dbName)
{
    Mysql5::closeConn();
    QString error;
    const bool ok = Mysql5::openConn(host, port, user, pwd, dbName, error);
    emit linkOpened(ok, error);
}

void Forwarder::closeLink()
{
    Mysql5::closeConn();
}

void Forwarder::forward(const QList<SmsRow>& rows)
{
    QList<RowFate> fates;
    QString error;
    if (!Mysql5::testConn(error)) {
        for (int i = 0; i < rows.size(); ++i) {
            fates.append(RowFate::NotSent);
        }
        emit forwarded(rows, fates, error);
        return;
    }
    bool linkFailed = false;
    for (const SmsRow& row : rows) {
        if (linkFailed) {
            fates.append(RowFate::NotSent);
            continue;
        }
        QString rowError;
        if (Mysql5::insertSms(row.userPhone, row.gatewayId, row.originator, row.messageDate, row.receiveDate,
                              row.text, rowError)) {
            fates.append(RowFate::Inserted);
        } else {
            fates.append(RowFate::Refused);
            error = rowError;
        }
    }
    emit forwarded(rows, fates, error);
}
