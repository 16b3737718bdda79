#pragma once

// Plays the main window for worker tests: records every code a worker sends,
// keeps the PDUs it "stores" and answers each code-6 message the way the
// local store would, or refuses it, or stays silent.

#include "modem/mycomworker.h"
#include "modem/serialchecker.h"
#include "tools/modemsim/modemsim.h"

#include <QDir>
#include <QHash>
#include <QSet>
#include <QTemporaryDir>

#include <functional>

class TestController
{
public:
    enum class Policy
    {
        Store,
        Refuse,
        Silent
    };

    explicit TestController(MyComWorker* worker) : worker(worker)
    {
        QObject::connect(worker, &MyComWorker::workOkMsg, worker, [this](int, int code, QByteArray pdu) {
            okCodes.append(code);
            if (code != OkMessage) {
                return;
            }
            received.append(pdu);
            if (policy == Policy::Store) {
                const bool known = stored.contains(pdu);
                stored.insert(pdu);
                this->worker->answerMessage(known ? StoreAnswer::AlreadyStored : StoreAnswer::Stored);
            } else if (policy == Policy::Refuse) {
                this->worker->answerMessage(StoreAnswer::Failed);
            }
        });
        QObject::connect(worker, &MyComWorker::workErrMsg, worker,
                         [this](int, int code) { errCodes.append(code); });
    }

    MyComWorker* worker;
    Policy policy = Policy::Store;
    QList<int> okCodes;
    QList<int> errCodes;
    QList<QByteArray> received;
    QSet<QByteArray> stored;
};

// Distinct, well-formed SMS-DELIVER PDUs for the tests ("test 1", ...).
inline QByteArray testPdu(int n)
{
    QByteArray digits = QByteArray::number(n).rightJustified(2, '0');
    return "0891683108200105F0040D9168311854139" + digits.left(1) + "F800001270407132" + digits +
           "2304F4F29C0E";
}

// One simulated modem, a worker on it and the controller played by the test,
// with the port log written into a directory of its own.
struct WorkerRig
{
    explicit WorkerRig(int id = 1, int speedMs = 100)
        : sim(dir.filePath(QStringLiteral("modem"))), controller(&worker)
    {
        comRunState.store(1);
        QDir::setCurrent(dir.path());
        started = sim.start();
        worker.setParams(id, sim.portPath(), speedMs, 115200, 0);
        // Listings every 10 s in service; the rules, not the period, are under test.
        worker.setListingPeriodsMs(1500, 1500);
    }

    QTemporaryDir dir;
    ModemSim sim;
    MyComWorker worker;
    TestController controller;
    bool started = false;
};

// Sets a simulated modem's answer style from words: "echo", "base0", "F" (a
// padded SIM number), "plus-ccid", "quoted", "caret" and "plus-iccid" (the only SIM number
// form the modem knows), "wmsn", "range", "emptylist", "zero" and "cms" (empty slots), "notsupport"; after a
// "|", a line slipped into every answer.
inline void styleModem(ModemSim& sim, const QString& style)
{
    using S = ModemSim;
    static const QHash<QString, std::function<void(S&)>> words{
        {"echo", [](S& s) { s.setEcho(true); }},
        {"base0", [](S& s) { s.setIndexBase(0); }},
        {"F", [](S& s) { s.setIccid("8986001234567890123F"); }},
        {"plus-ccid", [](S& s) { s.setIccidStyle(S::IccidStyle::PlusCcid); }},
        {"quoted", [](S& s) { s.setIccidStyle(S::IccidStyle::Quoted); }},
        {"caret",
         [](S& s) { s.setIccidCommands({"AT^ICCID?"}), s.setIccidStyle(S::IccidStyle::CaretIccid); }},
        {"plus-iccid",
         [](S& s) { s.setIccidCommands({"AT+CICCID"}), s.setIccidStyle(S::IccidStyle::PlusIccid); }},
        {"wmsn", [](S& s) { s.setImeiViaWmsn(true); }},
        {"range", [](S& s) { s.setIndexListStyle(S::IndexListStyle::Range); }},
        {"emptylist", [](S& s) { s.setIndexListStyle(S::IndexListStyle::EmptyList); }},
        {"zero", [](S& s) { s.setEmptySlotStyle(S::EmptySlotStyle::ZeroHeader); }},
        {"cms", [](S& s) { s.setEmptySlotStyle(S::EmptySlotStyle::CmsError); }},
        {"notsupport", [](S& s) { s.setErrorText("COMMAND NOT SUPPORT"); }},
        {"pin", [](S& s) { s.setSimLock(S::SimLock::Pin); }},
        {"noresult", [](S& s) { s.setSimStateWithoutResult(true); }},
    };
    for (const QString& word : style.section('|', 0, 0).split(' ', Qt::SkipEmptyParts)) {
        words.value(word)(sim);
    }
    sim.setUnsolicitedInAnswer(style.section('|', 1).toLatin1());
}
