#pragma once

#include <QString>

// The per-user directory that holds settings.ini and sms-r.db. Read from the
// environment afresh on every call.
QString dataDir();

// Creates the data directory with all missing parents.
void ensureDataDir();
