#pragma once
// The settings store that stands in for the registry: one file holds a tree of keys with string
// values. Key paths use "\" between components; keys and value names ignore letter case.
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

class TSettingsStore {
public:
    // Loads the file; a missing file reads as empty, a damaged one keeps its well-formed lines.
    // Values before the first key line (a file of one key written by hand) belong to looseKey;
    // without one they are skipped. A file that cannot be read at all (unreadable, binary,
    // oversized, empty) reads as empty. A file that Save would not write back as it is keeps
    // the user's text: LoadProblem says why, and Save first moves it aside to BadFileName.
    explicit TSettingsStore(std::string fileName, std::string looseKey = {});
    const std::string& FileName() const { return fileName_; }
    // The first of "<file>.bad", "<file>.bad2" ... "<file>.bad9" that does not exist, so that a
    // file kept earlier is never replaced; empty when all exist.
    std::string BadFileName() const;
    // Empty when the file was read whole or does not exist.
    const std::string& LoadProblem() const { return loadProblem_; }

    bool KeyExists(const std::string& key) const;
    void CreateKey(const std::string& key);
    // Deletes the key with its sub-keys; false when it did not exist.
    bool DeleteKey(const std::string& key);
    // Names of the direct sub-keys.
    std::vector<std::string> KeyNames(const std::string& key) const;

    bool ValueExists(const std::string& key, const std::string& name) const;
    std::optional<std::string> ReadString(const std::string& key, const std::string& name) const;
    // Creates the key when missing; a name differing only in letter case replaces the value.
    void WriteString(const std::string& key, const std::string& name, const std::string& value);
    bool DeleteValue(const std::string& key, const std::string& name);
    std::vector<std::string> ValueNames(const std::string& key) const;

    // Writes the whole store atomically, creating the folder; raises on failure.
    void Save();

private:
    struct Key {
        std::string path;                                               // as first written
        std::vector<std::pair<std::string, std::string>> values = {};  // name, value, in writing order
        std::unordered_map<std::string, size_t> valueIndex = {};       // folded name to its place in values
    };
    static const std::string* FindValue(const Key& key, const std::string& name);
    static void SetValue(Key& key, const std::string& name, const std::string& value);
    static std::string Fold(const std::string& key);
    static std::string Normalize(const std::string& key);
    void Load();
    void Parse(const std::string& text);
    void MoveBadFileAside();
    const Key* FindKey(const std::string& key) const;
    Key& EnsureKey(const std::string& key);

    std::string fileName_;
    std::string looseKey_;
    std::string loadProblem_;
    std::map<std::string, Key> keys_;  // by folded path
};

// The program's settings file: $XDG_CONFIG_HOME/Brelvant/mordale.conf.
std::string AppSettingsFileName();
