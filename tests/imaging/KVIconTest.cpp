#include <gtest/gtest.h>

#include "PictureFixtures.h"
#include "imaging/core/KVStreams.h"
#include "imaging/io/KVFileFormats.h"
#include "imaging/io/KVIcon.h"

namespace {

void Put16(std::string& s, uint32_t v) { s += {char(v), char(v >> 8)}; }
void Put32(std::string& s, uint32_t v) { Put16(s, v & 0xFFFF), Put16(s, v >> 16); }

// A directory of one image (type 1 icon, 2 cursor) whose data are the given bytes.
std::string Directory(int type, int width, int height, int word1, int word2, const std::string& image) {
    std::string s;
    Put16(s, 0), Put16(s, uint32_t(type)), Put16(s, 1);
    s += {char(width), char(height), 0, 0};
    Put16(s, uint32_t(word1)), Put16(s, uint32_t(word2)), Put32(s, uint32_t(image.size())), Put32(s, 22);
    return s + image;
}

std::string InfoHeader(int width, int height, int bits) {
    std::string s;
    Put32(s, 40), Put32(s, uint32_t(width)), Put32(s, uint32_t(height * 2)), Put16(s, 1), Put16(s, uint32_t(bits));
    Put32(s, 0), Put32(s, 0), Put32(s, 0), Put32(s, 0), Put32(s, 0), Put32(s, 0);
    return s;
}

// 2 x 1, 1 bit: XOR bits 1 0, AND bits 1 1 (an inverted pixel and a transparent one).
std::string OneBitIcon(int type) {
    std::string image = InfoHeader(2, 1, 1) + std::string("\0\0\0\0\xFF\xFF\xFF\0", 8);
    image += std::string("\x80\0\0\0", 4) + std::string("\xC0\0\0\0", 4);
    return Directory(type, 2, 1, 7, 9, image);
}

}  // namespace

TEST(KVIcon, ReadsEveryImageAsImageMagickWritesIt) {
    TScratchFolder folder;
    WriteFile(folder.Path("p.ppm"), PatternPpm(40, 40));
    const std::string path = folder.Path("multi.ico");
    MakeFixture(path, "convert " + Quoted(folder.Path("p.ppm")) +
                          " \\( -clone 0 -resize 16x16 \\) \\( -clone 0 -resize 32x32 -colors 12 \\) "
                          "\\( -clone 0 -resize 24x24 -alpha on -channel A -fx 'i<12?1:0.5' \\) -delete 0 " +
                          Quoted(path));
    EXPECT_EQ(GetICOFileImageCount(path), 3);
    EXPECT_EQ(GetFileFrameCount(path), 3);
    for (int index = 0; index < 3; ++index) {
        TKestovaIO io;
        io.Params().IcoImageIndex = index;
        ASSERT_TRUE(LoadsInto(io, path)) << index;
        const TRgbImage expected = ParsePpm(
            RunTool("convert " + Quoted(path + "[" + std::to_string(index) + "]") + " -alpha off -depth 8 ppm:-", false).output);
        EXPECT_TRUE(SamePixels(PixelsOf(io.WorkBitmap()), expected)) << index;
        EXPECT_EQ(io.Params().IcoSizes[2], (TKVIcoSize{24, 24}));
        EXPECT_EQ(io.WorkBitmap().GetHasAlphaChannel(), index == 2) << index;
        if (index == 2) {
            EXPECT_EQ(io.WorkBitmap().GetAlphaChannel()->GetByte(0, 0), 255);
            EXPECT_NEAR(io.WorkBitmap().GetAlphaChannel()->GetByte(20, 0), 128, 1);
        }
    }
}

TEST(KVIcon, MasksBackgroundAndHotSpot) {
    // With a white background an inverting pixel reads black and a transparent one white, both
    // with alpha 0.
    const std::string icon = OneBitIcon(1);
    TKestovaIO io;
    io.LoadFromBuffer(icon.data(), int64_t(icon.size()), kvftICO);
    ASSERT_FALSE(io.AbortFlag);
    EXPECT_EQ(PixelsOf(io.WorkBitmap()).pixels, (std::vector<uint8_t>{0, 0, 0, 255, 255, 255}));
    ASSERT_TRUE(io.WorkBitmap().GetHasAlphaChannel());
    EXPECT_EQ(io.WorkBitmap().GetAlpha(0, 0), 0);
    EXPECT_EQ(io.WorkBitmap().GetAlpha(1, 0), 0);

    // The same data as a cursor: the hot spot is the entry's two words.
    const std::string cursor = OneBitIcon(2);
    io.LoadFromBuffer(cursor.data(), int64_t(cursor.size()), kvftCUR);
    ASSERT_FALSE(io.AbortFlag);
    EXPECT_EQ(io.Params().CurXHotSpot, 7);
    EXPECT_EQ(io.Params().CurYHotSpot, 9);

    // A width byte of 0 takes the information header's width: 256.
    std::string big = InfoHeader(256, 1, 24) + std::string(256 * 3, '\x7F') + std::string(32, '\0');
    const std::string large = Directory(1, 0, 1, 1, 24, big);
    io.LoadFromBuffer(large.data(), int64_t(large.size()), kvftICO);
    ASSERT_FALSE(io.AbortFlag);
    EXPECT_EQ(io.WorkBitmap().GetWidth(), 256);
}

