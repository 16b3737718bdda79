#include "pdu/gsmpdurecvdeliver.h"

#include "pdu/gsmalphabet.h"
#include "pdu/gsmhex.h"

#include <algorithm>
#include <iterator>

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
    const int count = GsmHex::unpackSeptets(pdu, pos, 0, digits * 4 / 7, septets);
    // A length that counts the whole last octet leaves one septet of padding.
    if (count > 0 && count % 8 == 0 && septets.at(count - 1) == 0)
        septets.chop(1);
    return GsmAlphabet::text(septets);
}

} // namespace

void GsmPduRecvDeliver::clearFields()
{
    failure.clear();
    oaType = 0;
    sender.clear();
    pid = 0;
    dcs = 0;
    year = month = day = hour = minute = second = zone = 0;
    udl = 0;
    udStart = 0;
    udhl = 0;
    udh.clear();
    ud.clear();
    partType = 0;
    partId.clear();
    partIndex = 0;
    partCount = 0;
    lockingLanguage = 0;
    singleLanguage = 0;
}

bool GsmPduRecvDeliver::decode(const QString& pdu)
{
    return decodeFields(pdu) && holdsItsUserData(pdu);
}

bool GsmPduRecvDeliver::decodeFields(const QString& pdu)
{
    clearFields();
    if (!decodeHead(pdu)) {
        failure = QStringLiteral("no readable service-centre address or first octet");
        return false;
    }
    if (messageType() != 0) {
        failure = QStringLiteral("not an SMS-DELIVER (message type %1)").arg(messageType());
        return false;
    }

    int p = bodyPos;
    // Originator length in useful semi-octets; 0 is an originator without an
    // address, which still has its type octet.
    const int digits = GsmHex::intAt(pdu, p);
    p += 2;
    if (digits < 0) {
        failure = QStringLiteral("no readable originator length");
        return false;
    }
    oaType = GsmHex::byteAt(pdu, p);
    p += 2;
    const int addressOctets = (digits + 1) / 2;
    if ((oaType & numberTypeMask) == alphanumericType)
        sender = alphanumericSender(pdu, p, digits);
    else
        sender = GsmHex::swappedDigits(pdu, p, addressOctets);
    p += 2 * addressOctets;

    pid = GsmHex::intAt(pdu, p);
    p += 2;
    dcs = GsmHex::byteAt(pdu, p);
    p += 2;
    for (int* field : {&year, &month, &day, &hour, &minute, &second, &zone}) {
        *field = GsmHex::bcdAt(pdu, p);
        p += 2;
    }
    udl = GsmHex::intAt(pdu, p);
    p += 2;
    udStart = p;

    bool complete = udl >= 0;
    if (firstOctet & headerIndicator) {
        udhl = GsmHex::intAt(pdu, p);
        p += 2;
        if (udhl >= 0) {
            udh = pdu.mid(p, 2 * udhl);
            p += 2 * udhl;
            readHeaderElements();
        } else {
            // An unreadable header length: no header, and the user data is
            // what follows the length octet.
            complete = false;
            failure = QStringLiteral("no readable user-data header length");
        }
    }
    if (p < pdu.size())
        ud = pdu.mid(p);
    if (udl < 0) {
        failure = QStringLiteral("no readable user-data length");
    }
    return complete;
}

// Every character is hex, the fields before the user data were readable, and
// the user data is as long as its length octet says: a truncated or damaged
// PDU must not become a text with parts missing.
bool GsmPduRecvDeliver::holdsItsUserData(const QString& pdu)
{
    if (!GsmHex::isHex(pdu)) {
        failure = QStringLiteral("a character that is not hexadecimal");
        return false;
    }
    if (pid < 0 || udl < 0) {
        failure = QStringLiteral("the PDU ends before its user-data length");
        return false;
    }
    const int octets = dataCoding().alphabet() == GsmDataCoding::Gsm7Bit ? (udl * 7 + 7) / 8 : udl;
    const int present = (pdu.size() - udStart) / 2;
    if (present < octets) {
        failure = QStringLiteral("user data of %1 octets where its length needs %2").arg(present).arg(octets);
        return false;
    }
    return true;
}

void GsmPduRecvDeliver::readHeaderElements()
{
    const int size = udh.size();
    int q = 0;
    while (q < size) {
        const int iei = GsmHex::intAt(udh, q);
        q += 2;
        const int length = GsmHex::intAt(udh, q);
        q += 2;
        if (length < 0)
            return;
        const int at = q;
        // The characters of the element's data the header really holds.
        const int data = qBound(0, size - at, 2 * length);
        q += 2 * length;
        if (iei == 0x00 && data >= 6) {
            partType = 1;
            partId = udh.mid(at, 2);
            partCount = GsmHex::intAt(udh, at + 2);
            partIndex = GsmHex::intAt(udh, at + 4);
        } else if (iei == 0x08 && data >= 8) {
            partType = 2;
            partId = udh.mid(at, 4);
            partCount = GsmHex::intAt(udh, at + 4);
            partIndex = GsmHex::intAt(udh, at + 6);
        } else if ((iei == 0x24 || iei == 0x25) && data >= 2) {
            (iei == 0x24 ? singleLanguage : lockingLanguage) = GsmHex::intAt(udh, at);
        }
    }
}

int GsmPduRecvDeliver::codeGroup() const
{
    return dataCoding().group();
}

int GsmPduRecvDeliver::codeType() const
{
    return dataCoding().groupType();
}

QString GsmPduRecvDeliver::stampText() const
{
    const int fields[] = {year, month, day, hour, minute, second};
    if (std::all_of(std::begin(fields), std::end(fields), [](int v) { return v >= 0 && v <= 99; })) {
        QString text = QStringLiteral("20yy-mm-dd hh:mm:ss");
        QChar* out = text.data();
        for (int i = 0; i < 6; ++i) {
            out[2 + 3 * i] = QLatin1Char(char('0' + fields[i] / 10));
            out[3 + 3 * i] = QLatin1Char(char('0' + fields[i] % 10));
        }
        return text;
    }
    // A field with an error code keeps it, as wide as it is.
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
    return messageType() == 0 && dataCoding().isText();
}
