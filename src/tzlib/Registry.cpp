#include "tzlib/Registry.h"

#include "tzlib/Errors.h"

TRegistry::TRegistry(const std::string& fileName, TRootKey rootKey, const std::string& looseKey)
    : store_(fileName, looseKey), rootKey_(rootKey) {
    if (!store_.LoadProblem().empty())
        WriteLog("The settings file \"" + fileName + "\" cannot be used as it is (" + store_.LoadProblem() +
                     "); it will be kept as \"" + store_.BadFileName() + "\" when the settings are saved.",
                 true);
}

TRegistry::~TRegistry() {
    try {
        CloseKey();
    } catch (const std::exception&) {
        // Nothing can be raised from here; CloseKey reports it to callers that ask.
    }
}

std::string TRegistry::FullPath(const std::string& key) const {
    if (key.starts_with('\\') || currentPath_.empty()) return key.substr(key.starts_with('\\') ? 1 : 0);
    return currentPath_ + "\\" + key;
}

bool TRegistry::OpenKey(const std::string& key, bool canCreate) {
    const std::string path = FullPath(key);
    if (!store_.KeyExists(path)) {
        if (!canCreate) return false;
        store_.CreateKey(path);
        modified_ = true;
    }
    currentPath_ = path;
    while (currentPath_.ends_with('\\')) currentPath_.pop_back();
    return true;
}

bool TRegistry::OpenKeyReadOnly(const std::string& key) { return OpenKey(key, false); }

void TRegistry::CloseKey() {
    if (modified_) store_.Save();
    modified_ = false;
    currentPath_.clear();
}

bool TRegistry::KeyExists(const std::string& key) const { return store_.KeyExists(FullPath(key)); }

std::string TRegistry::ReadString(const std::string& name) const {
    return store_.ReadString(currentPath_, name).value_or("");
}

void TRegistry::WriteString(const std::string& name, const std::string& value) {
    store_.WriteString(currentPath_, name, value);
    modified_ = true;
}

std::string RootKeyName(const TRegistry& registry) {
    switch (registry.RootKey()) {
        case TRootKey::HKEY_CURRENT_USER: return "HKEY_CURRENT_USER";
        case TRootKey::HKEY_LOCAL_MACHINE: return "HKEY_LOCAL_MACHINE";
        default: return {};
    }
}

void OpenKeyPath(TRegistry& registry, const std::string& keyPath, bool mustExist) {
    const size_t last = keyPath.rfind('\\');
    if (last != std::string::npos && last > 0) OpenKeyPath(registry, keyPath.substr(0, last), mustExist);
    const std::string component = last != std::string::npos && last > 0 ? keyPath.substr(last + 1) : keyPath;
    if (registry.OpenKey(component, false) || registry.OpenKeyReadOnly(component)) return;
    std::string param = RootKeyName(registry);
    if (!component.starts_with('\\')) {
        param += '\\';
        if (!registry.CurrentPath().empty()) param += registry.CurrentPath() + '\\';
    }
    param += component;
    if (mustExist) RaiseBrelvantError(28, param);
    if (!registry.OpenKey(component, true)) RaiseBrelvantError(59, param);
}
