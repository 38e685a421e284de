#include <gtest/gtest.h>

#include <cstring>

#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVVirtualImageList.h"
#include "platform/Classes.h"
#include "platform/Graphics.h"

namespace {

void Paint(TKVBitmap& bitmap, int width, int height, TKVPixelFormat format, int seed) {
    bitmap.Allocate(width, height, format);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = bitmap.GetScanline(y);
        for (int64_t i = 0; i < bitmap.GetRowLen(); ++i) row[i] = uint8_t(seed + y * 7 + i * 3);
    }
}

bool SamePixels(TKVBitmap& a, TKVBitmap& b) {
    if (a.GetWidth() != b.GetWidth() || a.GetHeight() != b.GetHeight() || a.GetPixelFormat() != b.GetPixelFormat())
        return false;
    const size_t bytes = size_t((int64_t(a.GetWidth()) * a.GetBitCount() + 7) / 8);
    for (int y = 0; y < a.GetHeight(); ++y) {
        std::vector<uint8_t> row(a.GetScanline(y), a.GetScanline(y) + bytes);
        if (std::memcmp(row.data(), b.GetScanline(y), bytes) != 0) return false;
    }
    return true;
}

}  // namespace

TEST(KVVirtualImageList, StoresAndLendsImagesOfEveryKind) {
    TKVVirtualImageList list("VIL");
    struct Case {
        int width, height;
        TKVPixelFormat format;
        bool alpha;
    } cases[] = {{100, 100, kv24RGB, true}, {7, 3, kv1Bit, false}, {5, 4, kv8Gray, false}, {9, 2, kv24RGB, false}};
    std::vector<TKVBitmap> originals(std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        Paint(originals[i], c.width, c.height, c.format, int(i));
        if (c.alpha) originals[i].SetAlpha(1, 1, 77);
        ASSERT_NE(list.AddBitmap(originals[i]), nullptr);
    }
    EXPECT_EQ(list.Entry(0)->MappedSize, 30000 + 10000 + 1);
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        TKVVirtualEntry* entry = list.Entry(int(i));
        TKVBitmap* lent = list.GetBitmap(entry);
        ASSERT_NE(lent, nullptr);
        EXPECT_TRUE(SamePixels(*lent, originals[i]));
        EXPECT_EQ(lent->GetHasAlphaChannel(), cases[i].alpha);
        if (cases[i].alpha) {
            EXPECT_EQ(lent->GetAlpha(1, 1), 77);
        }
        EXPECT_TRUE(entry->InUse);
        EXPECT_EQ(list.GetBitmap(entry), lent);  // shared while lent
        list.ReleaseBitmap(lent, false);
        EXPECT_TRUE(entry->InUse);
        list.ReleaseEntryBitmap(entry, false);
        EXPECT_FALSE(entry->InUse);
        EXPECT_EQ(list.HeldIndexOf(entry), -1);
    }
    TKVBitmap stranger;
    list.ReleaseBitmap(&stranger, true);  // not lent: ignored
}

TEST(KVVirtualImageList, BitsStayValidWhileLentAndAlphaReportsOpacity) {
    TKVVirtualImageList list("VIL");
    TKVBitmap opaque, translucent;
    Paint(opaque, 4, 4, kv24RGB, 1);
    opaque.GetAlphaChannel();  // present but fully opaque
    Paint(translucent, 4, 4, kv24RGB, 2);
    translucent.SetAlpha(0, 3, 10);
    TKVVirtualEntry* a = list.AddBitmap(opaque);
    TKVVirtualEntry* b = list.AddBitmap(translucent);
    EXPECT_EQ(list.GetAlphaBits(a), nullptr);
    ASSERT_NE(list.GetAlphaBits(b), nullptr);
    EXPECT_EQ(list.GetAlphaBits(b)[0], 10);  // bottom row first

    TKVBitmap* lent = list.GetBitmap(b);
    uint8_t* bits = list.GetImageBits(b);
    uint8_t* alpha = list.GetAlphaBits(b);
    EXPECT_EQ(bits, lent->GetScanline(3));
    // Bringing many other blocks into memory must not move what was lent.
    for (int i = 0; i < 15; ++i) list.AddBitmap(opaque);
    EXPECT_EQ(list.GetImageBits(b), bits);
    EXPECT_EQ(std::memcmp(bits, translucent.GetScanline(3), 12), 0);
    EXPECT_EQ(alpha[0], 10);
    list.ReleaseBitmap(lent, false);
}

TEST(KVVirtualImageList, LeastRecentlyUsedBlocksLeaveMemory) {
    TKVVirtualImageList list("VIL");
    TKVBitmap small;
    Paint(small, 2, 2, kv24RGB, 0);
    for (int i = 0; i < 10; ++i) list.AddBitmap(small);
    EXPECT_EQ(list.MappedCount(), 10);
    list.MapEntry(list.Entry(0), kvaWrite);  // used again: now the newest
    list.AddBitmap(small);
    EXPECT_EQ(list.MappedCount(), 10);
    EXPECT_EQ(list.Entry(1)->Address, nullptr);
    EXPECT_NE(list.Entry(0)->Address, nullptr);
    EXPECT_EQ(list.MappedEntries().back(), list.Entry(10));
}

