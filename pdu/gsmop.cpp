#include "pdu/gsmop.h"

#include "pdu/gsmalphabet.h"
#include "pdu/gsmhex.h"
#include "pdu/gsmpdurecvdeliver.h"

#include <QVector>

namespace {

// Appends up to `count` big-endian UCS2 code units from hexadecimal text,
// stopping at the first that is not four hexadecimal digits.
void appendUnits(const QString& hex, int count, QString& units)
{
    const int start = units.size();
    units.resize(start + count);
    QChar* out = units.data() + start;
    const ushort* in = reinterpret_cast<const ushort*>(hex.constData());
    int added = 0;
    for (; added < count; ++added, in += 4) {
        const int a = GsmHex::hexValue(in[0]), b = GsmHex::hexValue(in[1]);
        const int c = GsmHex::hexValue(in[2]), d = GsmHex::hexValue(in[3]);
        if ((a | b | c | d) < 0)
            break;
        out[added] = QChar(ushort(a << 12 | b << 8 | c << 4 | d));
    }
    units.truncate(start + added);
}

// Number of septets a user-data header of `octets` octets (its length octet
// included) takes, fill bits counted.
int headerSeptets(int octets)
{
    return (octets * 8 + 6) / 7;
}

// The septets of one 7-bit part: after its header and fill bits, as many as
// TP-UDL counts.
QByteArray partSeptets(const GsmPduRecvDeliver& part, int headerOctets)
{
    QByteArray septets;
    const int skipped = headerOctets > 0 ? headerSeptets(headerOctets) : 0;
    const int fill = skipped * 7 - headerOctets * 8;
    if (part.udl >= 0) {
        GsmHex::unpackSeptets(part.ud, 0, fill, qMax(part.udl - skipped, 0), septets);
        return septets;
    }
    // Without a readable TP-UDL every whole septet counts, save the padding
    // of a last octet that holds nothing but it.
    const int added = GsmHex::unpackSeptets(part.ud, 0, fill, -1, septets);
    if (added > 0 && (added + skipped) % 8 == 0 && septets.at(added - 1) == 0)
        septets.chop(1);
    return septets;
}

} // namespace

int GsmOp::intAt(const QString& text, int pos)
{
    return GsmHex::intAt(text, pos);
}

quint8 GsmOp::byteAt(const QString& text, int pos)
{
    return GsmHex::byteAt(text, pos);
}

int GsmOp::bcdAt(const QString& text, int pos)
{
    return GsmHex::bcdAt(text, pos);
}

QString GsmOp::swappedDigits(const QString& text, int pos, int octets)
{
    return GsmHex::swappedDigits(text, pos, octets);
}

QString GsmOp::unpack7Bit(const QString& hex)
{
    if (hex.size() % 2 != 0)
        return QString();
    QByteArray septets;
    const int count = GsmHex::unpackSeptets(hex, 0, 0, -1, septets);
    // Eight septets fill seven octets exactly; a last one of value 0 there is
    // the padding of a seven-septet text.
    if (count > 0 && count % 8 == 0 && septets.at(count - 1) == 0)
        septets.chop(1);
    return GsmAlphabet::text(septets);
}

QString GsmOp::ucs2Text(const QString& hex)
{
    if (hex.isEmpty() || hex.size() % 4 != 0)
        return QString();
    const QByteArray octets = GsmHex::octets(hex);
    const int units = qMin(hex.size() / 4, octets.size() / 2);
    QVector<char16_t> code(units);
    for (int i = 0; i < units; ++i)
        code[i] = char16_t(quint8(octets.at(2 * i)) << 8 | quint8(octets.at(2 * i + 1)));
    return QString::fromUtf16(code.constData(), units);
}

QString GsmOp::messageText(const QStringList& pdus)
{
    // Each part is decoded on its own so that its TP-UDL and header tell where
    // its text starts and ends and which tables read it.
    bool ucs2 = false;
    bool first = true;
    QString text;
    GsmAlphabet alphabet;
    GsmPduRecvDeliver part;
    for (const QString& pdu : pdus) {
        part.decodeFields(pdu);
        if (part.messageType() != 0)
            continue;
        if (first) {
            ucs2 = part.dataCoding().alphabet() == GsmDataCoding::Ucs2;
            first = false;
        }
        const bool hasHeader = (part.firstOctet & 0x40) != 0;
        const int headerOctets = hasHeader ? 1 + qMax(part.udhl, 0) : 0;
        if (ucs2) {
            int octets = part.ud.size() / 2;
            if (part.udl >= 0)
                octets = qMin(octets, qMax(part.udl - headerOctets, 0));
            appendUnits(part.ud, octets / 2, text);
            continue;
        }
        alphabet.setLanguages(part.lockingLanguage, part.singleLanguage);
        alphabet.append(partSeptets(part, headerOctets), text);
    }
    return text;
}
