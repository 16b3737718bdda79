#include "mysql/mysql5thread.h"

#include "mysql/mysql5.h"

Mysql5Thread::Mysql5Thread(QObject* parent) : QThread(parent) {}

Mysql5Thread::~Mysql5Thread()
{
    // A QThread destroyed while running aborts the process.
    stopConn();
}

bool Mysql5Thread::startConn(const QString& host, const int& port, const QString& user, const QString& pwd,
                             const QString& dbName)
{
    enabled = false;
    quit();
    wait();
    enabled = true;
    this->host = host;
    this->port = port;
    this->user = user;
    password = pwd;
    this->dbName = dbName;
    start(QThread::InheritPriority);
    return true;
}

bool Mysql5Thread::stopConn()
{
    enabled = false;
    quit();
    return wait();
}

void Mysql5Thread::run()
{
    if (!enabled) {
        return;
    }
    const bool ok = Mysql5::openConn(host, port, user, password, dbName);
    emit connResult(ok ? 2 : 3);
}
