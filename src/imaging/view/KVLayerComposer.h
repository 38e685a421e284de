#pragma once
// Composes the visible part of the view's layers over its background into the back buffer.
// Works on a plain image and the viewport's arithmetic, so it needs no window.
#include <QImage>
#include <QRect>
#include <functional>

#include "imaging/core/KVResampleFilter.h"
#include "imaging/view/KVLayer.h"
#include "imaging/view/KVViewBackground.h"
#include "imaging/view/KVViewport.h"

class TKVBitmap;

struct TKVComposition {
    TKVBackground background;
    TResampleFilter zoomFilter = rfNone;
    bool filterDelayed = false;  // scrolling or zooming goes on: draw unfiltered for now
    bool enableAlpha = false;
    bool showFrames = false;  // the current framed layer gets its dotted frame
    bool showGrips = false;   // ... and its eight grips, unless pinned
    // Called before the built-in background; setting handled skips it.
    std::function<void(QImage& target, const QRect& rect, bool& handled)> onDrawBackground;
};

// `bitmap` is the view's current bitmap. Leaves the back buffer untouched when that bitmap's
// alpha channel is not of its size. Each drawn layer's ClientRect is updated.
void KVPaintToBackBuffer(QImage& backBuffer, TKVBitmap& bitmap, TKVLayerList& layers, const TKVViewport& port,
                         const TKVComposition& composition);
