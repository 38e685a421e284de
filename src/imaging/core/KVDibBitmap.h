#pragma once
// Bitmaps of our own buffers with rows bottom-up: the 1-bit or 24-bit DIB bitmap that shares the
// bitmap interface, and a plain scratch bitmap.
#include <cstdint>
#include <memory>
#include <vector>

#include "imaging/core/KVBitmap.h"

class TKVDibCanvas;

class TKVDibbitmap : public TKVBaseBitmap {
public:
    TKVDibbitmap();
    ~TKVDibbitmap() override;

    uint8_t* GetScanline(int row) override;
    int GetBitCount() override { return bitCount_; }
    int GetHeight() override { return height_; }
    int GetWidth() override { return width_; }
    // kv1Bit or kv24RGB.
    TKVPixelFormat GetPixelFormat() override;
    int64_t GetRowLen() override { return rowLen_; }
    // Always black: the bitmap has no palette.
    void GetPaletteEntry(int index, TKVRGB& entry) override;
    void SetPaletteEntry(int, uint32_t) override {}
    int GetPaletteCount() override { return 0; }
    // kv1Bit and kv24RGB only; other formats are ignored.
    void Allocate(int width, int height, TKVPixelFormat format) override;
    // From another TKVDibbitmap only.
    void Assign(TObject* source) override;

    // bits 1 or 24; nothing when width or height is not positive. The pixels start black.
    void AllocateDIB(int width, int height, int bits);
    void FreeDIB();
    uint8_t* Bits() { return bits_.data(); }
    // A canvas drawing on the rows, made on first use. Each drawing call goes through a
    // top-down copy of the picture, so draw on a TKVBitmap's canvas where speed matters.
    TCanvas& Canvas();

private:
    int width_ = 0;
    int height_ = 0;
    int bitCount_ = 0;
    int64_t rowLen_ = 0;
    std::vector<uint8_t> bits_;
    std::unique_ptr<TKVDibCanvas> canvas_;
};

// A scratch buffer of rows, bottom-up, 32-bit aligned.
class TKVWorkBitmap {
public:
    TKVWorkBitmap() = default;
    TKVWorkBitmap(int width, int bitCount, int height);
    // Nothing when all three are unchanged.
    void Allocate(int width, int height, int bitCount);
    void FreeBits();
    uint8_t* GetScanline(int row) { return bits_.data() + rowLen_ * (int64_t(height_) - row - 1); }

    int Width() const { return width_; }
    int Height() const { return height_; }
    int BitCount() const { return bitCount_; }
    int64_t RowLen() const { return rowLen_; }
    uint8_t* Bits() { return bits_.data(); }

private:
    int width_ = 0;
    int height_ = 0;
    int bitCount_ = 0;
    int64_t rowLen_ = 0;
    std::vector<uint8_t> bits_;
};
