#include "controller/metricsfile.h"

#include "core/datadir.h"

#include <QFile>
#include <QSaveFile>

#include <functional>

namespace {

// A label value as the exposition format wants it: backslash, double quote
// and line feed escaped.
QByteArray labelValue(const QString& text)
{
    QByteArray out;
    for (const char c : text.toUtf8()) {
        if (c == '\\' || c == '"') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

class Exposition
{
public:
    void family(const char* name, const char* type, const char* help)
    {
        current = name;
        out += QByteArray("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n';
    }
    // One sample of the current family; labels are name/value pairs.
    void sample(const QList<QPair<const char*, QString>>& labels, qint64 value)
    {
        out += current;
        if (!labels.isEmpty()) {
            QByteArrayList pairs;
            for (const auto& label : labels) {
                pairs.append(QByteArray(label.first) + "=\"" + labelValue(label.second) + '"');
            }
            out += '{' + pairs.join(',') + '}';
        }
        out += ' ' + QByteArray::number(value) + '\n';
    }
    QByteArray out;

private:
    QByteArray current;
};

} // namespace

QString MetricsFile::path()
{
    return dataDir() + QStringLiteral("/metrics.prom");
}

QByteArray MetricsFile::text(const RoadState& state)
{
    QList<const PortState*> served;
    for (const PortState& port : state.ports) {
        if (!port.excluded) {
            served.append(&port);
        }
    }
    Exposition e;
    // One family per port value; a port whose value is unknown has no sample.
    const auto perPort = [&](const char* name, const char* type, const char* help,
                             const std::function<qint64(const PortState&)>& value) {
        e.family(name, type, help);
        for (const PortState* port : qAsConst(served)) {
            const qint64 v = value(*port);
            if (v >= 0) {
                e.sample({{"port", port->name}}, v);
            }
        }
    };
    perPort("vlsms_port_present", "gauge", "1 while the system lists the serial port, 0 while it is gone.",
            [](const PortState& p) { return p.present ? 1 : 0; });
    perPort("vlsms_port_up", "gauge",
            "1 while the port's modem works (its SIM card read, messages received), else 0.",
            [](const PortState& p) { return p.working ? 1 : 0; });
    perPort("vlsms_port_signal_rssi", "gauge",
            "Received signal strength as the modem's rssi, 0 (none) to 31; no sample while unknown.",
            [](const PortState& p) { return p.health.signal; });
    perPort("vlsms_port_registered", "gauge",
            "1 while the modem is registered on its home network or roaming.",
            [](const PortState& p) { return p.health.registered() ? 1 : 0; });
    e.family("vlsms_port_info", "gauge",
             "The port's network registration, operator and SIM card state, as labels; always 1.");
    for (const PortState* port : qAsConst(served)) {
        e.sample({{"port", port->name},
                  {"registration", ModemHealth::registrationName(port->health.registration)},
                  {"operator", port->health.operatorName},
                  {"sim_state", ModemHealth::simName(port->health.sim)}},
                 1);
    }
    perPort("vlsms_port_storage_used", "gauge",
            "Messages held in the modem's storage; no sample while unknown.",
            [](const PortState& p) { return p.health.storageUsed; });
    perPort("vlsms_port_storage_total", "gauge",
            "Room for messages in the modem's storage; no sample while unknown.",
            [](const PortState& p) { return p.health.storageTotal; });
    perPort(
        "vlsms_port_fault", "gauge",
        "1 while the port needs the operator (SIM card absent, locked or failed, network denied, no signal "
        "for five minutes, port gone); status.json says why.",
        [](const PortState& p) { return p.fault.isEmpty() ? 0 : 1; });
    perPort("vlsms_port_messages_received_total", "counter",
            "Messages stored from the port since the program started (each part of a long message counts).",
            [](const PortState& p) { return p.received; });

    const auto single = [&e](const char* name, const char* type, const char* help, qint64 value) {
        e.family(name, type, help);
        if (value >= 0) {
            e.sample({}, value);
        }
    };
    single("vlsms_messages_received_total", "counter",
           "Messages stored from all ports since the program started (each part of a long message counts).",
           state.receivedSinceStart);
    single("vlsms_messages_forwarded_total", "counter",
           "Messages inserted into smsserver_in since the program started.", state.forwarded);
    single("vlsms_messages_pending", "gauge", "Complete messages in the local store waiting to be forwarded.",
           state.pending);
    single("vlsms_messages_failed", "gauge",
           "Messages the MySQL server refused for their data, waiting for the operator to requeue them.",
           state.failed);
    single("vlsms_messages_undecodable", "gauge", "Stored messages that carry no text to forward.",
           state.undecodable);
    single("vlsms_mysql_link_up", "gauge", "1 while the link to the MySQL server is up.",
           state.link == LinkUp ? 1 : 0);
    single("vlsms_store_open", "gauge", "1 while the local store sms-r.db is open.", state.storeOpen ? 1 : 0);
    return e.out;
}

bool MetricsFile::write(const RoadState& state, QString* error)
{
    QSaveFile file(path());
    bool ok = file.open(QIODevice::WriteOnly);
    if (ok) {
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup);
        const QByteArray bytes = text(state);
        ok = file.write(bytes) == bytes.size() && file.commit();
    }
    if (!ok && error != nullptr) {
        *error = file.errorString();
    }
    return ok;
}

void MetricsFile::remove()
{
    QFile::remove(path());
}
