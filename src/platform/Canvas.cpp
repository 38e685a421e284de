#include "Canvas.h"

#include "Exception.h"

namespace {

TCanvasFactory& Factory() {
    static TCanvasFactory factory;
    return factory;
}

}  // namespace

void SetCanvasFactory(TCanvasFactory factory) { Factory() = std::move(factory); }

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
