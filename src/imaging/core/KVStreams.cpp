#include "imaging/core/KVStreams.h"

#include <algorithm>
#include <cstring>

int64_t TNulStream::Read(void*, int64_t count) {
    position_ += count;
    size_ = std::max(size_, position_);
    return count;
}

int64_t TNulStream::Write(const void*, int64_t count) {
    position_ += count;
    size_ = std::max(size_, position_);
    return count;
}

int64_t TNulStream::Seek(int64_t offset, TSeekOrigin origin) {
    switch (origin) {
        case TSeekOrigin::soBeginning: position_ = offset; break;
        case TSeekOrigin::soCurrent: position_ += offset; break;
        case TSeekOrigin::soEnd: return position_ = size_ - offset;
    }
    size_ = std::max(size_, position_);
    return position_;
}

TKVMemStream::TKVMemStream(const void* memory, int64_t size)
    : memory_(static_cast<const uint8_t*>(memory)), size_(memory ? std::max<int64_t>(size, 0) : 0) {}

int64_t TKVMemStream::Read(void* buffer, int64_t count) {
    const int64_t n = std::clamp<int64_t>(size_ - position_, 0, std::max<int64_t>(count, 0));
    if (n > 0) std::memcpy(buffer, memory_ + position_, size_t(n));
    position_ += n;
    return n;
}

int64_t TKVMemStream::Seek(int64_t offset, TSeekOrigin origin) {
    switch (origin) {
        case TSeekOrigin::soBeginning: position_ = offset; break;
        case TSeekOrigin::soCurrent: position_ += offset; break;
        case TSeekOrigin::soEnd: position_ = size_ + offset; break;
    }
    position_ = std::max<int64_t>(position_, 0);
    return position_;
}

TKVBufferedReadStream::TKVBufferedReadStream(TStream& source, int64_t bufferSize)
    : source_(source), buffer_(size_t(std::max<int64_t>(bufferSize, 1))), position_(source.Position()),
      size_(source.Size()) {
    Fill();
}

void TKVBufferedReadStream::Fill() {
    source_.Seek(position_, TSeekOrigin::soBeginning);
    filled_ = std::max<int64_t>(source_.Read(buffer_.data(), int64_t(buffer_.size())), 0);
    index_ = 0;
}

void TKVBufferedReadStream::SetBufferSize(int64_t size) {
    buffer_.assign(size_t(std::max<int64_t>(size, 1)), 0);
    Fill();
}

int64_t TKVBufferedReadStream::Read(void* buffer, int64_t count) {
    // A larger read enlarges the buffer, but never beyond what the source still holds.
    const int64_t wanted = std::min(count, size_ - position_);
    if (wanted > int64_t(buffer_.size())) {
        buffer_.resize(size_t(wanted));
        Fill();
    }
    auto* out = static_cast<uint8_t*>(buffer);
    int64_t copied = 0;
    while (copied < count && position_ < size_) {
        if (index_ >= filled_) {
            Fill();
            if (filled_ == 0) break;
        }
        const int64_t n = std::min({count - copied, filled_ - index_, size_ - position_});
        std::memcpy(out + copied, buffer_.data() + index_, size_t(n));
        copied += n;
        index_ += n;
        position_ += n;
    }
    return copied;
}

int64_t TKVBufferedReadStream::Write(const void*, int64_t) {
    throw EStreamError("TKVBufferedReadStream cannot write!");
}

int64_t TKVBufferedReadStream::Seek(int64_t offset, TSeekOrigin origin) {
    int64_t position = position_;
    switch (origin) {
        case TSeekOrigin::soBeginning: position = offset; break;
        case TSeekOrigin::soCurrent: position += offset; break;
        case TSeekOrigin::soEnd: position = size_ - offset; break;
    }
    position = std::max<int64_t>(position, 0);
    if (position != position_) {
        position_ = position;
        Fill();
    }
    return position_;
}
