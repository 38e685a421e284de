#include <gtest/gtest.h>

#include <cstdint>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVDibBitmap.h"
#include "imaging/core/KVPackedDib.h"
#include "platform/PictureLimits.h"
#include "TestSupport.h"

namespace {

// A 40-byte header of an RLE4 DIB with sixteen colours, then the colours and the run data.
std::vector<uint8_t> Rle4Dib(uint32_t width, uint32_t height, const std::vector<uint8_t>& runs) {
    std::vector<uint8_t> dib(40 + 64, 0);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int k = 0; k < 4; ++k) dib[at + size_t(k)] = uint8_t(v >> (8 * k));
    };
    put32(0, 40);
    put32(4, width);
    put32(8, height);
    dib[12] = 1;
    dib[14] = 4;
    dib[16] = 2;  // RLE4
    put32(20, uint32_t(runs.size()));
    std::fill(dib.begin() + 44, dib.begin() + 48, 0xFF);  // colour 1 white
    dib.insert(dib.end(), runs.begin(), runs.end());
    return dib;
}

}  // namespace

// Found by fuzzing: 46 bytes claiming an RLE4 picture of 38032 x 2560 pixels.
TEST(KVPackedDib, RunLengthAmplificationIsRefusedBeforeDecoding) {
    const std::vector<uint8_t> finding = {
        0x28, 0x00, 0x00, 0x00, 0x90, 0x94, 0x00, 0x00, 0x00, 0x0a, 0x00, 0x00, 0x00, 0x00, 0x04, 0x00,
        0x02, 0x00, 0x00, 0x00, 0x3d, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x3d, 0x06,
        0x01, 0x00, 0x00, 0x00, 0x06, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01};
    TKVDibbitmap dest;
    EXPECT_EQ(KVDIBToDibBitmap(finding.data(), int64_t(finding.size()), dest), 0);
    EXPECT_EQ(dest.GetWidth(), 0);

    // The same kind of picture at a size its data can hold still decodes.
    const std::vector<uint8_t> small = Rle4Dib(4, 1, {4, 0x11, 0, 1});
    EXPECT_EQ(KVDIBToDibBitmap(small.data(), int64_t(small.size()), dest), 4);
    EXPECT_EQ(dest.GetWidth(), 4);
    EXPECT_EQ(dest.GetScanline(0)[0], 255);

    // A picture over the limits is refused however much data comes with it.
    TPictureLimits limits;
    limits.maxPixels = 3;
    TPictureLimitsOverride lowered(limits);
    EXPECT_EQ(KVDIBToDibBitmap(small.data(), int64_t(small.size()), dest), 0);
}

// A 16-bit picture whose 24-bit copy would exceed the largest picture the bitmap stores. Its rows
// live in a sparse file mapped into memory, so the test costs no real memory.
TEST(KVPackedDib, PictureThatCannotBeCopiedTo24BitsGivesNoDib) {
    const int width = 1 << 20, height = int(KVMaxImageBytes / (int64_t(width) * 2)) + 1;
    const int64_t size = int64_t(width) * 2 * height;
    const TScratchFolder folder;
    const int fd = ::open(folder.Path("rows").c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, size), 0);
    const uint8_t topLeft[2] = {0x34, 0x12};  // the top row comes last in a bottom-up buffer
    ASSERT_EQ(::pwrite(fd, topLeft, 2, size - int64_t(width) * 2), 2);
    void* rows = ::mmap(nullptr, size_t(size), PROT_READ, MAP_SHARED, fd, 0);
    ::close(fd);
    ASSERT_NE(rows, MAP_FAILED);
    {
        TKVBitmap gray16;
        gray16.EncapsulateMemory(rows, width, height, kv16Gray, true);
        ASSERT_EQ(gray16.GetWord(0, 0), 0x1234);
        EXPECT_TRUE(KVBitmapToDIBHandle(gray16, 0, 0, 1, 1).empty());
    }
    ::munmap(rows, size_t(size));
}
