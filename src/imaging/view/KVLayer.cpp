#include "imaging/view/KVLayer.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "imaging/core/KVBitmap.h"
#include "imaging/view/KVViewport.h"

TKVLayer::TKVLayer(TKestovaView* view, bool useBitmap, TKVBitmap* bitmap) : View(view) {
    if (useBitmap) {
        Bitmap = bitmap;
        return;
    }
    auto own = std::make_unique<TKVBitmap>();
    if (bitmap) {
        own->SetLocation(bitmap->Location());
        own->Allocate(bitmap->GetWidth(), bitmap->GetHeight(), bitmap->GetPixelFormat());
    }
    Bitmap = own.release();
}

TKVLayer::~TKVLayer() {
    if (OwnsBitmap) delete Bitmap;
}

int TKVLayer::EffectiveWidth() const { return LayerWidth != 0 ? LayerWidth : Bitmap ? Bitmap->GetWidth() : 0; }
int TKVLayer::EffectiveHeight() const { return LayerHeight != 0 ? LayerHeight : Bitmap ? Bitmap->GetHeight() : 0; }

namespace {

int ToLayer(int bitmapPixel, int bitmapSize, int effectiveSize) {
    if (effectiveSize <= 0) return 0;
    return int(std::trunc(double(bitmapPixel) * bitmapSize / effectiveSize));
}

}  // namespace

int TKVLayer::ClientToLayerX(const TKVViewport& port, int x) const {
    const int shift = int(std::trunc(LayerLeft * port.Factor()));
    return ToLayer(port.ClientToBitmapX(x - shift), Bitmap->GetWidth(), EffectiveWidth());
}

int TKVLayer::ClientToLayerY(const TKVViewport& port, int y) const {
    const int shift = int(std::trunc(LayerTop * port.Factor()));
    return ToLayer(port.ClientToBitmapY(y - shift), Bitmap->GetHeight(), EffectiveHeight());
}

TKVLayer& TKVLayerList::Add(std::unique_ptr<TKVLayer> layer) {
    layers_.push_back(std::move(layer));
    return *layers_.back();
}

int TKVLayerList::LayerAt(const TKVViewport& port, int x, int y, bool selectTransparent) const {
    for (int i = Count() - 1; i >= 0; --i) {
        const TKVLayer& layer = *layers_[size_t(i)];
        const TRect& r = layer.ClientRect;
        if (x < r.Left || x > r.Right || y < r.Top || y > r.Bottom) continue;
        TKVBitmap& bitmap = *layer.Bitmap;
        if (selectTransparent || !bitmap.GetHasAlphaChannel()) return i;
        const int lx = std::clamp(layer.ClientToLayerX(port, x), 0, std::max(bitmap.GetWidth() - 1, 0));
        const int ly = std::clamp(layer.ClientToLayerY(port, y), 0, std::max(bitmap.GetHeight() - 1, 0));
        if (bitmap.GetAlpha(lx, ly) != 0) return i;
    }
    return -1;
}

void KVLayerGripPoints(const TRect& r, TPoint (&points)[8]) {
    const int midX = (r.Left + r.Right) / 2, midY = (r.Top + r.Bottom) / 2;
    points[0] = {r.Left, r.Top};
    points[1] = {r.Right, r.Top};
    points[2] = {r.Right, r.Bottom};
    points[3] = {r.Left, r.Bottom};
    points[4] = {r.Left, midY};
    points[5] = {r.Right, midY};
    points[6] = {midX, r.Top};
    points[7] = {midX, r.Bottom};
}

int TKVLayerList::LayerGripAt(int x, int y) const {
    if (Current < 0 || Current >= Count()) return 0;
    TPoint points[8];
    KVLayerGripPoints(layers_[size_t(Current)]->ClientRect, points);
    for (int i = 0; i < 8; ++i)
        if (std::abs(x - points[i].X) <= KVLayerGripSize && std::abs(y - points[i].Y) <= KVLayerGripSize) return i + 1;
    return 0;
}
