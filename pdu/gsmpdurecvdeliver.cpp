#include "pdu/gsmpdurecvdeliver.h"

#include "pdu/gsmop.h"

namespace {

constexpr quint8 headerIndicator = 0x40;  // TP-UDHI in the first octet
constexpr quint8 numberTypeMask = 0x70;   // type of number in the type-of-address octet
constexpr quint8 alphanumericType = 0x50; // type of number 101: GSM 7-bit text

// The two digits of a time-stamp field, or the error code it holds.
void appendField(QString& text, int value)
{
    if (value < 0 || value > 99) {
        text += QString::asprintf("%02i", value);
        return;
    }
    text += QLatin1Char(char('0' + value / 10));
    text += QLatin1Char(char('0' + value % 10));
}

// An originator given as packed GSM 7-bit text; `digits` counts its useful
// semi-octets.
QString alphanumericSender(const QString& pdu, int pos, int digits)
{
    QByteArray septets;
    const int count = GsmOp::unpackSeptets(pdu, pos, 0, digits * 4 / 7, septets);
    // A length that counts the whole last octet leaves one septet of padding.
    if (count > 0 && count % 8 == 0 && septets.at(count - 1) == 0)
        septets.chop(1);
    return GsmOp::gsmText(septets);
}

} // namespace

GsmPduRecvDeliver::GsmPduRecvDeliver(QObject* parent) : GsmPduBound(parent) {}

void GsmPduRecvDeliver::clearFields()
{
    oaType = 0;
    sender.clear();
    pid = 0;
    dcs = 0;
    year = month = day = hour = minute = second = zone = 0;
    udl = 0;
    udhl = 0;
    udh.clear();
    ud.clear();
    partType = 0;
    partId.clear();
    partIndex = 0;
    partCount = 0;
}

bool GsmPduRecvDeliver::decode(const QString& pdu)
{
    clearFields();
    if (!decodeHead(pdu) || messageType() != 0)
        return false;

    int p = bodyPos;
    // Originator length in useful semi-octets; 0 is an originator without an
    // address, which still has its type octet.
    const int digits = GsmOp::intAt(pdu, p);
    p += 2;
    if (digits < 0)
        return false;
    oaType = GsmOp::byteAt(pdu, p);
    p += 2;
    const int addressOctets = (digits + 1) / 2;
    if ((oaType & numberTypeMask) == alphanumericType)
        sender = alphanumericSender(pdu, p, digits);
    else
        sender = GsmOp::swappedDigits(pdu, p, addressOctets);
    p += 2 * addressOctets;

    pid = GsmOp::intAt(pdu, p);
    p += 2;
    dcs = GsmOp::byteAt(pdu, p);
    p += 2;
    for (int* field : {&year, &month, &day, &hour, &minute, &second, &zone}) {
        *field = GsmOp::bcdAt(pdu, p);
        p += 2;
    }
    udl = GsmOp::intAt(pdu, p);
    p += 2;

    bool complete = udl >= 0;
    if (firstOctet & headerIndicator) {
        udhl = GsmOp::intAt(pdu, p);
        p += 2;
        if (udhl >= 0) {
            udh = pdu.mid(p, 2 * udhl);
            p += 2 * udhl;
            readConcatenation();
        } else {
            // An unreadable header length: no header, and the user data is
            // what follows the length octet.
            complete = false;
        }
    }
    if (p < pdu.size())
        ud = pdu.mid(p);
    return complete;
}

void GsmPduRecvDeliver::readConcatenation()
{
    const int size = udh.size();
    int q = 0;
    while (q < size) {
        const int iei = GsmOp::intAt(udh, q);
        q += 2;
        const int length = GsmOp::intAt(udh, q);
        q += 2;
        if (length < 0)
            return;
        const int at = q;
        const QString data = udh.mid(at, 2 * length);
        q += 2 * length;
        if (iei == 0x00 && data.size() >= 6) {
            partType = 1;
            partId = data.left(2);
            partCount = GsmOp::intAt(udh, at + 2);
            partIndex = GsmOp::intAt(udh, at + 4);
        } else if (iei == 0x08 && data.size() >= 8) {
            partType = 2;
            partId = data.left(4);
            partCount = GsmOp::intAt(udh, at + 4);
            partIndex = GsmOp::intAt(udh, at + 6);
        }
    }
}

int GsmPduRecvDeliver::codeGroup() const
{
    const int high = dcs >> 4;
    if (high < 0x4)
        return 0; // general data coding
    if (high < 0xC)
        return 1;          // automatic deletion and reserved groups
    return high - 0xC + 2; // message waiting (discard, store, store UCS2), data coding / class
}

int GsmPduRecvDeliver::codeType() const
{
    return codeGroup() == 0 ? (dcs >> 2) & 3 : 0;
}

QString GsmPduRecvDeliver::stampText() const
{
    QString text;
    text.reserve(19);
    text += QLatin1String("20");
    appendField(text, year);
    text += QLatin1Char('-');
    appendField(text, month);
    text += QLatin1Char('-');
    appendField(text, day);
    text += QLatin1Char(' ');
    appendField(text, hour);
    text += QLatin1Char(':');
    appendField(text, minute);
    text += QLatin1Char(':');
    appendField(text, second);
    return text;
}

bool GsmPduRecvDeliver::forwardable() const
{
    return messageType() == 0 && codeGroup() == 0 && (codeType() == 0 || codeType() == 2);
}
