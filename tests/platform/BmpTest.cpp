#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <optional>

#include "TestSupport.h"
#include "platform/Bmp.h"
#include "platform/PictureLimits.h"

namespace {

struct Rgba {
    uint8_t r = 0, g = 0, b = 0, a = 255;
};

enum class Pattern { TwoColours, ElevenColours, ManyColours, TrueColour, WithAlpha };

Rgba PatternColour(Pattern pattern, int x, int y) {
    switch (pattern) {
        case Pattern::TwoColours:
            return (x + y) % 2 ? Rgba{20, 90, 220} : Rgba{200, 30, 40};
        case Pattern::ElevenColours: {
            const int i = (x * 3 + y * 5) % 11;
            return Rgba{uint8_t(i * 23), uint8_t(250 - i * 17), uint8_t(i * 97 % 256)};
        }
        case Pattern::ManyColours:
            return Rgba{uint8_t(x * 19), uint8_t(y * 50), uint8_t(x * y * 7)};
        case Pattern::TrueColour:
            return Rgba{uint8_t(x * 19 + 3), uint8_t(y * 60 + 1), uint8_t((x * y * 7 + 13) % 256)};
        case Pattern::WithAlpha:
            return Rgba{uint8_t(x * 19 + 3), uint8_t(y * 60 + 1), uint8_t(x * y * 7 + 13),
                        uint8_t(30 + x * 15 + y * 5)};
    }
    return {};
}

// Portable arbitrary map, which ImageMagick reads with or without alpha.
void WritePam(const std::string& file, Pattern pattern, int width, int height) {
    const bool alpha = pattern == Pattern::WithAlpha;
    std::ofstream out(file, std::ios::binary);
    out << "P7\nWIDTH " << width << "\nHEIGHT " << height << "\nDEPTH " << (alpha ? 4 : 3) << "\nMAXVAL 255\nTUPLTYPE "
        << (alpha ? "RGB_ALPHA" : "RGB") << "\nENDHDR\n";
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const Rgba c = PatternColour(pattern, x, y);
            out.put(char(c.r)).put(char(c.g)).put(char(c.b));
            if (alpha) out.put(char(c.a));
        }
}

uint32_t Get16(const std::vector<uint8_t>& d, size_t at) { return d.at(at) | d.at(at + 1) << 8; }
uint32_t Get32(const std::vector<uint8_t>& d, size_t at) { return Get16(d, at) | Get16(d, at + 2) << 16; }
uint32_t Get16(const uint8_t* p) { return p[0] | p[1] << 8; }

int PaletteIndex(const TBitmap& bitmap, int x, int y) {
    const uint8_t* row = bitmap.ScanLine(y);
    switch (bitmap.PixelFormat()) {
        case TPixelFormat::pf1bit:
            return (row[x / 8] >> (7 - x % 8)) & 1;
        case TPixelFormat::pf4bit:
            return (row[x / 2] >> (x % 2 ? 0 : 4)) & 15;
        default:
            return row[x];
    }
}

int Scale(int value, int max) { return int(std::lround(value * max / 255.0)); }

// Writers narrow 8 bits to 5 or 6 with different rounding, so such fields may be one step apart.
bool SameColour(TPixelFormat format, uint32_t actual, uint32_t expected) {
    if (format != TPixelFormat::pf15bit && format != TPixelFormat::pf16bit) return actual == expected;
    const int greenBits = format == TPixelFormat::pf16bit ? 6 : 5;
    const int shifts[] = {0, 5, 5 + greenBits}, widths[] = {5, greenBits, 5};
    for (int i = 0; i < 3; ++i) {
        const uint32_t mask = (1u << widths[i]) - 1;
        if (std::abs(int((actual >> shifts[i]) & mask) - int((expected >> shifts[i]) & mask)) > 1) return false;
    }
    return true;
}

// A colour as the bitmap's format holds it: 5- or 6-bit fields for 15 and 16 bits, alpha only for 32.
uint32_t Encode(TPixelFormat format, Rgba c) {
    switch (format) {
        case TPixelFormat::pf15bit:
            return Scale(c.r, 31) << 10 | Scale(c.g, 31) << 5 | Scale(c.b, 31);
        case TPixelFormat::pf16bit:
            return Scale(c.r, 31) << 11 | Scale(c.g, 63) << 5 | Scale(c.b, 31);
        case TPixelFormat::pf32bit:
            return c.r | c.g << 8 | c.b << 16 | uint32_t(c.a) << 24;
        default:
            return c.r | c.g << 8 | c.b << 16;
    }
}

