#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <vector>

#include "imaging/core/KVBasicHelpers.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVFileBuffer.h"
#include "platform/Graphics.h"
#include "TestSupport.h"

namespace {

// Keeps temporary files in a folder of the test's own, so that left-overs can be seen.
class KVBitmapTest : public ::testing::Test {
protected:
    void SetUp() override { KVTempFolder = folder_; }
    void TearDown() override { KVTempFolder.clear(); }
    int TempFiles() const { return int(scratch_.Files().size()); }
    TScratchFolder scratch_;
    const std::string folder_ = scratch_.Folder();
};

int64_t PixelBytes(TKVBitmap& bitmap) { return (int64_t(bitmap.GetWidth()) * bitmap.GetBitCount() + 7) / 8; }

// Writes a pattern into the pixel bytes of every row (the padding is left alone).
void Paint(TKVBitmap& bitmap, int seed = 0) {
    TKVAccessScope updating(bitmap, kvaReadWrite);
    for (int y = 0; y < bitmap.GetHeight(); ++y) {
        uint8_t* row = bitmap.GetScanline(y);
        for (int64_t i = 0; i < PixelBytes(bitmap); ++i) row[i] = uint8_t(i * 7 + y * 13 + seed);
    }
}

std::vector<std::vector<uint8_t>> Rows(TKVBitmap& bitmap) {
    std::vector<std::vector<uint8_t>> rows;
    TKVAccessScope reading(bitmap, kvaRead);
    for (int y = 0; y < bitmap.GetHeight(); ++y) {
        const uint8_t* row = bitmap.GetScanline(y);
        rows.emplace_back(row, row + PixelBytes(bitmap));
    }
    return rows;
}

std::unique_ptr<TKVBitmap> Painted(int width, int height, TKVPixelFormat format, TKVLocation location) {
    auto bitmap = std::make_unique<TKVBitmap>();
    bitmap->SetLocation(location);
    // A small picture would otherwise move to memory when it is allocated.
    if (location == kvFile) bitmap->SetMemoryThreshold(0);
    bitmap->Allocate(width, height, format);
    EXPECT_EQ(bitmap->Location(), location);
    Paint(*bitmap);
    return bitmap;
}

}  // namespace

TEST_F(KVBitmapTest, RowLengths) {
    struct Case {
        TKVPixelFormat format;
        int width;
        int align;
        int64_t rowLen;
    } cases[] = {
        {kv24RGB, 1, 32, 4}, {kv24RGB, 5, 32, 16}, {kv1Bit, 33, 32, 8}, {kv1Bit, 32, 32, 4},
        {kv8Gray, 3, 32, 4}, {kv16Gray, 3, 32, 8}, {kv32f, 3, 32, 12}, {kvCMYK, 1, 32, 4},
        {kvRGB48, 1, 32, 8}, {kv24RGB, 5, 8, 15},  {kv1Bit, 9, 8, 2},    {kv8Paletted, 5, 16, 6},
        {kv8Gray, 10, 24, 12},
    };
    for (const Case& c : cases) {
        TKVBitmap bitmap;
        bitmap.SetRowAlign(c.align);
        bitmap.Allocate(c.width, 2, c.format);
        EXPECT_EQ(bitmap.GetRowLen(), c.rowLen) << int(c.format) << " width " << c.width << " align " << c.align;
        EXPECT_EQ(bitmap.GetBitCount(), KVPixelFormatBitCount(c.format));
    }
    // An alignment of 12 bits would give ten 8-bit pixels rows of 7 bytes.
    for (int align : {12, 4, 0, -8}) {
        TKVBitmap bitmap;
        bitmap.SetRowAlign(16);
        EXPECT_THROW(bitmap.SetRowAlign(align), EInvalidOperation) << align;
        EXPECT_EQ(bitmap.RowAlign(), 16);
    }
}

