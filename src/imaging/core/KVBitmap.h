#pragma once
// The image library's bitmap: nine pixel formats, rows in memory, in a temporary file or in a
// class-library TBitmap, an optional palette and an optional alpha channel.
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "imaging/core/KVPixelTypes.h"
#include "platform/Classes.h"

class TBitmap;
class TCanvas;
class TKVFileBuffer;
class TKVDibbitmap;
struct TKVRenderParams;
enum TKVBlendOperation : uint8_t;
enum TResampleFilter : uint8_t;

// Allocation refuses pictures whose pixel data would exceed this many bytes.
constexpr int64_t KVMaxImageBytes = int64_t(1) << 36;

// Memory threshold given to new bitmaps; -1 takes half of the available physical memory.
extern int64_t KVDefaultMemoryThreshold;
// The threshold of a bitmap without one of its own: half of the available memory, 32 MB when
// the system gives no figure.
int64_t KVThresholdForAvailableMemory(int64_t availableBytes);

// What bitmaps and DIB bitmaps share, so that renderers and copies can take either.
class TKVBaseBitmap : public TObject {
public:
    TKVAccess Access() const { return access_; }
    void SetAccess(TKVAccess access) { access_ = access; }

    // Row 0 is the top row. In the file location only the row returned last is valid.
    virtual uint8_t* GetScanline(int row) = 0;
    virtual int GetBitCount() = 0;
    virtual int GetHeight() = 0;
    virtual int GetWidth() = 0;
    virtual TKVPixelFormat GetPixelFormat() = 0;
    virtual int64_t GetRowLen() = 0;
    // An index outside the palette leaves the entry unchanged.
    virtual void GetPaletteEntry(int index, TKVRGB& entry) = 0;
    // color is packed 0x00RRGGBB.
    virtual void SetPaletteEntry(int index, uint32_t color) = 0;
    virtual int GetPaletteCount() = 0;
    virtual void Allocate(int width, int height, TKVPixelFormat format) = 0;
    virtual void Assign(TObject* source) = 0;

private:
    TKVAccess access_ = kvaReadWrite;
};

// Sets a bitmap's Access for a scope, as copy loops do, and restores it on every exit.
class TKVAccessScope {
public:
    TKVAccessScope(TKVBaseBitmap& bitmap, TKVAccess access) : bitmap_(bitmap), saved_(bitmap.Access()) {
        bitmap.SetAccess(access);
    }
    ~TKVAccessScope() { bitmap_.SetAccess(saved_); }
    TKVAccessScope(const TKVAccessScope&) = delete;
    TKVAccessScope& operator=(const TKVAccessScope&) = delete;

private:
    TKVBaseBitmap& bitmap_;
    TKVAccess saved_;
};

class TKVBitmap : public TKVBaseBitmap {
public:
    TKVBitmap();
    ~TKVBitmap() override;
    TKVBitmap(const TKVBitmap&) = delete;
    TKVBitmap& operator=(const TKVBitmap&) = delete;

    // An alpha channel: kv8Gray, all 255; the TBitmap location becomes memory.
    static std::unique_ptr<TKVBitmap> CreateAlpha(int width, int height, TKVLocation location);

    uint8_t* GetScanline(int row) override;
    int GetBitCount() override;
    int GetHeight() override;
    int GetWidth() override;
    TKVPixelFormat GetPixelFormat() override;
    int64_t GetRowLen() override;
    void GetPaletteEntry(int index, TKVRGB& entry) override;
    void SetPaletteEntry(int index, uint32_t color) override;
    int GetPaletteCount() override;
    // Discards the image and its alpha channel and allocates new pixels (zero).
    // Raises for a format the TBitmap location cannot hold and for a picture too large to
    // store; a failure leaves the bitmap as it was.
    void Allocate(int width, int height, TKVPixelFormat format) override;
    // As Allocate, but the pixels hold anything until written (the rows' padding excepted): for a
    // decoder that writes every pixel, or fills the picture when it stops short.
    void AllocateUnfilled(int width, int height, TKVPixelFormat format);
    // From a TKVBitmap or a TBitmap; other sources are ignored.
    void Assign(TObject* source) override;

