// libFuzzer target over PDU decoding, the forwarded text and the report of
// vlsms-pdu. The input is split at line feeds into up to eight PDU texts,
// decoded one by one and then joined as the parts of one message.

#include "pdu/gsmop.h"
#include "pdu/gsmpdurecvdeliver.h"
#include "tools/pdu/pdureport.h"

#include <QStringList>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), int(size));
    // Latin-1 keeps every byte a character; UTF-8 brings in non-ASCII
    // characters and surrogates the way a modem answer could.
    const bool utf8 = size > 0 && (data[0] & 0x80) != 0;
    const QString input = utf8 ? QString::fromUtf8(bytes) : QString::fromLatin1(bytes);
    QStringList pdus = input.split(QLatin1Char('\n'));
    if (pdus.size() > 8)
        pdus.erase(pdus.begin() + 8, pdus.end());

    for (const QString& pdu : pdus) {
        GsmPduRecvDeliver d;
        d.decode(pdu);
        (void)d.codeGroup();
        (void)d.codeType();
        (void)d.stampText();
        (void)d.forwardable();
        (void)GsmOp::unpack7Bit(d.ud);
        (void)GsmOp::ucs2Text(d.ud);
        (void)GsmOp::unpack7Bit(pdu);
        (void)GsmOp::ucs2Text(pdu);
        for (int pos = -2; pos < pdu.size() + 2; pos += 3) {
            (void)GsmOp::intAt(pdu, pos);
            (void)GsmOp::bcdAt(pdu, pos);
            (void)GsmOp::swappedDigits(pdu, pos, 3);
        }
        (void)PduReport::decodedLine(pdu);
    }
    (void)GsmOp::messageText(pdus);
    (void)PduReport::joinedLine(pdus);
    return 0;
}