TEST_F(KVBitmapTest, LocationIsChosenBySizeAgainstTheThreshold) {
    struct Case {
        int64_t threshold;
        TKVLocation before;
        TKVLocation after;
    } cases[] = {
        {300, kvFile, kvFile},       // exactly the threshold keeps the location
        {300, kvMemory, kvMemory},
        {301, kvFile, kvMemory},
        {299, kvMemory, kvFile},
        {0, kvMemory, kvFile},
        {0, kvTBitmap, kvTBitmap},   // never changed by size
    };
    for (const Case& c : cases) {
        TKVBitmap bitmap;
        EXPECT_EQ(bitmap.Location(), kvFile);
        bitmap.SetLocation(c.before);
        bitmap.SetMemoryThreshold(c.threshold);
        bitmap.Allocate(100, 3, kv8Gray);  // 300 bytes
        EXPECT_EQ(bitmap.Location(), c.after) << c.threshold << " from " << int(c.before);
    }
}

TEST_F(KVBitmapTest, EmptyAllocationKeepsTheValues) {
    TKVBitmap bitmap;
    bitmap.Allocate(0, 10, kv24RGB);
    EXPECT_TRUE(bitmap.IsEmpty());
    EXPECT_EQ(bitmap.GetPixelFormat(), kv24RGB);
    EXPECT_EQ(bitmap.GetHeight(), 10);
    // Giving the missing dimension allocates.
    bitmap.SetWidth(4);
    EXPECT_FALSE(bitmap.IsEmpty());
    EXPECT_EQ(bitmap.GetRowLen(), 12);
}

TEST_F(KVBitmapTest, GrayInTBitmapLocation) {
    TKVBitmap bitmap;
    bitmap.SetLocation(kvTBitmap);
    bitmap.Allocate(5, 4, kv16Gray);
    EXPECT_EQ(bitmap.GetBitCount(), 8);
    // 8-bit class-library bitmaps read back as paletted, with a gray palette.
    EXPECT_EQ(bitmap.GetPixelFormat(), kv8Paletted);
    ASSERT_EQ(bitmap.GetPaletteCount(), 256);
    TKVRGB entry;
    bitmap.GetPaletteEntry(200, entry);
    EXPECT_EQ(entry, (TKVRGB{200, 200, 200}));

    for (const TKVPixelFormat format : {kv32f, kvCMYK, kvRGB48}) {
        TKVBitmap held;
        held.SetLocation(kvTBitmap);
        held.Allocate(2, 2, kv24RGB);
        try {
            held.Allocate(3, 3, format);
            FAIL() << "must refuse";
        } catch (const Exception& error) {
            const std::string name = format == kv32f ? "kv32f" : format == kvCMYK ? "kvCMYK" : "kvRGB48";
            EXPECT_EQ(error.Message(), name + " pixel format not allowed when Location=kvTBitmap");
        }
        // Refused before anything changed.
        EXPECT_EQ(held.GetWidth(), 2);
        EXPECT_EQ(held.GetPixelFormat(), kv24RGB);
        EXPECT_NE(held.GetScanline(1), nullptr);
    }
}

TEST_F(KVBitmapTest, ThreeLocationsHoldTheSamePixels) {
    for (const TKVPixelFormat format : {kv1Bit, kv8Paletted, kv8Gray, kv16Gray, kv24RGB, kv32f, kvCMYK, kvRGB48}) {
        auto reference = Painted(37, 11, format, kvMemory);
        if (format == kv8Paletted)
            for (int i = 0; i < 256; ++i) reference->SetPaletteEntry(i, uint32_t(i * 0x010203));
        const auto expected = Rows(*reference);
        const bool fitsTBitmap = format != kv32f && format != kvCMYK && format != kvRGB48 && format != kv16Gray;
        std::vector<TKVLocation> road = {kvFile, kvMemory, kvFile};
        if (fitsTBitmap) road = {kvFile, kvTBitmap, kvMemory, kvTBitmap, kvFile, kvMemory};
        TKVBitmap bitmap;
        bitmap.SetMemoryThreshold(0);  // so that kvFile stays kvFile
        bitmap.SetLocation(kvMemory);
        bitmap.Assign(reference.get());
        for (const TKVLocation location : road) {
            if (location == kvMemory) bitmap.SetMemoryThreshold(1 << 30);
            if (location == kvFile) bitmap.SetMemoryThreshold(0);
            bitmap.SetLocation(location);
            EXPECT_EQ(bitmap.Location(), location);
            EXPECT_EQ(Rows(bitmap), expected) << "format " << int(format) << " in " << int(location);
            if (format == kv8Paletted) {
                TKVRGB entry;
                bitmap.GetPaletteEntry(100, entry);
                EXPECT_EQ(entry, KVCreateRGB(100, 201, 44));
            }
        }
        // From file to file the content is copied whole.
        bitmap.SetMemoryThreshold(0);
        bitmap.SetLocation(kvFile);
        bitmap.GetScanline(3);  // a row brought in must not get in the way
        TKVBitmap copy;
        copy.SetMemoryThreshold(0);
        copy.Assign(&bitmap);
        EXPECT_EQ(copy.Location(), kvFile);
        EXPECT_EQ(Rows(copy), expected) << "format " << int(format) << " file to file";
    }
}

