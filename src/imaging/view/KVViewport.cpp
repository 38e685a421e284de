#include "imaging/view/KVViewport.h"

#include <algorithm>
#include <cmath>

namespace {

int Trunc(double v) { return static_cast<int>(std::trunc(v)); }
int Round(double v) { return static_cast<int>(std::nearbyint(v)); }

}  // namespace

void TKVAxisMap::Build(double z, int zoomedSize, int draw, int bitmap) {
    if (z == zoom && draw == drawSize && bitmap == bitmapSize) return;
    zoom = z;
    drawSize = draw;
    bitmapSize = bitmap;
    clientToBitmap.clear();
    bitmapToClient.clear();
    if (draw <= 0 || bitmap <= 0) return;
    const double factor = z / 100.0, inverse = 100.0 / z;
    const int clientCount = zoomedSize + draw + 1;
    const int bitmapCount = Trunc(clientCount * inverse) + 1;
    clientToBitmap.assign(clientCount, 0);
    bitmapToClient.assign(bitmapCount, 0);
    // Walking downwards leaves the first pixel that maps to each entry.
    if (z > 100) {
        for (int j = clientCount - 1; j >= 0; --j) {
            const int b = std::min(Trunc(j * inverse), bitmap - 1);
            clientToBitmap[j] = b;
            bitmapToClient[b] = j;
        }
    } else {
        for (int k = bitmapCount - 1; k >= 0; --k) {
            const int c = std::min(Trunc(k * factor), clientCount - 1);
            bitmapToClient[k] = c;
            clientToBitmap[c] = std::min(k, bitmap - 1);
        }
    }
}

int TKVAxisMap::StartOf(int origin) const {
    if (origin < 0 || origin >= static_cast<int>(clientToBitmap.size())) return origin;
    return bitmapToClient[clientToBitmap[origin]];
}

void TKVViewport::GetMaxOrigin(int& maxX, int& maxY) const {
    const double f = Factor();
    int zw = Trunc(x.bitmapSize * f), zh = Trunc(y.bitmapSize * f);
    // Beyond a few pixels the last, partly shown bitmap pixel must scroll fully into view.
    if (zw - x.clientSize > 10 || zh - y.clientSize > 10) {
        zw = Trunc((x.bitmapSize + 1) * f);
        zh = Trunc((y.bitmapSize + 1) * f);
    }
    maxX = maxY = 0;
    if (zw < 1 || zh < 1) return;
    maxX = std::max(zw - x.clientSize, 0);
    maxY = std::max(zh - y.clientSize, 0);
    if (Trunc(maxX * Inverse()) == 0) maxX = 0;
    if (Trunc(maxY * Inverse()) == 0) maxY = 0;
    if (x.outerSize >= zw && y.outerSize >= zh) maxX = maxY = 0;
}

bool TKVViewport::ClampOrigin() {
    int maxX, maxY;
    GetMaxOrigin(maxX, maxY);
    const int oldX = x.origin, oldY = y.origin;
    x.origin = std::clamp(x.origin, 0, maxX);
    y.origin = std::clamp(y.origin, 0, maxY);
    return x.origin < oldX || y.origin < oldY;
}

void TKVViewport::ApplyZoom(double value) {
    int maxX, maxY;
    GetMaxOrigin(maxX, maxY);
    const double oldInverse = Inverse();
    const auto keepCentre = [&](TKVAxis& axis, int maxOrigin) {
        const int half = axis.clientSize >> 1;
        const int bitmapPoint = Round((half + axis.origin - axis.imageStart) * oldInverse);
        axis.origin = std::clamp(Trunc(bitmapPoint * value / 100.0 - half), 0, maxOrigin);
    };
    keepCentre(x, maxX);
    keepCentre(y, maxY);
    zoom = value;
}

double TKVViewport::GetFitZoom(int marginX, int marginY) const {
    if (x.bitmapSize <= 0 || y.bitmapSize <= 0) return 100.0;
    return std::min((x.outerSize - 2 * marginX) * 100.0 / x.bitmapSize,
                    (y.outerSize - 2 * marginY) * 100.0 / y.bitmapSize);
}

double TKVViewport::AutoFitZoom(int availWidth, int availHeight, bool stretch, bool shrink, int marginX,
                                int marginY) const {
    if (x.bitmapSize <= 1 && y.bitmapSize <= 1) return 100.0;
    if (availWidth <= 0 || availHeight <= 0) return 100.0;
    const bool widthDecides =
        double(x.bitmapSize) / availWidth > double(y.bitmapSize) / availHeight;
    const bool larger = widthDecides ? x.bitmapSize > availWidth : y.bitmapSize > availHeight;
    const bool permitted = larger ? shrink : stretch;
    const double fitted = permitted ? GetFitZoom(marginX, marginY) : 100.0;
    return std::max(fitted, 1.0);
}

