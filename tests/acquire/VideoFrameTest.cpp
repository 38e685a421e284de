// Frames described by a bitmap information header, against ffmpeg's conversions and hand-made cases.
#include <gtest/gtest.h>

#include <cstring>

#include "VideoFixtures.h"
#include "imaging/acquire/VideoFrame.h"
#include "imaging/core/KVBitmap.h"
#include "platform/ByteReader.h"
#include "platform/Exception.h"

namespace {

uint32_t FourCC(const char* code) {
    uint32_t value;
    std::memcpy(&value, code, 4);
    return value;
}

void Put32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = uint8_t(value >> (8 * i));
}

// A 40-byte information header followed by the given bytes (table, masks, pixels).
std::vector<uint8_t> Frame(int width, int height, int bitCount, uint32_t compression, const std::string& rest = "",
                           uint32_t coloursUsed = 0) {
    std::vector<uint8_t> bytes(40);
    Put32(bytes, 0, 40);
    Put32(bytes, 4, uint32_t(width));
    Put32(bytes, 8, uint32_t(height));
    bytes[12] = 1;
    bytes[14] = uint8_t(bitCount);
    Put32(bytes, 16, compression);
    Put32(bytes, 32, coloursUsed);
    bytes.insert(bytes.end(), rest.begin(), rest.end());
    return bytes;
}

std::string Pixel(TKVBitmap& bitmap, int x, int y) {
    const uint8_t* p = bitmap.GetScanline(y) + x * 3;
    return std::to_string(p[2]) + "," + std::to_string(p[1]) + "," + std::to_string(p[0]);
}

// Planar layouts in ffmpeg keep U before V; these FourCCs keep V first.
std::string SwapChromaPlanes(const std::string& planes, int width, int height, int step) {
    const size_t luma = size_t(width) * height;
    const size_t chroma = size_t((width + step - 1) / step) * ((height + step - 1) / step);
    return planes.substr(0, luma) + planes.substr(luma + chroma, chroma) + planes.substr(luma, chroma);
}

// ffmpeg's default conversion is itself inexact: its lookup tables truncate each chroma term to a
// whole level and its planar fast path works in 13-bit fixed point, which puts saturated colours up
// to 3 below the exact formula. Its accurate path (full chroma, accurate rounding, bit-exact) is
// the reference; what remains is the formula's rounded coefficients (1.164 for 255/219, 2.018 for
// 2.017), at most 1.
constexpr const char* AccurateScaling = "neighbor+accurate_rnd+full_chroma_int+bitexact";
constexpr int FfmpegTolerance = 1;
constexpr const char* DefaultScaling = "bitexact";
constexpr int DefaultTolerance = 3;

TEST(VideoFrameTest, YuvLayoutsMatchFfmpegsConversions) {
    struct TCase {
        const char* pixelFormat;
        const char* fourCC;
        int step;  // chroma planes to swap: their subsampling; 0 keeps the order
        int width, height;
        const char* scaling;
        int tolerance;
    };
    // At odd widths the last chroma sample covers one column only. ffmpeg's accurate path stretches
    // the chroma plane over the whole width there, which moves the chroma of the columns before it;
    // its default path keeps each chroma sample on its own two columns, inexact as said above.
    const TCase cases[] = {
        {"yuyv422", "YUY2", 0, 64, 48, AccurateScaling, FfmpegTolerance},
        {"uyvy422", "UYVY", 0, 64, 48, AccurateScaling, FfmpegTolerance},
        {"yvyu422", "YVYU", 0, 64, 48, AccurateScaling, FfmpegTolerance},
        {"yuv410p", "YVU9", 4, 64, 48, AccurateScaling, FfmpegTolerance},
        {"yuv420p", "I420", 0, 64, 48, AccurateScaling, FfmpegTolerance},
        {"yuv420p", "YV12", 2, 64, 48, AccurateScaling, FfmpegTolerance},
        {"yuv420p", "I420", 0, 5, 2, DefaultScaling, DefaultTolerance},
        {"yuv420p", "YV12", 2, 5, 2, DefaultScaling, DefaultTolerance},
    };
    TScratchFolder folder;
    for (const TCase& test : cases) {
        const int width = test.width, height = test.height;
        const std::string size = std::to_string(width) + "x" + std::to_string(height);
        SCOPED_TRACE(std::string(test.fourCC) + " " + size);
        const std::string raw = folder.Path(std::string(test.pixelFormat) + size + ".yuv");
        ASSERT_EQ(RunTool("ffmpeg -v error -y -f lavfi -i testsrc=size=" + size + " -frames:v 1 -pix_fmt " +
                          std::string(test.pixelFormat) + " -f rawvideo " + Quoted(raw))
                      .status,
                  0);
        const std::string reference =
            RunTool("ffmpeg -v error -f rawvideo -pix_fmt " + std::string(test.pixelFormat) + " -s " + size + " -i " +
                        Quoted(raw) + " -sws_flags " + test.scaling + " -pix_fmt bgr24 -f rawvideo -",
                    false)
                .output;
        std::string planes = ReadFile(raw);
        if (test.step) planes = SwapChromaPlanes(planes, width, height, test.step);
        TKVBitmap bitmap;
        EXPECT_EQ(KVDecodeVideoFrame(Frame(width, height, 16, FourCC(test.fourCC), planes), bitmap), 16);
        EXPECT_LE(LargestDifference(bitmap, reference, width, height), test.tolerance);
        // The pixel data may come apart from the header, and a negative height turns the rows over.
        const std::vector<uint8_t> bits(planes.begin(), planes.end());
        KVDecodeVideoFrame(Frame(width, -height, 16, FourCC(test.fourCC)), bitmap, bits);
        std::string flipped;
        for (int y = height - 1; y >= 0; --y) flipped += reference.substr(size_t(y) * width * 3, size_t(width) * 3);
        EXPECT_LE(LargestDifference(bitmap, flipped, width, height), test.tolerance);
    }
}

