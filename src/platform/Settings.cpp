#include "Settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>

#include "Exception.h"
#include "Files.h"
#include "Paths.h"

// The file holds "[key\path]" lines, each followed by its "name=value" lines; an empty name is the
// key's default value. Key components, names and values are percent-escaped where a raw character
// would be misread: "%", control characters (so CR and LF), blanks at either end, and in names "="
// and "[". Loading keeps the complete, well-formed lines and skips the rest, so a damaged file
// loses only what is damaged; a last line without its line feed (an edit by hand) counts. A file
// with NUL bytes (binary, never written by us), beyond the size cap, unreadable or empty reads as
// empty; such a file, and one with lines that were skipped, is moved aside, not overwritten, by
// the next save.

namespace {

constexpr char Separator = '\\';
constexpr size_t MaxFileSize = 16 << 20;
constexpr int MaxKeptFiles = 9;

char FoldChar(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

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

std::string ParentOf(const std::string& foldedPath) {
    const size_t separator = foldedPath.rfind(Separator);
    return separator == std::string::npos ? std::string() : foldedPath.substr(0, separator);
}

std::string LastComponent(const std::string& path) { return path.substr(path.rfind(Separator) + 1); }

}  // namespace

TSettingsStore::TSettingsStore(std::string fileName, std::string looseKey)
    : fileName_(std::move(fileName)), looseKey_(std::move(looseKey)) {
    Load();
}

std::string TSettingsStore::BadFileName() const {
    for (int number = 1; number <= MaxKeptFiles; ++number) {
        const std::string name = fileName_ + ".bad" + (number == 1 ? std::string() : std::to_string(number));
        struct stat info;
        if (::lstat(name.c_str(), &info) != 0 && errno == ENOENT) return name;
    }
    return {};
}

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

const std::string* TSettingsStore::FindValue(const Key& key, const std::string& name) {
    const auto it = key.valueIndex.find(Fold(name));
    return it == key.valueIndex.end() ? nullptr : &key.values[it->second].second;
}

void TSettingsStore::SetValue(Key& key, const std::string& name, const std::string& value) {
    const auto [it, added] = key.valueIndex.try_emplace(Fold(name), key.values.size());
    if (added)
        key.values.emplace_back(name, value);
    else
        key.values[it->second].second = value;
}

const TSettingsStore::Key* TSettingsStore::FindKey(const std::string& key) const {
    auto it = keys_.find(Fold(Normalize(key)));
    return it == keys_.end() ? nullptr : &it->second;
}

// Creates the key and its missing parents; existing ones keep the case they were written in.
TSettingsStore::Key& TSettingsStore::EnsureKey(const std::string& key) {
    const std::vector<std::string> parts = Components(key);
    if (parts.empty()) return keys_.try_emplace("", Key{.path = ""}).first->second;
    Key* current = nullptr;
    for (const std::string& part : parts) {
        const std::string path = current ? current->path + Separator + part : part;
        current = &keys_.try_emplace(Fold(path), Key{.path = path}).first->second;
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
    const std::string* value = entry ? FindValue(*entry, name) : nullptr;
    return value ? std::optional<std::string>(*value) : std::nullopt;
}

void TSettingsStore::WriteString(const std::string& key, const std::string& name, const std::string& value) {
    SetValue(EnsureKey(key), name, value);
}

bool TSettingsStore::DeleteValue(const std::string& key, const std::string& name) {
    auto it = keys_.find(Fold(Normalize(key)));
    if (it == keys_.end()) return false;
    Key& entry = it->second;
    const auto found = entry.valueIndex.find(Fold(name));
    if (found == entry.valueIndex.end()) return false;
    const size_t place = found->second;
    entry.values.erase(entry.values.begin() + static_cast<std::ptrdiff_t>(place));
    entry.valueIndex.erase(found);
    for (auto& [folded, index] : entry.valueIndex)
        if (index > place) --index;
    return true;
}

std::vector<std::string> TSettingsStore::ValueNames(const std::string& key) const {
    std::vector<std::string> names;
    if (const Key* entry = FindKey(key))
        for (const auto& value : entry->values) names.push_back(value.first);
    return names;
}

void TSettingsStore::Load() {
    // Non-blocking, so that a pipe in the file's place cannot hold the program.
    const int fd = ::open(fileName_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno != ENOENT) loadProblem_ = std::strerror(errno);
        return;
    }
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        loadProblem_ = "not a regular file";
        ::close(fd);
        return;
    }
    std::string text;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) loadProblem_ = std::strerror(errno);
        if (got <= 0) break;
        text.append(buffer, static_cast<size_t>(got));
        if (text.size() > MaxFileSize) {
            loadProblem_ = "larger than " + std::to_string(MaxFileSize >> 20) + " MiB";
            break;
        }
    }
    ::close(fd);
    if (loadProblem_.empty() && text.find('\0') != std::string::npos) loadProblem_ = "not a text file";
    if (loadProblem_.empty()) Parse(text);
}

