#include "pdu/gsmalphabet.h"

#include "pdu/gsmlanguagetables.h"

namespace {

constexpr int escapeSeptet = 0x1B;

// The character of a code of the main table; a code that table leaves
// undefined shows as a space.
QChar mainChar(const char16_t* main, int code)
{
    return QChar(main[code] != 0 ? main[code] : u' ');
}

// An escaped code: the single shift table's character, or, where that table
// defines none, the character of the main table in use.
QChar escapedChar(const char16_t* main, const char16_t* single, int code)
{
    return single[code] != 0 ? QChar(single[code]) : mainChar(main, code);
}

} // namespace

GsmAlphabet::GsmAlphabet(int lockingLanguage, int singleLanguage)
    : main(GsmLanguageTables::lockingTable(lockingLanguage)),
      single(GsmLanguageTables::singleTable(singleLanguage))
{
}

void GsmAlphabet::setLanguages(int lockingLanguage, int singleLanguage)
{
    main = GsmLanguageTables::lockingTable(lockingLanguage);
    single = GsmLanguageTables::singleTable(singleLanguage);
}

void GsmAlphabet::append(const QByteArray& septets, QString& text)
{
    const int size = septets.size();
    const int start = text.size();
    text.resize(start + size);
    QChar* out = text.data() + start;
    const char* in = septets.constData();
    int length = 0;
    int i = 0;
    if (escapedMain != nullptr && size > 0) {
        out[length++] = escapedChar(escapedMain, escapedSingle, in[i++] & 0x7F);
        escapedMain = escapedSingle = nullptr;
    }
    for (; i < size; ++i) {
        const int septet = in[i] & 0x7F;
        if (septet != escapeSeptet) {
            out[length++] = mainChar(main, septet);
        } else if (i + 1 < size) {
            out[length++] = escapedChar(main, single, in[++i] & 0x7F);
        } else {
            escapedMain = main;
            escapedSingle = single;
        }
    }
    text.truncate(start + length);
}

QString GsmAlphabet::text(const QByteArray& septets, int lockingLanguage, int singleLanguage)
{
    GsmAlphabet alphabet(lockingLanguage, singleLanguage);
    QString text;
    alphabet.append(septets, text);
    return text;
}
