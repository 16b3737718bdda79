#pragma once

#include <QMetaType>
#include <QString>

// Where the MySQL link goes and how it is secured, copied from the settings
// when the link is opened.
struct LinkSettings
{
    // One server, or a list of host[:port] entries separated by commas.
    QString host;
    // The port of an entry that names none.
    int port = 3306;
    QString user;
    QString pwd;
    QString dbName;
    // TLS: the CA that signed the servers' certificates and, for a server
    // that asks for one, the client's certificate and key. All empty: plain
    // link. With a CA, every server must show a certificate for the name it
    // was reached by.
    QString sslCa;
    QString sslCert;
    QString sslKey;

    bool wantsTls() const { return !sslCa.isEmpty() || !sslCert.isEmpty() || !sslKey.isEmpty(); }
};

// What an opened link tells about itself.
struct LinkInfo
{
    // The server in use, as "host:port".
    QString server;
    // The cipher of the link's encryption; empty when it is not encrypted.
    QString cipher;
    // Every row the link inserts from now on gets an id above this one; -1
    // when the table cannot tell (no auto-increment column, no right to read it).
    qint64 idFloor = -1;
    // The length of smsserver_in.gateway_id in characters.
    int gatewayWidth = 64;
};

Q_DECLARE_METATYPE(LinkSettings)
Q_DECLARE_METATYPE(LinkInfo)
