// Whole decodes: white balance and interpolation against the known picture, the entry's output
// in 24 and 48 bits, parameters only, half size, doubled rows and hostile files.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <set>

#include "../DriverTestSupport.h"
#include "RawTestSupport.h"
#include "imaging/core/KVStreams.h"
#include "imaging/io/KVJpegFilter.h"
#include "imaging/raw/KVRaw.h"
#include "platform/PictureLimits.h"

namespace {

// PSNR of the interpolated linear picture against the known colours scaled the way white
// balance scales them, over the pixels inside the one-pixel border.
double InterpolatedPsnr(const TBytes& file, int scale, int stored) {
    TRawRun run(file);
    EXPECT_EQ(run.identified, 0);
    run.Load();
    TKVRawContext& raw = *run.raw;
    RawBalanceWhites(raw);
    RawInterpolate(raw);
    double error = 0;
    int64_t count = 0;
    for (int row = 1; row < raw.height - 1; ++row)
        for (int col = 1; col < raw.width - 1; ++col) {
            const auto known = KnownColour(row + raw.topMargin, col + raw.leftMargin, raw.rawHeight, raw.rawWidth);
            for (size_t c = 0; c < 3; ++c) {
                const double expected =
                    std::min(std::round(known[c] * scale) * stored * double(raw.multipliers[c]), double(raw.whiteLevel));
                const double got = raw.image[size_t(row) * size_t(raw.width) + size_t(col)][c];
                error += (got - expected) * (got - expected);
                ++count;
            }
        }
    const double mse = error / double(count);
    return 10 * std::log10(double(raw.whiteLevel) * raw.whiteLevel / std::max(mse, 1e-9));
}

TEST(RawDecode, InterpolatedPictureIsCloseToTheKnownPicture) {
    // Bilinear interpolation of smooth ramps: 16-bit and 12-bit codings reach 40 dB.
    EXPECT_GT(InterpolatedPsnr(WriteLeafTiff(MosaicRaster(0x94949494, 40, 64, 50000)), 50000, 1), 40);
    EXPECT_GT(InterpolatedPsnr(WriteCanonLosslessJpeg(MosaicRaster(0x61616161, 40, 64, 3000)), 3000, 4), 40);
    EXPECT_GT(InterpolatedPsnr(WriteCanonCiffCompressed("Canon EOS Test", MosaicRaster(0x94949494, 40, 64, 900)), 900, 16),
              40);
}

struct TDecoded {
    TKVBitmap bitmap;
    TDriverCall call;
};

void Decode(const TBytes& file, TDecoded& out, bool paramsOnly = false) {
    TKVMemStream stream(file.data(), int64_t(file.size()));
    KVReadRawStream(stream, out.bitmap, out.call.params, paramsOnly, out.call.progress);
}

TEST(RawDecode, EntryWritesRgbWithoutTheBorderIn24And48Bits) {
    const TBytes file = WriteLeafTiff(MosaicRaster(0x94949494, 20, 32, 50000));
    TDecoded shallow, deep;
    deep.call.params.IsNativePixelFormat = true;
    Decode(file, shallow);
    Decode(file, deep);
    ASSERT_FALSE(shallow.call.Aborted());
    ASSERT_FALSE(deep.call.Aborted());
    ASSERT_EQ(shallow.bitmap.GetPixelFormat(), kv24RGB);
    ASSERT_EQ(deep.bitmap.GetPixelFormat(), kvRGB48);
    EXPECT_EQ(shallow.bitmap.GetWidth(), 30);
    EXPECT_EQ(shallow.bitmap.GetHeight(), 18);
    EXPECT_EQ(shallow.call.params.Width, 30);
    // The 16-bit samples agree with the 8-bit ones and carry more distinct values.
    std::set<int> deepValues, shallowValues;
    for (int row = 0; row < 18; ++row) {
        const uint8_t* s = shallow.bitmap.GetScanline(row);
        const auto* d = reinterpret_cast<const uint16_t*>(deep.bitmap.GetScanline(row));
        for (int col = 0; col < 30; ++col)
            for (int c = 0; c < 3; ++c) {
                const int narrow = s[3 * col + 2 - c], wide = d[3 * col + c];
                EXPECT_NEAR(wide / 257.0, narrow, 1.01);
                deepValues.insert(wide);
                shallowValues.insert(narrow);
            }
    }
    EXPECT_GT(deepValues.size(), shallowValues.size() * 4);
    // Red grows to the right, blue falls: the picture's colours come through the tone curve.
    const uint8_t* mid = shallow.bitmap.GetScanline(9);
    EXPECT_LT(mid[2], mid[3 * 29 + 2]);
    EXPECT_GT(mid[0], mid[3 * 29]);
}

TEST(RawDecode, ParamsOnlyFillsTheRecordAndLeavesTheBitmap) {
    TDecoded out;
    Decode(WriteLeafTiff(MosaicRaster(0x94949494, 20, 32, 50000)), out, true);
    ASSERT_FALSE(out.call.Aborted());
    EXPECT_EQ(out.call.params.RawCameraName, "Leaf  ");
    EXPECT_EQ(out.call.params.Width, 30);
    EXPECT_EQ(out.call.params.Height, 18);
    EXPECT_TRUE(out.bitmap.IsEmpty());
}

TEST(RawDecode, FileWithoutPreviewIsDecodedWhenThePreviewIsAskedFor) {
    TDecoded out;
    out.call.params.SetLoadThumbnail(true);
    Decode(WriteLeafTiff(MosaicRaster(0x94949494, 20, 32, 50000)), out);
    ASSERT_FALSE(out.call.Aborted());
    EXPECT_EQ(out.bitmap.GetWidth(), 30);
    EXPECT_TRUE(out.call.params.LoadThumbnail());
}

TEST(RawDecode, HalfSizeAndDoubledRows) {
    TDecoded half;
    half.call.params.RawHalfSize = true;
    Decode(WriteLeafTiff(MosaicRaster(0x94949494, 20, 32, 50000)), half);
    ASSERT_FALSE(half.call.Aborted());
    EXPECT_EQ(half.bitmap.GetWidth(), 16);
    EXPECT_EQ(half.bitmap.GetHeight(), 10);

    // A three-layer picture less than half as high as wide has each row written twice.
    const int height = 6, width = 16;
    std::vector<std::array<int, 3>> pixels;
    for (int r = 0; r < height; ++r)
        for (int c = 0; c < width; ++c) pixels.push_back({100 + 20 * c, 200 + 10 * r, 150});
    TDecoded doubled;
    Decode(WriteFoveon("SD9", height, width, pixels), doubled);
    ASSERT_FALSE(doubled.call.Aborted());
    ASSERT_EQ(doubled.bitmap.GetHeight(), 2 * height);
    ASSERT_EQ(doubled.bitmap.GetWidth(), width);
    for (int r = 0; r < height; ++r)
        EXPECT_EQ(0, std::memcmp(doubled.bitmap.GetScanline(2 * r), doubled.bitmap.GetScanline(2 * r + 1), size_t(3 * width)));
}

TEST(RawDecode, HostileFilesFailClearlyAndDetectionKeepsThePosition) {
    const TBytes good = WriteCanonLosslessJpeg(MosaicRaster(0x61616161, 18, 34, 4000));
    TBytes truncated(good.begin(), good.begin() + long(good.size()) - 200);
    TBytes oversized = WriteLeafTiff(MosaicRaster(0x94949494, 4, 4, 100));
    oversized[8 + 2 + 8 + 1] = 0x7F;  // width 0x7F000004 in a file of a few bytes
    TBytes tiny = WriteLeafTiff(MosaicRaster(0x94949494, 1, 4, 100));
    // The cameras with codings of their own, cut short or without data.
    const TBytes dc40 = WriteKodakTiff({"DC50", 512, 768, 0, 0, 0x4d00, TBytes(3000, 0x5A)});
    const TRaster kodakRaster = MosaicRaster(0x61616161, 8, 300, 4000);
    TBytes kodak65000 = WriteKodakTiff({"DCS760C", 8, 300, 65000, 32803, 0, EncodeKodak65000Cfa(kodakRaster, false)});
    kodak65000.resize(kodak65000.size() - 100);
    const TBytes dc120 = WriteKodakTiff({"DC120", 976, 848, 7, 2, 0, TBytes(5000, 0x33)});
    const TBytes fuji = WriteFujiFile("FinePix S5000", 1024, TBytes(20000, 1));
    const TBytes sony = WriteSonyF828(MosaicRaster(0xb4b4b4b4, 3, 3360, 100), 5, 6);
    const TBytes cases[] = {truncated, oversized, tiny, TBytes(100, 0x42), dc40, kodak65000, dc120, fuji, sony};
    for (const TBytes& file : cases) {
        TDecoded out;
        Decode(file, out);
        EXPECT_TRUE(out.call.Aborted()) << file.size();
        EXPECT_TRUE(out.bitmap.IsEmpty());
        TKVMemStream stream(file.data(), int64_t(file.size()));
        stream.SetPosition(3);
        KVIsRawStream(stream);
        EXPECT_EQ(stream.Position(), 3);
    }
    TKVMemStream stream(good.data(), int64_t(good.size()));
    EXPECT_TRUE(KVIsRawStream(stream));
    const TBytes text(100, 0x42);
    TKVMemStream other(text.data(), int64_t(text.size()));
    EXPECT_FALSE(KVIsRawStream(other));
}

TEST(RawDecode, ColourWithoutSamplesKeepsAMultiplierOfOne) {
    TRawRun run(WriteLeafTiff(MosaicRaster(0x94949494, 4, 4, 100)));
    TKVRawContext& raw = *run.raw;
    raw.autoWhiteBalance = true;
    raw.image.assign(4, TRawPixel{});
    raw.image[0] = {1000, 0, 0, 0};
    raw.image[1] = {0, 2000, 0, 0};
    RawBalanceWhites(raw);
    EXPECT_FLOAT_EQ(raw.multipliers[0], 2.0f);
    EXPECT_FLOAT_EQ(raw.multipliers[1], 1.0f);
    EXPECT_FLOAT_EQ(raw.multipliers[2], 1.0f);
}

}  // namespace

