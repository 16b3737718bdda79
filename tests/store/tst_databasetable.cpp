#include "core/databasebindquery.h"
#include "store/databasetable.h"

#include <QRegularExpression>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <QtTest>

// The contract of the SQLite access layer: named connections, scalar queries,
// the prepared-statement wrapper.

const QString conn = QStringLiteral("T");
class TstDatabaseTable : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        dir = new QTemporaryDir;
        QVERIFY(dir->isValid());
    }

    void cleanup()
    {
        DatabaseTable::closeDb(conn);
        delete dir;
        dir = nullptr;
    }

    void openTwiceKeepsFirstFile()
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

    void openRefusals_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("name");
        QTest::newRow("directory that does not exist") << QStringLiteral("no/such/dir/x.db") << conn;
        QTest::newRow("path is a directory") << QString() << conn;
        QTest::newRow("empty connection name") << QStringLiteral("x.db") << QString();
    }

    void openRefusals()
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

    void scalarQueries()
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

private:
    QTemporaryDir* dir = nullptr;
    QString path(const QString& name) const { return dir->filePath(name); }
};

QTEST_GUILESS_MAIN(TstDatabaseTable)
#include "tst_databasetable.moc"
