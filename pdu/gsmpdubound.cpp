#include "pdu/gsmpdubound.h"

#include "pdu/gsmhex.h"

bool GsmPduBound::decodeHead(const QString& pdu)
{
    smscType = 0;
    smscNumber.clear();
    firstOctet = 0;
    bodyPos = 0;
    if (pdu.size() < 2)
        return false;
    // Octets of the service-centre part, its type octet included. Zero is a
    // PDU that carries no service-centre address: no type octet follows.
    const int length = GsmHex::intAt(pdu, 0);
    if (length < 0)
        return false;
    int p = 2;
    if (length > 0) {
        smscType = GsmHex::byteAt(pdu, 2);
        p = 4;
        if (length > 1) {
            smscNumber = GsmHex::swappedDigits(pdu, 4, length - 1);
            p = 2 * length + 2;
        }
    }
    firstOctet = GsmHex::byteAt(pdu, p);
    bodyPos = p + 2;
    return true;
}

int GsmPduBound::messageType() const
{
    return firstOctet & 3;
}