TEST_F(KVBitmapTest, RowsCountFromTheTopInEveryLocation) {
    TKVBitmap bitmap;
    bitmap.SetLocation(kvMemory);
    bitmap.Allocate(3, 4, kv24RGB);
    bitmap.Fill(clBlack);
    std::memset(bitmap.GetScanline(0), 255, 9);  // top row white
    bitmap.SetMemoryThreshold(0);
    bitmap.SetLocation(kvFile);
    EXPECT_EQ(bitmap.GetScanline(0)[0], 255);
    EXPECT_EQ(bitmap.GetScanline(3)[0], 0);
    TBitmap* platform = bitmap.GetTBitmap();
    EXPECT_EQ(platform->Pixel(2, 0), clWhite);
    EXPECT_EQ(platform->Pixel(2, 3), clBlack);
    EXPECT_EQ(bitmap.GetScanline(0), platform->ScanLine(0));
}

TEST_F(KVBitmapTest, LargePictureGoesToATemporaryFileAndLeavesNothingBehind) {
    {
        TKVBitmap bitmap;
        bitmap.SetMemoryThreshold(1000);
        bitmap.SetLocation(kvMemory);
        bitmap.Allocate(100, 100, kv24RGB);
        EXPECT_EQ(bitmap.Location(), kvFile);
        EXPECT_EQ(TempFiles(), 1);
        for (const auto& entry : std::filesystem::directory_iterator(folder_)) {
            EXPECT_EQ(entry.path().filename().string().substr(0, 4), "IMG-");
            EXPECT_EQ(entry.file_size(), 30000u);
        }
        // Only the row fetched last is valid; written rows survive in the file.
        bitmap.SetAccess(kvaWrite);
        for (int y = 0; y < 100; ++y) std::memset(bitmap.GetScanline(y), y, 300);
        bitmap.SetAccess(kvaReadWrite);
        for (int y = 0; y < 100; ++y) EXPECT_EQ(bitmap.GetScanline(y)[299], y);
        bitmap.FreeImage();
        EXPECT_EQ(TempFiles(), 0);
        bitmap.Allocate(100, 100, kv24RGB);
        EXPECT_EQ(TempFiles(), 1);
    }
    EXPECT_EQ(TempFiles(), 0);
}

TEST_F(KVBitmapTest, FileLocationRowAccess) {
    auto bitmap = Painted(16, 4, kv8Gray, kvFile);
    const auto painted = Rows(*bitmap);
    // A row fetched read-only is not written back, whatever was done to it.
    bitmap->SetAccess(kvaRead);
    bitmap->GetScanline(1)[0] = 99;
    bitmap->GetScanline(2);
    bitmap->SetAccess(kvaReadWrite);
    EXPECT_EQ(Rows(*bitmap), painted);
    // A write-only row is not read from the file; what is written into it is kept.
    bitmap->SetAccess(kvaWrite);
    const uint8_t* fresh = bitmap->GetScanline(2);
    EXPECT_NE(std::vector<uint8_t>(fresh, fresh + 16), painted[2]);
    std::memset(bitmap->GetScanline(2), 5, 16);
    bitmap->SetAccess(kvaReadWrite);
    EXPECT_EQ(bitmap->GetScanline(2)[15], 5);
}

