// The PNG reader's ancillary chunks: tRNS, gAMA and the checksums of chunks it reads, on files
// built here byte by byte in the PNG format's layout and judged by pngcheck and ImageMagick.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>
#include <string>
#include <vector>

#include "BitmapDifference.h"
#include "TestSupport.h"
#include "platform/Classes.h"
#include "tzpicformats/PNGGraphic.h"

namespace {

std::string U32(uint32_t v) { return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; }
std::string U16(uint32_t v) { return {char(v >> 8), char(v)}; }

std::string Chunk(const std::string& type, const std::string& data) {
    const std::string body = type + data;
    return U32(uint32_t(data.size())) + body +
           U32(uint32_t(crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()))));
}

struct TPicture {
    int width = 0, height = 0, depth = 8, colourType = 0;
    std::vector<int> samples;  // row after row, every channel of every pixel
};

int Channels(int colourType) { return colourType == 2 ? 3 : colourType == 6 ? 4 : colourType == 4 ? 2 : 1; }

// A PNG file of the picture: unfiltered rows, one IDAT, the extra chunks before it.
std::string PngFile(const TPicture& p, const std::string& extra) {
    const int perRow = p.width * Channels(p.colourType);
    std::string raw;
    for (int y = 0; y < p.height; ++y) {
        raw += '\0';
        std::string row((size_t(perRow) * p.depth + 7) / 8, '\0');
        for (int i = 0; i < perRow; ++i) {
            const int v = p.samples[size_t(y * perRow + i)];
            if (p.depth == 16) {
                row[size_t(2 * i)] = char(v >> 8);
                row[size_t(2 * i + 1)] = char(v);
            } else {
                const int bit = i * p.depth;
                row[size_t(bit / 8)] = char(row[size_t(bit / 8)] | v << (8 - p.depth - bit % 8));
            }
        }
        raw += row;
    }
    uLongf size = compressBound(uLong(raw.size()));
    std::string packed(size, '\0');
    compress2(reinterpret_cast<Bytef*>(packed.data()), &size, reinterpret_cast<const Bytef*>(raw.data()), uLong(raw.size()), 9);
    packed.resize(size);
    const std::string header = U32(uint32_t(p.width)) + U32(uint32_t(p.height)) + char(p.depth) + char(p.colourType) + std::string(3, '\0');
    return "\x89PNG\r\n\x1a\n" + Chunk("IHDR", header) + extra + Chunk("IDAT", packed) + Chunk("IEND", "");
}

// 7 x 3 pixels, pixel (x, y) taking the colour (x + y) mod the number of colours given.
TPicture Picture(int depth, int colourType, const std::vector<std::vector<int>>& colours) {
    TPicture p{7, 3, depth, colourType, {}};
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            const std::vector<int>& c = colours[size_t(x + y) % colours.size()];
            p.samples.insert(p.samples.end(), c.begin(), c.end());
        }
    return p;
}

struct TLoaded {
    TPNGGraphic graphic;
    std::string message;  // empty when the load succeeded
};

void Load(const std::string& bytes, TLoaded& loaded) {
    loaded.message = MessageOf([&] {
        TMemoryStream stream;
        stream.WriteBuffer(bytes.data(), int64_t(bytes.size()));
        stream.SetPosition(0);
        loaded.graphic.LoadFromStream(stream);
    });
    if (loaded.message == "(no exception)") loaded.message.clear();
}

// ImageMagick takes a gAMA of 1.0 for linear light and would convert the samples on output; the
// label keeps them as stored.
TRgbImage ImageMagick(const std::string& path, const std::string& operators) {
    const TCommandResult result =
        RunTool("convert " + Quoted(path) + " -set colorspace sRGB " + operators + " -depth 8 ppm:-", false);
    return result.status == 0 ? ParsePpm(result.output) : TRgbImage{};
}

