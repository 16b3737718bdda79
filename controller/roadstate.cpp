#include "controller/roadstate.h"

#include <QJsonArray>

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
        portList.append(QJsonObject{{QStringLiteral("port"), port.name},
                                    {QStringLiteral("state"), port.stateText},
                                    {QStringLiteral("device"), port.device},
                                    {QStringLiteral("sim"), port.sim},
                                    {QStringLiteral("excluded"), port.excluded}});
    }
    return QJsonObject{{QStringLiteral("modems"), modemsOn},
                       {QStringLiteral("sync"), syncOn},
                       {QStringLiteral("ports"), portList},
                       {QStringLiteral("link"), linkText(link)},
                       {QStringLiteral("link_error"), linkError},
                       {QStringLiteral("link_encrypted"), linkEncrypted},
                       {QStringLiteral("store_open"), storeOpen},
                       {QStringLiteral("store_error"), storeError},
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
    out += QStringLiteral("modems:         %1\n")
               .arg(status.value(QStringLiteral("modems")).toBool() ? "on" : "off");
    out += QStringLiteral("sync:           %1\n")
               .arg(status.value(QStringLiteral("sync")).toBool() ? "on" : "off");
    out += QStringLiteral("mysql link:     %1").arg(text("link"));
    if (!text("link_error").isEmpty()) {
        out += QStringLiteral(" (%1)").arg(text("link_error"));
    }
    out += QLatin1Char('\n');
    out += QStringLiteral("link encrypted: %1\n")
               .arg(status.value(QStringLiteral("link_encrypted")).toBool() ? "yes (TLS)" : "no");
    if (!status.value(QStringLiteral("store_open")).toBool()) {
        out += QStringLiteral("store:          not open (%1)\n").arg(text("store_error"));
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
    for (const QJsonValue& value : ports) {
        const QJsonObject port = value.toObject();
        out += QStringLiteral("  %1  %2  device %3  sim %4\n")
                   .arg(port.value(QStringLiteral("port")).toString(),
                        port.value(QStringLiteral("state")).toString(),
                        port.value(QStringLiteral("device")).toString(),
                        port.value(QStringLiteral("sim")).toString());
    }
    return out;
}
