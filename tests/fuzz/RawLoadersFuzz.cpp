// Every raw loader on arbitrary bytes, each in a small geometry it works in: the first byte
// chooses the loader (low seven bits) and half size (high bit), the rest is the data. The result
// also goes through the colour stages and the upright rebuild of sensors laid out at 45 degrees.
#include "DriverFuzz.h"

#include "../imaging/raw/RawLoaderCases.h"

namespace {

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
    const TLoaderCase& c = loaderCases[(data[0] & 0x7F) % loaderCaseCount];
    TKVRawContext raw(std::span<const uint8_t>(data + 1, size - 1));
    try {
        PrepareLoader(raw, c, data[0] & 0x80);
        raw.loader(raw);
        raw.height = raw.imageHeight, raw.width = raw.imageWidth;
        if (raw.halfSize) raw.filterPattern = 0;
        if (raw.isFoveon) {
            RawFoveonInterpolate(raw);
        } else {
            RawBalanceWhites(raw);
            if (raw.filterPattern) RawInterpolate(raw);
        }
        RawMixChannels(raw);
        Upright(raw);
    } catch (const Exception&) {
    }
    return 0;
}
