#include "core/clock.h"
#include "core/databasebindquery.h"
#include "core/mysetting.h"
#include "store/databasetable.h"
#include "store/myrecvsms.h"
#include "store/recvsql.h"
#include "support/storefixture.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTextStream>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

// Builds stores of realistic rows at several sizes and reports the median
// time of the work the program does per timer tick and per received message.
//
//   bench_store [--dir DIR] [--sizes 10000,100000,1000000,10000000] [--rebuild]
//
// A built store is kept in DIR/nSIZE and reused by the next run.

namespace {

using namespace StoreFixture;

QTextStream out(stdout);

const int simCount = 64;
const int waitingGroups = 100;

// A small deterministic generator, so that every build holds the same rows.
struct Random
{
    quint64 state = 0x9E3779B97F4A7C15ULL;
    quint32 next()
    {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return quint32(state >> 33);
    }
    int below(int n) { return int(next() % quint32(n)); }
};

QString randomHex(Random& random, int octets)
{
    static const char digits[] = "0123456789ABCDEF";
    QString hex(octets * 2, Qt::Uninitialized);
    QChar* data = hex.data();
    for (int i = 0; i < octets; ++i) {
        const quint32 value = random.next();
        data[2 * i] = QLatin1Char(digits[(value >> 4) & 15]);
        data[2 * i + 1] = QLatin1Char(digits[value & 15]);
    }
    return hex;
}

QString simNumber(int n)
{
    return QStringLiteral("898600%1").arg(n, 14, 10, QLatin1Char('0'));
}

// One row of the bulk load, with the columns the decoded insert would write.
struct Row
{
    QString port, sim, pdu, sender, ud, udh, partId;
    int recvType = 0, codeGroup = 0, codeType = 0, partType = 0, partIndex = 0, partCount = 0;
    int flag = 1;
    qint64 recvTime = 0, hdTime = 0;
};

// Fills the store file with `size` rows in one transaction through one
// prepared insert, then makes the unique index: an index built by sorting is
// far quicker than one grown row by row.
bool buildStore(const QString& path, int size)
{
    const QString conn = QStringLiteral("BUILD");
    if (!DatabaseTable::openDb(path, conn)) {
        return false;
    }
    bool ok = DatabaseTable::execSql(conn, QStringLiteral("PRAGMA journal_mode=OFF")) &&
              DatabaseTable::execSql(conn, QStringLiteral("PRAGMA synchronous=OFF")) &&
              DatabaseTable::execSql(conn, QStringLiteral("PRAGMA cache_size=-1000000")) &&
              DatabaseTable::execSql(conn, QString::fromLatin1(RecvSql::createTable)) &&
              // The layout the previous version left: the text flag with a default of 0.
              DatabaseTable::execSql(
                  conn, QStringLiteral("ALTER TABLE t_recv ADD COLUMN sms_text INTEGER DEFAULT 0")) &&
              DatabaseTable::execSql(conn, QStringLiteral("BEGIN"));
    auto insert = std::make_unique<DatabaseBindQuery>();
    ok = ok && insert->open(conn) &&
         insert->prepare(QStringLiteral(
             "INSERT INTO t_recv "
             "(port_no,dev_no,sim_no,txt_pdu,recv_time,hd_flag,hd_time,sms_recvtype,sms_pid,"
             "sms_sender,sms_stamp,sms_codegroup,sms_codetype,sms_part_type,sms_part_id,sms_part_index,"
             "sms_part_count,sms_userdata_head,sms_userdata_value,sms_text) VALUES "
             "(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)"));
    Random random;
    // Three years of traffic ending now.
    const qint64 end = RecvStore::storeNow() - 7200;
    const qint64 span = 3LL * 365 * 86400;
    int written = 0;
    int groupRef = 0;
    QElapsedTimer timer;
    timer.start();
    while (ok && written < size) {
        const int sim = random.below(simCount);
        const qint64 recvTime = end - span + span * written / size;
        const QString sender = QStringLiteral("1%1").arg(3000000000LL + random.below(900000000), 10, 10);
        const int kind = random.below(1000);
        // The last rows of the store: incomplete groups waiting for parts.
        const bool waitingPart = written >= size - waitingGroups;
        int parts = 1;
        if (!waitingPart && kind < 150) {
            parts = 2 + random.below(2);
        }
        const int ref = (groupRef++) & 0xFF;
        for (int index = 1; index <= parts && written < size; ++index) {
            Row row;
            row.port = QStringLiteral("COM%1").arg(3 + sim);
            row.sim = simNumber(sim);
            row.sender = sender;
            row.recvTime = recvTime;
            row.hdTime = recvTime + 1 + random.below(5);
            if (kind >= 985) {
                // A status report, stored raw.
                row.recvType = 2;
                row.pdu = statusReport(ref) + randomHex(random, 12);
                row.flag = 0;
                row.hdTime = 0;
            } else {
                const bool ucs2Text = random.below(10) < 6;
                row.codeType = ucs2Text ? 2 : 0;
                if (kind >= 965) {
                    // 8-bit data or a waiting indication: stored, never forwarded.
                    row.codeType = 1;
                    row.flag = 0;
                    row.hdTime = 0;
                } else if (kind >= 960) {
                    row.flag = 10;
                }
                const int octets = ucs2Text ? 20 + 2 * random.below(50) : 20 + random.below(100);
                row.ud = randomHex(random, octets);
                if (parts > 1 || waitingPart) {
                    row.partType = 1;
                    row.partCount = waitingPart ? 3 : parts;
                    row.partIndex = index;
                    row.partId = hex2(ref);
                    row.udh = partHeader(ref, row.partCount, index);
                } else {
                    row.partId = QStringLiteral("");
                    row.udh = QStringLiteral("");
                }
                if (waitingPart) {
                    row.flag = 0;
                    row.hdTime = 0;
                    row.recvTime = end + 7000;
                }
                const int dcs = row.codeType == 1 ? 0x04 : row.codeType == 2 ? 0x08 : 0x00;
                row.pdu = deliver(sender, dcs, row.udh, row.ud);
            }
            int pos = 0;
            insert->bindValue(pos++, row.port);
            insert->bindValue(pos++, QStringLiteral("86691203456789%1").arg(sim, 2, 10, QLatin1Char('0')));
            insert->bindValue(pos++, row.sim);
            insert->bindValue(pos++, row.pdu);
            insert->bindValue(pos++, row.recvTime);
            insert->bindValue(pos++, row.flag);
            insert->bindValue(pos++, row.hdTime);
            insert->bindValue(pos++, row.recvType);
            if (row.recvType != 0) {
                for (; pos < 19; ++pos) {
                    insert->bindValue(pos, pos == 16 ? QVariant(1) : QVariant());
                }
                insert->bindValue(pos++, 0);
            } else {
                insert->bindValue(pos++, 0);
                insert->bindValue(pos++, row.sender);
                insert->bindValue(pos++, QStringLiteral("2024-05-23 14:30:05"));
                insert->bindValue(pos++, 0);
                insert->bindValue(pos++, row.codeType);
                insert->bindValue(pos++, row.partType);
                insert->bindValue(pos++, row.partId);
                insert->bindValue(pos++, row.partIndex);
                insert->bindValue(pos++, row.partCount);
                insert->bindValue(pos++, row.udh);
                insert->bindValue(pos++, row.ud);
                insert->bindValue(pos++, row.codeType == 1 ? 0 : 1);
            }
            ok = insert->exec();
            ++written;
        }
        if (written % 1000000 == 0) {
            out << "    " << written << " rows, " << timer.elapsed() / 1000 << " s" << Qt::endl;
        }
    }
    insert.reset();
    ok = ok && DatabaseTable::execSql(conn, QStringLiteral("COMMIT"));
    out << "    rows written in " << timer.elapsed() / 1000.0 << " s" << Qt::endl;
    ok = ok && DatabaseTable::execSql(conn, QString::fromLatin1(RecvSql::createUnique));
    out << "    unique index made at " << timer.elapsed() / 1000.0 << " s" << Qt::endl;
    DatabaseTable::closeDb(conn);
    return ok;
}

double medianMs(std::vector<qint64> nanos)
{
    std::sort(nanos.begin(), nanos.end());
    return nanos.empty() ? 0.0 : nanos[nanos.size() / 2] / 1e6;
}

// Times `work` `rounds` times; `prepare` runs untimed before each round.
double timeMedian(int rounds, const std::function<void()>& prepare, const std::function<void()>& work)
{
    std::vector<qint64> nanos;
    QElapsedTimer timer;
    for (int i = 0; i < rounds; ++i) {
        prepare();
        timer.start();
        work();
        nanos.push_back(timer.nsecsElapsed());
    }
    return medianMs(nanos);
}

int sink = 0;

void benchSize(const QString& base, int size, bool rebuild)
{
    const QString dataRoot = base + QStringLiteral("/n%1").arg(size);
    const QString path = dataRoot + QStringLiteral("/VLSMS/sms-r.db");
    qputenv("APPDATA", dataRoot.toUtf8());
    testStore().closeLocalDb();
    // The first open of a store built here takes it to this version's layout.
    const bool migrates = rebuild || !QFileInfo::exists(path);
    if (migrates) {
        out << size << " rows: building" << Qt::endl;
        QDir(dataRoot).removeRecursively();
        QDir().mkpath(dataRoot + QStringLiteral("/VLSMS"));
        if (!buildStore(path, size)) {
            out << "    build failed" << Qt::endl;
            return;
        }
    }
    QElapsedTimer openTimer;
    openTimer.start();
    if (!testStore().openLocalDb()) {
        out << "    open failed: " << testStore().localDbError() << Qt::endl;
        return;
    }
    const qint64 openMs = openTimer.elapsed();

    // One tick with nothing to forward: the pick finds only incomplete groups
    // and never-forwarded kinds; the sync panel reads its two values.
    const double tick = timeMedian(
        301, [] {},
        [] {
            QList<MyRecvSms*> list;
            sink += testStore().pickNext(list) ? 1 : 0;
            qDeleteAll(list);
            sink += testStore().countPending();
            sink += testStore().lastHandledTime().size();
            sink += testStore().judgeWaiting();
        });
    // The fifth-minute expiry run on the same store.
    const double expiry = timeMedian(
        101, [] {}, [] { sink += testStore().expireParts() ? 1 : 0; });

    // The message work is timed twice: as the store runs, with a flush of the
    // log to disk at every commit, and without that flush, which shows the
    // store's own share apart from the disk's.
    const double megabytes = QFileInfo(path).size() / 1048576.0;
    out << QStringLiteral("%1 rows (%2 MB): open%3 %4 ms | idle tick %5 ms | expiry run %6 ms")
               .arg(size)
               .arg(megabytes, 0, 'f', 0)
               .arg(migrates ? QStringLiteral(" (changing the layout)") : QString())
               .arg(openMs)
               .arg(tick, 0, 'f', 3)
               .arg(expiry, 0, 'f', 3)
        << Qt::endl;
    // Messages of this run differ from those of earlier runs on the same store.
    const qint64 runTag = QDateTime::currentMSecsSinceEpoch() % 100000000;
    int serial = 0;
    int message = 0;
    int refused = 0;
    for (const char* mode : {"FULL", "NORMAL"}) {
        DatabaseTable::execSql(QStringLiteral("VLSMSDB"),
                               QStringLiteral("PRAGMA synchronous=") + QLatin1String(mode));
        // One received message and the receive panel's queries.
        const double insert = timeMedian(
            201, [] {},
            [&serial, &refused, runTag] {
                const QString pdu = ucs2(QStringLiteral("13812345678"),
                                         QStringLiteral("验证码 %1 %2").arg(runTag).arg(++serial));
                if (!testStore().insertRecv(QStringLiteral("COM3"), QStringLiteral("IMEI"), simNumber(1),
                                            pdu)) {
                    ++refused;
                }
                sink += testStore().countAll();
                sink += testStore().lastSender().size();
                sink += testStore().lastRecvTime().size();
                sink += testStore().countPending();
            });
        // Forward the singles just stored so that the next step finds a group.
        for (;;) {
            QList<MyRecvSms*> list;
            if (!testStore().pickNext(list) || list.isEmpty()) {
                break;
            }
            for (MyRecvSms* sms : qAsConst(list)) {
                testStore().markHandled(sms->tow_id, 1);
            }
            qDeleteAll(list);
        }

        // Picking and marking one three-part message.
        const double pick = timeMedian(
            101,
            [&message, &refused, runTag] {
                ++message;
                const QString sender =
                    QStringLiteral("139%1").arg((runTag + message) % 100000000, 8, 10, QLatin1Char('0'));
                for (int index = 1; index <= 3; ++index) {
                    if (!testStore().insertRecv(QStringLiteral("COM4"), QStringLiteral("IMEI"), simNumber(2),
                                                ucs2(sender,
                                                     QStringLiteral("第%1段 %2").arg(index).arg(runTag),
                                                     partHeader(message & 0xFF, 3, index)))) {
                        ++refused;
                    }
                }
            },
            [] {
                QList<MyRecvSms*> list;
                testStore().pickNext(list);
                for (MyRecvSms* sms : qAsConst(list)) {
                    sink += testStore().markHandled(sms->tow_id, 1) ? 1 : 0;
                }
                sink += list.size();
                qDeleteAll(list);
            });

        out << QStringLiteral("    synchronous=%1: insert+panel %2 ms | pick+mark 3 parts %3 ms")
                   .arg(QLatin1String(mode))
                   .arg(insert, 0, 'f', 3)
                   .arg(pick, 0, 'f', 3)
            << Qt::endl;
    }
    if (refused > 0) {
        out << "    " << refused << " inserts refused: the figures above do not count" << Qt::endl;
    }
    testStore().closeLocalDb();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QString base = QDir::tempPath() + QStringLiteral("/vlsms-store-bench");
    QList<int> sizes{10000, 100000, 1000000, 10000000};
    bool rebuild = false;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--dir") && i + 1 < args.size()) {
            base = args.at(++i);
        } else if (args.at(i) == QLatin1String("--sizes") && i + 1 < args.size()) {
            sizes.clear();
            for (const QString& size : args.at(++i).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
                sizes << size.toInt();
            }
        } else if (args.at(i) == QLatin1String("--rebuild")) {
            rebuild = true;
        }
    }
    for (const int size : qAsConst(sizes)) {
        benchSize(base, size, rebuild);
    }
    return sink == 42 ? 1 : 0;
}
