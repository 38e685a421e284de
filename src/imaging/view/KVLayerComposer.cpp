#include "imaging/view/KVLayerComposer.h"

#include <QPainter>
#include <algorithm>
#include <cstdint>
#include <cmath>
#include <memory>
#include <vector>

#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVBlend.h"
#include "imaging/core/KVResample.h"

namespace {

int Trunc(double v) { return int(std::trunc(v)); }
int Round(double v) { return int(std::nearbyint(v)); }

// Where the image is shown in the client area.
QRect ImageArea(const TKVViewport& port) {
    return QRect(port.x.imageStart, port.y.imageStart, std::min(port.x.drawSize, port.x.visible),
                 std::min(port.y.drawSize, port.y.visible));
}

// Where the whole layer lies in the client area, and the part of it that shows.
QRect PlacedRect(const TKVLayer& layer, const TKVViewport& port) {
    const double f = port.Factor();
    return QRect(port.x.imageStart - port.x.origin + Trunc(layer.LayerLeft * f),
                 port.y.imageStart - port.y.origin + Trunc(layer.LayerTop * f), Round(layer.EffectiveWidth() * f),
                 Round(layer.EffectiveHeight() * f));
}
QRect LayerArea(const TKVLayer& layer, const TKVViewport& port) {
    return PlacedRect(layer, port).intersected(ImageArea(port));
}

bool AlphaMatters(TKVBitmap& bitmap, bool enableAlpha) {
    return enableAlpha && bitmap.GetHasAlphaChannel() && !bitmap.GetAlphaChannel()->Full();
}

// The layer's pixel for each client pixel of the area, and its opacity there.
struct TLayerSource {
    virtual ~TLayerSource() = default;
    virtual TKVRGB Pixel(int i, int j) = 0;
};

class TNearestSource : public TLayerSource {
public:
    TNearestSource(TKVBitmap& bitmap, const std::vector<int>& columns, const std::vector<int>& rows)
        : bitmap_(bitmap), columns_(columns), rows_(rows) {}
    TKVRGB Pixel(int i, int j) override { return bitmap_.GetPixelRGB(columns_[size_t(i)], rows_[size_t(j)]); }

private:
    TKVBitmap& bitmap_;
    const std::vector<int>& columns_;
    const std::vector<int>& rows_;
};

// One axis of the filtered drawing: the bitmap pixels read, the size they are resampled to,
// and how far into the resampled row the shown area begins.
struct TFilterAxis {
    int first = 0, count = 0, scaledSize = 0, skip = 0;
};

// The view's own visible window; above 100 % its first zoomed pixel may be partly scrolled out.
TFilterAxis ImageAxis(const TKVAxis& axis, double zoom) {
    return {axis.first, axis.count, std::max(axis.drawSize, 1),
            zoom > 100.0 ? axis.origin - axis.map.StartOf(axis.origin) : 0};
}

// A filter reaches this many pixels beyond the one it computes; reading as far past the shown
// pixels keeps the edges of the shown part as they are in the whole layer.
constexpr int FilterReach = 3;

// The layer pixels from `first` to `last` of a layer `bitmapSize` pixels long that covers
// `placedSize` client pixels; the area begins `areaOffset` pixels into the layer.
TFilterAxis LayerAxis(int first, int last, int bitmapSize, int placedSize, int areaOffset) {
    first = std::max(first - FilterReach, 0);
    last = std::min(last + FilterReach, bitmapSize - 1);
    const double scale = double(placedSize) / bitmapSize;
    const int start = int(std::floor(first * scale));
    const int end = int(std::ceil((last + 1) * scale));
    return {first, last - first + 1, std::max(end - start, 1), areaOffset - start};
}

// The layer's pixels resampled to the size they cover on the screen.
class TFilteredSource : public TLayerSource {
public:
    TFilteredSource(TKVBitmap& bitmap, const TFilterAxis& x, const TFilterAxis& y, TResampleFilter filter)
        : skipX_(x.skip), skipY_(y.skip) {
        // A shrunk picture usually shows whole, and is then resampled without a copy.
        const bool whole = x.first == 0 && y.first == 0 && x.count == bitmap.GetWidth() && y.count == bitmap.GetHeight();
        TKVBitmap window;
        if (!whole) CopyWindow(bitmap, x, y, window);
        scaled_.Allocate(x.scaledSize, y.scaledSize, kv24RGB);
        KVResampleBitmap(whole ? bitmap : window, scaled_, filter);
    }
    TKVRGB Pixel(int i, int j) override {
        return scaled_.GetPixelRGB(std::clamp(i + skipX_, 0, scaled_.GetWidth() - 1),
                                   std::clamp(j + skipY_, 0, scaled_.GetHeight() - 1));
    }

private:
    static void CopyWindow(TKVBitmap& bitmap, const TFilterAxis& x, const TFilterAxis& y, TKVBitmap& window) {
        const TKVPixelFormat format = bitmap.GetPixelFormat();
        TKVAccessScope readOnly(bitmap, kvaRead);
        if (format == kv1Bit || format == kv24RGB) {
            window.Allocate(x.count, y.count, format);
            bitmap.CopyRectTo(window, x.first, y.first, x.count, y.count, 0, 0);
            return;
        }
        window.Allocate(x.count, y.count, kv24RGB);
        for (int j = 0; j < y.count; ++j) {
            auto* row = reinterpret_cast<TKVRGB*>(window.GetScanline(j));
            for (int i = 0; i < x.count; ++i) row[i] = bitmap.GetPixelRGB(x.first + i, y.first + j);
        }
    }

