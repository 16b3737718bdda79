#pragma once

#include <QList>
#include <QMetaType>
#include <QString>

// One complete message on its way into smsserver_in, with the store rows
// (parts) it was formed from, so that its fate can be marked on all of them.
struct SmsRow
{
    QList<int> towIds;
    QString userPhone;
    QString gatewayId;
    QString originator;
    QString messageDate;
    QString receiveDate;
    QString text;
};

// What became of one row handed to the forwarder.
enum class RowFate
{
    Inserted, // the server holds the row
    Refused,  // the server refused this row itself (its data): it will never go in as it is
    NotSent,  // the link or the table failed: the message waits for the next try
    Unknown   // the insert went out and no answer came back: it may or may not be in
};

Q_DECLARE_METATYPE(SmsRow)
Q_DECLARE_METATYPE(QList<SmsRow>)
Q_DECLARE_METATYPE(RowFate)
Q_DECLARE_METATYPE(QList<RowFate>)
