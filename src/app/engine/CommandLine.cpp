#include "app/engine/CommandLine.h"

#include <charconv>
#include <climits>
#include <filesystem>
#include <iostream>
#include <variant>

#include "app/engine/ConverterPic.h"
#include "app/engine/PictureFiles.h"
#include "imaging/io/KVHttpLoad.h"
#include "platform/Shell.h"
#include "tzlib/TextFormats.h"

namespace {

namespace fs = std::filesystem;

bool IsOption(const std::string& argument) { return argument.size() >= 2 && argument.front() == '-'; }

bool IsFile(const std::string& name) {
    std::error_code error;
    return fs::is_regular_file(name, error);
}

// A frame number from 1 to the largest int; nothing for any other text.
std::optional<int> FrameNumber(const std::string& text) {
    int number = 0;
    const char* last = text.data() + text.size();
    const auto [end, error] = std::from_chars(text.data(), last, number);
    if (text.empty() || error != std::errc() || end != last || number < 1) return std::nullopt;
    return number;
}

std::variant<TCommandSource, std::string> ReadSource(const std::string& argument) {
    TPicKind kind;
    // A picture at an internet address is taken whole; its kind is that of its name.
    if (IsInternetAddress(argument)) {
        if (!FindPicKind(argument, kind)) return std::string("not a kind of picture this program reads");
        return TCommandSource{argument, -1};
    }
    std::string fileName = argument;
    int frameIndex = -1;
    if (!IsFile(argument)) {
        const size_t hash = argument.rfind('#');
        if (hash == std::string::npos || !IsFile(argument.substr(0, hash)))
            return std::string(fs::is_directory(argument) ? "a folder, not a picture" : "no such file");
        const std::optional<int> frame = FrameNumber(argument.substr(hash + 1));
        if (!frame) return "no such file, and \"" + argument.substr(hash + 1) + "\" is not a frame number from 1";
        fileName = argument.substr(0, hash);
        frameIndex = *frame - 1;
    }
    if (!FindPicKind(fileName, kind)) return std::string("not a kind of picture this program reads");
    // Documents go beside their pictures, which a name relative to the starting folder would not
    // tell once the program works elsewhere.
    return TCommandSource{fs::absolute(fileName).lexically_normal().string(), frameIndex};
}

}  // namespace

// Absolute paths begin with "/" as switches do: a switch is "/" and a word without "/" or ".".
bool IsSwitch(const std::string& argument) {
    return argument.size() >= 2 && argument.front() == '/' && argument.find_first_of("/.", 1) == std::string::npos;
}

TCommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
    TCommandLine result;
    if (arguments.empty()) return result;
    const std::string& first = arguments.front();
    if (IsOption(first) && !IsFile(first)) {
        if (first == "--help" || first == "-h")
            result.helpAsked = true;
        else
            result.unknownOption = first;
        return result;
    }
    if (!IsSwitch(first)) return result;
    result.unattended = !SameText(first, "/W");
    result.mode = SameText(first, "/B") ? TCommandMode::Book : TCommandMode::Single;
    for (const std::string& argument : arguments) {
        if (IsSwitch(argument)) continue;
        auto source = ReadSource(argument);
        if (auto* accepted = std::get_if<TCommandSource>(&source))
            result.sources.push_back(std::move(*accepted));
        else
            result.rejected.push_back({argument, std::get<std::string>(source)});
    }
    return result;
}

std::string UsageText() {
    return R"(Usage: mordale [/S | /B | /W] PICTURE[#FRAME]...

  /S        makes one PDF document per picture, beside the picture (picture.pdf)
  /B        makes one PDF book of all the pictures; its name is asked for
            (Book1.pdf in the first picture's folder is proposed)
  /W        opens the window with the pictures instead of converting them
  #FRAME    a page of a TIFF, a frame of a GIF or a video, counted from 1; a
            name that exists as a file is taken whole, "#" and all
  PICTURE   a file, or an http:// or https:// address; a download that
            receives nothing for 30 s fails, and its document goes to the
            folder pictures were last added from in the window, or home
  -h, --help  shows this text

Without /W the conversion runs unattended, with the settings of the window.
Questions (the book's name, "Overwrite?") are read from standard input, one
line each: y or n, or a name. When standard input is not a terminal and no
line arrives, the answer is the one that loses nothing: an existing document
is not overwritten and its picture is skipped; the proposed book name is
taken; nothing is opened. Errors are written to standard error.

Exit status: 0 every picture became a document (or this text was asked
for); 1 a picture failed or was skipped, or no document was written; 2 the
command line names nothing usable, has an unknown option, or asks for the
window where there is no display.

Examples:
  mordale /S holiday.jpg scan.tif#2     two documents: holiday.pdf and scan.pdf
  printf 'album.pdf\n' | mordale /B *.png   one book, album.pdf
)";
}

std::string UsageError(const TCommandLine& command, const std::vector<std::string>& arguments, bool hasDisplay) {
    if (!command.unknownOption.empty()) return "unknown option " + command.unknownOption;
    if (command.unattended || hasDisplay || command.helpAsked) return {};
    if (arguments.empty() || IsSwitch(arguments.front())) return "no display for the window";
    return "no switch before " + arguments.front() + " (/S or /B converts without a window), and no display for the window";
}

std::optional<TExitStatus> AnswerUsage(const TCommandLine& command, const std::vector<std::string>& arguments) {
    if (command.helpAsked) {
        std::cout << UsageText();
        return esConverted;
    }
    const std::string error = UsageError(command, arguments, HasDisplay());
    if (error.empty()) return std::nullopt;
    std::cerr << "mordale: " << error << "\n\n" << UsageText();
    return esNothingUsable;
}
