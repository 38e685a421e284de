#include "TestSupport.h"

#include <clocale>
#include <cstdlib>

#include "tzlib/Errors.h"
#include "tzlib/FileHelpers.h"
#include "tzlib/TextFormats.h"

TEnvironmentGuard::TEnvironmentGuard(std::string name, const std::optional<std::string>& value)
    : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) old_ = old;
    if (value)
        ::setenv(name_.c_str(), value->c_str(), 1);
    else
        ::unsetenv(name_.c_str());
}

TEnvironmentGuard::~TEnvironmentGuard() {
    if (old_)
        ::setenv(name_.c_str(), old_->c_str(), 1);
    else
        ::unsetenv(name_.c_str());
}

void TLibrarySettingsGuard::Reset() {
    ErrorTextCallback = nullptr;
    SilentMode = false;
    ShowErrorCodes = false;
    HaltOnFatal = true;
    TraceErrors = false;
    TraceFileName.clear();
    LogFileName.clear();
    ShowProgressForms = true;
    CopyProgressProc = nullptr;
    CopyBytesTotal = 0;
    CopyBytesDone = 0;
    CopyAbort = false;
    ListFilesAbort = false;
    ThousandsGap = " ";
    FirstDayOfWeek = 1;
    PeriodSeparator = '-';
}

TScriptedPrompterGuard::TScriptedPrompterGuard() {
    auto prompter = std::make_unique<TScriptedPrompter>();
    prompter_ = prompter.get();
    previous_ = SetPrompter(std::move(prompter));
}

TScriptedPrompterGuard::~TScriptedPrompterGuard() { SetPrompter(std::move(previous_)); }

namespace {

bool LocaleWorks(const std::string& name) {
    const TLocaleLookupLeakGuard guard;
    const locale_t locale = ::newlocale(LC_ALL_MASK, name.c_str(), static_cast<locale_t>(0));
    if (!locale) return false;
    ::freelocale(locale);
    return true;
}

}  // namespace

TLocaleProvider::TLocaleProvider(const std::string& name) {
    if (LocaleWorks(name)) {
        available_ = true;
        return;
    }
    locPath_.emplace("LOCPATH", MORDALE_TEST_LOCALES);
    available_ = LocaleWorks(name);
}

TCLocaleGuard::TCLocaleGuard(const std::string& name) : old_(std::setlocale(LC_ALL, nullptr)) {
    const TLocaleLookupLeakGuard guard;
    ok_ = std::setlocale(LC_ALL, name.c_str()) != nullptr;
}

TCLocaleGuard::~TCLocaleGuard() {
    const TLocaleLookupLeakGuard guard;
    std::setlocale(LC_ALL, old_.c_str());
}

int32_t ErrorCodeOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const EBrelvantError& e) {
        return e.ErrorCode;
    }
    return 0;
}
