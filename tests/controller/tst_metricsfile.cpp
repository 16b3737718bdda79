#include "controller/metricsfile.h"
#include "core/datadir.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// metrics.prom read back by an independent parser of the exposition format
// (Debian's python3-prometheus-client), as node_exporter's textfile collector
// would read it.
class TestMetricsFile : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    QJsonArray families;
    // Backslash, quotes and a line feed: each must be escaped in a label.
    const QString oddName = QStringLiteral("\\\\.\\COM10 \"a\"\nb");

    QJsonArray samplesOf(const QString& name, const QString& port) const
    {
        QJsonArray found;
        for (const QJsonValue& family : families) {
            for (const QJsonValue& sample : family[QStringLiteral("samples")].toArray()) {
                const QJsonObject labels = sample[QStringLiteral("labels")].toObject();
                if (sample[QStringLiteral("name")] == name &&
                    labels.value(QStringLiteral("port")).toString() == port) {
                    found.append(sample);
                }
            }
        }
        return found;
    }

private slots:
    void initTestCase()
    {
        setDataDirOverride(dir.path());
        RoadState state;
        PortState port;
        port.name = QStringLiteral("ttyUSB0");
        port.working = true;
        port.received = 5;
        port.health.signal = 17;
        port.health.registration = ModemHealth::Registration::Home;
        port.health.operatorName = QStringLiteral("中国移动");
        port.health.sim = ModemHealth::Sim::Ready;
        port.health.storageUsed = 3;
        state.ports.append(port);
        port = PortState();
        port.name = oddName;
        port.fault = QStringLiteral("SIM卡需要PIN码");
        state.ports.append(port);
        port.name = QStringLiteral("ttyS0");
        port.excluded = true;
        state.ports.append(port);
        port = PortState();
        port.name = QStringLiteral("ttyUSB9");
        port.present = false;
        state.ports.append(port);
        state.link = LinkUp;
        state.storeOpen = true;
        state.pending = 4;
        state.failed = 0;
        state.forwarded = 7;
        state.receivedSinceStart = 9;
        QVERIFY(MetricsFile().write(state));
#ifndef Q_OS_WIN
        QCOMPARE(QFile::permissions(MetricsFile::path()) & 0x7077,
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup);
#endif
        const char* script =
            "import json, sys\n"
            "from prometheus_client.parser import text_string_to_metric_families as parse\n"
            "text = open(sys.argv[1], encoding='utf-8').read()\n"
            "print(json.dumps([{'type': f.type, 'help': f.documentation, 'samples': [\n"
            "    {'name': s.name, 'labels': s.labels, 'value': s.value} for s in f.samples]}\n"
            "    for f in parse(text)]))\n";
        QProcess python;
        python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), script, MetricsFile::path()});
        QVERIFY(python.waitForFinished(30000));
        QVERIFY2(python.exitCode() == 0, python.readAllStandardError().constData());
        families = QJsonDocument::fromJson(python.readAllStandardOutput()).array();
        QVERIFY(!families.isEmpty());
    }

    // The names dashboards and alerts are written against, each declared; the
    // port's network and SIM state as labels.
    void familiesAreDeclared()
    {
        for (const QJsonValue& family : families) {
            QVERIFY(!family[QStringLiteral("help")].toString().isEmpty());
        }
        QFile file(MetricsFile::path());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        for (const char* name :
             {"vlsms_port_signal_rssi gauge", "vlsms_port_registered gauge",
              "vlsms_port_messages_received_total counter", "vlsms_messages_received_total counter",
              "vlsms_messages_forwarded_total counter", "vlsms_messages_pending gauge",
              "vlsms_messages_failed gauge", "vlsms_mysql_link_up gauge"}) {
            QVERIFY2(text.contains(QByteArray("\n# TYPE ") + name + '\n'), name);
        }
        const QJsonObject info = samplesOf(QStringLiteral("vlsms_port_info"), QStringLiteral("ttyUSB0"))
                                     .first()[QStringLiteral("labels")]
                                     .toObject();
        QCOMPARE(info.value(QStringLiteral("operator")).toString(), QStringLiteral("中国移动"));
        QCOMPARE(info.value(QStringLiteral("sim_state")).toString(), QStringLiteral("ready"));
    }

    void samples_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("port");
        QTest::addColumn<double>("value"); // -1: no sample

        QTest::newRow("signal") << "vlsms_port_signal_rssi"
                                << "ttyUSB0" << 17.0;
        QTest::newRow("signal unknown") << "vlsms_port_signal_rssi" << oddName << -1.0;
        QTest::newRow("registered") << "vlsms_port_registered"
                                    << "ttyUSB0" << 1.0;
        QTest::newRow("fault, odd name") << "vlsms_port_fault" << oddName << 1.0;
        QTest::newRow("gone") << "vlsms_port_present"
                              << "ttyUSB9" << 0.0;
        QTest::newRow("excluded: not a served port") << "vlsms_port_present"
                                                     << "ttyS0" << -1.0;
        QTest::newRow("port count") << "vlsms_port_messages_received_total"
                                    << "ttyUSB0" << 5.0;
        QTest::newRow("received") << "vlsms_messages_received_total" << QString() << 9.0;
        QTest::newRow("forwarded") << "vlsms_messages_forwarded_total" << QString() << 7.0;
        QTest::newRow("pending") << "vlsms_messages_pending" << QString() << 4.0;
        QTest::newRow("failed") << "vlsms_messages_failed" << QString() << 0.0;
        QTest::newRow("undecodable unknown") << "vlsms_messages_undecodable" << QString() << -1.0;
        QTest::newRow("link") << "vlsms_mysql_link_up" << QString() << 1.0;
    }

    void samples()
    {
        QFETCH(QString, name);
        QFETCH(QString, port);
        QFETCH(double, value);
        const QJsonArray found = samplesOf(name, port);
        QCOMPARE(found.size(), value < 0 ? 0 : 1);
        if (value >= 0) {
            QCOMPARE(found.first()[QStringLiteral("value")].toDouble(), value);
        }
    }
};

QTEST_GUILESS_MAIN(TestMetricsFile)
#include "tst_metricsfile.moc"