TEST(PNGChunks, TransparentColourMarksThePixelsImageMagickMakesTransparent) {
    struct TCase {
        const char* name;
        TPicture picture;
        std::string extra;
        bool anyTransparent;
    };
    const std::vector<std::vector<int>> grays16 = {{0x1111}, {0x8080}, {0xFEFE}, {0x4242}};
    const std::vector<std::vector<int>> rgb8 = {{10, 20, 30}, {10, 20, 31}, {200, 100, 0}, {30, 20, 10}};
    const std::vector<std::vector<int>> rgb16 = {{0x0A0A, 0x1414, 0x1E1E}, {0x0A0A, 0x1414, 0x1F1F}, {0xFFFF, 0, 0x8080}};
    const TCase cases[] = {
        {"gray 1-bit", Picture(1, 0, {{0}, {1}}), Chunk("tRNS", U16(1)), true},
        {"gray 2-bit", Picture(2, 0, {{0}, {1}, {2}, {3}}), Chunk("tRNS", U16(2)), true},
        {"gray 4-bit", Picture(4, 0, {{3}, {9}, {15}, {0}}), Chunk("tRNS", U16(9)), true},
        {"gray 8-bit", Picture(8, 0, {{0}, {50}, {200}, {255}}), Chunk("tRNS", U16(200)), true},
        {"gray 16-bit", Picture(16, 0, grays16), Chunk("tRNS", U16(0x8080)), true},
        {"rgb 8-bit", Picture(8, 2, rgb8), Chunk("tRNS", U16(10) + U16(20) + U16(30)), true},
        {"rgb 16-bit", Picture(16, 2, rgb16), Chunk("tRNS", U16(0x0A0A) + U16(0x1414) + U16(0x1E1E)), true},
        {"gray 8-bit with gamma", Picture(8, 0, {{0}, {50}, {200}}), Chunk("gAMA", U32(70000)) + Chunk("tRNS", U16(50)), true},
        {"rgb 8-bit with gamma", Picture(8, 2, rgb8), Chunk("gAMA", U32(70000)) + Chunk("tRNS", U16(200) + U16(100) + U16(0)), true},
        {"value beyond the depth", Picture(2, 0, {{0}, {3}}), Chunk("tRNS", U16(7)), false},
        {"no tRNS", Picture(8, 2, rgb8), "", false},
    };
    TScratchFolder folder;
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = folder.Path("t.png"), bytes = PngFile(c.picture, c.extra);
        WriteFile(path, bytes);
        if (c.anyTransparent) {
            EXPECT_EQ(RunTool("pngcheck -q " + Quoted(path)).status, 0);
        }
        TLoaded loaded;
        Load(bytes, loaded);
        ASSERT_EQ(loaded.message, "");
        const TBitmap& ours = loaded.graphic;
        const bool gamma = Contains(c.extra, "gAMA");
        EXPECT_LE(Difference(ours, ImageMagick(path, gamma ? "-gamma 1.54" : "")), gamma ? 1 : 0);
        const TRgbImage alpha = ImageMagick(path, "-alpha extract");
        ASSERT_EQ(alpha.width, 7);
        int transparent = 0, wrong = 0;
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 7; ++x) {
                const bool clear = alpha.At(x, y)[0] == 0;
                transparent += clear;
                wrong += clear != (ours.Pixel(x, y) == loaded.graphic.TransparentColor());
            }
        EXPECT_EQ(wrong, 0);
        EXPECT_EQ(transparent > 0, c.anyTransparent);
        if (!c.anyTransparent) {
            EXPECT_EQ(loaded.graphic.TransparentColor(), clNone);
        }
    }
}

