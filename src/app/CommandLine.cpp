#include "app/CommandLine.h"

#include <filesystem>

#include "tzlib/TextFormats.h"

// Absolute paths begin with "/" as switches do: a switch is "/" and a word without "/" or ".".
bool IsSwitch(const std::string& argument) {
    return argument.size() >= 2 && argument.front() == '/' && argument.find_first_of("/.", 1) == std::string::npos;
}

TCommandLine ParseCommandLine(const std::vector<std::string>& arguments,
                              const std::function<bool(const std::string&)>& isSourceFile) {
    TCommandLine result;
    if (arguments.empty() || !IsSwitch(arguments.front())) return result;
    const std::string& first = arguments.front();
    result.unattended = !SameText(first, "/W");
    result.mode = SameText(first, "/B") ? TCommandMode::Book : TCommandMode::Single;
    for (const std::string& argument : arguments) {
        if (IsSwitch(argument)) continue;
        const std::string fileName = TextBefore(argument, '#');
        if (!isSourceFile(fileName)) continue;
        // Documents go beside their pictures, which a name relative to the starting folder
        // would not tell once the program works elsewhere. No "#", or no number after it, gives
        // frame index -1.
        result.sources.push_back({std::filesystem::absolute(fileName).lexically_normal().string(),
                                  ParseInteger(TextAfter(argument, '#'), false) - 1});
    }
    return result;
}
