#pragma once

#include "mysql/linksettings.h"
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
    void openLink(const LinkSettings& link);
    void closeLink();
    // Inserts the rows in order, in batches, and reports the fate of each.
    void forward(const QList<SmsRow>& rows);

signals:
    // cipher names the link's encryption; empty when it is not encrypted.
    void linkOpened(bool ok, const QString& error, const QString& cipher);
    // fates[i] belongs to rows[i]; error says why rows were not sent or refused.
    void forwarded(const QList<SmsRow>& rows, const QList<RowFate>& fates, const QString& error);
};
