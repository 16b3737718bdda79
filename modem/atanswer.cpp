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

QList<int> AtAnswer::newMessageIndexes(const QByteArray& bytes)
{
    QList<int> indexes;
    for (const QByteArray& line : lines(bytes)) {
        if (!line.startsWith("+CMTI:")) {
            continue;
        }
        const int comma = line.lastIndexOf(',');
        const QByteArray store = line.mid(6, comma - 6).trimmed();
        const QByteArray index = line.mid(comma + 1).trimmed();
        // Only the store the set-up chose: the others are never read.
        if (comma > 0 && store == "\"SM\"" && isDigits(index) && index.size() <= 6) {
            indexes.append(index.toInt());
        }
    }
    return indexes;
}

QByteArray AtAnswer::printable(const QByteArray& bytes)
{
    QByteArray text = bytes;
    return text.replace('\0', "<NUL>");
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
