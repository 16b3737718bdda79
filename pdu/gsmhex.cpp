#include "pdu/gsmhex.h"

int GsmHex::intAt(const QString& text, int pos)
{
    if (pos < 0)
        return -1;
    if (pos > text.size() - 2)
        return -2;
    const int hi = hexValue(text.at(pos).unicode());
    const int lo = hexValue(text.at(pos + 1).unicode());
    if (hi < 0 || lo < 0)
        return -3;
    return hi * 16 + lo;
}

quint8 GsmHex::byteAt(const QString& text, int pos)
{
    const int value = intAt(text, pos);
    return value < 0 ? 0 : quint8(value);
}

int GsmHex::bcdAt(const QString& text, int pos)
{
    if (pos < 0)
        return -1;
    if (pos > text.size() - 2)
        return -2;
    const auto digit = [](QChar c) {
        return c.unicode() >= '0' && c.unicode() <= '9' ? c.unicode() - '0' : 0;
    };
    return digit(text.at(pos)) + 10 * digit(text.at(pos + 1));
}

QString GsmHex::swappedDigits(const QString& text, int pos, int octets)
{
    if (pos < 0 || octets < 1 || text.size() < 2 || qint64(text.size()) < qint64(pos) + 2 * qint64(octets))
        return QString();
    QString digits(2 * octets, Qt::Uninitialized);
    QChar* out = digits.data();
    const QChar* in = text.constData() + pos;
    int length = 0;
    for (int i = 0; i < octets; ++i, in += 2) {
        out[length++] = in[1];
        const ushort c = in[0].unicode();
        const QChar first = c >= 'a' && c <= 'z' ? QChar(ushort(c - 'a' + 'A'))
                            : c < 0x80           ? in[0]
                                                 : in[0].toUpper();
        if (first != QLatin1Char('F'))
            out[length++] = first;
    }
    digits.truncate(length);
    return digits;
}

QByteArray GsmHex::octets(const QString& hex)
{
    QByteArray octets;
    octets.reserve(hex.size() / 2);
    const int size = hex.size() - 1;
    for (int at = 0; at < size; at += 2) {
        const int hi = hexValue(hex.at(at).unicode());
        const int lo = hexValue(hex.at(at + 1).unicode());
        if (hi < 0 || lo < 0)
            break;
        octets.append(char(hi * 16 + lo));
    }
    return octets;
}

int GsmHex::unpackSeptets(const QString& hex, int pos, int fillBits, int count, QByteArray& septets)
{
    const int size = hex.size();
    if (pos < 0 || fillBits < 0 || count == 0 || pos >= size - 1)
        return 0;
    // Room for every septet the octets can hold, cut back at the end.
    const int start = septets.size();
    const int room = count < 0 ? ((size - pos) / 2 * 8) / 7 : qMin(count, ((size - pos) / 2 * 8) / 7);
    septets.resize(start + room);
    char* out = septets.data() + start;
    const ushort* chars = reinterpret_cast<const ushort*>(hex.constData());
    int added = 0;
    // Bits not yet handed out, least significant first, as octets arrive.
    unsigned int pending = 0;
    int pendingBits = 0;
    int skip = fillBits;
    for (int at = pos; at + 1 < size && added < room; at += 2) {
        const int hi = hexValue(chars[at]);
        const int lo = hexValue(chars[at + 1]);
        if (hi < 0 || lo < 0)
            break;
        pending |= unsigned(hi * 16 + lo) << pendingBits;
        pendingBits += 8;
        if (skip > 0) {
            const int dropped = qMin(skip, pendingBits);
            pending >>= dropped;
            pendingBits -= dropped;
            skip -= dropped;
        }
        while (pendingBits >= 7 && added < room) {
            out[added++] = char(pending & 0x7F);
            pending >>= 7;
            pendingBits -= 7;
        }
    }
    septets.resize(start + added);
    return added;
}
