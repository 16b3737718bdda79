#include "core/mysetting.h"

#include "core/comlog.h"
#include "core/datadir.h"
#include "core/mycardmap.h"

#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QSettings>

#include <algorithm>
#include <climits>

MySetting theSetting;

namespace {

// When saveIni writes a key: always, only when it holds a value (removed
// otherwise, so a file without the feature stays as it was), or never (a key
// only the operator writes by hand).
enum class Save
{
    Always,
    WhenSet,
    Never
};

// A whole-number key. Absent, it takes its default, which is written to the
// file (except for keys saved never). A stored negative number in a key that
// has none reads as the default, as an unset value always has; otherwise a
// value below low is read as belowLow and one above high as aboveHigh. With
// onlyEnds, low and high are the only values allowed and anything between
// them is read as belowLow.
// A stored value is never rewritten at load: the correction lives in memory
// until the operator saves from a dialog, and the main log says so.
struct IntKey
{
    const char* name;
    int MySetting::*field; // null: not a field (LOGLEVEL goes to the global logLevel)
    int fallback;
    qint64 low;
    qint64 high;
    int belowLow;
    int aboveHigh;
    bool onlyEnds;
    Save save;
};

// The baud rate keeps 9600 for every odd value: every modem speaks it.
// clang-format off
const IntKey intKeys[] = {
    // key         field                    default  low      high     below    above    only ends
    {"DEF_BAUD",   &MySetting::baudRate,    115200,  9600,    115200,  9600,    9600,    true,  Save::Always},
    {"DEF_FLOW",   &MySetting::flowControl, 0,       0,       1,       0,       0,       false, Save::Always},
    {"DEF_SPEED",  &MySetting::speed,       200,     100,     10000,   200,     10000,   false, Save::Always},
    {"MYSQL_PORT", &MySetting::mysqlPort,   3306,    1,       65535,   3306,    65535,   false, Save::Always},
    {"LOGLEVEL",   nullptr,                 0,       INT_MIN, INT_MAX, INT_MIN, INT_MAX, false, Save::Never},
};
// The number of card pairs, written by saveIni from the map. At most 10000:
// each pair added is looked up among those before it.
const IntKey cardCount =
    {"CARD/NUM",   nullptr,                 0,       0,       10000,   0,       10000,   false, Save::Never};
// clang-format on

// A text key. With a default, an absent or empty value takes it, in memory
// and in the file; without one it stays empty.
struct TextKey
{
    const char* name;
    QString MySetting::*field;
    const char* fallback;
    Save save;
};

// clang-format off
const TextKey textKeys[] = {
    // key              field                     default       written
    {"DEF_IGNORE",      &MySetting::ignorePorts,  nullptr,      Save::Always},
    {"DEF_EXTRA_PORTS", &MySetting::extraPorts,   nullptr,      Save::WhenSet},
    {"SIM_PIN",         &MySetting::simPin,       nullptr,      Save::WhenSet},
    {"MYSQL_HOST",      &MySetting::mysqlHost,    "127.0.0.1",  Save::Always},
    {"MYSQL_USER",      &MySetting::mysqlUser,    "root",       Save::Always},
    {"MYSQL_PWD",       &MySetting::mysqlPwd,     "73914",      Save::Always},
    {"MYSQL_DBNAME",    &MySetting::mysqlDbName,  "smsserver",  Save::Always},
    {"MYSQL_SSL_CA",    &MySetting::mysqlSslCa,   nullptr,      Save::WhenSet},
    {"MYSQL_SSL_CERT",  &MySetting::mysqlSslCert, nullptr,      Save::WhenSet},
    {"MYSQL_SSL_KEY",   &MySetting::mysqlSslKey,  nullptr,      Save::WhenSet},
    {"GATEWAY_NAME",    &MySetting::gatewayName,  nullptr,      Save::WhenSet},
};
// clang-format on

// The card map: [CARD] NUM pairs SIM_<i>, PHN_<i>, i from 0. saveIni leaves
// pairs at or above a new NUM in the file, and loadIni ignores them.

// A settings file is a few kilobytes; anything this large is something else.
const qint64 maxIniBytes = 4 * 1024 * 1024;

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

// The same corrections are found at every load (the window's and the road's,
// at each restart); they are logged when they change.
void logNotes(const QStringList& notes)
{
    static QMutex mutex;
    static QStringList logged;
    QMutexLocker lock(&mutex);
    if (notes == logged) {
        return;
    }
    logged = notes;
    ComLog log;
    log.open(QStringLiteral("comlog-main.txt"));
    for (const QString& note : notes) {
        log.write(QStringLiteral("SETTINGS: %1").arg(note).toUtf8());
    }
}

bool isSoundLine(const QByteArray& raw)
{
    const QByteArray line = raw.trimmed();
    if (line.startsWith('[')) {
        return line.contains(']');
    }
    return line.isEmpty() || line.startsWith(';') || line.startsWith('#') || line.contains('=');
}

// The number of the first line that is neither blank, a comment, a [section]
// nor a key=value pair; 0 when there is none. Lines are those of the INI
// reader: a line break inside quotes or after a backslash continues the line.
int firstStrayLine(const QByteArray& data)
{
    QByteArray line;
    int lineNo = 1;
    int startNo = 1;
    bool quoted = false;
    bool escaped = false;
    const int begin = data.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    for (int i = begin; i <= data.size(); ++i) {
        const char c = i < data.size() ? data.at(i) : '\n';
        const bool escapedNow = escaped;
        escaped = !escapedNow && c == '\\';
        if (!escapedNow && c == '"') {
            quoted = !quoted;
        }
        if ((c == '\n' || c == '\r') && !quoted && !escapedNow) {
            if (!isSoundLine(line)) {
                return startNo;
            }
            line.clear();
        } else {
            if (line.isEmpty()) {
                startNo = lineNo;
            }
            line += c;
        }
        lineNo += c == '\n' ? 1 : 0;
    }
    return 0;
}

// Why the file cannot serve as settings; empty when it can or is absent.
// QSettings reads almost anything without complaint and would then replace
// what it did not understand, so the file is looked at first.
QString iniProblem(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists()) {
        return {};
    }
    if (!info.isFile()) {
        return QStringLiteral("is not a file");
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return QStringLiteral("cannot be read (%1)").arg(file.errorString());
    }
    if (file.size() > maxIniBytes) {
        return QStringLiteral("is %1 bytes long, too long for a settings file").arg(file.size());
    }
    const QByteArray data = file.readAll();
    if (data.contains('\0')) {
        return QStringLiteral("holds binary data, not text");
    }
    const int stray = firstStrayLine(data);
    if (stray > 0) {
        return QStringLiteral("cannot be parsed: line %1 is not a [section], a key=value pair or a comment")
            .arg(stray);
    }
    const QSettings probe(path, QSettings::IniFormat);
    if (probe.status() == QSettings::FormatError) {
        return QStringLiteral("cannot be parsed");
    }
    if (probe.status() == QSettings::AccessError) {
        return QStringLiteral("cannot be read");
    }
    return {};
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

// A whole number as typed. A text that is no number reads as 0, as it always
// has; digits too many for 64 bits read as the farthest value of their sign.
qint64 wholeNumber(const QString& typed, bool* isNumber)
{
    const QString text = typed.trimmed();
    qint64 value = text.toLongLong(isNumber);
    static const QRegularExpression digits(QStringLiteral("^[+-]?[0-9]+$"));
    if (!*isNumber && digits.match(text).hasMatch()) {
        *isNumber = true;
        value = text.startsWith(QLatin1Char('-')) ? LLONG_MIN : LLONG_MAX;
    }
    return *isNumber ? value : 0;
}

int readInt(QSettings& ini, const IntKey& key, QStringList& notes)
{
    const QString name = QLatin1String(key.name);
    if (!ini.contains(name)) {
        if (key.save != Save::Never) {
            ini.setValue(name, key.fallback);
        }
        return key.fallback;
    }
    const QString typed = textValue(ini, name);
    bool isNumber = false;
    const qint64 value = wholeNumber(typed, &isNumber);
    int used = int(std::clamp<qint64>(value, INT_MIN, INT_MAX));
    if (value < 0 && key.low >= 0) {
        used = key.fallback;
    } else if (value < key.low || (key.onlyEnds && value != key.low && value != key.high)) {
        used = key.belowLow;
    } else if (value > key.high) {
        used = key.aboveHigh;
    }
    if (!isNumber || used != value) {
        const QString allowed =
            QStringLiteral("%1 %2 %3").arg(key.low).arg(key.onlyEnds ? "or" : "to").arg(key.high);
        notes << QStringLiteral("%1=%2 is %3 (%4), %5 is used")
                     .arg(name, typed.left(40), isNumber ? "out of range" : "not a number", allowed)
                     .arg(used);
    }
    return used;
}

QString readText(QSettings& ini, const TextKey& key)
{
    const QString name = QLatin1String(key.name);
    QString value = textValue(ini, name);
    if (value.isEmpty() && key.fallback != nullptr) {
        value = QString::fromLatin1(key.fallback);
        ini.setValue(name, value);
    }
    return value;
}

// Only the pairs present are read, so a huge NUM costs nothing.
void readCards(QSettings& ini, MyCardMap& map, QStringList& notes)
{
    const int pairs = readInt(ini, cardCount, notes);
    ini.beginGroup(QStringLiteral("CARD"));
    const QStringList keys = ini.childKeys();
    QList<int> indexes;
    for (const QString& key : keys) {
        bool ok = false;
        const int i = key.startsWith(QLatin1String("SIM_")) ? key.mid(4).toInt(&ok) : -1;
        if (ok && i >= 0 && i < pairs && QString::number(i) == key.mid(4)) {
            indexes.append(i);
        }
    }
    std::sort(indexes.begin(), indexes.end());
    map.clearPairs();
    for (int i : qAsConst(indexes)) {
        map.addPair(textValue(ini, QStringLiteral("SIM_%1").arg(i)),
                    textValue(ini, QStringLiteral("PHN_%1").arg(i)));
    }
    ini.endGroup();
}

void readKeys(QSettings& ini, MySetting& settings, QStringList& notes)
{
    for (const IntKey& key : intKeys) {
        const int value = readInt(ini, key, notes);
        if (key.field != nullptr) {
            settings.*key.field = value;
        } else {
            logLevel.store(value);
        }
    }
    for (const TextKey& key : textKeys) {
        settings.*key.field = readText(ini, key);
    }
    readCards(ini, *settings.cardMap, notes);
}

void writeKeys(QSettings& ini, const MySetting& settings)
{
    for (const IntKey& key : intKeys) {
        if (key.save == Save::Always) {
            ini.setValue(QLatin1String(key.name), settings.*key.field);
        }
    }
    for (const TextKey& key : textKeys) {
        const QString& value = settings.*key.field;
        if (key.save == Save::Always || (key.save == Save::WhenSet && !value.isEmpty())) {
            ini.setValue(QLatin1String(key.name), value);
        } else if (key.save == Save::WhenSet) {
            ini.remove(QLatin1String(key.name));
        }
    }
    const MyCardMap& map = *settings.cardMap;
    ini.setValue(QLatin1String(cardCount.name), map.simList.size());
    for (int i = 0; i < map.simList.size(); ++i) {
        ini.setValue(QStringLiteral("CARD/SIM_%1").arg(i), map.simList.at(i));
        ini.setValue(QStringLiteral("CARD/PHN_%1").arg(i), map.phoneList.at(i));
    }
}

// Moves a file that could not be read out of the way of a save, so that the
// operator's old settings can still be looked at.
QString keepBadFile(const QString& path)
{
    const QString bad = path + QStringLiteral(".bad");
    QFile::remove(bad);
    QFile file(path);
    if (!file.rename(bad)) {
        return QStringLiteral("%1 cannot be moved to %2 (%3)").arg(path, bad, file.errorString());
    }
    logNotes({QStringLiteral("the settings file that could not be read is kept as %1").arg(bad)});
    return {};
}

} // namespace

