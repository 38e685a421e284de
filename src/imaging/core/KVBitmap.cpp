#include "imaging/core/KVBitmap.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "imaging/core/KVBasicHelpers.h"
#include "imaging/core/KVFileBuffer.h"
#include "platform/Graphics.h"

int64_t KVDefaultMemoryThreshold = -1;

namespace {

constexpr int64_t DefaultThresholdWithoutMemoryFigure = 33554432;

std::optional<int64_t> DefaultMemoryThreshold() {
    if (KVDefaultMemoryThreshold != -1) return KVDefaultMemoryThreshold;
    return std::nullopt;
}

void CheckTBitmapFormat(TKVPixelFormat format) {
    const char* name = format == kv32f ? "kv32f" : format == kvCMYK ? "kvCMYK" : format == kvRGB48 ? "kvRGB48" : nullptr;
    if (name) throw Exception(std::string(name) + " pixel format not allowed when Location=kvTBitmap");
}

TPixelFormat TBitmapFormatFor(TKVPixelFormat format) {
    switch (format) {
        case kv1Bit: return TPixelFormat::pf1bit;
        case kv8Paletted:
        case kv8Gray:
        case kv16Gray: return TPixelFormat::pf8bit;
        default: return TPixelFormat::pf24bit;
    }
}

std::vector<TPaletteEntry> GrayPalette() {
    std::vector<TPaletteEntry> palette(256);
    for (int i = 0; i < 256; ++i) palette[size_t(i)] = {uint8_t(i), uint8_t(i), uint8_t(i), 0};
    return palette;
}

// Rows of other depths would not match any pixel format of ours: they become 24-bit.
void NormaliseTBitmapFormat(TBitmap& bitmap) {
    const TPixelFormat format = bitmap.PixelFormat();
    if (format != TPixelFormat::pf1bit && format != TPixelFormat::pf8bit && format != TPixelFormat::pf24bit)
        bitmap.SetPixelFormat(TPixelFormat::pf24bit);
}

// Saturates instead of overflowing for absurd sizes.
int64_t ImageBytes(int width, int height, TKVPixelFormat format, int rowAlign) {
    const int64_t rowLen = KVBitmapRowLen(width, KVPixelFormatBitCount(format), rowAlign);
    return height > 0 && rowLen > INT64_MAX / height ? INT64_MAX : rowLen * height;
}

[[noreturn]] void RaiseTooLarge(int width, int height) {
    throw EOutOfResources("Picture of " + std::to_string(width) + " x " + std::to_string(height) +
                          " pixels is too large");
}

}  // namespace

int64_t KVThresholdForAvailableMemory(int64_t availableBytes) {
    return availableBytes == 0 ? DefaultThresholdWithoutMemoryFigure : availableBytes / 2;
}

// --- Construction

TKVBitmap::TKVBitmap() : TKVBitmap(DefaultMemoryThreshold()) {}

TKVBitmap::TKVBitmap(std::optional<int64_t> memoryThreshold)
    : fileBuffer_(std::make_unique<TKVFileBuffer>()), memoryThreshold_(memoryThreshold) {}

int64_t TKVBitmap::MemoryThreshold() const {
    return memoryThreshold_ ? *memoryThreshold_ : KVThresholdForAvailableMemory(KVAvailablePhysicalMemory());
}

void TKVBitmap::SetRowAlign(int bits) {
    if (bits <= 0 || bits % 8 != 0)
        throw EInvalidOperation("Row alignment of " + std::to_string(bits) + " bits is not a whole number of bytes");
    rowAlign_ = bits;
}

TKVBitmap::~TKVBitmap() { FreeImage(true); }

std::unique_ptr<TKVBitmap> TKVBitmap::CreateAlpha(int width, int height, TKVLocation location) {
    auto alpha = std::make_unique<TKVBitmap>();
    alpha->isAlpha_ = true;
    alpha->location_ = location == kvTBitmap ? kvMemory : location;
    alpha->Allocate(width, height, kv8Gray);
    alpha->Fill(255);
    return alpha;
}

