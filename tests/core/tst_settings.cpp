#include "core/comlog.h"
#include "core/mycardmap.h"
#include "core/mysetting.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// Settings are read from and written to a temporary data directory.
class TestSettings : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> dir;
    QString ini() const { return dir->path() + QStringLiteral("/VLSMS/settings.ini"); }
    void writeIni(const QString& text)
    {
        QDir().mkpath(dir->path() + QStringLiteral("/VLSMS"));
        QFile file(ini());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text.toUtf8());
    }
    QVariant fileValue(const QString& key) const
    {
        QSettings file(ini(), QSettings::IniFormat);
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
        file.setIniCodec("UTF-8");
#endif
        const QVariant value = file.value(key);
        return value.userType() == QMetaType::QStringList ? value.toStringList().join(',') : value;
    }

private slots:
    void init();
    void cleanup();
    void missingFileGetsDefaults();
    void corrections_data();
    void corrections();
    void blanksCountAsText();
    void cardMapFromFile();
    void saveWritesEveryKeyAndKeepsStaleCards();
    void logLevelIsReadNeverWritten();
    void extraPorts();
    void fileIsOwnerOnly();
    void addPair_data();
    void addPair();
    void phoneForSim_data();
    void phoneForSim();
};

void TestSettings::init()
{
    dir = std::make_unique<QTemporaryDir>();
    qputenv("APPDATA", dir->path().toUtf8());
    theSetting.baudRate = 115200;
    theSetting.flowControl = 0;
    theSetting.speed = 200;
    theSetting.ignorePorts.clear();
    theSetting.extraPorts.clear();
    theSetting.cardMap->clearPairs();
    logLevel = 0;
}

void TestSettings::cleanup()
{
    qunsetenv("APPDATA");
    dir.reset();
}

void TestSettings::missingFileGetsDefaults()
{
    QVERIFY(theSetting.loadIni());
    QCOMPARE(theSetting.baudRate, 115200);
    QCOMPARE(theSetting.flowControl, 0);
    QCOMPARE(theSetting.speed, 200);
    QCOMPARE(theSetting.mysqlHost, QStringLiteral("127.0.0.1"));
    QCOMPARE(theSetting.mysqlPort, 3306);
    QCOMPARE(theSetting.mysqlUser, QStringLiteral("root"));
    QCOMPARE(theSetting.mysqlPwd, QStringLiteral("73914"));
    QCOMPARE(theSetting.mysqlDbName, QStringLiteral("smsserver"));
    QCOMPARE(theSetting.cardMap->simList.size(), 0);

    QSettings file(ini(), QSettings::IniFormat);
    QStringList keys = file.allKeys();
    keys.sort();
    QCOMPARE(keys, QStringList({"DEF_BAUD", "DEF_FLOW", "DEF_SPEED", "MYSQL_DBNAME", "MYSQL_HOST",
                                "MYSQL_PORT", "MYSQL_PWD", "MYSQL_USER"}));
    QCOMPARE(file.value("DEF_BAUD").toInt(), 115200);
    QCOMPARE(file.value("DEF_FLOW").toInt(), 0);
    QCOMPARE(file.value("DEF_SPEED").toInt(), 200);
}

