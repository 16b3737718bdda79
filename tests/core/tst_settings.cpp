#include "core/comlog.h"
#include "core/mycardmap.h"
#include "core/mysetting.h"

#include <QFile>
#include <QFileInfo>
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
    void writeIni(const QByteArray& bytes)
    {
        QDir().mkpath(dir->path() + QStringLiteral("/VLSMS"));
        QFile file(ini());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }
    static QByteArray fileBytes(const QString& path)
    {
        QFile file(path);
        return QFileInfo(path).isDir() ? "<dir>" : file.open(QIODevice::ReadOnly) ? file.readAll() : "<none>";
    }
    QString fileValue(const QString& key) const
    {
        QSettings file(ini(), QSettings::IniFormat);
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
        file.setIniCodec("UTF-8");
#endif
        const QVariant value = file.value(key);
        return value.userType() == QMetaType::QStringList ? value.toStringList().join(',') : value.toString();
    }
    // What was written to the main log since the last call.
    static QString mainLog()
    {
        QFile file(QStringLiteral("comlog-main.txt"));
        const QString text = file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
        QFile::remove(file.fileName());
        return text;
    }

private slots:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        qputenv("APPDATA", dir->path().toUtf8());
        mainLog();
    }

    void cleanup()
    {
        qunsetenv("APPDATA");
        dir.reset();
    }

    void corrections_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("inMemory");
        QTest::addColumn<QString>("inFileAfterLoad");
        QTest::addColumn<bool>("logged");
        // A stored value is never rewritten at load; an empty text takes its default in the file too.
        const auto row = [](const char* name, const char* key, const char* stored, const char* memory,
                            const char* file, bool logged) {
            QTest::newRow(name) << key << stored << memory << file << logged;
        };
        row("baud 57600: 9600", "DEF_BAUD", "57600", "9600", "57600", true);
        row("flow 2: 0", "DEF_FLOW", "2", "0", "2", true);
        row("flow 1 stays", "DEF_FLOW", "1", "1", "1", false);
        row("speed 50: 200", "DEF_SPEED", "50", "200", "50", true);
        row("port 65535 stays", "MYSQL_PORT", "65535", "65535", "65535", false);
        row("port 65536: 65535", "MYSQL_PORT", "65536", "65535", "65536", true);
        row("log level past 32 bits: the largest", "LOGLEVEL", "8589934592", "2147483647", "8589934592",
            true);
        row("empty host: default written back", "MYSQL_HOST", "", "127.0.0.1", "127.0.0.1", false);
        row("blank password is a password", "MYSQL_PWD", "\"  \"", "  ", "  ", false);
    }

    void corrections()
    {
        QFETCH(QString, key);
        QFETCH(QString, stored);
        QFETCH(QString, inMemory);
        QFETCH(QString, inFileAfterLoad);
        QFETCH(bool, logged);

        writeIni(QStringLiteral("[General]\n%1=%2\n").arg(key, stored).toUtf8());
        QVERIFY(theSetting.loadIni());
        const QHash<QString, QString> memory = {
            {"DEF_BAUD", QString::number(theSetting.baudRate)},
            {"DEF_FLOW", QString::number(theSetting.flowControl)},
            {"DEF_SPEED", QString::number(theSetting.speed)},
            {"MYSQL_HOST", theSetting.mysqlHost},
            {"MYSQL_PORT", QString::number(theSetting.mysqlPort)},
            {"MYSQL_PWD", theSetting.mysqlPwd},
            {"LOGLEVEL", QString::number(logLevel.load())},
        };
        QCOMPARE(memory.value(key), inMemory);
        QCOMPARE(fileValue(key), inFileAfterLoad);
        QCOMPARE(mainLog().contains(QStringLiteral("SETTINGS: %1=").arg(key)), logged);
    }

    void brokenFile_data()
    {
        QTest::addColumn<QByteArray>(
            "content"); // "<dir>": settings.ini is a directory, unreadable even to root
        QTest::addColumn<bool>("broken");

        QTest::newRow("lines of prose") << QByteArray("hello world\nthis is not ini\n") << true;
        QTest::newRow("a directory") << QByteArray("<dir>") << true;
        QTest::newRow("empty file") << QByteArray() << false;
        QTest::newRow("byte-order mark and comments")
            << QByteArray("\xEF\xBB\xBF; by hand\r\n# note\r\n[General]\r\nDEF_BAUD=9600\r\n") << false;
    }

    // A file that cannot be read is never written: the defaults run, and the
    // first save keeps the file aside as settings.ini.bad.
    void brokenFile()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, broken);
        writeIni(content);
        if (content == "<dir>") {
            QVERIFY(QFile::remove(ini()) && QDir().mkpath(ini()));
        }
        theSetting.mysqlHost = QStringLiteral("db.example");
        theSetting.cardMap->addPair(QStringLiteral("1"), QStringLiteral("2"));

        QCOMPARE(theSetting.loadIni(), !broken);
        QCOMPARE(theSetting.loadError().isEmpty(), !broken);
        if (!broken) {
            return;
        }
        QCOMPARE(theSetting.mysqlHost, QStringLiteral("127.0.0.1"));
        QCOMPARE(theSetting.cardMap->simList.size(), 0);
        QVERIFY(mainLog().contains(ini()));
        QCOMPARE(fileBytes(ini()), content);

        theSetting.mysqlPort = 3307;
        QVERIFY(theSetting.saveIni());
        QCOMPARE(fileBytes(ini() + QStringLiteral(".bad")), content);
        QVERIFY(theSetting.loadIni());
        QCOMPARE(theSetting.mysqlPort, 3307);
    }

    void cardMapFromFile_data()
    {
        QTest::addColumn<QString>("cards");
        QTest::addColumn<QStringList>("sims");
        QTest::addColumn<QStringList>("phones");

        QTest::newRow("repeated and blank SIMs dropped, the rest trimmed and closed up")
            << "NUM=4\nSIM_0=\" 8986001 \"\nPHN_0=138001\nSIM_1=\"  "
               "\"\nPHN_1=x\nSIM_2=8986001\nPHN_2=138002\n"
               "SIM_3=8986003\nPHN_3=\n"
            << QStringList{"8986001", "8986003"} << QStringList{"138001", ""};
        QTest::newRow("pairs at or above NUM are stale") << "NUM=1\nSIM_0=a\nPHN_0=1\nSIM_1=b\nPHN_1=2\n"
                                                         << QStringList{"a"} << QStringList{"1"};
        QTest::newRow("huge NUM: only the pairs present, no spinning")
            << "NUM=2147483647\nSIM_0=a\nPHN_0=1\nSIM_7=b\nPHN_7=2\nSIM_01=c\n"
            << QStringList{"a", "b"} << QStringList{"1", "2"};
    }

    void cardMapFromFile()
    {
        QFETCH(QString, cards);
        QFETCH(QStringList, sims);
        QFETCH(QStringList, phones);
        writeIni("[CARD]\n" + cards.toUtf8());
        QVERIFY(theSetting.loadIni());
        // A second load replaces the map rather than adding to it.
        QVERIFY(theSetting.loadIni());
        QCOMPARE(theSetting.cardMap->simList, sims);
        QCOMPARE(theSetting.cardMap->phoneList, phones);
        QCOMPARE(mainLog().contains(QStringLiteral("CARD/NUM=2147483647 is out of range")),
                 cards.contains("2147"));
    }

    void saveWritesWhatIsSetAndKeepsStaleCards()
    {
        writeIni(
            "LOGLEVEL=785\nMYSQL_SSL_CA=/etc/ca.pem\n[CARD]\nNUM=3\nSIM_0=a\nPHN_0=1\nSIM_1=b\nSIM_2=c\n");
        QVERIFY(theSetting.loadIni());
        theSetting.cardMap->clearPairs();
        theSetting.cardMap->addPair(QStringLiteral("z"), QStringLiteral("9"));
        theSetting.baudRate = 9600;
        theSetting.mysqlPwd = QStringLiteral(" secret");
        theSetting.mysqlSslCa.clear();
        QVERIFY(theSetting.saveIni());

        const QStringList keys{"DEF_BAUD",   "MYSQL_PWD",  "CARD/NUM", "CARD/SIM_0",
                               "CARD/PHN_0", "CARD/SIM_2", "LOGLEVEL"};
        QStringList values;
        for (const QString& key : keys) {
            values << fileValue(key);
        }
        // Pairs beyond the new count stay, the next load ignores them; the log level is the operator's.
        QCOMPARE(values, QStringList({"9600", " secret", "1", "z", "9", "c", "785"}));
        QSettings file(ini(), QSettings::IniFormat);
        QVERIFY(!file.contains("MYSQL_SSL_CA") && !file.contains("DEF_EXTRA_PORTS"));
        QVERIFY(theSetting.loadIni());
        QCOMPARE(theSetting.cardMap->simList, QStringList({"z"}));
    }

    // A mapped SIM gives its phone, or itself when the phone is empty; an
    // unmapped one its text after the last colon.
    void phoneForSim()
    {
        MyCardMap map;
        map.addPair(QStringLiteral("89860012"), QStringLiteral("13800000001"));
        map.addPair(QStringLiteral("89860099"), QString());
        QCOMPARE(map.phoneForSim("89860012"), QStringLiteral("13800000001"));
        QCOMPARE(map.phoneForSim("89860099"), QStringLiteral("89860099"));
        QCOMPARE(map.phoneForSim("+CCID: 8986 "), QStringLiteral("8986"));
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