uint32_t EncodedPixel(const TBitmap& bitmap, int x, int y) {
    const uint8_t* row = bitmap.ScanLine(y);
    switch (bitmap.PixelFormat()) {
        case TPixelFormat::pf15bit:
            return Get16(row + 2 * x) & 0x7FFF;
        case TPixelFormat::pf16bit:
            return Get16(row + 2 * x);
        case TPixelFormat::pf24bit:
            return row[3 * x + 2] | row[3 * x + 1] << 8 | row[3 * x] << 16;
        case TPixelFormat::pf32bit:
            return row[4 * x + 2] | row[4 * x + 1] << 8 | row[4 * x] << 16 | uint32_t(row[4 * x + 3]) << 24;
        default: {
            const TPaletteEntry& e = bitmap.Palette().at(size_t(PaletteIndex(bitmap, x, y)));
            return e.peRed | e.peGreen << 8 | e.peBlue << 16;
        }
    }
}

// Returns the first differing pixel, or an empty text.
std::string FirstDifference(const TBitmap& bitmap, Pattern pattern) {
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width(); ++x) {
            const uint32_t expected = Encode(bitmap.PixelFormat(), PatternColour(pattern, x, y));
            const uint32_t actual = EncodedPixel(bitmap, x, y);
            if (!SameColour(bitmap.PixelFormat(), actual, expected)) {
                char text[96];
                std::snprintf(text, sizeof text, "pixel %d,%d is %08X, expected %08X", x, y, actual, expected);
                return text;
            }
        }
    return {};
}

TBitmap ReadBytes(const std::vector<uint8_t>& bytes, int64_t prefix = 0) {
    TMemoryStream stream;
    const std::vector<uint8_t> junk(size_t(prefix), 0xA5);
    stream.Write(junk.data(), prefix);
    stream.Write(bytes.data(), int64_t(bytes.size()));
    stream.SetPosition(prefix);
    TBitmap bitmap;
    ReadBmp(stream, bitmap);
    return bitmap;
}

// A BMP file made by hand; bfSize stays 0 as some writers leave it.
struct BmpFile {
    int headerSize = 40;
    int32_t width = 1, height = 1;
    int bits = 24;
    uint32_t compression = 0;
    uint32_t colorsUsed = 0;
    std::vector<uint32_t> masks;  // inside headers from 52 bytes on, after a 40-byte one
    std::vector<uint8_t> palette;
    std::vector<uint8_t> pixels;
    std::optional<uint32_t> dataOffset;

    BmpFile& HeaderSize(int v) { return headerSize = v, *this; }
    BmpFile& Width(int32_t v) { return width = v, *this; }
    BmpFile& Height(int32_t v) { return height = v, *this; }
    BmpFile& Bits(int v) { return bits = v, *this; }
    BmpFile& Compression(uint32_t v) { return compression = v, *this; }
    BmpFile& ColorsUsed(uint32_t v) { return colorsUsed = v, *this; }
    BmpFile& Masks(std::vector<uint32_t> v) { return masks = std::move(v), *this; }
    BmpFile& Palette(std::vector<uint8_t> v) { return palette = std::move(v), *this; }
    BmpFile& Pixels(std::vector<uint8_t> v) { return pixels = std::move(v), *this; }
    BmpFile& DataOffset(uint32_t v) { return dataOffset = v, *this; }

    std::vector<uint8_t> Bytes() const {
        std::vector<uint8_t> d;
        auto put16 = [&](uint32_t v) { d.push_back(uint8_t(v)), d.push_back(uint8_t(v >> 8)); };
        auto put32 = [&](uint32_t v) { put16(v & 0xFFFF), put16(v >> 16); };
        const size_t masksAfter = headerSize == 40 ? masks.size() * 4 : 0;
        d = {'B', 'M'};
        put32(0);
        put32(0);
        put32(dataOffset.value_or(uint32_t(14 + headerSize + masksAfter + palette.size())));
        put32(headerSize);
        if (headerSize == 12) {
            put16(width), put16(height), put16(1), put16(bits);
        } else {
            put32(width), put32(height), put16(1), put16(bits), put32(compression), put32(uint32_t(pixels.size()));
            put32(2835), put32(2835), put32(colorsUsed), put32(0);
            if (headerSize >= 52)
                for (uint32_t m : masks) put32(m);
            d.resize(14 + headerSize);
            if (headerSize == 40)
                for (uint32_t m : masks) put32(m);
        }
        d.insert(d.end(), palette.begin(), palette.end());
        if (dataOffset) d.resize(*dataOffset, 0xEE);
        d.insert(d.end(), pixels.begin(), pixels.end());
        return d;
    }
};

const char* FormatName(TPixelFormat f) {
    static const char* const names[] = {"pfDevice", "pf1bit",  "pf4bit",  "pf8bit",  "pf15bit",
                                        "pf16bit",  "pf24bit", "pf32bit", "pfCustom"};
    return names[int(f)];
}

}  // namespace

