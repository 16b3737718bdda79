#include "mysql/forwarder.h"

#include "mysql/serveraddress.h"

Forwarder::Forwarder(QObject* parent) : QObject(parent)
{
    qRegisterMetaType<SmsRow>();
    qRegisterMetaType<QList<SmsRow>>();
    qRegisterMetaType<RowFate>();
    qRegisterMetaType<QList<RowFate>>();
    qRegisterMetaType<LinkSettings>();
    qRegisterMetaType<LinkInfo>();
    qRegisterMetaType<Mysql5::Check>();
    qRegisterMetaType<QList<bool>>();
    // A new road: a stop of an earlier one no longer holds.
    Mysql5::resetCancel();
}

Forwarder::~Forwarder()
{
    Mysql5::closeConn();
}

void Forwarder::openLink(const LinkSettings& link, Forwarder::Round round)
{
    Mysql5::closeConn();
    QStringList failures;
    const QList<ServerAddress> servers = ServerAddress::parseList(link.host, link.port, &failures);
    const QString list = link.host + QLatin1Char('/') + QString::number(link.port);
    if (list != currentList || current >= servers.size()) {
        currentList = list;
        current = -1;
    }
    const int count = servers.size();
    QList<int> order;
    if (round == Round::First || current < 0) {
        for (int i = 0; i < count; ++i) {
            order.append(i);
        }
    } else {
        const int tries = round == Round::Failover ? count - 1 : count;
        for (int i = 1; i <= tries; ++i) {
            order.append((current + i) % count);
        }
    }
    for (int index : qAsConst(order)) {
        QString error;
        if (Mysql5::openConn(link, servers.at(index), error)) {
            current = index;
            emit linkOpened(true, QString(), Mysql5::linkInfo());
            return;
        }
        failures.append(servers.at(index).text() + QStringLiteral(": ") + error);
    }
    if (count == 0) {
        failures.append(QStringLiteral("MYSQL_HOST names no server"));
    } else if (order.isEmpty()) {
        failures.append(QStringLiteral("no other server in MYSQL_HOST"));
    }
    emit linkOpened(false, failures.join(QStringLiteral("; ")), LinkInfo());
}

void Forwarder::closeLink()
{
    Mysql5::closeConn();
}

void Forwarder::forward(const QList<SmsRow>& rows)
{
    QList<RowFate> fates;
    QString error;
    const QString server = Mysql5::linkInfo().server;
    if (!Mysql5::testConn(error)) {
        for (int i = 0; i < rows.size(); ++i) {
            fates.append(RowFate::NotSent);
        }
        emit forwarded(rows, fates, QStringLiteral("MYSQL CONECT LOST. %1: %2").arg(server, error), -1, 0);
        return;
    }
    qint64 floor = -1;
    if (Mysql5::insertBatch(rows, fates, error)) {
        QString ignored;
        Mysql5::readIdFloor(floor, ignored);
    } else if (fates.contains(RowFate::Unknown)) {
        error = QStringLiteral("MYSQL INSERT NOT ANSWERED by %1, checked at the next link before anything is "
                               "sent again: %2")
                    .arg(server, error);
    } else if (fates.contains(RowFate::NotSent)) {
        error = QStringLiteral("MYSQL INSERT NOT DONE on %1, the messages wait: %2").arg(server, error);
    }
    emit forwarded(rows, fates, error, floor, Mysql5::lastSentMs());
}

void Forwarder::settle(const QList<SmsRow>& rows, qint64 bound)
{
    QList<bool> found;
    QString error;
    const Mysql5::Check check = Mysql5::findRows(rows, bound, found, error);
    if (check == Mysql5::Check::Failed) {
        error = QStringLiteral("MYSQL CONECT LOST. %1, while looking for an unanswered batch: %2")
                    .arg(Mysql5::linkInfo().server, error);
    }
    emit settled(rows, found, check, error);
}
