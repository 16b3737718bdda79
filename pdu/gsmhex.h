#pragma once

#include <QByteArray>
#include <QString>

namespace GsmHexDetail {

// Values of the hexadecimal digits among the ASCII characters, -1 elsewhere.
struct DigitTable
{
    signed char value[128];
    constexpr DigitTable() : value()
    {
        for (int c = 0; c < 128; ++c)
            value[c] = c >= '0' && c <= '9'   ? c - '0'
                       : c >= 'A' && c <= 'F' ? c - 'A' + 10
                       : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                              : -1;
    }
};
inline constexpr DigitTable digitTable;

} // namespace GsmHexDetail

// Readers of octets and septets in hexadecimal PDU text, two characters per
// octet; positions are counted in characters. Everything above in this folder
// reads the PDU through them.
class GsmHex
{
public:
    GsmHex() = delete;

    // Value of one hexadecimal digit, -1 for any other character.
    static int hexValue(ushort c) { return c < 128 ? GsmHexDetail::digitTable.value[c] : -1; }

    // True when every character is a hexadecimal digit (an empty text too).
    static bool isHex(const QString& text);
    // The octet at a position: 0..255, -1 for a negative position, -2 when the
    // text ends first, -3 when the two characters are not hexadecimal digits.
    static int intAt(const QString& text, int pos)
    {
        if (pos < 0)
            return -1;
        if (pos > text.size() - 2)
            return -2;
        const int hi = hexValue(text.at(pos).unicode());
        const int lo = hexValue(text.at(pos + 1).unicode());
        return hi < 0 || lo < 0 ? -3 : hi * 16 + lo;
    }
    // As intAt, with 0 for every error.
    static quint8 byteAt(const QString& text, int pos)
    {
        const int value = intAt(text, pos);
        return value < 0 ? 0 : quint8(value);
    }
    // Two swapped decimal semi-octets; a non-digit counts as 0. -1 and -2 as intAt.
    static int bcdAt(const QString& text, int pos)
    {
        if (pos < 0)
            return -1;
        if (pos > text.size() - 2)
            return -2;
        const auto digit = [](ushort c) { return c >= '0' && c <= '9' ? c - '0' : 0; };
        return digit(text.at(pos).unicode()) + 10 * digit(text.at(pos + 1).unicode());
    }
    // Semi-octet address digits, pairwise swapped, without the filler F.
    static QString swappedDigits(const QString& text, int pos, int octets);
    // Octets of hexadecimal text, up to the first pair that is not one: what
    // follows a damaged octet cannot be trusted to be aligned.
    static QByteArray octets(const QString& hex);
    // Appends to `septets` up to `count` septets (all whole septets when count
    // is negative) packed in the hexadecimal text from character `pos` on,
    // skipping `fillBits` first. Stops at the end of the text or at the first
    // pair that is not hexadecimal. Returns the number appended.
    static int unpackSeptets(const QString& hex, int pos, int fillBits, int count, QByteArray& septets);
};