TEST(KVIcon, RefusesDamagedFilesAndMissingImages) {
    const std::string good = OneBitIcon(1);
    std::string noBits = good;
    noBits[22 + 14] = 0;  // header bit count 0, entry bit count 0, colour count 0
    std::string png = good;
    png.replace(22, 4, "\x89PNG");
    for (const auto& [what, bytes, index] : {std::tuple{"index past the directory", good, 1},
                                             std::tuple{"negative index", good, -1},
                                             std::tuple{"cut short", good.substr(0, good.size() - 3), 0},
                                             std::tuple{"no bit count", noBits, 0},
                                             std::tuple{"PNG image", png, 0},
                                             std::tuple{"not an icon", std::string(40, 'x'), 0}}) {
        TKestovaIO io;
        io.WorkBitmap().Allocate(2, 2, kv24RGB);
        io.Params().IcoImageIndex = index;
        io.LoadFromBuffer(bytes.data(), int64_t(bytes.size()), kvftICO);
        EXPECT_TRUE(io.AbortFlag) << what;
        EXPECT_TRUE(io.WorkBitmap().IsEmpty()) << what;
    }
}

TEST(KVIcon, ABitmapNamedIcoLoadsAsBitmap) {
    TScratchFolder folder;
    WriteFile(folder.Path("p.ppm"), PatternPpm(5, 4));
    const std::string path = MakeFixture(folder.Path("fake.ico"), "ppmtobmp " + Quoted(folder.Path("p.ppm")) + " > " + Quoted(folder.Path("fake.ico")));
    TKestovaIO io;
    ASSERT_TRUE(LoadsInto(io, path));
    EXPECT_TRUE(SamePixels(PixelsOf(io.WorkBitmap()), ReadWithImageMagick(folder.Path("p.ppm"))));
    EXPECT_EQ(GetICOFileImageCount(path), 1);
}

TEST(KVIcon, WritesSeveralSizesAndBitCounts) {
    TScratchFolder folder;
    TKestovaIO io;
    TKVBitmap& b = io.WorkBitmap();
    b.Allocate(40, 40, kv24RGB);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x) {
            b.GetScanline(y)[3 * x] = uint8_t(x * 6);
            b.GetScanline(y)[3 * x + 2] = uint8_t(y * 6);
        }
    // The left half opaque, the right half half transparent.
    TKVBitmap* alpha = b.GetAlphaChannel();
    alpha->FillRect(20, 0, 39, 39, 128);
    io.Params().IcoSizes = {};
    io.Params().IcoSizes[0] = {16, 16};
    io.Params().IcoSizes[1] = {32, 32};
    io.Params().IcoSizes[2] = {48, 48};
    io.Params().IcoBitCount = {8, 8, 32};
    const std::string path = folder.Path("out.ico");
    io.SaveToFile(path);
    ASSERT_FALSE(io.AbortFlag);
    const TCommandResult listing = RunTool("identify " + Quoted(path));
    EXPECT_EQ(CountOf(listing.output, "ICO"), 3u) << listing.output;

    for (int index = 0; index < 3; ++index) {
        TKestovaIO back;
        back.Params().IcoImageIndex = index;
        ASSERT_TRUE(LoadsInto(back, path)) << index;
        TKVBitmap& image = back.WorkBitmap();
        const int side = 16 * (index + 1);
        ASSERT_EQ(image.GetWidth(), side);
        ASSERT_TRUE(image.GetHasAlphaChannel()) << index;
        EXPECT_EQ(image.GetAlpha(1, 1), 255);
        // 8-bit images keep only opaque and transparent; 32-bit ones the alpha bytes.
        EXPECT_EQ(image.GetAlpha(side - 2, 1), index == 2 ? 128 : 0) << index;
        const TRgbImage expected = ParsePpm(
            RunTool("convert " + Quoted(path + "[" + std::to_string(index) + "]") + " -alpha off -depth 8 ppm:-", false).output);
        // Transparent pixels read as the background colour here and as the palette's first
        // entry there, so only opaque ones are compared.
        TRgbImage ours = PixelsOf(image), theirs = expected;
        for (TRgbImage* picture : {&ours, &theirs})
            for (int y = 0; y < side && picture->width == side; ++y)
                for (int x = 0; x < side; ++x)
                    if (image.GetAlpha(x, y) < 255)
                        for (int c = 0; c < 3; ++c) picture->pixels[size_t((y * side + x) * 3 + c)] = 0;
        EXPECT_TRUE(SamePixels(ours, theirs)) << index;
    }
}
