#pragma once
// The resampling filters, in the order their values are stored.
#include <cstdint>

enum TResampleFilter : uint8_t {
    rfNone, rfTriangle, rfHermite, rfBell, rfBSpline, rfLanczos3, rfMitchell, rfNearest, rfLinear,
    rfFastLinear, rfBilinear, rfBicubic, rfProjectBW, rfProjectWB,
};