void TestSettings::corrections_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("inMemory");
    QTest::addColumn<QString>("inFileAfterLoad");

    QTest::newRow("baud 57600: 9600 in memory only") << "DEF_BAUD"
                                                     << "57600"
                                                     << "9600"
                                                     << "57600";
    QTest::newRow("baud -1: 115200 written back") << "DEF_BAUD"
                                                  << "-1"
                                                  << "115200"
                                                  << "115200";
    QTest::newRow("baud not numeric: 9600") << "DEF_BAUD"
                                            << "fast"
                                            << "9600"
                                            << "fast";
    QTest::newRow("baud 9600 stays") << "DEF_BAUD"
                                     << "9600"
                                     << "9600"
                                     << "9600";
    QTest::newRow("flow 2: 0 in memory only") << "DEF_FLOW"
                                              << "2"
                                              << "0"
                                              << "2";
    QTest::newRow("flow -3: 0 written back") << "DEF_FLOW"
                                             << "-3"
                                             << "0"
                                             << "0";
    QTest::newRow("flow 1 stays") << "DEF_FLOW"
                                  << "1"
                                  << "1"
                                  << "1";
    QTest::newRow("speed 50: 200 in memory only") << "DEF_SPEED"
                                                  << "50"
                                                  << "200"
                                                  << "50";
    QTest::newRow("speed 20000: 10000") << "DEF_SPEED"
                                        << "20000"
                                        << "10000"
                                        << "20000";
    QTest::newRow("speed 100 stays") << "DEF_SPEED"
                                     << "100"
                                     << "100"
                                     << "100";
    QTest::newRow("speed 10000 stays") << "DEF_SPEED"
                                       << "10000"
                                       << "10000"
                                       << "10000";
    QTest::newRow("speed -1: 200 written back") << "DEF_SPEED"
                                                << "-1"
                                                << "200"
                                                << "200";
    QTest::newRow("speed not numeric: 200 in memory") << "DEF_SPEED"
                                                      << "x"
                                                      << "200"
                                                      << "x";
    QTest::newRow("port 0: 3306 written back") << "MYSQL_PORT"
                                               << "0"
                                               << "3306"
                                               << "3306";
    QTest::newRow("port -5: 3306 written back") << "MYSQL_PORT"
                                                << "-5"
                                                << "3306"
                                                << "3306";
    QTest::newRow("port not numeric: 3306 written back") << "MYSQL_PORT"
                                                         << "abc"
                                                         << "3306"
                                                         << "3306";
    QTest::newRow("port 3307 stays") << "MYSQL_PORT"
                                     << "3307"
                                     << "3307"
                                     << "3307";
    QTest::newRow("empty host: default written back") << "MYSQL_HOST"
                                                      << ""
                                                      << "127.0.0.1"
                                                      << "127.0.0.1";
    QTest::newRow("empty user: root") << "MYSQL_USER"
                                      << ""
                                      << "root"
                                      << "root";
    QTest::newRow("empty password: default") << "MYSQL_PWD"
                                             << ""
                                             << "73914"
                                             << "73914";
    QTest::newRow("empty database: smsserver") << "MYSQL_DBNAME"
                                               << ""
                                               << "smsserver"
                                               << "smsserver";
    QTest::newRow("host kept") << "MYSQL_HOST"
                               << "db.example"
                               << "db.example"
                               << "db.example";
    QTest::newRow("ignore list quoted") << "DEF_IGNORE"
                                        << "\"COM1, COM3\""
                                        << "COM1, COM3"
                                        << "COM1, COM3";
    QTest::newRow("ignore list typed without quotes") << "DEF_IGNORE"
                                                      << "COM1,COM3"
                                                      << "COM1,COM3"
                                                      << "COM1,COM3";
    QTest::newRow("ignore list typed in UTF-8 with full-width commas") << "DEF_IGNORE"
                                                                       << "COM1，COM3"
                                                                       << "COM1，COM3"
                                                                       << "COM1，COM3";
    QTest::newRow("password with a comma typed without quotes") << "MYSQL_PWD"
                                                                << "pa,ss"
                                                                << "pa,ss"
                                                                << "pa,ss";
}

void TestSettings::corrections()
{
    QFETCH(QString, key);
    QFETCH(QString, stored);
    QFETCH(QString, inMemory);
    QFETCH(QString, inFileAfterLoad);

    writeIni(QStringLiteral("[General]\n%1=%2\n").arg(key, stored));
    theSetting.loadIni();
    const QHash<QString, QString> memory = {
        {"DEF_BAUD", QString::number(theSetting.baudRate)},
        {"DEF_FLOW", QString::number(theSetting.flowControl)},
        {"DEF_SPEED", QString::number(theSetting.speed)},
        {"DEF_IGNORE", theSetting.ignorePorts},
        {"MYSQL_HOST", theSetting.mysqlHost},
        {"MYSQL_PORT", QString::number(theSetting.mysqlPort)},
        {"MYSQL_USER", theSetting.mysqlUser},
        {"MYSQL_PWD", theSetting.mysqlPwd},
        {"MYSQL_DBNAME", theSetting.mysqlDbName},
    };
    QCOMPARE(memory.value(key), inMemory);
    QCOMPARE(fileValue(key).toString(), inFileAfterLoad);
}

