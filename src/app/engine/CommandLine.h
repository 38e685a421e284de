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
    bool helpAsked = false;            // the first argument is "--help" or "-h"
    std::string unknownOption;         // a first argument of that form that is no option
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

// What keeps the command line from running, first of all an unknown option, then a window asked
// for (no switch, or "/W") where none can be shown; empty when it can run.
std::string UsageError(const TCommandLine& command, const std::vector<std::string>& arguments, bool hasDisplay);
// Writes the usage to standard output when asked for, or the usage error and the usage to
// standard error; the exit status then, or nothing when the command line runs.
std::optional<TExitStatus> AnswerUsage(const TCommandLine& command, const std::vector<std::string>& arguments);
