#include <gtest/gtest.h>

#include <string>

#include "DriverTestSupport.h"
#include "imaging/core/KVMask.h"
#include "imaging/core/KVBasicHelpers.h"
#include "imaging/io/KVPngFilter.h"

namespace {

class PngFilterTest : public ::testing::Test {
protected:
    // Runs a command that turns %i, a PPM of the image, into the PNG %o; returns the PNG's path.
    std::string MakePng(const std::string& name, const std::string& command, const TRgbImage& image) {
        const std::string ppm = folder.Path(name + ".ppm"), png = folder.Path(name + ".png");
        WriteFile(ppm, PpmBytes(image));
        std::string line = command;
        line.replace(line.find("%i"), 2, Quoted(ppm));
        line.replace(line.find("%o"), 2, Quoted(png));
        const TCommandResult result = RunTool(line);
        EXPECT_EQ(result.status, 0) << line << "\n" << result.output;
        return png;
    }
    std::string MakePng(const std::string& name, const std::string& command, int width = 37, int height = 23) {
        return MakePng(name, command, PatternImage(width, height));
    }
    void Read(const std::string& bytes, TDriverCall& call, TKVBitmap& bitmap, std::unique_ptr<TKVMask>& mask,
              bool composite = false, bool paramsOnly = false) {
        TMemoryStream stream;
        LoadBytes(stream, bytes);
        ReadPNGStream(stream, bitmap, call.params, composite, mask, paramsOnly, call.progress);
    }
    std::string Write(TKVBitmap& bitmap, TDriverCall& call, TKVMask* mask, const std::string& name) {
        TMemoryStream out;
        WritePNGStream(out, bitmap, call.params, mask, call.progress);
        const std::string path = folder.Path(name + ".png");
        WriteFile(path, StreamBytes(out));
        return path;
    }
    TScratchFolder folder;
};

// Colour type and depth from the IHDR chunk.
int ColorType(const std::string& png) { return uint8_t(png[25]); }
int Depth(const std::string& png) { return uint8_t(png[24]); }

// The alpha channel as ImageMagick reads it, one byte per pixel.
std::string AlphaWithImageMagick(const std::string& path) {
    const TRgbImage alpha = ParsePpm(RunTool("convert " + Quoted(path) + " -alpha extract -depth 8 ppm:-", false).output);
    std::string bytes;
    for (size_t i = 0; i < alpha.pixels.size(); i += 3) bytes += char(alpha.pixels[i]);
    return bytes;
}

std::string MaskBytes(TKVMask& mask) {
    std::string bytes;
    for (int y = 0; y < mask.Height(); ++y)
        bytes.append(reinterpret_cast<const char*>(mask.GetScanline(y)), size_t(mask.Width()));
    return bytes;
}

// The pattern reduced to a few colours, which pnmtopng stores at the smallest palette depth.
TRgbImage FewColours(int count) {
    TRgbImage image = PatternImage(13, 5);
    for (size_t i = 0; i < image.pixels.size(); i += 3) {
        const int k = int(i / 3 % size_t(count));
        image.pixels[i] = uint8_t(k * 16), image.pixels[i + 1] = uint8_t(255 - k * 10), image.pixels[i + 2] = 7;
    }
    return image;
}

TEST_F(PngFilterTest, ReadsEveryColourTypeAndDepthAsImageMagickDoes) {
    struct Case {
        const char* name;
        const char* command;
        int colours;  // 0: the full pattern
        bool native;
        TKVPixelFormat format;
        int bits, samples, tolerance;
    } cases[] = {
        {"rgb", "convert %i PNG24:%o", 0, false, kv24RGB, 8, 3, 0},
        {"rgb16", "convert %i -depth 16 PNG48:%o", 0, false, kv24RGB, 16, 3, 1},
        {"interlaced", "convert %i -interlace PNG PNG24:%o", 0, false, kv24RGB, 8, 3, 0},
        {"palette8", "convert %i -colors 200 PNG8:%o", 0, false, kv24RGB, 8, 1, 0},
        {"palette8 native", "convert %i -colors 200 PNG8:%o", 0, true, kv8Paletted, 8, 1, 0},
        {"palette4 native", "pnmtopng %i > %o", 16, true, kv24RGB, 4, 1, 0},
        {"palette2", "pnmtopng %i > %o", 4, false, kv24RGB, 2, 1, 0},
        {"gray8 native", "convert %i -colorspace Gray -depth 8 pgm:- | pnmtopng > %o", 0, true, kv8Gray, 8, 1, 0},
        {"gray16", "convert %i -colorspace Gray -depth 16 pgm:- | pnmtopng > %o", 0, false, kv24RGB, 16, 1, 1},
        {"gray4", "convert %i -colorspace Gray -depth 4 pgm:- | pnmtopng > %o", 0, false, kv24RGB, 4, 1, 0},
        {"bilevel", "convert %i -monochrome pbm:- | pnmtopng > %o", 0, false, kv1Bit, 1, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string png = MakePng(c.name, c.command, c.colours ? FewColours(c.colours) : PatternImage(37, 23));
        TDriverCall call;
        call.params.IsNativePixelFormat = c.native;
        TKVBitmap bitmap;
        std::unique_ptr<TKVMask> mask;
        Read(ReadFile(png), call, bitmap, mask);
        ASSERT_FALSE(call.Aborted());
        EXPECT_EQ(Depth(ReadFile(png)), c.bits);
        EXPECT_EQ(bitmap.GetPixelFormat(), c.format);
        EXPECT_EQ(call.params.BitsPerSample, c.bits);
        EXPECT_EQ(call.params.SamplesPerPixel, c.samples);
        EXPECT_LE(MaxDifference(BitmapToImage(bitmap), ReadWithImageMagick(png)), c.tolerance);
        EXPECT_FALSE(mask);  // no alpha samples, no transparency chunk: nothing to mask
    }
}

TEST_F(PngFilterTest, OneBitPaletteKeepsItsTwoColours) {
    TRgbImage image = PatternImage(13, 5);
    for (size_t i = 0; i < image.pixels.size(); i += 3) {
        const bool red = (i / 3) % 13 < 6;
        image.pixels[i] = red ? 255 : 0, image.pixels[i + 1] = 0, image.pixels[i + 2] = red ? 0 : 255;
    }
    const std::string png = MakePng("two", "pnmtopng %i > %o", image);
    ASSERT_EQ(Depth(ReadFile(png)), 1);
    ASSERT_EQ(ColorType(ReadFile(png)), 3);
    TDriverCall call;
    TKVBitmap bitmap;
    std::unique_ptr<TKVMask> mask;
    Read(ReadFile(png), call, bitmap, mask);
    ASSERT_FALSE(call.Aborted());
    EXPECT_EQ(bitmap.GetPixelFormat(), kv24RGB);
    EXPECT_EQ(MaxDifference(BitmapToImage(bitmap), image), 0);
    EXPECT_EQ(call.params.ColorMapCount(), 2);
}

TEST_F(PngFilterTest, AlphaGoesIntoTheMaskOrIsBlendedOntoTheBackground) {
    const std::string png = folder.Path("rgba.png");
    ASSERT_EQ(RunTool("convert -size 20x10 gradient:red-blue \\( -size 20x10 gradient:white-black \\) "
                      "-alpha off -compose CopyOpacity -composite -define png:exclude-chunks=bKGD,gAMA,cHRM PNG32:" +
                      Quoted(png)).status, 0);
    TDriverCall call;
    TKVBitmap bitmap;
    std::unique_ptr<TKVMask> mask;
    Read(ReadFile(png), call, bitmap, mask);
    ASSERT_FALSE(call.Aborted());
    ASSERT_TRUE(mask);
    EXPECT_FALSE(mask->Full());
    EXPECT_EQ(MaskBytes(*mask), AlphaWithImageMagick(png));
    EXPECT_EQ(MaxDifference(BitmapToImage(bitmap), ReadWithImageMagick(png)), 0);

    TDriverCall composite;
    composite.params.PngBackground = KVCreateRGB(0, 128, 0);
    TKVBitmap blended;
    std::unique_ptr<TKVMask> none;
    Read(ReadFile(png), composite, blended, none, true);
    ASSERT_FALSE(composite.Aborted());
    EXPECT_FALSE(none);
    const std::string flat = folder.Path("flat.ppm");
    RunTool("convert " + Quoted(png) + " -background 'rgb(0,128,0)' -flatten -depth 8 " + Quoted(flat));
    EXPECT_LE(MaxDifference(BitmapToImage(blended), ReadPpm(flat)), 1);
}

TEST_F(PngFilterTest, ResolutionAndTextTravelBothWays) {
    TDriverCall call;
    call.params.SetDpiX(72), call.params.SetDpiY(300);
    call.params.PngTextKeys.Add("Title");
    call.params.PngTextValues.Add("A small picture");
    TKVBitmap bitmap;
    ImageToBitmap(PatternImage(9, 7), bitmap);
    const std::string path = Write(bitmap, call, nullptr, "dpi");
    const std::string bytes = ReadFile(path);
    const size_t phys = bytes.find("pHYs");
    ASSERT_NE(phys, std::string::npos);
    auto be32 = [&](size_t at) {
        return uint32_t(uint8_t(bytes[at])) << 24 | uint32_t(uint8_t(bytes[at + 1])) << 16 |
               uint32_t(uint8_t(bytes[at + 2])) << 8 | uint8_t(bytes[at + 3]);
    };
    EXPECT_EQ(be32(phys + 4), 2835u);
    EXPECT_EQ(be32(phys + 8), 11811u);
    EXPECT_TRUE(Contains(RunTool("pngcheck -t " + Quoted(path)).output, "A small picture"));

    TDriverCall back;
    TKVBitmap read;
    std::unique_ptr<TKVMask> mask;
    Read(bytes, back, read, mask);
    EXPECT_EQ(back.params.DpiX(), 72);
    EXPECT_EQ(back.params.DpiY(), 300);
    ASSERT_EQ(back.params.PngTextKeys.Count(), 1);
    EXPECT_EQ(back.params.PngTextValues.Strings(0), "A small picture");
}

struct WriteCase {
    const char* name;
    int samples, bits;
    int colors;  // distinct colours in the picture; 0 for the full pattern, -1 for grays
    bool transparent;
    int colorType, depth;
};

// A picture of the pattern, a few of its colours, or grays.
void MakePicture(const WriteCase& c, TKVBitmap& bitmap) {
    TRgbImage image = PatternImage(29, 17);
    for (size_t i = 0; i < image.pixels.size(); i += 3) {
        if (c.colors > 0) {
            const int k = int(i / 3 % size_t(c.colors));
            image.pixels[i] = uint8_t(k * 40), image.pixels[i + 1] = uint8_t(255 - k * 30), image.pixels[i + 2] = 7;
        } else if (c.colors < 0) {
            image.pixels[i + 1] = image.pixels[i + 2] = image.pixels[i];
        }
    }
    ImageToBitmap(image, bitmap);
}

TEST_F(PngFilterTest, WrittenFilesPassPngcheckAndReadBackEverywhere) {
    const WriteCase cases[] = {
        {"rgb", 3, 8, 0, false, 2, 8},
        {"rgba", 3, 8, 0, true, 6, 8},
        {"palette8", 1, 8, 200, false, 3, 8},
        {"palette4", 1, 4, 16, false, 3, 4},
        {"palette2", 1, 2, 4, false, 3, 2},
        {"gray8", 1, 8, -1, false, 0, 8},
        {"gray16", 1, 16, -1, false, 0, 16},
        {"two colours", 1, 1, 2, false, 3, 1},
        {"transparent palette", 1, 8, 100, true, 3, 8},
    };
    for (const WriteCase& c : cases) {
        SCOPED_TRACE(c.name);
        TKVBitmap bitmap;
        MakePicture(c, bitmap);
        TKVMask mask;
        mask.AllocateBits(bitmap.GetWidth(), bitmap.GetHeight(), 8);
        for (int y = 0; y < mask.Height(); ++y)
            for (int x = 0; x < mask.Width(); ++x) mask.GetScanline(y)[x] = (c.transparent && x < 5) ? 0 : 255;
        TDriverCall call;
        call.params.SamplesPerPixel = c.samples;
        call.params.BitsPerSample = c.bits;
        const std::string path = Write(bitmap, call, &mask, c.name);
        ASSERT_FALSE(call.Aborted());
        const std::string bytes = ReadFile(path);
        EXPECT_EQ(ColorType(bytes), c.colorType);
        EXPECT_EQ(Depth(bytes), c.depth);
        const TCommandResult check = RunTool("pngcheck " + Quoted(path));
        EXPECT_EQ(check.status, 0) << check.output;

        TDriverCall back;
        TKVBitmap read;
        std::unique_ptr<TKVMask> readMask;
        Read(bytes, back, read, readMask);
        ASSERT_FALSE(back.Aborted());
        const TRgbImage expected = BitmapToImage(bitmap);
        const TRgbImage theirs = ReadWithImageMagick(path);
        if (c.transparent) {
            EXPECT_EQ(MaskBytes(*readMask), MaskBytes(mask));
            EXPECT_EQ(AlphaWithImageMagick(path), MaskBytes(mask));
        } else {
            EXPECT_EQ(MaxDifference(BitmapToImage(read), expected), 0);
            EXPECT_EQ(MaxDifference(theirs, expected), 0);
        }
    }
}

TEST_F(PngFilterTest, SixteenBitGrayKeepsWhiteWhite) {
    TKVBitmap bitmap;
    bitmap.Allocate(3, 1, kv8Gray);
    bitmap.GetScanline(0)[0] = 255, bitmap.GetScanline(0)[1] = 128, bitmap.GetScanline(0)[2] = 0;
    TDriverCall call;
    call.params.SamplesPerPixel = 1, call.params.BitsPerSample = 16;
    const std::string path = Write(bitmap, call, nullptr, "g16");
    const std::string pgm = RunTool("pngtopnm " + Quoted(path), false).output;
    ASSERT_GE(pgm.size(), 6u);
    EXPECT_EQ(pgm.substr(pgm.size() - 6), std::string("\xFF\xFF\x80\x80\x00\x00", 6));
}

TEST_F(PngFilterTest, DamagedFilesAbortAndNeverCrash) {
    const std::string png = ReadFile(MakePng("d", "convert %i PNG24:%o", 64, 40));
    const std::string interlaced = ReadFile(MakePng("di", "convert %i -interlace PNG PNG24:%o", 64, 40));
    for (const std::string& source : {png, interlaced})
        for (size_t cut : {size_t(0), size_t(8), size_t(30), source.size() / 2, source.size() - 13}) {
            TDriverCall call;
            TKVBitmap bitmap;
            std::unique_ptr<TKVMask> mask;
            Read(source.substr(0, cut), call, bitmap, mask);
            EXPECT_TRUE(call.Aborted()) << cut;
        }
    for (size_t i = 0; i < png.size(); i += 5) {
        std::string flipped = png;
        flipped[i] = char(flipped[i] ^ (1 << (i % 8)));
        TDriverCall call;
        TKVBitmap bitmap;
        std::unique_ptr<TKVMask> mask;
        Read(flipped, call, bitmap, mask);
    }
}

TEST_F(PngFilterTest, ContentTestAndParametersOnly) {
    const std::string png = ReadFile(MakePng("c", "convert %i PNG24:%o", 300, 200));
    TMemoryStream stream;
    LoadBytes(stream, "ab" + png);
    stream.SetPosition(2);
    EXPECT_TRUE(IsPNGStream(stream));
    EXPECT_EQ(stream.Position(), 2);
    stream.SetPosition(0);
    EXPECT_FALSE(IsPNGStream(stream));

    TDriverCall call;
    TKVBitmap bitmap;
    std::unique_ptr<TKVMask> mask;
    Read(png, call, bitmap, mask, false, true);
    EXPECT_FALSE(call.Aborted());
    EXPECT_EQ(call.params.Width, 300);
    EXPECT_EQ(call.params.Height, 200);
    EXPECT_TRUE(bitmap.IsEmpty());
}

TEST_F(PngFilterTest, ShortWritesSetTheAbortFlag) {
    TKVBitmap bitmap;
    ImageToBitmap(PatternImage(300, 200), bitmap);
    for (int64_t capacity : {0, 40, 5000}) {
        TDriverCall call;
        TFullStream full(capacity);
        WritePNGStream(full, bitmap, call.params, nullptr, call.progress);
        EXPECT_TRUE(call.Aborted()) << capacity;
    }
}

}  // namespace