void TestSettings::blanksCountAsText()
{
    writeIni(QStringLiteral("[General]\nMYSQL_PWD=\"  \"\n"));
    theSetting.loadIni();
    QCOMPARE(theSetting.mysqlPwd, QStringLiteral("  "));
}

void TestSettings::cardMapFromFile()
{
    // Pairs 0 and 2 share a SIM, pair 1 has a blank SIM: one pair survives,
    // trimmed, and the in-memory indexes close up.
    writeIni(QStringLiteral("[CARD]\nNUM=4\nSIM_0=\" 8986001 \"\nPHN_0=13800000001\nSIM_1=\"  \"\nPHN_1=x\n"
                            "SIM_2=8986001\nPHN_2=13800000002\nSIM_3=8986003\nPHN_3=\n"));
    theSetting.loadIni();
    QCOMPARE(theSetting.cardMap->simList, QStringList({"8986001", "8986003"}));
    QCOMPARE(theSetting.cardMap->phoneList, QStringList({"13800000001", ""}));
    QCOMPARE(theSetting.cardMap->indexOfSim(QStringLiteral("8986001")), 0);
    QCOMPARE(theSetting.cardMap->indexOfSim(QStringLiteral(" 8986001 ")), -1);
    // A second load replaces the map rather than adding to it.
    theSetting.loadIni();
    QCOMPARE(theSetting.cardMap->simList.size(), 2);
}

void TestSettings::saveWritesEveryKeyAndKeepsStaleCards()
{
    writeIni(QStringLiteral("[CARD]\nNUM=3\nSIM_0=a\nPHN_0=1\nSIM_1=b\nPHN_1=2\nSIM_2=c\nPHN_2=3\n"));
    theSetting.loadIni();
    theSetting.cardMap->clearPairs();
    theSetting.cardMap->addPair(QStringLiteral("z"), QStringLiteral("9"));
    theSetting.baudRate = 9600;
    theSetting.ignorePorts = QStringLiteral("COM7");
    theSetting.mysqlPwd = QStringLiteral(" secret");
    QVERIFY(theSetting.saveIni());

    QSettings file(ini(), QSettings::IniFormat);
    QCOMPARE(file.value("DEF_BAUD").toInt(), 9600);
    QCOMPARE(file.value("DEF_IGNORE").toString(), QStringLiteral("COM7"));
    QCOMPARE(file.value("MYSQL_PWD").toString(), QStringLiteral(" secret"));
    QCOMPARE(file.value("CARD/NUM").toInt(), 1);
    QCOMPARE(file.value("CARD/SIM_0").toString(), QStringLiteral("z"));
    QCOMPARE(file.value("CARD/PHN_0").toString(), QStringLiteral("9"));
    // Keys of pairs beyond the new count stay, and the next load ignores them.
    QCOMPARE(file.value("CARD/SIM_2").toString(), QStringLiteral("c"));
    theSetting.loadIni();
    QCOMPARE(theSetting.cardMap->simList, QStringList({"z"}));
}

void TestSettings::logLevelIsReadNeverWritten()
{
    writeIni(QStringLiteral("[General]\nLOGLEVEL=785\n"));
    theSetting.loadIni();
    QCOMPARE(logLevel.load(), 785);
    theSetting.saveIni();
    QCOMPARE(fileValue("LOGLEVEL").toInt(), 785);

    QTemporaryDir other;
    qputenv("APPDATA", other.path().toUtf8());
    theSetting.loadIni();
    QCOMPARE(logLevel.load(), 0);
    theSetting.saveIni();
    QVERIFY(!QSettings(other.path() + "/VLSMS/settings.ini", QSettings::IniFormat).contains("LOGLEVEL"));
}

