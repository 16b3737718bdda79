// The AT layer: how an answer is judged and parsed as bytes (by its final
// result line alone, unsolicited lines taken out, line noise neither cutting
// nor hiding anything), one exchange through a pseudo-terminal, and the
// command set against simulated modems of different families.

#include "modem/atanswer.h"
#include "modem/mycomthread.h"
#include "modem/serialchecker.h"
#include "support/testcontroller.h"

#include <QSerialPort>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <thread>

namespace {
// One answer, the parse rule applied to it as text, and the text it must give.
using Rule = QString (*)(const QByteArray&);
struct Parse
{
    Rule rule;
    QByteArray answer;
    QString result;
};
struct Exchange
{
    int split;
    QByteArray unsolicited;
    QByteArray noise;
    int fault; // a ModemSim::Fault on the command, or -1
    int code;
};
// A command of the set run against a modem of one family, and what came of it.
using Run = QString (*)(MyComThread&, QSerialPort*, ModemSim&);
struct Command
{
    QString style; // see styleModem()
    Run run;
    QString result;
};
const QByteArray pdu = "0891683108200105F0040D91683118541397F800001270407132052304F4F29C0E";
const QByteArray pduB = "0011000B916407281553F80000AA0AE8329BFD4697D9EC37";
const QByteArray ok = "\r\n\r\nOK\r\n";
const QByteArray imei = "861234567890123";
const QString iccid = QStringLiteral("89860012345678901234");
} // namespace
Q_DECLARE_METATYPE(Parse)
Q_DECLARE_METATYPE(Exchange)
Q_DECLARE_METATYPE(Command)

class TestAtCommands : public QObject
{
    Q_OBJECT
    QTemporaryDir dir;
    std::unique_ptr<ModemSim> sim;
    std::unique_ptr<QSerialPort> port;
    MyComThread thread;

private slots:
    void init()
    {
        comRunState.store(1);
        sim = std::make_unique<ModemSim>(dir.filePath(QStringLiteral("modem")));
        QVERIFY(sim->start());
        sim->setEcho(false);
        port = std::make_unique<QSerialPort>(sim->portPath());
        QVERIFY(port->open(QIODevice::ReadWrite));
    }

    void cleanup()
    {
        port.reset();
        sim.reset();
        comRunState.store(1);
    }

