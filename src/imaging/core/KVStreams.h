#pragma once
// Streams of the image library: one that stores nothing, a read-only view of memory and a
// read-only buffered view of another stream.
#include <cstdint>
#include <vector>

#include "platform/Classes.h"

// Counts what is written and read; stores nothing.
class TNulStream : public TStream {
public:
    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    // From the end the offset is subtracted: size - offset.
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override { return size_; }
    void SetSize(int64_t size) override { size_ = size; }

private:
    int64_t position_ = 0;
    int64_t size_ = 0;
};

// Reads memory owned by somebody else; writing and resizing do nothing.
class TKVMemStream : public TStream {
public:
    TKVMemStream(const void* memory, int64_t size);
    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void*, int64_t) override { return 0; }
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override { return size_; }
    void SetSize(int64_t) override {}
    const uint8_t* Memory() const { return memory_; }

private:
    const uint8_t* memory_;
    int64_t size_;
    int64_t position_ = 0;
};

// Reads another stream (not owned) through a buffer. The source's size is taken at creation.
class TKVBufferedReadStream : public TStream {
public:
    static constexpr int64_t DefaultBufferSize = 8192;

    explicit TKVBufferedReadStream(TStream& source, int64_t bufferSize = DefaultBufferSize);
    int64_t Read(void* buffer, int64_t count) override;
    // Raises EStreamError "TKVBufferedReadStream cannot write!".
    int64_t Write(const void* buffer, int64_t count) override;
    // From the end the offset is subtracted: size - offset.
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override { return size_; }
    void SetSize(int64_t) override {}
    int64_t BufferSize() const { return int64_t(buffer_.size()); }
    void SetBufferSize(int64_t size);

private:
    void Fill();

    TStream& source_;
    std::vector<uint8_t> buffer_;
    int64_t filled_ = 0;  // bytes of the buffer that came from the source
    int64_t index_ = 0;   // next byte of the buffer to read
    int64_t position_;
    int64_t size_;
};
