#include "Paths.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>
#include <vector>

#include "Exception.h"

namespace {

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string WithoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

std::string Join(const std::string& folder, const std::string& name) {
    return folder.ends_with('/') ? folder + name : folder + "/" + name;
}

// An XDG base folder: the variable when it holds an absolute path, else the fallback below home.
std::string XdgFolder(const char* variable, const char* fallbackBelowHome) {
    const std::string value = Environment(variable);
    if (value.starts_with('/')) return WithoutTrailingSlashes(value);
    return Join(HomeDirectory(), fallbackBelowHome);
}

bool IsDirectory(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

std::string TempDirectory() {
    const std::string value = Environment("TMPDIR");
    return value.empty() ? "/tmp" : WithoutTrailingSlashes(value);
}

std::string HomeDirectory() {
    const std::string value = Environment("HOME");
    if (!value.empty()) return WithoutTrailingSlashes(value);
    std::vector<char> buffer(16384);
    struct passwd entry;
    struct passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir &&
        *found->pw_dir)
        return WithoutTrailingSlashes(found->pw_dir);
    return "/";
}

std::string ConfigHome() { return XdgFolder("XDG_CONFIG_HOME", ".config"); }

std::string DataHome() { return XdgFolder("XDG_DATA_HOME", ".local/share"); }

namespace {

std::string& ProgramPath() {
    static std::string path;
    return path;
}

}  // namespace

void SetProgramPath(const std::string& path) { ProgramPath() = path; }

std::string ExecutablePath() {
    if (!ProgramPath().empty()) return ProgramPath();
    std::vector<char> buffer(4096);
    for (;;) {
        const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0)
            throw EInOutError("Cannot find the folder of the program: " +
                              std::system_category().message(errno));
        if (static_cast<size_t>(length) < buffer.size()) return std::string(buffer.data(), static_cast<size_t>(length));
        buffer.resize(buffer.size() * 2);
    }
}

std::string ExecutableFolder() {
    const std::string path = ExecutablePath();
    const size_t slash = path.rfind('/');
    return slash == 0 ? "/" : path.substr(0, slash);
}

void ForceDirectories(const std::string& folder) {
    const auto fail = [&](int error) {
        throw EInOutError("Cannot create the folder \"" + folder + "\": " + std::system_category().message(error));
    };
    if (folder.empty()) fail(ENOENT);
    // Each prefix ending before a "/", then the whole path; existing folders are fine.
    for (size_t end = folder.find('/', 1);; end = folder.find('/', end + 1)) {
        const std::string prefix = folder.substr(0, end);
        if (!prefix.empty() && !prefix.ends_with('/') && mkdir(prefix.c_str(), 0777) != 0) {
            const int error = errno;
            if (error != EEXIST) fail(error);
            if (!IsDirectory(prefix)) fail(ENOTDIR);
        }
        if (end == std::string::npos) return;
    }
}
