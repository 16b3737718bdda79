#include "pdu/gsmpdurecvdeliver.h"

GsmPduRecvDeliver::GsmPduRecvDeliver(QObject* parent) : GsmPduBound(parent) {}
bool GsmPduRecvDeliver::decode(const QString&)
{
    return false;
}
int GsmPduRecvDeliver::codeGroup() const
{
    return 0;
}
int GsmPduRecvDeliver::codeType() const
{
    return 0;
}
QString GsmPduRecvDeliver::stampText() const
{
    return {};
}
