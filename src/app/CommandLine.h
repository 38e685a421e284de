#pragma once
// What the command line asks for: used only when its first argument is a switch ("/B" a book,
// any other switch single documents, every switch but "/W" an unattended run); the other
// arguments are pictures, each optionally followed by "#" and a frame number counted from 1.
// A switch is "/" and a word without "/" or ".", so that absolute paths are pictures; pictures
// named relative to the current folder are made absolute.
#include <functional>
#include <optional>
#include <string>
#include <vector>

enum class TCommandMode { Single, Book };

bool IsSwitch(const std::string& argument);

struct TCommandSource {
    std::string fileName;
    // The frame number less 1; -1 (no "#") means the first frame without asking.
    int frameIndex;
    bool operator==(const TCommandSource&) const = default;
};

struct TCommandLine {
    bool unattended = false;
    std::optional<TCommandMode> mode;  // nothing when the command line is not used
    std::vector<TCommandSource> sources;
};

// Arguments without the program's name; pictures that isSourceFile refuses are left out.
TCommandLine ParseCommandLine(const std::vector<std::string>& arguments,
                              const std::function<bool(const std::string&)>& isSourceFile);
