#include <gtest/gtest.h>

#include <filesystem>


#include "imaging/core/KVBasicHelpers.h"
#include "imaging/core/KVDibBitmap.h"
#include "imaging/core/KVHash.h"
#include "imaging/core/KVLibraryState.h"
#include "platform/Graphics.h"
#include "TestSupport.h"

TEST(KVBasicHelpers, Numbers) {
    EXPECT_EQ(KVCeil(2.0), 2);
    EXPECT_EQ(KVCeil(2.1), 3);
    EXPECT_EQ(KVCeil(-2.1), -2);
    EXPECT_EQ(KVFloor(-2.1), -3);
    EXPECT_EQ(KVFloor(2.9), 2);
    EXPECT_EQ(KVClamp(5, 1, 3), 3);
    EXPECT_EQ(KVClamp(-5, 1, 3), 1);
    EXPECT_EQ(KVClampByte(300), 255);
    EXPECT_EQ(KVClampByte(-1), 0);
    EXPECT_EQ(KVLog2(256), 8);
    EXPECT_EQ(KVLog2(0), -1);
    EXPECT_EQ(KVLog2(6), 3);
    EXPECT_EQ(KVBitMaskWidth(0x00FF0000), 8);
    EXPECT_EQ(KVBitMaskWidth(0x07E0), 6);
    EXPECT_EQ(KVBitMaskWidth(0), 0);
    EXPECT_EQ(KVIntPower(10, 2.0), 1024.0);
    EXPECT_EQ(KVIntPower(-2, 2.0), 0.25);
    EXPECT_EQ(KVPower(0.0, 2.5), 0.0);
    EXPECT_EQ(KVPower(5.0, 0.0), 1.0);
    EXPECT_DOUBLE_EQ(KVPower(4.0, 0.5), 2.0);
    EXPECT_EQ(KVSwapWord(0x11223344), 0x11224433);
    EXPECT_EQ(uint32_t(KVSwapDWord(0x11223344)), 0x44332211u);
    uint8_t byte = 0x01;
    KVReverseBits8(byte);
    EXPECT_EQ(byte, 0x80);
    uint32_t word = 0x00000003;
    KVReverseBits32(word);
    EXPECT_EQ(word, 0xC0000000u);
    EXPECT_EQ(KVBitmapRowLen(33, 1, 32), 8);
    EXPECT_EQ(KVPixelFormatBits(TPixelFormat::pf15bit), 15);
    EXPECT_EQ(KVPixelFormatBits(TPixelFormat::pfDevice), 0);
    EXPECT_EQ(KVTPixelFormatRowLen(3, TPixelFormat::pf15bit), 8);
}

TEST(KVBasicHelpers, Colours) {
    EXPECT_EQ(KVCreateRGB(1, 2, 3), (TKVRGB{3, 2, 1}));
    EXPECT_EQ(KVRGBToGray(0xFFFFFF), 255);
    EXPECT_EQ(KVRGBToGray(0x00FF00), 181);
    EXPECT_EQ(KVSwapRB(0x00112233), 0x00332211u);
    EXPECT_EQ(KVColorToRGB(RGB(10, 20, 30)), KVCreateRGB(10, 20, 30));
    EXPECT_TRUE(KVSameRGB(0xFF123456, 0x00123456));
    uint8_t pixels[6] = {1, 2, 3, 4, 5, 6}, copy[6];
    KVCopyRGBSwapped(copy, pixels, 2);
    EXPECT_EQ(std::vector<uint8_t>(copy, copy + 6), (std::vector<uint8_t>{3, 2, 1, 6, 5, 4}));
    KVSwapRBInPlace(pixels, 2);
    EXPECT_EQ(std::vector<uint8_t>(pixels, pixels + 6), (std::vector<uint8_t>{3, 2, 1, 6, 5, 4}));
    EXPECT_EQ(KVGrayWeights.Red + KVGrayWeights.Green + KVGrayWeights.Blue, 100);
}

