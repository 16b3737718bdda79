#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// One line of the report of vlsms-pdu, as JSON text without the line end.
namespace PduReport {

// The PDU text of an input line or argument: trimmed, and of a modem answer
// with a header line only what follows the last carriage return.
QString storedText(const QString& input);

// True when the text is a non-empty run of hexadecimal digits.
bool isHexadecimal(const QString& text);

// The columns the store writes for the PDU, what its data coding says and
// which national language tables read its 7-bit text, and the text
// forwarding makes of it as a single message (null where it is not
// forwarded).
QByteArray decodedLine(const QString& pdu);
// Why the program would keep this SMS-DELIVER undecoded; empty when it
// decodes, or when it is another kind of message (kept raw by design).
QString problem(const QString& pdu);

// The text forwarding makes of the PDUs as the parts of one message, taken
// in part-index order.
QByteArray joinedLine(const QStringList& pdus);

// A JSON string literal.
QByteArray jsonString(const QString& text);

} // namespace PduReport
