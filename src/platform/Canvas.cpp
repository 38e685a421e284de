#include "Canvas.h"

#include "Exception.h"

namespace {

TCanvasFactory& Factory() {
    static TCanvasFactory factory;
    return factory;
}

}  // namespace

void SetCanvasFactory(TCanvasFactory factory) { Factory() = std::move(factory); }

void TCanvas::Draw(int x, int y, const TGraphic& graphic) {
    StretchDraw(Rect(x, y, x + graphic.Width(), y + graphic.Height()), graphic);
}

void TCanvas::StretchDraw(const TRect& rect, const TGraphic& graphic) {
    if (!graphic.Empty() && rect.Width() > 0 && rect.Height() > 0) graphic.Draw(*this, rect);
}

void TBitmap::Draw(TCanvas& canvas, const TRect& rect) const { canvas.DrawBitmap(rect, *this); }

TBitmap::CanvasSlot::CanvasSlot() = default;
TBitmap::CanvasSlot::CanvasSlot(const CanvasSlot&) {}
TBitmap::CanvasSlot::~CanvasSlot() = default;

TCanvas& TBitmap::Canvas() {
    if (!canvas_.canvas) {
        if (!Factory())
            throw EInvalidOperation("Bitmap canvas unavailable: no drawing engine is installed (InstallQtCanvas)");
        canvas_.canvas = Factory()(*this);
    }
    return *canvas_.canvas;
}
