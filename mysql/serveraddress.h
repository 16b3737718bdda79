#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// One MySQL server of the list in MYSQL_HOST: a host name or address and its
// TCP port.
struct ServerAddress
{
    QString host;
    int port = 3306;

    // "host:port", an IPv6 address in brackets: how logs and the window name it.
    QString text() const;

    // The entries of a list of host[:port] separated by commas (',' or '，') ("[v6]:port" for an
    // IPv6 address with a port; a bare IPv6 address takes the default port),
    // in order, blanks around each entry ignored. An entry whose port is not
    // a number from 1 to 65535 is left out and described in problems.
    static QList<ServerAddress> parseList(const QString& list, int defaultPort,
                                          QStringList* problems = nullptr);
};
