// A colour profile opened from arbitrary bytes and, when it opens, used to convert a few pixels.
#include <cstdint>

#include "imaging/core/KVICC.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TKVICC profile;
    try {
        if (!profile.LoadFromBuffer(data, int64_t(size))) return 0;
        TKVICC srgb;
        srgb.LoadSRGB();
        const uint8_t source[4 * 6] = {0, 0, 0, 0, 255, 255, 255, 255, 12, 200, 64, 128, 90, 9, 33, 250};
        uint8_t target[3 * 4];
        for (int format : {kvICC_RGB, kvICC_CMYKInverted, kvICC_Gray, kvICC_Lab})
            profile.Transform(srgb, format, 4, target, source, 0, 0, kvICC_BGR);
    } catch (const Exception&) {
    }
    return 0;
}
