#include "TempFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

namespace {

// Fixed slots that a signal handler reads without locks or allocation.
constexpr int MaxRemembered = 64;
std::atomic<char*> remembered[MaxRemembered];

std::atomic<char*> rememberedFolder;

// Only calls that are safe in a signal handler: the folder is read with getdents64, not readdir.
void RemoveFolderOfFiles(const char* folder) {
    const int fd = ::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    alignas(dirent64) char buffer[4096];
    // Removing entries while listing may hide others from the listing: listed again until a
    // listing removes nothing.
    for (bool removed = true; removed;) {
        removed = false;
        ::lseek(fd, 0, SEEK_SET);
        for (ssize_t got; (got = ::getdents64(fd, buffer, sizeof buffer)) > 0;) {
            for (ssize_t at = 0; at < got;) {
                const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
                at += entry->d_reclen;
                const char* name = entry->d_name;
                if (std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0 && ::unlinkat(fd, name, 0) == 0) removed = true;
            }
        }
    }
    ::close(fd);
    ::rmdir(folder);
}

void RemoveRememberedAndDie(int signalNumber) {
    for (std::atomic<char*>& slot : remembered)
        if (const char* name = slot.load()) ::unlink(name);
    if (const char* folder = rememberedFolder.load()) RemoveFolderOfFiles(folder);
    ::signal(signalNumber, SIG_DFL);
    ::raise(signalNumber);
}

void InstallWhereUnhandled(int signalNumber, void (*handler)(int)) {
    struct sigaction current {};
    if (::sigaction(signalNumber, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) return;
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    ::sigaction(signalNumber, &action, nullptr);
}

void InstallHandlersOnce() {
    static std::once_flag installed;
    std::call_once(installed, [] {
        for (const int signalNumber : {SIGTERM, SIGINT, SIGHUP}) InstallWhereUnhandled(signalNumber, RemoveRememberedAndDie);
        InstallWhereUnhandled(SIGXFSZ, SIG_IGN);
    });
}

struct TCandidate {
    std::string prefix, path;
    pid_t process;
};

// "<prefix><digits>.<six letters or digits>": the prefix and the process, or false.
bool SplitTempName(const std::string& name, std::string& prefix, pid_t& process) {
    constexpr size_t RandomLength = 6;
    if (name.size() < RandomLength + 3 || name.front() != '.') return false;
    const size_t randomDot = name.size() - RandomLength - 1;
    if (name[randomDot] != '.') return false;
    for (size_t i = randomDot + 1; i < name.size(); ++i)
        if (!std::isalnum(static_cast<unsigned char>(name[i]))) return false;
    size_t digits = randomDot;
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(name[digits - 1]))) --digits;
    if (digits == randomDot || digits == 0 || name[digits - 1] != '.' || randomDot - digits > 9) return false;
    prefix = name.substr(0, digits);
    process = static_cast<pid_t>(std::atol(name.substr(digits, randomDot - digits).c_str()));
    return process > 0;
}

std::vector<TCandidate> ListCandidates(const std::string& folder) {
    std::vector<TCandidate> found;
    DIR* listing = ::opendir(folder.c_str());
    if (!listing) return found;
    while (const dirent* entry = ::readdir(listing)) {
        TCandidate candidate;
        if (SplitTempName(entry->d_name, candidate.prefix, candidate.process)) {
            candidate.path = folder + "/" + entry->d_name;
            found.push_back(std::move(candidate));
        }
    }
    ::closedir(listing);
    return found;
}

bool IsAbandoned(const TCandidate& candidate) {
    struct stat info;
    if (::lstat(candidate.path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) return false;
    return ::kill(candidate.process, 0) != 0 && errno == ESRCH;
}

}  // namespace

int RememberTempFile(const std::string& name) {
    InstallHandlersOnce();
    char* copy = ::strdup(name.c_str());
    for (int ticket = 0; ticket < MaxRemembered; ++ticket) {
        char* empty = nullptr;
        if (remembered[ticket].compare_exchange_strong(empty, copy)) return ticket;
    }
    std::free(copy);  // more files at once than slots: those are cleaned by the next writer
    return -1;
}

void ForgetTempFile(int ticket) {
    if (ticket >= 0) std::free(remembered[ticket].exchange(nullptr));
}

void RememberTempFolder(const std::string& folder) {
    InstallHandlersOnce();
    std::free(rememberedFolder.exchange(::strdup(folder.c_str())));
}

void ForgetTempFolder() { std::free(rememberedFolder.exchange(nullptr)); }

void RemoveAbandonedTempFiles(const std::string& folder, const std::string& prefix) {
    static std::mutex mutex;
    static std::map<std::string, std::vector<TCandidate>> byFolder;
    std::lock_guard lock(mutex);
    auto [at, isNew] = byFolder.try_emplace(folder);
    if (isNew) at->second = ListCandidates(folder);
    std::erase_if(at->second, [&](const TCandidate& candidate) {
        if (candidate.prefix != prefix) return false;
        if (IsAbandoned(candidate)) ::unlink(candidate.path.c_str());
        return true;
    });
}
