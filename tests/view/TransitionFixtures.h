#pragma once
// Small frames for the transition tests, made byte by byte without the code under test.
#include <array>
#include <cstdint>

#include "platform/Graphics.h"

using TBgr = std::array<uint8_t, 3>;

inline TBitmap SolidFrame(int width, int height, TBgr bgr) {
    TBitmap frame;
    frame.SetPixelFormat(TPixelFormat::pf24bit);
    frame.SetSize(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c) frame.ScanLine(y)[3 * x + c] = bgr[c];
    return frame;
}

// Blue is the column, green the row and red the tag, so a pixel tells where it came from.
inline TBitmap RampFrame(int width, int height, uint8_t tag) {
    TBitmap frame = SolidFrame(width, height, {0, 0, tag});
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            frame.ScanLine(y)[3 * x] = uint8_t(x);
            frame.ScanLine(y)[3 * x + 1] = uint8_t(y);
        }
    return frame;
}

inline TBgr PixelAt(const TBitmap& frame, int x, int y) {
    const uint8_t* p = frame.ScanLine(y) + 3 * x;
    return {p[0], p[1], p[2]};
}

inline bool SamePixels(const TBitmap& a, const TBitmap& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width(); ++x)
            if (PixelAt(a, x, y) != PixelAt(b, x, y)) return false;
    return true;
}

inline int CountPixels(const TBitmap& frame, TBgr bgr) {
    int count = 0;
    for (int y = 0; y < frame.Height(); ++y)
        for (int x = 0; x < frame.Width(); ++x) count += PixelAt(frame, x, y) == bgr;
    return count;
}
