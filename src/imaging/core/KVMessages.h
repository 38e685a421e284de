#pragma once
// The library's dialog captions and short texts, by language and message id.
#include <cstdint>
#include <string>

enum TMsgLanguage : uint8_t {
    msSystem,  // the user's language from the locale; not a row of its own
    msEnglish,
    msItalian,
    msGerman,
    msSpanish,
    msFrench,
    msPortuguese,
    msGreek,
    msRussian,
    msDutch,
    msSwedish,
    msPolish,
    msJapanese,
    msUser,  // texts set by the application, English where none is set
};

constexpr int KVMessageCount = 133;  // ids 0 to 132

// Texts are UTF-8. Ids outside 0..132 and msSystem are ignored.
void KVSetMessageText(TMsgLanguage language, int id, const std::string& text);
// An empty entry gives the English text; an id outside 0..132 gives an empty text.
std::string KVGetMessageText(int id, TMsgLanguage language);
// The row msSystem stands for: LC_ALL, LC_MESSAGES or LANG, in that order; English when unknown.
TMsgLanguage KVSystemLanguage();
// Fills the rows msEnglish to msJapanese; runs before the first lookup.
void KVFillMessageTable();