std::unique_ptr<TKVBitmap> TKVBitmap::MakeSibling(TKVLocation location) const {
    std::unique_ptr<TKVBitmap> sibling(new TKVBitmap(memoryThreshold_));
    sibling->location_ = location;
    sibling->isAlpha_ = isAlpha_;
    sibling->ditherMode_ = ditherMode_;
    sibling->paletteColors_ = paletteColors_;
    sibling->rowAlign_ = rowAlign_;
    return sibling;
}

// --- Rows

void TKVBitmap::ReleaseMappedRow() {
    if (!mappedRow_) return;
    uint8_t* row = mappedRow_;
    mappedRow_ = nullptr;
    mappedRowIndex_ = -1;
    fileBuffer_->UnmapBlock(row);
}

uint8_t* TKVBitmap::GetScanline(int row) {
    switch (location_) {
        case kvMemory: return memoryBits_ ? memoryBits_ + rowLen_ * (int64_t(height_) - row - 1) : nullptr;
        case kvTBitmap:
            SyncWithTBitmap();
            return rowTable_.empty() ? nullptr : rowTable_[size_t(row)];
        case kvFile:
            if (!fileBuffer_->IsOpen()) return nullptr;
            // Pixel loops ask for the same row again and again.
            if (row == mappedRowIndex_ && Access() == mappedAccess_) return mappedRow_;
            ReleaseMappedRow();
            mappedRow_ = fileBuffer_->MapBlock(Access(), rowLen_, rowLen_ * row);
            mappedRowIndex_ = row;
            mappedAccess_ = Access();
            return mappedRow_;
    }
    return nullptr;
}

int TKVBitmap::GetBitCount() {
    SyncWithTBitmap();
    return bitCount_;
}

int TKVBitmap::GetHeight() {
    SyncWithTBitmap();
    return height_;
}

int TKVBitmap::GetWidth() {
    SyncWithTBitmap();
    return width_;
}

TKVPixelFormat TKVBitmap::GetPixelFormat() {
    SyncWithTBitmap();
    return pixelFormat_;
}

int64_t TKVBitmap::GetRowLen() {
    SyncWithTBitmap();
    return rowLen_;
}

// --- Palette

void TKVBitmap::GetPaletteEntry(int index, TKVRGB& entry) {
    SyncWithTBitmap();
    if (index >= 0 && index < int(palette_.size())) entry = palette_[size_t(index)];
}

void TKVBitmap::SetPaletteEntry(int index, uint32_t color) {
    SyncWithTBitmap();
    if (index < 0 || index >= int(palette_.size())) return;
    palette_[size_t(index)] = KVCreateRGB(uint8_t(color >> 16), uint8_t(color >> 8), uint8_t(color));
    SyncTBitmapPalette();
}

int TKVBitmap::GetPaletteCount() {
    SyncWithTBitmap();
    return int(palette_.size());
}

void TKVBitmap::SyncTBitmapPalette() {
    if (location_ != kvTBitmap || !bitmap_ || palette_.empty()) return;
    std::vector<TPaletteEntry> entries(palette_.size());
    for (size_t i = 0; i < palette_.size(); ++i) entries[i] = {palette_[i].r, palette_[i].g, palette_[i].b, 0};
    bitmap_->SetPalette(entries);
}

void TKVBitmap::ReadTBitmapPalette() {
    palette_.assign(256, TKVRGB{});
    const std::vector<TPaletteEntry>& entries = bitmap_->Palette();
    for (size_t i = 0; i < std::min(entries.size(), palette_.size()); ++i)
        palette_[i] = KVCreateRGB(entries[i].peRed, entries[i].peGreen, entries[i].peBlue);
}

void TKVBitmap::CopyPaletteFrom(TKVBitmap& source) {
    std::copy_n(source.palette_.begin(), std::min(palette_.size(), source.palette_.size()), palette_.begin());
    SyncTBitmapPalette();
}

// --- Allocation