TEST(BmpRead, ImageMagickFilesOfEveryDepthAndHeader) {
    struct Case {
        const char* type;  // ImageMagick's prefix chooses the header: BMP2 12 bytes, BMP3 40, BMP 124
        const char* options;
        Pattern pattern;
        int headerSize, bits, compression;
        TPixelFormat format;
    };
    using P = Pattern;
    using F = TPixelFormat;
    const Case cases[] = {
        {"BMP3", "-type Palette", P::TwoColours, 40, 1, 0, F::pf1bit},
        {"BMP3", "-type Palette", P::ElevenColours, 40, 4, 0, F::pf4bit},
        {"BMP3", "-type Palette -compress None", P::ManyColours, 40, 8, 0, F::pf8bit},
        {"BMP3", "-type Palette -compress RLE", P::ManyColours, 40, 8, 1, F::pf8bit},
        {"BMP3", "-type TrueColor", P::TrueColour, 40, 24, 0, F::pf24bit},
        {"BMP3", "-type TrueColorAlpha -define bmp3:alpha=true", P::WithAlpha, 40, 32, 0, F::pf32bit},
        {"BMP2", "-type Palette", P::TwoColours, 12, 1, 0, F::pf1bit},
        {"BMP2", "-type Palette", P::ElevenColours, 12, 4, 0, F::pf4bit},
        {"BMP2", "-type Palette -compress None", P::ManyColours, 12, 8, 0, F::pf8bit},
        {"BMP2", "-type TrueColor", P::TrueColour, 12, 24, 0, F::pf24bit},
        {"BMP", "-type Palette", P::TwoColours, 124, 1, 0, F::pf1bit},
        {"BMP", "-type Palette", P::ElevenColours, 124, 4, 0, F::pf4bit},
        {"BMP", "-type Palette -compress None", P::ManyColours, 124, 8, 0, F::pf8bit},
        {"BMP", "-type Palette -compress RLE", P::ManyColours, 124, 8, 1, F::pf8bit},
        {"BMP", "-type TrueColor -define bmp:subtype=RGB555", P::TrueColour, 124, 16, 3, F::pf15bit},
        {"BMP", "-type TrueColor -define bmp:subtype=RGB565", P::TrueColour, 124, 16, 3, F::pf16bit},
        {"BMP", "-type TrueColor", P::TrueColour, 124, 24, 0, F::pf24bit},
        {"BMP", "-type TrueColorAlpha", P::WithAlpha, 124, 32, 3, F::pf32bit},
    };
    TScratchFolder folder;
    const int width = 13, height = 5;  // odd width: every depth has row padding
    for (const Pattern pattern : {P::TwoColours, P::ElevenColours, P::ManyColours, P::TrueColour, P::WithAlpha})
        WritePam(folder.Path(std::to_string(int(pattern)) + ".pam"), pattern, width, height);
    int n = 0;
    for (const Case& c : cases) {
        const std::string name = std::string(c.type) + " " + c.options;
        SCOPED_TRACE(name);
        const std::string file = folder.Path(std::to_string(n++) + ".bmp");
        const std::string command = "convert " + Quoted(folder.Path(std::to_string(int(c.pattern)) + ".pam")) + " " +
                                    c.options + " " + c.type + ":" + Quoted(file);
        const TCommandResult converted = RunTool(command);
        ASSERT_EQ(converted.status, 0) << command << "\n" << converted.output;
        const std::string data = ReadFile(file);
        const std::vector<uint8_t> bytes(data.begin(), data.end());
        // The fixture really has the header, depth and coding this case is about.
        ASSERT_EQ(Get32(bytes, 14), uint32_t(c.headerSize));
        ASSERT_EQ(Get16(bytes, c.headerSize == 12 ? 24 : 28), uint32_t(c.bits));
        if (c.headerSize > 12) {
            ASSERT_EQ(Get32(bytes, 30), uint32_t(c.compression));
        }

        const TBitmap bitmap = ReadBytes(bytes);
        EXPECT_EQ(bitmap.Width(), width);
        EXPECT_EQ(bitmap.Height(), height);
        ASSERT_EQ(FormatName(bitmap.PixelFormat()), std::string(FormatName(c.format)));
        EXPECT_EQ(FirstDifference(bitmap, c.pattern), "");
    }
}

