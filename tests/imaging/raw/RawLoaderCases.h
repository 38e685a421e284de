#pragma once
// Every raw loader with a small geometry it can work in: the loader table test, the seeds of the
// loader fuzz target and the target itself run the loaders through this one table.
#include <cstdint>
#include <iterator>

#include "imaging/raw/RawStages.h"

// How a case's decoded samples compare with the raster its input was written from.
enum class TLoaderCheck {
    exact,   // every photosite holds its raster sample times the scale
    filled,  // the photosites the loader reaches hold it, the others stay 0 (sensors at 45 degrees)
    none,    // lossy codings, and samples packed into shared bits
};

struct TLoaderCase {
    const char* name;  // the loader's function name
    TRawLoader loader;
    const char* make;
    const char* model;
    // The raster the input is written from is rawHeight x rawWidth; the picture is height x width
    // at (top, left) of it.
    int rawHeight, rawWidth, height, width, top, left;
    uint32_t pattern;
    bool bigEndian;
    int64_t dataOffset, curveOffset;
    int curveLength, compression;
    int largest;  // largest raster sample
    int scale;    // decoded = raster sample x scale
    TLoaderCheck check;
};

inline constexpr TLoaderCase loaderCases[] = {
    {"RawLoadCanonCompressed", RawLoadCanonCompressed, "Canon", "EOS Test", 16, 40, 12, 32, 2, 4, 0x94949494, false, 0, 0, 0, 0, 1000, 16, TLoaderCheck::exact},
    {"RawLoadJpegLossless", RawLoadJpegLossless, "Canon", "EOS Test", 16, 40, 12, 32, 2, 4, 0x61616161, false, 0, 0, 0, 0, 4000, 4, TLoaderCheck::exact},
    {"RawLoadNikonCompressed", RawLoadNikonCompressed, "NIKON", "D70", 12, 40, 12, 32, 0, 4, 0x16161616, true, 8202, 0, 0, 34713, 4000, 4, TLoaderCheck::exact},
    {"RawLoadCanonPs600", RawLoadCanonPs600, "Canon", "PowerShot 600", 12, 896, 12, 32, 0, 0, 0xe1e4e1e4, false, 0, 0, 0, 0, 1000, 16, TLoaderCheck::exact},
    {"RawLoadCanonPsA5", RawLoadCanonPsA5, "Canon", "PowerShot A5", 12, 40, 12, 32, 0, 0, 0x1e4e1e4e, false, 0, 0, 0, 0, 1000, 16, TLoaderCheck::exact},
    {"RawLoadNikonE2100", RawLoadNikonE2100, "NIKON", "E2100", 12, 32, 12, 32, 0, 0, 0x94949494, false, 0, 0, 0, 0, 4000, 4, TLoaderCheck::exact},
    {"RawLoadCasioQv5700", RawLoadCasioQv5700, "Casio", "QV-5700", 12, 32, 12, 32, 0, 0, 0x94949494, false, 0, 0, 0, 0, 1000, 16, TLoaderCheck::exact},
    {"RawLoadRolleiD530flex", RawLoadRolleiD530flex, "Rollei", "d530flex", 16, 40, 12, 32, 1, 4, 0x16161616, false, 0, 0, 0, 0, 1000, 16, TLoaderCheck::none},
    {"RawLoadBitstream12", RawLoadBitstream12, "Pentax", "Optio S", 12, 56, 12, 32, 0, 0, 0x94949494, false, 0, 0, 0, 0, 4000, 4, TLoaderCheck::exact},
    {"RawLoadNikonE950", RawLoadNikonE950, "NIKON", "E950", 13, 32, 13, 32, 0, 0, 0x4b4b4b4b, false, 0, 0, 0, 0, 1000, 16, TLoaderCheck::exact},
    {"RawLoadNikonPlain", RawLoadNikonPlain, "NIKON", "E5700", 12, 40, 12, 32, 0, 4, 0x16161616, true, 0, 0, 0, 34713, 4000, 4, TLoaderCheck::exact},
    {"RawLoadOlympusC5050", RawLoadOlympusC5050, "OLYMPUS", "C5050Z", 12, 32, 12, 32, 0, 0, 0x16161616, true, 16, 0, 0, 0, 4000, 4, TLoaderCheck::exact},
    {"RawLoadUnpackedBe", RawLoadUnpackedBe, "Leaf", "", 12, 40, 12, 32, 0, 0, 0x94949494, true, 0, 0, 0, 0, 60000, 1, TLoaderCheck::exact},
    {"RawLoadUnpackedBeShr2", RawLoadUnpackedBeShr2, "OLYMPUS", "E-10", 12, 40, 12, 32, 0, 0, 0x94949494, true, 0, 0, 0, 0, 16000, 1, TLoaderCheck::exact},
    {"RawLoadUnpackedBeShl2", RawLoadUnpackedBeShl2, "MINOLTA", "DiMAGE 7", 12, 40, 12, 32, 0, 0, 0x94949494, true, 0, 0, 0, 0, 16000, 4, TLoaderCheck::exact},
    {"RawLoadUnpackedBeShl4", RawLoadUnpackedBeShl4, "Konica", "KD-400Z", 12, 40, 12, 32, 0, 0, 0x94949494, true, 0, 0, 0, 0, 4000, 16, TLoaderCheck::exact},
    {"RawLoadUnpackedLeShr2", RawLoadUnpackedLeShr2, "OLYMPUS", "E-1", 12, 40, 12, 32, 0, 0, 0x61616161, false, 0, 0, 0, 0, 16000, 1, TLoaderCheck::exact},
    {"RawLoadEightBit", RawLoadEightBit, "Casio", "QV-2000UX", 12, 40, 12, 32, 0, 0, 0x94949494, false, 0, 0, 0, 0, 250, 64, TLoaderCheck::exact},
    {"RawLoadNucore", RawLoadNucore, "Nucore", "RAW", 12, 32, 12, 32, 0, 0, 0x61616161, false, 0, 0, 0, 0, 16000, 4, TLoaderCheck::exact},
    {"RawLoadIxpress", RawLoadIxpress, "Imacon", "Ixpress", 12, 32, 12, 32, 0, 0, 0x49494949, false, 0, 0, 0, 0, 60000, 1, TLoaderCheck::exact},
    {"RawLoadPhaseOne", RawLoadPhaseOne, "Phase One", "", 16, 40, 12, 32, 2, 4, 0x49494949, true, 0, 0, 0, 0, 60000, 1, TLoaderCheck::exact},
    {"RawLoadKodakEasy", RawLoadKodakEasy, "KODAK", "DCS Pro 14n", 12, 40, 12, 32, 0, 4, 0x61616161, false, 528, 16, 256, 1, 250, 64, TLoaderCheck::exact},
    {"RawLoadKodakDc120", RawLoadKodakDc120, "KODAK", "DC120", 12, 32, 12, 32, 0, 0, 0x61616161, false, 0, 0, 0, 1, 250, 64, TLoaderCheck::exact},
    {"RawLoadKodakDc120Jpeg", RawLoadKodakDc120Jpeg, "KODAK", "DC120", 12, 32, 12, 32, 0, 0, 0x61616161, false, 0, 0, 0, 7, 250, 64, TLoaderCheck::none},
    {"RawLoadKodakDc40", RawLoadKodakDc40, "KODAK", "DC50", 12, 32, 12, 32, 0, 0, 0x61616161, false, 0, 0, 0, 0, 3000, 1, TLoaderCheck::none},
    {"RawLoadKodakCompressedCfa", RawLoadKodakCompressedCfa, "KODAK", "DCS760C", 12, 40, 12, 40, 0, 0, 0x61616161, false, 0, 0, 0, 65000, 4000, 4, TLoaderCheck::exact},
    {"RawLoadKodakCompressedColor", RawLoadKodakCompressedColor, "KODAK", "DCS760C", 12, 32, 12, 32, 0, 0, 0, false, 0, 0, 0, 65000, 1000, 4, TLoaderCheck::none},
    {"RawLoadSonyF828", RawLoadSonyF828, "SONY", "DSC-F828", 4, 3360, 4, 32, 0, 5, 0xb4b4b4b4, true, 0, 0, 0, 0, 16000, 1, TLoaderCheck::exact},
    {"RawLoadFujiS2pro", RawLoadFujiS2pro, "FUJIFILM", "FinePixS2Pro", 12, 2160, 12, 2160, 0, 0, 0x61616161, true, 0, 0, 0, 0, 4000, 4, TLoaderCheck::filled},
    {"RawLoadFujiS5000", RawLoadFujiS5000, "FUJIFILM", "FinePix S5000", 12, 1440, 12, 1440, 0, 0, 0x49494949, true, 0, 0, 0, 0, 4000, 4, TLoaderCheck::filled},
    {"RawLoadFujiS7000", RawLoadFujiS7000, "FUJIFILM", "FinePix S7000", 12, 2064, 12, 2064, 0, 0, 0x49494949, true, 0, 0, 0, 0, 4000, 4, TLoaderCheck::filled},
    {"RawLoadFujiF700", RawLoadFujiF700, "FUJIFILM", "FinePix F700", 12, 1456, 12, 1456, 0, 0, 0x49494949, true, 0, 0, 0, 0, 16000, 1, TLoaderCheck::filled},
    {"RawLoadFoveon", RawLoadFoveon, "SIGMA", "SD9", 14, 36, 12, 32, 2, 4, 0, false, 0, 0, 0, 0, 500, 1, TLoaderCheck::exact},
};
inline constexpr size_t loaderCaseCount = std::size(loaderCases);