// The row written last, with no other row fetched after it, must reach whatever takes over the rows.
TEST_F(KVBitmapTest, FileLocationFlushesTheLastRowWrittenBeforeHandingOver) {
    using Bitmap = std::unique_ptr<TKVBitmap>;
    auto inFile = [] {
        auto target = std::make_unique<TKVBitmap>();
        target->SetMemoryThreshold(0);
        return target;
    };
    struct Operation {
        const char* name;
        std::function<Bitmap(Bitmap)> run;
    } operations[] = {
        {"SetLocation to memory",
         [](Bitmap b) {
             b->SetMemoryThreshold(int64_t(1) << 40);
             b->SetLocation(kvMemory);
             return b;
         }},
        {"SetLocation to a TBitmap",
         [](Bitmap b) {
             b->SetLocation(kvTBitmap);
             return b;
         }},
        {"Assign into memory",
         [](Bitmap b) {
             auto target = std::make_unique<TKVBitmap>();
             target->SetLocation(kvMemory);
             target->Assign(b.get());
             return target;
         }},
        {"Assign into another file",
         [&](Bitmap b) {
             auto target = inFile();
             target->Assign(b.get());
             EXPECT_EQ(target->Location(), kvFile);
             return target;
         }},
        {"AssignImage into another file",
         [&](Bitmap b) {
             auto target = inFile();
             target->AssignImage(*b);
             return target;
         }},
        {"MoveStorageTo",
         [](Bitmap b) {
             auto target = std::make_unique<TKVBitmap>();
             b->MoveStorageTo(*target);
             return target;
         }},
        {"conversion to 24 bits",
         [](Bitmap b) {
             b->SetPixelFormat(kv24RGB);
             EXPECT_EQ(b->Location(), kvFile);
             return b;
         }},
    };
    for (const Operation& operation : operations)
        for (const TKVAccess access : {kvaWrite, kvaReadWrite})
            for (const int row : {0, 3}) {
                SCOPED_TRACE(std::string(operation.name) + ", row " + std::to_string(row) +
                             (access == kvaWrite ? ", write-only" : ", read-write"));
                auto bitmap = Painted(16, 4, kv8Gray, kvFile);
                auto expected = Rows(*bitmap);
                bitmap->SetAccess(access);
                std::memset(bitmap->GetScanline(row), 200, 16);
                bitmap->SetAccess(kvaReadWrite);
                expected[size_t(row)].assign(16, 200);
                const Bitmap result = operation.run(std::move(bitmap));
                ASSERT_EQ(result->GetHeight(), 4);
                for (int y = 0; y < 4; ++y)
                    for (int x = 0; x < 16; ++x) {
                        const uint8_t level = expected[size_t(y)][size_t(x)];
                        ASSERT_EQ(result->GetPixelRGB(x, y), (TKVRGB{level, level, level})) << x << "," << y;
                    }
            }
}

// Row offsets of a picture over 4 GiB do not wrap at 32 bits; the file is sparse, so this is cheap.
TEST_F(KVBitmapTest, FileOffsetsBeyondFourGiB) {
    TKVBitmap bitmap;
    bitmap.SetMemoryThreshold(0);
    bitmap.Allocate(65536, 65538, kv8Gray);
    ASSERT_EQ(bitmap.Location(), kvFile);
    for (const auto& entry : std::filesystem::directory_iterator(folder_)) EXPECT_EQ(entry.file_size(), uint64_t(65536) * 65538);
    const std::pair<int, uint8_t> written[] = {{0, 3}, {65536, 9}, {65537, 7}};  // row 65536 starts at 4 GiB
    {
        TKVAccessScope writing(bitmap, kvaWrite);
        for (const auto& [row, value] : written) std::memset(bitmap.GetScanline(row), value, 65536);
    }
    TKVAccessScope reading(bitmap, kvaRead);
    for (const auto& [row, value] : written) {
        const uint8_t* line = bitmap.GetScanline(row);
        EXPECT_EQ(line[0], value) << row;
        EXPECT_EQ(line[65535], value) << row;
    }
    EXPECT_EQ(bitmap.GetScanline(1)[0], 0);
}