void TKVBitmap::SetFieldsFromFormat() {
    bitCount_ = KVPixelFormatBitCount(pixelFormat_);
    rowLen_ = KVBitmapRowLen(width_, bitCount_, rowAlign_);
}

void TKVBitmap::Allocate(int width, int height, TKVPixelFormat format) { Reallocate(width, height, format, true); }

void TKVBitmap::AllocateUnfilled(int width, int height, TKVPixelFormat format) {
    Reallocate(width, height, format, false);
    if (location_ == kvFile) return;  // a new file reads as zero
    // The bytes past the last whole pixel byte: a partly used last byte is the writer's.
    const int64_t used = int64_t(width_) * bitCount_ / 8;
    for (int y = 0; y < height_; ++y) std::memset(GetScanline(y) + used, 0, size_t(rowLen_ - used));
}

void TKVBitmap::Reallocate(int width, int height, TKVPixelFormat format, bool zeroed) {
    if (width > 0 && height > 0 && format != kvNoFormat) {
        if (location_ == kvTBitmap) {
            CheckTBitmapFormat(format);
            if (ImageBytes(width, height, format == kv16Gray ? kv8Gray : format, 32) > TBitmap::MaxBytes)
                RaiseTooLarge(width, height);
        }
        if (ImageBytes(width, height, format, rowAlign_) > KVMaxImageBytes) RaiseTooLarge(width, height);
    }
    if (location_ == kvTBitmap && bitmap_ && bitmapNotOwned_) {
        // The caller's bitmap stays the storage; it is resized in place.
        RemoveAlphaChannel();
        palette_.clear();
        width_ = width;
        height_ = height;
        pixelFormat_ = format;
        try {
            if (width <= 0 || height <= 0 || format == kvNoFormat) bitmap_->SetSize(0, 0);
            AllocateStorage(zeroed);
        } catch (...) {
            FreeImage(true);
            throw;
        }
        return;
    }
    // Built aside, so that a failure leaves this image untouched.
    auto fresh = MakeSibling(location_);
    fresh->width_ = width;
    fresh->height_ = height;
    fresh->pixelFormat_ = format;
    fresh->AllocateStorage(zeroed);
    fresh->MoveStorageTo(*this);
}

void TKVBitmap::AllocateStorage(bool zeroed) {
    full_ = false;
    if (width_ <= 0 || height_ <= 0 || pixelFormat_ == kvNoFormat) return;
    if (pixelFormat_ == kv8Paletted) palette_.assign(256, TKVRGB{});
    if (location_ == kvTBitmap) {
        AllocateTBitmapStorage(zeroed);
        return;
    }
    SetFieldsFromFormat();
    const int64_t size = rowLen_ * height_;
    const int64_t threshold = MemoryThreshold();
    if (location_ == kvFile && size < threshold) location_ = kvMemory;
    else if (location_ == kvMemory && size > threshold) location_ = kvFile;
    if (location_ == kvFile) {
        if (fileBuffer_->CreateFile("IMG", size)) return;
        location_ = kvMemory;
        const int64_t available = KVAvailablePhysicalMemory();
        if (available > 0 && size > available) RaiseTooLarge(width_, height_);
    }
    memoryBlock_ = static_cast<uint8_t*>(zeroed ? std::calloc(size_t(size) + 32, 1) : std::malloc(size_t(size) + 32));
    if (!memoryBlock_) throw EOutOfMemory("Out of memory for a picture of " + std::to_string(width_) + " x " +
                                          std::to_string(height_) + " pixels");
    memoryBits_ = memoryBlock_ + (32 - reinterpret_cast<uintptr_t>(memoryBlock_) % 32) % 32;
}

