#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

#include "imaging/core/KVMessages.h"
#include "platform/CodePages.h"

namespace {

// Sets the locale variables for one scope and restores them afterwards.
class LocaleEnvironment {
public:
    LocaleEnvironment(const char* lcAll, const char* lcMessages, const char* lang) {
        Set("LC_ALL", lcAll);
        Set("LC_MESSAGES", lcMessages);
        Set("LANG", lang);
    }
    ~LocaleEnvironment() {
        for (auto& [name, value] : saved_) {
            if (value) setenv(name, value->c_str(), 1);
            else unsetenv(name);
        }
    }

private:
    void Set(const char* name, const char* value) {
        const char* old = std::getenv(name);
        saved_.push_back({name, old ? std::optional<std::string>(old) : std::nullopt});
        if (value) setenv(name, value, 1);
        else unsetenv(name);
    }
    std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

}  // namespace

TEST(KVMessages, LookupPerLanguage) {
    struct Case {
        int id;
        TMsgLanguage language;
        const char* text;
    } cases[] = {
        {0, msEnglish, "Preview"},     {0, msItalian, "Anteprima"},  {0, msGerman, "Vorschau"},
        {0, msJapanese, "プレビュー"}, {4, msSpanish, "Cancelar"},   {4, msFrench, "Annuler"},
        {4, msGreek, "Άκυρο"},         {4, msRussian, "Отмена"},     {21, msPortuguese, "Carregar"},
        {22, msDutch, "Opslaan"},      {119, msSwedish, "Stäng"},    {8, msPolish, "Jasność"},
        {11, msEnglish, "Value"},      {103, msEnglish, "Value"},    {132, msEnglish, "All Files"},
        {128, msEnglish, "Automatically updates your preview with the changes you have selected"},
        {123, msPolish, "Rate"},  // the one text Polish lacks
    };
    for (const Case& c : cases) EXPECT_EQ(KVGetMessageText(c.id, c.language), c.text) << c.id << " " << int(c.language);
    EXPECT_EQ(KVGetMessageText(133, msEnglish), "");
    EXPECT_EQ(KVGetMessageText(-1, msGerman), "");
}

TEST(KVMessages, EveryLanguageIsCompleteAndFitsItsCodePage) {
    const int codePages[] = {1252, 1252, 1252, 1252, 1252, 1252, 1253, 1251, 1252, 1252, 1250, 932};
    for (int language = msEnglish; language <= msJapanese; ++language) {
        std::string all;
        for (int id = 0; id < KVMessageCount; ++id) {
            const std::string text = KVGetMessageText(id, TMsgLanguage(language));
            EXPECT_FALSE(text.empty()) << language << " " << id;
            all += text;
        }
        EXPECT_NO_THROW(Utf8ToCodePage(all, codePages[language - msEnglish])) << language;
    }
    // Translated rows are translations, not copies of the English row.
    EXPECT_NE(KVGetMessageText(128, msPolish), KVGetMessageText(128, msEnglish));
}

TEST(KVMessages, UserRowFallsBackToEnglish) {
    for (int id = 0; id < KVMessageCount; ++id)
        ASSERT_EQ(KVGetMessageText(id, msUser), KVGetMessageText(id, msEnglish)) << id;
    KVSetMessageText(msUser, 5, "Vorschau fest");
    EXPECT_EQ(KVGetMessageText(5, msUser), "Vorschau fest");
    KVSetMessageText(msUser, 5, "");
    EXPECT_EQ(KVGetMessageText(5, msUser), "Lock preview");
}

TEST(KVMessages, SystemLanguageFollowsTheLocale) {
    struct Case {
        const char *lcAll, *lcMessages, *lang;
        TMsgLanguage expected;
    } cases[] = {
        {nullptr, nullptr, "de_DE.UTF-8", msGerman},
        {nullptr, nullptr, "el_GR", msGreek},
        {nullptr, nullptr, "pt_BR.UTF-8", msPortuguese},
        {nullptr, nullptr, "ja_JP.UTF-8", msJapanese},
        {nullptr, nullptr, "sv", msSwedish},
        {nullptr, "fr_FR.UTF-8", "de_DE.UTF-8", msFrench},
        {"nl_NL@euro", "fr_FR.UTF-8", "de_DE.UTF-8", msDutch},
        {"", "", "ru_RU.UTF-8", msRussian},
        {nullptr, nullptr, "fi_FI.UTF-8", msEnglish},
        {nullptr, nullptr, "C", msEnglish},
        {nullptr, nullptr, nullptr, msEnglish},
    };
    for (const Case& c : cases) {
        LocaleEnvironment env(c.lcAll, c.lcMessages, c.lang);
        EXPECT_EQ(KVSystemLanguage(), c.expected) << (c.lang ? c.lang : "(unset)");
        EXPECT_EQ(KVGetMessageText(37, msSystem), KVGetMessageText(37, c.expected));
    }
    LocaleEnvironment polish(nullptr, nullptr, "pl_PL.UTF-8");
    EXPECT_EQ(KVGetMessageText(0, msSystem), "Podgląd");
    EXPECT_EQ(KVGetMessageText(123, msSystem), "Rate");
}