TEST(PNGChunks, FileGammaCorrectsColoursForADisplayGammaOf2_2) {
    const std::vector<std::vector<int>> rgb = {{0, 40, 80}, {120, 160, 200}, {255, 30, 7}, {64, 128, 192}};
    const std::vector<std::vector<int>> rgba = {{0, 40, 80, 255}, {120, 160, 200, 17}, {255, 30, 7, 0}};
    const std::string palette = Chunk("PLTE", std::string("\x00\x10\x20\x80\x90\xA0\xFF\x40\x08", 9));
    struct TCase {
        const char* name;
        TPicture picture;
        std::string extra;
    };
    const TCase cases[] = {
        {"rgb", Picture(8, 2, rgb), ""},
        {"rgba", Picture(8, 6, rgba), ""},
        {"gray 8-bit", Picture(8, 0, {{0}, {33}, {128}, {250}}), ""},
        {"gray 2-bit", Picture(2, 0, {{0}, {1}, {2}, {3}}), ""},
        {"gray 16-bit", Picture(16, 0, {{0x2020}, {0x9999}}), ""},
        {"indexed", Picture(8, 3, {{0}, {1}, {2}}), palette},
    };
    TScratchFolder folder;
    const std::string path = folder.Path("g.png");
    for (const TCase& c : cases)
        for (const uint32_t value : {0u, 45455u, 70000u, 100000u}) {
            SCOPED_TRACE(std::string(c.name) + ", gAMA " + std::to_string(value));
            const std::string bytes = PngFile(c.picture, Chunk("gAMA", U32(value)) + c.extra);
            WriteFile(path, bytes);
            if (value > 0) {
                EXPECT_EQ(RunTool("pngcheck -q " + Quoted(path)).status, 0);
            }
            TLoaded loaded;
            Load(bytes, loaded);
            ASSERT_EQ(loaded.message, "");
            const TImageProperties& properties = loaded.graphic.ImageProperties();
            EXPECT_EQ(bool(properties.Options & ioUseGamma), value > 0);
            EXPECT_FLOAT_EQ(properties.FileGamma, value > 0 ? float(value) / 100000.0f : 1.0f);
            // ImageMagick's -gamma g raises each sample to 1 / g.
            const std::string correction = value > 0 ? "-gamma " + std::to_string(value / 100000.0 * 2.2) : "";
            EXPECT_LE(Difference(loaded.graphic, ImageMagick(path, correction)), 1);
            for (int x = 0; x < 7 && c.picture.colourType == 6; ++x) {
                EXPECT_EQ(loaded.graphic.ScanLine(0)[4 * x + 3], rgba[size_t(x) % 3][3]);
            }
        }
}

TEST(PNGChunks, HeaderReadFindsTheFileGamma) {
    const TPicture picture = Picture(8, 0, {{1}});
    const struct {
        std::string extra;
        float gamma;
    } cases[] = {
        {Chunk("tEXt", std::string("a\0b", 3)) + Chunk("gAMA", U32(45455)), 0.45455f},
        {"", 1.0f},
        {Chunk("gAMA", U32(0)), 1.0f},
    };
    for (const auto& c : cases) {
        const std::string bytes = PngFile(picture, c.extra);
        TMemoryStream stream;
        stream.WriteBuffer(bytes.data(), int64_t(bytes.size()));
        stream.SetPosition(0);
        TPNGGraphic graphic;
        ASSERT_TRUE(graphic.ReadHeaderProperties(stream, 0));
        EXPECT_FLOAT_EQ(graphic.ImageProperties().FileGamma, c.gamma);
        EXPECT_EQ(stream.Position(), 0);
    }
}

// A damaged checksum fails the load only in a chunk whose content the reader uses.
TEST(PNGChunks, ChecksumsOfTheAncillaryChunksReadAreChecked) {
    const TPicture picture = Picture(8, 0, {{1}, {2}});
    const struct {
        std::string chunk;
        std::string message;
    } cases[] = {
        {Chunk("gAMA", U32(45455)), "Cannot load image. CRC error found in PNG file."},
        {Chunk("tRNS", U16(2)), "Cannot load image. CRC error found in PNG file."},
        {Chunk("bKGD", U16(2)), ""},
        {Chunk("tEXt", std::string("a\0b", 3)), ""},
    };
    for (const auto& c : cases) {
        std::string chunk = c.chunk;
        chunk.back() = char(chunk.back() ^ 1);
        TLoaded loaded;
        Load(PngFile(picture, chunk), loaded);
        EXPECT_EQ(loaded.message, c.message) << c.chunk.substr(4, 4);
    }
}

}  // namespace
