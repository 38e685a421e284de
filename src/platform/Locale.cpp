#include "Locale.h"

#include <langinfo.h>
#include <locale.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "CodePages.h"

namespace {

// The user's locale for the given categories, read from the environment; 0 when unavailable.
class TUserLocale {
public:
    explicit TUserLocale(int mask) : locale_(::newlocale(mask, "", locale_t(0))) {}
    ~TUserLocale() {
        if (locale_) ::freelocale(locale_);
    }
    TUserLocale(const TUserLocale&) = delete;
    TUserLocale& operator=(const TUserLocale&) = delete;
    locale_t Get() const { return locale_; }

private:
    locale_t locale_;
};

// The locale name that governs character types, as the C library chooses it.
std::string CtypeLocaleName() {
    for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value && *value) return value;
    }
    return "C";
}

struct TLanguageCodePage {
    std::string_view language;
    int codePage;
};

constexpr TLanguageCodePage LanguageCodePages[] = {
    {"th", 874},   {"ja", 932},   {"cs", 1250},  {"hu", 1250}, {"pl", 1250}, {"ro", 1250},
    {"hr", 1250},  {"sk", 1250},  {"sl", 1250},  {"sq", 1250}, {"bs", 1250}, {"ru", 1251},
    {"uk", 1251},  {"be", 1251},  {"bg", 1251},  {"mk", 1251}, {"sr", 1251}, {"el", 1253},
    {"tr", 1254},  {"az", 1254},  {"he", 1255},  {"iw", 1255}, {"ar", 1256}, {"fa", 1256},
    {"ur", 1256},  {"et", 1257},  {"lv", 1257},  {"lt", 1257}, {"vi", 1258},
};

}  // namespace

bool LocalePaperSize(int& widthMm, int& heightMm) {
    const TUserLocale locale(LC_PAPER_MASK);
    if (!locale.Get()) return false;
    const auto height = static_cast<int>(reinterpret_cast<intptr_t>(::nl_langinfo_l(_NL_PAPER_HEIGHT, locale.Get())));
    const auto width = static_cast<int>(reinterpret_cast<intptr_t>(::nl_langinfo_l(_NL_PAPER_WIDTH, locale.Get())));
    if (width <= 0 || height <= 0) return false;
    widthMm = width;
    heightMm = height;
    return true;
}

int LocaleMeasurementSystem() {
    const TUserLocale locale(LC_MEASUREMENT_MASK);
    if (!locale.Get()) return -1;
    const char* value = ::nl_langinfo_l(_NL_MEASUREMENT_MEASUREMENT, locale.Get());
    // The C library numbers 1 metric and 2 U.S.
    if (!value || (value[0] != 1 && value[0] != 2)) return -1;
    return value[0] - 1;
}

int AnsiCodePage() {
    const std::string name = CtypeLocaleName();
    const std::string_view language = std::string_view(name).substr(0, name.find_first_of("_.@"));
    for (const auto& entry : LanguageCodePages)
        if (entry.language == language) return entry.codePage;
    return DefaultAnsiCodePage;
}
