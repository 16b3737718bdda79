#pragma once

#include <QMetaType>
#include <QString>

// What a modem says about its radio and its SIM card, as its worker last read
// it (signal, registration, operator, SIM state, message storage) or heard it
// in the modem's own notices. A value the modem never gave, or gave in a form
// the worker did not understand, is unknown.
struct ModemHealth
{
    enum class Registration
    {
        Unknown,
        Home,
        Roaming,
        Searching,
        Denied,
        Unregistered
    };
    enum class Sim
    {
        Unknown,
        Ready,
        Pin,
        Puk,
        Absent,
        Error
    };

    // Received signal strength 0 to 31 (AT+CSQ's rssi); -1 unknown, which
    // includes the modem's own "99, not known".
    int signal = -1;
    Registration registration = Registration::Unknown;
    // The network's name; empty when unknown.
    QString operatorName;
    Sim sim = Sim::Unknown;
    // The SIM refused the configured PIN: it is not tried again in this run.
    bool pinRefused = false;
    // Messages held and room in the modem's storages; -1 unknown.
    int storageUsed = -1;
    int storageTotal = -1;

    // The names status.json and the metrics use: "home", "roaming",
    // "searching", "denied", "unregistered", "unknown".
    static QString registrationName(Registration registration);
    // "ready", "pin", "puk", "absent", "error", "unknown".
    static QString simName(Sim sim);
    bool registered() const
    {
        return registration == Registration::Home || registration == Registration::Roaming;
    }

    bool operator==(const ModemHealth& other) const;
    bool operator!=(const ModemHealth& other) const { return !(*this == other); }
};

Q_DECLARE_METATYPE(ModemHealth)
