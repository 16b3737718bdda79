// The programs' files, tried on the real executables: the service refuses a
// settings file it cannot read, the window runs on the defaults and still
// stops at once on SIGTERM, and everything they write is private.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSerialPortInfo>
#include <QTemporaryDir>
#include <QTest>

class TestVlsmsdFiles : public QObject
{
    Q_OBJECT

private slots:
    void brokenSettings_data()
    {
        QTest::addColumn<bool>("window");
        QTest::newRow("the service refuses to start") << false;
#ifdef VLSMS_BIN
        QTest::newRow("the window warns, and SIGTERM ends it with the warning up") << true;
#endif
    }

    void brokenSettings()
    {
        QFETCH(bool, window);
        const QByteArray content("host is db1, port 3306\n");
        const QString ini = data() + QStringLiteral("/settings.ini");
        QDir(data()).removeRecursively();
        QVERIFY(QDir().mkpath(data()));
        QFile file(ini);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
        file.close();

        QProcess program;
        start(program, window);
        if (window) {
#ifndef Q_OS_WIN
            // The status file is written from the event loop, which runs inside
            // the warning's box once it is up.
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(data() + QStringLiteral("/status.json")), 20000);
            QElapsedTimer stop;
            stop.start();
            program.terminate();
            QVERIFY(program.waitForFinished(10000));
            QVERIFY2(stop.elapsed() < 2000, qPrintable(QString::number(stop.elapsed())));
            QCOMPARE(program.exitCode(), 0);
#endif
        } else {
            QVERIFY(program.waitForFinished(10000));
            QCOMPARE(program.exitCode(), 1);
            const QString said = QString::fromUtf8(program.readAllStandardError());
            QVERIFY2(said.contains(ini) && said.contains(QStringLiteral("not starting")), qPrintable(said));
        }
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), content);
    }

    void filesArePrivate()
    {
#ifdef Q_OS_WIN
        QSKIP("file modes are POSIX");
#endif
        QDir(data()).removeRecursively();
        QVERIFY(QDir().mkpath(data()));
        QStringList machinePorts;
        for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
            machinePorts << info.portName();
        }
        // No modem, no server (port 1 refuses at once), and a baud rate the main log must mention.
        QFile ini(data() + QStringLiteral("/settings.ini"));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[General]\nDEF_BAUD=57600\nMYSQL_PORT=1\nDEF_IGNORE=\"" + machinePorts.join(',').toUtf8() +
                  "\"\n");
        ini.close();

        QProcess program;
        start(program);
        // settings.ini is the test's, restricted by the program once it has read it.
        const QStringList made = {"sms-r.db",   "sms-r.db-wal",       "sms-r.db-shm", "status.json",
                                  "vlsms.lock", "../comlog-main.txt", "settings.ini"};
        for (const QString& name : made) {
            const QString path = data() + QLatin1Char('/') + name;
            QTRY_VERIFY2_WITH_TIMEOUT(QFileInfo::exists(path), qPrintable(path), 20000);
            QCOMPARE(QFile::permissions(path) & 0x7077, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        }
    }

private:
    QTemporaryDir dir;
    QString data() const
    {
        return dir.filePath(QStringLiteral("VLSMS"));
    }
    void start(QProcess& program, bool window = false)
    {
        program.setWorkingDirectory(dir.path());
#ifdef VLSMS_BIN
        if (window) {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("APPDATA"), dir.path());
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
            program.setProcessEnvironment(env);
            program.start(QStringLiteral(VLSMS_BIN), QStringList());
            QVERIFY(program.waitForStarted(10000));
            return;
        }
#endif
        program.start(QStringLiteral(VLSMSD_BIN), {QStringLiteral("--data-dir"), data()});
        QVERIFY(program.waitForStarted(10000));
    }
};

QTEST_GUILESS_MAIN(TestVlsmsdFiles)
#include "tst_vlsmsdfiles.moc"
