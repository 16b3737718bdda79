#include "pdu/gsmhex.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

// A PDU is hundreds of characters and nearly always all hexadecimal: where
// the processor has SSE2 (every x86-64), eight characters are checked at once
// without a branch.
bool GsmHex::isHex(const QString& text)
{
    const ushort* chars = reinterpret_cast<const ushort*>(text.constData());
    const int size = text.size();
    int i = 0;
#if defined(__SSE2__) || defined(_M_X64)
    // Compared as signed 16-bit values: a character from 0x8000 up is
    // negative and so below every bound. Setting bit 5 folds 'A'..'F' onto
    // 'a'..'f' and nothing else onto them.
    const __m128i belowDigits = _mm_set1_epi16('0' - 1);
    const __m128i aboveDigits = _mm_set1_epi16('9' + 1);
    const __m128i belowLetters = _mm_set1_epi16('a' - 1);
    const __m128i aboveLetters = _mm_set1_epi16('f' + 1);
    const __m128i fold = _mm_set1_epi16(0x20);
    __m128i good = _mm_cmpeq_epi16(fold, fold);
    for (; i + 8 <= size; i += 8) {
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(chars + i));
        const __m128i digit = _mm_and_si128(_mm_cmpgt_epi16(c, belowDigits), _mm_cmplt_epi16(c, aboveDigits));
        const __m128i folded = _mm_or_si128(c, fold);
        const __m128i letter =
            _mm_and_si128(_mm_cmpgt_epi16(folded, belowLetters), _mm_cmplt_epi16(folded, aboveLetters));
        good = _mm_and_si128(good, _mm_or_si128(digit, letter));
    }
    if (_mm_movemask_epi8(good) != 0xFFFF)
        return false;
#endif
    for (; i < size; ++i) {
        if (hexValue(chars[i]) < 0)
            return false;
    }
    return true;
}

QString GsmHex::swappedDigits(const QString& text, int pos, int octets)
{
    if (pos < 0 || octets < 1 || text.size() < 2 || qint64(text.size()) < qint64(pos) + 2 * qint64(octets))
        return QString();
    QString digits(2 * octets, Qt::Uninitialized);
    QChar* out = digits.data();
    const QChar* in = text.constData() + pos;
    int length = 0;
    for (int i = 0; i < octets; ++i, in += 2) {
        out[length++] = in[1];
        const ushort c = in[0].unicode();
        const QChar first = c >= 'a' && c <= 'z' ? QChar(ushort(c - 'a' + 'A'))
                            : c < 0x80           ? in[0]
                                                 : in[0].toUpper();
        if (first != QLatin1Char('F'))
            out[length++] = first;
    }
    digits.truncate(length);
    return digits;
}

QByteArray GsmHex::octets(const QString& hex)
{
    QByteArray octets;
    octets.reserve(hex.size() / 2);
    const int size = hex.size() - 1;
    for (int at = 0; at < size; at += 2) {
        const int hi = hexValue(hex.at(at).unicode());
        const int lo = hexValue(hex.at(at + 1).unicode());
        if (hi < 0 || lo < 0)
            break;
        octets.append(char(hi * 16 + lo));
    }
    return octets;
}

int GsmHex::unpackSeptets(const QString& hex, int pos, int fillBits, int count, QByteArray& septets)
{
    const int size = hex.size();
    if (pos < 0 || fillBits < 0 || count == 0 || pos >= size - 1)
        return 0;
    // Room for every septet the octets can hold, cut back at the end.
    const int start = septets.size();
    const int room = count < 0 ? ((size - pos) / 2 * 8) / 7 : qMin(count, ((size - pos) / 2 * 8) / 7);
    septets.resize(start + room);
    char* out = septets.data() + start;
    const ushort* chars = reinterpret_cast<const ushort*>(hex.constData());
    int added = 0;
    // Bits not yet handed out, least significant first, as octets arrive.
    unsigned int pending = 0;
    int pendingBits = 0;
    int skip = fillBits;
    for (int at = pos; at + 1 < size && added < room; at += 2) {
        const int hi = hexValue(chars[at]);
        const int lo = hexValue(chars[at + 1]);
        if (hi < 0 || lo < 0)
            break;
        pending |= unsigned(hi * 16 + lo) << pendingBits;
        pendingBits += 8;
        if (skip > 0) {
            const int dropped = qMin(skip, pendingBits);
            pending >>= dropped;
            pendingBits -= dropped;
            skip -= dropped;
        }
        while (pendingBits >= 7 && added < room) {
            out[added++] = char(pending & 0x7F);
            pending >>= 7;
            pendingBits -= 7;
        }
    }
    septets.resize(start + added);
    return added;
}
