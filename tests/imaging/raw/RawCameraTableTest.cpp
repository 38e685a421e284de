// The camera table against the values the cameras' rows give: picture size and margins, filter
// pattern and colours, black and white levels, multipliers and data positions, each row reached
// through a file of the kind the camera writes.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>

#include "RawTestSupport.h"

namespace {

// A TIFF naming the camera, with a sub-directory of the raster's size, padded to `size` bytes.
TBytes Tiff(const std::string& make, const std::string& model, int height, int width, size_t size = 0, int compression = 1) {
    TBytes b = WriteSubIfdTiff(make, {model, height, width, compression, 32803, 0, TBytes(300, 0)});
    if (b.size() < size) b.resize(size);
    return b;
}

// A file known by its size alone; `head` overwrites its start.
TBytes Sized(size_t size, const TBytes& head = {}) {
    TBytes b(size, 0);
    std::copy(head.begin(), head.end(), b.begin());
    return b;
}

TBytes Kodak(const std::string& model, int height = 400, int width = 600, size_t size = 0) {
    TBytes b = WriteKodakTiff({model, height, width, 1, 32803, 0, {}});
    if (b.size() < size) b.resize(size);
    return b;
}

using TMultipliers = std::array<float, 4>;

struct TCameraRow {
    const char* name;
    TBytes file;
    int height, width, top, left;
    uint32_t pattern;
    int colors, black, white;
    TMultipliers m;
    std::optional<int64_t> dataOffset = {};
    std::optional<int> rawWidth = {};
};

constexpr uint32_t rggb = 0x94949494, gbrg = 0x61616161, grbg = 0x16161616, bggr = 0x49494949, cmyg = 0xb4b4b4b4;

void Check(const TCameraRow& row) {
    SCOPED_TRACE(row.name);
    TRawRun run(row.file);
    ASSERT_EQ(run.identified, 0);
    const TKVRawContext& raw = *run.raw;
    EXPECT_EQ(raw.height, row.height);
    EXPECT_EQ(raw.width, row.width);
    EXPECT_EQ(raw.topMargin, row.top);
    EXPECT_EQ(raw.leftMargin, row.left);
    EXPECT_EQ(raw.filterPattern, row.pattern);
    EXPECT_EQ(raw.colors, row.colors);
    EXPECT_EQ(raw.blackLevel, row.black);
    EXPECT_EQ(raw.whiteLevel, row.white);
    for (size_t c = 0; c < 4; ++c) EXPECT_FLOAT_EQ(raw.multipliers[c], row.m[c]) << "multiplier " << c;
    if (row.dataOffset) {
        EXPECT_EQ(raw.dataOffset, *row.dataOffset);
    }
    if (row.rawWidth) {
        EXPECT_EQ(raw.rawWidth, *row.rawWidth);
    }
}

TEST(RawCameraTable, CanonRows) {
    const TCameraRow rows[] = {
        {"PowerShot 600", Tiff("Canon", "Canon PowerShot 600", 10, 10), 613, 854, 0, 0, 0xe1e4e1e4, 4, 0, 16384, {1.137f, 1.257f, 1, 1}},
        {"PowerShot A5", Tiff("Canon", "Canon PowerShot A5", 10, 10), 776, 960, 0, 0, 0x1e4e1e4e, 4, 0, 16384, {1.5842f, 1.2966f, 1.0419f, 1}, {}, 992},
        {"PowerShot A50", Tiff("Canon", "Canon PowerShot A50", 10, 10), 968, 1290, 0, 0, 0x1b4e4b1e, 4, 0, 16384, {1.75f, 1.381f, 1, 1.182f}, {}, 1320},
        {"PowerShot Pro70", Tiff("Canon", "Canon PowerShot Pro70", 10, 10), 1024, 1552, 0, 0, 0x1e4b4e1b, 4, 0, 16384, {1.389f, 1.343f, 1, 1.034f}},
        {"PowerShot Pro90 IS", Tiff("Canon", "Canon PowerShot Pro90 IS", 1420, 1900), 1420, 1896, 0, 0, cmyg, 4, 0, 16384, {1.496f, 1.509f, 1, 1.009f}},
        {"raw width 2144, G1", Tiff("Canon", "Canon PowerShot G1", 1560, 2144), 1550, 2088, 8, 4, cmyg, 4, 0, 16384, {1.446f, 1.405f, 1.016f, 1}},
        {"raw width 2144", Tiff("Canon", "Canon PowerShot X", 1560, 2144), 1550, 2088, 8, 4, gbrg, 3, 0, 16384, {1.785f, 1, 1.266f, 1}},
        {"raw width 2224", Tiff("Canon", "Canon PowerShot X", 1460, 2224), 1448, 2176, 6, 48, gbrg, 3, 0, 16384, {1.592f, 1, 1.261f, 1}},
        {"raw width 2376, G2", Tiff("Canon", "Canon PowerShot G2", 1730, 2376), 1720, 2312, 6, 12, gbrg, 3, 0, 16384, {1.965f, 1, 1.208f, 1}},
        {"raw width 2376, S40", Tiff("Canon", "Canon PowerShot S40", 1730, 2376), 1720, 2312, 6, 12, gbrg, 3, 0, 16384, {1.965f, 1, 1.208f, 1}},
        {"raw width 2376", Tiff("Canon", "Canon PowerShot X", 1730, 2376), 1720, 2312, 6, 12, gbrg, 3, 0, 16384, {1.855f, 1, 1.339f, 1}},
        {"raw width 2672", Tiff("Canon", "Canon PowerShot X", 1970, 2672), 1960, 2616, 6, 12, gbrg, 3, 0, 16384, {1.895f, 1, 1.403f, 1}},
        {"raw width 3152", Tiff("Canon", "Canon EOS X", 2070, 3152), 2056, 3088, 12, 64, gbrg, 3, 0, 16000, {2.242f, 1, 1.245f, 1}},
        {"raw width 3152, Kiss", Tiff("Canon", "Canon EOS Kiss Digital", 2070, 3152), 2056, 3088, 12, 64, gbrg, 3, 0, 16000, {1.882f, 1, 1.094f, 1}},
        {"raw width 3160", Tiff("Canon", "Canon EOS X", 2340, 3160), 2328, 3112, 12, 44, gbrg, 3, 0, 16384, {1.85f, 1, 1.53f, 1}},
        {"raw width 3344", Tiff("Canon", "Canon EOS X", 2480, 3344), 2472, 3288, 6, 4, gbrg, 3, 0, 16384, {1.621f, 1, 1.528f, 1}},
        {"EOS-1D", Tiff("Canon", "Canon EOS-1D", 1700, 2500, 300000), 1662, 2496, 0, 0, gbrg, 3, 0, 16384, {1.976f, 1, 1.282f, 1}, 288912},
        {"EOS-1DS", Tiff("Canon", "Canon EOS-1DS", 2800, 4100, 300000), 2718, 4082, 0, 0, gbrg, 3, 0, 14464, {1.66f, 1, 1.13f, 1}, 289168},
        {"EOS-1D Mark II", Tiff("Canon", "Canon EOS-1D Mark II", 10, 10), 2348, 3522, 12, 74, rggb, 3, 0, 16384, {1.95f, 1, 1.36f, 1}, {}, 3596},
        {"EOS 20D", Tiff("Canon", "Canon EOS 20D", 10, 10), 2348, 3522, 12, 74, rggb, 3, 0, 16384, {1.95f, 1, 1.36f, 1}, {}, 3596},
        {"EOS-1Ds Mark II", Tiff("Canon", "Canon EOS-1Ds Mark II", 10, 10), 3336, 5010, 13, 98, rggb, 3, 0, 0x3a00, {1.609f, 1, 1.848f, 1}, {}, 5108},
        {"EOS D2000C", Tiff("Canon", "Canon EOS D2000C", 20, 30), 20, 30, 0, 0, gbrg, 3, 800, 16384, {1, 1, 1.25f, 1}},
    };
    for (const TCameraRow& row : rows) Check(row);
}

TEST(RawCameraTable, NikonRows) {
    TBytes e995 = Sized(4771840);
    for (size_t i = 0; i < 2000; ++i) e995[2383920 + i] = uint8_t(i);  // no value 400 times
    TBytes e2100 = Sized(2940928);
    std::fill(e2100.begin(), e2100.begin() + 1024 * 12, 0xFF);
    const std::string nikon = "NIKON CORPORATION";
    const TCameraRow rows[] = {
        {"D1", Tiff(nikon, "NIKON D1", 1312, 2000), 1312, 2000, 0, 0, grbg, 3, 0, 16384, {0.838f, 1, 1.095f, 1}},
        {"D1H", Tiff(nikon, "NIKON D1H", 1312, 2000), 1312, 2000, 0, 0, grbg, 3, 0, 16384, {2.301f, 1, 1.129f, 1}},
        {"D1X", Tiff(nikon, "NIKON D1X", 1312, 4028), 1312, 4024, 0, 0, grbg, 3, 0, 16384, {1.91f, 1, 1.22f, 1}},
        {"D100, plain data", Tiff(nikon, "NIKON D100 ", 2000, 3034, 0, 34713), 2000, 3037, 0, 0, gbrg, 3, 0, 15632, {2.374f, 1, 1.677f, 1}, {}, 3040},
        {"D2H", Tiff(nikon, "NIKON D2H", 1632, 2496, 0, 34713), 1632, 2482, 0, 6, bggr, 3, 0, 16384, {2.8f, 1, 1.2f, 1}},
        {"D70", Tiff(nikon, "NIKON D70", 2014, 3040, 0, 34713), 2014, 3040, 0, 0, grbg, 3, 0, 16384, {2.043f, 1, 1.625f, 1}},
        {"E950", Sized(2465792), 1203, 1616, 0, 0, 0x4b4b4b4b, 4, 0, 16384, {1.18193f, 1, 1.16452f, 1.1725f}},
        {"E990", Sized(4771840), 1540, 2064, 0, 0, cmyg, 4, 0, 16384, {1.196f, 1.246f, 1.018f, 1}},
        {"E995", e995, 1540, 2064, 0, 0, 0xe1e1e1e1, 4, 0, 16384, {1.253f, 1.178f, 1, 1.035f}},
        {"E2100", e2100, 1206, 1616, 0, 0, rggb, 3, 0, 16384, {1.945f, 1, 1.04f, 1}},
        {"E2500", Sized(2940928), 1204, 1616, 0, 0, 0x4b4b4b4b, 4, 0, 16384, {1.3f, 1.3f, 1, 1.148f}},
        {"E4300", Sized(5869568), 1710, 2288, 0, 0, grbg, 3, 0, 16384, {1, 1, 1, 1}},
        {"E4500", Sized(5865472), 1708, 2288, 0, 0, cmyg, 4, 0, 16384, {1.3f, 1.3f, 1, 1.148f}},
        {"E5700", Tiff(nikon, "E5700", 1924, 2576), 1924, 2576, 0, 0, cmyg, 4, 0, 16384, {1.3f, 1.3f, 1, 1.148f}},
        {"E5400", Tiff(nikon, "E5400", 1944, 2592), 1944, 2592, 0, 0, grbg, 3, 0, 16384, {1.7f, 1, 1.344f, 1}},
        {"E8800", Tiff(nikon, "E8800", 2448, 3264), 2448, 3264, 0, 0, grbg, 3, 0, 16384, {2.131f, 1, 1.3f, 1}},
    };
    for (const TCameraRow& row : rows) Check(row);
}

TEST(RawCameraTable, FujifilmKonicaMinoltaPentaxRows) {
    TBytes ist = Tiff("PENTAX Corporation", "PENTAX *ist D", 10, 10, 0x10100);
    const TCameraRow rows[] = {
        {"FinePixS2Pro", WriteFujiFile("FinePixS2Pro", 1024, {}), 3584, 3583, 0, 0, gbrg, 3, 512, 16384, {1.424f, 1, 1.718f, 1}},
        {"FinePix S5000", WriteFujiFile("FinePix S5000", 1024, {}), 2499, 2500, 0, 0, bggr, 3, 0, 0xf800, {1.639f, 1, 1.438f, 1}},
        {"FinePix S7000", WriteFujiFile("FinePix S7000", 1024, {}), 3587, 3588, 0, 0, bggr, 3, 0, 0xf800, {1.62f, 1, 1.38f, 1}},
        {"FinePix E550", WriteFujiFile("FinePix E550", 1024, {}), 3587, 3588, 0, 0, bggr, 3, 0, 0xf800, {1.45f, 1, 1.25f, 1}},
        {"FinePix F700", WriteFujiFile("FinePix F700", 1024, {}), 2523, 2524, 0, 0, bggr, 3, 0, 0x3e00, {1.639f, 1, 1.438f, 1}},
        {"FinePix S20Pro", WriteFujiFile("FinePix S20Pro", 1024, {}), 2523, 2524, 0, 0, bggr, 3, 0, 0x3e00, {1.639f, 1, 1.438f, 1}},
        {"KD-400Z", Tiff("Konica Corporation", "Digital Camera KD-400Z", 10, 10, 5000), 1712, 2312, 0, 0, rggb, 3, 0, 15856, {1.42f, 1, 1.25f, 1}, 4034, 2336},
        {"KD-510Z", Tiff("Konica Corporation", "Digital Camera KD-510Z", 10, 10, 5000), 1956, 2607, 0, 0, gbrg, 3, 0, 15856, {1.42f, 1, 1.25f, 1}, 4032, 2624},
        {"DiMAGE 7", WriteMinoltaFile("DiMAGE 7", 1924, 2568, TBytes(100)), 1924, 2568, 0, 0, rggb, 3, 0, 15860, {1.42f, 1, 1.25f, 1}},
        {"DiMAGE A1", WriteMinoltaFile("DiMAGE A1", 1924, 2568, TBytes(100)), 1924, 2568, 0, 0, rggb, 3, 0, 15916, {1.42f, 1, 1.25f, 1}},
        {"DiMAGE A2", WriteMinoltaFile("DiMAGE A2", 2464, 3288, TBytes(100)), 2464, 3288, 0, 0, rggb, 3, 0, 16380, {1.42f, 1, 1.25f, 1}},
        {"DiMAGE G400", WriteMinoltaFile("DiMAGE G400", 10, 10, TBytes(6000)), 1716, 2304, 0, 0, gbrg, 3, 0, 15856, {1.42f, 1, 1.25f, 1}, 5056},
        {"DiMAGE G500", WriteMinoltaFile("DiMAGE G500", 10, 10, TBytes(6000)), 1956, 2607, 0, 0, gbrg, 3, 0, 15856, {1.42f, 1, 1.25f, 1}, 4016, 2624},
        {"DiMAGE G600", WriteMinoltaFile("DiMAGE G600", 10, 10, TBytes(6000)), 2136, 2848, 0, 0, gbrg, 3, 0, 15856, {1.42f, 1, 1.25f, 1}, 4032},
        {"*ist D", ist, 2024, 3040, 0, 0, rggb, 3, 0, 16384, {1.76f, 1.07f, 1, 1}, 0x10000},
        {"Optio S", Sized(4841984), 1544, 2068, 0, 0, rggb, 3, 0, 16384, {1.506f, 1, 1.152f, 1}, {}, 3136},
        {"Optio S4", Sized(6114240), 1737, 2324, 0, 0, rggb, 3, 0, 16384, {1.308f, 1, 1.275f, 1}, {}, 3520},
    };
    for (const TCameraRow& row : rows) Check(row);
}

TEST(RawCameraTable, BacksOlympusAndOtherMakers) {
    // The directory walk puts the input at each entry's value, so the files are longer than the
    // sizes they give.
    TBytes ixpress = TiffHead(true);
    PutIfd(ixpress, 8, {{256, 4, 1, 680}, {257, 4, 1, 680}}, true);
    ixpress.resize(1000);
    auto olympus = [](const std::string& model) { return WriteOlympusTiff(model, 1000, 2000, TBytes(2000)); };
    TBytes sinar = Sized(12582980, {'8', 'B', 'P', 'S'});
    Put32(sinar, 14, 3000, false);
    Put32(sinar, 18, 2000, false);
    TBytes contax = Sized(7000);
    std::memcpy(contax.data() + 25, "ARECOYK", 7);
    TBytes nucore = {'B', 'R'};
    Put32(nucore, 10, 64, true);
    Put32(nucore, 18, 1000, true);
    Put32(nucore, 22, 800, true);
    nucore.resize(64);
    const TCameraRow rows[] = {
        {"LightPhase", WritePhaseOneHeader(2060, 3100), 2048, 3080, 5, 22, rggb, 3, 0, 0xffff, {1.331f, 1, 1.154f, 1}},
        {"H10", WritePhaseOneHeader(2682, 4040), 2672, 4012, 5, 26, rggb, 3, 0, 0xffff, {1, 1, 1, 1}},
        {"H20", WritePhaseOneHeader(4128, 4128), 4098, 4098, 20, 26, bggr, 3, 0, 0xffff, {1.963f, 1, 1.43f, 1}},
        {"H25", WritePhaseOneHeader(5488, 4128), 5458, 4098, 20, 26, bggr, 3, 0, 0xffff, {2.8f, 1, 1.2f, 1}},
        {"Ixpress", ixpress, 4084, 4080, 0, 0, bggr, 3, 0, 0xffff, {1.963f, 1, 1.43f, 1}},
        {"Sinar", sinar, 3000, 2000, 0, 0, gbrg, 3, 0, 0xffff, {1, 1, 1, 1}, 68},
        {"Leaf, upright", WriteLeafTiff(MosaicRaster(rggb, 40, 20, 100)), 40, 20, 0, 0, grbg, 3, 0, 0xffff, {1.1629f, 1, 1.3556f, 1}},
        {"DIGILUX 2", Tiff("LEICA", "DIGILUX 2", 10, 10, 2000), 1928, 2568, 0, 0, rggb, 3, 0, 16384, {1.883f, 1, 1.367f, 1}, 1024},
        {"DMC-LC1", Tiff("Panasonic", "DMC-LC1", 10, 10, 2000), 1928, 2568, 0, 0, rggb, 3, 0, 16384, {1.883f, 1, 1.367f, 1}, 1024},
        {"E-1", olympus("E-1"), 1000, 2000, 0, 0, gbrg, 3, 0, 16384, {1.57f, 1, 1.48f, 1}},
        {"E-10", olympus("E-10"), 1000, 2000, 0, 0, rggb, 3, 0, 16384, {1.43f, 1, 1.77f, 1}},
        {"E-20N", olympus("E-20N"), 1000, 2000, 0, 0, rggb, 3, 640, 16384, {1.43f, 1, 1.77f, 1}},
        {"C5050Z", olympus("C5050Z"), 1000, 2000, 0, 0, grbg, 3, 0, 16384, {1.533f, 1, 1.88f, 1}},
        {"C5060WZ", olympus("C5060WZ"), 1000, 2000, 0, 0, rggb, 3, 0, 16384, {2.285f, 1, 1.023f, 1}},
        {"C8080WZ", olympus("C8080WZ"), 1000, 2000, 0, 0, grbg, 3, 0, 16384, {2.335f, 1, 1.323f, 1}},
        {"N DIGITAL", contax, 2047, 3072, 0, 0, gbrg, 3, 0, 16384, {1.366f, 1, 1.251f, 1}, 6656},
        {"DSC-F828", WriteSonyF828({}, 1, 2), 2460, 3288, 0, 5, cmyg, 4, 0, 16384, {1.512f, 1.02f, 1.405f, 1}, {}, 3360},
        {"Rollei, 1316", WriteRolleiHeader(1316, 1032), 1030, 1300, 1, 6, grbg, 3, 0, 16384, {1.8f, 1, 1.3f, 1}},
        {"Rollei, 2568", WriteRolleiHeader(2568, 1970), 1960, 2560, 2, 8, grbg, 3, 0, 16384, {1.8f, 1, 1.3f, 1}},
        {"SD9, 1531 x 2304", WriteFoveonHeader("SD9", 1531, 2304), 1514, 2271, 7, 17, 0, 3, 0, 5600, {1.179f, 1, 0.713f, 1}},
        {"SD10, 763 x 1152", WriteFoveonHeader("SD10", 763, 1152), 756, 1136, 2, 8, 0, 3, 0, 5600, {1.179f * 2.07f, 1, 0.713f * 2.3f, 1}},
        {"PC-CAM 600", Sized(787456), 768, 1024, 0, 0, bggr, 3, 0, 16384, {1.14f, 1, 2.73f, 1}, 1024},
        {"QV-2000UX", Sized(1976352), 1208, 1632, 0, 0, rggb, 3, 0, 16384, {1, 1, 1, 1}, 3264},
        {"QV-3*00EX", Sized(3217760), 1546, 2070, 0, 0, rggb, 3, 0, 16384, {1, 1, 1, 1}, {}, 2080},
        {"QV-4000", Sized(7684000), 1700, 2260, 0, 0, rggb, 3, 0, 16384, {1, 1, 1, 1}},
        {"QV-5700", Sized(6218368), 1924, 2576, 0, 0, rggb, 3, 0, 16384, {1, 1, 1, 1}},
        {"EX-P600", Sized(9313536), 2142, 2844, 0, 0, rggb, 3, 0, 16384, {2.356f, 1.069f, 1, 1}, {}, 4288},
        {"Nucore", nucore, 800, 1000, 0, 0, gbrg, 3, 0, 16384, {1, 1, 1, 1}, 64},
    };
    for (const TCameraRow& row : rows) Check(row);
}

TEST(RawCameraTable, KodakRows) {
    const TCameraRow rows[] = {
        {"NC2000F", Kodak("NC2000F"), 400, 596, 0, 1, gbrg, 3, 0, 16384, {1.509f, 1, 2.686f, 1}},
        {"EOSDCS3B", Kodak("EOSDCS3B"), 400, 596, 0, 2, gbrg, 3, 0, 16384, {1.629f, 1, 2.767f, 1}},
        {"EOSDCS1", Kodak("EOSDCS1"), 400, 596, 0, 2, gbrg, 3, 0, 16384, {1.386f, 1, 2.405f, 1}},
        {"DCS315C", Kodak("DCS315C"), 400, 600, 0, 0, gbrg, 3, 32, 16384, {1, 1.068f, 1.036f, 1}},
        {"DCS330C", Kodak("DCS330C"), 400, 600, 0, 0, gbrg, 3, 32, 16384, {1, 1.012f, 1.804f, 1}},
        {"DCS420", Kodak("DCS420"), 400, 596, 0, 2, gbrg, 3, 0, 16384, {1.327f, 1, 2.074f, 1}},
        {"DCS460", Kodak("DCS460"), 400, 596, 0, 2, gbrg, 3, 0, 16384, {1.724f, 1, 2.411f, 1}},
        {"DCS460A", Kodak("DCS460A"), 400, 596, 0, 2, 0, 1, 0, 16384, {1, 1, 1, 1}},
        {"DCS520C", Kodak("DCS520C"), 400, 600, 0, 0, gbrg, 3, 720, 16384, {1.006f, 1, 1.858f, 1}},
        {"DCS560C", Kodak("DCS560C"), 400, 600, 0, 0, gbrg, 3, 750, 16384, {1, 1.053f, 1.703f, 1}},
        {"DCS620C", Kodak("DCS620C"), 400, 600, 0, 0, gbrg, 3, 720, 16384, {1, 1.002f, 1.818f, 1}},
        {"DCS62X", Kodak("DCS62X"), 400, 600, 0, 0, gbrg, 3, 740, 16384, {1.486f, 1, 1.28f, 1}},
        {"DCS660C", Kodak("DCS660C"), 400, 600, 0, 0, gbrg, 3, 855, 16384, {1.156f, 1, 1.626f, 1}},
        {"DCS660M", Kodak("DCS660M"), 400, 600, 0, 0, 0, 1, 855, 16384, {1, 1, 1, 1}},
        {"DCS72X", Kodak("DCS72X"), 400, 600, 0, 0, gbrg, 3, 0, 16384, {1.35f, 1, 1.18f, 1}},
        {"DCS760C", Kodak("DCS760C"), 400, 600, 0, 0, gbrg, 3, 0, 16384, {1.06f, 1, 1.72f, 1}},
        {"DCS760M", Kodak("DCS760M"), 400, 600, 0, 0, 0, 1, 0, 16384, {1, 1, 1, 1}},
        {"ProBack", Kodak("ProBack"), 400, 600, 0, 0, gbrg, 3, 0, 16384, {1.06f, 1, 1.385f, 1}},
        {"DCS Pro 14n", Kodak("DCS PRO 14N"), 400, 600, 0, 0, gbrg, 3, 0, 16384, {1, 1.0323f, 1.258f, 1}},
        {"DCS Pro 14nx", Kodak("DCS Pro 14nx"), 400, 600, 0, 0, gbrg, 3, 0, 16384, {1.336f, 1, 1.3155f, 1}},
        {"DCS Pro SLR/c", Kodak("DCS Pro SLR/c"), 400, 600, 0, 0, gbrg, 3, 0, 16384, {1.425f, 1, 1.293f, 1}},
        {"DCS Pro SLR/n", Kodak("DCS Pro SLR/n"), 400, 600, 0, 0, gbrg, 3, 0, 16384, {1.324f, 1, 1.483f, 1}},
        {"DC25, large", Kodak("DC25", 1, 1, 100000), 242, 501, 0, 0, cmyg, 4, 0, 16384, {1, 1, 1, 1}, 15937, 512},
        {"DC25, small", Kodak("DC25", 1, 1, 20000), 242, 249, 0, 0, cmyg, 4, 0, 16384, {1, 1, 1, 1}, 15681, 256},
        {"DC40", Kodak("Digital Camera 40", 1, 1, 2000), 512, 768, 0, 0, gbrg, 3, 0, 16384, {1, 1, 1, 1}, 1152},
        {"DC50", Kodak("DC50", 1, 1, 20000), 512, 768, 0, 0, gbrg, 3, 0, 16384, {1, 1, 1, 1}, 0x4d00},
        {"DC120", Kodak("DC120", 1, 1), 976, 848, 0, 0, gbrg, 3, 0, 16384, {1, 1, 1, 1}},
        {"DC20", Sized(62464), 242, 249, 0, 0, 0x8d8d8d8d, 4, 0, 16384, {1, 1.179f, 1.209f, 1.036f}, 257, 256},
        {"DC20, large", Sized(124928), 242, 501, 0, 0, 0x8d8d8d8d, 4, 0, 16384, {1, 1.179f, 1.209f, 1.036f}, 513, 512},
    };
    for (const TCameraRow& row : rows) Check(row);
}

}  // namespace
