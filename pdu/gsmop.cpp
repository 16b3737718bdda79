#include "pdu/gsmop.h"

int GsmOp::intAt(const QString&, int)
{
    return -1;
}
quint8 GsmOp::byteAt(const QString&, int)
{
    return 0;
}
int GsmOp::bcdAt(const QString&, int)
{
    return -1;
}
QString GsmOp::swappedDigits(const QString&, int, int)
{
    return {};
}
QString GsmOp::unpack7Bit(const QString&)
{
    return {};
}
QString GsmOp::ucs2Text(const QString&)
{
    return {};
}
QString GsmOp::messageText(const QStringList&)
{
    return {};
}
