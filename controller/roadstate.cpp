#include "controller/roadstate.h"

#include <QJsonArray>

namespace {

// Columns a terminal gives the text: two for each wide (CJK, full-width) character.
int terminalWidth(const QString& text)
{
    int width = 0;
    for (const QChar c : text) {
        const ushort u = c.unicode();
        const bool wide = (u >= 0x1100 && u <= 0x115F) || (u >= 0x2E80 && u <= 0xA4CF) ||
                          (u >= 0xAC00 && u <= 0xD7A3) || (u >= 0xF900 && u <= 0xFAFF) ||
                          (u >= 0xFE30 && u <= 0xFE4F) || (u >= 0xFF00 && u <= 0xFF60) ||
                          (u >= 0xFFE0 && u <= 0xFFE6);
        width += c.isLowSurrogate() ? 0 : (wide ? 2 : 1);
    }
    return width;
}

QString cell(const QJsonObject& port, const char* key)
{
    const QJsonValue value = port.value(QLatin1String(key));
    if (value.isNull() || value.isUndefined()) {
        return QStringLiteral("-");
    }
    const QString text = value.toVariant().toString();
    return text.isEmpty() ? QStringLiteral("-") : text;
}

// One row per port, the columns padded to the widest cell.
QString portTable(const QJsonArray& ports)
{
    QList<QStringList> rows{{QStringLiteral("PORT"), QStringLiteral("STATE"), QStringLiteral("SIGNAL"),
                             QStringLiteral("NETWORK"), QStringLiteral("OPERATOR"), QStringLiteral("SIM"),
                             QStringLiteral("STORAGE"), QStringLiteral("RECEIVED"), QStringLiteral("LAST"),
                             QStringLiteral("DEVICE"), QStringLiteral("SIM NUMBER"),
                             QStringLiteral("FAULT")}};
    for (const QJsonValue& value : ports) {
        const QJsonObject port = value.toObject();
        const QString storage =
            cell(port, "storage_used") == QLatin1String("-")
                ? QStringLiteral("-")
                : cell(port, "storage_used") + QLatin1Char('/') + cell(port, "storage_total");
        rows.append({cell(port, "port"), cell(port, "state"), cell(port, "signal"),
                     cell(port, "registration"), cell(port, "operator"), cell(port, "sim_state"), storage,
                     cell(port, "received"), cell(port, "last_message"), cell(port, "device"),
                     cell(port, "sim"), cell(port, "fault")});
    }
    QList<int> widths;
    for (const QStringList& row : qAsConst(rows)) {
        for (int i = 0; i < row.size(); ++i) {
            if (i >= widths.size()) {
                widths.append(0);
            }
            widths[i] = qMax(widths.at(i), terminalWidth(row.at(i)));
        }
    }
    QString out;
    for (const QStringList& row : qAsConst(rows)) {
        QString line = QStringLiteral(" ");
        for (int i = 0; i < row.size(); ++i) {
            line += QLatin1Char(' ') + row.at(i) +
                    QString(widths.at(i) - terminalWidth(row.at(i)) + 1, QLatin1Char(' '));
        }
        out += line.trimmed().prepend(QStringLiteral("  ")) + QLatin1Char('\n');
    }
    return out;
}

} // namespace

QString RoadState::linkText(int link)
{
    if (link == LinkOff) {
        return QStringLiteral("未连接");
    }
    if (link == LinkConnecting) {
        return QStringLiteral("正在连接...");
    }
    if (link == LinkUp) {
        return QStringLiteral("已连接");
    }
    if (link == LinkError) {
        return QStringLiteral("连接错误，请检查设置！");
    }
    if (link >= LinkRetryLast && link <= LinkRetryFirst) {
        return QStringLiteral("准备再次尝试:") + QString::number(link - LinkRetryLast + 1);
    }
    return QStringLiteral("-");
}