TEST(BmpRead, HandMadeHeadersAndRowOrders) {
    // 3 x 2 pixels, 24 bits: bottom row (in the file first) red green blue, top row white gray black.
    const std::vector<uint8_t> bottomUp = {0,   0,   255, 0,   255, 0,   255, 0, 0, 0, 0, 0,
                                           255, 255, 255, 128, 128, 128, 0,   0, 0, 0, 0, 0};
    std::vector<uint8_t> topDown(bottomUp.begin() + 12, bottomUp.end());
    topDown.insert(topDown.end(), bottomUp.begin(), bottomUp.begin() + 12);
    const std::vector<uint8_t> expectedTop = {255, 255, 255, 128, 128, 128, 0, 0, 0, 0, 0, 0};
    const std::vector<uint8_t> expectedBottom = {0, 0, 255, 0, 255, 0, 255, 0, 0, 0, 0, 0};
    struct Case {
        const char* name;
        BmpFile file;
    };
    const Case cases[] = {
        {"40 bytes", BmpFile().Width(3).Height(2).Pixels(bottomUp)},
        {"40 bytes, top-down", BmpFile().Width(3).Height(-2).Pixels(topDown)},
        {"124 bytes, top-down", BmpFile().HeaderSize(124).Width(3).Height(-2).Pixels(topDown)},
        {"12 bytes", BmpFile().HeaderSize(12).Width(3).Height(2).Pixels(bottomUp)},
        {"52 bytes", BmpFile().HeaderSize(52).Width(3).Height(2).Pixels(bottomUp)},
        {"56 bytes", BmpFile().HeaderSize(56).Width(3).Height(2).Pixels(bottomUp)},
        {"64 bytes (OS/2)", BmpFile().HeaderSize(64).Width(3).Height(2).Pixels(bottomUp)},
        {"108 bytes", BmpFile().HeaderSize(108).Width(3).Height(2).Pixels(bottomUp)},
        {"108 bytes, standard 32-bit masks",
         BmpFile()
             .HeaderSize(108)
             .Width(3)
             .Height(2)
             .Bits(32)
             .Compression(3)
             .Masks({0xFF0000, 0xFF00, 0xFF, 0})
             .Pixels({0, 0, 255, 9, 0, 255, 0, 9, 255, 0, 0, 9, 255, 255, 255, 9, 128, 128, 128, 9, 0, 0, 0, 9})},
        {"pixel data after a gap", BmpFile().Width(3).Height(2).Pixels(bottomUp).DataOffset(100)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TBitmap bitmap = ReadBytes(c.file.Bytes(), 5);
        ASSERT_EQ(bitmap.Width(), 3);
        ASSERT_EQ(bitmap.Height(), 2);
        if (c.file.bits == 32) {
            ASSERT_EQ(bitmap.PixelFormat(), TPixelFormat::pf32bit);
            EXPECT_EQ(bitmap.ScanLine(0)[4 * 1], 128);
            EXPECT_EQ(bitmap.ScanLine(1)[4 * 2], 255);
            EXPECT_EQ(bitmap.ScanLine(1)[3], 9);
            continue;
        }
        ASSERT_EQ(bitmap.PixelFormat(), TPixelFormat::pf24bit);
        EXPECT_EQ(std::vector<uint8_t>(bitmap.ScanLine(0), bitmap.ScanLine(0) + 12), expectedTop);
        EXPECT_EQ(std::vector<uint8_t>(bitmap.ScanLine(1), bitmap.ScanLine(1) + 12), expectedBottom);
    }
}

TEST(BmpRead, ColourTablesOfEverySize) {
    auto table = [](int entries, int entrySize) {
        std::vector<uint8_t> bytes;
        for (int i = 0; i < entries; ++i) {
            const uint8_t entry[] = {uint8_t(i * 3 + 1), uint8_t(i * 5 + 2), uint8_t(i * 7 + 3), 0};
            bytes.insert(bytes.end(), entry, entry + entrySize);
        }
        return bytes;
    };
    const std::vector<uint8_t> pixels = {0, 2, 255, 0};  // 8 bits, 3 x 1
    struct Case {
        const char* name;
        BmpFile file;
        int entriesTaken;
    };
    const Case cases[] = {
        {"3 used", BmpFile().Width(3).Bits(8).ColorsUsed(3).Palette(table(3, 4)).Pixels(pixels), 3},
        {"2 used of 3 present", BmpFile().Width(3).Bits(8).ColorsUsed(2).Palette(table(3, 4)).Pixels(pixels), 2},
        {"more than 256", BmpFile().Width(3).Bits(8).ColorsUsed(300).Palette(table(300, 4)).Pixels(pixels), 256},
        {"0 used means all", BmpFile().Width(3).Bits(8).Palette(table(256, 4)).Pixels(pixels), 256},
        {"short table before the pixel data", BmpFile().Width(3).Bits(8).Palette(table(5, 4)).Pixels(pixels), 5},
        {"OS/2 triples", BmpFile().HeaderSize(12).Width(3).Bits(8).Palette(table(256, 3)).Pixels(pixels), 256},
        {"1 bit", BmpFile().Width(3).Bits(1).Palette(table(2, 4)).Pixels({0x40, 0, 0, 0}), 2},
        {"4 bits", BmpFile().Width(3).Bits(4).ColorsUsed(20).Palette(table(20, 4)).Pixels({0x0F, 0x20, 0, 0}), 16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TBitmap bitmap = ReadBytes(c.file.Bytes());
        ASSERT_EQ(bitmap.BitCount(), c.file.bits);
        std::vector<TPaletteEntry> expected(size_t(1) << c.file.bits);
        for (int i = 0; i < c.entriesTaken; ++i)
            expected[i] = {uint8_t(i * 7 + 3), uint8_t(i * 5 + 2), uint8_t(i * 3 + 1), 0};
        EXPECT_EQ(bitmap.Palette(), expected);
        EXPECT_TRUE(std::equal(c.file.pixels.begin(), c.file.pixels.end(), bitmap.ScanLine(0)));
    }
}

TEST(BmpRead, BitFieldsOutsideTheStandardLayoutsAreRemapped) {
    struct Case {
        const char* name;
        BmpFile file;
        TPixelFormat format;
        std::vector<uint8_t> row;  // the bitmap's first row, padding included
    };
    using F = TPixelFormat;
    const Case cases[] = {
        {"16 bits 4-4-4 to 24 bits",
         BmpFile().Width(2).Bits(16).Compression(3).Masks({0x0F00, 0x00F0, 0x000F}).Pixels({0x5A, 0x0F, 0x01, 0x00}),
         F::pf24bit,
         {0xAA, 0x55, 0xFF, 0x11, 0x00, 0x00, 0, 0}},
        {"16 bits 4-4-4-4 to 32 bits",
         BmpFile()
             .HeaderSize(56)
             .Width(1)
             .Bits(16)
             .Compression(3)
             .Masks({0x0F00, 0x00F0, 0x000F, 0xF000})
             .Pixels({0x21, 0x83, 0, 0}),
         F::pf32bit,
         {0x11, 0x22, 0x33, 0x88}},
        {"16 bits 1-5-5-5 to 32 bits",
         BmpFile()
             .HeaderSize(56)
             .Width(1)
             .Bits(16)
             .Compression(3)
             .Masks({0x7C00, 0x03E0, 0x001F, 0x8000})
             .Pixels({0x1F, 0x80, 0, 0}),
         F::pf32bit,
         {0xFF, 0x00, 0x00, 0xFF}},
        {"16 bits 5-5-5 masks stay 15 bits",
         BmpFile().Width(1).Bits(16).Compression(3).Masks({0x7C00, 0x03E0, 0x001F}).Pixels({0x34, 0x12, 0, 0}),
         F::pf15bit,
         {0x34, 0x12, 0, 0}},
        {"32 bits R-G-B-A order",
         BmpFile()
             .HeaderSize(124)
             .Width(1)
             .Bits(32)
             .Compression(3)
             .Masks({0xFF000000, 0x00FF0000, 0x0000FF00, 0x000000FF})
             .Pixels({0x44, 0x33, 0x22, 0x11}),
         F::pf32bit,
         {0x33, 0x22, 0x11, 0x44}},
        {"32 bits 10-10-10 without alpha",
         BmpFile()
             .Width(1)
             .Bits(32)
             .Compression(3)
             .Masks({0x3FF00000, 0x000FFC00, 0x000003FF})
             .Pixels({0xFF, 0x03, 0x00, 0x20}),
         F::pf32bit,
         {0xFF, 0x00, 0x80, 0x00}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TBitmap bitmap = ReadBytes(c.file.Bytes());
        ASSERT_EQ(FormatName(bitmap.PixelFormat()), std::string(FormatName(c.format)));
        EXPECT_EQ(std::vector<uint8_t>(bitmap.ScanLine(0), bitmap.ScanLine(0) + bitmap.RowBytes()), c.row);
    }
}

TEST(BmpRead, RunLengthCodes) {
    // 7 x 3 pixels, 4 bits. Bottom row: run of 5 pixels alternating 1 and 2, end of line.
    // Middle row: absolute 5 pixels 3 to 7 (3 bytes, padded to a word), delta up 1.
    // Top row from x 5: run of 4 past the row's end (cut at 7), end of bitmap.
    const std::vector<uint8_t> rle4 = {5, 0x12, 0, 0, 0, 5, 0x34, 0x56, 0x70, 0, 0, 2, 0, 1, 4, 0x66, 0, 1};
    const TBitmap four = ReadBytes(
        BmpFile().Width(7).Height(3).Bits(4).Compression(2).Palette(std::vector<uint8_t>(64, 7)).Pixels(rle4).Bytes());
    ASSERT_EQ(four.PixelFormat(), TPixelFormat::pf4bit);
    const std::vector<std::vector<uint8_t>> expectedFour = {
        {0x00, 0x00, 0x06, 0x60}, {0x34, 0x56, 0x70, 0x00}, {0x12, 0x12, 0x10, 0x00}};
    for (int y = 0; y < 3; ++y)
        EXPECT_EQ(std::vector<uint8_t>(four.ScanLine(y), four.ScanLine(y) + 4), expectedFour[y]) << "row " << y;

    // 5 x 2 pixels, 8 bits: a run of 8 past the row's end, which must not reach the next row
    // or the padding, then absolute 1 pixel (padded), and the data end after the last end of line.
    const std::vector<uint8_t> rle8 = {8, 9, 0, 0, 0, 3, 1, 2, 3, 0, 0, 0};
    const TBitmap eight = ReadBytes(BmpFile().Width(5).Height(2).Bits(8).Compression(1).Pixels(rle8).Bytes());
    EXPECT_EQ(std::vector<uint8_t>(eight.ScanLine(1), eight.ScanLine(1) + 8),
              (std::vector<uint8_t>{9, 9, 9, 9, 9, 0, 0, 0}));
    EXPECT_EQ(std::vector<uint8_t>(eight.ScanLine(0), eight.ScanLine(0) + 8),
              (std::vector<uint8_t>{1, 2, 3, 0, 0, 0, 0, 0}));

    // 4 x 2 pixels, 8 bits: a run of 2, a delta that lands exactly on the row's end, end of line,
    // then a full row and the end of the bitmap.
    const std::vector<uint8_t> deltaToEnd = {2, 5, 0, 2, 2, 0, 0, 0, 4, 6, 0, 1};
    const TBitmap delta = ReadBytes(BmpFile().Width(4).Height(2).Bits(8).Compression(1).Pixels(deltaToEnd).Bytes());
    EXPECT_EQ(std::vector<uint8_t>(delta.ScanLine(1), delta.ScanLine(1) + 4), (std::vector<uint8_t>{5, 5, 0, 0}));
    EXPECT_EQ(std::vector<uint8_t>(delta.ScanLine(0), delta.ScanLine(0) + 4), (std::vector<uint8_t>{6, 6, 6, 6}));
}

TEST(BmpRead, RunLengthPicturesAreBoundByTheDecodeRatio) {
    TPictureLimits limits;
    limits.freeBytes = 0;
    limits.maxDecodeRatio = 8;
    const TPictureLimitsOverride lowered(limits);
    // 16 x 2 pixels of 8 bits are 32 bytes: at most 8 times the 4 bytes of data, not the 2 bytes.
    const struct {
        std::vector<uint8_t> codes;
        bool reads;
    } cases[] = {{{0, 1}, false}, {{16, 3, 0, 1}, true}};
    for (const auto& c : cases) {
        const std::vector<uint8_t> file = BmpFile().Width(16).Height(2).Bits(8).Compression(1).Pixels(c.codes).Bytes();
        const std::string message = MessageOf([&] { ReadBytes(file); });
        if (c.reads) EXPECT_EQ(message, "(no exception)");
        else EXPECT_TRUE(Contains(message, "cannot come from 2 bytes")) << message;
    }
}

TEST(BmpRead, HostileOrBrokenDataRaiseAndLeaveTheBitmapAlone) {
    const BmpFile valid24 = BmpFile().Width(7).Height(5).Pixels(std::vector<uint8_t>(5 * 24, 1));
    const BmpFile valid8 = BmpFile()
                               .Width(7)
                               .Height(5)
                               .Bits(8)
                               .Palette(std::vector<uint8_t>(1024, 9))
                               .Pixels(std::vector<uint8_t>(5 * 8, 1));
    auto cut = [](const BmpFile& file, size_t size) {
        std::vector<uint8_t> bytes = file.Bytes();
        bytes.resize(std::min(size, bytes.size()));
        return bytes;
    };
    auto patched = [](const BmpFile& file, size_t at, uint32_t value) {
        std::vector<uint8_t> bytes = file.Bytes();
        for (int i = 0; i < 4; ++i) bytes.at(at + i) = uint8_t(value >> (8 * i));
        return bytes;
    };
    auto with = [](BmpFile file, auto change) {
        change(file);
        return file.Bytes();
    };
    auto rle8 = [](int32_t width, int32_t height, std::vector<uint8_t> codes) {
        return BmpFile().Width(width).Height(height).Bits(8).Compression(1).Pixels(std::move(codes)).Bytes();
    };
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        const char* reason;  // part of the message
    };
    const Case cases[] = {
        {"empty", {}, "truncated file header"},
        {"wrong signature", patched(valid24, 0, 'B' | 'N' << 8), "signature"},
        {"truncated file header", cut(valid24, 10), "truncated file header"},
        {"truncated info header", cut(valid24, 30), "truncated info header"},
        {"unknown header size", with(valid24, [](BmpFile& f) { f.headerSize = 20; }), "header size 20"},
        {"truncated pixel data", cut(valid24, valid24.Bytes().size() - 1), "truncated pixel data"},
        {"zero width", with(valid24, [](BmpFile& f) { f.width = 0; }), "size 0 x 5"},
        {"negative width", with(valid24, [](BmpFile& f) { f.width = -7; }), "size -7 x 5"},
        {"zero height", with(valid24, [](BmpFile& f) { f.height = 0; }), "size 7 x 0"},
        {"smallest height", with(valid24, [](BmpFile& f) { f.height = INT32_MIN; }), "size 7 x 2147483648"},
        {"huge width and height", with(valid24, [](BmpFile& f) { f.width = f.height = INT32_MAX; }), "largest side"},
        {"more pixels than the limit", with(valid24, [](BmpFile& f) { f.width = f.height = 30000; }), "pixels"},
        {"large size, little data", with(valid24, [](BmpFile& f) { f.width = f.height = 2000; }),
         "truncated pixel data"},
        {"large run-length size, one code", rle8(10000, 10000, {0, 1}), "cannot come from 2 bytes"},
        {"colour table beyond the data", cut(valid8, 14 + 40 + 40), "truncated colour table"},
        {"pixel data offset beyond the data", patched(valid24, 10, 100000), "beyond the end"},
        {"pixel data offset inside the headers", patched(valid24, 10, 20), "into the headers"},
        {"bit fields without room for the masks",
         with(valid24, [](BmpFile& f) { f.bits = 16, f.compression = 3, f.dataOffset = 54; }), "into the headers"},
        {"masks not contiguous",
         with(valid24,
              [](BmpFile& f) {
                  f.bits = 16, f.compression = 3, f.masks = {0xF00F, 0x0F00, 0x00F0};
              }),
         "contiguous"},
        {"masks wider than 16 bits",
         with(valid24,
              [](BmpFile& f) {
                  f.bits = 16, f.compression = 3, f.masks = {0xFF0000, 0xFF00, 0xFF};
              }),
         "16 bits"},
        {"JPEG compression", with(valid24, [](BmpFile& f) { f.compression = 4; }), "compression 4"},
        {"bit fields with 24 bits",
         with(valid24,
              [](BmpFile& f) {
                  f.compression = 3, f.masks = {1, 2, 4};
              }),
         "does not fit"},
        {"RLE8 with 4 bits", with(valid24, [](BmpFile& f) { f.bits = 4, f.compression = 1; }), "does not fit"},
        {"2 bits per pixel", with(valid24, [](BmpFile& f) { f.bits = 2; }), "2 bits per pixel"},
        {"OS/2 Huffman coding", with(valid24, [](BmpFile& f) { f.headerSize = 64, f.bits = 1, f.compression = 3; }),
         "Huffman"},
        {"run-length rows from the top", rle8(4, -2, {0, 1}), "from the top"},
        {"run-length data end inside a row", rle8(4, 2, {4, 1, 0, 0, 2, 1}), "truncated compressed data"},
        {"run-length data end inside a code", rle8(4, 2, {4, 1, 0}), "truncated compressed data"},
        {"absolute run cut short", rle8(4, 2, {0, 4, 1, 2}), "truncated compressed data"},
        {"run past the last row", rle8(4, 2, {0, 0, 0, 0, 4, 1, 0, 1}), "past the end of the image"},
        {"absolute run past the last row", rle8(4, 1, {0, 0, 0, 3, 1, 2, 3, 0, 0, 1}), "past the end of the image"},
        {"delta past the last row", rle8(4, 2, {0, 2, 0, 3, 0, 1}), "past the end of the image"},
        {"delta past the row's end", rle8(4, 2, {0, 2, 5, 0, 0, 1}), "past the end of the image"},
    };
    TBitmap original;
    original.SetPixelFormat(TPixelFormat::pf8bit);
    original.SetSize(3, 2);
    original.ScanLine(1)[2] = 77;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TMemoryStream stream;
        stream.Write(c.bytes.data(), int64_t(c.bytes.size()));
        stream.SetPosition(0);
        TBitmap bitmap = original;
        try {
            ReadBmp(stream, bitmap);
            ADD_FAILURE() << "no exception";
        } catch (const EInvalidGraphic& e) {
            const std::string message = e.what();
            EXPECT_EQ(message.rfind("Bitmap image is not valid", 0), 0u) << message;
            EXPECT_NE(message.find(c.reason), std::string::npos) << message;
        }
        EXPECT_EQ(bitmap.Width(), 3);
        EXPECT_EQ(bitmap.Height(), 2);
        EXPECT_EQ(bitmap.PixelFormat(), TPixelFormat::pf8bit);
        EXPECT_EQ(bitmap.ScanLine(1)[2], 77);
        EXPECT_EQ(bitmap.Palette(), original.Palette());
    }
}

namespace {

// A bitmap of every byte value pattern the format allows, with a palette of distinct entries.
TBitmap PatternBitmap(TPixelFormat format, int width, int height) {
    TBitmap bitmap;
    bitmap.SetPixelFormat(format);
    bitmap.SetSize(width, height);
    const int64_t usedBytes = (int64_t(width) * bitmap.BitCount() + 7) / 8;
    for (int y = 0; y < height; ++y)
        for (int64_t i = 0; i < usedBytes; ++i) bitmap.ScanLine(y)[i] = uint8_t(i * 37 + y * 101 + 11);
    if (bitmap.BitCount() <= 8) {
        std::vector<TPaletteEntry> palette;
        for (int i = 0; i < (1 << bitmap.BitCount()); ++i)
            palette.push_back({uint8_t(i * 7 + 1), uint8_t(255 - i), uint8_t(i * 13), 0});
        bitmap.SetPalette(palette);
    }
    return bitmap;
}

const TPixelFormat AllFormats[] = {TPixelFormat::pf1bit,  TPixelFormat::pf4bit,  TPixelFormat::pf8bit,
                                   TPixelFormat::pf15bit, TPixelFormat::pf16bit, TPixelFormat::pf24bit,
                                   TPixelFormat::pf32bit};

}  // namespace

TEST(BmpWrite, EveryFormatReadsBackUnchanged) {
    for (const TPixelFormat format : AllFormats) {
        SCOPED_TRACE(FormatName(format));
        const TBitmap source = PatternBitmap(format, 13, 5);
        TMemoryStream stream;
        WriteBmp(stream, source);
        const std::vector<uint8_t>& d = stream.Bytes();
        const bool bitFields = format == TPixelFormat::pf16bit;
        const uint32_t tableBytes = source.BitCount() <= 8 ? 4u << source.BitCount() : 0;
        const uint32_t dataOffset = 54 + (bitFields ? 12 : 0) + tableBytes;
        EXPECT_EQ(Get32(d, 2), d.size());
        EXPECT_EQ(Get32(d, 10), dataOffset);
        EXPECT_EQ(Get32(d, 14), 40u);
        EXPECT_EQ(int32_t(Get32(d, 22)), 5);  // positive: rows from the bottom
        EXPECT_EQ(Get16(d, 28), uint32_t(source.BitCount()));
        EXPECT_EQ(Get32(d, 30), bitFields ? 3u : 0u);
        EXPECT_EQ(Get32(d, 34), uint32_t(source.RowBytes() * 5));
        EXPECT_EQ(Get32(d, 38), 0u);
        EXPECT_EQ(Get32(d, 42), 0u);
        if (bitFields) {
            EXPECT_EQ((std::vector<uint32_t>{Get32(d, 54), Get32(d, 58), Get32(d, 62)}),
                      (std::vector<uint32_t>{0xF800, 0x07E0, 0x001F}));
        }
        // The last row of the picture comes first.
        EXPECT_TRUE(std::equal(source.ScanLine(4), source.ScanLine(4) + source.RowBytes(), d.begin() + dataOffset));

        TBitmap back;
        stream.SetPosition(0);
        ReadBmp(stream, back);
        ASSERT_EQ(FormatName(back.PixelFormat()), std::string(FormatName(format)));
        ASSERT_EQ(back.Width(), 13);
        ASSERT_EQ(back.Height(), 5);
        EXPECT_EQ(back.Palette(), source.Palette());
        for (int y = 0; y < 5; ++y)
            EXPECT_TRUE(std::equal(source.ScanLine(y), source.ScanLine(y) + source.RowBytes(), back.ScanLine(y)))
                << "row " << y;
    }
    TMemoryStream stream;
    EXPECT_THROW(WriteBmp(stream, TBitmap()), EInvalidGraphic);
}

TEST(BmpWrite, ImageMagickReadsOurFiles) {
    TScratchFolder folder;
    for (const TPixelFormat format : AllFormats) {
        SCOPED_TRACE(FormatName(format));
        TBitmap bitmap = PatternBitmap(format, 7, 3);
        if (format == TPixelFormat::pf32bit)
            for (int y = 0; y < 3; ++y)
                for (int x = 0; x < 7; ++x) bitmap.ScanLine(y)[4 * x + 3] = 0;  // unused byte, not transparency
        const std::string file = folder.Path(std::string(FormatName(format)) + ".bmp");
        {
            TMemoryStream stream;
            WriteBmp(stream, bitmap);
            stream.SaveToFile(file);
        }
        const TRgbImage read = ReadWithImageMagick(file);
        ASSERT_EQ(read.width, 7);
        ASSERT_EQ(read.height, 3);
        // 5- and 6-bit fields may widen by rounding or by repeating bits: one step apart at most.
        const int tolerance = format == TPixelFormat::pf15bit || format == TPixelFormat::pf16bit ? 1 : 0;
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 7; ++x) {
                const TColor expected = bitmap.Pixel(x, y);
                const uint8_t* rgb = read.At(x, y);
                EXPECT_LE(std::abs(rgb[0] - GetRValue(expected)), tolerance) << x << "," << y;
                EXPECT_LE(std::abs(rgb[1] - GetGValue(expected)), tolerance) << x << "," << y;
                EXPECT_LE(std::abs(rgb[2] - GetBValue(expected)), tolerance) << x << "," << y;
            }
    }
}
