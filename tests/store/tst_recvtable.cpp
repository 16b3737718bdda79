#include "core/clock.h"
#include "core/mysetting.h"
#include "store/databasetable.h"
#include "store/myrecvsms.h"
#include "store/recvsql.h"
#include "support/storefixture.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QTextStream>
#include <QtTest>

using namespace StoreFixture;

// The received-message table: inserts, counters, files made elsewhere, files
// that cannot be opened, and durability.

namespace {

const QString sim = QStringLiteral("89860012345678901234");
const QString senderNo = QStringLiteral("13800138000");

// Runs statements on a file as an earlier program would, the table made first
// if asked.
void makeLegacyFile(const QString& path, const QStringList& statements, bool table = true)
{
    const QString legacy = QStringLiteral("legacy");
    QVERIFY(DatabaseTable::openDb(path, legacy));
    QVERIFY(!table || DatabaseTable::execSql(legacy, QString::fromLatin1(RecvSql::createTable)));
    for (const QString& sql : statements) {
        QVERIFY(DatabaseTable::execSql(legacy, sql));
    }
    QVERIFY(DatabaseTable::closeDb(legacy));
}

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace
class TstRecvTable : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        dir = new QTemporaryDir;
        QVERIFY(dir->isValid());
        AppClock::setOffsetMs(0);
    }

    void cleanup()
    {
        testStore().closeLocalDb();
        AppClock::setOffsetMs(0);
        delete dir;
        dir = nullptr;
    }

    // A row is on the disk before insertRecv answers, so the SIM copy may go:
    // each commit waits for the disk (FULL, 2), even in WAL mode, whatever the
    // connection started with.
    void commitsWaitForTheDisk()
    {
        QVERIFY(QDir().mkpath(dir->path() + QStringLiteral("/VLSMS")));
        QVERIFY(DatabaseTable::openDb(dir->path() + QStringLiteral("/VLSMS/sms-r.db"),
                                      QStringLiteral("VLSMSDB")));
        QVERIFY(DatabaseTable::execSql(QStringLiteral("VLSMSDB"), QStringLiteral("PRAGMA synchronous=OFF")));
        qputenv("APPDATA", dir->path().toUtf8());
        QVERIFY(testStore().openLocalDb());
        int synchronous = -1;
        QVERIFY(DatabaseTable::execScalar(QStringLiteral("VLSMSDB"), QStringLiteral("PRAGMA synchronous"),
                                          synchronous));
        QCOMPARE(synchronous, 2);
    }

    void insertColumns_data()
    {
        QTest::addColumn<QString>("pdu");
        QTest::addColumn<QString>("stored");
        // sms_recvtype, _pid, _sender, _stamp, _codegroup, _codetype, _part_type,
        // _part_id, _part_index, _part_count, _userdata_head, _userdata_value,
        // _text, joined by '|'; "~" for NULL.
        QTest::addColumn<QString>("columns");
        const QString single = ucs2(senderNo, QStringLiteral("你好"));
        const QString singleColumns = "0|0|" + senderNo + "|2019-05-23 14:30:05|0|2|0||0|0||4F60597D|1";
        QTest::newRow("single UCS2") << single << single << singleColumns;
        QTest::newRow("modem header line before the PDU")
            << QStringLiteral("+CMGR: 0,,24\r\n  ") + single + QStringLiteral("  \r\n") << single
            << singleColumns;
        QTest::newRow("status report, raw")
            << statusReport(5) << statusReport(5) << "2|0|~|~|0|0|0|~|0|1|~|~|0";
    }

    void insertColumns()
    {
        QFETCH(QString, pdu);
        QFETCH(QString, stored);
        QFETCH(QString, columns);
        QVERIFY(openFreshStore(*dir));
        QVERIFY(testStore().insertRecv(QStringLiteral("COM3"), QStringLiteral("IMEI"), sim, pdu));
        const int id = lastTowId();
        QStringList got;
        for (const char* name :
             {"port_no", "dev_no", "sim_no", "txt_pdu", "hd_flag", "hd_time", "sms_recvtype", "sms_pid",
              "sms_sender", "sms_stamp", "sms_codegroup", "sms_codetype", "sms_part_type", "sms_part_id",
              "sms_part_index", "sms_part_count", "sms_userdata_head", "sms_userdata_value", "sms_text"}) {
            const QVariant value = column(id, QLatin1String(name));
            got << (value.isNull() ? QStringLiteral("~") : value.toString());
        }
        QCOMPARE(got.join('|'), QStringList({"COM3", "IMEI", sim, stored, "0|0", columns}).join('|'));
    }

    // No port, no SIM number or no PDU: refused, nothing stored.
    void insertRefusals()
    {
        QVERIFY(openFreshStore(*dir));
        const QString pdu = ucs2(senderNo, QStringLiteral("x"));
        using Outcome = RecvStore::InsertOutcome;
        QCOMPARE(testStore().insertRecvOutcome(QString(), "IMEI", sim, pdu), Outcome::Failed);
        QCOMPARE(testStore().insertRecvOutcome("COM3", "IMEI", QString(), pdu), Outcome::Failed);
        QCOMPARE(testStore().insertRecvOutcome("COM3", "IMEI", sim, " \r\n\r\n"), Outcome::Failed);
        QCOMPARE(lastTowId(), 0);
    }

    void duplicates()
    {
        QVERIFY(openFreshStore(*dir));
        const QString pdu = ucs2(senderNo, QStringLiteral("again"));
        using Outcome = RecvStore::InsertOutcome;
        QCOMPARE(testStore().insertRecvOutcome("COM3", "IMEI", sim, pdu), Outcome::Stored);
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^exec - error: .*UNIQUE")));
        QCOMPARE(testStore().insertRecvOutcome("COM4", "IMEI2", sim, pdu), Outcome::AlreadyStored);
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^exec - error: ")));
        QVERIFY(!testStore().insertRecv("COM3", "IMEI", sim, QStringLiteral("+CMGR: 0\r\n") + pdu));
        QCOMPARE(testStore().countAll(), 1);
    }

    // A PDU that cannot be decoded is kept as it came, counted, and never
    // forwarded; the same one read again is the same message.
    void undecodableIsKeptNotForwarded()
    {
        const QString whole = ucs2(senderNo, QStringLiteral("hello"));
        const QString pdu = whole.left(whole.size() - 6);
        QVERIFY(openFreshStore(*dir));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("undecodable PDU")));
        QCOMPARE(testStore().insertRecvOutcome("COM3", "IMEI", sim, pdu), RecvStore::InsertOutcome::Stored);
        QCOMPARE(column(lastTowId(), "txt_pdu").toString(), pdu);
        QCOMPARE(column(lastTowId(), "hd_flag").toInt(), 11);
        QCOMPARE(testStore().countUndecodable(), 1);
        QCOMPARE(testStore().countPending(), 0);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("undecodable PDU")));
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^exec - error: .*UNIQUE")));
        QCOMPARE(testStore().insertRecvOutcome("COM3", "IMEI", sim, pdu),
                 RecvStore::InsertOutcome::AlreadyStored);
    }

    void rowsOfEveryVersionAreJudged_data()
    {
        QTest::addColumn<bool>("textColumn"); // the file has sms_text, added with DEFAULT 0
        QTest::addColumn<bool>("whileOpen");  // the row is written while the store is open
        QTest::addColumn<QString>("pdu");
        QTest::addColumn<int>("flag");
        QTest::addColumn<int>("text");
        const QString flash = sevenBit(senderNo, "code 4711", QString(), 0xF0);
        QTest::newRow("before the column: flash text of group 1111 is text")
            << false << false << flash << 0 << 1;
        QTest::newRow("before the column: 8-bit data is not")
            << false << false << eightBit(senderNo, "\x01\x02") << 0 << 0;
        QTest::newRow("default 0: text an older program wrote is text")
            << true << false << ucs2(senderNo, QStringLiteral("你好")) << 0 << 1;
        const QString whole = ucs2(senderNo, QStringLiteral("hello"));
        QTest::newRow("default 0: a cut PDU is undecodable")
            << true << false << whole.left(whole.size() - 6) << 11 << 0;
        QTest::newRow("written while open, without the flag: judged when found waiting")
            << true << true << ucs2(senderNo, QStringLiteral("later")) << 0 << 1;
    }

    // Rows that older programs wrote, into files of every earlier layout,
    // are forwarded exactly when their PDU holds text.
    void rowsOfEveryVersionAreJudged()
    {
        QFETCH(bool, textColumn);
        QFETCH(bool, whileOpen);
        QFETCH(QString, pdu);
        QFETCH(int, flag);
        QFETCH(int, text);
        QDir(dir->path()).mkpath(QStringLiteral("VLSMS"));
        const QString path = dir->path() + QStringLiteral("/VLSMS/sms-r.db");
        const QString insert =
            QStringLiteral(
                "INSERT INTO t_recv (port_no,dev_no,sim_no,recv_time,txt_pdu,sms_codegroup,sms_codetype,"
                "hd_flag,sms_part_type) VALUES ('C','I','%1',100,'%2',0,2,0,0)")
                .arg(sim, pdu);
        const QString alter = QStringLiteral("ALTER TABLE t_recv ADD COLUMN sms_text INTEGER DEFAULT 0");
        makeLegacyFile(path, !textColumn ? QStringList{insert}
                             : whileOpen ? QStringList{alter}
                                         : QStringList{alter, insert});
        qputenv("APPDATA", dir->path().toUtf8());
        if (flag == 11) {
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("undecodable PDU")));
        }
        QVERIFY(testStore().openLocalDb());
        if (whileOpen) {
            makeLegacyFile(path, {insert}, false);
        }
        QCOMPARE(testStore().judgeWaiting(), whileOpen ? 1 : 0);
        QCOMPARE(column(1, QStringLiteral("sms_text")).toInt(), text);
        QCOMPARE(column(1, QStringLiteral("hd_flag")).toInt(), flag);
        QCOMPARE(testStore().firstSingle(), text == 1 ? 1 : -5);
    }

    // A file that is not a store is left as it is, never written over, and
    // the operator learns which file and why.
    void garbledFileIsLeftAlone()
    {
        QFile::remove(QStringLiteral("comlog-main.txt"));
        const QString path = dir->path() + QStringLiteral("/VLSMS/sms-r.db");
        QVERIFY(QDir().mkpath(dir->path() + QStringLiteral("/VLSMS")));
        makeLegacyFile(
            path,
            {"INSERT INTO t_recv (port_no,dev_no,sim_no,recv_time,txt_pdu) VALUES ('C','I','8986',1,'AA')"});
        QByteArray before = fileBytes(path);
        before.replace(0, 16, "not SQLite hdr!");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(before) == before.size());
        file.close();
        qputenv("APPDATA", dir->path().toUtf8());
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^LOCAL DB OPEN FAILED: ")));
        QVERIFY(!testStore().openLocalDb());
        QVERIFY(!testStore().insertRecv("COM3", "IMEI", sim, ucs2(senderNo, QStringLiteral("lost?"))));
        const QString log = QString::fromUtf8(fileBytes(QStringLiteral("comlog-main.txt")));
        QVERIFY2(log.contains(path) && log.contains(testStore().localDbError()), qPrintable(log));
        QCOMPARE(fileBytes(path), before);
    }

    void acceptedRowSurvivesKill()
    {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("APPDATA"), dir->path());
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--insert-and-wait")});
        QVERIFY(child.waitForStarted(10000));
        QByteArray said;
        while (!said.contains('\n') && child.waitForReadyRead(10000)) {
            said += child.readAllStandardOutput();
        }
        QCOMPARE(said.trimmed(), QByteArray("stored"));
        child.kill();
        QVERIFY(child.waitForFinished(10000));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);

        qputenv("APPDATA", dir->path().toUtf8());
        QVERIFY(testStore().openLocalDb());
        QCOMPARE(testStore().lastSender(), senderNo);
    }

private:
    QTemporaryDir* dir = nullptr;
};

// Child mode for the durability test: store one message, say so, then wait
// to be killed.
static int insertAndWait()
{
    if (!testStore().openLocalDb() ||
        !testStore().insertRecv("COM3", "IMEI", sim, ucs2(senderNo, QStringLiteral("survive")))) {
        return 1;
    }
    QTextStream(stdout) << "stored" << Qt::endl;
    QThread::sleep(60);
    return 2;
}

int main(int argc, char** argv)
{
    qputenv("TZ", "UTC");
    QCoreApplication app(argc, argv);
    if (argc > 1 && qstrcmp(argv[1], "--insert-and-wait") == 0) {
        return insertAndWait();
    }
    TstRecvTable test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_recvtable.moc"
