#pragma once

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

    static int intAt(const QString& text, int pos);
    static quint8 byteAt(const QString& text, int pos);
    static int bcdAt(const QString& text, int pos);
    static QString swappedDigits(const QString& text, int pos, int octets);
    static QString unpack7Bit(const QString& hex);
    static QString ucs2Text(const QString& hex);

    // The text of one message as the sender typed it, from the PDU texts of
    // its parts in part-index order (one PDU for a single message).
    static QString messageText(const QStringList& pdus);
};
