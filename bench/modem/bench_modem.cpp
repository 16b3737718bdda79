// Modem side under load: many workers against simulated modems.
//
// The simulated modems run in a separate vlsms-modemsim process, so that what
// is measured here is the program's side alone: its worker threads, serial
// ports and relays. For each count of modems:
//
//   1. Bring-up: every worker reaches code 5 (SIM number read).
//   2. Idle: nothing arrives for --idle seconds; CPU time (user + system) of
//      this process, its resident memory now and at its peak.
//   3. Flow: --messages messages enter the simulated SIMs at random moments
//      (a Poisson stream of mean gap --gap ms) on random modems, each
//      announced with +CMTI; for each, the time from entering the SIM to the
//      worker's code-6 signal, which this program answers "stored" at once.
//      Median, 99th percentile and maximum.
//
// Usage: bench_modem [--modems 16,64,128] [--idle 30] [--messages 300] [--gap 100] [--speed 200]

#include "modem/mycomworker.h"
#include "modem/serialchecker.h"
#include "support/pdubuilder.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cmath>
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
    return PduBuilder::ucs2(QStringLiteral("17234567890"),
                            QStringLiteral("bench message %1").arg(n, 6, 10, QLatin1Char('0')))
        .toLatin1();
}

// Microseconds on a steady clock.
qint64 nowUs()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.nsecsElapsed() / 1000;
}

double percentile(QVector<qint64> v, double p)
{
    if (v.isEmpty())
        return 0;
    std::sort(v.begin(), v.end());
    const int i = qBound(0, int(p * double(v.size() - 1) + 0.5), v.size() - 1);
    return double(v.at(i));
}

struct Options
{
    QList<int> modemCounts{16, 64, 128};
    int idleSeconds = 30;
    int messages = 300;
    int gapMs = 100;
    int speed = 200;
};

Options parseOptions(const QStringList& args)
{
    Options o;
    for (int i = 1; i + 1 < args.size(); i += 2) {
        const QString& key = args.at(i);
        const int v = args.at(i + 1).toInt();
        if (key == QLatin1String("--modems")) {
            o.modemCounts.clear();
            for (const QString& n : args.at(i + 1).split(QLatin1Char(',')))
                o.modemCounts.append(qBound(1, n.toInt(), 512));
        } else if (key == QLatin1String("--idle")) {
            o.idleSeconds = qMax(0, v);
        } else if (key == QLatin1String("--messages")) {
            o.messages = qMax(0, v);
        } else if (key == QLatin1String("--gap")) {
            o.gapMs = qMax(1, v);
        } else if (key == QLatin1String("--speed")) {
            o.speed = v;
        }
    }
    return o;
}

// The simulator process with its modems; ports receives their link paths.
bool startSimulator(QProcess& sim, int modems, const QString& dir, QStringList* ports)
{
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start(QStringLiteral(MODEMSIM_COMMAND), {QStringLiteral("-n"), QString::number(modems),
                                                 QStringLiteral("-d"), dir, QStringLiteral("-q")});
    QByteArray banner;
    if (!sim.waitForStarted(5000) ||
        !spin([&] { return (banner += sim.readAllStandardOutput()).contains("ready\n"); }, 20000))
        return false;
    for (const QByteArray& line : banner.split('\n')) {
        if (line.startsWith("modem"))
            ports->append(QString::fromLocal8Bit(line.split(' ').value(1)));
    }
    return ports->size() == modems;
}

// One bank of workers and what the bench saw of them.
struct Bank
{
    QList<MyComWorker*> workers;
    QVector<int> simNoSeen;
    QHash<QByteArray, qint64> sentAt;
    QVector<qint64> latencies;
    int errors = 0;
};

void startWorkers(Bank& bank, const QStringList& ports, int speed)
{
    bank.simNoSeen.fill(0, ports.size());
    for (int i = 0; i < ports.size(); ++i) {
        auto* w = new MyComWorker;
        w->setParams(i + 1, ports.at(i), speed, 115200, 0);
        QObject::connect(w, &MyComWorker::workOkMsg, w, [&bank, w](int id, int code, const QByteArray& pdu) {
            if (code == OkSimNo)
                bank.simNoSeen[id - 1] = 1;
            if (code != OkMessage)
                return;
            const qint64 now = nowUs();
            const auto it = bank.sentAt.constFind(pdu);
            if (it != bank.sentAt.cend()) {
                bank.latencies.append(now - it.value());
                bank.sentAt.erase(it);
            }
            w->answerMessage(StoreAnswer::Stored);
        });
        QObject::connect(w, &MyComWorker::workErrMsg, w, [&bank](int, int) { ++bank.errors; });
        bank.workers.append(w);
    }
    for (MyComWorker* w : qAsConst(bank.workers))
        w->startWork();
}

