#include "Files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

std::string FolderOf(const std::string& fileName) {
    const size_t slash = fileName.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : fileName.substr(0, slash);
}

std::string BaseNameOf(const std::string& fileName) {
    const size_t slash = fileName.rfind('/');
    return slash == std::string::npos ? fileName : fileName.substr(slash + 1);
}

mode_t CreationMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

}  // namespace

TAtomicFile::TAtomicFile(const std::string& targetFileName) : targetFileName_(targetFileName) {
    // Hidden name in the target's folder, so the rename stays on one file system.
    std::string pattern = FolderOf(targetFileName) + "/." + BaseNameOf(targetFileName) + ".XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0)
        throw EFCreateError("Cannot create file \"" + targetFileName + "\". " + std::strerror(errno));
    ::fchmod(fd, CreationMode());
    ::close(fd);
    tempFileName_ = pattern;
    try {
        stream_ = std::make_unique<TFileStream>(tempFileName_, fmOpenReadWrite);
    } catch (...) {
        ::unlink(tempFileName_.c_str());
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
    if (::rename(tempFileName_.c_str(), targetFileName_.c_str()) != 0) {
        const std::string reason = std::strerror(errno);
        ::unlink(tempFileName_.c_str());
        tempFileName_.clear();
        throw EWriteError("Cannot write \"" + targetFileName_ + "\". " + reason);
    }
    tempFileName_.clear();
}

void TAtomicFile::Discard() {
    stream_.reset();
    if (!tempFileName_.empty()) ::unlink(tempFileName_.c_str());
    tempFileName_.clear();
}
