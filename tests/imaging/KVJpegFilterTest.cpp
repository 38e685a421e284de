#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DriverTestSupport.h"
#include "imaging/core/KVICC.h"
#include "imaging/io/KVJpegFilter.h"
#include "imaging/io/KestovaIO.h"

namespace {

class JpegFilterTest : public ::testing::Test {
protected:
    // Encodes the pattern with cjpeg and the given options; returns the file's path.
    std::string MakeJpeg(const std::string& name, const std::string& options, int width = 61, int height = 45) {
        const std::string ppm = folder.Path(name + ".ppm"), jpeg = folder.Path(name + ".jpg");
        WriteFile(ppm, PpmBytes(PatternImage(width, height)));
        const TCommandResult result = RunTool("cjpeg " + options + " -outfile " + Quoted(jpeg) + " " + Quoted(ppm));
        EXPECT_EQ(result.status, 0) << result.output;
        return jpeg;
    }
    // djpeg's picture of the file, gray expanded to RGB.
    TRgbImage Reference(const std::string& jpeg, const std::string& options = "") {
        const std::string ppm = jpeg + ".ref.ppm";
        EXPECT_EQ(RunTool("djpeg -pnm " + options + " " + Quoted(jpeg) + " | convert - -type TrueColor ppm:" +
                          Quoted(ppm)).status, 0);
        return ReadPpm(ppm);
    }
    void Read(const std::string& bytes, TDriverCall& call, TKVBitmap& bitmap, bool paramsOnly = false) {
        TMemoryStream stream;
        LoadBytes(stream, bytes);
        ReadJPEGStream(stream, nullptr, bitmap, true, false, true, false, paramsOnly, call.progress, call.params);
    }
    TScratchFolder folder;
};

// A JPEG from cjpeg with extra segments inserted right after its JFIF header.
std::string WithSegments(const std::string& jpeg, const std::vector<std::string>& segments) {
    std::string extra;
    for (const std::string& s : segments) extra += s;
    return jpeg.substr(0, 20) + extra + jpeg.substr(20);
}

std::string Segment(uint8_t marker, const std::string& body) {
    const size_t length = body.size() + 2;
    return std::string{char(0xFF), char(marker), char(length >> 8), char(length & 0xFF)} + body;
}

std::string IccChunk(int sequence, int count, const std::string& part) {
    return Segment(0xE2, std::string("ICC_PROFILE") + '\0' + char(sequence) + char(count) + part);
}

TEST_F(JpegFilterTest, DecodesLikeDjpegForEveryCodingCjpegOffers) {
    struct Case {
        const char* name;
        const char* options;
        int samples, colorSpace;
        bool progressive;
    } cases[] = {
        {"baseline", "-quality 90", 3, 2, false},
        {"gray", "-grayscale", 1, 1, false},
        {"progressive", "-progressive", 3, 2, true},
        {"restart", "-restart 1 -optimize", 3, 2, false},
        {"sampled422", "-sample 2x1", 3, 2, false},
        {"rgb", "-rgb", 3, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string jpeg = MakeJpeg(c.name, c.options);
        TDriverCall call;
        TKVBitmap bitmap;
        Read(ReadFile(jpeg), call, bitmap);
        ASSERT_FALSE(call.Aborted());
        EXPECT_EQ(bitmap.GetPixelFormat(), kv24RGB);
        EXPECT_EQ(MaxDifference(BitmapToImage(bitmap), Reference(jpeg)), 0);
        EXPECT_EQ(call.params.SamplesPerPixel, c.samples);
        EXPECT_EQ(call.params.JpegColorSpace, c.colorSpace);
        EXPECT_EQ(call.params.JpegProgressive, c.progressive);
        EXPECT_EQ(call.params.Width, 61);
        EXPECT_EQ(call.params.JpegWarningCount, 0);
    }
}

TEST_F(JpegFilterTest, ScaledDecodingMatchesDjpegBitForBit) {
    const std::string jpeg = MakeJpeg("big", "-quality 85", 203, 157);
    for (int scale : {2, 3, 4}) {
        const int denominator = 1 << (scale - 1);
        SCOPED_TRACE(denominator);
        TDriverCall call;
        call.params.JpegScale = uint8_t(scale);
        TKVBitmap bitmap;
        Read(ReadFile(jpeg), call, bitmap);
        ASSERT_FALSE(call.Aborted());
        EXPECT_EQ(call.params.JpegScaleUsed, denominator);
        EXPECT_EQ(call.params.JpegFrameWidth, 203);
        EXPECT_EQ(MaxDifference(BitmapToImage(bitmap), Reference(jpeg, "-scale 1/" + std::to_string(denominator))), 0);
    }
}

TEST_F(JpegFilterTest, AutomaticScaleTakesTheSmallestSizeAtLeastTheWantedOne) {
    const std::string bytes = ReadFile(MakeJpeg("large", "", 1600, 1200));
    struct Case { int width, height, denominator; } cases[] = {
        {200, 150, 8}, {201, 150, 4}, {800, 600, 2}, {1600, 1201, 1}, {0, 150, 1}};
    for (const Case& c : cases) {
        TDriverCall call;
        call.params.JpegScale = 0;
        call.params.Width = c.width, call.params.Height = c.height;
        TKVBitmap bitmap;
        Read(bytes, call, bitmap, true);
        EXPECT_EQ(call.params.JpegScaleUsed, c.denominator) << c.width << "x" << c.height;
        EXPECT_EQ(call.params.Width, 1600 / c.denominator);
        EXPECT_TRUE(bitmap.IsEmpty());  // parameters only
    }
}

TEST_F(JpegFilterTest, CmykLoadsAsStoredWithTheNativeFlagAndAsRgbWithout) {
    const std::string ppm = folder.Path("c.ppm"), jpeg = folder.Path("c.jpg");
    WriteFile(ppm, PpmBytes(PatternImage(40, 30)));
    ASSERT_EQ(RunTool("convert " + Quoted(ppm) + " -colorspace CMYK -quality 95 " + Quoted(jpeg)).status, 0);

    TDriverCall native;
    native.params.IsNativePixelFormat = true;
    TKVBitmap cmyk;
    Read(ReadFile(jpeg), native, cmyk);
    ASSERT_FALSE(native.Aborted());
    EXPECT_EQ(cmyk.GetPixelFormat(), kvCMYK);
    EXPECT_EQ(native.params.SamplesPerPixel, 4);
    EXPECT_EQ(native.params.JpegColorSpace, 4);  // ImageMagick writes Adobe YCCK

    TDriverCall plain;
    TKVBitmap rgb;
    Read(ReadFile(jpeg), plain, rgb);
    EXPECT_EQ(rgb.GetPixelFormat(), kv24RGB);
    EXPECT_LE(MaxDifference(BitmapToImage(rgb), ReadWithImageMagick(jpeg)), 3);
    EXPECT_EQ(MaxDifference(BitmapToImage(rgb), BitmapToImage(cmyk)), 0);
}

TEST_F(JpegFilterTest, StartIsFoundWithin100BytesOnly) {
    const std::string jpeg = ReadFile(MakeJpeg("j", ""));
    for (int junk : {0, 99, 100}) {
        TDriverCall call;
        TKVBitmap bitmap;
        Read(std::string(size_t(junk), 'x') + jpeg, call, bitmap);
        EXPECT_EQ(call.Aborted(), junk >= 100) << junk;
        TMemoryStream stream;
        LoadBytes(stream, "ab" + std::string(size_t(junk), 'x') + jpeg);
        stream.SetPosition(2);
        EXPECT_EQ(FindJPEGStart(stream), junk < 100 ? 2 + junk : -1);
        EXPECT_EQ(stream.Position(), 2);
    }
}

TEST_F(JpegFilterTest, ResolutionFromTheJfifHeader) {
    const std::string jpeg = ReadFile(MakeJpeg("d", ""));
    struct Case { uint8_t unit; uint16_t x, y; int dpiX, dpiY; } cases[] = {
        {2, 28, 40, 71, 101}, {1, 72, 96, 72, 96}, {0, 1, 1, 1, 1}};
    for (const Case& c : cases) {
        std::string bytes = jpeg;
        // JFIF APP0 right after SOI: unit at 13, densities at 14 and 16.
        bytes[13] = char(c.unit);
        bytes[14] = char(c.x >> 8), bytes[15] = char(c.x);
        bytes[16] = char(c.y >> 8), bytes[17] = char(c.y);
        TDriverCall call;
        TKVBitmap bitmap;
        Read(bytes, call, bitmap, true);
        EXPECT_EQ(call.params.DpiX(), c.dpiX);
        EXPECT_EQ(call.params.DpiY(), c.dpiY);
    }
}

TEST_F(JpegFilterTest, ProfileChunksJoinInSequenceOrderAndBadChunksAreIgnored) {
    TKVICC srgb;
    ASSERT_TRUE(srgb.LoadSRGB());
    const std::string profile(srgb.Data().begin(), srgb.Data().end());
    const size_t third = profile.size() / 3;
    const std::string a = profile.substr(0, third), b = profile.substr(third, third), c = profile.substr(2 * third);
    const std::string jpeg = ReadFile(MakeJpeg("p", ""));
    struct Case {
        const char* name;
        std::vector<std::string> chunks;
        bool loaded;
    } cases[] = {
        {"out of order", {IccChunk(3, 3, c), IccChunk(1, 3, a), IccChunk(2, 3, b)}, true},
        {"duplicate and zero", {IccChunk(1, 3, a), IccChunk(1, 3, c), IccChunk(0, 3, c), IccChunk(2, 3, b),
                                IccChunk(3, 3, c)}, true},
        {"gap", {IccChunk(1, 3, a), IccChunk(3, 3, c)}, false},
        {"past its count", {IccChunk(4, 3, a)}, false},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        TMemoryStream stream;
        LoadBytes(stream, WithSegments(jpeg, k.chunks));
        TDriverCall call;
        ReadJPEGICCProfile(stream, call.params);
        EXPECT_EQ(stream.Position(), 0);
        ASSERT_EQ(call.params.InputICC() != nullptr && call.params.InputICC()->IsValid(), k.loaded);
        if (k.loaded) {
            const std::vector<uint8_t>& loaded = call.params.InputICC()->Data();
            EXPECT_EQ(std::string(loaded.begin(), loaded.end()), profile);
        }
    }
}

TEST_F(JpegFilterTest, EmbeddedProfileIsAppliedAndItsMarkersDropped) {
    TKVICC srgb;
    ASSERT_TRUE(srgb.LoadSRGB());
    const std::string profile(srgb.Data().begin(), srgb.Data().end());
    const std::string jpeg = MakeJpeg("icc", "-quality 90");
    const std::string tagged = WithSegments(ReadFile(jpeg), {IccChunk(1, 1, profile), Segment(0xFE, "note")});
    TDriverCall call;
    TKVBitmap bitmap;
    Read(tagged, call, bitmap);
    ASSERT_FALSE(call.Aborted());
    ASSERT_TRUE(call.params.InputICC() && call.params.InputICC()->IsValid());
    EXPECT_TRUE(call.params.InputICC()->Used());
    // sRGB into sRGB changes next to nothing.
    EXPECT_LE(MaxDifference(BitmapToImage(bitmap), Reference(jpeg)), 2);
    ASSERT_EQ(call.params.JpegMarkers.Count(), 1);
    EXPECT_EQ(call.params.JpegMarkers.GetMarkerType(0), 0xFE);
}

TEST_F(JpegFilterTest, MarkersKeptExceptTheFirstApp0AndWrittenBack) {
    const std::string jpeg = ReadFile(MakeJpeg("m", ""));
    const std::string bytes =
        WithSegments(jpeg, {Segment(0xFE, "a comment"), Segment(0xE0, "second app0"), Segment(0xED, "Photoshop")});
    TDriverCall call;
    TKVBitmap bitmap;
    Read(bytes, call, bitmap);
    ASSERT_FALSE(call.Aborted());
    ASSERT_EQ(call.params.JpegMarkers.Count(), 3);
    EXPECT_EQ(call.params.JpegMarkers.GetMarkerType(0), 0xFE);
    EXPECT_EQ(call.params.JpegMarkers.GetMarkerType(1), 0xE0);
    EXPECT_EQ(call.params.JpegMarkers.GetMarkerType(2), 0xED);

    TMemoryStream out;
    WriteJPEGStream(out, bitmap, call.params, call.progress);
    ASSERT_FALSE(call.Aborted());
    const std::string written = StreamBytes(out);
    EXPECT_EQ(CountOf(written, "JFIF"), 1u);
    EXPECT_TRUE(Contains(written, "a comment"));
    EXPECT_TRUE(Contains(written, "second app0"));
}

TEST_F(JpegFilterTest, WrittenFilesDecodeAsCjpegsOwnEncodingDoes) {
    const TRgbImage pattern = PatternImage(57, 33);
    struct Case {
        const char* name;
        uint8_t colorSpace;
        bool progressive;
        int components;
        const char* cjpegOptions;  // the same coding by cjpeg; none for CMYK, which it cannot write
    } cases[] = {{"ycbcr", 2, false, 3, "-quality 95"},
                 {"progressive", 2, true, 3, "-quality 95 -progressive"},
                 {"gray", 1, false, 1, "-quality 95 -grayscale"},
                 {"rgb", 0, false, 3, "-quality 95 -rgb"},
                 {"cmyk", 3, false, 4, nullptr}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TDriverCall call;
        call.params.JpegColorSpace = c.colorSpace;
        call.params.JpegProgressive = c.progressive;
        call.params.JpegQuality = 95;
        call.params.SetDpiX(72), call.params.SetDpiY(150);
        TKVBitmap bitmap;
        ImageToBitmap(pattern, bitmap);
        TMemoryStream out;
        WriteJPEGStream(out, bitmap, call.params, call.progress);
        ASSERT_FALSE(call.Aborted());
        const std::string path = folder.Path(std::string(c.name) + ".jpg");
        WriteFile(path, StreamBytes(out));

        TDriverCall back;
        TKVBitmap read;
        Read(StreamBytes(out), back, read);
        ASSERT_FALSE(back.Aborted());
        EXPECT_EQ(back.params.SamplesPerPixel, c.components);
        EXPECT_EQ(back.params.JpegProgressive, c.progressive);
        if (c.colorSpace == 1 || c.colorSpace == 2) {  // libjpeg writes a JFIF header for these only
            EXPECT_EQ(back.params.DpiX(), 72);
            EXPECT_EQ(back.params.DpiY(), 150);
        }
        if (c.cjpegOptions) {
            EXPECT_EQ(MaxDifference(BitmapToImage(read), Reference(path)), 0);
            const std::string theirs = MakeJpeg(std::string(c.name) + "-cjpeg", c.cjpegOptions, 57, 33);
            EXPECT_EQ(MaxDifference(BitmapToImage(read), Reference(theirs)), 0);
        } else {
            EXPECT_LE(MeanDifference(BitmapToImage(read), pattern), 3.0);
        }
        EXPECT_EQ(RunTool("identify -format %[channels] " + Quoted(path)).output,
                  c.components == 1 ? "gray" : c.components == 4 ? "cmyk" : "srgb");
    }
}

TEST_F(JpegFilterTest, OneBitPictureIsWrittenWithThreeComponents) {
    TKVBitmap bitmap;
    bitmap.Allocate(17, 9, kv1Bit);
    bitmap.GetScanline(3)[0] = 0xF0;
    TDriverCall call;
    TMemoryStream out;
    WriteJPEGStream(out, bitmap, call.params, call.progress);
    ASSERT_FALSE(call.Aborted());
    TDriverCall back;
    TKVBitmap read;
    Read(StreamBytes(out), back, read);
    EXPECT_EQ(back.params.SamplesPerPixel, 3);
    EXPECT_EQ(read.GetWidth(), 17);
}

TEST_F(JpegFilterTest, EmptyBitmapIsNotWritten) {
    TKVBitmap bitmap;
    TDriverCall call;
    TMemoryStream out;
    WriteJPEGStream(out, bitmap, call.params, call.progress);
    EXPECT_TRUE(call.Aborted());
    EXPECT_EQ(out.Size(), 0);
}

TEST_F(JpegFilterTest, DamagedFilesAbortAndNeverCrash) {
    const std::string jpeg = ReadFile(MakeJpeg("t", "-quality 90", 120, 90));
    const std::string progressive = ReadFile(MakeJpeg("tp", "-progressive", 120, 90));
    struct Case {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"empty", ""},
        {"signature only", jpeg.substr(0, 3)},
        {"header only", jpeg.substr(0, 200)},
        {"cut in the middle", jpeg.substr(0, jpeg.size() / 2)},
        {"progressive cut", progressive.substr(0, progressive.size() / 2)},
        {"huge frame", [&] {
             std::string s = jpeg;
             const size_t sof = s.find("\xFF\xC0");
             s[sof + 5] = char(0xF0), s[sof + 6] = 0, s[sof + 7] = char(0xF0), s[sof + 8] = 0;
             return s;
         }()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TDriverCall call;
        TKVBitmap bitmap;
        Read(c.bytes, call, bitmap);
        EXPECT_TRUE(call.Aborted());
    }
    // Bit flips anywhere: any outcome but a crash or a sanitizer report.
    for (size_t i = 0; i < jpeg.size(); i += 7) {
        std::string flipped = jpeg;
        flipped[i] = char(flipped[i] ^ (1 << (i % 8)));
        TDriverCall call;
        TKVBitmap bitmap;
        Read(flipped, call, bitmap);
    }
}

TEST_F(JpegFilterTest, StreamLengthEndsAtTheEndOfImageMarker) {
    const std::string jpeg = ReadFile(MakeJpeg("l", "-progressive"));
    TMemoryStream stream;
    LoadBytes(stream, "xyz" + jpeg + "trailing data");
    stream.SetPosition(3);
    EXPECT_EQ(GetJPEGStreamLength(stream), int64_t(jpeg.size()));
    EXPECT_EQ(stream.Position(), 3);
    LoadBytes(stream, jpeg.substr(0, 100));
    EXPECT_EQ(GetJPEGStreamLength(stream), 100);
    // A segment length below 2 cannot be skipped: the walk ends right after it.
    LoadBytes(stream, WithSegments(jpeg, {std::string("\xFF\xE1\x00\x01", 4)}));
    EXPECT_EQ(GetJPEGStreamLength(stream), 24);
}

TEST_F(JpegFilterTest, MissingThumbnailLoadsTheFullImage) {
    TDriverCall call;
    call.params.JpegLoadThumbnail = true;
    TKVBitmap bitmap;
    Read(ReadFile(MakeJpeg("n", "")), call, bitmap);
    EXPECT_FALSE(call.Aborted());
    EXPECT_EQ(bitmap.GetWidth(), 61);
    EXPECT_TRUE(call.params.JpegLoadThumbnail);
}

// The raw decoder's refill: 4,096 bytes with the bytes of each pair exchanged.
void SwappedFill(TKVJpegSource& source, TStream& stream) {
    static uint8_t buffer[4096];
    int64_t got = stream.Read(buffer, sizeof buffer);
    if (got <= 0) {
        buffer[0] = 0xFF, buffer[1] = 0xD9, got = 2;
    }
    for (int64_t i = 0; i + 1 < got; i += 2) std::swap(buffer[i], buffer[i + 1]);
    RawJpegSetSource(source, buffer, size_t(got));
}

// The raw decoder's sequence of calls; returns the picture as gray rows, or raises.
std::string RawDecode(const std::string& fileBytes) {
    TMemoryStream stream;
    LoadBytes(stream, fileBytes);
    jpeg_decompress_struct* decompressor = RawJpegAllocDecompress();
    TKVRawJpegErrorMgr* error = RawJpegCreateErrorMgr(decompressor);
    std::string pixels;
    try {
        RawJpegCreateDecompress(decompressor);
        RawJpegStreamSource(decompressor, stream);
        RawJpegSetFillInputBuffer(decompressor, SwappedFill);
        RawJpegReadHeader(decompressor, true);
        RawJpegStartDecompress(decompressor);
        const int width = RawJpegOutputWidth(decompressor), height = RawJpegOutputHeight(decompressor);
        EXPECT_EQ(RawJpegOutputComponents(decompressor), 1);
        uint8_t** row = RawJpegAllocSArray(decompressor, 1, width, 1);
        while (RawJpegOutputScanline(decompressor) < height) {
            RawJpegReadScanlines(decompressor, row, 1);
            pixels.append(reinterpret_cast<const char*>(row[0]), size_t(width));
        }
        RawJpegFinishDecompress(decompressor);
    } catch (...) {
        RawJpegDestroyDecompress(decompressor);
        RawJpegFreeDecompress(decompressor);
        RawJpegFreeErrorMgr(error);
        throw;
    }
    RawJpegDestroyDecompress(decompressor);
    RawJpegFreeDecompress(decompressor);
    RawJpegFreeErrorMgr(error);
    return pixels;
}

std::string PairsSwapped(std::string bytes) {
    if (bytes.size() % 2) bytes += '\0';
    for (size_t i = 0; i < bytes.size(); i += 2) std::swap(bytes[i], bytes[i + 1]);
    return bytes;
}

TEST_F(JpegFilterTest, RawLayerDecodesThroughItsOwnRefill) {
    const std::string jpeg = MakeJpeg("raw", "-grayscale", 50, 20);
    const TRgbImage reference = Reference(jpeg);
    std::string gray;
    for (size_t i = 0; i < reference.pixels.size(); i += 3) gray += char(reference.pixels[i]);
    EXPECT_EQ(RawDecode(PairsSwapped(ReadFile(jpeg))), gray);
    EXPECT_EQ(MessageOf([] { RawDecode(PairsSwapped("not a picture at all")); }),
              "Not a JPEG file: starts with 0x? 0x?");
}

TEST_F(JpegFilterTest, ShortWritesSetTheAbortFlag) {
    TKVBitmap bitmap;
    ImageToBitmap(PatternImage(400, 300), bitmap);
    for (int64_t capacity : {0, 100, 5000}) {
        TDriverCall call;
        TFullStream full(capacity);
        WriteJPEGStream(full, bitmap, call.params, call.progress);
        EXPECT_TRUE(call.Aborted()) << capacity;
    }
}

}  // namespace

TEST_F(JpegFilterTest, ExifGivesTheResolutionAndTurnsThePictureUpright) {
    const std::string jpeg = MakeJpeg("exif", "", 40, 20);  // JFIF density 1 by 1, no unit
    const TCommandResult tagged = RunTool("exiftool -q -overwrite_original -XResolution=150 -YResolution=120 "
                                          "-ResolutionUnit=cm -Orientation#=6 " + Quoted(jpeg));
    ASSERT_EQ(tagged.status, 0) << tagged.output;
    for (const bool adjust : {false, true}) {
        TDriverCall call;
        call.params.JpegEnableAdjustOrientation = adjust;
        TKVBitmap bitmap;
        Read(ReadFile(jpeg), call, bitmap);
        ASSERT_FALSE(call.progress.Aborted());
        EXPECT_EQ(call.params.ExifOrientation, 6);
        EXPECT_EQ(call.params.DpiX(), 381);  // 150 per centimetre
        EXPECT_EQ(call.params.DpiY(), 304);
        EXPECT_EQ(bitmap.GetWidth(), adjust ? 20 : 40);
    }

    // A JFIF density wins over the EXIF block's.
    std::string dense = ReadFile(jpeg);
    dense[13] = 1, dense[14] = 0, dense[15] = 72, dense[16] = 0, dense[17] = 72;
    TDriverCall call;
    TKVBitmap bitmap;
    Read(dense, call, bitmap, true);
    EXPECT_EQ(call.params.DpiX(), 72);

    // The EXIF data go back out as APP1 when the picture is saved.
    TKestovaIO io;
    io.LoadFromFile(jpeg);
    ASSERT_FALSE(io.AbortFlag);
    ASSERT_TRUE(io.Params().ExifHasData);
    const std::string saved = folder.Path("saved.jpg");
    io.SaveToFile(saved);
    ASSERT_FALSE(io.AbortFlag);
    EXPECT_EQ(RunTool("exiftool -s3 -n -Orientation " + Quoted(saved)).output, "6\n");
}