void stopWorkers(Bank& bank)
{
    comRunState.store(ComRunStopped);
    for (MyComWorker* w : qAsConst(bank.workers))
        w->stopWork();
    qDeleteAll(bank.workers);
    bank.workers.clear();
    comRunState.store(1);
}

void measureIdle(int seconds, qint64 simPid)
{
    const double cpu0 = cpuSeconds();
    const double simCpu0 = processCpuSeconds(simPid);
    QElapsedTimer wall;
    wall.start();
    spin([] { return false; }, seconds * 1000);
    const double idleWall = wall.elapsed() / 1000.0;
    const double idleCpu = cpuSeconds() - cpu0;
    std::printf(
        "  idle %.0f s: CPU %.1f %% of one core, RSS %lld KiB (peak %lld KiB), simulator CPU %.1f %%\n",
        idleWall, 100.0 * idleCpu / qMax(0.001, idleWall), statusKb("VmRSS:"), statusKb("VmHWM:"),
        100.0 * (processCpuSeconds(simPid) - simCpu0) / qMax(0.001, idleWall));
}

// Messages at random moments on random modems; true when all were signalled.
bool measureFlow(Bank& bank, QProcess& sim, const Options& o)
{
    QRandomGenerator random(20240611u);
    const int modems = bank.workers.size();
    int next = 0;
    QTimer feeder;
    feeder.setSingleShot(true);
    QObject::connect(&feeder, &QTimer::timeout, &feeder, [&] {
        const QByteArray pdu = makePdu(next);
        bank.sentAt.insert(pdu, nowUs());
        sim.write(QByteArray::number(int(random.bounded(modems)) + 1) + ' ' + pdu + '\n');
        if (++next < o.messages)
            feeder.start(int(-std::log(1.0 - random.generateDouble()) * o.gapMs));
    });
    QElapsedTimer wall;
    wall.start();
    feeder.start(0);
    const bool all =
        spin([&] { return bank.latencies.size() == o.messages; }, o.messages * o.gapMs * 3 + 60000);
    std::printf("  flow: %d of %d messages in %.1f s%s\n", int(bank.latencies.size()), o.messages,
                wall.elapsed() / 1000.0, all ? "" : " (some missing)");
    std::printf("  latency SIM to code 6: p50 %.2f ms, p99 %.1f ms, max %.1f ms\n",
                percentile(bank.latencies, 0.5) / 1000, percentile(bank.latencies, 0.99) / 1000,
                percentile(bank.latencies, 1.0) / 1000);
    return all;
}

bool runBank(int modems, const Options& o, const QString& dir)
{
    QProcess sim;
    QStringList ports;
    if (!startSimulator(sim, modems, dir, &ports)) {
        std::fprintf(stderr, "bench_modem: the simulator did not start\n");
        return false;
    }
    Bank bank;
    QElapsedTimer wall;
    wall.start();
    startWorkers(bank, ports, o.speed);
    const bool up =
        spin([&] { return std::count(bank.simNoSeen.cbegin(), bank.simNoSeen.cend(), 1) == modems; }, 120000);
    std::printf("modems %d, DEF_SPEED %d ms\n", modems, o.speed);
    std::printf("  bring-up: %s in %.1f s, error codes %d\n", up ? "all at code 5" : "INCOMPLETE",
                wall.elapsed() / 1000.0, bank.errors);
    measureIdle(o.idleSeconds, sim.processId());
    const bool all = measureFlow(bank, sim, o);
    std::fflush(stdout);
    stopWorkers(bank);
    sim.terminate();
    sim.waitForFinished(5000);
    return up && all;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const Options o = parseOptions(app.arguments());
    QTemporaryDir work;
    QDir::setCurrent(work.path()); // the port logs land here
    comRunState.store(1);
    bool ok = true;
    for (int i = 0; i < o.modemCounts.size(); ++i)
        ok = runBank(o.modemCounts.at(i), o, work.filePath(QStringLiteral("ports%1").arg(i))) && ok;
    return ok ? 0 : 1;
}
