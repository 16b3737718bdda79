// vlsms-modemsim: serves simulated GSM modems on pseudo-terminals.
//
// Usage: vlsms-modemsim [options]
//   -n, --count N          number of modems (default 1)
//   -d, --dir DIR          directory of the stable links modem1 .. modemN
//                          (default /tmp/vlsms-modemsim-<pid>)
//   -i, --input FILE       message lines to deliver; "-" is standard input (the default)
//   -t, --threads N        threads serving the modems (default 2)
//       --echo on|off      echo at power-on (default on)
//       --iccid-style S    ccid (+CCID: n), bare, caret (^ICCID: n), quoted (+CCID: "n"), iccid (+ICCID: n)
//       --iccid NUMBER     ICCID of modem 1; the others count up from it
//       --list-style S     AT+CMGD=? answer: used (default), empty, range
//       --empty-slot S     AT+CMGR= of a free index: ok (default), zero (+CMGR: 0,,0), cms (+CMS ERROR: 321)
//       --index-base 0|1   first SIM index (default 1)
//       --capacity N       SIM slots (default 50)
//       --not-support      answer "COMMAND NOT SUPPORT" instead of ERROR
//       --no-sim           modems without a SIM card (the same as --sim absent)
//       --sim S            SIM state at the start: ready (default), pin, puk, absent
//       --pin PIN          the PIN a SIM in state pin asks for (default 1234)
//       --sim-state-without-result   answer AT+CPIN? without a final result
//       --signal N         AT+CSQ signal, 0 to 31 or 99 (default 21)
//       --signal-notices   announce signal changes with ^RSSI:
//       --registration S   home (default), roaming, searching, denied, none
//       --operator NAME    operator name (default "VLS Mobile"); "" for none
//       --access-technology N   given after the operator name (3G/4G style)
//       --me-storage       the modems have their own message memory "ME"
//       --deliver-to S     sm (default) or me: where input messages are stored
//       --exit-when-done   exit once the input has ended and every SIM store is empty
//       --unsolicited-in-answer LINE   slip LINE into every answer before its final result code
//       --noise HEX        slip these bytes (e.g. 00 for a NUL) into every answer
//   -q, --quiet            print only the device lines
//
// On start it prints one line per modem, "modem<k> <link> <device>", then "ready".
// Input, one item per line:
//   <k> <pdu>      deliver the PDU (hexadecimal, service-centre part included) to modem k (from 1)
//   * <pdu>        deliver it to every modem
//   <k> me <pdu>   deliver it into the modem's own memory (also "* me <pdu>", "<k> sm <pdu>")
//   <pdu>          deliver it to modem 1
//   set <k> <what> <value>   change modem k (or * for all) now: signal N, registration S,
//                  operator NAME, sim S, as the options above
//   vanish <k> <ms>          modem k's port goes away and comes back after ms
//   wait <ms>      pause reading the input
//   # ...          comment; empty lines are skipped
// Each delivered message is stored at the next free SIM index and announced with
// +CMTI:. Unless quiet, it prints "stored <k> <index>" and, when the program
// deletes it, "deleted <k> <index>". SIGINT or SIGTERM end it and remove the links.

#include "tools/modemsim/modembank.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char c = 1;
    const ssize_t n = ::write(signalPipe[1], &c, 1);
    (void)n;
}

