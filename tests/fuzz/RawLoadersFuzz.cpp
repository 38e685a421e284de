// Every raw loader family on arbitrary bytes with a small fixed geometry: the first byte chooses
// the loader and the margins, the rest is the data. The result also goes through the upright
// rebuild of sensors laid out at 45 degrees.
#include "DriverFuzz.h"

#include "imaging/raw/RawStages.h"

namespace {

constexpr TRawLoader loaders[] = {
    RawLoadCanonCompressed, RawLoadJpegLossless,  RawLoadNikonCompressed, RawLoadCanonPs600,    RawLoadCanonPsA5,
    RawLoadNikonE2100,      RawLoadCasioQv5700,   RawLoadRolleiD530flex,  RawLoadBitstream12,   RawLoadNikonE950,
    RawLoadNikonPlain,      RawLoadOlympusC5050,  RawLoadUnpackedBe,      RawLoadUnpackedLeShr2, RawLoadEightBit,
    RawLoadNucore,          RawLoadIxpress,       RawLoadPhaseOne,        RawLoadKodakEasy,     RawLoadKodakDc120,
    RawLoadFoveon,          RawLoadKodakDc40,     RawLoadKodakDc120Jpeg,  RawLoadKodakCompressedCfa,
    RawLoadKodakCompressedColor, RawLoadSonyF828, RawLoadFujiS2pro,       RawLoadFujiS5000,     RawLoadFujiS7000,
    RawLoadFujiF700,
};

// The decoded picture as 24 bits, rebuilt as if its sensor lay at 45 degrees.
void Upright(TKVRawContext& raw) {
    TKVBitmap bitmap;
    bitmap.Allocate(raw.width, raw.height, kv24RGB);
    for (int row = 0; row < raw.height; ++row) {
        uint8_t* line = bitmap.GetScanline(row);
        for (int col = 0; col < raw.width; ++col)
            for (size_t c = 0; c < 3; ++c) line[3 * col + int(c)] = uint8_t(raw.image[size_t(row * raw.width + col)][c] >> 8);
    }
    RawUpright45(bitmap);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t choice = data[0];
    TKVRawContext raw(std::span<const uint8_t>(data + 1, size - 1));
    raw.loader = loaders[choice % std::size(loaders)];
    raw.make = choice & 0x80 ? "KODAK" : "Test";
    raw.model = "E1";
    raw.rawHeight = 16, raw.rawWidth = 40, raw.height = 12, raw.width = 32;
    raw.topMargin = choice >> 5 & 3, raw.leftMargin = choice >> 6;
    raw.filterPattern = raw.loader == RawLoadFoveon ? 0 : 0x94949494;
    raw.curveOffset = 4, raw.curveLength = 8, raw.compression = choice & 0x40 ? 34713 : 0;
    try {
        RawCheckGeometry(raw);
        raw.imageHeight = raw.height, raw.imageWidth = raw.width;
        raw.image.assign(size_t(raw.height) * size_t(raw.width), TRawPixel{});
        raw.loader(raw);
        raw.isFoveon = raw.loader == RawLoadFoveon;
        if (raw.isFoveon) {
            RawFoveonInterpolate(raw);
        } else {
            RawBalanceWhites(raw);
            RawInterpolate(raw);
        }
        RawMixChannels(raw);
        Upright(raw);
    } catch (const Exception&) {
    }
    return 0;
}
