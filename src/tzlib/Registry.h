#pragma once
// The class library's registry object over a settings file: the file holds the keys below one
// root. Key paths use "\"; a path beginning with "\" starts at the root, any other at the
// current key.
#include <string>

#include "platform/Settings.h"

enum class TRootKey { HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE };

class TRegistry {
public:
    // Values before the file's first key line belong to looseKey (see TSettingsStore).
    explicit TRegistry(const std::string& fileName, TRootKey rootKey = TRootKey::HKEY_CURRENT_USER,
                       const std::string& looseKey = {});
    // Saves what was written; a failure here cannot be reported, so call CloseKey to see it.
    ~TRegistry();
    TRegistry(const TRegistry&) = delete;
    TRegistry& operator=(const TRegistry&) = delete;

    TRootKey RootKey() const { return rootKey_; }
    const TSettingsStore& Store() const { return store_; }
    void SetRootKey(TRootKey rootKey) { rootKey_ = rootKey; }
    // The current key from the root, without leading "\"; empty at the root.
    const std::string& CurrentPath() const { return currentPath_; }

    // False when the key is missing and may not be created.
    bool OpenKey(const std::string& key, bool canCreate);
    bool OpenKeyReadOnly(const std::string& key);
    // Saves what was written (raises on failure) and goes back to the root.
    void CloseKey();

    bool KeyExists(const std::string& key) const;
    // Empty for a missing value.
    std::string ReadString(const std::string& name) const;
    void WriteString(const std::string& name, const std::string& value);

private:
    std::string FullPath(const std::string& key) const;

    TSettingsStore store_;
    TRootKey rootKey_;
    std::string currentPath_;
    bool modified_ = false;
};

// "HKEY_CURRENT_USER" or "HKEY_LOCAL_MACHINE" for those roots, else empty.
std::string RootKeyName(const TRegistry& registry);
// Opens the path component by component; a missing component raises error 28 with must-exist,
// else it is created.
void OpenKeyPath(TRegistry& registry, const std::string& keyPath, bool mustExist);