void say(const QString& text)
{
    std::fputs(qPrintable(text + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

int registrationState(const QByteArray& name)
{
    static const QMap<QByteArray, int> states{
        {"home", 1}, {"roaming", 5}, {"searching", 2}, {"denied", 3}, {"none", 0}};
    return states.value(name, -1);
}

// One setting of one modem, by the names of the options; false when unknown.
bool applySetting(ModemSim* sim, const QByteArray& what, const QByteArray& value, const QByteArray& pin)
{
    bool ok = true;
    if (what == "signal") {
        const int rssi = value.toInt(&ok);
        ok = ok && ((rssi >= 0 && rssi <= 31) || rssi == 99);
        if (ok)
            sim->setSignal(rssi);
    } else if (what == "registration") {
        ok = registrationState(value) >= 0;
        if (ok)
            sim->setRegistration(registrationState(value));
    } else if (what == "operator") {
        sim->setOperator(value);
    } else if (what == "sim" && (value == "ready" || value == "pin" || value == "puk")) {
        sim->setSimPresent(true);
        sim->setSimLock(value == "pin"   ? ModemSim::SimLock::Pin
                        : value == "puk" ? ModemSim::SimLock::Puk
                                         : ModemSim::SimLock::None,
                        pin);
    } else if (what == "sim" && value == "absent") {
        sim->setSimPresent(false);
    } else {
        ok = false;
    }
    return ok;
}

// Feeds the input lines to the bank, one at a time, honouring "wait".
class Feeder
{
public:
    Feeder(ModemBank* bank, bool quiet, ModemSim::Storage storage, const QByteArray& pin)
        : bank(bank), quiet(quiet), storage(storage), pin(pin)
    {
    }

    void push(const QByteArray& text) { pending.append(text); }
    void setEnded() { ended = true; }
    bool done() const { return ended && pending.isEmpty() && !waiting; }

    void run()
    {
        while (!waiting && !pending.isEmpty()) {
            const QByteArray text = pending.takeFirst().trimmed();
            if (text.isEmpty() || text.startsWith('#'))
                continue;
            QList<QByteArray> parts = text.simplified().split(' ');
            if (parts.first() == "wait") {
                waiting = true;
                QTimer::singleShot(parts.value(1).toInt(), [this] {
                    waiting = false;
                    run();
                });
                return;
            }
            const QByteArray command =
                parts.size() > 1 && (parts.first() == "set" || parts.first() == "vanish") ? parts.takeFirst()
                                                                                          : QByteArray();
            if (parts.size() == 1) {
                parts.prepend("1");
            }
            QList<int> modems;
            for (int k = 0; k < bank->count(); ++k) {
                if (parts.first() == "*" || parts.first() == QByteArray::number(k + 1))
                    modems.append(k);
            }
            if (modems.isEmpty() || !act(command, modems, parts.mid(1)))
                std::fprintf(stderr, "modemsim: cannot do: %s\n", text.constData());
        }
    }

private:
    // What one line asks of the given modems; false when it makes no sense.
    bool act(const QByteArray& command, const QList<int>& modems, const QList<QByteArray>& args)
    {
        const bool named = args.size() == 2 && (args.first() == "me" || args.first() == "sm");
        if (args.isEmpty() || (command.isEmpty() && args.size() != 1 && !named))
            return false;
        bool ok = true;
        for (int k : modems) {
            ModemSim* sim = bank->modem(k);
            if (command == "set")
                ok = applySetting(sim, args.first(), args.mid(1).join(' '), pin) && ok;
            else if (command == "vanish")
                sim->vanish(args.first().toInt());
            else if (named)
                deliver(k, args.at(1), args.first() == "me" ? ModemSim::Storage::ME : ModemSim::Storage::SM);
            else
                deliver(k, args.first(), storage);
        }
        return ok;
    }

    void deliver(int k, const QByteArray& pdu, ModemSim::Storage where)
    {
        const int index = bank->modem(k)->addMessage(pdu, where);
        if (index < 0)
            std::fprintf(stderr, "modemsim: store of modem %d is full, message dropped\n", k + 1);
        else if (!quiet)
            say(QStringLiteral("stored %1 %2").arg(k + 1).arg(index));
    }

    ModemBank* bank;
    bool quiet;
    ModemSim::Storage storage;
    QByteArray pin;
    QList<QByteArray> pending;
    bool ended = false;
    bool waiting = false;
};

// What the command line asks for.
struct Options
{
    int count = 1;
    QString dir;
    QString input;
    int threads = 2;
    bool echo = true;
    ModemSim::IccidStyle iccidStyle = ModemSim::IccidStyle::PlusCcid;
    QString iccid;
    ModemSim::IndexListStyle listStyle = ModemSim::IndexListStyle::UsedList;
    ModemSim::EmptySlotStyle emptyStyle = ModemSim::EmptySlotStyle::BareOk;
    int indexBase = 1;
    int capacity = 50;
    bool notSupport = false;
    QByteArray unsolicited;
    QByteArray noise;
    QList<QPair<QByteArray, QByteArray>> settings; // applied to every modem, in order
    QByteArray pin;
    bool simStateWithoutResult = false;
    bool signalNotices = false;
    bool meStorage = false;
    ModemSim::Storage deliverTo = ModemSim::Storage::SM;
    int accessTechnology = -1;
    bool exitWhenDone = false;
    bool quiet = false;
};

// Reads a style name through its table; false when the name is unknown.
template <typename T> bool pickStyle(const QMap<QString, T>& table, const QString& name, T* style)
{
    if (!table.contains(name))
        return false;
    *style = table.value(name);
    return true;
}

// False, with the message printed, when the command line is unusable.
bool parseOptions(const QCoreApplication& app, Options* o)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Simulated GSM modems on pseudo-terminals."));
    parser.addHelpOption();
    const QCommandLineOption countOpt({"n", "count"}, "Number of modems.", "N", "1");
    const QCommandLineOption dirOpt({"d", "dir"}, "Directory of the links modem1..modemN.", "DIR");
    const QCommandLineOption inputOpt({"i", "input"}, "Message lines; - for standard input.", "FILE", "-");
    const QCommandLineOption threadsOpt({"t", "threads"}, "Threads serving the modems.", "N", "2");
    const QCommandLineOption echoOpt("echo", "Echo at power-on: on or off.", "on|off", "on");
    const QCommandLineOption iccidStyleOpt("iccid-style", "ccid, bare, caret, quoted or iccid.", "S", "ccid");
    const QCommandLineOption iccidOpt("iccid", "ICCID of modem 1.", "NUMBER", "89860012345678900001");
    const QCommandLineOption listOpt("list-style", "used, empty or range.", "S", "used");
    const QCommandLineOption emptyOpt("empty-slot", "ok, zero or cms.", "S", "ok");
    const QCommandLineOption baseOpt("index-base", "First SIM index, 0 or 1.", "B", "1");
    const QCommandLineOption capOpt("capacity", "SIM slots.", "N", "50");
    const QCommandLineOption notSupportOpt("not-support", "Answer COMMAND NOT SUPPORT instead of ERROR.");
    const QCommandLineOption noSimOpt("no-sim", "Modems without a SIM card.");
    const QCommandLineOption exitOpt("exit-when-done", "Exit when the input ended and the SIMs are empty.");
    const QCommandLineOption quietOpt({"q", "quiet"}, "Print only the device lines.");
    const QCommandLineOption unsolOpt("unsolicited-in-answer", "Line slipped into every answer.", "LINE");
    const QCommandLineOption noiseOpt("noise", "Bytes (hex) slipped into every answer.", "HEX");
    const QCommandLineOption simOpt("sim", "SIM state: ready, pin, puk or absent.", "S", "ready");
    const QCommandLineOption pinOpt("pin", "The PIN a SIM in state pin asks for.", "PIN", "1234");
    const QCommandLineOption noResultOpt("sim-state-without-result", "AT+CPIN? without a final result.");
    const QCommandLineOption signalOpt("signal", "Signal, 0 to 31 or 99.", "N", "21");
    const QCommandLineOption signalNoticesOpt("signal-notices", "Announce signal changes with ^RSSI:.");
    const QCommandLineOption regOpt("registration", "home, roaming, searching, denied or none.", "S", "home");
    const QCommandLineOption opOpt("operator", "Operator name; empty for none.", "NAME", "VLS Mobile");
    const QCommandLineOption actOpt("access-technology", "Given after the operator name.", "N", "-1");
    const QCommandLineOption meOpt("me-storage", "The modems have their own message memory ME.");
    const QCommandLineOption deliverOpt("deliver-to", "Where input messages are stored: sm or me.", "S",
                                        "sm");
    parser.addOptions({unsolOpt, noiseOpt, simOpt, pinOpt, noResultOpt, signalOpt, signalNoticesOpt, regOpt,
                       opOpt, actOpt, meOpt, deliverOpt});
    parser.addOptions({countOpt, dirOpt, inputOpt, threadsOpt, echoOpt, iccidStyleOpt, iccidOpt, listOpt,
                       emptyOpt, baseOpt, capOpt, notSupportOpt, noSimOpt, exitOpt, quietOpt});
    parser.process(app);

    o->count = parser.value(countOpt).toInt();
    if (o->count < 1 || o->count > 1000) {
        std::fprintf(stderr, "modemsim: --count must be 1 to 1000\n");
        return false;
    }
    const QMap<QString, ModemSim::IccidStyle> iccidStyles = {{"ccid", ModemSim::IccidStyle::PlusCcid},
                                                             {"bare", ModemSim::IccidStyle::Bare},
                                                             {"caret", ModemSim::IccidStyle::CaretIccid},
                                                             {"quoted", ModemSim::IccidStyle::Quoted},
                                                             {"iccid", ModemSim::IccidStyle::PlusIccid}};
    const QMap<QString, ModemSim::IndexListStyle> listStyles = {
        {"used", ModemSim::IndexListStyle::UsedList},
        {"empty", ModemSim::IndexListStyle::EmptyList},
        {"range", ModemSim::IndexListStyle::Range}};
    const QMap<QString, ModemSim::EmptySlotStyle> emptyStyles = {
        {"ok", ModemSim::EmptySlotStyle::BareOk},
        {"zero", ModemSim::EmptySlotStyle::ZeroHeader},
        {"cms", ModemSim::EmptySlotStyle::CmsError}};
    if (!pickStyle(iccidStyles, parser.value(iccidStyleOpt), &o->iccidStyle) ||
        !pickStyle(listStyles, parser.value(listOpt), &o->listStyle) ||
        !pickStyle(emptyStyles, parser.value(emptyOpt), &o->emptyStyle)) {
        std::fprintf(stderr, "modemsim: unknown style; see --help\n");
        return false;
    }
    o->dir = parser.isSet(dirOpt) ? parser.value(dirOpt)
                                  : QStringLiteral("/tmp/vlsms-modemsim-%1").arg(::getpid());
    o->input = parser.value(inputOpt);
    o->threads = parser.value(threadsOpt).toInt();
    o->echo = parser.value(echoOpt) != QLatin1String("off");
    o->iccid = parser.value(iccidOpt);
    o->indexBase = parser.value(baseOpt).toInt();
    o->capacity = parser.value(capOpt).toInt();
    o->notSupport = parser.isSet(notSupportOpt);
    o->unsolicited = parser.value(unsolOpt).toUtf8();
    o->noise = QByteArray::fromHex(parser.value(noiseOpt).toLatin1());
    o->pin = parser.value(pinOpt).toUtf8();
    o->settings = {{"signal", parser.value(signalOpt).toUtf8()},
                   {"registration", parser.value(regOpt).toUtf8()},
                   {"operator", parser.value(opOpt).toUtf8()},
                   {"sim", parser.isSet(noSimOpt) ? "absent" : parser.value(simOpt).toUtf8()}};
    o->simStateWithoutResult = parser.isSet(noResultOpt);
    o->signalNotices = parser.isSet(signalNoticesOpt);
    o->accessTechnology = parser.value(actOpt).toInt();
    o->deliverTo =
        parser.value(deliverOpt) == QLatin1String("me") ? ModemSim::Storage::ME : ModemSim::Storage::SM;
    o->meStorage = parser.isSet(meOpt) || o->deliverTo == ModemSim::Storage::ME;
    o->exitWhenDone = parser.isSet(exitOpt);
    o->quiet = parser.isSet(quietOpt);
    return true;
}

bool configureModems(ModemBank& bank, const Options& o, QCoreApplication& app)
{
    for (int k = 0; k < bank.count(); ++k) {
        ModemSim* sim = bank.modem(k);
        sim->setEcho(o.echo);
        sim->setIccidStyle(o.iccidStyle);
        sim->setIndexListStyle(o.listStyle);
        sim->setEmptySlotStyle(o.emptyStyle);
        sim->setIndexBase(o.indexBase);
        sim->setCapacity(o.capacity);
        for (const auto& setting : o.settings) {
            if (!applySetting(sim, setting.first, setting.second, o.pin)) {
                std::fprintf(stderr, "modemsim: --%s %s is not allowed; see --help\n",
                             setting.first.constData(), setting.second.constData());
                return false;
            }
        }
        sim->setOperator(o.settings.at(2).second, o.accessTechnology);
        sim->setSimStateWithoutResult(o.simStateWithoutResult);
        sim->setSignalNotices(o.signalNotices);
        sim->setMeStorage(o.meStorage);
        if (o.notSupport)
            sim->setErrorText("COMMAND NOT SUPPORT");
        sim->setUnsolicitedInAnswer(o.unsolicited);
        sim->setNoise(o.noise);
        // Distinct numbers per modem: the tail counts up from the given ICCID.
        const QString tail =
            QString::number(o.iccid.right(6).toLongLong() + k).rightJustified(6, QLatin1Char('0'));
        sim->setIccid(o.iccid.left(o.iccid.size() - 6) + tail.right(6));
        sim->setImei(QStringLiteral("8612345678%1").arg(k + 1, 5, 10, QLatin1Char('0')));
        if (!o.quiet) {
            QObject::connect(sim, &ModemSim::messageDeleted, &app, [k](int index, const QByteArray&) {
                say(QStringLiteral("deleted %1 %2").arg(k + 1).arg(index));
            });
        }
        say(QStringLiteral("modem%1 %2 %3").arg(k + 1).arg(sim->portPath(), sim->devicePath()));
    }
    return true;
}

// SIGINT and SIGTERM end the event loop, so that the links are removed.
void watchSignals(QCoreApplication& app)
{
    if (::pipe(signalPipe) == 0) {
        std::signal(SIGINT, onSignal);
        std::signal(SIGTERM, onSignal);
        auto* sn = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(sn, &QSocketNotifier::activated, &app, [] { QCoreApplication::quit(); });
    }
    std::signal(SIGPIPE, SIG_IGN);
}

// Hands standard input to the feeder line by line as it arrives.
void readStandardInput(Feeder& feeder, QCoreApplication& app)
{
    ::fcntl(0, F_SETFL, ::fcntl(0, F_GETFL) | O_NONBLOCK);
    auto* sn = new QSocketNotifier(0, QSocketNotifier::Read, &app);
    auto buffer = std::make_shared<QByteArray>();
    QObject::connect(sn, &QSocketNotifier::activated, &app, [sn, buffer, &feeder] {
        char chunk[4096];
        bool atEnd = false;
        for (;;) {
            const ssize_t n = ::read(0, chunk, sizeof chunk);
            if (n > 0) {
                buffer->append(chunk, int(n));
                continue;
            }
            atEnd = n == 0 || (errno != EAGAIN && errno != EINTR);
            break;
        }
        int nl;
        while ((nl = buffer->indexOf('\n')) >= 0) {
            feeder.push(buffer->left(nl));
            buffer->remove(0, nl + 1);
        }
        if (atEnd) {
            // What is left is the last line, without its line feed.
            sn->setEnabled(false);
            if (!buffer->isEmpty())
                feeder.push(*buffer);
            buffer->clear();
            feeder.setEnded();
        }
        feeder.run();
    });
}

bool readInputFile(Feeder& feeder, const QString& input, QCoreApplication& app)
{
    QFile file(input);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "modemsim: cannot read %s\n", qPrintable(input));
        return false;
    }
    while (!file.atEnd())
        feeder.push(file.readLine());
    feeder.setEnded();
    QTimer::singleShot(0, &app, [&feeder] { feeder.run(); });
    return true;
}

