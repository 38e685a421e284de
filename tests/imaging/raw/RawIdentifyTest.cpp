// Identification as a table: signatures, container headers, file-size rows and camera rows.
#include <gtest/gtest.h>

#include <cstring>

#include "RawTestSupport.h"

namespace {

struct TIdentity {
    const char* name;
    TBytes file;
    std::string make, model;
    int height, width;
    uint32_t pattern;
    int colors;
    TRawLoader loader;
};

TBytes Zeros(size_t size) { return TBytes(size, 0); }

TEST(RawIdentify, SignaturesHeadersSizesAndCameraRows) {
    TBytes z2 = Zeros(5869568);
    z2.back() = 1;
    const TRaster small = MosaicRaster(0x94949494, 20, 32, 1000);
    const TIdentity cases[] = {
        {"TIFF Leaf", WriteLeafTiff(small), "Leaf", "", 20, 32, 0x94949494, 3, RawLoadUnpackedBe},
        {"TIFF Olympus", WriteOlympusTiff(MosaicRaster(0x61616161, 19, 32, 100)), "OLYMPUS", "E-1", 20, 32, 0x61616161, 3,
         RawLoadUnpackedLeShr2},
        {"TIFF Canon", WriteCanonLosslessJpeg(MosaicRaster(0x61616161, 8, 16, 100)), "Canon", "EOS Test", 8, 16,
         0x61616161, 3, RawLoadJpegLossless},
        {"CIFF", WriteCanonCiffCompressed("Canon EOS Test", MosaicRaster(0x94949494, 8, 64, 100)), "Canon", "EOS Test",
         8, 64, 0x94949494, 3, RawLoadCanonCompressed},
        {"CIFF PowerShot A5", WriteCanonA5(MosaicRaster(0, 776, 992, 100)), "Canon", "PowerShot A5", 776, 960,
         0x1e4e1e4e, 4, RawLoadCanonPsA5},
        {"CIFF PowerShot G1, four colours", WriteCanonCiffCompressed("Canon PowerShot G1", MosaicRaster(0, 8, 2144, 9)),
         "Canon", "PowerShot G1", 1550, 2088, 0xb4b4b4b4, 4, RawLoadCanonCompressed},
        {"CIFF other model of the same raw width", WriteCanonCiffCompressed("Canon PowerShot S9", MosaicRaster(0, 8, 2144, 9)),
         "Canon", "PowerShot S9", 1550, 2088, 0x94949494, 3, RawLoadCanonCompressed},
        {"Foveon 1531 x 2304", WriteFoveonHeader("SD10", 1531, 2304), "SIGMA", "SD10", 1514, 2271, 0, 3, RawLoadFoveon},
        {"Foveon 763 x 1152", WriteFoveonHeader("SD10", 763, 1152), "SIGMA", "SD10", 756, 1136, 0, 3, RawLoadFoveon},
        {"Rollei", WriteRolleiHeader(1316, 1032), "Rollei", "d530flex", 1030, 1300, 0x16161616, 3, RawLoadRolleiD530flex},
        {"size PC-CAM 600", Zeros(787456), "Creative", "PC-CAM 600", 768, 1024, 0x49494949, 3, RawLoadEightBit},
        {"size QV-2000UX", Zeros(1976352), "Casio", "QV-2000UX", 1208, 1632, 0x94949494, 3, RawLoadEightBit},
        {"size QV-4000", Zeros(7684000), "Casio", "QV-4000", 1700, 2260, 0x94949494, 3, RawLoadUnpackedBeShr2},
        {"size Optio S", Zeros(4841984), "Pentax", "Optio S", 1544, 2068, 0x94949494, 3, RawLoadBitstream12},
        {"size E950", Zeros(2465792), "NIKON", "E950", 1203, 1616, 0x4b4b4b4b, 4, RawLoadNikonE950},
        {"size E4300, zero tail", Zeros(5869568), "NIKON", "E4300", 1710, 2288, 0x16161616, 3, RawLoadNikonPlain},
        {"size E4300, other tail", z2, "Minolta", "DiMAGE Z2", 1710, 2288, 0x16161616, 3, RawLoadNikonE2100},
        {"size DC20 small", Zeros(62464), "Kodak", "DC20", 242, 249, 0x8d8d8d8d, 4, RawLoadKodakEasy},
        {"FinePixS2Pro", WriteFujiFile("FinePixS2Pro", 1024, {}), "FUJIFILM", "FinePixS2Pro", 3584, 3583, 0x61616161, 3,
         RawLoadFujiS2pro},
        {"FinePix S5000", WriteFujiFile("FinePix S5000", 1024, {}), "FUJIFILM", "FinePix S5000", 2499, 2500, 0x49494949, 3,
         RawLoadFujiS5000},
        {"FinePix E550", WriteFujiFile("FinePix E550", 1024, {}), "FUJIFILM", "FinePix E550", 3587, 3588, 0x49494949, 3,
         RawLoadFujiS7000},
        {"FinePix S20Pro", WriteFujiFile("FinePix S20Pro", 1024, {}), "FUJIFILM", "FinePix S20Pro", 2523, 2524, 0x49494949,
         3, RawLoadFujiF700},
        {"DSC-F828", WriteSonyF828({}, 1, 2), "SONY", "DSC-F828", 2460, 3288, 0xb4b4b4b4, 4, RawLoadSonyF828},
        {"Kodak 65000 filter array", WriteKodakTiff({"DCS760C", 20, 30, 65000, 32803, 0, {}}), "Kodak", "DCS760C", 20, 30,
         0x61616161, 3, RawLoadKodakCompressedCfa},
        {"Kodak 65000 colour, odd size", WriteKodakTiff({"DCS760C", 7, 9, 65000, 2, 0, {}}), "Kodak", "DCS760C", 8, 10, 0,
         3, RawLoadKodakCompressedColor},
        {"Kodak DC40", WriteKodakTiff({"Digital Camera 40", 1, 1, 0, 0, 0, TBytes(20000)}), "Kodak", "DC40", 512, 768, 0x61616161, 3,
         RawLoadKodakDc40},
        {"Kodak DC50", WriteKodakTiff({"DC50 Zoom", 1, 1, 0, 0, 0, TBytes(20000)}), "Kodak", "DC50", 512, 768, 0x61616161, 3,
         RawLoadKodakDc40},
        {"Kodak DC120 JPEG", WriteKodakTiff({"DC120", 1, 1, 7, 0, 0, {}}), "Kodak", "DC120", 976, 848, 0x61616161, 3,
         RawLoadKodakDc120Jpeg},
        {"Kodak DC120 plain", WriteKodakTiff({"DC120", 1, 1, 1, 0, 0, {}}), "Kodak", "DC120", 976, 848, 0x61616161, 3,
         RawLoadKodakDc120},
    };
    for (const TIdentity& c : cases) {
        SCOPED_TRACE(c.name);
        TRawRun run(c.file);
        ASSERT_EQ(run.identified, 0);
        const TKVRawContext& raw = *run.raw;
        EXPECT_EQ(raw.make, c.make);
        EXPECT_EQ(raw.model, c.model);
        EXPECT_EQ(raw.height, c.height);
        EXPECT_EQ(raw.width, c.width);
        EXPECT_EQ(raw.filterPattern, c.pattern);
        EXPECT_EQ(raw.colors, c.colors);
        EXPECT_EQ(raw.loader, c.loader);
    }
}

TEST(RawIdentify, EveryCameraFileOfTheSeedsNamesItsLoader) {
    for (const TCameraFile& file : CameraFiles()) {
        SCOPED_TRACE(file.name);
        TRawRun run(file.bytes);
        ASSERT_EQ(run.identified, 0);
        EXPECT_EQ(run.raw->loader, file.loader);
    }
}

TEST(RawIdentify, UnknownAndRejectedFilesAreNotIdentified) {
    TBytes adobe = WriteOlympusTiff(MosaicRaster(0x61616161, 4, 8, 100));
    // Point the model tag at a Software tag starting with "Adobe".
    adobe[8 + 2 + 3 * 12] = 305 & 0xFF, adobe[8 + 2 + 3 * 12 + 1] = 305 >> 8;
    const char* adobeText = "Adobe Converter";
    std::memcpy(adobe.data() + 140, adobeText, std::strlen(adobeText) + 1);
    // A Kodak coding the decoder does not know.
    const TBytes kodak = WriteKodakTiff({"DCS760C", 20, 30, 99, 32803, 0, {}});
    const TBytes cases[] = {Zeros(787455), TBytes{'I', 'I'}, TBytes{}, TBytes(5000, 0x55), adobe, kodak};
    for (const TBytes& file : cases) EXPECT_EQ(TRawRun(file).identified, 1) << file.size();
}

TEST(RawIdentify, FourColourRgbMakesTheSecondGreenAColourOfItsOwn) {
    TRawRun run(WriteLeafTiff(MosaicRaster(0x94949494, 20, 32, 1000)), true);
    ASSERT_EQ(run.identified, 0);
    EXPECT_EQ(run.raw->filterPattern, 0xb4b4b4b4u);
    EXPECT_EQ(run.raw->colors, 4);
    EXPECT_EQ(run.raw->multipliers[3], run.raw->multipliers[1]);
}

TEST(RawIdentify, CmygMatrixRowsSumToOne) {
    TRawRun run(WriteCanonA5(MosaicRaster(0, 776, 992, 100)));
    ASSERT_EQ(run.identified, 0);
    ASSERT_TRUE(run.raw->useMatrix);
    for (const auto& row : run.raw->colorMatrix) EXPECT_NEAR(row[0] + row[1] + row[2] + row[3], 1.0, 1e-5);
}

TEST(RawIdentify, LoopingDirectoriesAndHeapsEnd) {
    // An IFD whose next pointer is itself, and a CIFF heap whose only record is the heap itself.
    TBytes tiff = WriteLeafTiff(MosaicRaster(0x94949494, 4, 4, 100));
    const size_t nextAt = 8 + 2 + 3 * 12;
    tiff[nextAt + 3] = 8;  // big-endian offset 8
    EXPECT_EQ(TRawRun(tiff).identified, 0);

    TBytes ciff(26 + 64, 0);
    ciff[0] = ciff[1] = 'I';
    ciff[2] = 26;
    std::memcpy(ciff.data() + 6, "HEAPCCDR", 8);
    // Heap of 64 bytes: table at heap offset 0 with one record of type 0x300a covering the heap.
    const uint8_t table[] = {1, 0, 0x0a, 0x30, 64, 0, 0, 0, 0, 0, 0, 0};
    std::memcpy(ciff.data() + 26, table, sizeof table);
    EXPECT_EQ(TRawRun(ciff).identified, 1);  // ends, and names no maker
}

}  // namespace
