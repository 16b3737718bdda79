#include "mysql/serveraddress.h"

#include <QRegularExpression>

namespace {

// The port written after a host; 0 when it is not one.
int portNumber(const QString& text)
{
    bool isNumber = false;
    const int port = text.toInt(&isNumber);
    return isNumber && port >= 1 && port <= 65535 ? port : 0;
}

} // namespace

QString ServerAddress::text() const
{
    const QString shown = host.contains(QLatin1Char(':')) ? QStringLiteral("[%1]").arg(host) : host;
    return shown + QLatin1Char(':') + QString::number(port);
}

QList<ServerAddress> ServerAddress::parseList(const QString& list, int defaultPort, QStringList* problems)
{
    QList<ServerAddress> servers;
    for (const QString& raw : list.split(QRegularExpression(QStringLiteral("[,\uFF0C]")))) {
        const QString entry = raw.trimmed();
        if (entry.isEmpty()) {
            continue;
        }
        QString host = entry;
        QString portText;
        bool hasPort = false;
        bool sound = true;
        if (entry.startsWith(QLatin1Char('['))) {
            const int close = entry.indexOf(QLatin1Char(']'));
            const QString rest = close < 0 ? QString() : entry.mid(close + 1);
            sound = close > 0 && (rest.isEmpty() || rest.startsWith(QLatin1Char(':')));
            host = entry.mid(1, close - 1);
            hasPort = !rest.isEmpty();
            portText = rest.mid(1);
        } else if (entry.count(QLatin1Char(':')) == 1) {
            host = entry.section(QLatin1Char(':'), 0, 0);
            hasPort = true;
            portText = entry.section(QLatin1Char(':'), 1);
        }
        const ServerAddress server{host.trimmed(), hasPort ? portNumber(portText.trimmed()) : defaultPort};
        if (!sound || server.host.isEmpty() || server.port == 0) {
            if (problems != nullptr) {
                problems->append(
                    QStringLiteral("'%1' is not host[:port] with a port from 1 to 65535").arg(entry));
            }
            continue;
        }
        servers.append(server);
    }
    return servers;
}
