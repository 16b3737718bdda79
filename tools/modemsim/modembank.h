#pragma once

#include "tools/modemsim/modemsim.h"

#include <QList>
#include <QObject>
#include <QStringList>

class QThread;

// Many simulated modems served from one process by a few threads.
//
//     ModemBank bank;
//     QVERIFY(bank.start(32, tmpDir.path()));   // links tmpDir/modem1 .. tmpDir/modem32
//     bank.modem(0)->addMessage(pdu);
//
// Modem i (counted from 0) is reachable at dir/modem<i+1>.
class ModemBank : public QObject
{
    Q_OBJECT
public:
    explicit ModemBank(QObject* parent = nullptr);
    ~ModemBank() override;

    // Starts count modems with their links in dir, spread over threadCount
    // threads. On failure nothing stays running and error says why.
    bool start(int count, const QString& dir, QString* error = nullptr, int threadCount = 2);
    void stop();

    int count() const { return modems.size(); }
    ModemSim* modem(int i) const { return modems.value(i); }
    QStringList portPaths() const;

private:
    QList<ModemSim*> modems;
    QList<QThread*> threads;
};
