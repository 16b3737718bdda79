#pragma once

#include "core/clock.h"
#include "core/databasebindquery.h"
#include "store/recvstore.h"

#include <QString>
#include <QTemporaryDir>
#include <QVariant>
#include <QtGlobal>

// A store of the test's own in a fresh data directory, and its columns.
#include "support/pdubuilder.h"

// The one store of a test process, used on the test's main thread.
inline RecvStore& testStore()
{
    static RecvStore store;
    return store;
}

namespace StoreFixture {

using namespace PduBuilder;

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
