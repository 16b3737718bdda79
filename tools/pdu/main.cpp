// vlsms-pdu: decodes PDUs as the program does and prints, for each, the
// values the local store keeps, what the data coding says and the text
// forwarding sends, as JSON lines.

#include "tools/pdu/pdureport.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringList>
#include <QTextStream>

#include <cstdio>

namespace {

const char usage[] = "usage: vlsms-pdu [PDU ...]\n"
                     "       vlsms-pdu --join PDU ...\n"
                     "Decodes each PDU given, or each non-empty line of standard input, and prints one JSON\n"
                     "object per PDU with the values the store keeps, what its data coding says (coding\n"
                     "group, alphabet, compression, message class), the national language tables that\n"
                     "read its 7-bit text, and the text forwarding sends (null when it is not forwarded).\n"
                     "With --join the PDUs are the parts of one message; its text is printed.\n";

struct Input
{
    QString label;
    QString text;
};

void writeLine(const QByteArray& line)
{
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);

    bool join = false;
    if (!args.isEmpty() && (args.first() == QLatin1String("--help") || args.first() == QLatin1String("-h"))) {
        std::fputs(usage, stdout);
        return 0;
    }
    if (!args.isEmpty() && args.first() == QLatin1String("--join")) {
        join = true;
        args.removeFirst();
    }

    QVector<Input> inputs;
    if (!args.isEmpty()) {
        for (int i = 0; i < args.size(); ++i)
            inputs.append({QStringLiteral("argument %1").arg(i + 1), args.at(i)});
    } else {
        QFile in;
        if (!in.open(stdin, QIODevice::ReadOnly)) {
            std::fputs("vlsms-pdu: cannot read standard input\n", stderr);
            return 1;
        }
        int number = 0;
        while (!in.atEnd()) {
            const QString line = QString::fromUtf8(in.readLine());
            ++number;
            if (!line.trimmed().isEmpty())
                inputs.append({QStringLiteral("line %1").arg(number), line});
        }
    }

    bool bad = false;
    QStringList parts;
    for (const Input& input : inputs) {
        const QString pdu = PduReport::storedText(input.text);
        if (!PduReport::isHexadecimal(pdu)) {
            const QByteArray message = "vlsms-pdu: " + input.label.toUtf8() + ": not a hexadecimal PDU: " +
                                       PduReport::jsonString(input.text.trimmed()) + '\n';
            std::fputs(message.constData(), stderr);
            bad = true;
            continue;
        }
        const QString problem = PduReport::problem(pdu);
        if (!problem.isEmpty()) {
            // The program keeps such a message in its store but never forwards it.
            const QByteArray message = "vlsms-pdu: " + input.label.toUtf8() +
                                       ": cannot be decoded: " + problem.toUtf8() + ": " +
                                       PduReport::jsonString(pdu) + '\n';
            std::fputs(message.constData(), stderr);
            bad = true;
            continue;
        }
        if (join)
            parts << pdu;
        else
            writeLine(PduReport::decodedLine(pdu));
    }
    if (join)
        writeLine(PduReport::joinedLine(parts));
    std::fflush(stdout);
    return bad ? 1 : 0;
}
