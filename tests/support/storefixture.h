#pragma once

#include "core/clock.h"
#include "core/databasebindquery.h"
#include "store/recvstore.h"

#include <QString>
#include <QTemporaryDir>
#include <QVariant>
#include <QtGlobal>

// Builders of SMS-DELIVER PDU text, as a modem prints them, and helpers that
// give each test a store of its own in a fresh data directory.
// The one store of a test process, used on the test's main thread.
inline RecvStore& testStore()
{
    static RecvStore store;
    return store;
}

namespace StoreFixture {

inline QString hexOctet(int value)
{
    return QString::asprintf("%02X", value & 0xFF);
}

// Address digits in semi-octet order, padded with F.
inline QString swapped(QString digits)
{
    if (digits.size() % 2) {
        digits += QLatin1Char('F');
    }
    QString out;
    for (int i = 0; i < digits.size(); i += 2) {
        out += digits.at(i + 1);
        out += digits.at(i);
    }
    return out;
}

inline QString ucs2Hex(const QString& text)
{
    QString out;
    for (const QChar c : text) {
        out += QString::asprintf("%04X", c.unicode());
    }
    return out;
}

// An 8-bit reference concatenation header: reference, count, index.
inline QString partHeader(int ref, int count, int index)
{
    return QStringLiteral("0003") + hexOctet(ref) + hexOctet(count) + hexOctet(index);
}

// One SMS-DELIVER with a fixed service centre and time stamp. udh is the
// information elements without their length octet; ud is the user data hex
// and udl its length as TP-UDL counts it (octets, or septets for 7-bit).
inline QString deliver(const QString& sender, int dcs, const QString& udh, const QString& ud, int udl = -1,
                       int firstOctet = 0x04)
{
    QString pdu = QStringLiteral("06918967052143");
    pdu += hexOctet(udh.isEmpty() ? firstOctet : (firstOctet | 0x40));
    pdu += hexOctet(sender.size()) + QStringLiteral("81") + swapped(sender);
    pdu += QStringLiteral("00") + hexOctet(dcs) + QStringLiteral("91503241035023");
    const QString body = udh.isEmpty() ? ud : hexOctet(udh.size() / 2) + udh + ud;
    pdu += hexOctet(udl >= 0 ? udl : body.size() / 2) + body;
    return pdu;
}

// A UCS2 message or part: the text is the payload.
inline QString ucs2(const QString& sender, const QString& text, const QString& udh = QString())
{
    return deliver(sender, 0x08, udh, ucs2Hex(text));
}

// A status report (TP-MTI 2); the store keeps it raw.
inline QString statusReport(int ref)
{
    return QStringLiteral("0691896705214306") + hexOctet(ref) +
           QStringLiteral("0B819178561032F4915032410350239150324103502300");
}

// Points the data directory at a fresh temporary folder and opens the store.
inline bool openFreshStore(QTemporaryDir& dir)
{
    testStore().closeLocalDb();
    qputenv("APPDATA", dir.path().toUtf8());
    return testStore().openLocalDb();
}

// One column of one row, read on the store's own connection.
inline QVariant column(int towId, const QString& name)
{
    DatabaseBindQuery query;
    query.open(QStringLiteral("VLSMSDB"));
    query.prepare(QStringLiteral("SELECT ") + name + QStringLiteral(" AS v FROM t_recv WHERE tow_id=?"));
    query.bindValue(0, towId);
    query.exec();
    return query.next() ? query.value(QStringLiteral("v")) : QVariant();
}

inline int lastTowId()
{
    DatabaseBindQuery query;
    query.open(QStringLiteral("VLSMSDB"));
    query.prepare(QStringLiteral("SELECT max(tow_id) AS v FROM t_recv"));
    query.exec();
    return query.next() ? query.value(QStringLiteral("v")).toInt() : -1;
}

// Moves the clock so that the store time is `storeTime`, in the middle of its
// second so that the test has half a second before it ticks on.
inline void setStoreTime(qint64 storeTime)
{
    const qint64 target = (storeTime + 1600000000) * 1000 + 500;
    AppClock::setOffsetMs(0);
    AppClock::setOffsetMs(target - AppClock::nowMs());
}

} // namespace StoreFixture
