#pragma once

#include "mysql/smsrow.h"

#include <QObject>
#include <QString>

// The MySQL side of the road, in a thread of its own so that a slow or frozen
// server never holds up the store or the window: opens and closes the link
// and inserts the rows it is handed. It decides nothing about retries; the
// controller does.
class Forwarder : public QObject
{
    Q_OBJECT
public:
    explicit Forwarder(QObject* parent = nullptr);
    ~Forwarder() override;

public slots:
    void openLink(const QString& host, int port, const QString& user, const QString& pwd,
                  const QString& dbName);
    void closeLink();
    // Inserts the rows in order and reports the fate of each.
    void forward(const QList<SmsRow>& rows);

signals:
    void linkOpened(bool ok, const QString& error);
    // fates[i] belongs to rows[i]; error says why a row was not sent or refused.
    void forwarded(const QList<SmsRow>& rows, const QList<RowFate>& fates, const QString& error);
};
