#include "imaging/core/KVMask.h"

#include <algorithm>
#include <cstring>

#include "imaging/core/KVBasicHelpers.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVBlend.h"
#include "imaging/core/KVBits.h"
#include "platform/Canvas.h"

void TKVMask::AllocateBits(int width, int height, int bitsPerPixel) {
    FreeBits();
    if (width <= 0 || height <= 0 || (bitsPerPixel != 1 && bitsPerPixel != 8)) return;
    rowLen_ = KVBitmapRowLen(width, bitsPerPixel, 32);
    bits_.assign(size_t(rowLen_ * height), 0);
    width_ = width;
    height_ = height;
    bitsPerPixel_ = bitsPerPixel;
    X1 = Y1 = EmptyBox;
    X2 = Y2 = 0;
    full_ = false;
}

void TKVMask::FreeBits() {
    bits_.clear();
    bits_.shrink_to_fit();
    zoomBits_.clear();
    zoomStale_ = true;
    width_ = height_ = bitsPerPixel_ = 0;
    rowLen_ = 0;
}

void TKVMask::Resize(int width, int height) {
    if (bitsPerPixel_ == 0 || width <= 0 || height <= 0) return;
    const int64_t newRowLen = KVBitmapRowLen(width, bitsPerPixel_, 32);
    std::vector<uint8_t> bits(size_t(newRowLen * height), 0);
    const int rows = std::min(height_, height);
    const size_t bytes = size_t(std::min(rowLen_, newRowLen));
    for (int y = 0; y < rows; ++y)
        std::memcpy(bits.data() + (height - y - 1) * newRowLen, GetScanline(y), bytes);
    bits_ = std::move(bits);
    width_ = width;
    height_ = height;
    rowLen_ = newRowLen;
    zoomStale_ = true;
    if (X1 < X2) {
        X1 = std::min(X1, width - 1);
        X2 = std::min(X2, width - 1);
        Y1 = std::min(Y1, height - 1);
        Y2 = std::min(Y2, height - 1);
    }
}

uint8_t* TKVMask::GetScanline(int y) {
    zoomStale_ = true;
    return bits_.data() + (height_ - y - 1) * rowLen_;
}

const uint8_t* TKVMask::GetScanline(int y) const { return bits_.data() + (height_ - y - 1) * rowLen_; }

int TKVMask::GetPixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
    const uint8_t* row = GetScanline(y);
    return bitsPerPixel_ == 1 ? (KVGetBit(row, x) ? 1 : 0) : row[x];
}

void TKVMask::UpdateFullOnWrite(int value) {
    if (full_ && bitsPerPixel_ == 8 && value != 255) full_ = false;
}

void TKVMask::ClipBox() {
    if (IsEmpty()) return;
    X1 = std::max(X1, 0);
    Y1 = std::max(Y1, 0);
    X2 = std::min(X2, width_ - 1);
    Y2 = std::min(Y2, height_ - 1);
}

void TKVMask::SetPixel(int x, int y, int value) {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
    if (value != 0) {
        if (IsEmpty()) {
            X1 = X2 = x;
            Y1 = Y2 = y;
        } else {
            X1 = std::min(X1, x);
            Y1 = std::min(Y1, y);
            X2 = std::max(X2, x);
            Y2 = std::max(Y2, y);
        }
    }
    UpdateFullOnWrite(value);
    uint8_t* row = GetScanline(y);
    if (bitsPerPixel_ == 1) KVSetBit(row, x, value != 0);
    else row[x] = uint8_t(value);
}

int TKVMask::SetSpan(int value, int x1, int y, int x2) {
    if (bitsPerPixel_ == 0) return 0;
    x1 = std::max(x1, 0);
    x2 = std::min(x2, width_ - 1);
    y = std::clamp(y, 0, height_ - 1);
    if (x1 > x2) return 0;
    UpdateFullOnWrite(value);
    uint8_t* row = GetScanline(y);
    if (bitsPerPixel_ == 8) std::memset(row + x1, value, size_t(x2 - x1 + 1));
    else
        for (int x = x1; x <= x2; ++x) KVSetBit(row, x, true);
    return x2 - x1 + 1;
}

void TKVMask::Fill(int value) {
    std::fill(bits_.begin(), bits_.end(), uint8_t(value));
    zoomStale_ = true;
    full_ = bitsPerPixel_ == 1 || value == 255;
}

void TKVMask::Clear() {
    Fill(0);
    X1 = Y1 = EmptyBox;
    X2 = Y2 = 0;
}