namespace {

TBytes JpegOf(int width, int height) {
    TKVBitmap picture;
    ImageToBitmap(PatternImage(width, height), picture);
    TMemoryStream stream;
    TDriverCall call;
    WriteJPEGStream(stream, picture, call.params, call.progress);
    return stream.Bytes();
}

TBytes TextRecord(const std::string& text) { return TBytes(text.c_str(), text.c_str() + text.size() + 1); }

TBytes Values(std::initializer_list<uint32_t> values, int bytes, bool little) {
    TBytes out;
    for (const uint32_t v : values)
        for (int i = 0; i < bytes; ++i) out.push_back(uint8_t(v >> (little ? 8 * i : 8 * (bytes - 1 - i))));
    return out;
}

}  // namespace

TEST(RawDecode, CiffMetadataFillsTheRecordWithTheSmallerPreview) {
    for (const bool little : {true, false}) {
        SCOPED_TRACE(little ? "II" : "MM");
        // Two previews in a sub-heap, the larger first.
        const TBytes previews = CiffHeap({}, {{0x2007, JpegOf(64, 48)}, {0x2008, JpegOf(32, 24)}}, little);
        const TBytes file = WriteCanonCiffCompressed(
            "Canon EOS Test", MosaicRaster(0x94949494, 16, 32, 900), !little, 0,
            {{0x0805, TextRecord("a description")},
             {0x080b, TextRecord("Firmware 1.0")},
             {0x102a, Values({1, 2, 3, 0x1234}, 2, little)},
             {0x102d, Values({9, 8}, 2, little)},
             {0x1810, Values({3000, 2000}, 4, little)},
             {0x300a, previews}});
        TDriverCall call;
        TKVMemStream stream(file.data(), int64_t(file.size()));
        stream.SetPosition(7);
        KVReadRawMetadata(stream, call.params);
        EXPECT_EQ(stream.Position(), 7);
        const TIOParamsVals& p = call.params;
        EXPECT_EQ(p.ExifImageDescription, "a description");
        EXPECT_EQ(p.ExifMake, "Canon");
        EXPECT_EQ(p.ExifModel, "Canon EOS Test");
        EXPECT_EQ(p.ExifSoftware, "Firmware 1.0");
        EXPECT_EQ(p.ExifPixelXDimension, 3000);
        EXPECT_EQ(p.ExifPixelYDimension, 2000);
        ASSERT_TRUE(p.ExifThumbnail);
        EXPECT_EQ(p.ExifThumbnail->GetWidth(), 32);
        EXPECT_EQ(p.ExifThumbnail->GetHeight(), 24);
        // The shot records as a little-endian directory of 16-bit values, data after the entries.
        const std::vector<TKVTIFFTag> expected = {{4, 3, 4, 2 + 2 * 12}, {1, 3, 2, 2 + 2 * 12 + 8}};
        EXPECT_EQ(p.ExifMakerNote.Entries(), expected);
        const TBytes note(p.ExifMakerNote.Stream().Bytes());
        const TBytes values = {1, 0, 2, 0, 3, 0, 0x34, 0x12, 9, 0, 8, 0};
        EXPECT_EQ(TBytes(note.begin() + 26, note.end()), values);

        // Asked for the preview, the decoder gives it instead of the picture.
        TDecoded out;
        out.call.params.SetLoadThumbnail(true);
        Decode(file, out);
        ASSERT_FALSE(out.call.Aborted());
        EXPECT_EQ(out.bitmap.GetWidth(), 32);
        EXPECT_EQ(out.bitmap.GetHeight(), 24);
    }
    // Neither byte order nor heap: the record stays as it was.
    const TBytes other(100, 0x42);
    TDriverCall call;
    TKVMemStream stream(other.data(), int64_t(other.size()));
    KVReadRawMetadata(stream, call.params);
    EXPECT_FALSE(call.params.ExifThumbnail);
    EXPECT_TRUE(call.params.ExifMake.empty());
}
