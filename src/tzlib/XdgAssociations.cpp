#include "tzlib/XdgAssociations.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <vector>

#include "platform/Paths.h"
#include "tzlib/DesktopExec.h"

namespace {

constexpr std::streamsize MaxListFileSize = 4 << 20;

std::vector<std::string> SplitAt(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(separator, start);
        const std::string part = text.substr(start, end - start);
        if (!part.empty()) parts.push_back(part);
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

std::vector<std::string> SearchPath(const char* variable, const char* fallback) {
    const char* value = std::getenv(variable);
    std::vector<std::string> folders;
    for (const std::string& folder : SplitAt(value && *value ? value : fallback, ':'))
        if (folder.starts_with('/')) folders.push_back(folder);
    return folders;
}

// The applications folders, most important first.
std::vector<std::string> ApplicationFolders() {
    std::vector<std::string> folders{DataHome() + "/applications"};
    for (const std::string& folder : SearchPath("XDG_DATA_DIRS", "/usr/local/share:/usr/share"))
        folders.push_back(folder + "/applications");
    return folders;
}

// The mimeapps.list files in the order they take precedence.
std::vector<std::string> MimeAppsLists() {
    const char* current = std::getenv("XDG_CURRENT_DESKTOP");
    std::vector<std::string> desktops;
    for (std::string desktop : SplitAt(current ? current : "", ':')) {
        for (char& c : desktop) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        desktops.push_back(desktop);
    }
    std::vector<std::string> folders{ConfigHome()};
    for (const std::string& folder : SearchPath("XDG_CONFIG_DIRS", "/etc/xdg")) folders.push_back(folder);
    for (const std::string& folder : ApplicationFolders()) folders.push_back(folder);
    std::vector<std::string> lists;
    for (const std::string& folder : folders) {
        for (const std::string& desktop : desktops) lists.push_back(folder + "/" + desktop + "-mimeapps.list");
        lists.push_back(folder + "/mimeapps.list");
    }
    return lists;
}

// The value of key in the group of an ini-style file (desktop entries, mimeapps.list).
std::optional<std::string> ReadKey(const std::string& fileName, const std::string& group, const std::string& key) {
    std::ifstream file(fileName, std::ios::binary);
    if (!file) return std::nullopt;
    std::string line;
    bool inGroup = false;
    std::streamsize read = 0;
    while (std::getline(file, line) && (read += static_cast<std::streamsize>(line.size()) + 1) <= MaxListFileSize) {
        if (line.ends_with('\r')) line.pop_back();
        if (line.starts_with('[')) {
            inGroup = line == "[" + group + "]";
            continue;
        }
        const size_t equals = line.find('=');
        if (!inGroup || equals == std::string::npos) continue;
        std::string name = line.substr(0, equals);
        while (name.ends_with(' ')) name.pop_back();
        if (name != key) continue;
        const size_t valueStart = line.find_first_not_of(' ', equals + 1);
        return valueStart == std::string::npos ? "" : line.substr(valueStart);
    }
    return std::nullopt;
}

// "\s", "\n", "\t", "\r" and "\\" of a desktop entry's string values.
std::string Unescaped(const std::string& value) {
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        const char c = value[++i];
        out += c == 's' ? ' ' : c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
    }
    return out;
}

// An installed, visible desktop entry with a command.
std::optional<TDesktopEntry> UsableEntry(const std::string& id) {
    if (id.find('/') != std::string::npos || !id.ends_with(".desktop")) return std::nullopt;
    for (const std::string& folder : ApplicationFolders()) {
        const std::string fileName = folder + "/" + id;
        const auto exec = ReadKey(fileName, "Desktop Entry", "Exec");
        if (!exec) {
            if (std::ifstream(fileName)) return std::nullopt;  // installed but unusable: it hides the others
            continue;
        }
        if (ReadKey(fileName, "Desktop Entry", "Hidden").value_or("") == "true" || exec->empty()) return std::nullopt;
        const auto text = [&](const char* key) {
            return Unescaped(ReadKey(fileName, "Desktop Entry", key).value_or(""));
        };
        return TDesktopEntry{fileName, Unescaped(*exec), text("Name"), text("Icon")};
    }
    return std::nullopt;
}

std::optional<TDesktopEntry> FirstUsableEntry(const std::string& ids) {
    for (const std::string& id : SplitAt(ids, ';'))
        if (auto entry = UsableEntry(id)) return entry;
    return std::nullopt;
}

std::optional<TDesktopEntry> DefaultEntry(const std::string& mimeType) {
    for (const std::string& list : MimeAppsLists())
        if (const auto ids = ReadKey(list, "Default Applications", mimeType))
            if (auto entry = FirstUsableEntry(*ids)) return entry;
    for (const std::string& folder : ApplicationFolders())
        if (const auto ids = ReadKey(folder + "/mimeinfo.cache", "MIME Cache", mimeType))
            if (auto entry = FirstUsableEntry(*ids)) return entry;
    return std::nullopt;
}

// The shared MIME database folders, most important first.
std::vector<std::string> MimeFolders() {
    std::vector<std::string> folders{DataHome() + "/mime"};
    for (const std::string& folder : SearchPath("XDG_DATA_DIRS", "/usr/local/share:/usr/share"))
        folders.push_back(folder + "/mime");
    return folders;
}

// A line of globs2: "weight:type:pattern" and, for a case-sensitive pattern, ":cs".
struct TGlob {
    int weight = -1;
    std::string mimeType, pattern;
    bool caseSensitive = false;
};

TGlob ParseGlob(const std::string& line) {
    if (line.starts_with('#')) return {};
    const std::vector<std::string> fields = SplitAt(line, ':');
    if (fields.size() < 3) return {};
    TGlob glob;
    const auto [end, error] = std::from_chars(fields[0].data(), fields[0].data() + fields[0].size(), glob.weight);
    if (error != std::errc() || end != fields[0].data() + fields[0].size()) return {};
    glob.mimeType = fields[1];
    glob.pattern = fields[2];
    glob.caseSensitive = fields.size() > 3 && fields[3].find("cs") != std::string::npos;
    return glob;
}

bool MatchesGlob(const TGlob& glob, const std::string& pattern) {
    if (glob.caseSensitive) return glob.pattern == pattern;
    return std::ranges::equal(glob.pattern, pattern, [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
    });
}

}  // namespace