TEST(KVVirtualImageList, TheLimitOfBlocksInMemoryCanBeChanged) {
    TKVVirtualImageList list("VIL");
    TKVBitmap small;
    Paint(small, 2, 2, kv24RGB, 0);
    for (int i = 0; i < 5; ++i) list.AddBitmap(small);
    list.SetMaxMapped(3);  // the two oldest leave
    EXPECT_EQ(list.MappedCount(), 3);
    EXPECT_EQ(list.Entry(1)->Address, nullptr);
    EXPECT_NE(list.Entry(2)->Address, nullptr);
    list.AddBitmap(small);
    EXPECT_EQ(list.MappedCount(), 3);
    list.SetMaxMapped(0);
    EXPECT_EQ(list.MaxMapped(), 1);
    EXPECT_EQ(list.MappedCount(), 1);
}

TEST(KVVirtualImageList, DeletedBlocksAreReusedAndTheLastDeleteResetsTheFile) {
    TKVVirtualImageList list("VIL");
    TKVBitmap withAlpha, plain;
    Paint(withAlpha, 100, 100, kv24RGB, 3);
    withAlpha.SetAlpha(0, 0, 0);
    Paint(plain, 100, 100, kv24RGB, 4);
    TKVVirtualEntry* first = list.AddBitmap(withAlpha);
    list.AddBitmap(plain);
    const int64_t used = list.UsedEnd();
    list.Delete(first);
    EXPECT_EQ(list.FreeBlockCount(), 1);
    TKVVirtualEntry* reused = list.AddBitmap(plain);
    EXPECT_EQ(reused->Offset, 0);
    EXPECT_EQ(list.FreeBlockCount(), 0);
    EXPECT_EQ(list.UsedEnd(), used);
    TKVBitmap back;
    list.LoadEntryToBitmap(reused, back);
    EXPECT_TRUE(SamePixels(back, plain));

    // Growing past the first 256 KB keeps what was stored.
    TKVBitmap large;
    Paint(large, 300, 300, kv24RGB, 5);
    TKVVirtualEntry* big = list.AddBitmap(large);
    EXPECT_GE(list.Capacity(), list.UsedEnd());
    list.LoadEntryToBitmap(big, back);
    EXPECT_TRUE(SamePixels(back, large));
    list.LoadEntryToBitmap(list.Entry(0), back);
    EXPECT_TRUE(SamePixels(back, plain));

    while (list.Count() > 0) list.Delete(list.Entry(0));
    EXPECT_EQ(list.UsedEnd(), 0);
    EXPECT_EQ(list.FreeBlockCount(), 0);

    list.Clear();
    TKVVirtualEntry* afterClear = list.AddBitmap(plain);
    ASSERT_NE(afterClear, nullptr);
    list.LoadEntryToBitmap(afterClear, back);
    EXPECT_TRUE(SamePixels(back, plain));
}

TEST(KVVirtualImageList, WriteBackOfAChangedBitmap) {
    TKVVirtualImageList list("VIL");
    TKVBitmap original;
    Paint(original, 3, 3, kv24RGB, 6);
    TKVVirtualEntry* entry = list.AddBitmap(original);
    entry->SourceWidth = 3000;
    TKVBitmap* lent = list.GetBitmap(entry);
    lent->Allocate(5, 2, kv24RGB);
    lent->Fill(RGB(1, 2, 3));
    lent->SetAlpha(4, 1, 9);
    list.ReleaseBitmap(lent, true);
    EXPECT_EQ(list.GetImageWidth(entry), 5);
    EXPECT_EQ(list.GetImageHeight(entry), 2);
    EXPECT_EQ(entry->SourceWidth, 3000);
    TKVBitmap back;
    list.LoadEntryToBitmap(entry, back);
    EXPECT_EQ(back.GetPixelRGB(4, 1), (TKVRGB{3, 2, 1}));
    EXPECT_EQ(back.GetAlpha(4, 1), 9);
}

TEST(KVVirtualImageList, CheckedWrites) {
    class ShortStream : public TStream {
    public:
        int64_t Read(void*, int64_t) override { return 0; }
        int64_t Write(const void*, int64_t count) override { return count > 4 ? 4 : count; }
        int64_t Seek(int64_t, TSeekOrigin) override { return 0; }
        void SetSize(int64_t) override {}
    } stream;
    std::atomic<bool> abort = false;
    const char data[8] = {};
    KVStreamWriteChecked(stream, abort, data, 4);
    EXPECT_FALSE(abort);
    KVStreamWriteChecked(stream, abort, data, 8);
    EXPECT_TRUE(abort);
}
