#pragma once

#include <QList>
#include <QObject>
#include <QString>

class MyCardMap;

// The settings of the program, kept in settings.ini in the data directory.
// theSetting is the copy of the main thread (the window's dialogs edit it);
// the controller reads a copy of its own from the file when it starts the
// modems or the sync. Every key, its default and its range are in one table
// in mysetting.cpp, which both loadIni and saveIni follow.
class MySetting : public QObject
{
    Q_OBJECT
public:
    explicit MySetting(QObject* parent = nullptr);
    ~MySetting() override;

    // --- configuration --------------------------------------------------
    // Reads settings.ini; keys that are absent get their defaults, in memory
    // and in the file. Values out of range are corrected in memory only, with
    // a line in the main log. False when the file exists but cannot be read or
    // parsed: then every value is its default, the file is left untouched, and
    // loadError() says why.
    bool loadIni();
    // Writes every value. A file that cannot be parsed is first kept aside as
    // settings.ini.bad. False when the file cannot be written (saveError()).
    bool saveIni();
    QString iniPath() const;
    // Why the last loadIni could not use the file; empty when it could.
    QString loadError() const { return lastLoadError; }
    // Why the last saveIni failed; empty when it succeeded.
    QString saveError() const { return lastSaveError; }

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
    // This host's name among several writing into one database: gateway_id
    // becomes "<name>:<port>". Empty: the port name alone.
    QString gatewayName;
    // Serial ports served besides the enumerated ones (DEF_EXTRA_PORTS), as typed.
    QString extraPorts;
    // The PIN the modems send, once, to a SIM that asks for it (SIM_PIN).
    QString simPin;

private:
    void useDefaults();

    QString lastLoadError;
    QString lastSaveError;
};

extern MySetting theSetting;