void TestSettings::extraPorts()
{
    theSetting.loadIni();
    QVERIFY(theSetting.extraPorts.isEmpty());
    QVERIFY(!QSettings(ini(), QSettings::IniFormat).contains("DEF_EXTRA_PORTS"));
    theSetting.saveIni();
    QVERIFY(!QSettings(ini(), QSettings::IniFormat).contains("DEF_EXTRA_PORTS"));

    writeIni(QStringLiteral("[General]\nDEF_EXTRA_PORTS=\"/dev/pts/3,/tmp/modem1\"\n"));
    theSetting.loadIni();
    QCOMPARE(theSetting.extraPorts, QStringLiteral("/dev/pts/3,/tmp/modem1"));
    theSetting.saveIni();
    QCOMPARE(fileValue("DEF_EXTRA_PORTS").toString(), QStringLiteral("/dev/pts/3,/tmp/modem1"));
}

void TestSettings::fileIsOwnerOnly()
{
#ifdef Q_OS_WIN
    QSKIP("file modes are POSIX");
#endif
    const auto ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    theSetting.loadIni();
    QCOMPARE(QFile::permissions(ini()) & 0x7077, ownerOnly);
    // A file somebody made world-readable is restricted again on the next save.
    QFile::setPermissions(ini(), ownerOnly | QFileDevice::ReadOther | QFileDevice::ReadGroup);
    theSetting.mysqlPwd = QStringLiteral("changed");
    theSetting.saveIni();
    QCOMPARE(QFile::permissions(ini()) & 0x7077, ownerOnly);
}

void TestSettings::addPair_data()
{
    QTest::addColumn<QStringList>("sims");
    QTest::addColumn<QStringList>("phones");
    QTest::addColumn<QStringList>("expectedSims");
    QTest::addColumn<QStringList>("expectedPhones");

    QTest::newRow("trimmed on both sides")
        << QStringList{" 111 "} << QStringList{" 138 "} << QStringList{"111"} << QStringList{"138"};
    QTest::newRow("empty and blank SIM refused")
        << QStringList{"", "   ", "2"} << QStringList{"a", "b", "c"} << QStringList{"2"} << QStringList{"c"};
    QTest::newRow("repeat after trimming refused")
        << QStringList{"7", " 7"} << QStringList{"a", "b"} << QStringList{"7"} << QStringList{"a"};
    QTest::newRow("case matters") << QStringList{"abc", "ABC"} << QStringList{"1", "2"}
                                  << QStringList{"abc", "ABC"} << QStringList{"1", "2"};
    QTest::newRow("empty phone allowed")
        << QStringList{"5"} << QStringList{""} << QStringList{"5"} << QStringList{""};
}

void TestSettings::addPair()
{
    QFETCH(QStringList, sims);
    QFETCH(QStringList, phones);
    QFETCH(QStringList, expectedSims);
    QFETCH(QStringList, expectedPhones);
    MyCardMap map;
    for (int i = 0; i < sims.size(); ++i) {
        map.addPair(sims.at(i), phones.at(i));
    }
    QCOMPARE(map.simList, expectedSims);
    QCOMPARE(map.phoneList, expectedPhones);
}

void TestSettings::phoneForSim_data()
{
    QTest::addColumn<QString>("sim");
    QTest::addColumn<QString>("expected");

    QTest::newRow("mapped") << "89860012"
                            << "13800000001";
    QTest::newRow("mapped with empty phone gives the SIM") << "89860099"
                                                           << "89860099";
    QTest::newRow("unmapped with prefix and colon") << "+CCID: 8986 "
                                                    << "8986";
    QTest::newRow("unmapped, two colons: after the last") << "a:b: 77"
                                                          << "77";
    QTest::newRow("unmapped without colon") << "89861111"
                                            << "89861111";
    QTest::newRow("lookup is exact, not trimmed") << " 89860012"
                                                  << " 89860012";
}

void TestSettings::phoneForSim()
{
    QFETCH(QString, sim);
    QFETCH(QString, expected);
    MyCardMap map;
    map.addPair(QStringLiteral("89860012"), QStringLiteral("13800000001"));
    map.addPair(QStringLiteral("89860099"), QString());
    QCOMPARE(map.phoneForSim(sim), expected);
}

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
