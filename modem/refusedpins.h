#pragma once

#include <QString>

// The SIM cards that refused the configured PIN, for the whole run of the
// program: three wrong tries lock a SIM behind its PUK, so a refused PIN is
// never sent to that SIM again, whatever worker or port serves it later. A
// SIM is named by its number when known, else by its port. Safe from any
// thread.
class RefusedPins
{
public:
    static QString simKey(const QString& simNo);
    static QString portKey(const QString& portName);

    static bool contains(const QString& key);
    static void add(const QString& key);
    // Forgets them all; a new run starts with none.
    static void clear();
};
