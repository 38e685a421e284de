// The PNG driver's reader on arbitrary bytes, with and without compositing. The chunks' CRCs are
// made right first, so that mutations get past libpng's checks into the decoding.
#include <zlib.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVMask.h"
#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KVPngFilter.h"
#include "imaging/core/KVProgress.h"
#include "platform/PictureLimits.h"

namespace {

uint32_t BigEndian32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

void FixCrcs(std::vector<uint8_t>& png) {
    for (size_t at = 8; at + 12 <= png.size();) {
        const uint32_t length = BigEndian32(&png[at]);
        if (length > png.size() - at - 12) return;
        const uint32_t crc = uint32_t(crc32(0, &png[at + 4], length + 4));
        uint8_t* out = &png[at + 8 + length];
        out[0] = uint8_t(crc >> 24), out[1] = uint8_t(crc >> 16), out[2] = uint8_t(crc >> 8), out[3] = uint8_t(crc);
        at += 12 + length;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Small caps keep each run fast; the checks are the same.
    static TPictureLimitsOverride limits({2048, 1 << 20, 2048, 1 << 20});
    std::vector<uint8_t> png(data, data + size);
    FixCrcs(png);
    for (bool composite : {false, true}) {
        TMemoryStream stream;
        stream.WriteBuffer(png.data(), int64_t(png.size()));
        stream.SetPosition(0);
        TIOParamsVals params(nullptr);
        params.IsNativePixelFormat = composite;
        std::atomic<bool> abortFlag{false};
        TKVProgressRec progress;
        progress.AbortFlag = &abortFlag;
        TKVBitmap bitmap;
        std::unique_ptr<TKVMask> mask;
        ReadPNGStream(stream, bitmap, params, composite, mask, false, progress);
    }
    return 0;
}
