#include "tzlib/DesktopExec.h"

#include <cstring>
#include <optional>

namespace {

struct TWord {
    std::string text;
    bool written = false;      // holds something, if only an empty pair of quotes
    bool takesDocument = false;
    bool isIcon = false;       // the whole word is "%i"
};

// Reads the word that begins at the position; nothing when it is malformed.
std::optional<TWord> ReadWord(const TDesktopEntry& entry, size_t& at) {
    const std::string& line = entry.exec;
    TWord word;
    for (; at < line.size() && line[at] != ' '; ++at) {
        const char c = line[at];
        if (c == '"') {
            // Inside quotes a backslash takes the next character as written; field codes are text.
            for (++at; at < line.size() && line[at] != '"'; ++at) {
                if (line[at] == '\\' && at + 1 < line.size()) ++at;
                word.text += line[at];
            }
            if (at == line.size()) return std::nullopt;
            word.written = true;
        } else if (c != '%') {
            word.text += c;
            word.written = true;
        } else if (++at == line.size()) {
            return std::nullopt;
        } else if (line[at] == '%') {
            word.text += '%';
            word.written = true;
        } else if (std::strchr("fFuU", line[at])) {
            word.takesDocument = true;
        } else if (line[at] == 'c' || line[at] == 'k') {
            word.text += line[at] == 'c' ? entry.name : entry.fileName;
            word.written = true;
        } else if (line[at] == 'i') {
            word.isIcon = !word.written;
        } else if (!std::strchr("dDnNvm", line[at])) {
            return std::nullopt;
        }
    }
    word.isIcon = word.isIcon && !word.written;
    return word;
}

}  // namespace

std::vector<std::string> ProgramArguments(const TDesktopEntry& entry) {
    std::vector<std::string> arguments;
    for (size_t at = 0; at < entry.exec.size();) {
        if (entry.exec[at] == ' ') {
            ++at;
            continue;
        }
        const std::optional<TWord> word = ReadWord(entry, at);
        if (!word) return {};
        if (word->isIcon && !entry.icon.empty()) arguments.insert(arguments.end(), {"--icon", entry.icon});
        if (word->written && !word->takesDocument) arguments.push_back(word->text);
    }
    return arguments;
}

std::string ExecProgramWord(const std::string& program) {
    static constexpr const char* Reserved = " \t\n\"'\\><~|&;$*?#()`";
    const bool quoted = program.find_first_of(Reserved) != std::string::npos;
    std::string word = quoted ? "\"" : "";
    for (const char c : program) {
        if (quoted && std::strchr("\"`$\\", c)) word += '\\';
        word += c;
        if (c == '%') word += '%';
    }
    return quoted ? word + '"' : word;
}
