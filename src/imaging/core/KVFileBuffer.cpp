#include "imaging/core/KVFileBuffer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/Exception.h"
#include "platform/Paths.h"

std::string KVTempFolder;

std::string KVTempPath() {
    std::string folder = KVTempFolder.empty() ? TempDirectory() : KVTempFolder;
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder;
}

std::string KVMakeTempFileName(const std::string& prefix, const std::string& folder) {
    thread_local std::mt19937 random{std::random_device{}()};
    std::uniform_int_distribution<uint32_t> below(0, 2147483646);
    struct stat info;
    std::string name;
    do {
        char hex[9];
        const uint32_t value = below(random);
        for (int i = 0; i < 8; ++i) hex[i] = "0123456789ABCDEF"[(value >> (28 - 4 * i)) & 0xF];
        hex[8] = 0;
        name = folder + prefix + "-" + hex + ".tmp";
    } while (::lstat(name.c_str(), &info) == 0);
    return name;
}

int64_t KVAvailablePhysicalMemory() {
    std::ifstream meminfo("/proc/meminfo");
    std::string key;
    int64_t kilobytes = 0;
    std::string unit;
    while (meminfo >> key >> kilobytes >> unit)
        if (key == "MemAvailable:") return kilobytes * 1024;
    return 0;
}

TKVFileBuffer::~TKVFileBuffer() { Close(); }

bool TKVFileBuffer::CreateFile(const std::string& prefix, int64_t size) {
    Close();
    const std::string folder = KVTempPath();
    // Another process may take the name between the test and the creation: draw again.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = KVMakeTempFileName(prefix, folder);
        const int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return false;
        }
        if (::ftruncate(fd, size) != 0) {
            ::close(fd);
            ::unlink(name.c_str());
            return false;
        }
        fd_ = fd;
        fileName_ = name;
        return true;
    }
    return false;
}

int64_t TKVFileBuffer::FileSize() const {
    struct stat info;
    if (fd_ < 0 || ::fstat(fd_, &info) != 0) return 0;
    return info.st_size;
}

void TKVFileBuffer::SetFileSize(int64_t size) {
    if (::ftruncate(fd_, size) != 0) throw EWriteError("Cannot resize " + fileName_ + ": " + std::strerror(errno));
}

void TKVFileBuffer::ReadAt(uint8_t* buffer, int64_t length, int64_t position) {
    while (length > 0) {
        const ssize_t got = ::pread(fd_, buffer, size_t(length), position);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) throw EReadError("Cannot read " + fileName_ + ": " + std::strerror(errno));
        if (got == 0) {  // beyond the end: the part that was never written
            std::memset(buffer, 0, size_t(length));
            return;
        }
        buffer += got;
        length -= got;
        position += got;
    }
}

void TKVFileBuffer::WriteAt(const uint8_t* buffer, int64_t length, int64_t position) {
    while (length > 0) {
        const ssize_t put = ::pwrite(fd_, buffer, size_t(length), position);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) throw EWriteError("Cannot write " + fileName_ + ": " + std::strerror(errno));
        buffer += put;
        length -= put;
        position += put;
    }
}

uint8_t* TKVFileBuffer::MapBlock(TKVAccess access, int64_t length, int64_t position) {
    Block block{position, length, std::make_unique<uint8_t[]>(size_t(length)), access};
    if (access & kvaRead) ReadAt(block.memory.get(), length, position);
    blocks_.push_back(std::move(block));
    return blocks_.back().memory.get();
}

void TKVFileBuffer::UnmapBlock(uint8_t* address) {
    const int index = IndexOfBlock(address);
    if (index < 0) return;
    Block block = std::move(blocks_[size_t(index)]);
    blocks_.erase(blocks_.begin() + index);
    if (block.access & kvaWrite) WriteAt(block.memory.get(), block.length, block.position);
}

int TKVFileBuffer::IndexOfBlock(const uint8_t* address) const {
    for (size_t i = 0; i < blocks_.size(); ++i)
        if (blocks_[i].memory.get() == address) return int(i);
    return -1;
}

void TKVFileBuffer::UnmapAll() {
    if (!IsOpen()) return;
    while (!blocks_.empty()) UnmapBlock(blocks_.back().memory.get());
}

void TKVFileBuffer::Close() {
    blocks_.clear();
    if (!IsOpen()) return;
    ::close(fd_);
    ::unlink(fileName_.c_str());
    fd_ = -1;
    fileName_.clear();
}

void TKVFileBuffer::CopyTo(TKVFileBuffer& target, int64_t size, int64_t start) {
    if (!IsOpen() || !target.IsOpen()) return;
    UnmapAll();
    target.UnmapAll();
    constexpr int64_t Chunk = 1048576;
    std::vector<uint8_t> buffer(size_t(std::min(size, Chunk)));
    for (int64_t done = 0; done < size;) {
        const int64_t n = std::min(Chunk, size - done);
        ReadAt(buffer.data(), n, start + done);
        target.WriteAt(buffer.data(), n, start + done);
        done += n;
    }
}
