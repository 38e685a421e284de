// The command line with frame suffixes: arguments are the input's lines, read in a folder that
// holds pictures whose names have "#" in them, so that both readings of a name are reached.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "app/engine/CommandLine.h"

namespace {

void EnterPictureFolder() {
    static const bool entered = [] {
        char pattern[] = "/tmp/commandline-fuzz-XXXXXX";
        const char* folder = ::mkdtemp(pattern);
        if (!folder || ::chdir(folder) != 0) std::abort();
        for (const char* name : {"a.jpg", "b#2.tif", "c.gif", "d#.png"}) std::ofstream(name) << "x";
        return true;
    }();
    (void)entered;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    EnterPictureFolder();
    std::vector<std::string> arguments(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == '\n')
            arguments.emplace_back();
        else
            arguments.back() += static_cast<char>(data[i]);
    }
    const TCommandLine line = ParseCommandLine(arguments);
    for (const TCommandSource& source : line.sources)
        if (source.frameIndex < -1) std::abort();
    return 0;
}
