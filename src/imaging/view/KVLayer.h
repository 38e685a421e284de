#pragma once
// The layers of the image view, bottom first: a bitmap placed in bitmap pixels with its own
// size, opacity and frame, and the hit tests of the mouse on them. No window is involved.
#include <memory>
#include <vector>

#include "imaging/core/KVResampleFilter.h"
#include "platform/Graphics.h"

class TKVBitmap;
class TKVViewport;
class TKestovaView;

enum TKVMagnifyShape { kvmsRectangle, kvmsEllipse };
enum TKVMagnifySource { kvmsImage };

// What happened to a layer, as OnLayerNotify tells it.
enum TKVLayerEvent {
    kvleCurrentChanged,
    kvleMoveEnded,
    kvleResizeEnded,
    kvleMoving,
    kvleResizing,
};

class TKVLayer {
public:
    // With useBitmap the layer takes `bitmap`, otherwise it makes one of the same size and
    // format; either way it owns what it holds.
    TKVLayer(TKestovaView* view, bool useBitmap, TKVBitmap* bitmap);
    ~TKVLayer();
    TKVLayer(const TKVLayer&) = delete;
    TKVLayer& operator=(const TKVLayer&) = delete;

    int LayerWidth = 0, LayerHeight = 0;  // 0: the bitmap's own
    TKestovaView* View = nullptr;
    TKVBitmap* Bitmap = nullptr;
    bool Visible = true;
    bool Framed = true;
    int Opacity = 255;
    int LayerLeft = 0, LayerTop = 0;  // bitmap pixels
    TRect ClientRect{};               // where the last composition put it
    bool Clipped = false;
    bool Pinned = false;  // the mouse cannot move or resize it
    bool MagnifyEnabled = false;
    double Magnify = 2.0;
    TKVMagnifyShape MagnifyShape = kvmsRectangle;
    TKVMagnifySource MagnifySource = kvmsImage;
    int DrawingMode = 0;
    int Reserved = 0;
    bool OwnsBitmap = true;
    TResampleFilter Filter = rfNone;
    bool UseFilter = false;

    int EffectiveWidth() const;
    int EffectiveHeight() const;
    // The layer pixel under a client point of the view.
    int ClientToLayerX(const TKVViewport& port, int x) const;
    int ClientToLayerY(const TKVViewport& port, int y) const;
};

class TKVLayerList {
public:
    int Count() const { return int(layers_.size()); }
    TKVLayer& operator[](int index) { return *layers_[size_t(index)]; }
    const TKVLayer& operator[](int index) const { return *layers_[size_t(index)]; }
    TKVLayer& Add(std::unique_ptr<TKVLayer> layer);
    int Current = 0;

    // The topmost layer hit at the client point, -1 for none. A layer with an alpha channel is
    // hit only where it is not fully transparent, unless selectTransparent.
    int LayerAt(const TKVViewport& port, int x, int y, bool selectTransparent) const;
    // The grip 1..8 of the current layer under the client point, 0 for none: top-left,
    // top-right, bottom-right, bottom-left, left middle, right middle, top middle, bottom middle.
    int LayerGripAt(int x, int y) const;

private:
    std::vector<std::unique_ptr<TKVLayer>> layers_;
};

// The eight grip points of a layer's client rectangle, in grip order.
void KVLayerGripPoints(const TRect& r, TPoint (&points)[8]);
// A layer grip square reaches this far on each side of its point.
constexpr int KVLayerGripSize = 4;
