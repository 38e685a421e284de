#include "imaging/core/KVVirtualImageList.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "imaging/core/KVBasicHelpers.h"
#include "imaging/core/KVBitmap.h"

namespace {

int64_t RowLen(int width, int bits) { return KVBitmapRowLen(width, bits, 32); }

int64_t NeededSize(int width, int height, bool hasAlpha, int bitCount) {
    int64_t size = RowLen(width, bitCount) * height;
    if (hasAlpha) size += RowLen(width, 8) * height + 1;
    return size;
}

// A bitmap whose rows stay in memory, so that the addresses of its rows stay valid.
std::unique_ptr<TKVBitmap> MemoryBitmap() {
    auto bitmap = std::make_unique<TKVBitmap>();
    bitmap->SetMemoryThreshold(std::numeric_limits<int64_t>::max());
    return bitmap;
}

}  // namespace

TKVVirtualImageList::TKVVirtualImageList(const std::string& filePrefix) : filePrefix_(filePrefix) { CreateFile(); }

TKVVirtualImageList::~TKVVirtualImageList() { Clear(); }

void TKVVirtualImageList::CreateFile() {
    freeBlocks_.clear();
    if (fileBuffer_.IsOpen()) {
        UnmapAll();
        fileBuffer_.SetFileSize(capacity_);
        return;
    }
    Clear();
    fileBuffer_.CreateFile(filePrefix_, capacity_);
}

void TKVVirtualImageList::Clear() {
    held_.clear();
    for (auto& entry : entries_) entry->Address = nullptr;
    entries_.clear();
    mapped_.clear();
    freeBlocks_.clear();
    fileBuffer_.Close();
    usedEnd_ = 0;
}

int TKVVirtualImageList::IndexOf(const TKVVirtualEntry* entry) const {
    for (size_t i = 0; i < entries_.size(); ++i)
        if (entries_[i].get() == entry) return int(i);
    return -1;
}

TKVVirtualEntry* TKVVirtualImageList::NewEntry(int width, int height, bool hasAlpha, TKVPixelFormat format,
                                               int bitCount) {
    if (width <= 0 || height <= 0 || bitCount <= 0) return nullptr;
    auto entry = std::make_unique<TKVVirtualEntry>();
    AllocSpace(entry.get(), width, hasAlpha, format, bitCount, height);
    if (!entry->Address) return nullptr;
    entries_.push_back(std::move(entry));
    return entries_.back().get();
}

void TKVVirtualImageList::AllocSpace(TKVVirtualEntry* entry, int width, bool hasAlpha, TKVPixelFormat format,
                                     int bitCount, int height) {
    entry->Address = nullptr;
    // After Clear the file is made again for the first new entry.
    if (!fileBuffer_.IsOpen() && entries_.empty()) CreateFile();
    if (!fileBuffer_.IsOpen()) return;
    const int64_t needed = NeededSize(width, height, hasAlpha, bitCount);
    auto fit = std::find_if(freeBlocks_.begin(), freeBlocks_.end(), [&](const FreeBlock& b) { return b.Size >= needed; });
    bool atEnd = false;
    if (fit != freeBlocks_.end()) {
        entry->Offset = fit->Offset;
        entry->BlockSize = fit->Size;
        freeBlocks_.erase(fit);
    } else {
        if (needed > growStep_) growStep_ = needed + lastSize_;
        lastSize_ = needed;
        if (usedEnd_ + needed > capacity_) {
            while (usedEnd_ + needed > capacity_) capacity_ += growStep_;
            CreateFile();
        }
        entry->Offset = usedEnd_;
        entry->BlockSize = needed;
        atEnd = true;
    }
    entry->MappedSize = needed;
    entry->Width = entry->SourceWidth = width;
    entry->Height = entry->SourceHeight = height;
    entry->HasAlpha = hasAlpha;
    entry->BitCount = bitCount;
    entry->PixelFormat = format;
    if (MapEntry(entry, kvaWrite) && atEnd) usedEnd_ += needed;
}

