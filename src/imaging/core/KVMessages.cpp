#include "imaging/core/KVMessages.h"

#include "imaging/core/KVWords.h"

#include <array>
#include <cstdlib>
#include <string_view>

namespace {

using Row = std::array<std::string, KVMessageCount>;
using Table = std::array<Row, msUser + 1>;

Table& MessageTable() {
    static Table table;
    return table;
}

// Filled on first use, so lookups from any static initialiser already see the texts.
Table& FilledTable() {
    static const bool filled = (KVFillMessageTable(), true);
    (void)filled;
    return MessageTable();
}

bool ValidId(int id) { return id >= 0 && id < KVMessageCount; }

}  // namespace

void KVSetMessageText(TMsgLanguage language, int id, const std::string& text) {
    if (language == msSystem || language > msUser || !ValidId(id)) return;
    FilledTable()[language][size_t(id)] = text;
}

void KVFillMessageTable() {
    for (int language = msEnglish; language <= msJapanese; ++language)
        for (int id = 0; id < KVMessageCount; ++id)
            MessageTable()[size_t(language)][size_t(id)] = KVWordText(TMsgLanguage(language), id);
}

std::string KVGetMessageText(int id, TMsgLanguage language) {
    if (!ValidId(id) || language > msUser) return {};
    const Table& table = FilledTable();
    if (language == msSystem) language = KVSystemLanguage();
    const std::string& text = table[language][size_t(id)];
    return text.empty() ? table[msEnglish][size_t(id)] : text;
}

TMsgLanguage KVSystemLanguage() {
    std::string_view locale;
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value && *value) {
            locale = value;
            break;
        }
    }
    const std::string_view code = locale.substr(0, locale.find_first_of("_.@"));
    static constexpr std::pair<std::string_view, TMsgLanguage> Languages[] = {
        {"de", msGerman}, {"el", msGreek},  {"en", msEnglish},    {"es", msSpanish},
        {"fr", msFrench}, {"it", msItalian}, {"ja", msJapanese},  {"nl", msDutch},
        {"pl", msPolish}, {"pt", msPortuguese}, {"ru", msRussian}, {"sv", msSwedish},
    };
    for (const auto& [prefix, language] : Languages)
        if (code == prefix) return language;
    return msEnglish;
}
