// Measures how many received PDUs per second are decoded into the stored
// values and turned into the forwarded text, over a mix shaped like a day of
// traffic on a bank of modems: mostly single Chinese UCS2 messages,
// verification codes in 7-bit text from alphanumeric senders, long messages
// in two or three parts, and a few status reports and data messages.
//   usage: bench_pdu [SECONDS]   (default 3)

#include "pdu/gsmop.h"
#include "pdu/gsmpdurecvdeliver.h"

#include <QElapsedTimer>
#include <QStringList>
#include <QVector>

#include <cstdio>
#include <ctime>

namespace {

const QString centre = QStringLiteral("0891683108200005F0");
const QString nationalOa = QStringLiteral("0D91683119325476F8");
const QString stamp = QStringLiteral("62103141650523");

QString hex2(int octet)
{
    return QString::asprintf("%02X", octet);
}

QString pack(const QByteArray& septets, int headerOctets)
{
    const int startBit = (headerOctets * 8 + 6) / 7 * 7;
    QByteArray octets((startBit + 7 * septets.size() + 7) / 8, '\0');
    for (int i = 0; i < septets.size(); ++i)
        for (int b = 0; b < 7; ++b)
            if (septets.at(i) & (1 << b)) {
                const int bit = startBit + 7 * i + b;
                octets[bit / 8] = char(octets.at(bit / 8) | (1 << (bit % 8)));
            }
    return QString::fromLatin1(octets.mid(headerOctets).toHex().toUpper());
}

QString ucs2(const QString& text)
{
    QString hex;
    for (QChar c : text)
        hex += QString::asprintf("%04X", c.unicode());
    return hex;
}

QString deliver(const QString& first, const QString& oa, const QString& dcs, int udl, const QString& ud)
{
    return centre + first + oa + QStringLiteral("00") + dcs + stamp + hex2(udl) + ud;
}

QString sevenBitPart(int ref, int count, int index, const QByteArray& text)
{
    const QString header = QStringLiteral("050003") + hex2(ref) + hex2(count) + hex2(index);
    return deliver(QStringLiteral("44"), nationalOa, QStringLiteral("00"), 7 + text.size(),
                   header + pack(text, 6));
}

QString ucs2Part(int ref, int count, int index, const QString& text)
{
    const QString header = QStringLiteral("050003") + hex2(ref) + hex2(count) + hex2(index);
    return deliver(QStringLiteral("44"), nationalOa, QStringLiteral("08"), 6 + 2 * text.size(),
                   header + ucs2(text));
}

// The messages of the mix, each as the PDUs of its parts.
QVector<QStringList> buildMix()
{
    const QString chinese =
        QString::fromUtf8("【银行】您尾号8848的储蓄卡于12月6日10:03收入人民币5,000.00元，余额12,345.67元。");
    const QString longChinese = QString(chinese + chinese).left(67);
    const QByteArray code("Your verification code is 482913. It expires in 10 minutes. Do not share it.");
    const QByteArray longText =
        QByteArray("Dear customer, your parcel 7731 is out for delivery today between 10:00 and 14:00. "
                   "Reply STOP to opt out. Track: example.com/t/7731 - thank you for choosing us. ");
    QVector<QStringList> mix;
    for (int i = 0; i < 10; ++i) {
        // Single UCS2 Chinese messages from numbers: half the traffic.
        for (int k = 0; k < 5; ++k)
            mix.append({deliver(QStringLiteral("04"), nationalOa, QStringLiteral("08"), 2 * chinese.size(),
                                ucs2(chinese))});
        // Verification codes in 7-bit text from an alphanumeric sender.
        mix.append({deliver(QStringLiteral("04"), QStringLiteral("0BD0C7F7FBCC2E03"), QStringLiteral("00"),
                            code.size(), pack(code, 0))});
        mix.append(
            {deliver(QStringLiteral("04"), nationalOa, QStringLiteral("00"), code.size(), pack(code, 0))});
        // Long messages in parts.
        mix.append({sevenBitPart(i, 2, 1, longText.left(153)), sevenBitPart(i, 2, 2, longText.mid(153))});
        mix.append({ucs2Part(100 + i, 3, 1, longChinese), ucs2Part(100 + i, 3, 2, longChinese),
                    ucs2Part(100 + i, 3, 3, chinese.left(20))});
        // A status report or an 8-bit data message, stored but not forwarded.
        if (i % 2 == 0)
            mix.append({centre + QStringLiteral("0606") + nationalOa + stamp + stamp + QStringLiteral("00")});
        else
            mix.append({deliver(QStringLiteral("04"), nationalOa, QStringLiteral("F6"), 4,
                                QStringLiteral("CAFEBABE"))});
    }
    return mix;
}

} // namespace

int main(int argc, char* argv[])
{
    const double seconds = argc > 1 ? QString::fromLocal8Bit(argv[1]).toDouble() : 3.0;
    const QVector<QStringList> mix = buildMix();
    int pdusPerRound = 0;
    for (const QStringList& message : mix)
        pdusPerRound += message.size();

    qint64 pdus = 0;
    qint64 checksum = 0;
    QElapsedTimer timer;
    timer.start();
    const std::clock_t cpuStart = std::clock();
    while (timer.elapsed() < qint64(seconds * 1000)) {
        for (const QStringList& message : mix) {
            bool forwardable = true;
            // What the store does with each PDU as it arrives ...
            for (const QString& pdu : message) {
                GsmPduRecvDeliver d;
                d.decode(pdu);
                if (d.messageType() == 0)
                    checksum += d.pid + d.sender.size() + d.stampText().size() + d.codeGroup() +
                                d.codeType() + d.partType + d.partId.size() + d.partIndex + d.partCount +
                                d.udh.size() + d.ud.size();
                forwardable = forwardable && d.forwardable();
            }
            // ... and what forwarding does once the message is complete.
            if (forwardable)
                checksum += GsmOp::messageText(message).size();
        }
        pdus += pdusPerRound;
    }
    const double elapsed = timer.nsecsElapsed() / 1e9;
    // The processor time counts only this process, so it stays meaningful
    // on a machine that is busy with other work.
    const double cpu = double(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    std::printf("messages per round: %d, PDUs per round: %d\n", int(mix.size()), pdusPerRound);
    std::printf("decoded and formed %lld PDUs in %.2f s (%.2f s of processor time)\n", pdus, elapsed, cpu);
    std::printf("%.0f PDUs per second, %.0f PDUs per processor second (checksum %lld)\n", pdus / elapsed,
                pdus / cpu, checksum);
    return 0;
}
