#pragma once

#include "mysql/smsrow.h"

#include <QList>

// The batch last handed to the MySQL server, kept in the local store (table
// t_sent of sms-r.db) from before it is sent until the next batch takes its
// place. Should the answer never come (the link, the server or this program
// died on the way), the next link asks the server which of its rows it holds
// instead of sending them all again. Works on the store's connection, in the
// thread that opened the store; the table is made when first used.
class SentLedger
{
public:
    SentLedger() = delete;

    // Keeps rows as the batch in flight, whose rows the server gives ids
    // above bound (-1: unknown), in place of the batch kept before. False
    // when the store refused; then nothing of it is kept.
    static bool record(const QList<SmsRow>& rows, qint64 bound);
    // The batch kept, empty when there is none; false when the store cannot
    // be read.
    static bool load(QList<SmsRow>& rows, qint64& bound);
    static bool clear();
};
