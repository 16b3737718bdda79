#include "mysql/forwarder.h"

#include "mysql/mysql5.h"

Forwarder::Forwarder(QObject* parent) : QObject(parent)
{
    qRegisterMetaType<SmsRow>();
    qRegisterMetaType<QList<SmsRow>>();
    qRegisterMetaType<RowFate>();
    qRegisterMetaType<QList<RowFate>>();
    qRegisterMetaType<LinkSettings>();
}

Forwarder::~Forwarder()
{
    Mysql5::closeConn();
}

void Forwarder::openLink(const LinkSettings& link)
{
    Mysql5::closeConn();
    QString error;
    const bool ok = Mysql5::openConn(link, error);
    emit linkOpened(ok, error, ok ? Mysql5::sslCipher() : QString());
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
        emit forwarded(rows, fates, QStringLiteral("MYSQL CONECT LOST. ") + error);
        return;
    }
    if (!Mysql5::insertBatch(rows, fates, error) && fates.contains(RowFate::NotSent)) {
        error = QStringLiteral("MYSQL INSERT NOT DONE, the messages wait: ") + error;
    }
    emit forwarded(rows, fates, error);
}
