#include "app/CommandLine.h"

#include "tzlib/TextFormats.h"

TCommandLine ParseCommandLine(const std::vector<std::string>& arguments,
                              const std::function<bool(const std::string&)>& isSourceFile) {
    TCommandLine result;
    if (arguments.empty() || !arguments.front().starts_with('/')) return result;
    const std::string& first = arguments.front();
    result.unattended = !SameText(first, "/W");
    result.mode = SameText(first, "/B") ? TCommandMode::Book : TCommandMode::Single;
    for (const std::string& argument : arguments) {
        if (argument.starts_with('/')) continue;
        const std::string fileName = TextBefore(argument, '#');
        if (!isSourceFile(fileName)) continue;
        // No "#", or no number after it, gives frame index -1.
        result.sources.push_back({fileName, ParseInteger(TextAfter(argument, '#'), false) - 1});
    }
    return result;
}
