#pragma once
// Guards of the utility library's tests; the helpers of every test folder are in tests/support.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "../support/TestSupport.h"
#include "platform/Prompter.h"
#include "tzlib/WindowHooks.h"
#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

// The code of the numbered error that the call raises, 0 when it raises none.
int32_t ErrorCodeOf(const std::function<void()>& call);

// Sets (or with nothing, unsets) an environment variable for the guard's lifetime.
class TEnvironmentGuard {
public:
    TEnvironmentGuard(std::string name, const std::optional<std::string>& value);
    ~TEnvironmentGuard();
    TEnvironmentGuard(const TEnvironmentGuard&) = delete;
    TEnvironmentGuard& operator=(const TEnvironmentGuard&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

// Puts the library's settings back to their initial values, before and after each test.
class TLibrarySettingsGuard {
public:
    TLibrarySettingsGuard() { Reset(); }
    ~TLibrarySettingsGuard() { Reset(); }
    static void Reset();
};

// Installs window hooks for the guard's lifetime; afterwards the library has no windows again.
class TWindowHooksGuard {
public:
    explicit TWindowHooksGuard(TWindowHooks hooks) { SetWindowHooks(std::move(hooks)); }
    ~TWindowHooksGuard() { SetWindowHooks({}); }
    TWindowHooksGuard(const TWindowHooksGuard&) = delete;
    TWindowHooksGuard& operator=(const TWindowHooksGuard&) = delete;
};

// Installs a scripted prompter for the guard's lifetime.
class TScriptedPrompterGuard {
public:
    TScriptedPrompterGuard();
    ~TScriptedPrompterGuard();
    TScriptedPrompter& operator*() { return *prompter_; }
    TScriptedPrompter* operator->() { return prompter_; }

private:
    TScriptedPrompter* prompter_;
    std::unique_ptr<TPrompter> previous_;
};

// glibc keeps, unreferenced, the search list it builds from LOCPATH for each locale lookup;
// hold this around such lookups.
struct TLocaleLookupLeakGuard {
    TLocaleLookupLeakGuard() {}  // user-provided: a guard is never an unused variable
#if defined(__SANITIZE_ADDRESS__)
    __lsan::ScopedDisabler disabler;
#endif
};

// Makes a locale such as "de_DE.UTF-8" available to setlocale and newlocale; when the system
// lacks it, LOCPATH points for the guard's lifetime to the locales that the build compiled
// (tests/support/CMakeLists.txt). Available() is false when neither has it.
class TLocaleProvider {
public:
    explicit TLocaleProvider(const std::string& name);
    bool Available() const { return available_; }

private:
    std::optional<TEnvironmentGuard> locPath_;
    bool available_ = false;
};

// Switches the process's C locale (all categories) for the guard's lifetime.
class TCLocaleGuard {
public:
    explicit TCLocaleGuard(const std::string& name);
    ~TCLocaleGuard();
    bool Ok() const { return ok_; }

private:
    std::string old_;
    bool ok_;
};
