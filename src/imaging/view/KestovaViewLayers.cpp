// The view's layers and the composition of its back buffer.
#include "imaging/core/KVBitmap.h"
#include "imaging/view/KVLayerComposer.h"
#include "imaging/view/KVSelectionPainter.h"
#include "imaging/view/KestovaView.h"

void TKestovaView::UpdateLayerBitmaps() {
    layers_[layers_.Current].Bitmap = bitmap_;
    port_.x.bitmapSize = layers_[0].Bitmap->GetWidth();
    port_.y.bitmapSize = layers_[0].Bitmap->GetHeight();
}

TKVLayer& TKestovaView::AddLayer(std::unique_ptr<TKVLayer> layer) {
    TKVLayer& added = layers_.Add(std::move(layer));
    Update();
    return added;
}

void TKestovaView::SetCurrentLayer(int index) {
    if (index < 0 || index >= layers_.Count() || index == layers_.Current) return;
    UpdateLayerBitmaps();
    layers_.Current = index;
    bitmap_ = layers_[index].Bitmap;
    CallChangeHandlers();
    NotifyLayer(index, kvleCurrentChanged);
    Update();
}

int TKestovaView::LayerAt(int x, int y) {
    UpdateLayerBitmaps();
    return layers_.LayerAt(port_, x, y, selectionOptions_.Has(kvsoSelectTranspLayers));
}

void TKestovaView::NotifyLayer(int layer, int event) {
    if (OnLayerNotify) OnLayerNotify(layer, event);
}

void TKestovaView::SetEnableAlphaChannel(bool on) {
    enableAlpha_ = on;
    Update();
}

void TKestovaView::PaintToBackBuffer(QImage& backBuffer) {
    UpdateLayerBitmaps();
    port_.ComputeVisibleWindow();
    port_.BuildMapTables();
    TKVComposition composition;
    composition.background = background_;
    composition.zoomFilter = zoomFilter_;
    composition.filterDelayed = zoomFilterDelay_ > 0;
    composition.enableAlpha = enableAlpha_;
    composition.showFrames = mouseInteract_.Has(miMoveLayers) || mouseInteract_.Has(miResizeLayers);
    composition.showGrips = mouseInteract_.Has(miResizeLayers);
    composition.onDrawBackground = OnDrawBackground;
    KVPaintToBackBuffer(backBuffer, *bitmap_, layers_, port_, composition);
    if (selection_.Visible && selectionOptions_.Has(kvsoFilled)) KVDrawSelectionXor(backBuffer, selection_.Mask, port_);
    if (selection_.Visible && selectionOptions_.Has(kvsoMarkOuter))
        KVDrawOutsidePattern(backBuffer, selection_.Mask, port_);
    if (OnDrawBackBuffer) OnDrawBackBuffer();
}
