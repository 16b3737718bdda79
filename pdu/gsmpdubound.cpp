#include "pdu/gsmpdubound.h"

GsmPduBound::GsmPduBound(QObject* parent) : QObject(parent) {}
bool GsmPduBound::decodeHead(const QString&)
{
    return false;
}
int GsmPduBound::messageType() const
{
    return firstOctet & 3;
}
