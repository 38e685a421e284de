#pragma once
// The temporary file behind the bitmap's file location and the virtual image list: blocks of
// the file are brought into memory and written back when released.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "imaging/core/KVPixelTypes.h"

// The library's temporary folder; empty means the system's (TempDirectory).
extern std::string KVTempFolder;
// The folder actually used, with a trailing "/".
std::string KVTempPath();
// folder + prefix + "-" + eight upper-case hexadecimal digits + ".tmp", for a name not in use.
std::string KVMakeTempFileName(const std::string& prefix, const std::string& folder);
// MemAvailable of /proc/meminfo in bytes; 0 when unknown.
int64_t KVAvailablePhysicalMemory();

class TKVFileBuffer {
public:
    TKVFileBuffer() = default;
    ~TKVFileBuffer();
    TKVFileBuffer(const TKVFileBuffer&) = delete;
    TKVFileBuffer& operator=(const TKVFileBuffer&) = delete;

    // Creates a new file (readable and writable by the owner only) in the temporary folder
    // and sets its size; false when that fails.
    bool CreateFile(const std::string& prefix, int64_t size);
    bool IsOpen() const { return fd_ >= 0; }
    const std::string& FileName() const { return fileName_; }
    int64_t FileSize() const;
    void SetFileSize(int64_t size);

    // A copy of length bytes at position, read from the file when access has kvaRead.
    uint8_t* MapBlock(TKVAccess access, int64_t length, int64_t position);
    // Writes the block back when it was mapped with kvaWrite, then frees it.
    void UnmapBlock(uint8_t* address);
    int IndexOfBlock(const uint8_t* address) const;
    void UnmapAll();
    // Drops the blocks without writing them back and deletes the file.
    void Close();
    // Copies size bytes from start of this file to the same place in target.
    void CopyTo(TKVFileBuffer& target, int64_t size, int64_t start);

private:
    struct Block {
        int64_t position;
        int64_t length;
        std::unique_ptr<uint8_t[]> memory;
        TKVAccess access;
    };
    void ReadAt(uint8_t* buffer, int64_t length, int64_t position);
    void WriteAt(const uint8_t* buffer, int64_t length, int64_t position);

    std::string fileName_;
    int fd_ = -1;
    std::vector<Block> blocks_;
};
