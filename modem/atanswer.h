#pragma once

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

    // Indexes announced by complete "+CMTI: "SM",n" lines anywhere in bytes.
    static QList<int> newMessageIndexes(const QByteArray& bytes);
    // NUL bytes made visible, so that a log of the answer is not cut there.
    static QByteArray printable(const QByteArray& bytes);

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
