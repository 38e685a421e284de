#include <gtest/gtest.h>

#include <vector>

#include "TestSupport.h"
#include "platform/Classes.h"
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

}  // namespace
