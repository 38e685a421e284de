#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <string>
#include <thread>

#include "TestSupport.h"
#include "platform/Files.h"

namespace {

void WriteAtomically(const std::string& target, const std::string& content) {
    TAtomicFile file(target);
    file.Stream().WriteBuffer(content.data(), static_cast<int64_t>(content.size()));
    file.Commit();
}

// The process's umask as the kernel reports it, read without changing it.
std::string UmaskLine() {
    const std::string status = ReadFile("/proc/self/status");
    const size_t at = status.find("Umask:");
    return at == std::string::npos ? "" : status.substr(at, status.find('\n', at) - at);
}

}  // namespace

// Another thread may create files meanwhile: the umask must never change, even for a moment.
TEST(AtomicFile, NeverChangesTheUmask) {
    TScratchFolder dir;
    const mode_t previous = ::umask(022);
    const std::string expected = UmaskLine();
    ASSERT_EQ(expected, "Umask:\t0022");
    std::atomic<bool> done{false};
    std::atomic<int> changes{0};
    std::thread watcher([&] {
        while (!done)
            if (UmaskLine() != expected) ++changes;
    });
    for (int i = 0; i < 300; ++i) WriteAtomically(dir.Path("f"), "x");
    done = true;
    watcher.join();
    ::umask(previous);
    EXPECT_EQ(changes, 0);
}
