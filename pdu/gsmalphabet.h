#pragma once

#include <QByteArray>
#include <QString>

// Turns septets of GSM 7-bit text into characters through the tables a
// message selected: a locking shift table in place of the default alphabet
// and a single shift table in place of its extension, each named by a
// national language identifier (0 for the default tables). An identifier
// without a table of that kind leaves the default one in use.
//
// The septets of a message may come in several calls, one per part, each
// with the tables its part selected; an escape that ends one call joins the
// first septet of the next and is read with the tables in use where it stood.
class GsmAlphabet
{
public:
    explicit GsmAlphabet(int lockingLanguage = 0, int singleLanguage = 0);

    void setLanguages(int lockingLanguage, int singleLanguage);
    void append(const QByteArray& septets, QString& text);

    // The text of septets through one pair of tables; an escape at the very
    // end stands for nothing.
    static QString text(const QByteArray& septets, int lockingLanguage = 0, int singleLanguage = 0);

private:
    const char16_t* main;
    const char16_t* single;
    // The tables in use when the last septet appended was an escape; null
    // while no escape waits.
    const char16_t* escapedMain = nullptr;
    const char16_t* escapedSingle = nullptr;
};
