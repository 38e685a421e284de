#include "imaging/core/KVDibBitmap.h"

#include <algorithm>

#include "imaging/core/KVBasicHelpers.h"
#include "platform/Exception.h"

namespace {

std::vector<uint8_t> AllocateRows(int width, int height, int bits, int64_t& rowLen) {
    rowLen = KVBitmapRowLen(width, bits, 32);
    if (rowLen * height > KVMaxImageBytes)
        throw EOutOfResources("Picture of " + std::to_string(width) + " x " + std::to_string(height) +
                              " pixels is too large");
    return std::vector<uint8_t>(size_t(rowLen * height), 0);
}

}  // namespace

uint8_t* TKVDibbitmap::GetScanline(int row) { return bits_.data() + rowLen_ * (int64_t(height_) - row - 1); }

TKVPixelFormat TKVDibbitmap::GetPixelFormat() {
    return bitCount_ == 1 ? kv1Bit : bitCount_ == 24 ? kv24RGB : kvNoFormat;
}

void TKVDibbitmap::GetPaletteEntry(int, TKVRGB& entry) { entry = TKVRGB{}; }

void TKVDibbitmap::Allocate(int width, int height, TKVPixelFormat format) {
    if (format == kv1Bit) AllocateDIB(width, height, 1);
    else if (format == kv24RGB) AllocateDIB(width, height, 24);
}

void TKVDibbitmap::Assign(TObject* source) {
    auto* dib = dynamic_cast<TKVDibbitmap*>(source);
    if (!dib || dib == this) return;
    AllocateDIB(dib->width_, dib->height_, dib->bitCount_);
    if (dib->bits_.size() == bits_.size()) bits_ = dib->bits_;
}

void TKVDibbitmap::AllocateDIB(int width, int height, int bits) {
    if (width <= 0 || height <= 0 || (bits != 1 && bits != 24)) return;
    int64_t rowLen;
    std::vector<uint8_t> rows = AllocateRows(width, height, bits, rowLen);
    bits_ = std::move(rows);
    width_ = width;
    height_ = height;
    bitCount_ = bits;
    rowLen_ = rowLen;
}

void TKVDibbitmap::FreeDIB() {
    bits_.clear();
    bits_.shrink_to_fit();
    width_ = height_ = bitCount_ = 0;
    rowLen_ = 0;
}

TKVWorkBitmap::TKVWorkBitmap(int width, int bitCount, int height) {
    if (width > 0 && height > 0) Allocate(width, height, bitCount);
}

void TKVWorkBitmap::Allocate(int width, int height, int bitCount) {
    if (width == width_ && height == height_ && bitCount == bitCount_) return;
    FreeBits();
    int64_t rowLen;
    bits_ = AllocateRows(std::max(width, 0), std::max(height, 0), bitCount, rowLen);
    width_ = width;
    height_ = height;
    bitCount_ = bitCount;
    rowLen_ = rowLen;
}

void TKVWorkBitmap::FreeBits() {
    bits_.clear();
    bits_.shrink_to_fit();
    width_ = height_ = bitCount_ = 0;
    rowLen_ = 0;
}
