#pragma once

#include "modem/modemhealth.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// The parse rules over what a modem sent back to one AT command. Everything
// works on bytes: a NUL, a stray byte of 0x80 to 0xFF or invalid UTF-8 in an
// answer is line noise and never cuts or hides what follows it.
//
// An answer is judged by its final result line only (OK, ERROR, +CME ERROR,
// +CMS ERROR, the "COMMAND NOT SUPPORT" style, NO CARRIER and its kin);
// unsolicited lines (+CMTI, +CREG, RING, ^RSSI, ...) are taken out first, so
// a word inside them or inside the information lines never decides anything.
class AtAnswer
{
public:
    enum class Final
    {
        None, // no final result line yet: the answer is incomplete
        Ok,
        Error,
        CmeError,
        CmsError,
        NotSupported,
        NoCarrier
    };

    // The complete lines of an answer (ended by CR or LF), trimmed of blanks
    // and of control and high bytes at both ends; empty lines are dropped.
    // A last line without its terminator is not complete and not returned.
    static QList<QByteArray> lines(const QByteArray& answer);
    static bool isUnsolicited(const QByteArray& line);
    static Final finalOf(const QByteArray& line);
    // The first final result line of the answer, unsolicited lines aside.
    static Final finalResult(const QByteArray& answer);
    // The information lines: neither unsolicited, nor the echo of a command,
    // nor anything from the final result line on.
    static QList<QByteArray> body(const QByteArray& answer);

    // What one complete unsolicited line tells. The answers of "AT+CREG?"
    // ("+CREG: <n>,<stat>...") and the notices ("+CREG: <stat>", or with the
    // quoted area and cell after it) share a prefix: an answer is no notice.
    struct Notice
    {
        enum class Kind
        {
            None,
            NewMessage,   // "+CMTI: "<storage>",<index>"
            Registration, // "+CREG: <stat>[,"<lac>","<ci>"...]"
            Signal,       // "^RSSI:<rssi>"
            Sim           // "+CPIN: <state>"
        };
        Kind kind = Kind::None;
        QByteArray storage;
        int index = -1;
        int signal = -1;
        ModemHealth::Registration registration = ModemHealth::Registration::Unknown;
        ModemHealth::Sim sim = ModemHealth::Sim::Unknown;
    };
    static Notice notice(const QByteArray& line);
    // NUL bytes made visible, so that a log of the answer is not cut there.
    static QByteArray printable(const QByteArray& bytes);
    // The PIN of any "+CPIN=" command in bytes replaced by stars, for the logs.
    static QByteArray masked(const QByteArray& bytes);

    // --- what a modem tells about itself; an odd answer gives "unknown" ---
    // "+CSQ: <rssi>,<ber>" of an answer ending OK: 0 to 31, else -1.
    static int signalOf(const QByteArray& answer);
    // "+CREG: <n>,<stat>..." of an answer ending OK; notices in it are not the answer.
    static ModemHealth::Registration registrationOf(const QByteArray& answer);
    // The operator of "+COPS: <mode>[,<format>,"<name>"[,<act>]]" ending OK;
    // empty with known set when the modem names none; known unset when odd.
    static QString operatorOf(const QByteArray& answer, bool* known);
    // The SIM state of a "+CPIN:" line (with or without a final result after
    // it) or, failing that, of the error the answer ends with.
    static ModemHealth::Sim simOf(const QByteArray& answer);
    // The SIM state an error result tells (+CME ERROR 10 to 13, +CMS ERROR
    // 310 to 316, or their texts); Unknown for any other answer.
    static ModemHealth::Sim simOfError(const QByteArray& answer);
    // The message storages of the first list of an "AT+CPMS=?" answer ending
    // OK, of those read: "SM" and "ME", in that order.
    static QList<QByteArray> storagesOf(const QByteArray& answer);
    // Messages held and room of the first storage of a "+CPMS:" answer ending
    // OK ("SM",3,50,... or 3,50,...); name is the storage it names, if any.
    static bool storageCount(const QByteArray& answer, QByteArray* name, int* used, int* total);

    // The device number: the first information line of an answer ending OK.
    static QString deviceNo(const QByteArray& answer);
    // The SIM number: after the last colon of the first line that has one,
    // or the bare number on the last information line; only when OK ends it.
    static QString simNo(const QByteArray& answer);
    // Indexes of the first parenthesised list of an "AT+CMGD=?" answer.
    // isRange is set when the modem gave a range of slots instead.
    static QStringList indexList(const QByteArray& answer, bool* isRange = nullptr);
    // Indexes of the "+CMGL:" lines of a message listing.
    static QStringList listing(const QByteArray& answer);

    struct Read
    {
        QByteArray pdu;       // the PDU line, when the answer ended OK
        bool heldPdu = false; // a line followed the +CMGR header, whatever the final result
    };
    // The message of an "AT+CMGR=" answer.
    static Read readPdu(const QByteArray& answer);
};
