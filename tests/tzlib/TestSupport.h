#pragma once
// Guards of the utility library's tests; the helpers of every test folder are in tests/support.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "../support/TestSupport.h"
#include "platform/Prompter.h"
#include "tzlib/WindowHooks.h"

// The code of the numbered error that the call raises, 0 when it raises none.
int32_t ErrorCodeOf(const std::function<void()>& call);

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