void TKVBitmap::AllocateTBitmapStorage(bool zeroed) {
    CheckTBitmapFormat(pixelFormat_);
    if (pixelFormat_ == kv16Gray) pixelFormat_ = kv8Gray;
    if (!bitmap_) {
        bitmap_ = new TBitmap;
        bitmapNotOwned_ = false;
    }
    if (zeroed) {
        // Emptied first so that the format change converts no pixels.
        bitmap_->SetSize(0, 0);
        bitmap_->SetPixelFormat(TBitmapFormatFor(pixelFormat_));
        if (pixelFormat_ == kv8Gray) bitmap_->SetPalette(GrayPalette());
        bitmap_->SetSize(width_, height_);
    } else {
        bitmap_->Reshape(width_, height_, TBitmapFormatFor(pixelFormat_));
        if (pixelFormat_ == kv8Gray) bitmap_->SetPalette(GrayPalette());
    }
    rowAlign_ = 32;
    SetFieldsFromFormat();
    SyncTBitmapPalette();
    BuildRowTable();
}

void TKVBitmap::BuildRowTable() {
    rowTable_.clear();
    if (!bitmap_ || bitmap_->Empty()) return;
    rowTable_.resize(size_t(bitmap_->Height()));
    for (int y = 0; y < bitmap_->Height(); ++y) rowTable_[size_t(y)] = bitmap_->ScanLine(y);
}

void TKVBitmap::FreeImage(bool withAlpha) {
    if (withAlpha) alphaChannel_.reset();
    palette_.clear();
    mappedRow_ = nullptr;
    mappedRowIndex_ = -1;
    fileBuffer_->Close();
    if (!memoryNotOwned_) std::free(memoryBlock_);
    memoryBlock_ = memoryBits_ = nullptr;
    if (!bitmapNotOwned_) delete bitmap_;
    bitmap_ = nullptr;
    rowTable_.clear();
    width_ = height_ = bitCount_ = 0;
    rowLen_ = 0;
    full_ = bitmapNotOwned_ = memoryNotOwned_ = false;
}

bool TKVBitmap::IsEmpty() {
    SyncWithTBitmap();
    return width_ <= 0 || height_ <= 0 || rowLen_ == 0 || bitCount_ == 0;
}

void TKVBitmap::MoveStorageTo(TKVBitmap& target) {
    if (&target == this) return;
    target.FreeImage(true);
    target.width_ = width_;
    target.height_ = height_;
    target.bitCount_ = bitCount_;
    target.rowLen_ = rowLen_;
    target.pixelFormat_ = pixelFormat_;
    target.palette_ = std::move(palette_);
    target.alphaChannel_ = std::move(alphaChannel_);
    target.isAlpha_ = isAlpha_;
    target.memoryBlock_ = memoryBlock_;
    target.memoryBits_ = memoryBits_;
    target.bitmap_ = bitmap_;
    target.rowTable_ = std::move(rowTable_);
    target.location_ = location_;
    target.full_ = full_;
    target.bitmapNotOwned_ = bitmapNotOwned_;
    target.memoryNotOwned_ = memoryNotOwned_;
    target.fileBuffer_ = std::move(fileBuffer_);
    target.mappedRow_ = mappedRow_;
    target.mappedRowIndex_ = mappedRowIndex_;
    target.mappedAccess_ = mappedAccess_;
    target.ditherMode_ = ditherMode_;
    target.rowAlign_ = rowAlign_;

    fileBuffer_ = std::make_unique<TKVFileBuffer>();
    mappedRow_ = nullptr;
    mappedRowIndex_ = -1;
    palette_.clear();
    rowTable_.clear();
    memoryBlock_ = memoryBits_ = nullptr;
    bitmap_ = nullptr;
    width_ = height_ = bitCount_ = 0;
    rowLen_ = 0;
    pixelFormat_ = kvNoFormat;
    full_ = bitmapNotOwned_ = memoryNotOwned_ = false;
}

// --- Location

