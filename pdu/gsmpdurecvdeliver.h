#pragma once

#include "pdu/gsmdatacoding.h"
#include "pdu/gsmpdubound.h"

// Decoder of one SMS-DELIVER PDU into the values the local store keeps.
class GsmPduRecvDeliver : public GsmPduBound
{
public:
    GsmPduRecvDeliver() = default;

    // Reads every field; true when the PDU is a whole, readable SMS-DELIVER.
    bool decode(const QString& pdu) override;
    // Reads the fields exactly as decode does, without the checks that the
    // PDU holds nothing but hexadecimal digits and all of its user data: for
    // reading a stored PDU again, whose fate those checks decided at insert.
    bool decodeFields(const QString& pdu);
    // The coding group and the alphabet of the general group, as stored.
    int codeGroup() const;
    int codeType() const;
    GsmDataCoding dataCoding() const { return GsmDataCoding(dcs); }
    QString stampText() const;
    // True for the messages that are forwarded: SMS-DELIVER whose user data
    // is GSM 7-bit or UCS2 text, not compressed, whatever its coding group
    // and message class.
    bool forwardable() const;
    // Why the last decode answered false; empty after a good one.
    QString problem() const { return failure; }

    quint8 oaType = 0;
    QString sender;
    int pid = 0;
    quint8 dcs = 0;
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int zone = 0;
    int udl = 0;
    int udhl = 0;
    QString udh;
    QString ud;
    int partType = 0;
    QString partId;
    int partIndex = 0;
    int partCount = 0;
    // National language identifiers of the locking shift and the single
    // shift table the header selects; 0 for the default tables.
    int lockingLanguage = 0;
    int singleLanguage = 0;

private:
    void clearFields();
    // Walks the header's information elements; the last concatenation
    // element sets the part fields, the last language element of each kind
    // its language.
    void readHeaderElements();
    bool holdsItsUserData(const QString& pdu);

    QString failure;
    // Where the user data (its header included) starts in the PDU text.
    int udStart = 0;
};
