#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

// Field readers over hexadecimal PDU text and the text decoders used when a
// message is forwarded. Positions are counted in characters, two per octet.
class GsmOp : public QObject
{
    Q_OBJECT
public:
    GsmOp() = delete;

    // The octet at a position: 0..255, -1 for a negative position, -2 when the
    // text ends first, -3 when the two characters are not hexadecimal digits.
    static int intAt(const QString& text, int pos);
    // As intAt, with 0 for every error.
    static quint8 byteAt(const QString& text, int pos);
    // Two swapped decimal semi-octets; a non-digit counts as 0. -1 and -2 as intAt.
    static int bcdAt(const QString& text, int pos);
    // Semi-octet address digits, pairwise swapped, without the filler F.
    static QString swappedDigits(const QString& text, int pos, int octets);

    // Packed GSM 7-bit user data (no header) to text, through the default
    // alphabet and its extension table. Every whole septet the octets hold is
    // decoded; when the octet count is a multiple of seven, a last septet of
    // value 0 is the padding of the last octet and is dropped (a message that
    // really ends in '@' there needs its TP-UDL: see messageText). A text with
    // an odd number of characters gives an empty result; decoding stops at the
    // first pair of characters that is not hexadecimal.
    static QString unpack7Bit(const QString& hex);
    // Big-endian UCS2 to text; empty unless the length is a multiple of four.
    // Decoding stops at the first pair of characters that is not hexadecimal.
    static QString ucs2Text(const QString& hex);

    // The text of one message as the sender typed it, from the PDU texts of
    // its parts in part-index order (one PDU for a single message). The data
    // coding of the first part chooses UCS2 (code type 2) or the GSM 7-bit
    // alphabet (any other); each part's TP-UDL and header bound its text, and
    // the parts are joined before characters are formed. Parts that are not
    // SMS-DELIVER PDUs add nothing.
    static QString messageText(const QStringList& pdus);

    // Appends to `septets` up to `count` septets (all whole septets when count
    // is negative) packed in the hexadecimal text from character `pos` on,
    // skipping `fillBits` first. Stops at the end of the text or at the first
    // pair that is not hexadecimal. Returns the number appended.
    static int unpackSeptets(const QString& hex, int pos, int fillBits, int count, QByteArray& septets);
    // Septets of the GSM 7-bit default alphabet to text; escape (27) selects
    // the extension table, and an escaped code that table does not define
    // stands for its own default-alphabet character.
    static QString gsmText(const QByteArray& septets);
};
