#pragma once
// The selection of an image: 1 bit (selected or not) or 8 bits (degree of selection) per pixel,
// with the bounding box of the selected pixels.
#include <cstdint>
#include <vector>

#include "platform/Graphics.h"

class TCanvas;
class TKVBitmap;

class TKVMask : public TObject {
public:
    static constexpr int EmptyBox = 2147483647;
    // A polygon point with this x ends one polygon and starts the next.
    static constexpr int PolygonBreak = 1048575;

    int Width() const { return width_; }
    int Height() const { return height_; }
    int BitsPerPixel() const { return bitsPerPixel_; }
    int64_t RowLen() const { return rowLen_; }
    bool Full() const { return full_; }
    void SetFull(bool full) { full_ = full; }

    // The bounding box, inclusive; X1 is EmptyBox when nothing is selected.
    int X1 = EmptyBox, Y1 = EmptyBox, X2 = 0, Y2 = 0;

    // Zeroed bits, empty box, Full cleared.
    void AllocateBits(int width, int height, int bitsPerPixel);
    void FreeBits();
    // Keeps the overlapping top-left part.
    void Resize(int width, int height);

    // 0 outside the mask.
    int GetPixel(int x, int y) const;
    bool IsPointIn(int x, int y) const { return GetPixel(x, y) != 0; }
    // Ignored outside the mask; a non-zero value extends the box.
    void SetPixel(int x, int y, int value);
    // Clipped to the mask; leaves the box. Returns the pixels written.
    int SetSpan(int value, int x1, int y, int x2);
    // Row y counted from the top; rows are stored bottom-up.
    uint8_t* GetScanline(int y);
    const uint8_t* GetScanline(int y) const;
    // Every byte, padding included; the box is kept.
    void Fill(int value);
    void Clear();
    bool IsEmpty() const { return X1 == EmptyBox; }
    void SyncBoundingBox();
    void SyncFull();

    // points holds (x, y) pairs; a point with x = PolygonBreak separates polygons.
    void FillPolygons(int value, const TPoint* points, int count);
    void FillPolygon(int value, const TPoint* points, int count);
    // Moves the selection. Without clip the offsets are reduced so that the box stays inside.
    void Translate(int& dx, int& dy, bool clip);

    // Copies the selected pixels of source into dest (equal pixel formats); an 8-bit mask blends.
    // The at-box flags say that a bitmap holds only the box area. Pixels falling outside either
    // bitmap are skipped.
    void CopyBitmapMasked(TKVBitmap& source, TKVBitmap& dest, bool alpha, bool sourceAtBox, bool destAtBox);
    void CopyAlphaMasked(TKVBitmap& source, TKVBitmap& dest, bool sourceAtBox, bool destAtBox);

    // The view geometry of the drawing operations: the whole mask is shown zoomed to
    // zoomWidth x zoomHeight with its top-left corner at (offsetX, offsetY) of the target.
    // Inverts the target pixels under the selected pixels (1-bit masks).
    void DrawXor(TCanvas& canvas, int offsetX, int offsetY, int zoomWidth, int zoomHeight);
    // A dashed border of 4-pixel steps in the two colours, shifted by phase.
    void DrawOutline(TCanvas& canvas, TColor color1, TColor color2, int offsetX, int offsetY, int zoomWidth,
                     int zoomHeight, int phase);
    // Gray dots in a checkerboard over the unselected pixels of the rows covering the box.
    void DrawOutsidePattern(TBitmap& view, int offsetX, int offsetY, int zoomWidth, int zoomHeight);

private:
    friend void KVStretchMaskArea(TKVMask& mask, int zoomWidth, int zoomHeight, const TRect& visible);
    void UpdateFullOnWrite(int value);
    void ClipBox();
    // The zoomed pixel (zx, zy) of the whole zoomed mask; unselected outside it.
    bool ZoomedSelected(int zx, int zy) const;
    int SourceColumn(int zx) const;
    int SourceRow(int zy) const;

    int width_ = 0, height_ = 0, bitsPerPixel_ = 0;
    int64_t rowLen_ = 0;
    std::vector<uint8_t> bits_;
    bool full_ = false;
    // The box area of the mask at the last drawing size: one byte per zoomed pixel.
    std::vector<uint8_t> zoomBits_;
    int zoomWidth_ = 0, zoomHeight_ = 0;
    TRect zoomArea_{};  // zoomed coordinates, right and bottom exclusive
    bool zoomStale_ = true;
};

// Rebuilds the zoom buffer for a drawing size (nearest neighbour, 14-bit fixed-point steps),
// covering the box area inside visible (zoomed coordinates, right and bottom exclusive). Kept
// while size, visible area and mask stay the same.
void KVStretchMaskArea(TKVMask& mask, int zoomWidth, int zoomHeight, const TRect& visible);

// A 1-bit mask becomes a kv1Bit bitmap, an 8-bit one kv8Gray; a null mask fills the bitmap
// with 255.
void KVCopyMaskToBitmap(TKVMask* mask, TKVBitmap& bitmap);
// kv1Bit and kv8Gray bitmaps only; the box is left empty.
void KVCopyBitmapToMask(TKVBitmap& bitmap, TKVMask& mask);