QJsonObject RoadState::toJson() const
{
    QJsonArray portList;
    for (const PortState& port : ports) {
        const ModemHealth& health = port.health;
        const auto known = [](int value) { return value < 0 ? QJsonValue() : QJsonValue(value); };
        portList.append(
            QJsonObject{{QStringLiteral("port"), port.name},
                        {QStringLiteral("state"), port.stateText},
                        {QStringLiteral("device"), port.device},
                        {QStringLiteral("sim"), port.sim},
                        {QStringLiteral("excluded"), port.excluded},
                        {QStringLiteral("present"), port.present},
                        {QStringLiteral("signal"), known(health.signal)},
                        {QStringLiteral("registration"), ModemHealth::registrationName(health.registration)},
                        {QStringLiteral("operator"), health.operatorName},
                        {QStringLiteral("sim_state"), ModemHealth::simName(health.sim)},
                        {QStringLiteral("storage_used"), known(health.storageUsed)},
                        {QStringLiteral("storage_total"), known(health.storageTotal)},
                        {QStringLiteral("received"), port.received},
                        {QStringLiteral("last_message"), port.lastMessage},
                        {QStringLiteral("fault"), port.fault}});
    }
    return QJsonObject{{QStringLiteral("modems"), modemsOn},
                       {QStringLiteral("sync"), syncOn},
                       {QStringLiteral("ports"), portList},
                       {QStringLiteral("link"), linkText(link)},
                       {QStringLiteral("link_error"), linkError},
                       {QStringLiteral("link_encrypted"), linkEncrypted},
                       {QStringLiteral("link_server"), linkServer},
                       {QStringLiteral("store_open"), storeOpen},
                       {QStringLiteral("store_error"), storeError},
                       {QStringLiteral("store_locked"), storeLocked},
                       {QStringLiteral("tick"), ticks},
                       {QStringLiteral("last_tick"), lastTick},
                       {QStringLiteral("received"), total},
                       {QStringLiteral("pending"), pending},
                       {QStringLiteral("failed"), failed},
                       {QStringLiteral("undecodable"), undecodable},
                       {QStringLiteral("forwarded"), forwarded},
                       {QStringLiteral("last_sender"), lastSender},
                       {QStringLiteral("last_received"), lastRecvTime},
                       {QStringLiteral("last_forwarded"), lastHandledTime},
                       {QStringLiteral("alert"), alert}};
}

QString RoadState::describe(const QJsonObject& status)
{
    const auto text = [&status](const char* key) {
        return status.value(QLatin1String(key)).toVariant().toString();
    };
    QString out;
    out += QStringLiteral("updated:        %1\n").arg(text("updated"));
    out += QStringLiteral("pid:            %1\n").arg(text("pid"));
    out += QStringLiteral("last tick:      %1\n").arg(text("last_tick"));
    out += QStringLiteral("modems:         %1\n")
               .arg(status.value(QStringLiteral("modems")).toBool() ? "on" : "off");
    out += QStringLiteral("sync:           %1\n")
               .arg(status.value(QStringLiteral("sync")).toBool() ? "on" : "off");
    out += QStringLiteral("mysql link:     %1").arg(text("link"));
    if (!text("link_error").isEmpty()) {
        out += QStringLiteral(" (%1)").arg(text("link_error"));
    }
    out += QLatin1Char('\n');
    if (!text("link_server").isEmpty()) {
        out += QStringLiteral("mysql server:   %1\n").arg(text("link_server"));
    }
    out += QStringLiteral("link encrypted: %1\n")
               .arg(status.value(QStringLiteral("link_encrypted")).toBool() ? "yes (TLS)" : "no");
    if (!status.value(QStringLiteral("store_open")).toBool()) {
        out += QStringLiteral("store:          not open (%1)\n").arg(text("store_error"));
    }
    if (status.value(QStringLiteral("store_locked")).toBool()) {
        out += QStringLiteral("store:          locked by another process: messages stay on the SIMs, "
                              "forwarding waits\n");
    }
    if (!text("alert").isEmpty()) {
        out += QStringLiteral("alert:          %1\n").arg(text("alert"));
    }
    out += QStringLiteral("received:       %1\n").arg(text("received"));
    out += QStringLiteral("pending:        %1\n").arg(text("pending"));
    out += QStringLiteral("failed:         %1").arg(text("failed"));
    if (status.value(QStringLiteral("failed")).toInt() > 0) {
        out += QStringLiteral(" (refused by the server; vlsmsd --requeue-failed puts them back)");
    }
    out += QLatin1Char('\n');
    out += QStringLiteral("undecodable:    %1\n").arg(text("undecodable"));
    out += QStringLiteral("forwarded:      %1 since start\n").arg(text("forwarded"));
    out += QStringLiteral("last sender:    %1\n").arg(text("last_sender"));
    out += QStringLiteral("last received:  %1\n").arg(text("last_received"));
    out += QStringLiteral("last forwarded: %1\n").arg(text("last_forwarded"));
    const QJsonArray ports = status.value(QStringLiteral("ports")).toArray();
    out += QStringLiteral("ports:          %1\n").arg(ports.size());
    return out + portTable(ports);
}
