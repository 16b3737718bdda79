#pragma once

#include <QString>

// The per-user directory that holds settings.ini and sms-r.db. Read from the
// environment afresh on every call, unless a directory was set explicitly.
QString dataDir();

// Makes dataDir() answer this directory (a service's --data-dir); an empty
// path goes back to the environment.
void setDataDirOverride(const QString& path);

// Creates the data directory with all missing parents; the directory itself
// is made private to its owner.
void ensureDataDir();

// Every file and directory the process creates from now on is private to its
// user (on Unix, the umask): the store and its journal files, the status and
// lock files, the logs. Called first thing by the programs.
void keepNewFilesPrivate();
