#include "core/clock.h"
#include "core/mysetting.h"
#include "pdu/gsmop.h"
#include "store/myrecvsms.h"
#include "support/storefixture.h"

#include <QtTest>

using namespace StoreFixture;

// Choosing the next complete message, reading its parts, marking the rows and
// expiring parts that never completed.

namespace {

const QString simA = QStringLiteral("8986000000000000000A");
const QString simB = QStringLiteral("8986000000000000000B");
const QString alice = QStringLiteral("13900000001");
const QString bob = QStringLiteral("13900000002");

// Stores one message or part and answers its row id.
int store(const QString& pdu, const QString& sim = simA)
{
    if (!testStore().insertRecv(QStringLiteral("COM3"), QStringLiteral("IMEI"), sim, pdu)) {
        return -1;
    }
    return lastTowId();
}

int part(int index, int count, const QString& text, const QString& sender = alice, const QString& sim = simA,
         int ref = 0x5A)
{
    return store(ucs2(sender, text, partHeader(ref, count, index)), sim);
}

struct Picked
{
    bool ok = false;
    QList<int> ids;
    QStringList texts;
    QList<MyRecvSms*> records;
    ~Picked() { qDeleteAll(records); }
};

// Picks the next message; texts are the UCS2 payloads of its records. A batch
// must start with the same message.
void pick(Picked& picked)
{
    picked.ok = testStore().pickNext(picked.records);
    for (const MyRecvSms* sms : qAsConst(picked.records)) {
        picked.ids << sms->tow_id;
        picked.texts << GsmOp::ucs2Text(sms->sms_userdata_value);
    }
    QList<QList<MyRecvSms*>> batch;
    QVERIFY(testStore().pickBatch(100, batch));
    QList<int> first;
    for (const MyRecvSms* sms : batch.value(0)) {
        first << sms->tow_id;
    }
    for (auto& message : batch) {
        qDeleteAll(message);
    }
    QCOMPARE(first, picked.ids);
}

int flagOf(int towId)
{
    return column(towId, QStringLiteral("hd_flag")).toInt();
}

} // namespace
class TstRecvPick : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        dir = new QTemporaryDir;
        QVERIFY(dir->isValid());
        AppClock::setOffsetMs(0);
        QVERIFY(openFreshStore(*dir));
    }

    void cleanup()
    {
        testStore().closeLocalDb();
        AppClock::setOffsetMs(0);
        delete dir;
        dir = nullptr;
    }

    void pickOrder_data()
    {
        QTest::addColumn<QString>("layout");
        QTest::addColumn<QStringList>("expected");
        // g: part of a two-part group, i: part 1 of 3, d: 8-bit data, 1 and 0: a
        // part giving that part count, anything else: a single with that text
        QTest::newRow("group older than single") << "g s g" << QStringList{"g1", "g2"};
        QTest::newRow("single older than group") << "s g g" << QStringList{"s"};
        QTest::newRow("incomplete group before single") << "i s" << QStringList{"s"};
        QTest::newRow("8-bit data is never picked") << "d" << QStringList{};
        QTest::newRow("part that is the only one") << "i 1" << QStringList{"1"};
        QTest::newRow("part without a count") << "i 0" << QStringList{"0"};
    }

    void pickOrder()
    {
        QFETCH(QString, layout);
        QFETCH(QStringList, expected);
        int groupPart = 0;
        for (const QString& kind : layout.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            if (kind == QLatin1String("g")) {
                ++groupPart;
                QVERIFY(part(groupPart, 2, QStringLiteral("g%1").arg(groupPart)) > 0);
            } else if (kind == QLatin1String("i")) {
                QVERIFY(part(1, 3, QStringLiteral("i"), bob) > 0);
            } else if (kind == QLatin1String("1") || kind == QLatin1String("0")) {
                QVERIFY(part(1, kind.toInt(), kind, bob, simB, 0x10) > 0);
            } else if (kind == QLatin1String("d")) {
                QVERIFY(store(eightBit(alice, "data")) > 0);
            } else {
                QVERIFY(store(ucs2(alice, kind)) > 0);
            }
        }
        Picked picked;
        pick(picked);
        QCOMPARE(picked.ok, !expected.isEmpty());
        QCOMPARE(picked.texts, expected);
    }

    // A batch holds the oldest complete messages in the order of their first
    // part, up to its size, and one transaction marks them all.
    void batchOrder()
    {
        QVERIFY(store(ucs2(alice, QStringLiteral("s1"))) > 0);
        QVERIFY(part(1, 2, QStringLiteral("g1")) > 0);
        QVERIFY(store(ucs2(alice, QStringLiteral("s2"))) > 0);
        QVERIFY(part(1, 3, QStringLiteral("i"), bob) > 0);
        QVERIFY(part(2, 2, QStringLiteral("g2")) > 0);
        QVERIFY(store(ucs2(alice, QStringLiteral("s3"))) > 0);

        QList<QList<MyRecvSms*>> batch;
        QVERIFY(testStore().pickBatch(3, batch));
        QStringList texts;
        QList<int> ids;
        for (const QList<MyRecvSms*>& message : qAsConst(batch)) {
            QStringList parts;
            for (const MyRecvSms* sms : message) {
                parts << GsmOp::ucs2Text(sms->sms_userdata_value);
                ids << sms->tow_id;
            }
            texts << parts.join(QLatin1Char('+'));
            qDeleteAll(message);
        }
        QCOMPARE(texts, (QStringList{"s1", "g1+g2", "s2"}));
        QVERIFY(testStore().markBatch(ids, 1));
        QCOMPARE(testStore().countPending(), 2); // s3 and the incomplete part
        Picked next;
        pick(next);
        QCOMPARE(next.texts, QStringList{"s3"});
    }

    void groupCompletes()
    {
        const int first = part(1, 3, QStringLiteral("你"));
        const int third = part(3, 3, QStringLiteral("们"));
        Picked none;
        pick(none);
        QVERIFY(!none.ok);
        const int second = part(2, 3, QStringLiteral("好"));
        Picked picked;
        pick(picked);
        QCOMPARE(picked.ids, (QList<int>{first, second, third}));
        QCOMPARE(picked.texts.join(QString()), QStringLiteral("你好们"));
        // The record carries what forwarding needs.
        const MyRecvSms* sms = picked.records.at(1);
        QCOMPARE((QStringList{sms->sim_no, sms->sms_sender, sms->sms_stamp, sms->txt_pdu}),
                 (QStringList{simA, alice, "2019-05-23 14:30:05", column(second, "txt_pdu").toString()}));
    }

    void partStoredTwice()
    {
        const int first = part(1, 2, QStringLiteral("A"));
        const int second = part(2, 2, QStringLiteral("B"));
        const int again = part(2, 2, QStringLiteral("b")); // sent again, other PDU
        QVERIFY(again > second);
        Picked picked;
        pick(picked);
        QCOMPARE(picked.ids, (QList<int>{first, second}));
        for (const int id : qAsConst(picked.ids)) {
            QVERIFY(testStore().markHandled(id, 1));
        }
        Picked none;
        pick(none);
        QVERIFY(!none.ok);
        QCOMPARE(flagOf(again), 0);
        setStoreTime(column(again, QStringLiteral("recv_time")).toLongLong() + 3601);
        QVERIFY(testStore().expireParts());
        QCOMPARE(flagOf(again), 9);
    }

    void groupKey_data()
    {
        // The second message reuses the first one's reference.
        QTest::addColumn<QString>("otherSender");
        QTest::addColumn<QString>("otherSim");
        QTest::addColumn<int>("otherCount");
        QTest::newRow("other sender, same SIM") << bob << simA << 2;
        QTest::newRow("same sender, other SIM") << alice << simB << 2;
        QTest::newRow("other part count") << alice << simA << 3;
    }

    void groupKey()
    {
        QFETCH(QString, otherSender);
        QFETCH(QString, otherSim);
        QFETCH(int, otherCount);
        const int a1 = part(1, 2, QStringLiteral("A1"));
        const int b2 = part(2, otherCount, QStringLiteral("B2"), otherSender, otherSim);
        Picked none; // A's first part and B's second make no message
        pick(none);
        QVERIFY(!none.ok);
        const int b1 = part(1, otherCount, QStringLiteral("B1"), otherSender, otherSim);
        const int a2 = part(2, 2, QStringLiteral("A2"));

        // A's first part is older, but A completes only with its own second part.
        Picked picked;
        pick(picked);
        QCOMPARE(picked.ids, (QList<int>{a1, a2}));
        for (const int id : qAsConst(picked.ids)) {
            QVERIFY(testStore().markHandled(id, 1));
        }
        Picked rest;
        pick(rest); // with three parts, B's third is still missing
        QCOMPARE(rest.ids, (otherCount == 2 ? QList<int>{b1, b2} : QList<int>{}));
    }

    void expiry_data()
    {
        QTest::addColumn<int>("age");
        QTest::addColumn<bool>("everForwarded");
        QTest::addColumn<bool>("completeWaiting");
        QTest::addColumn<bool>("ran");
        QTest::addColumn<int>("flag");
        QTest::newRow("exactly 3600 s") << 3600 << true << false << true << 0;
        QTest::newRow("3601 s") << 3601 << true << false << true << 9;
        QTest::newRow("nothing ever forwarded") << 7200 << false << false << false << 0;
        QTest::newRow("a complete message waits") << 7200 << true << true << false << 0;
    }

    void expiry()
    {
        QFETCH(int, age);
        QFETCH(bool, everForwarded);
        QFETCH(bool, completeWaiting);
        QFETCH(bool, ran);
        QFETCH(int, flag);
        const int done = store(ucs2(bob, QStringLiteral("done")));
        if (everForwarded) {
            QVERIFY(testStore().markHandled(done, 1));
        }
        const int stale = part(1, 2, QStringLiteral("lonely"));
        const int single = store(ucs2(bob, QStringLiteral("unforwarded single")), simB);
        if (!completeWaiting) {
            QVERIFY(testStore().markHandled(single, 10));
        }
        setStoreTime(column(stale, QStringLiteral("recv_time")).toLongLong() + age);
        QCOMPARE(testStore().expireParts(), ran);
        QCOMPARE(flagOf(stale), flag);
        QCOMPARE(flagOf(single), completeWaiting ? 0 : 10); // singles never expire
    }

private:
    QTemporaryDir* dir = nullptr;
};

QTEST_GUILESS_MAIN(TstRecvPick)
#include "tst_recvpick.moc"
