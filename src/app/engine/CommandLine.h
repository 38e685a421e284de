#pragma once
// What the command line asks for: used only when its first argument is a switch ("/B" a book,
// any other switch single documents, every switch but "/W" an unattended run); the other
// arguments are pictures. A name that exists is the picture, "#" and all; only a name that does
// not exist is read as a picture, "#" and a frame number counted from 1.
// A switch is "/" and a word without "/" or ".", so that absolute paths are pictures; pictures
// named relative to the current folder are made absolute.
#include <optional>
#include <string>
#include <vector>

enum class TCommandMode { Single, Book };

bool IsSwitch(const std::string& argument);

struct TCommandSource {
    std::string fileName;
    // The frame number less 1; -1 (no frame number) means the first frame without asking.
    int frameIndex;
    bool operator==(const TCommandSource&) const = default;
};

// A picture argument left out, with the reason a person can act on.
struct TRejectedArgument {
    std::string argument, reason;
    bool operator==(const TRejectedArgument&) const = default;
};

struct TCommandLine {
    bool unattended = false;
    bool usageAsked = false;           // "--help", "-h" or another option of that form
    std::optional<TCommandMode> mode;  // nothing when the command line is not used
    std::vector<TCommandSource> sources;
    std::vector<TRejectedArgument> rejected;
};

// Arguments without the program's name. Pictures must exist and be of a kind the engine reads.
TCommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// How to call the program: switches, frames, where documents go, questions and exit statuses.
std::string UsageText();

// The exit statuses of an unattended run.
enum TExitStatus : int { esConverted = 0, esNotAllConverted = 1, esNothingUsable = 2 };
