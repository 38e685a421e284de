#pragma once
// Rendering a rectangle of a bitmap, stretched, clipped, adjusted and blended, into a 24-bit bitmap.
#include <optional>
#include <vector>

#include "imaging/core/KVBlend.h"
#include "imaging/core/KVResampleFilter.h"

// Destination row addresses and the column and row maps of one render, kept by a caller that
// paints the same layout again.
struct TKVRenderCache {
    std::vector<uint8_t*> rows;
    std::vector<int> columns;     // source column of each destination column
    std::vector<int> sourceRows;  // source row of each destination row
};

// Destination pixels that may change, corners included.
struct TKVClipRect {
    int x1, y1, x2, y2;
};

struct TKVRenderParams {
    int destX = 0, destY = 0, destWidth = 0, destHeight = 0;
    int sourceX = 0, sourceY = 0, sourceWidth = 0, sourceHeight = 0;
    TKVBlendOperation blend = kvbCopy;
    TResampleFilter filter = rfNone;
    int transparency = 255;  // 255 opaque
    bool reuseRows = false;  // a destination row that maps to the previous one's source row is copied
    bool useAlpha = true;
    std::optional<TKVClipRect> clip;
    // Used when given, filled otherwise; emptied after the render when freeCaches is set.
    TKVRenderCache* cache = nullptr;
    bool freeCaches = true;
};
