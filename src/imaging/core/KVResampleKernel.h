#pragma once
// Two-pass resampling with a filter kernel, on rows of 1 or 3 bytes per pixel.
#include <cstdint>
#include <functional>

#include "imaging/core/KVResample.h"

struct TKVKernelJob {
    int sourceWidth, sourceHeight, targetWidth, targetHeight;
    int channels;  // bytes per pixel of both sides
    std::function<const uint8_t*(int y)> sourceRow;
    std::function<void(int y, const uint8_t* row)> storeRow;
    // Called with the work units done out of sourceHeight + targetHeight.
    std::function<void(int done)> progress;
};

// filter is one of rfTriangle .. rfLinear.
void KVKernelResample(const TKVKernelJob& job, TResampleFilter filter);