TEST_F(KVBitmapTest, DefaultThreshold) {
    KVDefaultMemoryThreshold = 12345;
    EXPECT_EQ(TKVBitmap().MemoryThreshold(), 12345);
    KVDefaultMemoryThreshold = -1;
    // The available memory changes between two readings, so the rule is checked on given figures.
    EXPECT_EQ(KVThresholdForAvailableMemory(0), 33554432);
    EXPECT_EQ(KVThresholdForAvailableMemory(8000000001), 4000000000);
    EXPECT_GT(TKVBitmap().MemoryThreshold(), 0);
    TKVBitmap own;
    own.SetMemoryThreshold(-1);  // a threshold of the bitmap's own, not the default
    own.Allocate(1, 1, kv8Gray);
    EXPECT_EQ(own.Location(), kvFile);
}

TEST_F(KVBitmapTest, FailedAllocationLeavesThePictureIntact) {
    for (const TKVLocation location : {kvMemory, kvFile, kvTBitmap}) {
        auto bitmap = Painted(9, 7, kv24RGB, location);
        bitmap->SetMemoryThreshold(0);
        const auto before = Rows(*bitmap);
        EXPECT_THROW(bitmap->Allocate(2000000000, 2000000000, kv24RGB), EOutOfResources);
        EXPECT_THROW(bitmap->Allocate(1 << 20, 1 << 20, kv8Gray), EOutOfResources);
        EXPECT_EQ(bitmap->GetWidth(), 9);
        EXPECT_EQ(Rows(*bitmap), before);
    }
    // A location change that the target cannot hold changes nothing.
    auto floats = Painted(5, 5, kv32f, kvMemory);
    const auto before = Rows(*floats);
    EXPECT_THROW(floats->SetLocation(kvTBitmap), Exception);
    EXPECT_EQ(floats->Location(), kvMemory);
    EXPECT_EQ(Rows(*floats), before);
}

TEST_F(KVBitmapTest, PictureThatFitsNeitherFileNorMemoryFailsCleanly) {
    const int64_t height = 2 * KVAvailablePhysicalMemory() / 65536 + 1;
    if (height * 65536 > KVMaxImageBytes) GTEST_SKIP() << "more memory than the size cap";
    KVTempFolder = folder_ + "/missing";
    TKVBitmap huge;
    huge.SetMemoryThreshold(0);
    EXPECT_THROW(huge.Allocate(65536, int(height), kv8Gray), EOutOfResources);
    EXPECT_TRUE(huge.IsEmpty());
}

TEST_F(KVBitmapTest, FileCreationFailureFallsBackToMemory) {
    KVTempFolder = folder_ + "/missing";
    TKVBitmap bitmap;
    bitmap.SetMemoryThreshold(0);
    bitmap.Allocate(10, 10, kv8Gray);
    EXPECT_EQ(bitmap.Location(), kvMemory);
    EXPECT_FALSE(bitmap.IsEmpty());
}

TEST_F(KVBitmapTest, AlphaChannel) {
    TKVBitmap bitmap;
    bitmap.Allocate(6, 3, kv24RGB);
    EXPECT_FALSE(bitmap.GetHasAlphaChannel());
    TKVBitmap* alpha = bitmap.GetAlphaChannel();
    ASSERT_NE(alpha, nullptr);
    EXPECT_TRUE(alpha->IsAlpha());
    EXPECT_TRUE(alpha->Full());
    EXPECT_EQ(alpha->GetPixelFormat(), kv8Gray);
    EXPECT_EQ(alpha->GetWidth(), 6);
    EXPECT_EQ(alpha->GetAlphaChannel(), nullptr);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 6; ++x) EXPECT_EQ(bitmap.GetAlpha(x, y), 255);

    // Assign copies the alpha channel or removes it.
    TKVBitmap copy;
    bitmap.SetAlpha(1, 1, 10);
    copy.Assign(&bitmap);
    ASSERT_TRUE(copy.GetHasAlphaChannel());
    EXPECT_EQ(copy.GetAlpha(1, 1), 10);
    TKVBitmap plain;
    plain.Allocate(2, 2, kv8Gray);
    copy.Assign(&plain);
    EXPECT_FALSE(copy.GetHasAlphaChannel());

    // Size changes carry the alpha channel along; Allocate drops it.
    bitmap.SetWidth(10);
    EXPECT_EQ(bitmap.GetAlphaChannel()->GetWidth(), 10);
    EXPECT_EQ(bitmap.GetAlpha(1, 1), 10);
    bitmap.Allocate(4, 4, kv24RGB);
    EXPECT_FALSE(bitmap.GetHasAlphaChannel());

    // Taking the picture of another keeps the own alpha channel, at the new size.
    bitmap.SetAlpha(0, 0, 20);
    TKVBitmap larger;
    larger.Allocate(8, 2, kv8Gray);
    bitmap.AssignImage(larger);
    EXPECT_EQ(bitmap.GetPixelFormat(), kv8Gray);
    EXPECT_EQ(bitmap.GetAlphaChannel()->GetWidth(), 8);
    EXPECT_EQ(bitmap.GetAlpha(0, 0), 20);
    // Its own alpha channel as the source.
    bitmap.Assign(bitmap.GetAlphaChannel());
    EXPECT_EQ(bitmap.GetByte(0, 0), 20);
    EXPECT_FALSE(bitmap.GetHasAlphaChannel());
}