// The case of a loader in a geometry of its own, without margins.
inline TLoaderCase CaseOfSize(TRawLoader loader, int height, int width) {
    for (TLoaderCase c : loaderCases)
        if (c.loader == loader) {
            c.rawHeight = c.height = height, c.rawWidth = c.width = width, c.top = c.left = 0;
            return c;
        }
    return {};
}

// The context as identification leaves it for the case, with the picture allocated (one entry
// per 2 x 2 cell at half size) and the input at the data.
inline void PrepareLoader(TKVRawContext& raw, const TLoaderCase& c, bool halfSize) {
    raw.loader = c.loader;
    raw.make = c.make;
    raw.model = c.model;
    raw.rawHeight = c.rawHeight, raw.rawWidth = c.rawWidth, raw.height = c.height, raw.width = c.width;
    raw.topMargin = c.top, raw.leftMargin = c.left;
    raw.filterPattern = c.pattern;
    raw.isFoveon = c.loader == RawLoadFoveon;
    raw.in.order = c.bigEndian ? rawBigEndian : rawLittleEndian;
    raw.dataOffset = c.dataOffset, raw.curveOffset = c.curveOffset;
    raw.curveLength = c.curveLength, raw.compression = c.compression;
    if (c.loader == RawLoadCanonCompressed) RawCanonTables(raw, 0);
    RawCheckGeometry(raw);
    raw.halfSize = halfSize ? 1 : 0;
    raw.imageHeight = (raw.height + raw.halfSize) >> raw.halfSize;
    raw.imageWidth = (raw.width + raw.halfSize) >> raw.halfSize;
    raw.image.assign(size_t(raw.imageHeight) * size_t(raw.imageWidth), TRawPixel{});
    raw.in.Seek(raw.dataOffset);
}
