#pragma once

#include "mysql/linksettings.h"
#include "mysql/mysql5.h"
#include "mysql/smsrow.h"

#include <QObject>
#include <QString>

// The MySQL side of the road, in a thread of its own so that a slow or frozen
// server never holds up the store or the window: opens the link to one
// server of the list, closes it, inserts the rows it is handed and finds
// which rows of a batch whose insert was not answered the server holds. It
// decides nothing about retries; the controller does.
class Forwarder : public QObject
{
    Q_OBJECT
public:
    // Which servers of the list an open tries, in this order, the first that
    // answers taking the link.
    enum class Round
    {
        First,    // every server from the first in the list: the sync starts
        Failover, // the ones after the server just lost, wrapping, not that one
        Retry     // every server, from the one after the server last used
    };

    explicit Forwarder(QObject* parent = nullptr);
    ~Forwarder() override;

    // Ends at once whatever the forwarder waits for on a server, and every
    // later call on the link fails: the program is stopping. Safe from any thread.
    static void cancel() { Mysql5::cancel(); }

public slots:
    void openLink(const LinkSettings& link, Forwarder::Round round);
    void closeLink();
    // Inserts the rows in order, in batches, and reports the fate of each.
    void forward(const QList<SmsRow>& rows);
    // Finds which of the rows the table holds among its ids above bound.
    void settle(const QList<SmsRow>& rows, qint64 bound);

signals:
    // info names the server in use; error names every server tried and why
    // it did not answer.
    void linkOpened(bool ok, const QString& error, const LinkInfo& info);
    // fates[i] belongs to rows[i]; error says why rows were not sent or
    // refused. idFloor is a new bound of the ids the link gives from now on
    // (-1: none learned); sentMs is when the last statement went out
    // (AppClock), which bounds how long the server may still run it.
    void forwarded(const QList<SmsRow>& rows, const QList<RowFate>& fates, const QString& error,
                   qint64 idFloor, qint64 sentMs);
    // found[i] says whether the table holds rows[i] when check is Done.
    void settled(const QList<SmsRow>& rows, const QList<bool>& found, Mysql5::Check check,
                 const QString& error);

private:
    // The server of the list in use, or last used; -1 before the first.
    int current = -1;
    QString currentList;
};
