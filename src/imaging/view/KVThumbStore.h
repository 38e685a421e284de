#pragma once
// How the thumbnail view keeps a picture: as given, or reduced to its cell size.
#include <memory>

#include "imaging/core/KVResampleFilter.h"

class TKVBitmap;

struct TKVStoreRule {
    bool thumbnails = false;  // pictures are reduced to the cell size when stored
    int width = 100, height = 100;
    bool enlargeSmall = true;  // small pictures are brought to the cell size too
    TResampleFilter filter = rfFastLinear;
};

// The reduced copy to store, or nullptr when the picture is stored as it is.
std::unique_ptr<TKVBitmap> KVReducedForStore(TKVBitmap& bitmap, const TKVStoreRule& rule);
