#include "modem/atanswer.h"

#include <algorithm>

namespace {

bool isNoise(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return u <= 0x20 || u >= 0x7F;
}

QByteArray trimNoise(const QByteArray& line)
{
    int from = 0;
    int to = line.size();
    while (from < to && isNoise(line.at(from))) {
        ++from;
    }
    while (to > from && isNoise(line.at(to - 1))) {
        --to;
    }
    return line.mid(from, to - from);
}

// Lines a modem sends on its own, whatever command is running.
const QList<QByteArray>& unsolicitedPrefixes()
{
    static const QList<QByteArray> list{
        "+CMTI:",  "+CDSI:",      "+CBM:",  "+CREG:", "+CGREG:", "+CEREG:", "+CPIN:",  "+CLIP:",
        "+CRING:", "+CUSD:",      "+CIEV:", "^RSSI:", "^HCSQ:",  "^MODE:",  "^BOOT:",  "^SRVST:",
        "^SIMST:", "^DSFLOWRPT:", "^CEND:", "^ORIG:", "^CONF:",  "^CONN:",  "+PBREADY"};
    return list;
}

bool isEcho(const QByteArray& line)
{
    return line.size() >= 2 && (line.at(0) == 'A' || line.at(0) == 'a') &&
           (line.at(1) == 'T' || line.at(1) == 't');
}

bool isDigits(const QByteArray& text)
{
    if (text.isEmpty()) {
        return false;
    }
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

bool isQuoted(const QByteArray& field)
{
    return field.size() >= 2 && field.startsWith('"') && field.endsWith('"');
}

QByteArray unquoted(const QByteArray& field)
{
    return isQuoted(field) ? field.mid(1, field.size() - 2) : field;
}

// A small whole number (at most six digits), as a modem writes indexes and states.
bool smallNumber(const QByteArray& field, int* value)
{
    if (!isDigits(field) || field.size() > 6) {
        return false;
    }
    *value = field.toInt();
    return true;
}

// The comma-separated fields after the colon of "+XXX: a,"b,c",d", trimmed;
// a comma inside quotes belongs to its field.
QList<QByteArray> fields(const QByteArray& line)
{
    QList<QByteArray> result;
    const int colon = line.indexOf(':');
    QByteArray field;
    bool quoted = false;
    for (int i = colon + 1; i < line.size(); ++i) {
        const char c = line.at(i);
        if (c == ',' && !quoted) {
            result.append(field.trimmed());
            field.clear();
            continue;
        }
        quoted = c == '"' ? !quoted : quoted;
        field.append(c);
    }
    result.append(field.trimmed());
    return result;
}

ModemHealth::Registration registrationOfStat(int stat)
{
    using R = ModemHealth::Registration;
    switch (stat) {
    case 0:
    case 8: // emergency calls only
        return R::Unregistered;
    case 1:
    case 6: // home, SMS only
    case 9:
        return R::Home;
    case 2:
        return R::Searching;
    case 3:
        return R::Denied;
    case 5:
    case 7: // roaming, SMS only
    case 10:
        return R::Roaming;
    default:
        return R::Unknown;
    }
}

// The state words of "+CPIN:". PIN2 and PUK2 guard only some SIM files, not
// its messages; a "PH-" lock wants a code of the phone, not the SIM PIN.
ModemHealth::Sim simOfText(const QByteArray& text)
{
    using S = ModemHealth::Sim;
    const QByteArray word = text.trimmed().toUpper();
    if (word == "READY" || word == "SIM PIN2" || word == "SIM PUK2") {
        return S::Ready;
    }
    if (word == "SIM PIN") {
        return S::Pin;
    }
    if (word == "SIM PUK") {
        return S::Puk;
    }
    if (word.contains("NOT INSERTED") || word == "NO SIM" || word == "SIM REMOVED") {
        return S::Absent;
    }
    if (word.startsWith("PH-") || word.contains("FAILURE")) {
        return S::Error;
    }
    return S::Unknown;
}

// The first line of the answer that starts with prefix and is not an echo,
// before the final result; empty when there is none.
QByteArray infoLine(const QByteArray& answer, const char* prefix)
{
    for (const QByteArray& line : AtAnswer::body(answer)) {
        if (line.startsWith(prefix)) {
            return line;
        }
    }
    return QByteArray();
}

// The lines that are not unsolicited, up to (not including) the first final
// result line; final receives that result.
QList<QByteArray> answerLines(const QByteArray& answer, AtAnswer::Final* final)
{
    QList<QByteArray> kept;
    *final = AtAnswer::Final::None;
    for (const QByteArray& line : AtAnswer::lines(answer)) {
        if (AtAnswer::isUnsolicited(line)) {
            continue;
        }
        const AtAnswer::Final f = AtAnswer::finalOf(line);
        if (f != AtAnswer::Final::None) {
            *final = f;
            break;
        }
        kept.append(line);
    }
    return kept;
}

} // namespace

QList<QByteArray> AtAnswer::lines(const QByteArray& answer)
{
    QList<QByteArray> result;
    int start = 0;
    for (int i = 0; i < answer.size(); ++i) {
        const char c = answer.at(i);
        if (c != '\r' && c != '\n') {
            continue;
        }
        const QByteArray line = trimNoise(answer.mid(start, i - start));
        if (!line.isEmpty()) {
            result.append(line);
        }
        start = i + 1;
    }
    return result;
}

bool AtAnswer::isUnsolicited(const QByteArray& line)
{
    if (line == "RING") {
        return true;
    }
    for (const QByteArray& prefix : unsolicitedPrefixes()) {
        if (line.startsWith(prefix)) {
            return true;
        }
    }
    return false;
}

AtAnswer::Final AtAnswer::finalOf(const QByteArray& line)
{
    if (line == "OK") {
        return Final::Ok;
    }
    if (line == "ERROR") {
        return Final::Error;
    }
    if (line.startsWith("+CME ERROR")) {
        return Final::CmeError;
    }
    if (line.startsWith("+CMS ERROR")) {
        return Final::CmsError;
    }
    if (line.endsWith("NOT SUPPORT") || line.endsWith("NOT SUPPORTED")) {
        return Final::NotSupported;
    }
    if (line == "NO CARRIER" || line == "NO DIALTONE" || line == "NO ANSWER" || line == "BUSY") {
        return Final::NoCarrier;
    }
    return Final::None;
}

AtAnswer::Final AtAnswer::finalResult(const QByteArray& answer)
{
    Final final = Final::None;
    answerLines(answer, &final);
    return final;
}

QList<QByteArray> AtAnswer::body(const QByteArray& answer)
{
    Final final = Final::None;
    QList<QByteArray> kept = answerLines(answer, &final);
    kept.erase(std::remove_if(kept.begin(), kept.end(), isEcho), kept.end());
    return kept;
}

AtAnswer::Notice AtAnswer::notice(const QByteArray& line)
{
    Notice n;
    const QList<QByteArray> f = fields(line);
    int value = -1;
    if (line.startsWith("+CMTI:")) {
        if (f.size() == 2 && isQuoted(f.at(0)) && smallNumber(f.at(1), &value)) {
            n.kind = Notice::Kind::NewMessage;
            n.storage = unquoted(f.at(0));
            n.index = value;
        }
    } else if (line.startsWith("+CREG:")) {
        // The answer's second field is the bare state; a notice's is the area.
        if (smallNumber(f.at(0), &value) && (f.size() == 1 || !isDigits(f.at(1)))) {
            n.kind = Notice::Kind::Registration;
            n.registration = registrationOfStat(value);
        }
    } else if (line.startsWith("^RSSI:")) {
        if (smallNumber(f.at(0), &value)) {
            n.kind = Notice::Kind::Signal;
            n.signal = value <= 31 ? value : -1;
        }
    } else if (line.startsWith("+CPIN:")) {
        n.kind = Notice::Kind::Sim;
        n.sim = simOfText(line.mid(6));
    }
    return n;
}

QByteArray AtAnswer::printable(const QByteArray& bytes)
{
    QByteArray text = bytes;
    return text.replace('\0', "<NUL>");
}

QByteArray AtAnswer::masked(const QByteArray& bytes)
{
    QByteArray text = bytes;
    const QByteArray upper = bytes.toUpper();
    for (int at = upper.indexOf("+CPIN="); at >= 0; at = upper.indexOf("+CPIN=", at + 1)) {
        for (int i = at + 6; i < text.size() && text.at(i) != '\r' && text.at(i) != '\n'; ++i) {
            if (text.at(i) != '"' && text.at(i) != ',') {
                text[i] = '*';
            }
        }
    }
    return text;
}

int AtAnswer::signalOf(const QByteArray& answer)
{
    int value = -1;
    if (finalResult(answer) != Final::Ok || !smallNumber(fields(infoLine(answer, "+CSQ:")).at(0), &value)) {
        return -1;
    }
    return value <= 31 ? value : -1;
}

ModemHealth::Registration AtAnswer::registrationOf(const QByteArray& answer)
{
    if (finalResult(answer) != Final::Ok) {
        return ModemHealth::Registration::Unknown;
    }
    for (const QByteArray& line : lines(answer)) {
        const QList<QByteArray> f = fields(line);
        int mode = -1;
        int stat = -1;
        if (line.startsWith("+CREG:") && f.size() >= 2 && smallNumber(f.at(0), &mode) &&
            smallNumber(f.at(1), &stat)) {
            return registrationOfStat(stat);
        }
    }
    return ModemHealth::Registration::Unknown;
}

QString AtAnswer::operatorOf(const QByteArray& answer, bool* known)
{
    *known = false;
    const QList<QByteArray> f = fields(infoLine(answer, "+COPS:"));
    int mode = -1;
    int format = -1;
    if (finalResult(answer) != Final::Ok || !smallNumber(f.at(0), &mode)) {
        return QString();
    }
    if (f.size() == 1) {
        *known = true;
        return QString();
    }
    if (f.size() < 3 || !smallNumber(f.at(1), &format)) {
        return QString();
    }
    *known = true;
    QByteArray name = unquoted(f.at(2)).left(64);
    name.replace('\0', QByteArray());
    return QString::fromUtf8(name).trimmed();
}

ModemHealth::Sim AtAnswer::simOf(const QByteArray& answer)
{
    const QList<QByteArray> all = lines(answer);
    for (auto it = all.crbegin(); it != all.crend(); ++it) {
        if (it->startsWith("+CPIN:")) {
            return simOfText(it->mid(6));
        }
    }
    return simOfError(answer);
}

ModemHealth::Sim AtAnswer::simOfError(const QByteArray& answer)
{
    using S = ModemHealth::Sim;
    for (const QByteArray& line : lines(answer)) {
        if (isUnsolicited(line) || finalOf(line) == Final::None) {
            continue;
        }
        const bool cme = line.startsWith("+CME ERROR");
        if (!cme && !line.startsWith("+CMS ERROR")) {
            return S::Unknown;
        }
        const QByteArray text = line.mid(line.indexOf(':') + 1).trimmed().toUpper();
        int code = -1;
        if (!smallNumber(text, &code)) {
            return text == "SIM PIN REQUIRED"   ? S::Pin
                   : text == "SIM PUK REQUIRED" ? S::Puk
                                                : simOfText(text);
        }
        // +CME ERROR 10 to 15 and +CMS ERROR 310 to 316 (312: a phone lock).
        switch (cme ? code + 300 : code) {
        case 310:
            return S::Absent;
        case 311:
            return S::Pin;
        case 316:
            return cme ? S::Unknown : S::Puk; // +CME ERROR 16 is a wrong password
        case 312:
            return cme ? S::Puk : S::Error;
        case 313:
        case 315:
            return S::Error;
        default:
            return S::Unknown;
        }
    }
    return S::Unknown;
}

QList<QByteArray> AtAnswer::storagesOf(const QByteArray& answer)
{
    const QByteArray line = infoLine(answer, "+CPMS:");
    const int open = line.indexOf('(');
    const int close = line.indexOf(')', open + 1);
    QList<QByteArray> found;
    if (finalResult(answer) != Final::Ok || open < 0 || close < 0) {
        return found;
    }
    const QList<QByteArray> names = line.mid(open + 1, close - open - 1).split(',');
    for (const char* name : {"SM", "ME"}) {
        for (const QByteArray& listed : names) {
            if (unquoted(listed.trimmed()) == name && !found.contains(name)) {
                found.append(QByteArray(name));
            }
        }
    }
    return found;
}

bool AtAnswer::storageCount(const QByteArray& answer, QByteArray* name, int* used, int* total)
{
    QList<QByteArray> f = fields(infoLine(answer, "+CPMS:"));
    name->clear();
    if (isQuoted(f.at(0))) {
        *name = unquoted(f.takeFirst());
    }
    return finalResult(answer) == Final::Ok && f.size() >= 2 && smallNumber(f.at(0), used) &&
           smallNumber(f.at(1), total);
}

QString AtAnswer::deviceNo(const QByteArray& answer)
{
    if (finalResult(answer) != Final::Ok) {
        return QString();
    }
    const QList<QByteArray> info = body(answer);
    return info.isEmpty() ? QString() : QString::fromLatin1(info.first());
}

QString AtAnswer::simNo(const QByteArray& answer)
{
    if (finalResult(answer) != Final::Ok) {
        return QString();
    }
    const QList<QByteArray> info = body(answer);
    for (const QByteArray& line : info) {
        const int colon = line.lastIndexOf(':');
        if (colon >= 0) {
            return QString::fromLatin1(line.mid(colon + 1).trimmed());
        }
    }
    return info.isEmpty() ? QString() : QString::fromLatin1(info.last());
}

QStringList AtAnswer::indexList(const QByteArray& answer, bool* isRange)
{
    if (isRange != nullptr) {
        *isRange = false;
    }
    QStringList indexes;
    for (const QByteArray& line : body(answer)) {
        const int open = line.indexOf('(');
        const int close = line.indexOf(')', open + 1);
        if (open < 0 || close < 0) {
            continue;
        }
        for (const QByteArray& part : line.mid(open + 1, close - open - 1).split(',')) {
            const QByteArray index = part.trimmed();
            if (isDigits(index)) {
                indexes.append(QString::fromLatin1(index));
            } else if (index.indexOf('-', 1) > 0 && isRange != nullptr) {
                *isRange = true;
            }
        }
        break;
    }
    return indexes;
}

QStringList AtAnswer::listing(const QByteArray& answer)
{
    QStringList indexes;
    for (const QByteArray& line : body(answer)) {
        if (!line.startsWith("+CMGL:")) {
            continue;
        }
        const QByteArray index = line.mid(6, line.indexOf(',') - 6).trimmed();
        if (isDigits(index) && !indexes.contains(QString::fromLatin1(index))) {
            indexes.append(QString::fromLatin1(index));
        }
    }
    return indexes;
}

AtAnswer::Read AtAnswer::readPdu(const QByteArray& answer)
{
    Read read;
    Final final = Final::None;
    const QList<QByteArray> info = answerLines(answer, &final);
    int header = -1;
    for (int i = 0; i < info.size() && header < 0; ++i) {
        header = info.at(i).startsWith("+CMGR:") ? i : -1;
    }
    if (header < 0 || header + 1 >= info.size()) {
        return read;
    }
    read.heldPdu = true;
    if (final == Final::Ok) {
        // Hexadecimal text has no control bytes: any inside the line are noise.
        QByteArray pdu = info.last();
        pdu.replace('\0', QByteArray());
        read.pdu = pdu;
    }
    return read;
}