void TKVVirtualImageList::FreeSpace(TKVVirtualEntry* entry) {
    UnmapEntry(entry);
    if (entry->BlockSize > 0) freeBlocks_.push_back({entry->Offset, entry->BlockSize});
    entry->BlockSize = 0;
}

bool TKVVirtualImageList::MapEntry(TKVVirtualEntry* entry, TKVAccess access) {
    if (entry->Address && entry->Access != access) UnmapEntry(entry);
    if (entry->Address) {
        mapped_.remove(entry);
        mapped_.push_back(entry);
        return true;
    }
    if (!fileBuffer_.IsOpen()) return false;
    while (int(mapped_.size()) + 1 > maxMapped_) UnmapOldest();
    try {
        entry->Address = fileBuffer_.MapBlock(access, entry->MappedSize, entry->Offset);
    } catch (const std::exception&) {
        entry->Address = nullptr;
        return false;
    }
    entry->Access = access;
    mapped_.push_back(entry);
    return true;
}

void TKVVirtualImageList::SetMaxMapped(int count) {
    maxMapped_ = std::max(count, 1);
    while (int(mapped_.size()) > maxMapped_) UnmapOldest();
}

void TKVVirtualImageList::UnmapEntry(TKVVirtualEntry* entry) {
    if (!entry->Address) return;
    fileBuffer_.UnmapBlock(entry->Address);
    entry->Address = nullptr;
    entry->Access = 0;
    mapped_.remove(entry);
}

void TKVVirtualImageList::UnmapOldest() {
    if (!mapped_.empty()) UnmapEntry(mapped_.front());
}

void TKVVirtualImageList::UnmapAll() {
    while (!mapped_.empty()) UnmapOldest();
}

void TKVVirtualImageList::DropHeld(size_t index) {
    held_[index].Entry->InUse = false;
    held_.erase(held_.begin() + std::ptrdiff_t(index));
}

void TKVVirtualImageList::RemoveEntry(int index) {
    if (index < 0 || index >= Count()) return;
    TKVVirtualEntry* entry = Entry(index);
    const int heldIndex = HeldIndexOf(entry);
    if (heldIndex >= 0) DropHeld(size_t(heldIndex));
    UnmapEntry(entry);
    entries_.erase(entries_.begin() + index);
}

void TKVVirtualImageList::Delete(TKVVirtualEntry* entry) {
    const int index = IndexOf(entry);
    if (index < 0) return;
    FreeSpace(entry);
    RemoveEntry(index);
    if (entries_.empty()) {
        capacity_ = growStep_;
        usedEnd_ = 0;
        CreateFile();
    }
}

void TKVVirtualImageList::WriteBitmapToBlock(TKVVirtualEntry* entry, TKVBaseBitmap& bitmap, TKVBitmap* alpha) {
    uint8_t* block = entry->Address;
    const int64_t rowLen = RowLen(entry->Width, entry->BitCount);
    const size_t rowBytes = size_t(std::min(rowLen, bitmap.GetRowLen()));
    TKVAccessScope read(bitmap, kvaRead);
    for (int y = 0; y < entry->Height; ++y)
        std::memcpy(block + (entry->Height - 1 - y) * rowLen, bitmap.GetScanline(y), rowBytes);
    if (!entry->HasAlpha) return;
    uint8_t* alphaStart = block + rowLen * entry->Height;
    *alphaStart++ = alpha->Full() ? 1 : 0;
    const int64_t alphaRowLen = RowLen(entry->Width, 8);
    TKVAccessScope readAlpha(*alpha, kvaRead);
    for (int y = 0; y < entry->Height; ++y)
        std::memcpy(alphaStart + (entry->Height - 1 - y) * alphaRowLen, alpha->GetScanline(y),
                    size_t(std::min(alphaRowLen, alpha->GetRowLen())));
}

