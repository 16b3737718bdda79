// The programs' files, tried on the real executables: the service refuses a
// settings file it cannot read, the window runs on the defaults and still
// stops at once on SIGTERM, everything they write is private (metrics.prom
// readable by the group too), and the service tells systemd how it does.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSerialPortInfo>
#include <QTemporaryDir>
#include <QTest>

#ifndef Q_OS_WIN
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#endif

class TestVlsmsdFiles : public QObject
{
    Q_OBJECT

private slots:
    void brokenSettings_data()
    {
        QTest::addColumn<QString>("program");
        QTest::newRow("the service refuses to start") << QStringLiteral(VLSMSD_BIN);
#if defined(VLSMS_BIN) && !defined(Q_OS_WIN)
        QTest::newRow("the window warns; SIGTERM ends it with the warning up") << QStringLiteral(VLSMS_BIN);
#endif
    }

    void brokenSettings()
    {
        QFETCH(QString, program);
        const bool window = program != QStringLiteral(VLSMSD_BIN);
        const QByteArray content("host is db1, port 3306\n");
        const QString ini = data() + QStringLiteral("/settings.ini");
        QDir(data()).removeRecursively();
        QVERIFY(QDir().mkpath(data()));
        QFile file(ini);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
        file.close();

        QProcess process;
        start(process, program);
        QElapsedTimer stop;
        if (window) {
            // The status file is written from the event loop, which runs in the warning's box.
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(data() + QStringLiteral("/status.json")), 20000);
            stop.start();
            process.terminate();
        }
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitCode(), window ? 0 : 1);
        const QString said = QString::fromUtf8(process.readAllStandardError());
        QVERIFY2(window ? stop.elapsed() < 2000
                        : said.contains(ini) && said.contains(QStringLiteral("not starting")),
                 qPrintable(said + QString::number(stop.elapsed())));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), content);
    }

    // The real service under a notification socket of the test's own, as
    // systemd would listen: ready, a status line, the watchdog fed every
    // tick, "stopping" on SIGTERM; and everything it writes private.
    void runsAsAService()
    {
#ifdef Q_OS_WIN
        QSKIP("file modes and notification sockets are POSIX");
#else
        QDir(data()).removeRecursively();
        QVERIFY(QDir().mkpath(data()));
        QStringList machinePorts;
        for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
            machinePorts << info.portName();
        }
        // No modem, no server (port 1 refuses at once).
        QFile ini(data() + QStringLiteral("/settings.ini"));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[General]\nMYSQL_PORT=1\nDEF_IGNORE=\"" + machinePorts.join(',').toUtf8() + "\"\n");
        ini.close();
        const QByteArray socketPath = dir.filePath(QStringLiteral("notify")).toUtf8();
        const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un address{AF_UNIX, {}};
        qstrncpy(address.sun_path, socketPath.constData(), sizeof(address.sun_path));
        QVERIFY(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0);
        QByteArrayList said;
        const auto heard = [&](const QByteArray& what) {
            char buffer[4096];
            for (ssize_t n; (n = recv(fd, buffer, sizeof(buffer), 0)) > 0;) {
                said += QByteArray(buffer, int(n)).split('\n');
            }
            return said.count(what);
        };
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("NOTIFY_SOCKET"), QString::fromUtf8(socketPath));
        env.insert(QStringLiteral("WATCHDOG_USEC"), QStringLiteral("4000000"));
        program.setProcessEnvironment(env);
        start(program);
        // settings.ini is the test's, restricted by the program once it has read it.
        const QStringList made = {"sms-r.db",   "sms-r.db-wal",       "sms-r.db-shm", "status.json",
                                  "vlsms.lock", "../comlog-main.txt", "settings.ini", "metrics.prom"};
        for (const QString& name : made) {
            const QString path = data() + QLatin1Char('/') + name;
            QTRY_VERIFY2_WITH_TIMEOUT(QFileInfo::exists(path), qPrintable(path), 20000);
            // metrics.prom is for a monitoring agent let into the group.
            const auto group =
                name == QLatin1String("metrics.prom") ? QFileDevice::ReadGroup : QFileDevice::Permissions();
            QCOMPARE(QFile::permissions(path) & 0x7077,
                     QFileDevice::ReadOwner | QFileDevice::WriteOwner | group);
        }
#ifdef VLSMS_SYSTEMD
        // The status line as `systemctl status` shows it.
        QTRY_VERIFY_WITH_TIMEOUT(heard("READY=1") == 1 && heard("WATCHDOG=1") >= 2 &&
                                     said.join('\n').contains(" pending; MySQL link "),
                                 20000);
#endif
        program.terminate();
        QVERIFY(program.waitForFinished(15000));
#ifdef VLSMS_SYSTEMD
        QCOMPARE(heard("STOPPING=1"), 1);
#endif
        ::close(fd);
#endif
    }

private:
    QTemporaryDir dir;
    QString data() const
    {
        return dir.filePath(QStringLiteral("VLSMS"));
    }
    // The window reads APPDATA, the service --data-dir: both the same directory.
    // An environment the caller gave the process is kept.
    void start(QProcess& process, const QString& program = QStringLiteral(VLSMSD_BIN))
    {
        QProcessEnvironment env = process.processEnvironment();
        if (env.isEmpty()) {
            env = QProcessEnvironment::systemEnvironment();
        }
        env.insert(QStringLiteral("APPDATA"), dir.path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(dir.path());
        process.start(program, {QStringLiteral("--data-dir"), data()});
        QVERIFY(process.waitForStarted(10000));
    }
};

QTEST_GUILESS_MAIN(TestVlsmsdFiles)
#include "tst_vlsmsdfiles.moc"
