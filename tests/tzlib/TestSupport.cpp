#include "TestSupport.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/Paths.h"
#include "tzlib/Errors.h"
#include "tzlib/FileHelpers.h"
#include "tzlib/TextFormats.h"

namespace fs = std::filesystem;

TTempFolder::TTempFolder() {
    std::string pattern = TempDirectory() + "/tzlib-test-XXXXXX";
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TTempFolder::~TTempFolder() {
    std::error_code error;
    // Tests take write permission away; give it back so that everything can go.
    for (auto it = fs::recursive_directory_iterator(path_, error); !error && it != fs::end(it); it.increment(error))
        if (it->is_directory() && !it->is_symlink())
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
    fs::remove_all(path_, error);
}

void WriteFile(const std::string& fileName, const std::string& content) {
    std::ofstream file(fileName, std::ios::binary | std::ios::trunc);
    file << content;
    if (!file) throw std::runtime_error("cannot write " + fileName);
}

std::string ReadFile(const std::string& fileName) {
    std::ifstream file(fileName, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

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

void EnsureQApplication() {
    static int argc = 1;
    static char name[] = "tzlib_tests";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) new QApplication(argc, argv);
}

namespace {

bool LocaleWorks(const std::string& name) {
    const TLocaleLookupLeakGuard guard;
    const locale_t locale = ::newlocale(LC_ALL_MASK, name.c_str(), static_cast<locale_t>(0));
    if (!locale) return false;
    ::freelocale(locale);
    return true;
}

// Compiles the locale into folder/name unless it is there; a temporary name and a rename keep
// test processes running side by side from seeing half a locale.
bool CompileLocale(const std::string& folder, const std::string& name) {
    if (fs::exists(folder + "/" + name + "/LC_PAPER")) return true;
    const std::string language = name.substr(0, name.find('.'));
    if (!fs::exists("/usr/share/i18n/locales/" + language) || ::access("/usr/bin/localedef", X_OK) != 0) return false;
    std::error_code error;
    fs::create_directories(folder, error);
    std::string work = folder + "/.work-XXXXXX";
    if (!::mkdtemp(work.data())) return false;
    const std::string command =
        "/usr/bin/localedef -i " + language + " -f UTF-8 " + work + "/" + name + " >/dev/null 2>&1";
    const bool made = std::system(command.c_str()) == 0 || fs::exists(work + "/" + name + "/LC_PAPER");
    if (made) fs::rename(work + "/" + name, folder + "/" + name, error);
    fs::remove_all(work, error);
    return fs::exists(folder + "/" + name + "/LC_PAPER");
}

}  // namespace

TLocaleProvider::TLocaleProvider(const std::string& name) {
    if (LocaleWorks(name)) {
        available_ = true;
        return;
    }
    const std::string folder = TempDirectory() + "/mordale-test-locales-" + std::to_string(::getuid());
    if (!CompileLocale(folder, name)) return;
    locPath_.emplace("LOCPATH", folder);
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