TKVVirtualEntry* TKVVirtualImageList::AddBitmap(TKVBaseBitmap& bitmap) {
    auto* kvBitmap = dynamic_cast<TKVBitmap*>(&bitmap);
    TKVBitmap* alpha = kvBitmap && kvBitmap->GetHasAlphaChannel() ? kvBitmap->GetAlphaChannel() : nullptr;
    TKVVirtualEntry* entry = NewEntry(bitmap.GetWidth(), bitmap.GetHeight(), alpha != nullptr,
                                      bitmap.GetPixelFormat(), bitmap.GetBitCount());
    if (entry) WriteBitmapToBlock(entry, bitmap, alpha);
    return entry;
}

int TKVVirtualImageList::HeldIndexOf(const TKVVirtualEntry* entry) const {
    for (size_t i = 0; i < held_.size(); ++i)
        if (held_[i].Entry == entry) return int(i);
    return -1;
}

TKVBitmap* TKVVirtualImageList::GetBitmap(TKVVirtualEntry* entry) {
    if (!MapEntry(entry, kvaRead)) return nullptr;
    const int index = HeldIndexOf(entry);
    TKVBitmap* bitmap;
    if (index < 0) {
        auto fresh = MemoryBitmap();
        LoadEntryToBitmap(entry, *fresh);
        bitmap = fresh.get();
        held_.push_back({entry, std::move(fresh), 1});
    } else {
        ++held_[size_t(index)].UseCount;
        bitmap = held_[size_t(index)].Bitmap.get();
    }
    entry->InUse = true;
    return bitmap;
}

void TKVVirtualImageList::ReleaseBitmap(TKVBitmap* bitmap, bool writeBack) {
    auto held = std::find_if(held_.begin(), held_.end(), [&](const Held& h) { return h.Bitmap.get() == bitmap; });
    if (held == held_.end()) return;
    if (bitmap->Location() == kvTBitmap) bitmap->SyncWithTBitmap();
    --held->UseCount;
    if (writeBack) SaveBitmapToEntry(held->Entry, *bitmap);
    if (held->UseCount <= 0) DropHeld(size_t(held - held_.begin()));
}

void TKVVirtualImageList::ReleaseEntryBitmap(TKVVirtualEntry* entry, bool writeBack) {
    const int index = HeldIndexOf(entry);
    if (index >= 0) ReleaseBitmap(held_[size_t(index)].Bitmap.get(), writeBack);
}

void TKVVirtualImageList::LoadEntryToBitmap(TKVVirtualEntry* entry, TKVBitmap& bitmap) {
    if (!MapEntry(entry, kvaRead)) return;
    // The stored rows are of the entry's own format, so the bitmap takes that format: rows of
    // another format would be read past the block.
    if (bitmap.GetPixelFormat() != entry->PixelFormat || bitmap.GetWidth() != entry->Width ||
        bitmap.GetHeight() != entry->Height)
        bitmap.Allocate(entry->Width, entry->Height, entry->PixelFormat);
    if (bitmap.GetBitCount() != entry->BitCount) return;
    const uint8_t* block = entry->Address;
    const int64_t rowLen = RowLen(entry->Width, entry->BitCount);
    {
        TKVAccessScope write(bitmap, kvaWrite);
        for (int y = 0; y < entry->Height; ++y)
            std::memcpy(bitmap.GetScanline(y), block + (entry->Height - 1 - y) * rowLen,
                        size_t(std::min(rowLen, bitmap.GetRowLen())));
    }
    const uint8_t* alphaStart = block + rowLen * entry->Height;
    if (!entry->HasAlpha || *alphaStart != 0) {
        bitmap.RemoveAlphaChannel();
        return;
    }
    ++alphaStart;
    TKVBitmap& alpha = *bitmap.GetAlphaChannel();
    const int64_t alphaRowLen = RowLen(entry->Width, 8);
    TKVAccessScope write(alpha, kvaWrite);
    for (int y = 0; y < entry->Height; ++y)
        std::memcpy(alpha.GetScanline(y), alphaStart + (entry->Height - 1 - y) * alphaRowLen,
                    size_t(std::min(alphaRowLen, alpha.GetRowLen())));
    alpha.SetFull(false);
}

