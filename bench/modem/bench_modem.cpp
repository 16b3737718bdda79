// Modem side under load: many workers against simulated modems.
//
// The simulated modems run in a separate vlsms-modemsim process, so that what
// is measured here is the program's side alone: its worker threads, serial
// ports and relays.
//
//   1. Bring-up: every worker reaches code 5 (SIM number read).
//   2. Idle: nothing arrives for --idle seconds; CPU time (user + system) and
//      peak resident memory of this process.
//   3. Flow: --messages messages enter the simulated SIMs, one every --gap ms,
//      spread over the modems; for each, the time from entering the SIM to the
//      worker's code-6 signal. Median, 99th percentile and maximum.
//
// Usage: bench_modem [--modems 64] [--idle 60] [--messages 320] [--gap 100] [--speed 200]

#include "modem/mycomworker.h"
#include "modem/serialchecker.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// Runs the event loop until done() holds or the time is up.
bool spin(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QEventLoop loop;
        QTimer::singleShot(20, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

double cpuSeconds()
{
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// VmHWM and VmRSS of this process, in KiB.
qint64 statusKb(const char* key)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(int(qstrlen(key))).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

// CPU seconds of another process, from /proc/<pid>/stat.
double processCpuSeconds(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray stat = f.readAll();
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    const double ticks = double(sysconf(_SC_CLK_TCK));
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) / ticks;
}

// A valid SMS-DELIVER PDU in UCS2 whose text is unique per number.
QByteArray makePdu(int n)
{
    const QString text = QStringLiteral("bench message %1").arg(n, 6, 10, QLatin1Char('0'));
    QByteArray ud;
    for (const QChar c : text)
        ud += QByteArray::number(c.unicode(), 16).rightJustified(4, '0').toUpper();
    return "0791448720003023" // service centre
           "04"               // SMS-DELIVER
           "0B917132547698F0" // sender
           "0008"             // PID, UCS2
           "42106211540000" + // time stamp
           QByteArray::number(ud.size() / 2, 16).rightJustified(2, '0').toUpper() +
           ud;
}

double percentile(QVector<qint64> v, double p)
{
    if (v.isEmpty())
        return 0;
    std::sort(v.begin(), v.end());
    const int i = qBound(0, int(p * double(v.size() - 1) + 0.5), v.size() - 1);
    return double(v.at(i));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int modems = 64;
    int idleSeconds = 60;
    int messages = 320;
    int gapMs = 100;
    int speed = 200;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        const int v = args.at(i + 1).toInt();
        if (args.at(i) == QLatin1String("--modems"))
            modems = qBound(1, v, 512);
        else if (args.at(i) == QLatin1String("--idle"))
            idleSeconds = qMax(0, v);
        else if (args.at(i) == QLatin1String("--messages"))
            messages = qMax(0, v);
        else if (args.at(i) == QLatin1String("--gap"))
            gapMs = qMax(0, v);
        else if (args.at(i) == QLatin1String("--speed"))
            speed = v;
    }

    QTemporaryDir work;
    QDir::setCurrent(work.path()); // the port logs land here
    QProcess sim;
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start(QStringLiteral(MODEMSIM_COMMAND),
              {QStringLiteral("-n"), QString::number(modems), QStringLiteral("-d"),
               work.filePath(QStringLiteral("ports")), QStringLiteral("-q")});
    QByteArray banner;
    if (!sim.waitForStarted(5000) ||
        !spin([&] { return (banner += sim.readAllStandardOutput()).contains("ready\n"); }, 10000)) {
        std::fprintf(stderr, "bench_modem: the simulator did not start\n");
        return 1;
    }
    QStringList ports;
    for (const QByteArray& line : banner.split('\n')) {
        if (line.startsWith("modem"))
            ports.append(QString::fromLocal8Bit(line.split(' ').value(1)));
    }

    const qint64 rssStartKb = statusKb("VmRSS:");
    comRunState.store(1);
    QList<MyComWorker*> workers;
    QVector<int> simNoSeen(modems, 0);
    QHash<QByteArray, qint64> sentAt;
    QVector<qint64> latencies;
    int errors = 0;
    for (int i = 0; i < modems; ++i) {
        auto* w = new MyComWorker(&app);
        w->setParams(i + 1, ports.value(i), speed, 115200, 0);
        QObject::connect(w, &MyComWorker::workOkMsg, &app, [&, w](int id, int code, const QByteArray& pdu) {
            if (code == 5)
                simNoSeen[id - 1] = 1;
            if (code != 6)
                return;
            const qint64 now = QDateTime::currentMSecsSinceEpoch();
            const auto it = sentAt.constFind(pdu);
            if (it != sentAt.cend()) {
                latencies.append(now - it.value());
                sentAt.erase(it);
            }
            w->answerMessage(StoreAnswer::Stored);
        });
        QObject::connect(w, &MyComWorker::workErrMsg, &app, [&](int, int) { ++errors; });
        workers.append(w);
    }

    QElapsedTimer wall;
    wall.start();
    for (MyComWorker* w : qAsConst(workers))
        w->startWork();
    const bool up =
        spin([&] { return std::count(simNoSeen.cbegin(), simNoSeen.cend(), 1) == modems; }, 120000);
    std::printf("modems %d, tick %d ms\n", modems, speed);
    std::printf("bring-up: %s in %.1f s, error codes %d\n", up ? "all at code 5" : "INCOMPLETE",
                wall.elapsed() / 1000.0, errors);

    // Idle: let the workers run their cycles with nothing on the SIMs.
    const double cpu0 = cpuSeconds();
    const double simCpu0 = processCpuSeconds(sim.processId());
    wall.restart();
    spin([] { return false; }, idleSeconds * 1000);
    const double idleWall = wall.elapsed() / 1000.0;
    const double idleCpu = cpuSeconds() - cpu0;
    std::printf("idle %.1f s: CPU %.2f s (%.1f %% of one core), peak RSS %lld KiB (start %lld KiB), "
                "simulator CPU %.2f s\n",
                idleWall, idleCpu, 100.0 * idleCpu / qMax(0.001, idleWall), statusKb("VmHWM:"), rssStartKb,
                processCpuSeconds(sim.processId()) - simCpu0);

    // Flow: messages enter the SIMs one by one, round the modems.
    int next = 0;
    QTimer feeder;
    QObject::connect(&feeder, &QTimer::timeout, &app, [&] {
        if (next >= messages) {
            feeder.stop();
            return;
        }
        const QByteArray pdu = makePdu(next);
        sentAt.insert(pdu, QDateTime::currentMSecsSinceEpoch());
        sim.write(QByteArray::number(next % modems + 1) + ' ' + pdu + '\n');
        ++next;
    });
    wall.restart();
    feeder.start(gapMs);
    const bool all = spin([&] { return latencies.size() == messages; }, messages * gapMs + 120000);
    std::printf("flow: %d of %d messages signalled in %.1f s%s\n", int(latencies.size()), messages,
                wall.elapsed() / 1000.0, all ? "" : " (some missing)");
    std::printf("latency SIM to code 6: median %.0f ms, p99 %.0f ms, max %.0f ms\n",
                percentile(latencies, 0.5), percentile(latencies, 0.99), percentile(latencies, 1.0));
    std::printf("peak RSS at end %lld KiB\n", statusKb("VmHWM:"));

    comRunState.store(ComRunStopped);
    for (MyComWorker* w : qAsConst(workers))
        w->stopWork();
    qDeleteAll(workers);
    sim.terminate();
    sim.waitForFinished(5000);
    return up && all ? 0 : 1;
}