std::string MimeTypeOfExtension(const std::string& extension) {
    if (extension.empty()) return {};
    const std::string pattern = "*" + (extension.starts_with('.') ? extension : "." + extension);
    std::string best;
    int bestWeight = -1;
    for (const std::string& folder : MimeFolders()) {
        std::ifstream file(folder + "/globs2", std::ios::binary);
        std::string line;
        std::streamsize read = 0;
        while (std::getline(file, line) && (read += static_cast<std::streamsize>(line.size()) + 1) <= MaxListFileSize) {
            const TGlob glob = ParseGlob(line);
            if (glob.weight > bestWeight && MatchesGlob(glob, pattern)) {
                best = glob.mimeType;
                bestWeight = glob.weight;
            }
        }
    }
    return best;
}

std::string DefaultProgramCommand(const std::string& mimeType) {
    const auto entry = DefaultEntry(mimeType);
    return entry ? entry->exec : std::string();
}

std::vector<std::string> DefaultProgramArguments(const std::string& mimeType) {
    const auto entry = DefaultEntry(mimeType);
    return entry ? ProgramArguments(*entry) : std::vector<std::string>();
}

std::optional<std::string> ReadDesktopEntryValue(const std::string& fileName, const std::string& group,
                                                 const std::string& key) {
    const std::optional<std::string> value = ReadKey(fileName, group, key);
    return value ? std::optional(Unescaped(*value)) : std::nullopt;
}
