#include "core/databasebindquery.h"
#include "store/databasetable.h"

#include <QRegularExpression>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <QtTest>

// The contract of the SQLite access layer: named connections, scalar queries,
// the prepared-statement wrapper and its diagnostics.
class TstDatabaseTable : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void openTwiceKeepsFirstFile();
    void openRefusals_data();
    void openRefusals();
    void scalarQueries();
    void unopenedQueryIsInert();
    void uniqueViolation();
    void diagnostics_data();
    void diagnostics();

private:
    QTemporaryDir* dir = nullptr;
    QString path(const QString& name) const { return dir->filePath(name); }
};

const QString conn = QStringLiteral("T");
int messages = 0;

void countMessage(QtMsgType, const QMessageLogContext&, const QString&)
{
    ++messages;
}

void TstDatabaseTable::init()
{
    dir = new QTemporaryDir;
    QVERIFY(dir->isValid());
}

void TstDatabaseTable::cleanup()
{
    DatabaseTable::closeDb(conn);
    delete dir;
    dir = nullptr;
}

void TstDatabaseTable::openTwiceKeepsFirstFile()
{
    QVERIFY(DatabaseTable::openDb(path(QStringLiteral("a.db")), conn));
    QVERIFY(DatabaseTable::openDb(path(QStringLiteral("b.db")), conn));
    QVERIFY(DatabaseTable::execSql(conn, QStringLiteral("CREATE TABLE t (x INTEGER)")));
    QVERIFY(DatabaseTable::closeDb(conn));
    QVERIFY(!QSqlDatabase::contains(conn));
    QVERIFY(!DatabaseTable::closeDb(conn));

    QVERIFY(DatabaseTable::openDb(path(QStringLiteral("a.db")), conn));
    QVERIFY(DatabaseTable::tableExists(conn, QStringLiteral("t")));
    QVERIFY(DatabaseTable::closeDb(conn));
    QVERIFY(!QFile::exists(path(QStringLiteral("b.db"))));
}

void TstDatabaseTable::openRefusals_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("name");
    QTest::newRow("directory that does not exist") << QStringLiteral("no/such/dir/x.db") << conn;
    QTest::newRow("path is a directory") << QString() << conn;
    QTest::newRow("empty connection name") << QStringLiteral("x.db") << QString();
}

void TstDatabaseTable::openRefusals()
{
    QFETCH(QString, file);
    QFETCH(QString, name);
    QString error;
    QVERIFY(!DatabaseTable::openDb(file.isEmpty() ? dir->path() : path(file), name, error));
    QVERIFY(!error.isEmpty());
    // The name is free again: a later open with a good path works.
    QVERIFY(!QSqlDatabase::contains(conn));
    if (!name.isEmpty()) {
        QVERIFY(DatabaseTable::openDb(path(QStringLiteral("good.db")), name));
    }
}

void TstDatabaseTable::scalarQueries()
{
    QVERIFY(DatabaseTable::openDb(path(QStringLiteral("s.db")), conn));
    QVERIFY(!DatabaseTable::tableExists(conn, QStringLiteral("t")));
    QVERIFY(DatabaseTable::execSql(conn, QStringLiteral("CREATE TABLE t (x INTEGER)")));
    QVERIFY(DatabaseTable::tableExists(conn, QStringLiteral("t")));

    int value = 42;
    QVERIFY(!DatabaseTable::execScalar(conn, QStringLiteral("SELECT x FROM t"), value));
    QCOMPARE(value, 42);
    QVERIFY(DatabaseTable::execSql(conn, QStringLiteral("INSERT INTO t VALUES (7)")));
    QVERIFY(DatabaseTable::execScalar(conn, QStringLiteral("SELECT x FROM t"), value));
    QCOMPARE(value, 7);

    const QString unknown = QStringLiteral("nobody");
    QVERIFY(!DatabaseTable::execSql(unknown, QStringLiteral("SELECT 1")));
    QVERIFY(!DatabaseTable::execScalar(unknown, QStringLiteral("SELECT 1"), value));
    QVERIFY(!DatabaseTable::tableExists(QString(), QStringLiteral("t")));
}

