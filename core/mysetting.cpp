#include "core/mysetting.h"

#include "core/comlog.h"
#include "core/datadir.h"
#include "core/mycardmap.h"

#include <QFile>
#include <QSettings>

#include <utility>

MySetting theSetting;

namespace {

const QFileDevice::Permissions ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

// settings.ini holds the MySQL password in plain text: keep it readable by its
// owner only. An existing file keeps its mode through QSettings' rewrite.
void restrictIniFile(const QString& path)
{
    QFile file(path);
    if (!file.exists()) {
        if (!file.open(QIODevice::WriteOnly)) {
            return;
        }
        file.close();
    }
    file.setPermissions(ownerOnly);
}

// settings.ini is UTF-8, so that a value typed by hand in an editor (a
// full-width comma, a password) reads as typed. Qt 6 has no other way; Qt 5
// must be told, and still reads the escapes it used to write.
void useUtf8(QSettings& ini)
{
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    ini.setIniCodec("UTF-8");
#else
    Q_UNUSED(ini)
#endif
}

// Reads an integer key; a value below 0 is replaced by the fallback in memory
// and in the file.
int readNonNegative(QSettings& ini, const QString& key, int fallback)
{
    int value = ini.value(key, -1).toInt();
    if (value < 0) {
        value = fallback;
        ini.setValue(key, value);
    }
    return value;
}

// Reads a text value. A value typed by hand with commas and without quotes
// comes back from QSettings as a list; it is joined again instead of being
// read as nothing.
QString textValue(const QSettings& ini, const QString& key)
{
    const QVariant value = ini.value(key, QString());
    if (value.userType() == QMetaType::QStringList) {
        return value.toStringList().join(QLatin1Char(','));
    }
    return value.toString();
}

// Reads a text key; an empty value is replaced by the fallback in memory and in the file.
QString readText(QSettings& ini, const QString& key, const QString& fallback)
{
    QString value = textValue(ini, key);
    if (value.isEmpty()) {
        value = fallback;
        ini.setValue(key, value);
    }
    return value;
}

} // namespace

MySetting::MySetting(QObject* parent) : QObject(parent), cardMap(new MyCardMap(this)) {}

MySetting::~MySetting() = default;

QString MySetting::iniPath() const
{
    return dataDir() + QStringLiteral("/settings.ini");
}

bool MySetting::loadIni()
{
    ensureDataDir();
    const QString path = iniPath();
    restrictIniFile(path);
    QSettings ini(path, QSettings::IniFormat);
    useUtf8(ini);

    baudRate = readNonNegative(ini, QStringLiteral("DEF_BAUD"), 115200);
    flowControl = readNonNegative(ini, QStringLiteral("DEF_FLOW"), 0);
    speed = readNonNegative(ini, QStringLiteral("DEF_SPEED"), 200);
    ignorePorts = textValue(ini, QStringLiteral("DEF_IGNORE"));
    extraPorts = textValue(ini, QStringLiteral("DEF_EXTRA_PORTS"));

    // Corrections kept in memory only; the file gets them at the next save.
    if (flowControl < 0 || flowControl > 1) {
        flowControl = 0;
    }
    if (baudRate != 115200 && baudRate != 9600) {
        baudRate = 9600;
    }
    if (speed < 100) {
        speed = 200;
    }
    if (speed > 10000) {
        speed = 10000;
    }

    mysqlHost = readText(ini, QStringLiteral("MYSQL_HOST"), QStringLiteral("127.0.0.1"));
    mysqlPort = ini.value(QStringLiteral("MYSQL_PORT"), 0).toInt();
    if (mysqlPort < 1) {
        mysqlPort = 3306;
        ini.setValue(QStringLiteral("MYSQL_PORT"), mysqlPort);
    }
    mysqlUser = readText(ini, QStringLiteral("MYSQL_USER"), QStringLiteral("root"));
    mysqlPwd = readText(ini, QStringLiteral("MYSQL_PWD"), QStringLiteral("73914"));
    mysqlDbName = readText(ini, QStringLiteral("MYSQL_DBNAME"), QStringLiteral("smsserver"));
    mysqlSslCa = textValue(ini, QStringLiteral("MYSQL_SSL_CA"));
    mysqlSslCert = textValue(ini, QStringLiteral("MYSQL_SSL_CERT"));
    mysqlSslKey = textValue(ini, QStringLiteral("MYSQL_SSL_KEY"));

    logLevel.store(ini.value(QStringLiteral("LOGLEVEL"), 0).toInt());

    cardMap->clearPairs();
    const int pairs = ini.value(QStringLiteral("CARD/NUM"), 0).toInt();
    for (int i = 0; i < pairs; ++i) {
        const QString sim = textValue(ini, QStringLiteral("CARD/SIM_%1").arg(i));
        const QString phone = textValue(ini, QStringLiteral("CARD/PHN_%1").arg(i));
        cardMap->addPair(sim, phone);
    }

    ini.sync();
    QFile::setPermissions(path, ownerOnly);
    return true;
}

bool MySetting::saveIni()
{
    const QString path = iniPath();
    restrictIniFile(path);
    QSettings ini(path, QSettings::IniFormat);
    useUtf8(ini);

    ini.setValue(QStringLiteral("DEF_BAUD"), baudRate);
    ini.setValue(QStringLiteral("DEF_FLOW"), flowControl);
    ini.setValue(QStringLiteral("DEF_SPEED"), speed);
    ini.setValue(QStringLiteral("DEF_IGNORE"), ignorePorts);
    if (!extraPorts.isEmpty()) {
        ini.setValue(QStringLiteral("DEF_EXTRA_PORTS"), extraPorts);
    }
    ini.setValue(QStringLiteral("MYSQL_HOST"), mysqlHost);
    ini.setValue(QStringLiteral("MYSQL_PORT"), mysqlPort);
    ini.setValue(QStringLiteral("MYSQL_USER"), mysqlUser);
    ini.setValue(QStringLiteral("MYSQL_PWD"), mysqlPwd);
    ini.setValue(QStringLiteral("MYSQL_DBNAME"), mysqlDbName);
    // Written only when set, like the extra ports: a file without TLS stays as it was.
    const std::pair<const char*, QString> tlsKeys[] = {
        {"MYSQL_SSL_CA", mysqlSslCa}, {"MYSQL_SSL_CERT", mysqlSslCert}, {"MYSQL_SSL_KEY", mysqlSslKey}};
    for (const auto& key : tlsKeys) {
        if (!key.second.isEmpty()) {
            ini.setValue(QLatin1String(key.first), key.second);
        } else {
            ini.remove(QLatin1String(key.first));
        }
    }

    const int pairs = cardMap->simList.size();
    ini.setValue(QStringLiteral("CARD/NUM"), pairs);
    for (int i = 0; i < pairs; ++i) {
        ini.setValue(QStringLiteral("CARD/SIM_%1").arg(i), cardMap->simList.at(i));
        ini.setValue(QStringLiteral("CARD/PHN_%1").arg(i), cardMap->phoneList.at(i));
    }

    ini.sync();
    QFile::setPermissions(path, ownerOnly);
    return true;
}
