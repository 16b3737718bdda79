// Measures how many received PDUs per second are decoded into the stored
// values and turned into the forwarded text, over a mix shaped like a day of
// traffic on a bank of modems: mostly single Chinese UCS2 messages,
// verification codes in 7-bit text from alphanumeric senders, long messages
// in two or three parts, and a few status reports and data messages.
//   usage: bench_pdu [SECONDS]   (default 3)

#include "pdu/gsmop.h"
#include "pdu/gsmpdurecvdeliver.h"
#include "support/pdubuilder.h"

#include <QElapsedTimer>
#include <QStringList>
#include <QVector>

#include <cstdio>
#include <ctime>

using namespace PduBuilder;

namespace {

// The sender of most of the mix.
const QString sender = QStringLiteral("8613912345678");

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
            mix.append({ucs2(sender, chinese)});
        // Verification codes in 7-bit text from an alphanumeric sender.
        mix.append({deliverRaw(QStringLiteral("04"), QStringLiteral("0BD0C7F7FBCC2E03"), QStringLiteral("00"),
                               code.size(), packSeptets(code))});
        mix.append({sevenBit(sender, code)});
        // Long messages in parts.
        mix.append({sevenBit(sender, longText.left(153), partHeader(i, 2, 1)),
                    sevenBit(sender, longText.mid(153), partHeader(i, 2, 2))});
        mix.append({ucs2(sender, longChinese, partHeader(100 + i, 3, 1)),
                    ucs2(sender, longChinese, partHeader(100 + i, 3, 2)),
                    ucs2(sender, chinese.left(20), partHeader(100 + i, 3, 3))});
        // A status report or an 8-bit data message, stored but not forwarded.
        if (i % 2 == 0)
            mix.append({statusReport(6)});
        else
            mix.append({deliver(sender, 0xF6, QString(), QStringLiteral("CAFEBABE"))});
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