TEST_F(KVBitmapTest, SetWidthAndHeightKeepTheTopLeftContent) {
    for (const TKVLocation location : {kvMemory, kvFile, kvTBitmap}) {
        auto bitmap = Painted(5, 6, kv24RGB, location);
        bitmap->SetMemoryThreshold(location == kvFile ? 0 : 1 << 30);
        const auto before = Rows(*bitmap);
        bitmap->SetWidth(9);
        bitmap->SetHeight(4);
        EXPECT_EQ(bitmap->Location(), location);
        ASSERT_EQ(bitmap->GetWidth(), 9);
        ASSERT_EQ(bitmap->GetHeight(), 4);
        const auto after = Rows(*bitmap);
        for (int y = 0; y < 4; ++y)
            EXPECT_TRUE(std::equal(before[size_t(y)].begin(), before[size_t(y)].end(), after[size_t(y)].begin()))
                << "row " << y << " in " << int(location);
    }
}

TEST_F(KVBitmapTest, PaletteEntriesOutOfRange) {
    TKVBitmap bitmap;
    bitmap.Allocate(2, 2, kv8Paletted);
    ASSERT_EQ(bitmap.GetPaletteCount(), 256);
    bitmap.SetPaletteEntry(3, 0x112233);
    TKVRGB entry{1, 2, 3};
    bitmap.GetPaletteEntry(3, entry);
    EXPECT_EQ(entry, KVCreateRGB(0x11, 0x22, 0x33));
    for (const int index : {-1, 256}) {
        bitmap.SetPaletteEntry(index, 0xFFFFFF);
        TKVRGB untouched{1, 2, 3};
        bitmap.GetPaletteEntry(index, untouched);
        EXPECT_EQ(untouched, (TKVRGB{1, 2, 3}));
    }
    // The palette follows into the class-library bitmap.
    bitmap.SetLocation(kvTBitmap);
    EXPECT_EQ(bitmap.GetTBitmap()->Palette()[3], (TPaletteEntry{0x11, 0x22, 0x33, 0}));
    bitmap.SetPaletteEntry(4, 0xABCDEF);
    EXPECT_EQ(bitmap.GetTBitmap()->Palette()[4], (TPaletteEntry{0xAB, 0xCD, 0xEF, 0}));
}

