#include "modem/modemhealth.h"

QString ModemHealth::registrationName(Registration registration)
{
    switch (registration) {
    case Registration::Home:
        return QStringLiteral("home");
    case Registration::Roaming:
        return QStringLiteral("roaming");
    case Registration::Searching:
        return QStringLiteral("searching");
    case Registration::Denied:
        return QStringLiteral("denied");
    case Registration::Unregistered:
        return QStringLiteral("unregistered");
    case Registration::Unknown:
        break;
    }
    return QStringLiteral("unknown");
}

QString ModemHealth::simName(Sim sim)
{
    switch (sim) {
    case Sim::Ready:
        return QStringLiteral("ready");
    case Sim::Pin:
        return QStringLiteral("pin");
    case Sim::Puk:
        return QStringLiteral("puk");
    case Sim::Absent:
        return QStringLiteral("absent");
    case Sim::Error:
        return QStringLiteral("error");
    case Sim::Unknown:
        break;
    }
    return QStringLiteral("unknown");
}

bool ModemHealth::operator==(const ModemHealth& other) const
{
    return signal == other.signal && registration == other.registration &&
           operatorName == other.operatorName && sim == other.sim && pinRefused == other.pinRefused &&
           storageUsed == other.storageUsed && storageTotal == other.storageTotal;
}
