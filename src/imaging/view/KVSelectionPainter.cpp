#include "imaging/view/KVSelectionPainter.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

#include "imaging/view/KVSelectionGrips.h"
#include "imaging/view/KVViewBackground.h"

namespace {

QRect ImageArea(const TKVViewport& port, const QImage& target) {
    return QRect(port.x.imageStart, port.y.imageStart, std::min(port.x.drawSize, port.x.visible),
                 std::min(port.y.drawSize, port.y.visible))
        .intersected(target.rect());
}

// Whether each shown pixel of the image area is selected, row by row.
class TSelectedGrid {
public:
    TSelectedGrid(const TKVMask& mask, const TKVViewport& port, const QRect& area) : area_(area) {
        std::vector<int> columns(size_t(area.width()));
        for (int i = 0; i < area.width(); ++i) columns[size_t(i)] = port.ClientToBitmapX(area.left() + i);
        cells_.assign(size_t(area.width()) * size_t(area.height()), 0);
        for (int j = 0; j < area.height(); ++j) {
            const int by = port.ClientToBitmapY(area.top() + j);
            for (int i = 0; i < area.width(); ++i)
                cells_[size_t(j) * size_t(area.width()) + size_t(i)] = mask.IsPointIn(columns[size_t(i)], by);
        }
    }
    // Client coordinates; outside the area nothing is selected.
    bool At(int x, int y) const {
        if (!area_.contains(x, y)) return false;
        return cells_[size_t(y - area_.top()) * size_t(area_.width()) + size_t(x - area_.left())] != 0;
    }

private:
    QRect area_;
    std::vector<uint8_t> cells_;
};

QRgb Dash(int x, int y, int phase, TColor a, TColor b) {
    return ((x + y + phase) & 4) == 0 ? KVToQColor(a).rgb() : KVToQColor(b).rgb();
}

// Calls paint(pixel, x, y, grid) for every shown pixel of the image.
template <typename Paint>
void ForEachShownPixel(QImage& target, const TKVMask& mask, const TKVViewport& port, Paint paint) {
    if (mask.IsEmpty()) return;
    const QRect area = ImageArea(port, target);
    const TSelectedGrid grid(mask, port, area);
    for (int y = area.top(); y <= area.bottom(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(target.scanLine(y));
        for (int x = area.left(); x <= area.right(); ++x) paint(row[x], x, y, grid);
    }
}

}  // namespace

void KVDrawSelectionXor(QImage& target, const TKVMask& mask, const TKVViewport& port) {
    ForEachShownPixel(target, mask, port, [](QRgb& pixel, int x, int y, const TSelectedGrid& grid) {
        if (grid.At(x, y)) pixel ^= 0x00FFFFFF;
    });
}

void KVDrawOutsidePattern(QImage& target, const TKVMask& mask, const TKVViewport& port) {
    ForEachShownPixel(target, mask, port, [](QRgb& pixel, int x, int y, const TSelectedGrid& grid) {
        if ((x & 1) == (y & 1) && !grid.At(x, y)) pixel = qRgb(97, 97, 97);
    });
}

void KVDrawMaskOutline(QImage& target, const TKVMask& mask, const TKVViewport& port, TColor colorA, TColor colorB,
                       int phase) {
    ForEachShownPixel(target, mask, port, [&](QRgb& pixel, int x, int y, const TSelectedGrid& grid) {
        if (!grid.At(x, y)) return;
        for (int ny = y - 1; ny <= y + 1; ++ny)
            for (int nx = x - 1; nx <= x + 1; ++nx)
                if (!grid.At(nx, ny)) {
                    pixel = Dash(x, y, phase, colorA, colorB);
                    return;
                }
    });
}

namespace {

QPoint ToClient(const TKVViewport& port, TPoint p) { return QPoint(port.BitmapToClientX(p.X), port.BitmapToClientY(p.Y)); }

// A dashed line with a pixel step along its longer axis; the dash counter runs on over the edges.
void DashedLine(QImage& target, QPoint a, QPoint b, int& dash, TColor colorA, TColor colorB) {
    const int steps = std::max(std::abs(b.x() - a.x()), std::abs(b.y() - a.y()));
    for (int i = 0; i <= steps; ++i, ++dash) {
        const int x = steps == 0 ? a.x() : a.x() + int(std::lround(double(b.x() - a.x()) * i / steps));
        const int y = steps == 0 ? a.y() : a.y() + int(std::lround(double(b.y() - a.y()) * i / steps));
        if (!target.rect().contains(x, y)) continue;
        reinterpret_cast<QRgb*>(target.scanLine(y))[x] = KVToQColor((dash & 4) == 0 ? colorA : colorB).rgb();
    }
}

}  // namespace

void KVDrawPolygonBorder(QImage& target, const TKVSelection& selection, const TKVViewport& port, int phase,
                         bool grips, bool middles) {
    const std::vector<TPoint>& points = selection.Points();
    int dash = phase;
    size_t start = 0;
    for (size_t i = 0; i <= points.size(); ++i) {
        if (i < points.size() && points[i] != TKVSelection::Break) continue;
        for (size_t k = start; k + 1 < i; ++k)
            DashedLine(target, ToClient(port, points[k]), ToClient(port, points[k + 1]), dash, selection.BorderColorA,
                       selection.BorderColorB);
        if (i - start >= 3)
            DashedLine(target, ToClient(port, points[i - 1]), ToClient(port, points[start]), dash,
                       selection.BorderColorA, selection.BorderColorB);
        start = i + 1;
    }
    if (!grips || !selection.IsRectangle()) return;
    QPainter painter(&target);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(Qt::white);
    std::vector<QPoint> squares;
    for (int i = 0; i < 4; ++i) squares.push_back(ToClient(port, points[size_t(i)]));
    if (middles)
        for (int i = 0; i < 4; ++i) squares.push_back((squares[size_t(i)] + squares[size_t((i + 1) % 4)]) / 2);
    for (const QPoint& p : squares)
        painter.drawRect(QRect(p.x() - KVGripSize, p.y() - KVGripSize, 2 * KVGripSize, 2 * KVGripSize));
}

void KVDrawRubberBand(QImage& target, TPoint from, TPoint to) {
    QPainter painter(&target);
    painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    painter.setPen(QPen(Qt::white, 1));
    painter.drawLine(from.X, from.Y, to.X, to.Y);
}
