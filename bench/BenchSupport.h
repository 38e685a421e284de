#pragma once
// What the benchmarks share: their clock and the photograph-like picture they encode.
#include <sys/resource.h>

#include <chrono>
#include <cstdint>

#include "imaging/core/KVBitmap.h"

using Clock = std::chrono::steady_clock;

inline double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Processor seconds, user and system, of this process (RUSAGE_SELF) or of its children that
// were waited for (RUSAGE_CHILDREN): steadier than the clock on a machine others share.
inline double ProcessorSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Smooth gradients with some detail; a larger scale gives wider gradients, as a bigger
// photograph of the same scene has.
inline void MakePhotoLikePicture(TKVBitmap& bitmap, int width, int height, int scale = 1) {
    bitmap.Allocate(width, height, kv24RGB);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = bitmap.GetScanline(y);
        for (int x = 0; x < width; ++x) {
            row[3 * x] = static_cast<uint8_t>(x / (12 * scale) + ((x * y) >> 12) / (scale * scale));
            row[3 * x + 1] = static_cast<uint8_t>(y / (8 * scale) + (x ^ y) % 16);
            row[3 * x + 2] = static_cast<uint8_t>((x + y) / (20 * scale));
        }
    }
}