TEST(VideoFrameTest, PackedGroupsAndTheirEdges) {
    TKVBitmap bitmap;
    // Limited-range white and black.
    KVDecodeVideoFrame(Frame(2, 1, 16, FourCC("YUY2"), std::string("\xEB\x80\x10\x80", 4)), bitmap);
    EXPECT_EQ(Pixel(bitmap, 0, 0), "255,255,255");
    EXPECT_EQ(Pixel(bitmap, 1, 0), "0,0,0");

    // CLJR's 5-bit luma and 6-bit chroma are widened to 8 bits: 16 of 31 is 132, 32 of 63 is 130.
    const uint32_t cljr = 32u | 32u << 6 | 16u << 12 | 31u << 17 | 0u << 22 | 16u << 27;
    std::string word(4, '\0');
    for (int i = 0; i < 4; ++i) word[size_t(i)] = char(cljr >> (8 * i));
    KVDecodeVideoFrame(Frame(4, 1, 16, FourCC("CLJR"), word), bitmap);
    uint8_t expected[3];
    KVYUVToBGR(132, 130, 130, expected);
    EXPECT_EQ(bitmap.GetScanline(0)[0], expected[0]);
    EXPECT_EQ(bitmap.GetScanline(0)[2], expected[2]);
    EXPECT_EQ(Pixel(bitmap, 1, 0), "255,255,255");
    EXPECT_EQ(Pixel(bitmap, 2, 0), "0,0,0");

    // Y41P: two chroma pairs per eight pixels, and rows stored from the bottom. Its first row is
    // white then black, its second all black.
    const std::string y41p = std::string("\x80\xEB\x80\xEB\x80\x10\x80\x10\x10\x10\x10\x10", 12);
    KVDecodeVideoFrame(Frame(8, 2, 12, FourCC("Y41P"), y41p + std::string("\x80\x10\x80\x10\x80\x10\x80\x10\x10\x10\x10\x10", 12)), bitmap);
    EXPECT_EQ(Pixel(bitmap, 0, 1), "255,255,255");
    EXPECT_EQ(Pixel(bitmap, 2, 1), "0,0,0");
    EXPECT_EQ(Pixel(bitmap, 0, 0), "0,0,0");

    // A YUV frame is 24-bit even when its header claims one bit per pixel.
    KVDecodeVideoFrame(Frame(2, 1, 1, FourCC("YUY2"), std::string("\xEB\x80\xEB\x80", 4)), bitmap);
    EXPECT_EQ(bitmap.GetPixelFormat(), kv24RGB);
    EXPECT_EQ(Pixel(bitmap, 1, 0), "255,255,255");

    // Widths that end inside a group stay inside their rows (the sanitizers watch the reads and
    // writes); data for fewer rows than the header claims fills only those rows.
    for (const char* code : {"YUY2", "UYVY", "YVYU", "IYU1", "IYU2", "Y41P", "Y211", "CLJR", "I420", "YVU9"}) {
        SCOPED_TRACE(code);
        for (int width : {1, 5, 6, 7}) {
            const std::vector<uint8_t> exact = Frame(width, 3, 16, FourCC(code), std::string(200, '\xEB'));
            EXPECT_NO_THROW(KVDecodeVideoFrame(exact, bitmap, std::span(exact).subspan(40, 1)));
            EXPECT_NO_THROW(KVDecodeVideoFrame(exact, bitmap));
            EXPECT_EQ(bitmap.GetWidth(), width);
        }
    }
}

