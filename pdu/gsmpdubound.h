#pragma once

#include <QString>

// The service-centre part and first octet common to every received PDU.
class GsmPduBound
{
public:
    GsmPduBound() = default;
    virtual ~GsmPduBound() = default;

    virtual bool decode(const QString& pdu) = 0;
    bool decodeHead(const QString& pdu);
    int messageType() const;

    quint8 smscType = 0;
    QString smscNumber;
    quint8 firstOctet = 0;
    int bodyPos = 0;
};
