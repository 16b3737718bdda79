#pragma once

#include <QMetaType>
#include <QString>

// Where the MySQL link goes and how it is secured, copied from the settings
// when the link is opened.
struct LinkSettings
{
    QString host;
    int port = 3306;
    QString user;
    QString pwd;
    QString dbName;
    // TLS: the CA that signed the server's certificate and, for a server that
    // asks for one, the client's certificate and key. All empty: plain link.
    QString sslCa;
    QString sslCert;
    QString sslKey;

    bool wantsTls() const { return !sslCa.isEmpty() || !sslCert.isEmpty() || !sslKey.isEmpty(); }
};

Q_DECLARE_METATYPE(LinkSettings)
