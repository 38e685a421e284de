#include "platform/DebugOutput.h"

#include <unistd.h>

void OutputDebugText(const std::string& text) {
    // One write, so that lines of several threads do not interleave.
    const std::string line = text + "\n";
    for (size_t done = 0; done < line.size();) {
        const ssize_t n = ::write(STDERR_FILENO, line.data() + done, line.size() - done);
        if (n <= 0) return;
        done += size_t(n);
    }
}
