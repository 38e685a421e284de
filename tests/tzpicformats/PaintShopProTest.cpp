// Paint Shop Pro channels as the file lays them out: JPEG streams checked against djpeg, and
// 4-bit rows of width / 2 + 1 bytes under each compression.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "PSPBuilder.h"
#include "TestSupport.h"
#include "platform/Classes.h"
#include "platform/Exception.h"
#include "tzpicformats/PSPGraphic.h"

using namespace std::string_literals;

namespace {

TBitmap LoadPsp(const std::string& bytes) {
    TMemoryStream stream;
    stream.WriteBuffer(bytes.data(), int64_t(bytes.size()));
    stream.SetPosition(0);
    TPSPGraphic graphic;
    graphic.LoadFromStream(stream);
    return std::move(graphic);
}

// Each channel of a 13 x 7 picture as its own gray JPEG (cjpeg), with djpeg's decode of each
// gathered into expected.ppm and the alpha plane's into alpha.ppm; colour.jpg holds all three.
class TJpegChannels {
public:
    static constexpr int Width = 13, Height = 7;

    TJpegChannels() {
        const std::string script =
            "cd " + Quoted(folder_.Folder()) +
            " && convert -size 13x7 gradient:red-blue \\( -size 13x7 xc:none -fill yellow -draw 'rectangle 0,0 5,2' \\)"
            " -composite -depth 8 source.ppm && ppmtorgb3 source.ppm && pgmramp -ellipse 13 7 > source.alpha"
            " && for c in red grn blu alpha; do cjpeg -quality 70 source.$c > $c.jpg && djpeg -pnm $c.jpg > $c.pgm || exit 1; done"
            " && cjpeg source.ppm > colour.jpg && rgb3toppm red.pgm grn.pgm blu.pgm > expected.ppm && rgb3toppm alpha.pgm alpha.pgm alpha.pgm > alpha.ppm";
        const TCommandResult made = RunTool(script);
        EXPECT_EQ(made.status, 0) << made.output;
    }
    std::string Jpeg(const std::string& channel) const { return ReadFile(folder_.Path(channel + ".jpg")); }
    TRgbImage Expected(const std::string& name) const { return ReadPpm(folder_.Path(name + ".ppm")); }

private:
    TScratchFolder folder_;
};

TEST(PaintShopPro, JpegChannelsMatchDjpeg) {
    const TJpegChannels jpegs;
    const uint32_t size = TJpegChannels::Width * TJpegChannels::Height;
    const TPSPChannel red{1, jpegs.Jpeg("red"), size}, green{2, jpegs.Jpeg("grn"), size},
        blue{3, jpegs.Jpeg("blu"), size}, alpha{0, jpegs.Jpeg("alpha"), size};
    const TRgbImage colours = jpegs.Expected("expected"), opacity = jpegs.Expected("alpha");
    ASSERT_EQ(colours.width, TJpegChannels::Width);
    ASSERT_EQ(opacity.width, TJpegChannels::Width);

    struct TCase {
        const char* name;
        int bitDepth;
        std::vector<TPSPChannel> channels;
    };
    const TCase cases[] = {
        {"colour", 24, {red, green, blue}},
        {"colour with alpha", 24, {blue, alpha, red, green}},
        {"gray", 8, {alpha}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        const TBitmap image = LoadPsp(PSPFile(TJpegChannels::Width, TJpegChannels::Height, c.bitDepth, 3, {{1, c.channels}}));
        ASSERT_EQ(image.Width(), TJpegChannels::Width);
        ASSERT_EQ(image.Height(), TJpegChannels::Height);
        const bool withAlpha = c.channels.size() == 4;
        EXPECT_EQ(image.PixelFormat(), c.bitDepth == 8 ? TPixelFormat::pf8bit : withAlpha ? TPixelFormat::pf32bit : TPixelFormat::pf24bit);
        int wrong = 0;
        for (int y = 0; y < TJpegChannels::Height; ++y)
            for (int x = 0; x < TJpegChannels::Width; ++x) {
                const TColor pixel = image.Pixel(x, y);
                const uint8_t* expected = (c.bitDepth == 8 ? opacity : colours).At(x, y);
                wrong += (pixel & 0xFF) != expected[0] || (pixel >> 8 & 0xFF) != expected[1] || (pixel >> 16 & 0xFF) != expected[2];
                if (withAlpha) wrong += image.ScanLine(y)[4 * x + 3] != opacity.At(x, y)[0];
            }
        EXPECT_EQ(wrong, 0);
    }
}

TEST(PaintShopPro, UnusableJpegChannelsRaise) {
    const TJpegChannels jpegs;
    const uint32_t size = TJpegChannels::Width * TJpegChannels::Height;
    const std::string gray = jpegs.Jpeg("alpha");
    struct TCase {
        const char* name;
        int width, bitDepth;
        std::string packed;
        std::string message;
    };
    const TCase cases[] = {
        {"4-bit indices", TJpegChannels::Width, 4, gray, "Cannot load image. The compression scheme is not supported for PSP files."},
        {"another size", TJpegChannels::Width + 1, 8, gray, "Cannot load image. Invalid or unexpected PSP image format."},
        {"three components", TJpegChannels::Width, 8, jpegs.Jpeg("colour"), "Cannot load image. Invalid or unexpected PSP image format."},
        {"cut short", TJpegChannels::Width, 8, gray.substr(0, 40), ""},
        {"no JPEG", TJpegChannels::Width, 8, std::string(200, 'x'), ""},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = PSPFile(c.width, TJpegChannels::Height, c.bitDepth, 3, {{1, {{0, c.packed, size + 8}}}});
        const std::string message = MessageOf([&] { LoadPsp(file); });
        if (c.message.empty())
            EXPECT_NE(message, "(no exception)");
        else
            EXPECT_EQ(message, c.message);
    }
}

std::string Deflate(const std::string& data) {
    uLongf size = compressBound(uLong(data.size()));
    std::string packed(size, '\0');
    EXPECT_EQ(compress2(reinterpret_cast<Bytef*>(packed.data()), &size, reinterpret_cast<const Bytef*>(data.data()),
                        uLong(data.size()), 9),
              Z_OK);
    packed.resize(size);
    return packed;
}

// Literal packets of at most 127 bytes.
std::string PackLiterally(const std::string& data) {
    std::string packed;
    for (size_t at = 0; at < data.size(); at += 127) {
        const std::string part = data.substr(at, 127);
        packed += char(part.size()) + part;
    }
    return packed;
}

TEST(PaintShopPro, FourBitRowsHoldHalfTheWidthAndOneByte) {
    std::string palette;  // entry i: blue 16 i, green 255 - 16 i, red i
    for (int i = 0; i < 16; ++i) palette += std::string{char(16 * i), char(255 - 16 * i), char(i), 0};
    for (const int width : {5, 6}) {
        const int height = 3, rowBytes = width / 2 + 1;
        // Index (x + 3 y) mod 16, two to a byte with the first in the high half; the spare half
        // and byte of each row are 0xF, which no pixel may show.
        std::string plane(size_t(rowBytes * height), '\xFF');
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                char& byte = plane[size_t(y * rowBytes + x / 2)];
                const int index = (x + 3 * y) % 16;
                byte = char(x % 2 ? (byte & 0xF0) | index : (byte & 0x0F) | index << 4);
            }
        struct TCase {
            int compression;
            std::string packed;
            bool gray;
        };
        const TCase cases[] = {{0, plane, false}, {1, PackLiterally(plane), false}, {2, Deflate(plane), false}, {2, Deflate(plane), true}};
        for (const TCase& c : cases) {
            SCOPED_TRACE("width " + std::to_string(width) + ", compression " + std::to_string(c.compression) + (c.gray ? ", gray" : ""));
            const TBitmap image = LoadPsp(PSPFile(width, height, 4, c.compression, {{1, {{0, c.packed, uint32_t(plane.size())}}}},
                                                  c.gray ? std::string() : palette));
            ASSERT_EQ(image.PixelFormat(), TPixelFormat::pf4bit);
            ASSERT_EQ(image.Width(), width);
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x) {
                    const int i = (x + 3 * y) % 16;
                    const TColor expected = c.gray ? TColor(0x111111 * i) : TColor(i | (255 - 16 * i) << 8 | 16 * i << 16);
                    EXPECT_EQ(image.Pixel(x, y), expected) << x << "," << y;
                }
        }
    }
}

}  // namespace
