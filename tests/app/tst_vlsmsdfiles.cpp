// The service's files, tried on the real vlsmsd executable: it refuses a
// settings file it cannot read, everything it writes is private (metrics.prom
// readable by the group too), and it tells systemd how it does.
#include <QDir>
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
    void refusesBrokenSettings()
    {
        const QByteArray content("host is db1, port 3306\n");
        const QString ini = data() + QStringLiteral("/settings.ini");
        QDir(data()).removeRecursively();
        QVERIFY(QDir().mkpath(data()));
        QFile file(ini);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
        file.close();

        QProcess program;
        start(program);
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitCode(), 1);
        const QString said = QString::fromUtf8(program.readAllStandardError());
        QVERIFY2(said.contains(ini) && said.contains(QStringLiteral("not starting")), qPrintable(said));
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
        return dir.filePath(QStringLiteral("data"));
    }
    void start(QProcess& program)
    {
        program.setWorkingDirectory(dir.path());
        program.start(QStringLiteral(VLSMSD_BIN), {QStringLiteral("--data-dir"), data()});
        QVERIFY(program.waitForStarted(10000));
    }
};

QTEST_GUILESS_MAIN(TestVlsmsdFiles)
#include "tst_vlsmsdfiles.moc"
