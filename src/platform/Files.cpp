#include "Files.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <utility>

#include "TempFiles.h"

namespace {

constexpr size_t MaxNameBytes = NAME_MAX;
constexpr int MaxLinkHops = 40;  // as the kernel allows
constexpr size_t RandomLength = 6;

std::string FolderOf(const std::string& fileName) {
    const size_t slash = fileName.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : fileName.substr(0, slash);
}

std::string BaseNameOf(const std::string& fileName) {
    const size_t slash = fileName.rfind('/');
    return slash == std::string::npos ? fileName : fileName.substr(slash + 1);
}

[[noreturn]] void FailCreate(const std::string& fileName, int error) {
    throw EFCreateError("Cannot create file \"" + fileName + "\". " + std::strerror(error), error);
}

// The file that writing to the name reaches: links are followed to their target, which need not
// exist yet, so that replacing it keeps the link.
std::string FollowLinks(const std::string& fileName) {
    std::string path = fileName;
    for (int hop = 0; hop < MaxLinkHops; ++hop) {
        char target[PATH_MAX];
        const ssize_t length = ::readlink(path.c_str(), target, sizeof target);
        if (length < 0) return path;  // not a link, or nothing there yet
        if (static_cast<size_t>(length) == sizeof target) FailCreate(fileName, ENAMETOOLONG);
        const std::string next(target, static_cast<size_t>(length));
        path = next.starts_with('/') ? next : FolderOf(path) + "/" + next;
    }
    FailCreate(fileName, ELOOP);
}

// The start of a UTF-8 text cut to at most maxBytes, without splitting a character.
std::string Utf8Prefix(const std::string& text, size_t maxBytes) {
    if (text.size() <= maxBytes) return text;
    size_t end = maxBytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

std::string RandomLetters() {
    static constexpr char Letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937 random{std::random_device{}()};
    std::uniform_int_distribution<size_t> letter(0, sizeof Letters - 2);
    std::string letters(RandomLength, ' ');
    for (char& c : letters) c = Letters[letter(random)];
    return letters;
}

// Creates a hidden file ".<name>.<process id>.XXXXXX" beside the target, in its folder so that
// the rename stays on one file system, with a name within the length limit. Created with mode
// 0666 so that the kernel applies the umask (and a default ACL) as for any new file; an existing
// target passes on its mode.
int CreateTempFile(const std::string& target, std::string& tempFileName) {
    const std::string owner = "." + std::to_string(::getpid()) + ".";
    const std::string prefix =
        "." + Utf8Prefix(BaseNameOf(target), MaxNameBytes - 1 - owner.size() - RandomLength) + ".";
    RemoveAbandonedTempFiles(FolderOf(target), prefix);
    struct stat old;
    const bool replaces = ::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode);
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempFileName = FolderOf(target) + "/" + prefix + owner.substr(1) + RandomLetters();
        const int fd = ::open(tempFileName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0) FailCreate(target, errno);
        if (replaces) {
            // The owner can only be kept by a privileged process; the mode always.
            [[maybe_unused]] const int owned = ::fchown(fd, old.st_uid, old.st_gid);
            ::fchmod(fd, old.st_mode & 07777);
        }
        return fd;
    }
    FailCreate(target, EEXIST);
}

}  // namespace

TAtomicFile::TAtomicFile(const std::string& targetFileName)
    : targetFileName_(targetFileName), writtenFileName_(FollowLinks(targetFileName)) {
    ::close(CreateTempFile(writtenFileName_, tempFileName_));
    tempTicket_ = RememberTempFile(tempFileName_);
    try {
        stream_ = std::make_unique<TFileStream>(tempFileName_, fmOpenReadWrite);
    } catch (...) {
        Discard();
        throw;
    }
}

TAtomicFile::~TAtomicFile() { Discard(); }

void TAtomicFile::Commit() {
    if (!stream_) throw EWriteError("Cannot write \"" + targetFileName_ + "\": the file was discarded");
    try {
        stream_->Sync();
    } catch (...) {
        Discard();
        throw;
    }
    stream_.reset();
    if (::rename(tempFileName_.c_str(), writtenFileName_.c_str()) != 0) {
        const int error = errno;
        Discard();
        throw EWriteError("Cannot write \"" + targetFileName_ + "\". " + std::strerror(error), error);
    }
    ForgetTempFile(std::exchange(tempTicket_, -1));
    tempFileName_.clear();
}

void TAtomicFile::Discard() {
    stream_.reset();
    if (!tempFileName_.empty()) ::unlink(tempFileName_.c_str());
    ForgetTempFile(std::exchange(tempTicket_, -1));
    tempFileName_.clear();
}