MySetting::MySetting(QObject* parent) : QObject(parent), cardMap(new MyCardMap(this)) {}

MySetting::~MySetting() = default;

QString MySetting::iniPath() const
{
    return dataDir() + QStringLiteral("/settings.ini");
}

void MySetting::useDefaults()
{
    for (const IntKey& key : intKeys) {
        if (key.field != nullptr) {
            this->*key.field = key.fallback;
        } else {
            logLevel.store(key.fallback);
        }
    }
    for (const TextKey& key : textKeys) {
        this->*key.field = key.fallback != nullptr ? QString::fromLatin1(key.fallback) : QString();
    }
    cardMap->clearPairs();
}

bool MySetting::loadIni()
{
    ensureDataDir();
    const QString path = iniPath();
    QStringList notes;
    lastLoadError = iniProblem(path);
    if (lastLoadError.isEmpty()) {
        restrictIniFile(path);
        QSettings ini(path, QSettings::IniFormat);
        useUtf8(ini);
        readKeys(ini, *this, notes);
        ini.sync();
        if (ini.status() != QSettings::NoError) {
            notes << QStringLiteral("the defaults of absent keys cannot be written to %1").arg(path);
        }
        QFile::setPermissions(path, ownerOnly);
    } else {
        // Nothing is written to a file that could not be read: it may be the
        // operator's only copy of the settings.
        useDefaults();
        notes << QStringLiteral("%1 %2; the defaults are used and nothing is written to it")
                     .arg(path, lastLoadError);
    }
    logNotes(notes);
    return lastLoadError.isEmpty();
}

bool MySetting::saveIni()
{
    const QString path = iniPath();
    lastSaveError = iniProblem(path).isEmpty() ? QString() : keepBadFile(path);
    if (lastSaveError.isEmpty()) {
        restrictIniFile(path);
        QSettings ini(path, QSettings::IniFormat);
        useUtf8(ini);
        writeKeys(ini, *this);
        ini.sync();
        QFile::setPermissions(path, ownerOnly);
        if (ini.status() != QSettings::NoError) {
            lastSaveError = QStringLiteral("%1 cannot be written").arg(path);
        }
    }
    if (!lastSaveError.isEmpty()) {
        logNotes({lastSaveError});
        return false;
    }
    lastLoadError.clear();
    return true;
}
