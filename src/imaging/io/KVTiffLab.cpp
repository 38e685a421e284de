#include "imaging/io/KVTiffLab.h"

#include <lcms2.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "platform/Exception.h"

// An sRGB transform to or from XYZ relative to D50, where colour management works.
struct TKVLabTransform {
    cmsHTRANSFORM handle = nullptr;
    explicit TKVLabTransform(bool fromRgb) {
        cmsHPROFILE srgb = cmsCreate_sRGBProfile();
        cmsHPROFILE xyz = cmsCreateXYZProfile();
        if (srgb && xyz)
            handle = fromRgb ? cmsCreateTransform(srgb, TYPE_BGR_8, xyz, TYPE_XYZ_DBL, INTENT_RELATIVE_COLORIMETRIC, 0)
                             : cmsCreateTransform(xyz, TYPE_XYZ_DBL, srgb, TYPE_BGR_8, INTENT_RELATIVE_COLORIMETRIC, 0);
        if (srgb) cmsCloseProfile(srgb);
        if (xyz) cmsCloseProfile(xyz);
        if (!handle) throw Exception("the CIELab colour transform could not be made");
    }
    ~TKVLabTransform() { cmsDeleteTransform(handle); }
};

namespace {

cmsCIEXYZ WhiteOf(double x, double y) {
    const cmsCIExyY xyY{x, y, 1.0};
    cmsCIEXYZ white;
    cmsxyY2XYZ(&white, &xyY);
    return white;
}

}  // namespace

// The samples are adapted between D50 and their own white, as the readers of these files expect.
TKVTiffLabEncoder::TKVTiffLabEncoder() : transform_(std::make_unique<TKVLabTransform>(true)) {}

TKVTiffLabEncoder::~TKVTiffLabEncoder() = default;

void TKVTiffLabEncoder::Encode(const uint8_t* bgr, uint8_t* lab, int64_t count) {
    const cmsCIEXYZ white = WhiteOf(TiffLabWhiteX, TiffLabWhiteY);
    std::vector<cmsCIEXYZ> values(static_cast<size_t>(count));
    cmsDoTransform(transform_->handle, bgr, values.data(), cmsUInt32Number(count));
    for (int64_t i = 0; i < count; ++i) {
        cmsCIEXYZ adapted;
        cmsAdaptToIlluminant(&adapted, cmsD50_XYZ(), &white, &values[static_cast<size_t>(i)]);
        cmsCIELab v;
        cmsXYZ2Lab(&white, &v, &adapted);
        lab[3 * i] = uint8_t(std::clamp(std::nearbyint(v.L * 255.0 / 100.0), 0.0, 255.0));
        lab[3 * i + 1] = uint8_t(int8_t(std::clamp(std::nearbyint(v.a), -128.0, 127.0)));
        lab[3 * i + 2] = uint8_t(int8_t(std::clamp(std::nearbyint(v.b), -128.0, 127.0)));
    }
}

TKVTiffLabDecoder::TKVTiffLabDecoder(double whiteX, double whiteY)
    : transform_(std::make_unique<TKVLabTransform>(false)), whiteX_(whiteX), whiteY_(whiteY) {}

TKVTiffLabDecoder::~TKVTiffLabDecoder() = default;

void TKVTiffLabDecoder::Decode(const uint8_t* lab, uint8_t* bgr, int64_t count) {
    const cmsCIEXYZ white = WhiteOf(whiteX_, whiteY_);
    std::vector<cmsCIEXYZ> values(static_cast<size_t>(count));
    for (int64_t i = 0; i < count; ++i) {
        const cmsCIELab v{lab[3 * i] * 100.0 / 255.0, double(int8_t(lab[3 * i + 1])), double(int8_t(lab[3 * i + 2]))};
        cmsCIEXYZ xyz;
        cmsLab2XYZ(&white, &xyz, &v);
        cmsAdaptToIlluminant(&values[static_cast<size_t>(i)], &white, cmsD50_XYZ(), &xyz);
    }
    cmsDoTransform(transform_->handle, values.data(), bgr, cmsUInt32Number(count));
}