TEST_F(KVBitmapTest, EncapsulatedTBitmap) {
    TBitmap platform;
    platform.SetPixelFormat(TPixelFormat::pf24bit);
    platform.SetSize(4, 3);
    platform.SetPixel(1, 2, RGB(10, 20, 30));
    {
        TKVBitmap bitmap;
        bitmap.EncapsulateTBitmap(&platform, true);
        EXPECT_EQ(bitmap.Location(), kvTBitmap);
        EXPECT_EQ(bitmap.GetPixelFormat(), kv24RGB);
        EXPECT_EQ(bitmap.GetPixelRGB(1, 2), KVCreateRGB(10, 20, 30));
        bitmap.GetScanline(0)[0] = 99;  // no copy: the caller's pixels change
        EXPECT_EQ(platform.ScanLine(0)[0], 99);
        // The owner resizes its bitmap; the wrapper reads the new size back, and its alpha
        // channel follows a change of the width alone as well as of both sides.
        TKVBitmap* alpha = bitmap.GetAlphaChannel();
        platform.SetSize(7, 3);
        EXPECT_EQ(bitmap.GetWidth(), 7);
        EXPECT_EQ(bitmap.GetAlphaChannel()->GetWidth(), 7);
        EXPECT_EQ(bitmap.GetAlphaChannel()->GetHeight(), 3);
        platform.SetSize(8, 5);
        EXPECT_EQ(bitmap.GetWidth(), 8);
        EXPECT_EQ(bitmap.GetScanline(4), platform.ScanLine(4));
        alpha = bitmap.GetAlphaChannel();
        EXPECT_EQ(alpha->GetWidth(), 8);
        EXPECT_EQ(alpha->GetHeight(), 5);
    }
    EXPECT_EQ(platform.Width(), 8);  // not freed with the wrapper

    // Rows of other depths are not read as 24-bit rows: the bitmap is converted first.
    for (const TPixelFormat format : {TPixelFormat::pf4bit, TPixelFormat::pf15bit, TPixelFormat::pf16bit,
                                      TPixelFormat::pf32bit}) {
        TBitmap other;
        other.SetPixelFormat(format);
        other.SetSize(5, 2);
        other.SetPixel(4, 1, clWhite);
        TKVBitmap bitmap;
        bitmap.EncapsulateTBitmap(&other, true);
        EXPECT_EQ(bitmap.GetPixelFormat(), kv24RGB);
        EXPECT_EQ(bitmap.GetRowLen(), other.RowBytes());
        EXPECT_EQ(bitmap.GetPixelRGB(4, 1), (TKVRGB{255, 255, 255}));
    }

    TBitmap paletted;
    paletted.SetPixelFormat(TPixelFormat::pf8bit);
    paletted.SetSize(3, 3);
    TKVBitmap bitmap;
    bitmap.EncapsulateTBitmap(&paletted, true);
    EXPECT_EQ(bitmap.GetPixelFormat(), kv8Paletted);
    TKVRGB entry;
    bitmap.GetPaletteEntry(215, entry);
    EXPECT_EQ(entry, (TKVRGB{255, 255, 255}));  // the last entry of the default colour cube
}

std::vector<TKVRGB> PaletteOf(TKVBitmap& bitmap) {
    std::vector<TKVRGB> palette(size_t(bitmap.GetPaletteCount()));
    for (size_t i = 0; i < palette.size(); ++i) bitmap.GetPaletteEntry(int(i), palette[i]);
    return palette;
}

// A decoder writes the pixels of an unfilled picture, never the bytes behind the last one: those
// must be zero however dirty the storage was before, in every location.
TEST_F(KVBitmapTest, UnfilledPicturesHaveZeroRowPaddingAndTheirShape) {
    struct Case {
        const char* name;
        int width, height;
        TKVPixelFormat format;
        int64_t usedBytes;  // whole bytes of pixels in a row
    } cases[] = {
        {"1-bit", 13, 4, kv1Bit, 1}, {"gray", 7, 3, kv8Gray, 7}, {"24-bit", 5, 6, kv24RGB, 15}, {"paletted", 3, 2, kv8Paletted, 3},
    };
    TBitmap caller;
    for (const int location : {0, 1, 2}) {  // memory, own TBitmap, the caller's TBitmap
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << c.name << " in location " << location);
            TKVBitmap bitmap;
            if (location == 1) bitmap.SetLocation(kvTBitmap);
            if (location == 2) bitmap.EncapsulateTBitmap(&caller, true);
            // Dirty storage of the same size first, padding included; the picture as a filled
            // allocation makes it (a class-library bitmap holds gray as a gray palette).
            bitmap.Allocate(c.width, c.height, c.format);
            const TKVPixelFormat format = bitmap.GetPixelFormat();
            const std::vector<TKVRGB> palette = PaletteOf(bitmap);
            for (int y = 0; y < c.height; ++y) std::memset(bitmap.GetScanline(y), 0xA5, size_t(bitmap.GetRowLen()));
            bitmap.AllocateUnfilled(c.width, c.height, c.format);
            ASSERT_EQ(bitmap.GetWidth(), c.width);
            ASSERT_EQ(bitmap.GetHeight(), c.height);
            ASSERT_EQ(bitmap.GetPixelFormat(), format);
            EXPECT_TRUE(PaletteOf(bitmap) == palette);
            for (int y = 0; y < c.height; ++y) {
                const uint8_t* row = bitmap.GetScanline(y);
                for (int64_t i = c.usedBytes; i < bitmap.GetRowLen(); ++i) EXPECT_EQ(row[i], 0) << "row " << y << " byte " << i;
            }
            if (location == 2) EXPECT_EQ(caller.Width(), c.width);
        }
    }
}

