#include "core/mycardmap.h"

MyCardMap::MyCardMap(QObject* parent) : QObject(parent) {}

bool MyCardMap::addPair(const QString& sim, const QString& phone)
{
    const QString s = sim.trimmed();
    if (s.isEmpty() || indexOfSim(s) >= 0) {
        return false;
    }
    simList.append(s);
    phoneList.append(phone.trimmed());
    return true;
}

void MyCardMap::clearPairs()
{
    simList.clear();
    phoneList.clear();
}

int MyCardMap::indexOfSim(const QString& sim) const
{
    return simList.indexOf(sim);
}

QString MyCardMap::phoneForSim(const QString& sim) const
{
    const int i = indexOfSim(sim);
    if (i >= 0) {
        const QString& phone = phoneList.at(i);
        return phone.isEmpty() ? sim : phone;
    }
    const int colon = sim.lastIndexOf(QLatin1Char(':'));
    if (colon >= 0) {
        return sim.mid(colon + 1).trimmed();
    }
    return sim;
}
