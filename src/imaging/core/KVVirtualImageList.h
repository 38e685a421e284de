#pragma once
// Many images (thumbnails) kept in one temporary file, at most ten of them in memory at a time,
// each lent out as a TKVBitmap on demand.
#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "imaging/core/KVFileBuffer.h"
#include "imaging/core/KVPixelTypes.h"

class TKVBaseBitmap;
class TKVBitmap;
class TStream;

// Block layout: rows bottom-up (32-bit aligned); with alpha one byte (1 opaque, 0 not) and the
// alpha rows bottom-up.
struct TKVVirtualEntry {
    int64_t Offset = 0;
    int64_t BlockSize = 0;   // the whole block, also when a larger free block was reused
    int64_t MappedSize = 0;  // the bytes the image needs
    uint8_t* Address = nullptr;
    bool InUse = false;
    int SourceWidth = 0, SourceHeight = 0;
    bool HasAlpha = false;
    TKVAccess Access = 0;
    int Width = 0, Height = 0, BitCount = 0;
    TKVPixelFormat PixelFormat = kvNoFormat;
};

class TKVVirtualImageList {
public:
    static constexpr int64_t InitialSize = 262144;
    static constexpr int DefaultMaxMapped = 10;

    explicit TKVVirtualImageList(const std::string& filePrefix);
    ~TKVVirtualImageList();
    TKVVirtualImageList(const TKVVirtualImageList&) = delete;
    TKVVirtualImageList& operator=(const TKVVirtualImageList&) = delete;

    int Count() const { return int(entries_.size()); }
    TKVVirtualEntry* Entry(int index) { return entries_[size_t(index)].get(); }
    int64_t Capacity() const { return capacity_; }
    int64_t UsedEnd() const { return usedEnd_; }
    int MappedCount() const { return int(mapped_.size()); }
    // Blocks kept in memory at most; at least 1. Lowering it unmaps the least recently used.
    int MaxMapped() const { return maxMapped_; }
    void SetMaxMapped(int count);
    int FreeBlockCount() const { return int(freeBlocks_.size()); }
    // Least recently used first.
    const std::list<TKVVirtualEntry*>& MappedEntries() const { return mapped_; }

    void Clear();
    // nullptr when no entry could be made.
    TKVVirtualEntry* AddBitmap(TKVBaseBitmap& bitmap);
    TKVVirtualEntry* NewEntry(int width, int height, bool hasAlpha, TKVPixelFormat format, int bitCount);
    void RemoveEntry(int index);
    // Gives the block back for reuse; the last entry deleted resets the file.
    void Delete(TKVVirtualEntry* entry);

    // Access kvaRead, kvaWrite or both; false when the block cannot be brought into memory.
    bool MapEntry(TKVVirtualEntry* entry, TKVAccess access);
    void UnmapEntry(TKVVirtualEntry* entry);
    void UnmapOldest();
    void UnmapAll();

    // A bitmap of the entry, shared by use count while lent; nullptr when unreadable.
    TKVBitmap* GetBitmap(TKVVirtualEntry* entry);
    // A bitmap that was not lent is ignored.
    void ReleaseBitmap(TKVBitmap* bitmap, bool writeBack);
    void ReleaseEntryBitmap(TKVVirtualEntry* entry, bool writeBack);
    void LoadEntryToBitmap(TKVVirtualEntry* entry, TKVBitmap& bitmap);
    void SaveBitmapToEntry(TKVVirtualEntry* entry, TKVBitmap& bitmap);

    int GetImageWidth(TKVVirtualEntry* entry);
    int GetImageHeight(TKVVirtualEntry* entry);
    int GetBitCount(TKVVirtualEntry* entry);
    TKVPixelFormat GetPixelFormat(TKVVirtualEntry* entry);
    // The rows bottom-up, contiguous: of the lent bitmap while lent (valid until it is released),
    // else of the block mapped for reading (valid until the block leaves memory).
    uint8_t* GetImageBits(TKVVirtualEntry* entry);
    // nullptr without alpha or when it was fully opaque when stored.
    uint8_t* GetAlphaBits(TKVVirtualEntry* entry);
    int HeldIndexOf(const TKVVirtualEntry* entry) const;

private:
    struct FreeBlock {
        int64_t Offset;
        int64_t Size;
    };
    struct Held {
        TKVVirtualEntry* Entry;
        std::unique_ptr<TKVBitmap> Bitmap;
        int UseCount;
    };

    void CreateFile();
    void AllocSpace(TKVVirtualEntry* entry, int width, bool hasAlpha, TKVPixelFormat format, int bitCount,
                    int height);
    void FreeSpace(TKVVirtualEntry* entry);
    void WriteBitmapToBlock(TKVVirtualEntry* entry, TKVBaseBitmap& bitmap, TKVBitmap* alpha);
    void DropHeld(size_t index);
    int IndexOf(const TKVVirtualEntry* entry) const;

    std::string filePrefix_;
    TKVFileBuffer fileBuffer_;
    int64_t capacity_ = InitialSize;
    int64_t growStep_ = InitialSize;
    int64_t usedEnd_ = 0;
    int64_t lastSize_ = 0;
    int maxMapped_ = DefaultMaxMapped;
    std::vector<std::unique_ptr<TKVVirtualEntry>> entries_;
    std::list<TKVVirtualEntry*> mapped_;
    std::vector<FreeBlock> freeBlocks_;
    std::vector<Held> held_;
};

// Writes the buffer; a short write sets the abort flag.
void KVStreamWriteChecked(TStream& stream, std::atomic<bool>& abort, const void* buffer, int64_t count);