void TSettingsStore::Parse(const std::string& text) {
    if (text.find_first_not_of(" \t\r\n") == std::string::npos) {
        loadProblem_ = "empty";
        return;
    }
    Key* current = nullptr;
    bool keyLineSeen = false, looseValues = false;
    size_t lineNumber = 0, firstSkipped = 0;
    const auto skip = [&] {
        if (firstSkipped == 0) firstSkipped = lineNumber;
    };
    for (size_t start = 0; start < text.size();) {
        const size_t newline = text.find('\n', start);
        const size_t end = newline == std::string::npos ? text.size() : newline;
        std::string_view line(text.data() + start, end - start);
        start = end + 1;
        ++lineNumber;
        if (line.ends_with('\r')) line.remove_suffix(1);
        if (line.find_first_not_of(" \t") == std::string_view::npos) continue;
        if (line.starts_with('[')) {
            keyLineSeen = true;
            current = nullptr;
            if (!line.ends_with(']') || line.size() < 2) {
                skip();
                continue;
            }
            std::string path;
            bool wellFormed = true;
            for (const std::string& part : Components(std::string(line.substr(1, line.size() - 2)))) {
                const auto component = Unescape(part);
                wellFormed = wellFormed && component.has_value();
                if (wellFormed) path += Separator + *component;
            }
            if (wellFormed)
                current = &EnsureKey(path);
            else
                skip();
            continue;
        }
        const size_t equals = line.find('=');
        if (!current && !keyLineSeen && !looseKey_.empty() && equals != std::string_view::npos) {
            current = &EnsureKey(looseKey_);
            looseValues = true;
        }
        const auto name = current && equals != std::string_view::npos ? Unescape(line.substr(0, equals)) : std::nullopt;
        const auto value = name ? Unescape(line.substr(equals + 1)) : std::nullopt;
        if (value)
            SetValue(*current, *name, *value);
        else
            skip();
    }
    if (looseValues)
        loadProblem_ = "its values have no [" + Escape(looseKey_, "") + "] line before them";
    else if (firstSkipped > 0)
        loadProblem_ = "line " + std::to_string(firstSkipped) + " cannot be read";
}

// The settings that could not be read stay in the bad file for the user to recover.
void TSettingsStore::MoveBadFileAside() {
    const std::string kept = BadFileName();
    const std::string cannot = "Cannot save the settings: \"" + fileName_ + "\" (" + loadProblem_ + ") cannot be kept";
    if (kept.empty()) throw EWriteError(cannot + ": " + fileName_ + ".bad to .bad" + std::to_string(MaxKeptFiles) + " all exist");
    if (::rename(fileName_.c_str(), kept.c_str()) != 0 && errno != ENOENT)
        throw EWriteError(cannot + " as \"" + kept + "\": " + std::strerror(errno));
    loadProblem_.clear();
}

void TSettingsStore::Save() {
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
    if (!loadProblem_.empty()) MoveBadFileAside();
    TAtomicFile file(fileName_);
    file.Stream().WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
    file.Commit();
}

std::string AppSettingsFileName() { return ConfigHome() + "/Brelvant/mordale.conf"; }
