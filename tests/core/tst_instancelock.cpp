#include "core/datadir.h"
#include "core/instancelock.h"

#include <QLockFile>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <thread>

// One process per data directory, and a status query that tests the lock at
// the moment the service starts must not make the start fail.
class TestInstanceLock : public QObject
{
    Q_OBJECT

private slots:
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
        setDataDirOverride(QString());
    }
};

QTEST_GUILESS_MAIN(TestInstanceLock)
#include "tst_instancelock.moc"
