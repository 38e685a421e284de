#include "imaging/core/KVDrawing.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <numbers>

#include "imaging/core/KVBitmap.h"
#include "platform/Canvas.h"

void KVDrawBevel(TCanvas& canvas, int left, int top, int right, int bottom, TColor topLeftColor,
                 TColor bottomRightColor) {
    canvas.Pen.Style = TPenStyle::psSolid;
    canvas.Pen.Mode = TPenMode::pmCopy;
    canvas.Pen.Width = 1;
    canvas.Pen.Color = topLeftColor;
    canvas.MoveTo(left, bottom);
    canvas.LineTo(left, top);
    canvas.LineTo(right, top);
    canvas.Pen.Color = bottomRightColor;
    canvas.MoveTo(left, bottom);
    canvas.LineTo(right, bottom);
    // Lines stop short of their end point: going on to (right, top - 1) closes the top-right corner.
    canvas.LineTo(right, top - 1);
}

namespace {

// A strip `across` pixels wide and `along` pixels long; at(i, j) is the canvas point of the
// pixel i across and j along it, across counted from the picture's side.
template <class At>
void DrawShadow(TCanvas& canvas, int across, int along, TColor color, int kind, At at) {
    if (kind == 2) {
        const TColor rgb = ColorToRGB(color);
        canvas.Pen.Style = TPenStyle::psSolid;
        canvas.Pen.Mode = TPenMode::pmCopy;
        canvas.Pen.Width = 1;
        for (int c = 0; c < across; ++c) {
            const double h = (across - c) / (across / 3.0);
            const double factor = std::exp(-0.1 - h * h / 6);
            canvas.Pen.Color = RGB(int(GetRValue(rgb) * factor), int(GetGValue(rgb) * factor), int(GetBValue(rgb) * factor));
            const TPoint start = at(c, 0), end = at(c, along);
            canvas.MoveTo(start.X, start.Y);
            canvas.LineTo(end.X, end.Y);
        }
    } else if (kind == 3) {
        const int cutFrom = along - across + 2;
        for (int j = 0; j < along; ++j) {
            const int level = std::clamp(int(std::exp(double(along - 3 * j) / along) / std::numbers::e * 255), 0, 255);
            for (int i = j >= cutFrom ? j - cutFrom + 1 : 0; i < across; ++i) {
                const int gray = std::max(int(std::exp(double(i) / across) / std::numbers::e * 255), level);
                const TPoint p = at(i, j);
                canvas.SetPixels(p.X, p.Y, RGB(gray, gray, gray));
            }
        }
    }
}

}  // namespace

void KVDrawShadowVert(TCanvas& canvas, const TRect& rect, TColor color, int kind) {
    if (kind == 1) canvas.FillRect(rect);
    else
        DrawShadow(canvas, rect.Width(), rect.Height(), color, kind,
                   [&](int i, int j) { return TPoint{rect.Left + i, rect.Top + j}; });
}

void KVDrawShadowHorz(TCanvas& canvas, const TRect& rect, TColor color, int kind) {
    if (kind == 1) canvas.FillRect(rect);
    else
        DrawShadow(canvas, rect.Height(), rect.Width(), color, kind,
                   [&](int i, int j) { return TPoint{rect.Left + j, rect.Top + i}; });
}

std::unique_ptr<TKVDrawDib> KVDrawDibOpen() { return std::make_unique<TKVDrawDib>(); }

bool KVDrawDibClose(std::unique_ptr<TKVDrawDib>& handle) {
    if (!handle) return false;
    handle.reset();
    return true;
}

bool KVDrawDibDraw(TKVDrawDib* handle, TCanvas& canvas, int xDst, int yDst, int dxDst, int dyDst,
                   TKVBaseBitmap& source, int xSrc, int ySrc, int dxSrc, int dySrc) {
    const TKVPixelFormat format = source.GetPixelFormat();
    if (!handle || (format != kv1Bit && format != kv8Paletted && format != kv8Gray && format != kv24RGB)) return false;
    if (dxDst <= 0 || dyDst <= 0 || dxSrc <= 0 || dySrc <= 0 || xSrc < 0 || ySrc < 0 ||
        int64_t(xSrc) + dxSrc > source.GetWidth() || int64_t(ySrc) + dySrc > source.GetHeight())
        return false;
    std::array<TKVRGB, 256> colors;
    for (int i = 0; i < 256; ++i) {
        colors[size_t(i)] = TKVRGB{uint8_t(i), uint8_t(i), uint8_t(i)};
        if (format == kv8Paletted) source.GetPaletteEntry(i, colors[size_t(i)]);
    }
    TBitmap picture;
    picture.SetPixelFormat(TPixelFormat::pf24bit);
    picture.SetSize(dxSrc, dySrc);
    TKVAccessScope reading(source, kvaRead);
    for (int y = 0; y < dySrc; ++y) {
        const uint8_t* row = source.GetScanline(ySrc + y);
        uint8_t* out = picture.ScanLine(y);
        if (format == kv24RGB) {
            std::memcpy(out, row + 3 * int64_t(xSrc), size_t(dxSrc) * 3);
            continue;
        }
        for (int x = 0; x < dxSrc; ++x) {
            const int sx = xSrc + x;
            TKVRGB pixel;
            if (format == kv1Bit) pixel = (row[sx >> 3] & (0x80 >> (sx & 7))) ? TKVRGB{255, 255, 255} : TKVRGB{};
            else pixel = colors[row[sx]];
            std::memcpy(out + 3 * int64_t(x), &pixel, 3);
        }
    }
    canvas.StretchDraw(Rect(xDst, yDst, xDst + dxDst, yDst + dyDst), picture);
    return true;
}

int KVDrawDibRealize(TKVDrawDib*, TCanvas&, bool) { return 0; }
