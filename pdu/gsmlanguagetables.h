#pragma once

#include <QString>

// The character tables of GSM 7-bit text: the default alphabet and its
// extension table, and the national language tables a message selects in its
// user-data header. A locking shift table replaces the default alphabet for
// the whole message; a single shift table replaces the extension table, read
// for the one code after each escape. Languages are named by the national
// language identifier the header carries.
class GsmLanguageTables
{
public:
    GsmLanguageTables() = delete;

    // Identifiers 1..13: Turkish, Spanish, Portuguese, Bengali, Gujarati,
    // Hindi, Kannada, Malayalam, Oriya, Punjabi, Tamil, Telugu, Urdu.
    static constexpr int languageCount = 14;

    // The 128 characters of the main table for a locking shift language; the
    // default alphabet for 0, for Spanish (which has only a single shift
    // table) and for every identifier left reserved. 0 where the table
    // defines no character.
    static const char16_t* lockingTable(int language);
    // The 128 characters of the single shift table for a language; the
    // default extension table for 0 and every reserved identifier. 0 where
    // the table defines no character.
    static const char16_t* singleTable(int language);
    static bool hasLockingTable(int language);
    static bool hasSingleTable(int language);
    // English name of a language; "default" for 0, "reserved N" otherwise.
    static QString languageName(int language);
};
