#include "tools/pdu/pdureport.h"

#include "pdu/gsmdatacoding.h"
#include "pdu/gsmlanguagetables.h"
#include "pdu/gsmop.h"
#include "pdu/gsmpdurecvdeliver.h"

#include <QVector>

#include <algorithm>
#include <memory>

namespace PduReport {

namespace {

// Builds one JSON object with its keys in the order they are added.
class JsonLine
{
public:
    void add(const char* key, const QByteArray& value)
    {
        line += line.isEmpty() ? "{" : ",";
        line += '"';
        line += key;
        line += "\":";
        line += value;
    }
    void add(const char* key, int value) { add(key, QByteArray::number(value)); }
    void add(const char* key, const QString& value) { add(key, jsonString(value)); }
    QByteArray finish() const { return line + '}'; }

private:
    QByteArray line;
};

const QByteArray null("null");

// The table a language identifier puts in use, and the identifier itself
// where it names no table of that kind.
QString tableName(int language, bool hasTable)
{
    if (hasTable)
        return GsmLanguageTables::languageName(language);
    if (language == 0)
        return QStringLiteral("default");
    return QStringLiteral("default (%1 has none)").arg(GsmLanguageTables::languageName(language));
}

// What the data coding says and which tables read the text; the language
// tables only for GSM 7-bit text.
void addCoding(JsonLine& json, const GsmPduRecvDeliver& d)
{
    const GsmDataCoding coding = d.dataCoding();
    json.add("coding_group", coding.groupName());
    json.add("alphabet", GsmDataCoding::alphabetName(coding.alphabet()));
    json.add("compressed", coding.compressed() ? QByteArray("true") : QByteArray("false"));
    json.add("message_class", coding.messageClass() < 0 ? null : QByteArray::number(coding.messageClass()));
    const bool septets = coding.alphabet() == GsmDataCoding::Gsm7Bit;
    const int locking = d.lockingLanguage, single = d.singleLanguage;
    json.add("locking_shift",
             septets ? jsonString(tableName(locking, GsmLanguageTables::hasLockingTable(locking))) : null);
    json.add("single_shift",
             septets ? jsonString(tableName(single, GsmLanguageTables::hasSingleTable(single))) : null);
}

} // namespace

QString storedText(const QString& input)
{
    // Line ends are not part of the answer, so they are trimmed first.
    const QString text = input.trimmed();
    const int cr = text.lastIndexOf(QLatin1Char('\r'));
    return cr < 0 ? text : text.mid(cr + 1).trimmed();
}

bool isHexadecimal(const QString& text)
{
    if (text.isEmpty())
        return false;
    return std::all_of(text.begin(), text.end(), [](QChar c) {
        const ushort u = c.unicode();
        return (u >= '0' && u <= '9') || (u >= 'A' && u <= 'F') || (u >= 'a' && u <= 'f');
    });
}

QString problem(const QString& pdu)
{
    GsmPduRecvDeliver d;
    // The same rule as the store's: an SMS-DELIVER that does not decode.
    if (!d.decode(pdu) && d.messageType() == 0) {
        return d.problem();
    }
    return QString();
}

QByteArray decodedLine(const QString& pdu)
{
    GsmPduRecvDeliver d;
    d.decode(pdu);
    JsonLine json;
    json.add("sms_recvtype", d.messageType());
    if (d.messageType() == 0) {
        json.add("sms_pid", d.pid);
        json.add("sms_sender", d.sender);
        json.add("sms_stamp", d.stampText());
        json.add("sms_codegroup", d.codeGroup());
        json.add("sms_codetype", d.codeType());
        json.add("sms_part_type", d.partType);
        json.add("sms_part_id", d.partId);
        json.add("sms_part_index", d.partIndex);
        json.add("sms_part_count", d.partCount);
        json.add("sms_userdata_head", d.udh);
        json.add("sms_userdata_value", d.ud);
        json.add("sms_text", d.forwardable() ? 1 : 0);
        addCoding(json, d);
    } else {
        // Other message types keep only their type; the rest are the
        // column defaults.
        json.add("sms_pid", 0);
        json.add("sms_sender", null);
        json.add("sms_stamp", null);
        json.add("sms_codegroup", 0);
        json.add("sms_codetype", 0);
        json.add("sms_part_type", 0);
        json.add("sms_part_id", null);
        json.add("sms_part_index", 0);
        json.add("sms_part_count", 1);
        json.add("sms_userdata_head", null);
        json.add("sms_userdata_value", null);
        json.add("sms_text", 0);
        for (const char* key :
             {"coding_group", "alphabet", "compressed", "message_class", "locking_shift", "single_shift"})
            json.add(key, null);
    }
    json.add("text", d.forwardable() ? jsonString(GsmOp::messageText({pdu})) : null);
    return json.finish();
}

QByteArray joinedLine(const QStringList& pdus)
{
    struct Part
    {
        int index;
        QString pdu;
    };
    QVector<Part> parts;
    for (const QString& pdu : pdus) {
        GsmPduRecvDeliver d;
        d.decode(pdu);
        parts.append({d.partIndex, pdu});
    }
    // Forwarding hands over one part per index, in ascending order; of two
    // copies of one index the first given is kept.
    std::stable_sort(parts.begin(), parts.end(),
                     [](const Part& a, const Part& b) { return a.index < b.index; });
    QStringList ordered;
    for (int i = 0; i < parts.size(); ++i) {
        if (i == 0 || parts.at(i).index != parts.at(i - 1).index)
            ordered << parts.at(i).pdu;
    }
    JsonLine json;
    json.add("text", GsmOp::messageText(ordered));
    return json.finish();
}

QByteArray jsonString(const QString& text)
{
    QByteArray out;
    out.reserve(text.size() + 2);
    out += '"';
    const int size = text.size();
    for (int i = 0; i < size; ++i) {
        const QChar c = text.at(i);
        const ushort u = c.unicode();
        switch (u) {
        case '"':
            out += "\\\"";
            continue;
        case '\\':
            out += "\\\\";
            continue;
        case '\n':
            out += "\\n";
            continue;
        case '\r':
            out += "\\r";
            continue;
        case '\t':
            out += "\\t";
            continue;
        default:
            break;
        }
        if (c.isHighSurrogate() && i + 1 < size && text.at(i + 1).isLowSurrogate()) {
            out += text.mid(i, 2).toUtf8();
            ++i;
        } else if (u < 0x20 || c.isSurrogate()) {
            // Control characters and unpaired surrogates have no plain UTF-8
            // form in JSON; escape them so nothing is lost.
            out += "\\u" + QByteArray::number(u, 16).rightJustified(4, '0');
        } else {
            out += QString(c).toUtf8();
        }
    }
    out += '"';
    return out;
}

} // namespace PduReport
