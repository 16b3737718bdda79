#pragma once

#include <QList>
#include <QObject>
#include <QString>

class MyCardMap;

// The settings of the program, kept in settings.ini in the data directory.
// theSetting is the copy of the main thread (the window's dialogs edit it);
// the controller reads a copy of its own from the file when it starts the
// modems or the sync.
class MySetting : public QObject
{
    Q_OBJECT
public:
    explicit MySetting(QObject* parent = nullptr);
    ~MySetting() override;

    // --- configuration --------------------------------------------------
    bool loadIni();
    bool saveIni();
    QString iniPath() const;

    int baudRate = 115200;
    int flowControl = 0;
    int speed = 200;
    QString ignorePorts;
    MyCardMap* cardMap = nullptr;
    QString mysqlHost = QStringLiteral("127.0.0.1");
    int mysqlPort = 3306;
    QString mysqlUser = QStringLiteral("root");
    QString mysqlPwd = QStringLiteral("73914");
    QString mysqlDbName = QStringLiteral("smsserver");
    // TLS for the MySQL link: the CA that signed the server's certificate and,
    // when the server asks for one, the client's certificate and key. All
    // empty: the link is not encrypted.
    QString mysqlSslCa;
    QString mysqlSslCert;
    QString mysqlSslKey;
    // Serial ports served besides the enumerated ones (DEF_EXTRA_PORTS), as typed.
    QString extraPorts;
};

extern MySetting theSetting;
