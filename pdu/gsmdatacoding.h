#pragma once

#include <QString>

// What the data coding scheme octet of a message says: its coding group, the
// alphabet of its user data, whether that is compressed, and its message
// class. Every coding group is read as 3GPP TS 23.038 defines it.
class GsmDataCoding
{
public:
    enum Alphabet
    {
        Gsm7Bit = 0,
        Data8Bit = 1,
        Ucs2 = 2,
        Reserved = 3
    };

    explicit GsmDataCoding(quint8 octet = 0) : dcs(octet) {}

    // The coding group as the store keeps it: 0 general data coding (00xx),
    // 1 automatic deletion (01xx) and the reserved groups (10xx), 2 message
    // waiting discard, 3 message waiting store, 4 message waiting store UCS2,
    // 5 data coding and message class (1111).
    int group() const;
    // The alphabet bits of the general group alone, 0 in every other group:
    // the value the store has always kept beside the group.
    int groupType() const;
    Alphabet alphabet() const;
    bool compressed() const;
    // 0..3, or -1 when the octet gives none.
    int messageClass() const;
    // User data that forms text: GSM 7-bit or UCS2, not compressed.
    bool isText() const;

    QString groupName() const;
    static QString alphabetName(Alphabet alphabet);

private:
    quint8 dcs;
};
