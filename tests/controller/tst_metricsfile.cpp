#include "controller/metricsfile.h"
#include "core/datadir.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// metrics.prom read back by an independent parser of the exposition format
// (Debian's python3-prometheus-client), as node_exporter's textfile collector
// would read it: every family declared, label values escaped, an unknown value
// left out, the ports that are served and no other.
class TestMetricsFile : public QObject
{
    Q_OBJECT

private slots:
    void readBack()
    {
        QTemporaryDir dir;
        setDataDirOverride(dir.path());
        const QString odd = QStringLiteral("\\\\.\\COM10 \"a\"\nb"); // backslashes, quotes, a line feed
        RoadState state;
        state.ports = {PortState(), PortState(), PortState(), PortState()};
        state.ports[0].name = QStringLiteral("ttyUSB0");
        state.ports[0].received = 5;
        state.ports[0].health.signal = 17;
        state.ports[0].health.registration = ModemHealth::Registration::Roaming;
        state.ports[0].health.operatorName = QStringLiteral("中国移动");
        state.ports[1].name = odd;
        state.ports[1].fault = QStringLiteral("SIM卡需要PIN码");
        state.ports[2].name = QStringLiteral("ttyS0");
        state.ports[2].excluded = true;
        state.ports[3].name = QStringLiteral("ttyUSB9");
        state.ports[3].present = false;
        state.link = LinkUp;
        state.pending = 4;
        state.forwarded = 7;
        state.receivedSinceStart = 9;
        QVERIFY(MetricsFile().write(state));
        QProcess python;
        python.start(
            QStringLiteral("/usr/bin/python3"),
            {QStringLiteral("-c"),
             "import json, sys\n"
             "from prometheus_client.parser import text_string_to_metric_families as parse\n"
             "text = open(sys.argv[1], encoding='utf-8').read()\n"
             "families = list(parse(text))\n"
             "print(json.dumps({'undocumented': [f.name for f in families if not f.documentation],\n"
             "  'types': [line[7:] for line in text.splitlines() if line.startswith('# TYPE ')],\n"
             "  'info': [s.labels for f in families for s in f.samples if s.name == 'vlsms_port_info'],\n"
             "  'samples': {s.name + ' ' + s.labels.get('port', ''): s.value\n"
             "              for f in families for s in f.samples}}))\n",
             MetricsFile::path()});
        QVERIFY(python.waitForFinished(30000));
        QVERIFY2(python.exitCode() == 0, python.readAllStandardError().constData());
        const QJsonObject read = QJsonDocument::fromJson(python.readAllStandardOutput()).object();
        QCOMPARE(read[QStringLiteral("undocumented")].toArray().size(), 0);
        const QJsonObject info = read[QStringLiteral("info")][0].toObject();
        QCOMPARE(info[QStringLiteral("operator")].toString(), QStringLiteral("中国移动"));
        QCOMPARE(info[QStringLiteral("registration")].toString(), QStringLiteral("roaming"));
        // "name port" -> value; a value not known, and an excluded port, have no sample.
        const QJsonObject samples = read[QStringLiteral("samples")].toObject();
        const QList<QPair<QString, double>> expected{{"vlsms_port_signal_rssi ttyUSB0", 17},
                                                     {"vlsms_port_registered ttyUSB0", 1},
                                                     {"vlsms_port_fault " + odd, 1},
                                                     {"vlsms_port_present ttyUSB9", 0},
                                                     {"vlsms_port_messages_received_total ttyUSB0", 5},
                                                     {"vlsms_messages_received_total ", 9},
                                                     {"vlsms_messages_forwarded_total ", 7},
                                                     {"vlsms_messages_pending ", 4},
                                                     {"vlsms_mysql_link_up ", 1},
                                                     {"vlsms_port_signal_rssi " + odd, -1},
                                                     {"vlsms_port_present ttyS0", -1},
                                                     {"vlsms_messages_failed ", -1}};
        for (const auto& sample : expected) {
            QVERIFY2(sample.second < 0 ? !samples.contains(sample.first)
                                       : samples.value(sample.first).toDouble() == sample.second,
                     qPrintable(sample.first));
        }
        // The parser adds "_total" to a counter's samples itself: the names must be in the file.
        const QJsonArray types = read[QStringLiteral("types")].toArray();
        for (const char* type :
             {"vlsms_port_messages_received_total counter", "vlsms_messages_received_total counter",
              "vlsms_messages_forwarded_total counter", "vlsms_port_signal_rssi gauge"}) {
            QVERIFY2(types.contains(QJsonValue(QLatin1String(type))), type);
        }
    }
};

QTEST_GUILESS_MAIN(TestMetricsFile)
#include "tst_metricsfile.moc"
