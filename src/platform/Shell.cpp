#include "Shell.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>

#include "Exception.h"

namespace {

// Runs in the grandchild between fork and exec: only async-signal-safe calls.
[[noreturn]] void ExecOrReport(char* const* argv, int reportFd) {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGPIPE, SIG_DFL);
    const int devNull = open("/dev/null", O_RDONLY);
    if (devNull > 0) {
        dup2(devNull, STDIN_FILENO);
        close(devNull);
    }
    // The started program must not hold our files open; the report pipe closes with the exec.
    close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
    execvp(argv[0], argv);
    const int error = errno;
    [[maybe_unused]] ssize_t written = write(reportFd, &error, sizeof error);
    _exit(127);
}

}  // namespace

// The program runs as a grandchild whose parent exits at once, so it is adopted by init and never
// left a zombie. A close-on-exec pipe tells us whether the exec succeeded: it closes empty on
// success and carries errno on failure.
void StartDetached(const std::vector<std::string>& argv) {
    if (argv.empty() || argv[0].empty()) throw Exception("Cannot start a program without a name");
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);

    const auto fail = [&](int error) {
        throw Exception("Cannot start " + argv[0] + ": " + std::system_category().message(error));
    };
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) fail(errno);
    const pid_t child = fork();
    if (child < 0) {
        const int error = errno;
        close(report[0]);
        close(report[1]);
        fail(error);
    }
    if (child == 0) {
        close(report[0]);
        setsid();
        const pid_t grandchild = fork();
        if (grandchild == 0) ExecOrReport(args.data(), report[1]);
        if (grandchild < 0) {
            const int error = errno;
            [[maybe_unused]] ssize_t written = write(report[1], &error, sizeof error);
        }
        _exit(0);
    }
    close(report[1]);
    while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
    int error = 0;
    ssize_t got;
    while ((got = read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
    }
    close(report[0]);
    if (got == sizeof error) fail(error);
}

bool HasDisplay() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value && *value) return true;
    }
    return false;
}