void TstDatabaseTable::unopenedQueryIsInert()
{
    QVERIFY(DatabaseTable::openDb(path(QStringLiteral("u.db")), conn));
    DatabaseBindQuery query;
    QVERIFY(!query.open(QStringLiteral("nobody")));
    QVERIFY(!query.open(QString()));
    // An unopened query stays silent.
    messages = 0;
    const QtMessageHandler previous = qInstallMessageHandler(countMessage);
    QVERIFY(!query.prepare(QStringLiteral("SELECT 1")));
    query.bindValue(0, 1);
    QVERIFY(!query.exec());
    QVERIFY(!query.next());
    QCOMPARE(query.numRowsAffected(), -1);
    qInstallMessageHandler(previous);
    QCOMPARE(messages, 0);
    QVERIFY(query.errorText().isEmpty());

    QVERIFY(query.open(conn));
    QVERIFY(!query.open(conn));
}

void TstDatabaseTable::uniqueViolation()
{
    QVERIFY(DatabaseTable::openDb(path(QStringLiteral("v.db")), conn));
    QVERIFY(DatabaseTable::execSql(conn, QStringLiteral("CREATE TABLE t (a TEXT, b TEXT)")));
    QVERIFY(DatabaseTable::execSql(conn, QStringLiteral("CREATE UNIQUE INDEX t_un ON t (a,b)")));
    for (int round = 0; round < 2; ++round) {
        DatabaseBindQuery query;
        QVERIFY(query.open(conn));
        QVERIFY(query.prepare(QStringLiteral("INSERT INTO t (a,b) VALUES (?,?)")));
        query.bindValue(0, QStringLiteral("sim"));
        query.bindValue(1, QStringLiteral("pdu"));
        if (round == 0) {
            QVERIFY(query.exec());
            QCOMPARE(query.numRowsAffected(), 1);
        } else {
            QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^exec - error: .*UNIQUE")));
            QVERIFY(!query.exec());
            QVERIFY(query.errorText().contains(QLatin1String("UNIQUE")));
        }
    }
    int count = 0;
    QVERIFY(DatabaseTable::execScalar(conn, QStringLiteral("SELECT count(*) FROM t"), count));
    QCOMPARE(count, 1);
}

void TstDatabaseTable::diagnostics_data()
{
    QTest::addColumn<int>("step");
    QTest::addColumn<QString>("pattern");
    QTest::newRow("execSql") << 0 << QStringLiteral("^sql:\\[SELEC nonsense\\], error: .+");
    QTest::newRow("execScalar") << 1 << QStringLiteral("^sql:\\[SELEC nonsense\\], error: .+");
    QTest::newRow("prepare") << 2 << QStringLiteral("^query:\\[SELEC nonsense\\] error: .+");
    QTest::newRow("exec") << 3 << QStringLiteral("^exec - error: .+");
}

void TstDatabaseTable::diagnostics()
{
    QFETCH(int, step);
    QFETCH(QString, pattern);
    QVERIFY(DatabaseTable::openDb(path(QStringLiteral("d.db")), conn));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(pattern));
    const QString bad = QStringLiteral("SELEC nonsense");
    int value = 0;
    DatabaseBindQuery query;
    switch (step) {
    case 0:
        QVERIFY(!DatabaseTable::execSql(conn, bad));
        break;
    case 1:
        QVERIFY(!DatabaseTable::execScalar(conn, bad, value));
        break;
    case 2:
        QVERIFY(query.open(conn));
        QVERIFY(!query.prepare(bad));
        QVERIFY(!query.errorText().isEmpty());
        break;
    default:
        // Prepared against a table that is gone by the time it runs.
        QVERIFY(DatabaseTable::execSql(conn, QStringLiteral("CREATE TABLE g (x)")));
        QVERIFY(query.open(conn));
        QVERIFY(query.prepare(QStringLiteral("INSERT INTO g VALUES (?)")));
        QVERIFY(DatabaseTable::execSql(conn, QStringLiteral("DROP TABLE g")));
        query.bindValue(0, 1);
        QVERIFY(!query.exec());
        break;
    }
}

QTEST_GUILESS_MAIN(TstDatabaseTable)
#include "tst_databasetable.moc"
