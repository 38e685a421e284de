#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "app/engine/CommandLine.h"
#include "app/engine/PictureSource.h"
#include "app/engine/UnattendedRun.h"
#include "platform/GraphicClasses.h"
#include "platform/Paths.h"
#include "tzlib/TextFormats.h"

// This program makes the documents of unattended runs on the engine alone, so that such a run
// loads none of the libraries of the window, the videos and the scanners. The window, and runs
// with pictures only those libraries read, are the window program's, which it becomes.

namespace {

// Videos are read by FFmpeg and metafiles drawn by Qt.
bool NeedsWindowProgram(const TCommandLine& command) {
    return std::ranges::any_of(command.sources, [](const TCommandSource& source) {
        if (PicKindOfFile(source.fileName) == pkVideo) return true;
        const std::string extension = std::filesystem::path(source.fileName).extension().string();
        return std::ranges::any_of(MetafileExtensions, [&](const char* metafile) {
            return SameText(extension, std::string(".") + metafile);
        });
    });
}

// The window program beside this one takes over the process, with the same arguments.
int BecomeWindowProgram(char** argv) {
    const std::string program = ExecutableFolder() + "/" MORDALE_WINDOW_PROGRAM;
    ::execv(program.c_str(), argv);
    std::cerr << "Cannot start " << program << ": " << std::strerror(errno) << "\n";
    return esNotAllConverted;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const TCommandLine command = ParseCommandLine(arguments);
    // Asked for, or what keeps the command line from running: how to call the program.
    if (const std::optional<TExitStatus> status = AnswerUsage(command, arguments)) return *status;
    if (!command.unattended || NeedsWindowProgram(command)) return BecomeWindowProgram(argv);
    return RunUnattended(command);
}
