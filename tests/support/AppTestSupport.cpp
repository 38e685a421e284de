#include "AppTestSupport.h"

#include <cstdlib>
#include <filesystem>

TPrivateEnvironment::TPrivateEnvironment() {
    for (const char* folder : {"config", "data", "tmp"}) std::filesystem::create_directory(home_.Path(folder));
    Set("XDG_CONFIG_HOME", home_.Path("config"));
    Set("XDG_DATA_HOME", home_.Path("data"));
    Set("TMPDIR", home_.Path("tmp"));
    Set("DISPLAY", std::nullopt);
    Set("WAYLAND_DISPLAY", std::nullopt);
}

TPrivateEnvironment::~TPrivateEnvironment() {
    for (const auto& [name, value] : saved_) {
        if (value)
            ::setenv(name.c_str(), value->c_str(), 1);
        else
            ::unsetenv(name.c_str());
    }
}

void TPrivateEnvironment::Set(const std::string& name, const std::optional<std::string>& value) {
    if (!saved_.contains(name)) {
        const char* old = std::getenv(name.c_str());
        saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    if (value)
        ::setenv(name.c_str(), value->c_str(), 1);
    else
        ::unsetenv(name.c_str());
}

TScriptedPrompterGuard::TScriptedPrompterGuard() {
    auto prompter = std::make_unique<TScriptedPrompter>();
    prompter_ = prompter.get();
    previous_ = SetPrompter(std::move(prompter));
}

TScriptedPrompterGuard::~TScriptedPrompterGuard() { SetPrompter(std::move(previous_)); }