    // --- Storage
    TKVLocation Location() const { return location_; }
    // Moves the rows, keeping pixels and palette; a failure leaves the bitmap as it was.
    void SetLocation(TKVLocation location);
    void FreeImage(bool withAlpha = true);
    bool IsEmpty();
    // Switches to the TBitmap location and returns that TBitmap.
    TBitmap* GetTBitmap();
    // Switches to the TBitmap location and returns that TBitmap's canvas.
    TCanvas& GetCanvas();
    // Reads size and format back from the TBitmap after somebody else changed it.
    void SyncWithTBitmap();
    // Shows a TBitmap owned by the caller without copying. 1-bit, 8-bit and 24-bit bitmaps are
    // taken as they are; other formats are first converted to 24-bit in the caller's bitmap.
    void EncapsulateTBitmap(TBitmap* bitmap, bool freeFirst);
    // Shows rows owned by the caller (bottom-up, row length from the format and RowAlign).
    void EncapsulateMemory(void* buffer, int width, int height, TKVPixelFormat format, bool freeFirst);
    // Hands the pixel storage, palette and alpha channel to target; this bitmap becomes empty.
    void MoveStorageTo(TKVBitmap& target);
    // Copies the pixels of source; keeps this bitmap's alpha channel, RowAlign and DitherMode.
    void AssignImage(TKVBitmap& source);
    void SyncTBitmapPalette();

    // --- Size and format
    void SetWidth(int width);
    void SetHeight(int height);
    void SetPixelFormat(TKVPixelFormat format);
    void ConvertPixelFormat(TKVPixelFormat format);
    // Converts the pixels of a source of the same size into this bitmap's format and takes
    // over its alpha channel.
    void ConvertFrom(TKVBitmap& source);

    // --- Palette: 256 entries for kv8Paletted, else none.
    TKVRGB* Palette() { return palette_.empty() ? nullptr : palette_.data(); }

    // --- Alpha channel
    // Created fully opaque on first use; an alpha channel has none and returns nullptr.
    TKVBitmap* GetAlphaChannel();
    bool GetHasAlphaChannel() const { return alphaChannel_ != nullptr; }
    void RemoveAlphaChannel();
    bool IsAlpha() const { return isAlpha_; }

    // --- Content tests
    // True when every byte is 255 (a wholly opaque alpha channel); writes of other values clear it.
    bool Full() const { return full_; }
    void SetFull(bool full) { full_ = full; }
    void SyncFull();
    bool IsAllZero();
    bool IsGrayScale();

    // --- Settings
    // Without a threshold of its own (KVDefaultMemoryThreshold -1) a bitmap asks the system for
    // the memory available each time it decides, not when it is made.
    int64_t MemoryThreshold() const;
    void SetMemoryThreshold(int64_t bytes) { memoryThreshold_ = bytes; }
    // Conversions to kv1Bit: 0 ordered dither, 1 threshold.
    int DitherMode() const { return ditherMode_; }
    void SetDitherMode(int mode) { ditherMode_ = mode; }
    // Colours asked for when converting to kv8Paletted.
    int PaletteColors() const { return paletteColors_; }
    void SetPaletteColors(int colors) { paletteColors_ = colors; }
    // The gray range that rendering stretches to 0..255 for kv16Gray and kv32f.
    double RangeMin() const { return rangeMin_; }
    void SetRangeMin(double value) { rangeMin_ = value; }
    double RangeMax() const { return rangeMax_; }
    void SetRangeMax(double value) { rangeMax_ = value; }
    // channel 0 red, 1 green, 2 blue.
    int ChannelOffset(int channel) const { return channelOffset_[channel]; }
    void SetChannelOffset(int channel, int value) { channelOffset_[channel] = value; }
    uint8_t AdjustEnabled() const { return adjustEnabled_; }
    void SetAdjustEnabled(uint8_t enabled) { adjustEnabled_ = enabled; }
    int Contrast() const { return contrast_; }
    void SetContrast(int contrast) { contrast_ = contrast; }
    // Row alignment in bits; takes effect at the next allocation. Raises EInvalidOperation for
    // anything but a positive multiple of 8, which rows of whole bytes could not honour.
    int RowAlign() const { return rowAlign_; }
    void SetRowAlign(int bits);

    // --- Single pixels (no range checks)
    uint8_t GetByte(int x, int y);
    void SetByte(int x, int y, uint8_t value);
    uint16_t GetWord(int x, int y);
    void SetWord(int x, int y, uint16_t value);
    float GetFloat(int x, int y);
    void SetFloat(int x, int y, float value);
    // The four bytes C, M, Y, K as a little-endian value.
    uint32_t GetCMYK(int x, int y);
    void SetCMYK(int x, int y, uint32_t value);
    TKVRGB48 GetRGB48(int x, int y);
    void SetRGB48(int x, int y, TKVRGB48 value);
    // Any format as blue, green, red.
    TKVRGB GetPixelRGB(int x, int y);
    uint8_t GetAlpha(int x, int y);
    void SetAlpha(int x, int y, uint8_t value);

