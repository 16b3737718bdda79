#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

// The text of a message as forwarding sends it, and the field readers the
// rest of the program reads PDU text with. Positions are counted in
// characters, two per octet.
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
    // coding of the first part chooses UCS2 or GSM 7-bit text; each part's
    // TP-UDL and header bound its text, and each 7-bit part is read with the
    // national language tables its own header selects. Characters are formed
    // across part boundaries, so that an escape or a surrogate pair split
    // between two parts survives. Parts that are not SMS-DELIVER PDUs add
    // nothing.
    static QString messageText(const QStringList& pdus);
};
