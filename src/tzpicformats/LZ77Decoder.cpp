#include "LZ77Decoder.h"

#include <zlib.h>

#include <algorithm>
#include <limits>

namespace {

const char* const kInflateError = "LZ77 decompression error.";

uInt Clamped(int64_t size) { return uInt(std::clamp<int64_t>(size, 0, std::numeric_limits<uInt>::max())); }

}  // namespace

struct TLZ77Decoder::TInflate {
    z_stream stream{};
    bool open = false;
    int lastResult = Z_OK;
};

TLZ77Decoder::TLZ77Decoder(int flushMode, bool autoReset)
    : inflate_(std::make_unique<TInflate>()), flushMode_(flushMode), autoReset_(autoReset) {}

TLZ77Decoder::~TLZ77Decoder() {
    if (inflate_->open) inflateEnd(&inflate_->stream);
}

void TLZ77Decoder::StartDecoding() {
    if (inflate_->open) inflateEnd(&inflate_->stream);
    inflate_->stream = z_stream{};
    if (inflateInit(&inflate_->stream) < 0) RaiseCompressionError(kInflateError);
    inflate_->open = true;
    inflate_->lastResult = Z_OK;
}

void TLZ77Decoder::Decode(const uint8_t*& source, uint8_t*& target, int64_t unpackedSize, int64_t packedSize) {
    if (!inflate_->open) StartDecoding();
    z_stream& stream = inflate_->stream;
    stream.next_in = const_cast<Bytef*>(source);
    stream.avail_in = Clamped(packedSize);
    if (autoReset_) inflate_->lastResult = inflateReset(&stream);
    if (inflate_->lastResult != Z_OK) return;
    stream.next_out = target;
    stream.avail_out = Clamped(unpackedSize);
    int result = inflate(&stream, flushMode_);
    // No progress for want of input or room is no damage; the next call may bring more.
    if (result == Z_BUF_ERROR) result = Z_OK;
    inflate_->lastResult = result;
    source = stream.next_in;
    target = stream.next_out;
    if (result < 0 || result == Z_NEED_DICT) RaiseCompressionError(kInflateError);
}

void TLZ77Decoder::FinishDecoding() {
    if (!inflate_->open) return;
    inflate_->open = false;
    if (inflateEnd(&inflate_->stream) < 0) RaiseCompressionError(kInflateError);
}

int64_t TLZ77Decoder::AvailableInput() const { return inflate_->stream.avail_in; }
int64_t TLZ77Decoder::AvailableOutput() const { return inflate_->stream.avail_out; }