    // --- Fills. Colour formats take a class-library colour (0x00BBGGRR, system colours resolved).
    void Fill(double value);
    // Inclusive corners, clipped to the image.
    void FillRect(int x1, int y1, int x2, int y2, double value);

    // --- Rectangle copies, clipped to both bitmaps.
    void CopyRectTo(TKVBitmap& dest, int sourceX, int sourceY, int width, int height, int destX, int destY);
    // Between the alpha channels; each destination byte becomes the larger of the two.
    void CopyAlphaRectTo(TKVBitmap& dest, int sourceX, int sourceY, int width, int height, int destX,
                         int destY);
    void MoveRegion(int x1, int y1, int x2, int y2, int destX, int destY, double fillValue);
    // Alignment 0 keeps the content at the left/top, 1 centres it, 2 puts it at the right/bottom.
    void ResizeCanvas(int width, int height, int horzAlign, int vertAlign, double fillValue,
                      double alphaFillValue);

    // --- Rendering (KVBitmapRender.h) into a kv24RGB destination whose rows are all in memory
    // or in a TBitmap; raises for any other destination.
    void RenderToTKVBitmap(TKVBitmap& dest, const TKVRenderParams& params);
    // The TBitmap is shown through a TKVBitmap without copying; it is made 24-bit first.
    void RenderToTBitmap(TBitmap& dest, const TKVRenderParams& params);
    void DrawToTKVBitmap(TKVBitmap& dest, int destX, int destY, int destWidth, int destHeight, int sourceX,
                         int sourceY, int sourceWidth, int sourceHeight, int transparency,
                         TKVBlendOperation blend, TResampleFilter filter);
    void DrawToTBitmap(TBitmap& dest, int destX, int destY, int destWidth, int destHeight, int sourceX, int sourceY,
                       int sourceWidth, int sourceHeight, int transparency, TKVBlendOperation blend,
                       TResampleFilter filter);

    // --- Copies from other bitmaps
    void CopyFromTBitmap(TBitmap& source);
    void CopyFromDibbitmap(TKVDibbitmap* source);

private:
    explicit TKVBitmap(std::optional<int64_t> memoryThreshold);
    void ReleaseMappedRow();
    void Reallocate(int width, int height, TKVPixelFormat format, bool zeroed);
    void AllocateStorage(bool zeroed = true);
    void AllocateTBitmapStorage(bool zeroed);
    void BuildRowTable();
    void SetFieldsFromFormat();
    void CopyRowsFrom(TKVBitmap& source);
    void ConvertPixelsFrom(TKVBitmap& source);
    void CopyPaletteFrom(TKVBitmap& source);
    void ReadTBitmapPalette();
    std::unique_ptr<TKVBitmap> MakeSibling(TKVLocation location) const;
    std::unique_ptr<TKVBitmap> ResizedCopy(int width, int height);
    void Resize(int width, int height);

    std::unique_ptr<TKVFileBuffer> fileBuffer_;
    uint8_t* mappedRow_ = nullptr;
    int mappedRowIndex_ = -1;
    TKVAccess mappedAccess_ = 0;
    std::vector<TKVRGB> palette_;
    std::unique_ptr<TKVBitmap> alphaChannel_;
    uint8_t* memoryBits_ = nullptr;
    uint8_t* memoryBlock_ = nullptr;
    TBitmap* bitmap_ = nullptr;
    std::vector<uint8_t*> rowTable_;
    int width_ = 0;
    int height_ = 0;
    int bitCount_ = 0;
    int64_t rowLen_ = 0;
    TKVPixelFormat pixelFormat_ = kvNoFormat;
    bool isAlpha_ = false;
    TKVLocation location_ = kvFile;
    bool full_ = false;
    bool bitmapNotOwned_ = false;
    bool memoryNotOwned_ = false;
    std::optional<int64_t> memoryThreshold_;  // none: decided from the memory available
    int ditherMode_ = 1;
    int paletteColors_ = 256;
    double rangeMin_ = 0;
    double rangeMax_ = 0;
    int channelOffset_[3] = {0, 0, 0};
    uint8_t adjustEnabled_ = 0;
    int contrast_ = 0;
    int rowAlign_ = 32;
};