    TKVBitmap scaled_;
    int skipX_ = 0, skipY_ = 0;
};

// The filter a layer is drawn with: none while the delay runs, and none at its own size.
TResampleFilter FilterFor(const TKVLayer& layer, const TKVViewport& port, const TKVComposition& c) {
    if (c.filterDelayed) return rfNone;
    if (layer.LayerWidth == 0 && layer.LayerHeight == 0 && port.zoom == 100.0) return rfNone;
    return layer.UseFilter ? layer.Filter : c.zoomFilter;
}

// A layer lying exactly on the image shows the view's visible window.
bool OnTheImage(const TKVLayer& layer) {
    return layer.LayerLeft == 0 && layer.LayerTop == 0 && layer.LayerWidth == 0 && layer.LayerHeight == 0;
}

// Magnified so far that its resampled window would outgrow this, the layer is drawn unfiltered:
// a few of its pixels then fill the screen, and the filter changes little.
constexpr int64_t MaxFilteredPixels = int64_t(1) << 24;

std::unique_ptr<TLayerSource> FilteredSource(TKVLayer& layer, const QRect& area, const TKVViewport& port,
                                             const std::vector<int>& columns, const std::vector<int>& rows,
                                             TResampleFilter filter) {
    TKVBitmap& bitmap = *layer.Bitmap;
    if (OnTheImage(layer))
        return std::make_unique<TFilteredSource>(bitmap, ImageAxis(port.x, port.zoom), ImageAxis(port.y, port.zoom),
                                                 filter);
    const QRect placed = PlacedRect(layer, port);
    const TFilterAxis x =
        LayerAxis(columns.front(), columns.back(), bitmap.GetWidth(), placed.width(), area.left() - placed.left());
    const TFilterAxis y =
        LayerAxis(rows.front(), rows.back(), bitmap.GetHeight(), placed.height(), area.top() - placed.top());
    if (int64_t(x.scaledSize) * y.scaledSize > MaxFilteredPixels) return nullptr;
    return std::make_unique<TFilteredSource>(bitmap, x, y, filter);
}

void RenderLayer(QImage& target, TKVLayer& layer, const QRect& area, const TKVViewport& port,
                 const TKVComposition& c) {
    TKVBitmap& bitmap = *layer.Bitmap;
    const int width = bitmap.GetWidth(), height = bitmap.GetHeight();
    std::vector<int> columns(size_t(area.width())), rows(size_t(area.height()));
    for (int i = 0; i < area.width(); ++i)
        columns[size_t(i)] = std::clamp(layer.ClientToLayerX(port, area.left() + i), 0, width - 1);
    for (int j = 0; j < area.height(); ++j)
        rows[size_t(j)] = std::clamp(layer.ClientToLayerY(port, area.top() + j), 0, height - 1);
    const TResampleFilter filter = FilterFor(layer, port, c);
    std::unique_ptr<TLayerSource> source;
    if (filter != rfNone) source = FilteredSource(layer, area, port, columns, rows, filter);
    if (!source) source = std::make_unique<TNearestSource>(bitmap, columns, rows);
    TKVBitmap* alpha = AlphaMatters(bitmap, c.enableAlpha) ? bitmap.GetAlphaChannel() : nullptr;
    const int opacity = std::clamp(layer.Opacity, 0, 255);
    TKVAccessScope reading(bitmap, kvaRead);
    for (int j = 0; j < area.height(); ++j) {
        auto* out = reinterpret_cast<QRgb*>(target.scanLine(area.top() + j)) + area.left();
        // A bitmap kept in a file holds one row at a time in memory: copy the alpha row first.
        std::vector<uint8_t> alphaCopy;
        if (alpha) {
            const uint8_t* row = alpha->GetScanline(rows[size_t(j)]);
            alphaCopy.assign(row, row + width);
        }
        const uint8_t* alphaRow = alpha ? alphaCopy.data() : nullptr;
        for (int i = 0; i < area.width(); ++i) {
            const TKVRGB p = source->Pixel(i, j);
            const int a = alphaRow ? std::min<int>(opacity, alphaRow[columns[size_t(i)]]) : opacity;
            if (a == 255) {
                out[i] = qRgb(p.r, p.g, p.b);
                continue;
            }
            const QRgb d = out[i];
            out[i] = qRgb(KVBlendOpacity(p.r, qRed(d), a), KVBlendOpacity(p.g, qGreen(d), a),
                          KVBlendOpacity(p.b, qBlue(d), a));
        }
    }
}

// The first layer hides the background when it covers the whole buffer with opaque pixels.
bool CoversBackBuffer(TKVLayer& layer, const TKVViewport& port, const QImage& target, bool enableAlpha) {
    return port.x.imageStart < 1 && port.y.imageStart < 1 && port.x.drawSize >= target.width() &&
           port.y.drawSize >= target.height() && layer.Opacity > 254 && !AlphaMatters(*layer.Bitmap, enableAlpha);
}

void DrawBackground(QImage& target, const QRect& imageRect, const TKVComposition& c) {
    bool handled = false;
    if (c.onDrawBackground) c.onDrawBackground(target, target.rect(), handled);
    if (!handled) KVDrawBackground(target, c.background, imageRect);
}

void DrawFrame(QImage& target, const TKVLayer& layer, bool grips) {
    QPainter painter(&target);
    const TRect& r = layer.ClientRect;
    painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    painter.setPen(QPen(Qt::white, 1, Qt::DotLine));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRect(r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top).adjusted(0, 0, -1, -1));
    if (!grips) return;
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(Qt::white);
    TPoint points[8];
    KVLayerGripPoints(r, points);
    for (const TPoint& p : points)
        painter.drawRect(QRect(p.X - KVLayerGripSize, p.Y - KVLayerGripSize, 2 * KVLayerGripSize, 2 * KVLayerGripSize));
}

}  // namespace

