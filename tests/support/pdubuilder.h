#pragma once

// Builds SMS-DELIVER PDU text as a modem prints it, for tests and benchmarks:
// 7-bit, UCS2 and 8-bit user data, concatenation and national language
// headers, and status reports. Built here independently of the decoder.

#include <QByteArray>
#include <QString>

namespace PduBuilder {

// A service-centre part as modems print it: +8613800200500.
inline const QString centre = QStringLiteral("0891683108200005F0");
// 2019-05-23 14:30:05, zone +8 hours.
inline const QString stamp = QStringLiteral("91503241035023");

inline QString hex2(int octet)
{
    return QString::asprintf("%02X", octet & 0xFF);
}

// Address digits in semi-octet order, padded with F.
inline QString swapped(QString digits)
{
    if (digits.size() % 2) {
        digits += QLatin1Char('F');
    }
    QString out;
    for (int i = 0; i < digits.size(); i += 2) {
        out += digits.at(i + 1);
        out += digits.at(i);
    }
    return out;
}

// An originator of national numbering from its digits.
inline QString address(const QString& digits)
{
    return hex2(digits.size()) + QStringLiteral("81") + swapped(digits);
}

inline QString ucs2Hex(const QString& text)
{
    QString out;
    for (const QChar c : text) {
        out += QString::asprintf("%04X", c.unicode());
    }
    return out;
}

// Septets of text written the same in ASCII and in the GSM default alphabet,
// '@' and '$' aside.
inline QByteArray septetsOf(const char* text)
{
    QByteArray septets(text);
    for (char& c : septets) {
        c = c == '@' ? char(0x00) : c == '$' ? char(0x02) : c;
    }
    return septets;
}

// Packs septets as the user data after a header of `headerOctets` octets (its
// length octet included): fill bits to the next septet boundary, then the
// septets. Answers the octets after the header.
inline QString packSeptets(const QByteArray& septets, int headerOctets = 0)
{
    const int startBit = (headerOctets * 8 + 6) / 7 * 7;
    QByteArray octets((startBit + 7 * septets.size() + 7) / 8, '\0');
    for (int i = 0; i < septets.size(); ++i) {
        for (int b = 0; b < 7; ++b) {
            if (septets.at(i) & (1 << b)) {
                const int bit = startBit + 7 * i + b;
                octets[bit / 8] = char(octets.at(bit / 8) | (1 << (bit % 8)));
            }
        }
    }
    return QString::fromLatin1(octets.mid(headerOctets).toHex().toUpper());
}

// Concatenation element: an 8-bit reference (IEI 00) below 256, else 16-bit (IEI 08).
inline QString partHeader(int ref, int count, int index)
{
    const QString head =
        ref < 256 ? QStringLiteral("0003") + hex2(ref) : QStringLiteral("0804") + hex2(ref >> 8) + hex2(ref);
    return head + hex2(count) + hex2(index);
}

// Elements that select national language tables: locking shift (0x25) and
// single shift (0x24); a negative language leaves one out.
inline QString languages(int locking, int single)
{
    return (locking >= 0 ? QStringLiteral("2501") + hex2(locking) : QString()) +
           (single >= 0 ? QStringLiteral("2401") + hex2(single) : QString());
}

// One SMS-DELIVER from its fields as hex text, protocol identifier 00.
inline QString deliverRaw(const QString& first, const QString& oa, const QString& dcs, int udl,
                          const QString& ud, const QString& sc = centre)
{
    return sc + first + oa + QStringLiteral("00") + dcs + stamp + hex2(udl) + ud;
}

// One SMS-DELIVER from a sender's digits. udh is the information elements
// without their length octet; ud the user data hex and udl its length as
// TP-UDL counts it (octets, or septets for 7-bit; -1: the octets given).
inline QString deliver(const QString& sender, int dcs, const QString& udh, const QString& ud, int udl = -1)
{
    const QString body = udh.isEmpty() ? ud : hex2(udh.size() / 2) + udh + ud;
    return deliverRaw(hex2(udh.isEmpty() ? 0x04 : 0x44), address(sender), hex2(dcs),
                      udl >= 0 ? udl : body.size() / 2, body);
}

inline QString ucs2(const QString& sender, const QString& text, const QString& udh = QString())
{
    return deliver(sender, 0x08, udh, ucs2Hex(text));
}

inline QString eightBit(const QString& sender, const QByteArray& data, const QString& udh = QString())
{
    return deliver(sender, 0x04, udh, QString::fromLatin1(data.toHex().toUpper()));
}

// 7-bit user data after the header, with the fill bits and TP-UDL in septets.
inline QString sevenBit(const QString& sender, const QByteArray& septets, const QString& udh = QString(),
                        int dcs = 0x00)
{
    const int headerOctets = udh.isEmpty() ? 0 : 1 + udh.size() / 2;
    return deliver(sender, dcs, udh, packSeptets(septets, headerOctets),
                   (headerOctets * 8 + 6) / 7 + septets.size());
}

// A status report (TP-MTI 2) for message reference `ref`.
inline QString statusReport(int ref)
{
    return centre + QStringLiteral("06") + hex2(ref) + QStringLiteral("0B819178561032F4") + stamp + stamp +
           QStringLiteral("00");
}

} // namespace PduBuilder
