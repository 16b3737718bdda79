// SIGTERM always ends the program: the test runs itself as a child that
// hangs in its stop, or is too busy to see the signal at all.
#include "core/quitsignal.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <cstdio>

namespace {

const char childMode[] = "VLSMS_QUITSIGNAL_CHILD";

// The child: a grace time of 300 ms, and a stop as the mode says.
int runChild(int argc, char* argv[], const QByteArray& mode)
{
    QCoreApplication app(argc, argv);
    QuitSignal quit(nullptr, 300);
    QObject::connect(&quit, &QuitSignal::requested, &app, [mode] {
        while (mode == "hang") {
            QThread::sleep(1);
        }
    });
    QTimer::singleShot(0, &app, [mode] {
        std::puts("ready");
        std::fflush(stdout);
        while (mode == "busy") {
            QThread::sleep(1);
        }
    });
    return app.exec();
}

} // namespace
class TestQuitSignal : public QObject
{
    Q_OBJECT

private slots:
    void termEndsTheProcess_data()
    {
        QTest::addColumn<QByteArray>("mode");
        QTest::addColumn<int>("status");
        QTest::newRow("stop hangs") << QByteArray("hang") << int(QuitSignal::hungStopStatus);
        QTest::newRow("event loop busy, signal never read")
            << QByteArray("busy") << int(QuitSignal::hungStopStatus);
    }

    void termEndsTheProcess()
    {
#ifdef Q_OS_WIN
        QSKIP("no SIGTERM on Windows");
#endif
        QFETCH(QByteArray, mode);
        QFETCH(int, status);
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QLatin1String(childMode), QString::fromLatin1(mode));
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), QStringList());
        QVERIFY(child.waitForReadyRead(10000));
        child.terminate();
        QVERIFY(child.waitForFinished(10000));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), status);
        QCOMPARE(child.readAllStandardError().contains("STOP DID NOT FINISH within 0.3 s"), status != 0);
    }
};

int main(int argc, char* argv[])
{
    const QByteArray mode = qgetenv(childMode);
    if (!mode.isEmpty()) {
        return runChild(argc, argv, mode);
    }
    QCoreApplication app(argc, argv);
    TestQuitSignal test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_quitsignal.moc"
