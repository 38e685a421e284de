#include "BitmapDifference.h"

#include <algorithm>
#include <cstdlib>

#include "platform/Graphics.h"

int Difference(const TBitmap& ours, const TRgbImage& theirs) {
    if (ours.Width() != theirs.width || ours.Height() != theirs.height) return -1;
    int worst = 0;
    for (int y = 0; y < theirs.height; ++y)
        for (int x = 0; x < theirs.width; ++x) {
            const TColor c = ours.Pixel(x, y);
            const uint8_t* p = theirs.At(x, y);
            worst = std::max({worst, std::abs((c & 0xFF) - p[0]), std::abs((c >> 8 & 0xFF) - p[1]),
                              std::abs((c >> 16 & 0xFF) - p[2])});
        }
    return worst;
}