void TKVMask::SyncBoundingBox() {
    X1 = Y1 = EmptyBox;
    X2 = Y2 = 0;
    for (int y = 0; y < height_; ++y)
        for (int x = 0; x < width_; ++x)
            if (GetPixel(x, y) != 0) {
                X1 = std::min(X1, x);
                Y1 = std::min(Y1, y);
                X2 = std::max(X2, x);
                Y2 = std::max(Y2, y);
            }
}

void TKVMask::SyncFull() {
    for (int y = 0; y < height_; ++y)
        for (int x = 0; x < width_; ++x)
            if (GetPixel(x, y) != (bitsPerPixel_ == 1 ? 1 : 255)) {
                full_ = false;
                return;
            }
    full_ = bitsPerPixel_ != 0;
}

void TKVMask::FillPolygons(int value, const TPoint* points, int count) {
    int start = 0;
    for (int i = 0; i <= count; ++i) {
        if (i < count && points[i].X != PolygonBreak) continue;
        FillPolygon(value, points + start, i - start);
        start = i + 1;
    }
    SyncFull();
}

namespace {

struct Edge {
    int yTop, yBottom, xTop, dx, dy;
    // x on row y, stepping by dx / dy per row with the remainder carried.
    int XAt(int y) const { return xTop + int(int64_t(dx) * (y - yTop) / dy); }
};

}  // namespace

void TKVMask::FillPolygon(int value, const TPoint* points, int count) {
    if (count < 1 || bitsPerPixel_ == 0) return;
    const int savedBox[4] = {X1, Y1, X2, Y2};
    int minX = points[0].X, maxX = minX, minY = points[0].Y, maxY = minY;
    std::vector<Edge> edges;
    for (int i = 0; i < count; ++i) {
        const TPoint a = points[i], b = points[(i + 1) % count];
        minX = std::min(minX, a.X);
        maxX = std::max(maxX, a.X);
        minY = std::min(minY, a.Y);
        maxY = std::max(maxY, a.Y);
        if (a.Y == b.Y) continue;
        const TPoint& top = a.Y < b.Y ? a : b;
        const TPoint& bottom = a.Y < b.Y ? b : a;
        edges.push_back({top.Y, bottom.Y, top.X, bottom.X - top.X, bottom.Y - top.Y});
    }
    if (value != 0) {
        if (IsEmpty()) {
            X1 = minX, Y1 = minY, X2 = maxX - 1, Y2 = maxY - 1;
        } else {
            X1 = std::min(X1, minX), Y1 = std::min(Y1, minY);
            X2 = std::max(X2, maxX - 1), Y2 = std::max(Y2, maxY - 1);
        }
        ClipBox();
    }
    int written = 0;
    std::vector<const Edge*> active;
    for (int y = std::max(minY, 0); y < std::min(maxY, height_); ++y) {
        active.clear();
        for (const Edge& e : edges)
            if (e.yTop <= y && y < e.yBottom) active.push_back(&e);
        std::sort(active.begin(), active.end(), [y](const Edge* a, const Edge* b) {
            const int xa = a->XAt(y), xb = b->XAt(y);
            if (xa != xb) return xa < xb;
            return int64_t(a->dx) * b->dy < int64_t(b->dx) * a->dy;
        });
        for (size_t i = 0; i + 1 < active.size(); i += 2) {
            const int xa = active[i]->XAt(y), xb = active[i + 1]->XAt(y);
            if (xb - 1 >= xa) written += SetSpan(value, xa, y, xb - 1);
        }
    }
    // A polygon that wrote nothing takes back its own widening of the box, not the earlier selection.
    if (written == 0 && value != 0) X1 = savedBox[0], Y1 = savedBox[1], X2 = savedBox[2], Y2 = savedBox[3];
}