TEST(VideoFrameTest, UncompressedBitmaps) {
    TKVBitmap bitmap;
    // 16 bits with the default 5-5-5 masks; rows bottom-up.
    KVDecodeVideoFrame(Frame(1, 2, 16, 0, std::string("\xFF\x7F\0\0\x00\x7C\0\0", 8)), bitmap);
    EXPECT_EQ(Pixel(bitmap, 0, 1), "248,248,248");
    EXPECT_EQ(Pixel(bitmap, 0, 0), "248,0,0");
    // Bit fields of 5-6-5, and a zero mask that gives a zero channel.
    const std::string masks565("\x00\xF8\0\0\xE0\x07\0\0\x1F\0\0\0", 12);
    KVDecodeVideoFrame(Frame(1, 1, 16, 3, masks565 + std::string("\xFF\xFF\0\0", 4)), bitmap);
    EXPECT_EQ(Pixel(bitmap, 0, 0), "248,252,248");
    const std::string noGreen("\x00\xF8\0\0\0\0\0\0\x1F\0\0\0", 12);
    KVDecodeVideoFrame(Frame(1, 1, 16, 3, noGreen + std::string("\xFF\xFF\0\0", 4)), bitmap);
    EXPECT_EQ(Pixel(bitmap, 0, 0), "248,0,248");
    // 32 bits with bit fields: the pixels start after the three masks.
    KVDecodeVideoFrame(Frame(1, 1, 32, 3, std::string(12, '\x7F') + std::string("\x01\x02\x03\x04", 4)), bitmap);
    EXPECT_EQ(Pixel(bitmap, 0, 0), "3,2,1");
    // 24 bits, stored top-down under a negative height.
    KVDecodeVideoFrame(Frame(1, -2, 24, 0, std::string("\x01\x02\x03\0\x04\x05\x06\0", 8)), bitmap);
    EXPECT_EQ(Pixel(bitmap, 0, 0), "3,2,1");
    EXPECT_EQ(Pixel(bitmap, 0, 1), "6,5,4");
    // 8 bits with two colours used: an index past them reads as black, not past the table.
    const std::string table("\x10\x20\x30\0\x40\x50\x60\0", 8);
    KVDecodeVideoFrame(Frame(3, 1, 8, 0, table + std::string("\x01\x00\xFF\0", 4), 2), bitmap);
    EXPECT_EQ(Pixel(bitmap, 0, 0), "96,80,64");
    EXPECT_EQ(Pixel(bitmap, 1, 0), "48,32,16");
    EXPECT_EQ(Pixel(bitmap, 2, 0), "0,0,0");
    // 4 bits, high nibble first, an odd width ending on a high nibble.
    KVDecodeVideoFrame(Frame(3, 1, 4, 0, table + std::string("\x01\x10\0\0", 4), 2), bitmap);
    EXPECT_EQ(Pixel(bitmap, 0, 0), "48,32,16");
    EXPECT_EQ(Pixel(bitmap, 1, 0), "96,80,64");
    EXPECT_EQ(Pixel(bitmap, 2, 0), "96,80,64");
    // 1 bit keeps its bits.
    EXPECT_EQ(KVDecodeVideoFrame(Frame(8, 1, 1, 0, std::string(8, '\0') + std::string("\xA5\0\0\0", 4)), bitmap), 1);
    EXPECT_EQ(bitmap.GetPixelFormat(), kv1Bit);
    EXPECT_EQ(bitmap.GetScanline(0)[0], 0xA5);
    // Run-length data and unknown codes leave the bitmap as allocated, sized from the header.
    for (uint32_t code : {1u, FourCC("ABCD")}) {
        KVDecodeVideoFrame(Frame(3, 2, 8, code, std::string(64, '\x7F')), bitmap);
        EXPECT_EQ(bitmap.GetWidth(), 3);
        EXPECT_EQ(Pixel(bitmap, 1, 1), "0,0,0");
    }
}

TEST(VideoFrameTest, HeadersThatCannotBeTrusted) {
    TKVBitmap bitmap;
    EXPECT_THROW(KVDecodeVideoFrame(std::vector<uint8_t>(20), bitmap), EShortData);
    EXPECT_THROW(KVDecodeVideoFrame(Frame(0, 5, 24, 0), bitmap), EInvalidGraphic);
    EXPECT_THROW(KVDecodeVideoFrame(Frame(-4, 5, 24, 0), bitmap), EInvalidGraphic);
    EXPECT_THROW(KVDecodeVideoFrame(Frame(100000, 100000, 24, 0), bitmap), EInvalidGraphic);
    EXPECT_THROW(KVDecodeVideoFrame(Frame(4, 1, 8, 0, "", 3), bitmap), EShortData);  // table cut short
}

}  // namespace