void TKVViewport::OriginForZoomAround(int bx, int by, int cx, int cy, bool centred, int& originX,
                                      int& originY) const {
    const double f = Factor();
    if (centred) {
        originX = Trunc(bx * f - x.clientSize / 2.0);
        originY = Trunc(by * f - y.clientSize / 2.0);
    } else {
        originX = Trunc(bx * f - cx + f);
        originY = Trunc(by * f - cy + f);
    }
}

void TKVViewport::ComputeZoomedSize() {
    for (TKVAxis* axis : {&x, &y}) {
        axis->zoomedSize = Round(axis->bitmapSize * Factor());
        axis->visible = std::min(axis->zoomedSize, axis->clientSize);
        axis->imageStart = center && axis->visible < axis->clientSize ? (axis->clientSize - axis->visible) >> 1 : 0;
    }
}

void TKVViewport::ComputeVisibleAxis(TKVAxis& axis) const {
    if (axis.zoomedSize <= 0 || axis.bitmapSize <= 0) {
        axis.first = axis.count = axis.drawSize = 0;
        return;
    }
    const double ratio = double(axis.bitmapSize) / axis.zoomedSize;
    // Tables built for another zoom cannot say where a zoomed pixel starts: build a fresh one.
    TKVAxisMap fresh;
    const TKVAxisMap* map = &axis.map;
    if (axis.map.zoom != zoom || axis.map.bitmapSize != axis.bitmapSize || axis.map.clientToBitmap.empty()) {
        fresh.Build(zoom, axis.zoomedSize, std::max(axis.visible, 1), axis.bitmapSize);
        map = &fresh;
    }
    const int start = map->StartOf(axis.origin);
    axis.first = Round(start * ratio);
    axis.count = Round(ratio * axis.visible);
    if (axis.first + axis.count > axis.bitmapSize) axis.count -= 1;
    if (zoom <= 100) {
        axis.drawSize = axis.visible;
        return;
    }
    axis.drawSize = Trunc(axis.count * Factor());
    if (axis.drawSize < axis.visible && axis.first + axis.count + 1 <= axis.bitmapSize) {
        axis.count += 1;
        axis.drawSize = Trunc(axis.count * Factor());
    }
}

void TKVViewport::ComputeVisibleWindow() {
    ComputeVisibleAxis(x);
    ComputeVisibleAxis(y);
}

void TKVViewport::BuildMapTables() {
    x.map.Build(zoom, x.zoomedSize, x.drawSize, x.bitmapSize);
    y.map.Build(zoom, y.zoomedSize, y.drawSize, y.bitmapSize);
}

int TKVViewport::ClientToBitmap(const TKVAxis& axis, int c) const {
    const int d = c - axis.imageStart;
    const int index = axis.origin + d;
    if (d >= 0 && d < axis.drawSize && index < static_cast<int>(axis.map.clientToBitmap.size()))
        return axis.map.clientToBitmap[index];
    return Trunc(d * Inverse() + axis.first);
}

int TKVViewport::BitmapToClient(const TKVAxis& axis, int b) const {
    const int d = b - axis.first;
    if (d >= 0 && d < axis.count && b < static_cast<int>(axis.map.bitmapToClient.size()))
        return axis.map.bitmapToClient[b] - axis.origin + axis.imageStart;
    const int start = axis.map.StartOf(axis.origin);
    return Round((Round(-start * Inverse()) + b) * Factor() + axis.imageStart);
}

bool TKVViewport::CanScroll() const {
    int maxX, maxY;
    GetMaxOrigin(maxX, maxY);
    return maxX > 0 || maxY > 0;
}

void TKVViewport::Recompute() {
    ComputeZoomedSize();
    ClampOrigin();
    ComputeVisibleWindow();
    BuildMapTables();
}

int KVScrollLineStep(double factor, int configured) {
    const int unit = std::max(Trunc(factor), 1);
    return configured == -1 ? unit : unit * configured;
}

int KVScrollPageStep(double factor, int configured, int clientSize) {
    return configured == -1 ? clientSize : std::max(Trunc(factor), 1) * configured;
}

double KVScrollScale(int clientSize, int maxOrigin) { return (clientSize + maxOrigin) / 65536.0; }

int KVWheelDirection(int delta, const TKVMouseWheelParams& params) {
    const int d = delta > 0 ? -1 : 1;
    return params.InvertDirection ? -d : d;
}

double KVWheelZoom(double zoom, int delta, const TKVMouseWheelParams& params) {
    const int d = KVWheelDirection(delta, params);
    if (params.Variation == kvwvAbsolute) return zoom + d * params.Value;
    return zoom + d * std::max(Round(params.Value * zoom / 100.0), 1);
}

int KVWheelScroll(double factor, int clientSize, int delta, const TKVMouseWheelParams& params) {
    const int d = KVWheelDirection(delta, params);
    if (params.Variation == kvwvAbsolute) return d * params.Value * std::max(Trunc(factor), 1);
    return d * std::max(Round(clientSize * params.Value / 100.0), 1);
}

bool KVChessboardIsBackground(int px, int py, int squareSize) {
    const int size = std::max(squareSize, 1);
    return ((px / size) + (py / size)) % 2 == 0;
}