void TKVMask::Translate(int& dx, int& dy, bool clip) {
    if (IsEmpty() || bitsPerPixel_ == 0) return;
    int left = X1, top = Y1, right = X2, bottom = Y2;
    if (clip) {
        left = std::max(left, -dx);
        top = std::max(top, -dy);
        right = std::min(right, width_ - 1 - dx);
        bottom = std::min(bottom, height_ - 1 - dy);
    } else {
        if (X1 + dx < 0) dx = -X1;
        if (X2 + dx > width_ - 1) dx = width_ - 1 - X2;
        if (Y1 + dy < 0) dy = -Y1;
        if (Y2 + dy > height_ - 1) dy = height_ - 1 - Y2;
    }
    if (dx == 0 && dy == 0) return;
    // The kept part of the box, one byte per pixel, then the box is cleared and the part written back.
    const int w = std::max(right - left + 1, 0), h = std::max(bottom - top + 1, 0);
    std::vector<uint8_t> kept(size_t(int64_t(w) * h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) kept[size_t(int64_t(y) * w + x)] = uint8_t(GetPixel(left + x, top + y));
    for (int y = Y1; y <= Y2; ++y) {
        uint8_t* row = GetScanline(y);
        if (bitsPerPixel_ == 8) std::memset(row + X1, 0, size_t(X2 - X1 + 1));
        else
            for (int x = X1; x <= X2; ++x) KVSetBit(row, x, false);
    }
    for (int y = 0; y < h; ++y) {
        uint8_t* row = GetScanline(top + y + dy);
        for (int x = 0; x < w; ++x) {
            const uint8_t v = kept[size_t(int64_t(y) * w + x)];
            if (bitsPerPixel_ == 8) row[left + x + dx] = v;
            else KVSetBit(row, left + x + dx, v != 0);
        }
    }
    if (w == 0 || h == 0) {
        X1 = Y1 = EmptyBox;
        X2 = Y2 = 0;
        return;
    }
    X1 = left + dx, Y1 = top + dy, X2 = right + dx, Y2 = bottom + dy;
    ClipBox();
}

namespace {

// The columns and rows of the box whose source and destination pixels both exist.
struct MaskedArea {
    int x1, y1, x2, y2, sourceDx, sourceDy, destDx, destDy;
};

bool ClipMaskedArea(const TKVMask& mask, TKVBitmap& source, TKVBitmap& dest, bool sourceAtBox, bool destAtBox,
                    MaskedArea& area) {
    if (mask.IsEmpty() || source.IsEmpty() || dest.IsEmpty()) return false;
    area.sourceDx = sourceAtBox ? mask.X1 : 0, area.sourceDy = sourceAtBox ? mask.Y1 : 0;
    area.destDx = destAtBox ? mask.X1 : 0, area.destDy = destAtBox ? mask.Y1 : 0;
    area.x1 = std::max({mask.X1, 0, area.sourceDx, area.destDx});
    area.y1 = std::max({mask.Y1, 0, area.sourceDy, area.destDy});
    area.x2 = std::min({mask.X2, mask.Width() - 1, source.GetWidth() - 1 + area.sourceDx,
                        dest.GetWidth() - 1 + area.destDx});
    area.y2 = std::min({mask.Y2, mask.Height() - 1, source.GetHeight() - 1 + area.sourceDy,
                        dest.GetHeight() - 1 + area.destDy});
    return area.x1 <= area.x2 && area.y1 <= area.y2;
}

}  // namespace

void TKVMask::CopyBitmapMasked(TKVBitmap& source, TKVBitmap& dest, bool alpha, bool sourceAtBox, bool destAtBox) {
    const TKVPixelFormat format = source.GetPixelFormat();
    MaskedArea a;
    if (format == dest.GetPixelFormat() && ClipMaskedArea(*this, source, dest, sourceAtBox, destAtBox, a)) {
        const int size = KVBytesPerPixel(format);
        const bool blend = bitsPerPixel_ == 8 && (format == kv24RGB || format == kv8Gray || format == kv8Paletted);
        TKVAccessScope readSource(source, kvaRead);
        TKVAccessScope writeDest(dest, kvaReadWrite);
        for (int y = a.y1; y <= a.y2; ++y) {
            const uint8_t* m = GetScanline(y);
            const uint8_t* s = source.GetScanline(y - a.sourceDy);
            uint8_t* d = dest.GetScanline(y - a.destDy);
            for (int x = a.x1; x <= a.x2; ++x) {
                const int selection = bitsPerPixel_ == 1 ? (KVGetBit(m, x) ? 255 : 0) : m[x];
                if (selection == 0) continue;
                const int sx = x - a.sourceDx, dx = x - a.destDx;
                if (format == kv1Bit) {
                    KVSetBit(d, dx, KVGetBit(s, sx));
                } else if (blend) {
                    for (int c = 0; c < size; ++c) d[dx * size + c] =
                            KVBlendOpacity(s[sx * size + c], d[dx * size + c], selection);
                } else if (bitsPerPixel_ == 1) {
                    std::memcpy(d + int64_t(dx) * size, s + int64_t(sx) * size, size_t(size));
                }
            }
        }
    }
    if (alpha) CopyAlphaMasked(source, dest, sourceAtBox, destAtBox);
}

void TKVMask::CopyAlphaMasked(TKVBitmap& source, TKVBitmap& dest, bool sourceAtBox, bool destAtBox) {
    MaskedArea a;
    if (!ClipMaskedArea(*this, source, dest, sourceAtBox, destAtBox, a)) return;
    TKVBitmap* sourceAlpha = source.GetHasAlphaChannel() ? source.GetAlphaChannel() : nullptr;
    TKVBitmap& destAlpha = *dest.GetAlphaChannel();
    std::unique_ptr<TKVAccessScope> readSource;
    if (sourceAlpha) readSource = std::make_unique<TKVAccessScope>(*sourceAlpha, kvaRead);
    TKVAccessScope writeDest(destAlpha, kvaReadWrite);
    for (int y = a.y1; y <= a.y2; ++y) {
        const uint8_t* m = GetScanline(y);
        const uint8_t* s = sourceAlpha ? sourceAlpha->GetScanline(y - a.sourceDy) : nullptr;
        uint8_t* d = destAlpha.GetScanline(y - a.destDy);
        for (int x = a.x1; x <= a.x2; ++x) {
            const int value = s ? s[x - a.sourceDx] : 255;
            if (bitsPerPixel_ == 1) d[x - a.destDx] = KVGetBit(m, x) ? uint8_t(value) : 0;
            else d[x - a.destDx] = uint8_t(std::min(value, int(m[x])));
        }
    }
    destAlpha.SetFull(false);
}

int TKVMask::SourceColumn(int zx) const {
    return std::min(int((int64_t(zx) * ((int64_t(width_) << 14) / zoomWidth_)) >> 14), width_ - 1);
}

int TKVMask::SourceRow(int zy) const {
    return std::min(int((int64_t(zy) * ((int64_t(height_) << 14) / zoomHeight_)) >> 14), height_ - 1);
}

void KVStretchMaskArea(TKVMask& mask, int zoomWidth, int zoomHeight, const TRect& visible) {
    if (mask.IsEmpty() || zoomWidth <= 0 || zoomHeight <= 0) return;
    TRect area{int(int64_t(mask.X1) * zoomWidth / mask.width_), int(int64_t(mask.Y1) * zoomHeight / mask.height_),
               int((int64_t(mask.X2 + 1) * zoomWidth + mask.width_ - 1) / mask.width_),
               int((int64_t(mask.Y2 + 1) * zoomHeight + mask.height_ - 1) / mask.height_)};
    area = {std::max(area.Left, visible.Left), std::max(area.Top, visible.Top), std::min(area.Right, visible.Right),
            std::min(area.Bottom, visible.Bottom)};
    if (area.Right < area.Left) area.Right = area.Left;
    if (area.Bottom < area.Top) area.Bottom = area.Top;
    if (!mask.zoomStale_ && mask.zoomWidth_ == zoomWidth && mask.zoomHeight_ == zoomHeight && mask.zoomArea_ == area)
        return;
    mask.zoomWidth_ = zoomWidth;
    mask.zoomHeight_ = zoomHeight;
    mask.zoomArea_ = area;
    mask.zoomBits_.assign(size_t(int64_t(area.Width()) * area.Height()), 0);
    for (int zy = area.Top; zy < area.Bottom; ++zy) {
        const int y = mask.SourceRow(zy);
        for (int zx = area.Left; zx < area.Right; ++zx)
            mask.zoomBits_[size_t(int64_t(zy - area.Top) * area.Width() + zx - area.Left)] =
                mask.GetPixel(mask.SourceColumn(zx), y) != 0;
    }
    mask.zoomStale_ = false;
}

bool TKVMask::ZoomedSelected(int zx, int zy) const {
    if (zx < 0 || zy < 0 || zx >= zoomWidth_ || zy >= zoomHeight_) return false;
    const TRect& a = zoomArea_;
    if (zx >= a.Left && zx < a.Right && zy >= a.Top && zy < a.Bottom)
        return zoomBits_[size_t(int64_t(zy - a.Top) * a.Width() + zx - a.Left)] != 0;
    return GetPixel(SourceColumn(zx), SourceRow(zy)) != 0;
}

namespace {

// The canvas's area in zoomed coordinates.
TRect VisibleZoomed(int offsetX, int offsetY, int targetWidth, int targetHeight) {
    return {-offsetX, -offsetY, targetWidth - offsetX, targetHeight - offsetY};
}

}  // namespace

void TKVMask::DrawXor(TCanvas& canvas, int offsetX, int offsetY, int zoomWidth, int zoomHeight) {
    if (bitsPerPixel_ != 1 || IsEmpty() || zoomWidth <= 0 || zoomHeight <= 0) return;
    const TRect clip = canvas.ClipRect();
    KVStretchMaskArea(*this, zoomWidth, zoomHeight, VisibleZoomed(offsetX - clip.Left, offsetY - clip.Top,
                                                                  clip.Width(), clip.Height()));
    for (int zy = zoomArea_.Top; zy < zoomArea_.Bottom; ++zy)
        for (int zx = zoomArea_.Left; zx < zoomArea_.Right; ++zx)
            if (ZoomedSelected(zx, zy))
                canvas.SetPixels(zx + offsetX, zy + offsetY, canvas.Pixels(zx + offsetX, zy + offsetY) ^ 0xFFFFFF);
}

void TKVMask::DrawOutline(TCanvas& canvas, TColor color1, TColor color2, int offsetX, int offsetY, int zoomWidth,
                          int zoomHeight, int phase) {
    if (IsEmpty() || zoomWidth <= 0 || zoomHeight <= 0) return;
    const TRect clip = canvas.ClipRect();
    KVStretchMaskArea(*this, zoomWidth, zoomHeight, VisibleZoomed(offsetX - clip.Left, offsetY - clip.Top,
                                                                  clip.Width(), clip.Height()));
    for (int zy = zoomArea_.Top; zy < zoomArea_.Bottom; ++zy)
        for (int zx = zoomArea_.Left; zx < zoomArea_.Right; ++zx) {
            if (!ZoomedSelected(zx, zy)) continue;
            bool border = false;
            for (int ny = zy - 1; ny <= zy + 1 && !border; ++ny)
                for (int nx = zx - 1; nx <= zx + 1 && !border; ++nx) border = !ZoomedSelected(nx, ny);
            if (!border) continue;
            const int x = zx + offsetX, y = zy + offsetY;
            canvas.SetPixels(x, y, ((x + y + phase) & 4) == 0 ? color1 : color2);
        }
}

void TKVMask::DrawOutsidePattern(TBitmap& view, int offsetX, int offsetY, int zoomWidth, int zoomHeight) {
    if (IsEmpty() || zoomWidth <= 0 || zoomHeight <= 0 || view.PixelFormat() != TPixelFormat::pf24bit) return;
    KVStretchMaskArea(*this, zoomWidth, zoomHeight, VisibleZoomed(offsetX, offsetY, view.Width(), view.Height()));
    for (int zy = zoomArea_.Top; zy < zoomArea_.Bottom; ++zy) {
        const int y = zy + offsetY;
        uint8_t* row = view.ScanLine(y);
        for (int x = 0; x < view.Width(); ++x) {
            if ((x & 1) != (y & 1) || ZoomedSelected(x - offsetX, zy)) continue;
            std::memset(row + 3 * int64_t(x), 97, 3);
        }
    }
}

void KVCopyMaskToBitmap(TKVMask* mask, TKVBitmap& bitmap) {
    if (!mask) {
        bitmap.Fill(255);
        return;
    }
    if (mask->BitsPerPixel() != 1 && mask->BitsPerPixel() != 8) return;
    bitmap.Allocate(mask->Width(), mask->Height(), mask->BitsPerPixel() == 1 ? kv1Bit : kv8Gray);
    TKVAccessScope write(bitmap, kvaWrite);
    const size_t bytes = size_t(std::min(mask->RowLen(), bitmap.GetRowLen()));
    for (int y = 0; y < mask->Height(); ++y)
        std::memcpy(bitmap.GetScanline(y), static_cast<const TKVMask*>(mask)->GetScanline(y), bytes);
    bitmap.SetFull(mask->Full());
}

void KVCopyBitmapToMask(TKVBitmap& bitmap, TKVMask& mask) {
    const TKVPixelFormat format = bitmap.GetPixelFormat();
    if (format != kv1Bit && format != kv8Gray) return;
    mask.AllocateBits(bitmap.GetWidth(), bitmap.GetHeight(), format == kv1Bit ? 1 : 8);
    TKVAccessScope read(bitmap, kvaRead);
    const size_t bytes = size_t(std::min(mask.RowLen(), bitmap.GetRowLen()));
    for (int y = 0; y < mask.Height(); ++y) std::memcpy(mask.GetScanline(y), bitmap.GetScanline(y), bytes);
    mask.SetFull(bitmap.Full());
}