    void parse_data()
    {
        QTest::addColumn<Parse>("row");
        const Rule final = [](const QByteArray& a) { return QString::number(SerialChecker::checkAnswer(a)); };
        const Rule device = [](const QByteArray& a) { return AtAnswer::deviceNo(a); };
        const Rule simNo = [](const QByteArray& a) { return AtAnswer::simNo(a); };
        const Rule list = [](const QByteArray& a) { return AtAnswer::indexList(a).join('|'); };
        const Rule listing = [](const QByteArray& a) { return AtAnswer::listing(a).join('|'); };
        const Rule read = [](const QByteArray& a) { return QString::fromLatin1(AtAnswer::readPdu(a).pdu); };
        const Rule held = [](const QByteArray& a) {
            return QString(AtAnswer::readPdu(a).heldPdu ? "held" : "");
        };
        const Rule notices = [](const QByteArray& a) {
            QStringList told;
            for (const QByteArray& line : AtAnswer::lines(a)) {
                const AtAnswer::Notice n = AtAnswer::notice(line);
                using K = AtAnswer::Notice::Kind;
                told << (n.kind == K::NewMessage     ? n.storage + ' ' + QString::number(n.index)
                         : n.kind == K::Registration ? ModemHealth::registrationName(n.registration)
                         : n.kind == K::Signal       ? QString::number(n.signal)
                         : n.kind == K::Sim          ? ModemHealth::simName(n.sim)
                                                     : QString());
            }
            told.removeAll(QString());
            return told.join('|');
        };
        const Rule signal = [](const QByteArray& a) { return QString::number(AtAnswer::signalOf(a)); };
        const Rule registration = [](const QByteArray& a) {
            return ModemHealth::registrationName(AtAnswer::registrationOf(a));
        };
        const Rule op = [](const QByteArray& a) {
            bool known = false;
            const QString name = AtAnswer::operatorOf(a, &known);
            return known ? '\'' + name + '\'' : QString('?');
        };
        const Rule sim = [](const QByteArray& a) { return ModemHealth::simName(AtAnswer::simOf(a)); };
        const Rule storages = [](const QByteArray& a) { return QString(AtAnswer::storagesOf(a).join('|')); };
        const Rule count = [](const QByteArray& a) {
            QByteArray name;
            int used = 0, total = 0;
            return AtAnswer::storageCount(a, &name, &used, &total)
                       ? name + QString(" %1/%2").arg(used).arg(total)
                       : QString();
        };
        const Rule mask = [](const QByteArray& a) { return QString(AtAnswer::masked(a)); };
        const QByteArray cmgr = "\r\n+CMGR: 0,,23\r\n";
        QTest::newRow("OK") << Parse{final, "\r\nOK\r\n", "100"};
        QTest::newRow("echo only") << Parse{final, "AT\r", "0"};
        QTest::newRow("OK not yet ended") << Parse{final, "\r\nOK", "0"};
        QTest::newRow("OK ended by LF alone") << Parse{final, "\nOK\n", "100"};
        QTest::newRow("+CME ERROR") << Parse{final, "\r\n+CME ERROR: 10\r\n", "201"};
        QTest::newRow("+CMS ERROR") << Parse{final, "\r\n+CMS ERROR: 321\r\n", "202"};
        QTest::newRow("COMMAND NOT SUPPORT") << Parse{final, "\r\nCOMMAND NOT SUPPORT\r\n", "203"};
        QTest::newRow("NO CARRIER") << Parse{final, "\r\nNO CARRIER\r\n", "204"};
        QTest::newRow("first final result wins") << Parse{final, "\r\nERROR\r\nOK\r\n", "200"};
        QTest::newRow("SIM NOT READY is no result") << Parse{final, "\r\nSIM NOT READY\r\n", "0"};
        QTest::newRow("+CPIN: NOT READY, then a PDU")
            << Parse{final, "\r\n+CPIN: NOT READY" + cmgr + pdu, "0"};
        QTest::newRow("^MODE: ERROR, then OK") << Parse{final, "\r\n^MODE: ERROR\r\n" + imei + ok, "100"};
        QTest::newRow("RING, then ERROR") << Parse{final, "\r\nRING\r\n\r\nERROR\r\n", "200"};
        QTest::newRow("ERROR in an information line") << Parse{final, "\r\nLAST ERROR 0\r\n", "0"};
        QTest::newRow("NUL before OK") << Parse{final, QByteArray("\r\n\0OK\r\n", 7), "100"};
        QTest::newRow("NUL line, then ERROR") << Parse{final, QByteArray("\r\n\0\r\nERROR\r\n", 12), "200"};
        QTest::newRow("invalid UTF-8") << Parse{final, "\r\n\xc3\x28\xa0\xa1\r\n", "0"};
        QTest::newRow("device: OK first") << Parse{device, "OK\r\n" + imei + "\r\n", ""};
        QTest::newRow("device: RING before") << Parse{device, "\r\nRING\r\n\r\n" + imei + ok, imei};
        QTest::newRow("device: ends ERROR") << Parse{device, "\r\n" + imei + "\r\n\r\nERROR\r\n", ""};
        QTest::newRow("device: NUL first") << Parse{device, QByteArray("\r\n\0", 3) + imei + ok, imei};
        QTest::newRow("SIM: two colons")
            << Parse{simNo, "\r\n+ICCID: ICCID: " + iccid.toLatin1() + ok, iccid};
        QTest::newRow("SIM: colon, no number") << Parse{simNo, "\r\n+CCID:" + ok, ""};
        QTest::newRow("SIM: no OK") << Parse{simNo, "\r\n+CCID: " + iccid.toLatin1() + "\r\n", ""};
        QTest::newRow("SIM: +CMTI after it")
            << Parse{simNo, "\r\n+CCID: " + iccid.toLatin1() + "\r\n+CMTI: \"SM\",3" + ok, iccid};
        QTest::newRow("list: spaces, empty part") << Parse{list, "\r\n+CMGD: ( 1, ,7 ),(0-4)" + ok, "1|7"};
        QTest::newRow("list: nothing stored") << Parse{list, "\r\n+CMGD: ()" + ok, ""};
        QTest::newRow("list: a range") << Parse{list, "\r\n+CMGD: (1-30)" + ok, ""};
        QTest::newRow("list: noise") << Parse{list, "\r\n+CMGD: (1,\xff,3),(0-4)" + ok, "1|3"};
        QTest::newRow("listing: +CMTI among entries") << Parse{
            listing, "\r\n+CMTI: \"SM\",9\r\n+CMGL: 2,1,,23\r\n" + pdu + "\r\n+CMGL: 4,0,,23\r\n" + pdu + ok,
            "2|4"};
        QTest::newRow("PDU: +CMTI after it") << Parse{read, cmgr + pdu + "\r\n+CMTI: \"SM\",4" + ok, pdu};
        QTest::newRow("PDU: NUL inside") << Parse{read, cmgr + pdu.left(9) + '\0' + pdu.mid(9) + ok, pdu};
        QTest::newRow("PDU: no OK") << Parse{read, cmgr + pdu + "\r\n", ""};
        QTest::newRow("held: PDU, then ERROR") << Parse{held, cmgr + pdu + "\r\n\r\nERROR\r\n", "held"};
        QTest::newRow("held: empty-slot header") << Parse{held, "\r\n+CMGR: 0,,0" + ok, ""};
        QTest::newRow("notices: both storages, registration, signal unknown")
            << Parse{notices, "+CMTI: \"SM\",3\r\n\r\n+CREG: 5\r\n+CMTI: \"ME\", 12\r\n^RSSI:99\r\n",
                     "SM 3|roaming|ME 12|-1"};
        QTest::newRow("notices: no answers of AT+CREG?, nothing broken or unfinished")
            << Parse{notices,
                     "+CMTI: \"SM\",x\r\n+CREG: 1,5\r\n+CREG: 2,1,\"00A1\",\"1B2C\"\r\n+CREG: "
                     "1,\"00A1\",\"1B2C\",7\r\n"
                     "+CPIN: SIM PIN\r\n+CMTI: \"SM\",5",
                     "home|pin"};
        QTest::newRow("signal") << Parse{signal, "\r\n+CSQ: 17,99" + ok, "17"};
        QTest::newRow("signal: 99 is unknown") << Parse{signal, "\r\n+CSQ: 99,99" + ok, "-1"};
        QTest::newRow("signal: no OK") << Parse{signal, "\r\n+CSQ: 17,0\r\n", "-1"};
        QTest::newRow("registration: the answer, not the notice before it")
            << Parse{registration, "\r\n+CREG: 3\r\n+CREG: 1,5" + ok, "roaming"};
        QTest::newRow("registration: area and cell")
            << Parse{registration, "\r\n+CREG: 2,1,\"00A1\",\"1B2C\"" + ok, "home"};
        QTest::newRow("registration: ERROR") << Parse{registration, "\r\n+CREG: 1,1\r\nERROR\r\n", "unknown"};
        QTest::newRow("operator: access technology after the name")
            << Parse{op, "\r\n+COPS: 0,0,\"CHINA MOBILE\",7" + ok, "'CHINA MOBILE'"};
        QTest::newRow("operator: none") << Parse{op, "\r\n+COPS: 0" + ok, "''"};
        QTest::newRow("operator: garbled") << Parse{op, "\r\n+COPS: x,\"A\"" + ok, "?"};
        QTest::newRow("SIM: PIN, no final result") << Parse{sim, "\r\n+CPIN: SIM PIN\r\n", "pin"};
        QTest::newRow("SIM: ready") << Parse{sim, "\r\n+CPIN: READY" + ok, "ready"};
        QTest::newRow("SIM: +CME ERROR: 10") << Parse{sim, "\r\n+CME ERROR: 10\r\n", "absent"};
        QTest::newRow("SIM: +CMS ERROR: 316") << Parse{sim, "\r\n+CMS ERROR: 316\r\n", "puk"};
        QTest::newRow("SIM: +CME ERROR: 16 is a wrong PIN")
            << Parse{sim, "\r\n+CME ERROR: 16\r\n", "unknown"};
        QTest::newRow("SIM: PIN required in words")
            << Parse{sim, "\r\n+CME ERROR: SIM PIN required\r\n", "pin"};
        QTest::newRow("SIM: not ready") << Parse{sim, "\r\n+CPIN: NOT READY" + ok, "unknown"};
        QTest::newRow("storages: SM, ME and the combined MT") << Parse{
            storages, "\r\n+CPMS: (\"SM\",\"ME\",\"MT\"),(\"SM\",\"ME\",\"MT\"),(\"SM\")" + ok, "SM|ME"};
        QTest::newRow("storages: ME first, broadcast, reports")
            << Parse{storages, "\r\n+CPMS: (\"ME\",\"BM\",\"SM\",\"SR\"),(\"ME\")" + ok, "SM|ME"};
        QTest::newRow("storages: refused") << Parse{storages, "\r\nERROR\r\n", ""};
        QTest::newRow("count: named")
            << Parse{count, "\r\n+CPMS: \"SM\",3,50,\"SM\",3,50,\"SM\",3,50" + ok, "SM 3/50"};
        QTest::newRow("count: the storage just selected")
            << Parse{count, "\r\n+CPMS: 2,100,2,100" + ok, " 2/100"};
        QTest::newRow("mask: the echo of the PIN")
            << Parse{mask, "AT+CPIN=\"1234\"\r\r\nOK\r\n", "AT+CPIN=\"****\"\r\r\nOK\r\n"};
        QTest::newRow("mask: lower case, unquoted, PUK and new PIN") << Parse{
            mask, "at+cpin=12345678,\"4321\"\r\nAT+CCID\r", "at+cpin=********,\"****\"\r\nAT+CCID\r"};
    }