void TKVVirtualImageList::SaveBitmapToEntry(TKVVirtualEntry* entry, TKVBitmap& bitmap) {
    const bool hasAlpha = bitmap.GetHasAlphaChannel();
    if (bitmap.GetWidth() != entry->Width || bitmap.GetHeight() != entry->Height ||
        bitmap.GetBitCount() != entry->BitCount || hasAlpha != entry->HasAlpha ||
        bitmap.GetPixelFormat() != entry->PixelFormat) {
        const int sourceWidth = entry->SourceWidth, sourceHeight = entry->SourceHeight;
        FreeSpace(entry);
        AllocSpace(entry, bitmap.GetWidth(), hasAlpha, bitmap.GetPixelFormat(), bitmap.GetBitCount(),
                   bitmap.GetHeight());
        entry->SourceWidth = sourceWidth, entry->SourceHeight = sourceHeight;
    }
    if (!MapEntry(entry, kvaReadWrite)) return;
    WriteBitmapToBlock(entry, bitmap, hasAlpha ? bitmap.GetAlphaChannel() : nullptr);
}

int TKVVirtualImageList::GetImageWidth(TKVVirtualEntry* entry) {
    const int index = HeldIndexOf(entry);
    return index >= 0 ? held_[size_t(index)].Bitmap->GetWidth() : entry->Width;
}

int TKVVirtualImageList::GetImageHeight(TKVVirtualEntry* entry) {
    const int index = HeldIndexOf(entry);
    return index >= 0 ? held_[size_t(index)].Bitmap->GetHeight() : entry->Height;
}

int TKVVirtualImageList::GetBitCount(TKVVirtualEntry* entry) {
    const int index = HeldIndexOf(entry);
    return index >= 0 ? held_[size_t(index)].Bitmap->GetBitCount() : entry->BitCount;
}

TKVPixelFormat TKVVirtualImageList::GetPixelFormat(TKVVirtualEntry* entry) {
    const int index = HeldIndexOf(entry);
    return index >= 0 ? held_[size_t(index)].Bitmap->GetPixelFormat() : entry->PixelFormat;
}

uint8_t* TKVVirtualImageList::GetImageBits(TKVVirtualEntry* entry) {
    const int index = HeldIndexOf(entry);
    if (index >= 0) {
        TKVBitmap& bitmap = *held_[size_t(index)].Bitmap;
        return bitmap.IsEmpty() ? nullptr : bitmap.GetScanline(bitmap.GetHeight() - 1);
    }
    return MapEntry(entry, kvaRead) ? entry->Address : nullptr;
}

uint8_t* TKVVirtualImageList::GetAlphaBits(TKVVirtualEntry* entry) {
    if (!entry->HasAlpha) return nullptr;
    const int index = HeldIndexOf(entry);
    if (index >= 0) {
        TKVBitmap& bitmap = *held_[size_t(index)].Bitmap;
        if (!bitmap.GetHasAlphaChannel()) return nullptr;
        TKVBitmap& alpha = *bitmap.GetAlphaChannel();
        return alpha.GetScanline(alpha.GetHeight() - 1);
    }
    if (!MapEntry(entry, kvaRead)) return nullptr;
    uint8_t* full = entry->Address + RowLen(entry->Width, entry->BitCount) * entry->Height;
    return *full == 0 ? full + 1 : nullptr;
}

void KVStreamWriteChecked(TStream& stream, std::atomic<bool>& abort, const void* buffer, int64_t count) {
    if (stream.Write(buffer, count) < count) abort = true;
}
