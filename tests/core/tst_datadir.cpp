#include "core/datadir.h"
#include "core/instancelock.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <thread>

// Where the data directory is, and one process per data directory.

class TestDataDir : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        qunsetenv("APPDATA");
        qunsetenv("XDG_DATA_HOME");
        qputenv("HOME", savedHome);
        setDataDirOverride(QString());
    }

    void path_data()
    {
        QTest::addColumn<QByteArray>("appdata"); // "<unset>" leaves the variable out
        QTest::addColumn<QByteArray>("xdg");
        QTest::addColumn<QString>("expected");

        const auto row = [](const char* name, const char* appdata, const char* xdg, const char* expected) {
            QTest::newRow(name) << QByteArray(appdata) << QByteArray(xdg) << QString(expected);
        };
        row("windows path, backslashes turned", "C:\\Users\\a\\AppData\\Roaming", "<unset>",
            "C:/Users/a/AppData/Roaming/VLSMS");
        row("no APPDATA: XDG data home", "<unset>", "/xdg/data", "/xdg/data/VLSMS");
        row("no APPDATA, no XDG: ~/.local/share", "<unset>", "<unset>", "/home/op/.local/share/VLSMS");
    }

    void path()
    {
        QFETCH(QByteArray, appdata);
        QFETCH(QByteArray, xdg);
        QFETCH(QString, expected);
        if (appdata != "<unset>") {
            qputenv("APPDATA", appdata);
        }
        if (xdg != "<unset>") {
            qputenv("XDG_DATA_HOME", xdg);
        }
        qputenv("HOME", "/home/op");
        QCOMPARE(dataDir(), expected);
    }

    void ensureCreatesAllLevels()
    {
        QTemporaryDir tmp;
        qputenv("APPDATA", tmp.filePath(QStringLiteral("a/b/c")).toUtf8());
        ensureDataDir();
        QVERIFY(QFileInfo(dataDir()).isDir());
#ifndef Q_OS_WIN
        // It holds the messages and the MySQL password: its owner's only.
        QCOMPARE(QFile::permissions(dataDir()) & 0x7077,
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
#endif
    }

    // A status query that tests the lock at the moment the service starts
    // must not make the start fail.
    void startMeetsAHeldLock_data()
    {
        QTest::addColumn<int>("heldMs"); // -1: held throughout, as by a running instance
        QTest::addColumn<bool>("acquired");

        QTest::newRow("a status query's probe holds it for a moment") << 200 << true;
        QTest::newRow("a running instance holds it") << -1 << false;
    }

    void startMeetsAHeldLock()
    {
        QFETCH(int, heldMs);
        QFETCH(bool, acquired);
        QTemporaryDir dir;
        setDataDirOverride(dir.path());

        QLockFile other(dir.filePath(QStringLiteral("vlsms.lock")));
        QVERIFY(other.tryLock(0));
        // The other holder lets go after its moment, as the probe does.
        std::thread release([&other, heldMs] {
            if (heldMs > 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(heldMs));
                other.unlock();
            }
        });
        InstanceLock lock;
        const bool got = lock.acquire();
        release.join();
        QCOMPARE(got, acquired);
        QCOMPARE(InstanceLock::isHeld(), true);
    }

private:
    QByteArray savedHome = qgetenv("HOME");
};

QTEST_GUILESS_MAIN(TestDataDir)
#include "tst_datadir.moc"