void exitWhenDone(ModemBank& bank, const Feeder& feeder, QCoreApplication& app)
{
    auto* check = new QTimer(&app);
    QObject::connect(check, &QTimer::timeout, &app, [&bank, &feeder] {
        if (!feeder.done())
            return;
        for (int k = 0; k < bank.count(); ++k) {
            if (!bank.modem(k)->storedIndexes().isEmpty() ||
                !bank.modem(k)->storedIndexes(ModemSim::Storage::ME).isEmpty())
                return;
        }
        QCoreApplication::quit();
    });
    check->start(200);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vlsms-modemsim"));
    Options options;
    if (!parseOptions(app, &options))
        return 2;

    ModemBank bank;
    QString error;
    if (!bank.start(options.count, options.dir, &error, options.threads)) {
        std::fprintf(stderr, "modemsim: %s\n", qPrintable(error));
        return 1;
    }
    if (!configureModems(bank, options, app))
        return 2;
    say(QStringLiteral("ready"));
    watchSignals(app);

    Feeder feeder(&bank, options.quiet, options.deliverTo, options.pin);
    if (options.input == QLatin1String("-"))
        readStandardInput(feeder, app);
    else if (!readInputFile(feeder, options.input, app))
        return 1;
    if (options.exitWhenDone)
        exitWhenDone(bank, feeder, app);

    const int rc = app.exec();
    bank.stop();
    return rc;
}
