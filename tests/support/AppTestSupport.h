#pragma once
// What the engine's tests share: a private environment (settings, data and temporary folders in
// a scratch folder, no display) and a scripted prompter that answers the engine's questions.
#include <map>
#include <optional>
#include <string>

#include "TestSupport.h"
#include "platform/Prompter.h"

// Points XDG_CONFIG_HOME, XDG_DATA_HOME and TMPDIR into a scratch folder and hides the display;
// everything is restored afterwards.
class TPrivateEnvironment {
public:
    TPrivateEnvironment();
    ~TPrivateEnvironment();
    TPrivateEnvironment(const TPrivateEnvironment&) = delete;
    TPrivateEnvironment& operator=(const TPrivateEnvironment&) = delete;
    void Set(const std::string& name, const std::optional<std::string>& value);
    const TScratchFolder& Home() const { return home_; }

private:
    TScratchFolder home_;
    std::map<std::string, std::optional<std::string>> saved_;
};

// Installs a scripted prompter for its lifetime.
class TScriptedPrompterGuard {
public:
    TScriptedPrompterGuard();
    ~TScriptedPrompterGuard();
    TScriptedPrompterGuard(const TScriptedPrompterGuard&) = delete;
    TScriptedPrompterGuard& operator=(const TScriptedPrompterGuard&) = delete;
    TScriptedPrompter& operator*() { return *prompter_; }
    TScriptedPrompter* operator->() { return prompter_; }

private:
    TScriptedPrompter* prompter_;
    std::unique_ptr<TPrompter> previous_;
};
