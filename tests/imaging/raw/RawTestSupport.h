#pragma once
// Running the decoder's stages on a written file, for tests that look at the raw samples.
#include <memory>

#include "RawWriters.h"
#include "imaging/raw/RawStages.h"

// The context after identification (result in `identified`), with the file's bytes kept alive.
struct TRawRun {
    TBytes bytes;
    std::unique_ptr<TKVRawContext> raw;
    int identified = 1;

    explicit TRawRun(TBytes file, bool fourColorRgb = false) : bytes(std::move(file)) {
        raw = std::make_unique<TKVRawContext>(bytes);
        raw->fourColorRgb = fourColorRgb;
        identified = RawIdentifyFile(*raw);
    }
    // Runs the loader into a full-size image.
    void Load() {
        RawCheckGeometry(*raw);
        raw->imageHeight = raw->height;
        raw->imageWidth = raw->width;
        raw->image.assign(size_t(raw->height) * size_t(raw->width), TRawPixel{});
        raw->loader(*raw);
    }
};

inline TRaster MosaicRaster(uint32_t pattern, int height, int width, int scale, int black = 0) {
    return {height, width, KnownMosaic(pattern, height, width, scale, black)};
}