void TKVBitmap::CopyRowsFrom(TKVBitmap& source) {
    TKVAccessScope reading(source, kvaRead);
    TKVAccessScope writing(*this, kvaWrite);
    const int rows = std::min(GetHeight(), source.GetHeight());
    if (location_ == kvFile && source.location_ == kvFile && rowLen_ == source.rowLen_ && height_ == source.height_) {
        ReleaseMappedRow();
        source.ReleaseMappedRow();
        source.fileBuffer_->CopyTo(*fileBuffer_, rowLen_ * height_, 0);
        return;
    }
    if (source.pixelFormat_ == kv16Gray && bitCount_ == 8) {  // the TBitmap location holds 8 bits
        const int columns = std::min(width_, source.width_);
        for (int y = 0; y < rows; ++y) {
            uint8_t* target = GetScanline(y);
            const uint8_t* row = source.GetScanline(y);
            for (int x = 0; x < columns; ++x) target[x] = row[2 * x + 1];
        }
        return;
    }
    const size_t bytes = size_t(std::min(rowLen_, source.rowLen_));
    for (int y = 0; y < rows; ++y) std::memcpy(GetScanline(y), source.GetScanline(y), bytes);
}

void TKVBitmap::SetLocation(TKVLocation location) {
    if (location == location_) return;
    auto moved = MakeSibling(location);
    moved->width_ = GetWidth();
    moved->height_ = height_;
    moved->pixelFormat_ = pixelFormat_;
    moved->AllocateStorage();
    if (!IsEmpty() && !moved->IsEmpty()) {
        moved->CopyRowsFrom(*this);
        moved->CopyPaletteFrom(*this);
    }
    moved->full_ = full_;
    moved->alphaChannel_ = std::move(alphaChannel_);
    moved->MoveStorageTo(*this);
}

TBitmap* TKVBitmap::GetTBitmap() {
    SetLocation(kvTBitmap);
    if (!bitmap_) {
        bitmap_ = new TBitmap;
        bitmapNotOwned_ = false;
        if (pixelFormat_ != kvNoFormat) bitmap_->SetPixelFormat(TBitmapFormatFor(pixelFormat_));
    }
    return bitmap_;
}

TCanvas& TKVBitmap::GetCanvas() { return GetTBitmap()->Canvas(); }

void TKVBitmap::SyncWithTBitmap() {
    if (location_ != kvTBitmap || !bitmap_) return;
    NormaliseTBitmapFormat(*bitmap_);
    const TPixelFormat tformat = bitmap_->PixelFormat();
    const TKVPixelFormat format = tformat == TPixelFormat::pf1bit ? kv1Bit
                                  : tformat == TPixelFormat::pf8bit ? (isAlpha_ ? kv8Gray : kv8Paletted)
                                                                    : kv24RGB;
    if (bitmap_->Width() != width_ || bitmap_->Height() != height_ || format != pixelFormat_) {
        width_ = bitmap_->Width();
        height_ = bitmap_->Height();
        pixelFormat_ = format;
        rowAlign_ = 32;
        SetFieldsFromFormat();
        if (format == kv8Paletted) ReadTBitmapPalette();
        else palette_.clear();
        if (alphaChannel_ && (alphaChannel_->width_ != width_ || alphaChannel_->height_ != height_))
            alphaChannel_ = CreateAlpha(width_, height_, alphaChannel_->location_);
        BuildRowTable();
        return;
    }
    if (!rowTable_.empty() && rowTable_[0] != bitmap_->ScanLine(0)) BuildRowTable();
}

void TKVBitmap::EncapsulateTBitmap(TBitmap* bitmap, bool freeFirst) {
    if (!bitmap && !freeFirst) return;
    // Rewrapping the bitmap already held must not free it.
    const bool owned = bitmap && bitmap == bitmap_ && !bitmapNotOwned_;
    if (bitmap && bitmap == bitmap_) bitmap_ = nullptr;
    FreeImage(freeFirst);
    if (!bitmap) return;
    NormaliseTBitmapFormat(*bitmap);
    bitmap_ = bitmap;
    bitmapNotOwned_ = !owned;
    location_ = kvTBitmap;
    width_ = height_ = 0;
    pixelFormat_ = kvNoFormat;
    SyncWithTBitmap();
}