    void parse()
    {
        QFETCH(Parse, row);
        QCOMPARE(row.rule(row.answer), row.result);
    }

    void exchange_data()
    {
        QTest::addColumn<Exchange>("row");
        QTest::newRow("+CPIN: NOT READY before the result, split")
            << Exchange{5, "+CPIN: NOT READY", "", -1, 100};
        QTest::newRow("NUL and bad UTF-8, split") << Exchange{3, "", QByteArray("\xe2\x82\0", 3), -1, 100};
        QTest::newRow("refused") << Exchange{0, "", "", int(ModemSim::Fault::Error), 200};
        QTest::newRow("silent: time-out") << Exchange{0, "", "", int(ModemSim::Fault::Silence), 401};
        QTest::newRow("port lost while waiting") << Exchange{0, "", "", int(ModemSim::Fault::Vanish), 402};
    }

    void exchange()
    {
        QFETCH(Exchange, row);
        // Announced before the command: kept apart from its answer.
        sim->addMessage(pdu);
        QTRY_VERIFY(port->peek(64).endsWith("\",1\r\n"));
        sim->setSplit(row.split, 20);
        sim->setUnsolicitedInAnswer(row.unsolicited);
        sim->setNoise(row.noise);
        sim->setVanishTime(-1);
        if (row.fault >= 0) {
            sim->setFault(QStringLiteral("AT+CGSN"), ModemSim::Fault(row.fault));
        }
        SerialChecker checker(nullptr, nullptr);
        // A long read time: a lost port must fail at once, not wait it out.
        const int readMs = row.code == SerialChecker::RecvTimeout ? 300 : 60000;
        QCOMPARE(checker.sendCommand(port.get(), "AT+CGSN\r", 10000, readMs), row.code);
        QCOMPARE(checker.answer().contains(imei), row.code == 100);
        QVERIFY(!checker.answer().contains("+CMTI"));
        QVERIFY(checker.staleInput().contains("+CMTI"));
    }

