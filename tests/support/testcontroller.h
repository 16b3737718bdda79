#pragma once

// Plays the main window for worker tests: relays nothing, records every code
// a worker sends, keeps the PDUs it "stores" and answers each code-6 message
// the way the local store would.

#include "modem/mycomworker.h"
#include "modem/serialchecker.h"
#include "tools/modemsim/modemsim.h"

#include <QByteArray>
#include <QDir>
#include <QList>
#include <QSet>
#include <QTemporaryDir>

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
        QObject::connect(worker, &MyComWorker::workOkMsg, worker, [this](int id, int code, QByteArray pdu) {
            ids.append(id);
            okCodes.append(code);
            if (code == 4) {
                deviceNos.append(pdu);
            } else if (code == 5) {
                simNos.append(pdu);
            } else if (code == 6) {
                onMessage(pdu);
            }
        });
        QObject::connect(worker, &MyComWorker::workErrMsg, worker, [this](int id, int code) {
            ids.append(id);
            errCodes.append(code);
        });
    }

    void onMessage(const QByteArray& pdu)
    {
        received.append(pdu);
        switch (policy) {
        case Policy::Store:
            if (stored.contains(pdu)) {
                worker->answerMessage(StoreAnswer::AlreadyStored);
            } else {
                stored.insert(pdu);
                worker->answerMessage(StoreAnswer::Stored);
            }
            break;
        case Policy::Refuse:
            worker->answerMessage(StoreAnswer::Failed);
            break;
        case Policy::Silent:
            break;
        }
    }

    MyComWorker* worker;
    Policy policy = Policy::Store;
    QList<int> ids;
    QList<int> okCodes;
    QList<int> errCodes;
    QList<QByteArray> deviceNos;
    QList<QByteArray> simNos;
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
    explicit WorkerRig(int id = 1) : sim(dir.filePath(QStringLiteral("modem"))), controller(&worker)
    {
        comRunState.store(1);
        QDir::setCurrent(dir.path());
        started = sim.start();
        worker.setParams(id, sim.portPath(), 100, 115200, 0);
        // Listings every 10 s in service; the rules, not the period, are under test.
        worker.setListingPeriodsMs(ListingMs, ListingMs);
    }

    static constexpr int ListingMs = 1500;

    QTemporaryDir dir;
    ModemSim sim;
    MyComWorker worker;
    TestController controller;
    bool started = false;
};