void TKVBitmap::EncapsulateMemory(void* buffer, int width, int height, TKVPixelFormat format, bool freeFirst) {
    FreeImage(freeFirst);
    if (!buffer) return;
    width_ = width;
    height_ = height;
    pixelFormat_ = format;
    SetFieldsFromFormat();
    location_ = kvMemory;
    memoryBlock_ = memoryBits_ = static_cast<uint8_t*>(buffer);
    memoryNotOwned_ = true;
    if (format == kv8Paletted) palette_.assign(256, TKVRGB{});
    if (alphaChannel_ && (alphaChannel_->width_ != width_ || alphaChannel_->height_ != height_))
        alphaChannel_ = CreateAlpha(width_, height_, alphaChannel_->location_);
}

// --- Assignment

void TKVBitmap::Assign(TObject* source) {
    if (source == this || !source) return;
    if (auto* bitmap = dynamic_cast<TBitmap*>(source)) {
        CopyFromTBitmap(*bitmap);
        return;
    }
    auto* kvSource = dynamic_cast<TKVBitmap*>(source);
    if (!kvSource) return;
    if (location_ == kvTBitmap && kvSource->IsEmpty()) return;
    // Our own alpha channel as the source must outlive the reallocation below.
    std::unique_ptr<TKVBitmap> sourceHolder = kvSource == alphaChannel_.get() ? std::move(alphaChannel_) : nullptr;
    const int savedAlign = rowAlign_;
    rowAlign_ = kvSource->rowAlign_;
    try {
        Allocate(kvSource->GetWidth(), kvSource->GetHeight(), kvSource->GetPixelFormat());
    } catch (...) {
        rowAlign_ = savedAlign;
        throw;
    }
    if (!IsEmpty()) {
        CopyRowsFrom(*kvSource);
        CopyPaletteFrom(*kvSource);
    }
    full_ = kvSource->full_;
    if (!isAlpha_) {
        if (kvSource->alphaChannel_) GetAlphaChannel()->Assign(kvSource->alphaChannel_.get());
        else RemoveAlphaChannel();
    }
    ditherMode_ = kvSource->ditherMode_;
}

void TKVBitmap::AssignImage(TKVBitmap& source) {
    if (&source == this || source.IsEmpty()) return;
    std::unique_ptr<TKVBitmap> ownAlpha = std::move(alphaChannel_);
    try {
        Allocate(source.GetWidth(), source.GetHeight(), source.GetPixelFormat());
    } catch (...) {
        alphaChannel_ = std::move(ownAlpha);
        throw;
    }
    CopyRowsFrom(source);
    CopyPaletteFrom(source);
    full_ = false;
    alphaChannel_ = std::move(ownAlpha);
    // The kept alpha channel follows the new size.
    if (alphaChannel_ && (alphaChannel_->width_ != width_ || alphaChannel_->height_ != height_))
        alphaChannel_ = alphaChannel_->ResizedCopy(width_, height_);
}

// --- Size

std::unique_ptr<TKVBitmap> TKVBitmap::ResizedCopy(int width, int height) {
    auto copy = MakeSibling(location_ == kvTBitmap ? kvMemory : location_);
    copy->width_ = width;
    copy->height_ = height;
    copy->pixelFormat_ = pixelFormat_;
    copy->AllocateStorage();
    if (!IsEmpty() && !copy->IsEmpty()) {
        TKVAccessScope reading(*this, kvaRead);
        TKVAccessScope writing(*copy, kvaWrite);
        const size_t bytes = size_t(std::min(rowLen_, copy->rowLen_));
        for (int y = 0; y < std::min(height_, height); ++y) std::memcpy(copy->GetScanline(y), GetScanline(y), bytes);
        copy->CopyPaletteFrom(*this);
    }
    if (alphaChannel_) copy->alphaChannel_ = alphaChannel_->ResizedCopy(width, height);
    return copy;
}

void TKVBitmap::SetWidth(int width) {
    if (width == GetWidth()) return;
    if (location_ == kvTBitmap || (pixelFormat_ != kvNoFormat && height_ > 0)) {
        Resize(width, height_);
    } else {
        width_ = width;
    }
}

