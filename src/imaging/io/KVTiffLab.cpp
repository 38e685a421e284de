#include "imaging/io/KVTiffLab.h"

#include <lcms2.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "platform/Exception.h"

struct TKVTiffLabEncoder::TTransform {
    cmsHTRANSFORM handle = nullptr;
    ~TTransform() {
        if (handle) cmsDeleteTransform(handle);
    }
};

// Colour management works in XYZ relative to D50; the samples are adapted back to D65 before
// they become CIELab, as the readers of these files expect.
TKVTiffLabEncoder::TKVTiffLabEncoder() : transform_(std::make_unique<TTransform>()) {
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHPROFILE xyz = cmsCreateXYZProfile();
    if (srgb && xyz)
        transform_->handle = cmsCreateTransform(srgb, TYPE_BGR_8, xyz, TYPE_XYZ_DBL, INTENT_RELATIVE_COLORIMETRIC, 0);
    if (srgb) cmsCloseProfile(srgb);
    if (xyz) cmsCloseProfile(xyz);
    if (!transform_->handle) throw Exception("the CIELab colour transform could not be made");
}

TKVTiffLabEncoder::~TKVTiffLabEncoder() = default;

void TKVTiffLabEncoder::Encode(const uint8_t* bgr, uint8_t* lab, int64_t count) {
    const cmsCIExyY whiteXyY{TiffLabWhiteX, TiffLabWhiteY, 1.0};
    cmsCIEXYZ white;
    cmsxyY2XYZ(&white, &whiteXyY);
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
