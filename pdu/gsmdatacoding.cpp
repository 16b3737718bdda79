#include "pdu/gsmdatacoding.h"

namespace {

// Groups 00xx and 01xx share the layout of their lower six bits.
bool generalLayout(quint8 dcs)
{
    return dcs < 0x80;
}

} // namespace

int GsmDataCoding::group() const
{
    const int high = dcs >> 4;
    if (high < 0x4)
        return 0;
    if (high < 0xC)
        return 1;
    return high - 0xC + 2;
}

int GsmDataCoding::groupType() const
{
    return group() == 0 ? (dcs >> 2) & 3 : 0;
}

GsmDataCoding::Alphabet GsmDataCoding::alphabet() const
{
    if (generalLayout(dcs))
        return Alphabet((dcs >> 2) & 3);
    switch (dcs >> 4) {
    case 0xC:
    case 0xD:
        return Gsm7Bit;
    case 0xE:
        return Ucs2;
    case 0xF:
        return (dcs & 0x04) ? Data8Bit : Gsm7Bit;
    default:
        return Reserved; // coding groups 1000..1011
    }
}

bool GsmDataCoding::compressed() const
{
    return generalLayout(dcs) && (dcs & 0x20) != 0;
}

int GsmDataCoding::messageClass() const
{
    if (generalLayout(dcs))
        return (dcs & 0x10) ? dcs & 3 : -1;
    return (dcs >> 4) == 0xF ? dcs & 3 : -1;
}

bool GsmDataCoding::isText() const
{
    const Alphabet a = alphabet();
    return (a == Gsm7Bit || a == Ucs2) && !compressed();
}

QString GsmDataCoding::groupName() const
{
    switch (dcs >> 4) {
    case 0x0:
    case 0x1:
    case 0x2:
    case 0x3:
        return QStringLiteral("general data coding");
    case 0x4:
    case 0x5:
    case 0x6:
    case 0x7:
        return QStringLiteral("automatic deletion");
    case 0xC:
        return QStringLiteral("message waiting, discard");
    case 0xD:
        return QStringLiteral("message waiting, store");
    case 0xE:
        return QStringLiteral("message waiting, store UCS2");
    case 0xF:
        return QStringLiteral("data coding and message class");
    default:
        return QStringLiteral("reserved");
    }
}

QString GsmDataCoding::alphabetName(Alphabet alphabet)
{
    switch (alphabet) {
    case Gsm7Bit:
        return QStringLiteral("GSM 7-bit");
    case Data8Bit:
        return QStringLiteral("8-bit data");
    case Ucs2:
        return QStringLiteral("UCS2");
    default:
        return QStringLiteral("reserved");
    }
}
