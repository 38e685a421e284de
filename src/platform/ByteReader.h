#pragma once
// Bounds-checked reading of integers and byte runs from untrusted data: every read fails with
// EShortData instead of running past the end, so a parser never needs its own length arithmetic.
#include <cstdint>
#include <span>
#include <string>

#include "platform/Exception.h"

class EShortData : public EReadError { public: using EReadError::EReadError; };

class TByteReader {
public:
    explicit TByteReader(std::span<const uint8_t> data) : data_(data) {}
    TByteReader(const void* data, int64_t size)
        : data_(static_cast<const uint8_t*>(data), static_cast<size_t>(size < 0 ? 0 : size)) {}

    int64_t Size() const { return int64_t(data_.size()); }
    int64_t Position() const { return position_; }
    int64_t Remaining() const { return Size() - position_; }
    bool AtEnd() const { return position_ >= Size(); }
    // Moves to an absolute offset; the end itself is a valid position.
    void Seek(int64_t position);
    void Skip(int64_t count) { Seek(Need(count)); }

    uint8_t U8() { return data_[size_t(Advance(1))]; }
    uint16_t U16LE() { return U16LEAt(Advance(2)); }
    uint32_t U32LE() { return U32LEAt(Advance(4)); }
    uint16_t U16BE() { return U16BEAt(Advance(2)); }
    uint32_t U32BE() { return U32BEAt(Advance(4)); }
    // The next count bytes, which stay owned by the caller's buffer.
    std::span<const uint8_t> Bytes(int64_t count) { return data_.subspan(size_t(Advance(count)), size_t(count)); }

    // Reads at an absolute offset without moving.
    uint8_t U8At(int64_t offset) const { return data_[size_t(Check(offset, 1))]; }
    uint16_t U16LEAt(int64_t offset) const;
    uint32_t U32LEAt(int64_t offset) const;
    uint16_t U16BEAt(int64_t offset) const;
    uint32_t U32BEAt(int64_t offset) const;
    std::span<const uint8_t> BytesAt(int64_t offset, int64_t count) const {
        return data_.subspan(size_t(Check(offset, count)), size_t(count));
    }

private:
    // Returns offset when [offset, offset + count) lies inside the data.
    int64_t Check(int64_t offset, int64_t count) const;
    int64_t Need(int64_t count) const { return Check(position_, count) + count; }
    int64_t Advance(int64_t count) {
        const int64_t start = Check(position_, count);
        position_ = start + count;
        return start;
    }

    std::span<const uint8_t> data_;
    int64_t position_ = 0;
};

class TStream;
// Reads exactly count bytes from the stream, else EShortData naming what was being read.
void ReadExact(TStream& stream, void* buffer, int64_t count, const std::string& what);