    void cancelWhileWaiting()
    {
        sim->setSilent(true);
        std::thread stopper([] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            comRunState.store(ComRunStopped);
        });
        SerialChecker checker(nullptr, nullptr);
        const int code = checker.sendCommand(port.get(), "AT+CMGR=1\r", 30000, 8000);
        stopper.join();
        QCOMPARE(code, int(SerialChecker::UserCancel));
        // Stopped before it starts, the next exchange sends nothing.
        QCOMPARE(checker.sendCommand(port.get(), "ATI\r", 100, 100), int(SerialChecker::UserCancel));
        QTRY_COMPARE(sim->commandLog(), QStringList{QStringLiteral("AT+CMGR=1")});
    }

    // The device and SIM number of each answer style and the form that gave
    // it; the store's indexes of each listing style; reads of each empty-slot
    // style. The SIM holds three messages, the second a different one.
    void commands_data()
    {
        QTest::addColumn<Command>("row");
        const Run simNo = [](MyComThread& t, QSerialPort* p, ModemSim& s) {
            return t.readSimNo(p) ? t.simNo() + " by " + s.commandLog().constLast() : QString();
        };
        const Run deviceNo = [](MyComThread& t, QSerialPort* p, ModemSim& s) {
            return t.readDeviceNo(p) ? t.deviceNo() + " by " + s.commandLog().constLast() : QString();
        };
        const Run list = [](MyComThread& t, QSerialPort* p, ModemSim& s) {
            QStringList got{QStringLiteral("stale")};
            const bool ok = t.atListIndexes(p, got) && s.commandCount(QStringLiteral("AT+CMGL=4")) == 0;
            return got.join(',') + (ok ? "" : " listed");
        };
        const Run read = [](MyComThread& t, QSerialPort* p, ModemSim& s) {
            QSignalSpy spy(&t, &MyComThread::threadOkMsg);
            QStringList got{QString::number(int(t.atReadMessage(p, "2")))};
            got << QString::number(int(t.atReadMessage(p, "9")));
            for (const QList<QVariant>& signal : qAsConst(spy)) {
                got << signal.at(0).toString() + ':' + signal.at(1).toString();
            }
            got << "deleted" << QString::number(t.atDeleteMessage(p, "2"));
            return got.join(' ') + " left " + QString::number(s.storedIndexes().size());
        };
        const QString by = " by AT+CCID";
        const QString pad = QStringLiteral("8986001234567890123F");
        const QString dev = QString::fromLatin1(imei) + " by ";
        const QString readOk = "0 1 6:" + pduB + " deleted 100 left 2";
        QTest::newRow("+CCID:") << Command{"plus-ccid", simNo, iccid + by};
        QTest::newRow("bare, F pad") << Command{"F", simNo, pad + by};
        QTest::newRow("quoted, quotes stay") << Command{"quoted", simNo, '"' + iccid + '"' + by};
        QTest::newRow("^ICCID: form four") << Command{"caret", simNo, iccid + " by AT^ICCID?"};
        QTest::newRow("+ICCID: last form, echo on")
            << Command{"plus-iccid echo", simNo, iccid + " by AT+CICCID"};
        QTest::newRow("IMEI, echo on") << Command{"echo", deviceNo, dev + "AT+CGSN"};
        QTest::newRow("IMEI by AT+WMSN after AT+CGSN failed") << Command{"wmsn", deviceNo, dev + "AT+WMSN"};
        QTest::newRow("list of used indexes") << Command{"", list, "1,2,3"};
        QTest::newRow("0-based list") << Command{"base0", list, "0,1,2"};
        QTest::newRow("range: the listing is asked") << Command{"range", list, "1,2,3 listed"};
        QTest::newRow("empty list") << Command{"emptylist", list, ""};
        QTest::newRow("range, 0-based, COMMAND NOT SUPPORT")
            << Command{"range base0 notsupport", list, "0,1,2 listed"};
        QTest::newRow("empty slot: bare OK") << Command{"", read, readOk};
        QTest::newRow("empty slot: +CMGR: 0,,0, ^RSSI inside") << Command{"zero|^RSSI:17", read, readOk};
        QTest::newRow("empty slot: +CMS ERROR, +CMTI inside") << Command{"cms|+CMTI: \"SM\",7", read, readOk};
        const Run simState = [](MyComThread& t, QSerialPort* p, ModemSim&) {
            const int code = t.atSimState(p);
            return ModemHealth::simName(t.lastHealth().sim) + ' ' + QString::number(code);
        };
        QTest::newRow("SIM state answered without a final result: no time-out")
            << Command{"pin noresult", simState, "pin 101"};
    }

    void commands()
    {
        QFETCH(Command, row);
        sim->setIccidStyle(ModemSim::IccidStyle::Bare);
        styleModem(*sim, row.style);
        for (const QByteArray& message : {pdu, pduB, pdu}) {
            sim->addMessage(message, false);
        }
        QCOMPARE(row.run(thread, port.get(), *sim), row.result);
    }
};

QTEST_GUILESS_MAIN(TestAtCommands)
#include "tst_atcommands.moc"
