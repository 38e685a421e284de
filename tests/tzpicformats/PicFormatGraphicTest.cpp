#include <gtest/gtest.h>

#include <vector>

#include "TestSupport.h"
#include "platform/Classes.h"
#include "platform/PictureLimits.h"
#include "tzpicformats/PicFormatGraphic.h"

namespace {

// Fills its record like a reader would.
class TFilledGraphic : public TPicFormatGraphic {
public:
    void Fill() {
        properties_.Width = 7;
        properties_.Compression = ctLZW;
        properties_.RowsPerStrip = {1, 2};
        properties_.JPEGTables = {0xFF, 0xD8};
        properties_.FileGamma = 2.5f;
    }
};

TEST(PicFormatGraphic, BaseClaimsNothingAndClearsItsRecord) {
    TMemoryStream stream;
    stream.WriteBuffer("\x89PNG\r\n\x1a\n and more bytes", 24);
    stream.SetPosition(0);
    EXPECT_FALSE(TPicFormatGraphic::IsFormatStream(stream));

    TFilledGraphic graphic;
    graphic.Fill();
    EXPECT_FALSE(graphic.ReadHeaderProperties(stream, 0));
    TImageProperties cleared;
    cleared.FileGamma = 1.0f;
    EXPECT_EQ(graphic.ImageProperties(), cleared);
    EXPECT_EQ(MessageOf([&] { graphic.LoadFromStream(stream); }),
              "Cannot load image. Invalid or unexpected extended image format.");
}

TEST(PicFormatGraphic, AssignCopiesThePropertiesOfExtendedGraphicsOnly) {
    TFilledGraphic source;
    source.Fill();
    source.SetSize(3, 2);
    TPicFormatGraphic target;
    target.Assign(source);
    EXPECT_EQ(target.ImageProperties(), source.ImageProperties());
    EXPECT_EQ(target.Width(), 3);

    TBitmap plain;
    plain.SetSize(4, 4);
    target.Assign(plain);
    EXPECT_EQ(target.ImageProperties(), source.ImageProperties());
    EXPECT_EQ(target.Width(), 4);
}

TEST(PicFormatGraphic, UndoesPredictorsAndSwapsBytes) {
    std::vector<uint8_t> rgb{10, 20, 30, 1, 1, 1};
    ApplyPredictor24(rgb.data(), 1);
    EXPECT_EQ(rgb, (std::vector<uint8_t>{10, 20, 30, 11, 21, 31}));
    std::vector<uint8_t> gray{250, 10, 1};
    ApplyPredictor8(gray.data(), 2);
    EXPECT_EQ(gray, (std::vector<uint8_t>{250, 4, 5}));
    std::vector<uint8_t> rgba{1, 2, 3, 4, 1, 1, 1, 1, 1, 1, 1, 1};
    ApplyPredictor32(rgba.data(), 2);
    EXPECT_EQ(rgba, (std::vector<uint8_t>{1, 2, 3, 4, 2, 3, 4, 5, 3, 4, 5, 6}));

    EXPECT_EQ(SwapLong(0x11223344u), 0x44332211u);
    uint16_t words[] = {0x1234, 0xABCD};
    SwapWordArray(words, 2);
    EXPECT_EQ(words[0], 0x3412);
    EXPECT_EQ(words[1], 0xCDAB);
    uint32_t longs[] = {0x01020304u};
    SwapLongArray(longs, 1);
    EXPECT_EQ(longs[0], 0x04030201u);
}

TEST(PicFormatGraphic, UpsamplesPhotoCdPlanesInPlace) {
    const int pitch = 4;
    std::vector<uint8_t> plane(pitch * 4, 0xEE);
    plane[0] = 0, plane[1] = 100, plane[pitch] = 100, plane[pitch + 1] = 200;
    UpsamplePCDPlane(2, 2, pitch, plane);
    const std::vector<uint8_t> expected{
        0, 50, 100, 100,     // row 0: samples and their means, the last repeated
        50, 100, 150, 150,   // row 1: means of rows 0 and 2 (the odd column from four diagonals)
        100, 150, 200, 200,  // row 2: the second source row
        100, 150, 200, 200,  // row 3: a copy of row 2
    };
    EXPECT_EQ(plane, expected);

    std::vector<uint8_t> small(7);
    EXPECT_EQ(MessageOf([&] { UpsamplePCDPlane(2, 2, 4, small); }), "Photo-CD plane buffer too small.");
}

// A reader's header, then the bitmap made ready for its rows.
class TPreparedGraphic : public TPicFormatGraphic {
public:
    void Prepare(const TImageProperties& properties, int64_t inputBytes = -1) {
        properties_ = properties;
        PrepareBitmap(*this, inputBytes);
    }
};

TImageProperties Header(TColorManagerScheme scheme, uint8_t bits, uint8_t samples, uint8_t options = 0) {
    TImageProperties p;
    p.Width = 5;
    p.Height = 2;
    p.ColorScheme = scheme;
    p.BitsPerSample = bits;
    p.SamplesPerPixel = samples;
    p.Options = options;
    return p;
}

TEST(PicFormatGraphic, PreparesTheBitmapForTheColourManagersRows) {
    struct TCase {
        const char* name;
        TImageProperties header;
        TPixelFormat format;
        TColorManagerScheme target;
        uint8_t targetDepth;
        size_t paletteSize;
    };
    TImageProperties rgbWithAlpha = Header(smRGB, 8, 4);
    rgbWithAlpha.HasAlpha = true;
    const TCase cases[] = {
        {"rgb 8", Header(smRGB, 8, 3), TPixelFormat::pf24bit, smBGR, 8, 0},
        {"rgb 16 big-endian", Header(smRGB, 16, 3, ioBigEndian), TPixelFormat::pf24bit, smBGR, 8, 0},
        {"rgba", Header(smRGBA, 8, 4), TPixelFormat::pf32bit, smBGRA, 8, 0},
        {"rgb with extra alpha", rgbWithAlpha, TPixelFormat::pf32bit, smBGRA, 8, 0},
        {"cmyk", Header(smCMYK, 8, 4), TPixelFormat::pf24bit, smBGR, 8, 0},
        {"gray 1", Header(smGray, 1, 1), TPixelFormat::pf1bit, smGray, 1, 2},
        {"gray 2", Header(smGray, 2, 1), TPixelFormat::pf4bit, smGray, 4, 16},
        {"gray 16", Header(smGray, 16, 1), TPixelFormat::pf8bit, smGray, 8, 256},
        {"gray with alpha", Header(smGrayAlpha, 8, 2), TPixelFormat::pf8bit, smGray, 8, 256},
        {"indexed 4", Header(smIndexed, 4, 1), TPixelFormat::pf4bit, smIndexed, 4, 16},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        TPreparedGraphic graphic;
        graphic.Prepare(c.header);
        EXPECT_EQ(graphic.PixelFormat(), c.format);
        EXPECT_EQ(graphic.Width(), 5);
        EXPECT_EQ(graphic.Height(), 2);
        EXPECT_EQ(graphic.ColorManager().TargetScheme(), c.target);
        EXPECT_EQ(graphic.ColorManager().TargetDepth(), c.targetDepth);
        EXPECT_EQ(bool(graphic.ColorManager().SourceOptions & cvoSwapBytes), bool(c.header.Options & ioBigEndian));
        if (c.paletteSize) EXPECT_EQ(graphic.Palette().size(), c.paletteSize);
    }
}

TEST(PicFormatGraphic, PreparedRowsConvertIntoTheScanLines) {
    // 2-bit gray, minimum is white: samples 0 1 2 3 become 4-bit 0 5 10 15 on an inverted ramp.
    TPreparedGraphic graphic;
    graphic.Prepare(Header(smGray, 2, 1, ioMinIsWhite));
    EXPECT_EQ(graphic.Palette().front(), (TPaletteEntry{255, 255, 255, 0}));
    EXPECT_EQ(graphic.Palette().back(), (TPaletteEntry{0, 0, 0, 0}));
    const uint8_t row[] = {0b00011011, 0b11000000};
    const uint8_t* sources[] = {row};
    graphic.ColorManager().TransformRow(sources, graphic.ScanLine(0), 5);
    EXPECT_EQ(graphic.ScanLine(0)[0], 0x05);
    EXPECT_EQ(graphic.ScanLine(0)[1], 0xAF);
    EXPECT_EQ(graphic.ScanLine(0)[2] >> 4, 15);

    // An RGB file row lands in blue-green-red.
    TPreparedGraphic colour;
    colour.Prepare(Header(smRGB, 8, 3));
    const uint8_t rgb[15] = {1, 2, 3};
    const uint8_t* rgbSources[] = {rgb};
    colour.ColorManager().TransformRow(rgbSources, colour.ScanLine(1), 5);
    EXPECT_EQ(colour.Pixel(0, 1), RGB(1, 2, 3));
}

TEST(PicFormatGraphic, RefusesHeadersBeyondTheLimitsOrTheBitmapsFormats) {
    TPictureLimits small;
    small.maxSide = 4;
    const TPictureLimitsOverride limits(small);
    TPreparedGraphic graphic;
    EXPECT_THROW(graphic.Prepare(Header(smRGB, 8, 3)), EInvalidGraphic);
    EXPECT_TRUE(graphic.Empty());

    TImageProperties narrow = Header(smRGB, 8, 3);
    narrow.Width = 2;
    narrow.SamplesPerPixel = 5;  // extra samples the colour manager cannot take
    EXPECT_EQ(MessageOf([&] { graphic.Prepare(narrow); }),
              "Sample count per pixel does not correspond to the given color scheme.");
}

}  // namespace
