#include "imaging/io/KVColorConvert.h"

#include <cstring>

#include "imaging/core/KVBasicHelpers.h"
#include "imaging/core/KVCoreUtils.h"
#include "imaging/core/KVICC.h"
#include "imaging/core/KVLibraryState.h"
#include "imaging/core/KVPixelCodec.h"
#include "imaging/io/IOParamsVals.h"

std::atomic<TKVColorConverter> KVColorConvert{KVDefaultColorConvert};
std::atomic<bool> KVColorManagement{false};

namespace {

bool ThroughProfiles(const uint8_t* source, int sourceSpace, uint8_t* dest, TIOParamsVals* params, int64_t count,
                     int destFormat) {
    if (!KVColorManagement || !params || !params->InputICC() || !params->OutputICC()) return false;
    TKVICC& input = *params->InputICC();
    TKVICC& output = *params->OutputICC();
    return input.IsValid() && output.IsValid() &&
           input.Transform(output, sourceSpace, count, dest, source, 0, 0, destFormat);
}

void FromBGR(const uint8_t* source, uint8_t* dest, int64_t count, int destFormat) {
    for (int64_t i = 0; i < count; ++i) {
        const TKVRGB p{source[3 * i], source[3 * i + 1], source[3 * i + 2]};
        switch (destFormat) {
            case kvccBGR: std::memcpy(dest + 3 * i, &p, 3); break;
            case kvccCMYK: {
                const uint32_t cmyk = KVRGBToCMYK(p);
                std::memcpy(dest + 4 * i, &cmyk, 4);
                break;
            }
            case kvccLab: {
                const TKVCIELab lab = KVRGBToCIELab(uint32_t(p.r) << 16 | uint32_t(p.g) << 8 | p.b);
                dest[3 * i] = lab.L;
                dest[3 * i + 1] = uint8_t(lab.a);
                dest[3 * i + 2] = uint8_t(lab.b);
                break;
            }
            case kvccGray:
                dest[i] = uint8_t((p.r * KVGrayWeights.Red + p.g * KVGrayWeights.Green + p.b * KVGrayWeights.Blue) / 100);
                break;
            default: return;
        }
    }
}

void ToBGR(const uint8_t* source, int sourceSpace, uint8_t* dest, int64_t count) {
    for (int64_t i = 0; i < count; ++i) {
        TKVRGB p;
        switch (sourceSpace) {
            case kvICC_RGB: p = TKVRGB{source[3 * i + 2], source[3 * i + 1], source[3 * i]}; break;
            case kvICC_CMYKInverted:
            case kvICC_CMYK6: {
                // Each colour byte times K: the inverted bytes of Adobe's files. The 6-byte layout
                // holds the same four bytes with the values the other way round.
                const uint8_t* s = source + (sourceSpace == kvICC_CMYK6 ? 6 : 4) * i;
                uint8_t c[4];
                for (int k = 0; k < 4; ++k) c[k] = sourceSpace == kvICC_CMYK6 ? uint8_t(255 - s[k]) : s[k];
                p = TKVRGB{uint8_t(c[2] * c[3] / 255), uint8_t(c[1] * c[3] / 255), uint8_t(c[0] * c[3] / 255)};
                break;
            }
            case kvICC_Lab: p = KVCIELabToRGB(uint32_t(source[3 * i]) | uint32_t(source[3 * i + 1]) << 8 | uint32_t(source[3 * i + 2]) << 16); break;
            case kvICC_RGB16LE: p = TKVRGB{source[6 * i + 5], source[6 * i + 3], source[6 * i + 1]}; break;
            case kvICC_RGB16BE: p = TKVRGB{source[6 * i + 4], source[6 * i + 2], source[6 * i]}; break;
            default: return;
        }
        std::memcpy(dest + 3 * i, &p, 3);
    }
}

}  // namespace

void KVDefaultColorConvert(const uint8_t* source, int sourceSpace, uint8_t* dest, TIOParamsVals* params,
                           int64_t count, int destFormat) {
    if (count <= 0 || ThroughProfiles(source, sourceSpace, dest, params, count, destFormat)) return;
    if (sourceSpace == kvICC_BGR) FromBGR(source, dest, count, destFormat);
    else if (destFormat == kvccBGR) ToBGR(source, sourceSpace, dest, count);
}