TEST_F(KVBitmapTest, EncapsulatedMemoryAndMovedStorage) {
    std::vector<uint8_t> rows(8 * 2, 0);
    rows[0] = 77;  // bottom-up: the first row in memory is the bottom row
    {
        TKVBitmap bitmap;
        bitmap.EncapsulateMemory(rows.data(), 2, 2, kv24RGB, true);
        EXPECT_EQ(bitmap.Location(), kvMemory);
        EXPECT_EQ(bitmap.GetScanline(1)[0], 77);

        TKVBitmap target;
        target.Allocate(3, 3, kv8Gray);
        bitmap.MoveStorageTo(target);
        EXPECT_TRUE(bitmap.IsEmpty());
        EXPECT_EQ(bitmap.GetPixelFormat(), kvNoFormat);
        EXPECT_EQ(target.GetWidth(), 2);
        EXPECT_EQ(target.GetScanline(1), rows.data());
    }
    EXPECT_EQ(rows[0], 77);  // not freed by either

    auto filed = Painted(10, 10, kv8Gray, kvFile);
    filed->SetMemoryThreshold(0);
    filed->SetLocation(kvMemory);
    filed->SetLocation(kvFile);
    const auto before = Rows(*filed);
    TKVBitmap target;
    filed->MoveStorageTo(target);
    EXPECT_EQ(target.Location(), kvFile);
    EXPECT_EQ(Rows(target), before);
}

TEST_F(KVBitmapTest, AssignFromTBitmapAndIntoTBitmapLocation) {
    TBitmap platform;
    platform.SetPixelFormat(TPixelFormat::pf24bit);
    platform.SetSize(3, 2);
    platform.SetPixel(0, 0, RGB(1, 2, 3));
    TKVBitmap bitmap;
    bitmap.Assign(&platform);
    EXPECT_EQ(bitmap.GetPixelFormat(), kv24RGB);
    EXPECT_EQ(bitmap.GetPixelRGB(0, 0), KVCreateRGB(1, 2, 3));

    // A 16-bit gray picture put into the class-library location keeps its levels in 8 bits.
    TKVBitmap gray;
    gray.Allocate(2, 1, kv16Gray);
    gray.SetWord(0, 0, 0x1234);
    gray.SetWord(1, 0, 0xFF00);
    TKVBitmap held;
    held.SetLocation(kvTBitmap);
    held.Assign(&gray);
    EXPECT_EQ(held.GetBitCount(), 8);
    EXPECT_EQ(held.GetByte(0, 0), 0x12);
    EXPECT_EQ(held.GetByte(1, 0), 0xFF);
}

TEST_F(KVBitmapTest, ContentTests) {
    TKVBitmap bitmap;
    bitmap.Allocate(5, 2, kv24RGB);
    bitmap.Fill(clGray);
    EXPECT_TRUE(bitmap.IsGrayScale());
    EXPECT_FALSE(bitmap.IsAllZero());
    bitmap.GetScanline(1)[0] = 1;
    EXPECT_FALSE(bitmap.IsGrayScale());
    bitmap.Fill(clGray);
    bitmap.GetScanline(0)[3 * 4 + 2] = 1;  // the last pixel of a row
    EXPECT_FALSE(bitmap.IsGrayScale());
    bitmap.Fill(clBlack);
    EXPECT_TRUE(bitmap.IsAllZero());

    TKVBitmap* alpha = bitmap.GetAlphaChannel();
    alpha->SetByte(0, 0, 3);
    EXPECT_FALSE(alpha->Full());
    alpha->SetByte(0, 0, 255);
    alpha->SyncFull();
    EXPECT_TRUE(alpha->Full());
}