void TKVBitmap::SetHeight(int height) {
    if (height == GetHeight()) return;
    if (location_ == kvTBitmap || (pixelFormat_ != kvNoFormat && width_ > 0)) {
        Resize(width_, height);
    } else {
        height_ = height;
    }
}

void TKVBitmap::Resize(int width, int height) {
    if (location_ != kvTBitmap) {
        auto resized = ResizedCopy(width, height);
        resized->MoveStorageTo(*this);
        full_ = false;
        return;
    }
    std::unique_ptr<TKVBitmap> alpha = alphaChannel_ ? alphaChannel_->ResizedCopy(width, height) : nullptr;
    if (!bitmap_) {
        bitmap_ = new TBitmap;
        bitmapNotOwned_ = false;
        if (pixelFormat_ != kvNoFormat) bitmap_->SetPixelFormat(TBitmapFormatFor(pixelFormat_));
    }
    bitmap_->SetSize(std::max(width, 0), std::max(height, 0));
    alphaChannel_ = std::move(alpha);
    SyncWithTBitmap();
}

// --- Pixel format

void TKVBitmap::SetPixelFormat(TKVPixelFormat format) {
    if (format != GetPixelFormat()) ConvertPixelFormat(format);
}

void TKVBitmap::ConvertPixelFormat(TKVPixelFormat format) {
    const bool inTBitmap = location_ == kvTBitmap;
    if (inTBitmap) CheckTBitmapFormat(format);
    // Converted aside, so that a failure leaves this image untouched.
    auto converted = MakeSibling(inTBitmap ? kvMemory : location_);
    converted->width_ = GetWidth();
    converted->height_ = height_;
    converted->pixelFormat_ = format;
    converted->AllocateStorage();
    if (pixelFormat_ != kvNoFormat && !IsEmpty() && !converted->IsEmpty()) converted->ConvertFrom(*this);
    else converted->alphaChannel_ = std::move(alphaChannel_);
    if (!inTBitmap) {
        converted->MoveStorageTo(*this);
        return;
    }
    std::unique_ptr<TKVBitmap> alpha = std::move(converted->alphaChannel_);
    if (converted->IsEmpty()) pixelFormat_ = format;
    else AssignImage(*converted);
    alphaChannel_ = std::move(alpha);
}

// --- Content tests

void TKVBitmap::SyncFull() {
    full_ = false;
    if (IsEmpty()) return;
    TKVAccessScope reading(*this, kvaRead);
    for (int y = 0; y < height_; ++y) {
        const uint8_t* row = GetScanline(y);
        if (!std::all_of(row, row + rowLen_, [](uint8_t b) { return b == 255; })) return;
    }
    full_ = true;
}

bool TKVBitmap::IsAllZero() {
    if (IsEmpty()) return true;
    TKVAccessScope reading(*this, kvaRead);
    for (int y = 0; y < height_; ++y) {
        const uint8_t* row = GetScanline(y);
        if (!std::all_of(row, row + rowLen_, [](uint8_t b) { return b == 0; })) return false;
    }
    return true;
}

bool TKVBitmap::IsGrayScale() {
    const TKVPixelFormat format = GetPixelFormat();
    auto gray = [](const TKVRGB& p) { return p.r == p.g && p.g == p.b; };
    if (format == kv8Paletted) return std::all_of(palette_.begin(), palette_.end(), gray);
    if (format != kv24RGB || IsEmpty()) return true;
    TKVAccessScope reading(*this, kvaRead);
    for (int y = 0; y < height_; ++y) {
        const auto* row = reinterpret_cast<const TKVRGB*>(GetScanline(y));
        if (!std::all_of(row, row + width_, gray)) return false;
    }
    return true;
}

// --- Alpha channel

TKVBitmap* TKVBitmap::GetAlphaChannel() {
    if (isAlpha_) return nullptr;
    if (!alphaChannel_) alphaChannel_ = CreateAlpha(GetWidth(), GetHeight(), location_);
    return alphaChannel_.get();
}

void TKVBitmap::RemoveAlphaChannel() {
    if (!isAlpha_) alphaChannel_.reset();
}
