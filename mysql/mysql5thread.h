#pragma once

#include <QString>
#include <QThread>

#include <atomic>

// Opens the MySQL connection off the GUI thread, once per startConn, and
// reports the link state it leads to: connResult(2) when the connection
// opened, connResult(3) when it did not.
class Mysql5Thread : public QThread
{
    Q_OBJECT
public:
    explicit Mysql5Thread(QObject* parent = nullptr);
    ~Mysql5Thread() override;

    // Waits for a previous attempt, then starts a new one. Always true.
    bool startConn(const QString& host, const int& port, const QString& user, const QString& pwd,
                   const QString& dbName);
    // Cancels a pending attempt that has not begun and waits for the thread;
    // the result of that wait.
    bool stopConn();

signals:
    void connResult(int nResult);

protected:
    void run() override;

private:
    std::atomic<bool> enabled{false};
    QString host;
    int port = 3306;
    QString user;
    QString password;
    QString dbName;
};