void KVPaintToBackBuffer(QImage& backBuffer, TKVBitmap& bitmap, TKVLayerList& layers, const TKVViewport& port,
                         const TKVComposition& c) {
    if (bitmap.GetHasAlphaChannel()) {
        TKVBitmap* alpha = bitmap.GetAlphaChannel();
        if (alpha->GetWidth() != bitmap.GetWidth() || alpha->GetHeight() != bitmap.GetHeight()) return;
    }
    const bool empty = bitmap.GetWidth() <= 0 || bitmap.GetHeight() <= 0;
    const bool drawSize = port.x.drawSize > 0 && port.y.drawSize > 0;
    bool drawn = false;
    for (int i = 0; i < layers.Count() && !empty && drawSize; ++i) {
        TKVLayer& layer = layers[i];
        if (!layer.Visible || !layer.Bitmap || (layer.Bitmap->GetWidth() < 2 && layer.Bitmap->GetHeight() < 2))
            continue;
        if (layer.Bitmap->GetWidth() < 1 || layer.Bitmap->GetHeight() < 1) continue;
        if (!drawn && !CoversBackBuffer(layer, port, backBuffer, c.enableAlpha))
            DrawBackground(backBuffer, ImageArea(port), c);
        drawn = true;
        const QRect area = LayerArea(layer, port).intersected(backBuffer.rect());
        layer.ClientRect = {area.left(), area.top(), area.left() + area.width(), area.top() + area.height()};
        if (!area.isEmpty()) RenderLayer(backBuffer, layer, area, port, c);
        if (layer.Framed && i == layers.Current && (c.showFrames || c.showGrips))
            DrawFrame(backBuffer, layer, c.showGrips && !layer.Pinned);
    }
    if (!drawn) DrawBackground(backBuffer, QRect(), c);
}
