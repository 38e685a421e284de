#include "Settings.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <set>

#include "Files.h"
#include "Paths.h"

// The file holds "[key\path]" lines, each followed by its "name=value" lines; an empty name is the
// key's default value. Key components, names and values are percent-escaped where a raw character
// would be misread: "%", control characters (so CR and LF), blanks at either end, and in names "="
// and "[". Loading keeps the complete, well-formed lines and skips the rest, so a damaged file
// loses only what is damaged; a line cut off at the end of the file is dropped rather than read
// as a shortened value. A file with NUL bytes (binary, never written by us) or beyond the size
// cap reads as empty.

namespace {

constexpr char Separator = '\\';
constexpr size_t MaxFileSize = 16 << 20;

using TValues = std::vector<std::pair<std::string, std::string>>;

char FoldChar(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(const std::string& a, const std::string& b) {
    return std::ranges::equal(a, b, [](char x, char y) { return FoldChar(x) == FoldChar(y); });
}

std::vector<std::string> Components(const std::string& key) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t end = key.find(Separator, start);
        std::string part = key.substr(start, end - start);
        if (!part.empty()) parts.push_back(std::move(part));
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

std::string Escape(const std::string& s, const char* alsoEscaped) {
    constexpr char HexDigits[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        const bool edgeBlank = c == ' ' && (i == 0 || i + 1 == s.size());
        if (c < 0x20 || c == 0x7F || c == '%' || edgeBlank || std::strchr(alsoEscaped, c)) {
            out += '%';
            out += HexDigits[c >> 4];
            out += HexDigits[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Nothing when a "%" is not followed by two hexadecimal digits.
std::optional<std::string> Unescape(std::string_view s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '%') {
            out += s[i];
            continue;
        }
        if (i + 2 >= s.size()) return std::nullopt;
        const int high = HexValue(s[i + 1]), low = HexValue(s[i + 2]);
        if (high < 0 || low < 0) return std::nullopt;
        out += static_cast<char>(high << 4 | low);
        i += 2;
    }
    return out;
}

void SetValue(TValues& values, const std::string& name, const std::string& value) {
    auto it = std::ranges::find_if(values, [&](const auto& v) { return SameName(v.first, name); });
    if (it == values.end())
        values.emplace_back(name, value);
    else
        it->second = value;
}

std::string ParentOf(const std::string& foldedPath) {
    const size_t separator = foldedPath.rfind(Separator);
    return separator == std::string::npos ? std::string() : foldedPath.substr(0, separator);
}

std::string LastComponent(const std::string& path) { return path.substr(path.rfind(Separator) + 1); }

}  // namespace

TSettingsStore::TSettingsStore(std::string fileName) : fileName_(std::move(fileName)) { Load(); }

std::string TSettingsStore::Fold(const std::string& key) {
    std::string folded = key;
    std::ranges::transform(folded, folded.begin(), FoldChar);
    return folded;
}

std::string TSettingsStore::Normalize(const std::string& key) {
    std::string path;
    for (const std::string& part : Components(key)) {
        if (!path.empty()) path += Separator;
        path += part;
    }
    return path;
}

const TSettingsStore::Key* TSettingsStore::FindKey(const std::string& key) const {
    auto it = keys_.find(Fold(Normalize(key)));
    return it == keys_.end() ? nullptr : &it->second;
}

// Creates the key and its missing parents; existing ones keep the case they were written in.
TSettingsStore::Key& TSettingsStore::EnsureKey(const std::string& key) {
    const std::vector<std::string> parts = Components(key);
    if (parts.empty()) return keys_.try_emplace("", Key{"", {}}).first->second;
    Key* current = nullptr;
    for (const std::string& part : parts) {
        const std::string path = current ? current->path + Separator + part : part;
        current = &keys_.try_emplace(Fold(path), Key{path, {}}).first->second;
    }
    return *current;
}

bool TSettingsStore::KeyExists(const std::string& key) const { return Normalize(key).empty() || FindKey(key); }

void TSettingsStore::CreateKey(const std::string& key) { EnsureKey(key); }

bool TSettingsStore::DeleteKey(const std::string& key) {
    const std::string folded = Fold(Normalize(key));
    // The root holds everything and, as in the registry, cannot be deleted.
    if (folded.empty() || !keys_.erase(folded)) return false;
    const std::string prefix = folded + Separator;
    std::erase_if(keys_, [&](const auto& entry) { return entry.first.starts_with(prefix); });
    return true;
}

std::vector<std::string> TSettingsStore::KeyNames(const std::string& key) const {
    const std::string folded = Fold(Normalize(key));
    std::vector<std::string> names;
    for (const auto& [foldedPath, entry] : keys_)
        if (!foldedPath.empty() && ParentOf(foldedPath) == folded) names.push_back(LastComponent(entry.path));
    return names;
}

bool TSettingsStore::ValueExists(const std::string& key, const std::string& name) const {
    return ReadString(key, name).has_value();
}

std::optional<std::string> TSettingsStore::ReadString(const std::string& key, const std::string& name) const {
    const Key* entry = FindKey(key);
    if (!entry) return std::nullopt;
    for (const auto& [valueName, value] : entry->values)
        if (SameName(valueName, name)) return value;
    return std::nullopt;
}

void TSettingsStore::WriteString(const std::string& key, const std::string& name, const std::string& value) {
    SetValue(EnsureKey(key).values, name, value);
}

bool TSettingsStore::DeleteValue(const std::string& key, const std::string& name) {
    auto it = keys_.find(Fold(Normalize(key)));
    if (it == keys_.end()) return false;
    return std::erase_if(it->second.values, [&](const auto& v) { return SameName(v.first, name); }) > 0;
}

std::vector<std::string> TSettingsStore::ValueNames(const std::string& key) const {
    std::vector<std::string> names;
    if (const Key* entry = FindKey(key))
        for (const auto& value : entry->values) names.push_back(value.first);
    return names;
}

void TSettingsStore::Load() {
    std::ifstream file(fileName_, std::ios::binary);
    std::string text;
    char buffer[65536];
    while (file.read(buffer, sizeof buffer) || file.gcount() > 0) {
        text.append(buffer, static_cast<size_t>(file.gcount()));
        if (text.size() > MaxFileSize) return;
    }
    if (text.find('\0') != std::string::npos) return;

    Key* current = nullptr;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string_view line(text.data() + start, end - start);
        if (line.ends_with('\r')) line.remove_suffix(1);
        if (line.starts_with('[')) {
            current = nullptr;
            if (!line.ends_with(']') || line.size() < 2) continue;
            std::string path;
            bool wellFormed = true;
            for (const std::string& part : Components(std::string(line.substr(1, line.size() - 2)))) {
                const auto component = Unescape(part);
                wellFormed = wellFormed && component.has_value();
                if (wellFormed) path += Separator + *component;
            }
            if (wellFormed) current = &EnsureKey(path);
            continue;
        }
        const size_t equals = line.find('=');
        if (!current || equals == std::string_view::npos) continue;
        const auto name = Unescape(line.substr(0, equals));
        const auto value = Unescape(line.substr(equals + 1));
        if (name && value) SetValue(current->values, *name, *value);
    }
}

void TSettingsStore::Save() const {
    // A key without values needs no line of its own when a sub-key's line brings it back.
    std::set<std::string> parents;
    for (const auto& [foldedPath, entry] : keys_)
        if (!foldedPath.empty()) parents.insert(ParentOf(foldedPath));
    std::string text;
    for (const auto& [foldedPath, entry] : keys_) {
        if (entry.values.empty() && parents.contains(foldedPath)) continue;
        std::string header;
        for (const std::string& part : Components(entry.path)) {
            if (!header.empty()) header += Separator;
            header += Escape(part, "");
        }
        text += "[" + header + "]\n";
        for (const auto& [name, value] : entry.values) text += Escape(name, "=[") + "=" + Escape(value, "") + "\n";
        text += "\n";
    }

    const size_t slash = fileName_.rfind('/');
    if (slash != std::string::npos && slash > 0) ForceDirectories(fileName_.substr(0, slash));
    TAtomicFile file(fileName_);
    file.Stream().WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
    file.Commit();
}

std::string AppSettingsFileName() { return ConfigHome() + "/Brelvant/mordale.conf"; }