TEST(KVBasicHelpers, Geometry) {
    int x = 100, y = 10;
    KVSnapTo45(0, 0, x, y);
    EXPECT_EQ(x, 100);
    EXPECT_EQ(y, 0);
    x = 100, y = 90;
    KVSnapTo45(0, 0, x, y);
    EXPECT_EQ(x, 100);
    EXPECT_EQ(y, 100);
    x = 10, y = 100;
    KVSnapTo45(0, 0, x, y);
    EXPECT_EQ(x, 0);
    x = -90, y = -100;
    KVSnapTo45(0, 0, x, y);
    EXPECT_EQ(x, -90);
    EXPECT_EQ(y, -90);

    int x1 = 5, y1 = 1, x2 = 2, y2 = 4;
    KVOrderCorners(x1, y1, x2, y2);
    EXPECT_EQ(x1, 2);
    EXPECT_EQ(x2, 5);
    EXPECT_TRUE(KVPointInRect(5, 5, Rect(0, 0, 5, 5)));
    EXPECT_FALSE(KVPointInRect(6, 5, Rect(0, 0, 5, 5)));
    EXPECT_TRUE(KVRectsIntersect(Rect(10, 10, 5, 5), Rect(0, 0, 5, 5)));  // corners in any order, borders touch
    EXPECT_FALSE(KVRectsIntersect(Rect(6, 6, 9, 9), Rect(0, 0, 5, 5)));
    EXPECT_EQ(KVRectOverlapKind(Rect(1, 1, 4, 4), Rect(0, 0, 5, 5)), 2);
    EXPECT_EQ(KVRectOverlapKind(Rect(3, 3, 8, 8), Rect(0, 0, 5, 5)), 1);
    EXPECT_EQ(KVRectOverlapKind(Rect(6, 6, 8, 8), Rect(0, 0, 5, 5)), 0);
    EXPECT_EQ(KVPointAdd(TPoint{1, 2}, TPoint{3, 4}), (TPoint{4, 6}));
    EXPECT_EQ(KVPointSub(TPoint{1, 2}, TPoint{3, 4}), (TPoint{-2, -2}));
}

TEST(KVBasicHelpers, FilesAndFolders) {
    const TScratchFolder scratch;
    const std::string& root = scratch.Folder();
    KVForceDirectories(root + "/a/b/c/");
    EXPECT_TRUE(KVDirectoryExists(root + "/a/b/c"));
    EXPECT_THROW(KVForceDirectories(""), EInOutError);
    // Short and relative paths are ordinary paths on Linux.
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(root);
    KVForceDirectories("x/y");
    KVForceDirectories("z");
    std::filesystem::current_path(cwd);
    EXPECT_TRUE(KVDirectoryExists(root + "/x/y"));
    EXPECT_TRUE(KVDirectoryExists(root + "/z"));
    WriteFile(root + "/f.bin", "12345");
    EXPECT_EQ(KVGetFileSize(root + "/f.bin"), 5);
    EXPECT_EQ(KVGetFileSize(root + "/none"), -1);
    EXPECT_FALSE(KVDirectoryExists(root + "/f.bin"));
}

TEST(THash1, KeysShareSlotsAndCount) {
    THash1 hash(4);
    EXPECT_EQ(hash.SlotCount(), 16);
    EXPECT_EQ(hash.BucketOf(17), 1u);
    uint32_t slot;
    THash1Item* item;
    EXPECT_TRUE(hash.InsertItem(1, slot, item));
    EXPECT_EQ(item, nullptr);
    EXPECT_TRUE(hash.InsertItem(17, slot, item));
    EXPECT_EQ(slot, 1u);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->Key, 17u);
    EXPECT_FALSE(hash.Insert(17));
    EXPECT_FALSE(hash.Insert(1));
    EXPECT_TRUE(hash.Insert(33));
    EXPECT_FALSE(hash.Insert(33));
    EXPECT_EQ(hash.Count(), 3);

    THash1 single(0);  // every key in one chain
    for (uint32_t key = 0; key < 500; ++key) single.Insert(key * 7);
    EXPECT_FALSE(single.Insert(7 * 250));
    EXPECT_EQ(single.Count(), 500);
}

TEST(TKVDibbitmap, AllocatesOneOrTwentyFourBits) {
    TKVDibbitmap dib;
    dib.Allocate(10, 3, kv8Gray);
    EXPECT_EQ(dib.GetWidth(), 0);
    EXPECT_EQ(dib.GetPixelFormat(), kvNoFormat);
    dib.Allocate(33, 3, kv1Bit);
    EXPECT_EQ(dib.GetPixelFormat(), kv1Bit);
    EXPECT_EQ(dib.GetRowLen(), 8);
    dib.Allocate(5, 3, kv24RGB);
    EXPECT_EQ(dib.GetRowLen(), 16);
    EXPECT_EQ(dib.GetScanline(2), dib.Bits());  // rows bottom-up
    dib.GetScanline(0)[0] = 9;
    TKVDibbitmap copy;
    copy.Assign(&dib);
    EXPECT_EQ(copy.GetScanline(0)[0], 9);
    TKVRGB entry{1, 1, 1};
    copy.GetPaletteEntry(0, entry);
    EXPECT_EQ(entry, TKVRGB{});
    EXPECT_EQ(copy.GetPaletteCount(), 0);
    copy.FreeDIB();
    EXPECT_EQ(copy.GetHeight(), 0);

    TKVWorkBitmap work(5, 24, 2);
    EXPECT_EQ(work.RowLen(), 16);
    EXPECT_EQ(work.GetScanline(1), work.Bits());
    work.Allocate(5, 2, 24);
    EXPECT_EQ(work.Width(), 5);
}
