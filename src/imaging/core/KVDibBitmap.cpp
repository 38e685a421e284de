#include "imaging/core/KVDibBitmap.h"

#include <algorithm>
#include <cstring>

#include "imaging/core/KVBasicHelpers.h"
#include "platform/Canvas.h"
#include "platform/Exception.h"

namespace {

std::vector<uint8_t> AllocateRows(int width, int height, int bits, int64_t& rowLen) {
    rowLen = KVBitmapRowLen(width, bits, 32);
    if (rowLen * height > KVMaxImageBytes)
        throw EOutOfResources("Picture of " + std::to_string(width) + " x " + std::to_string(height) +
                              " pixels is too large");
    return std::vector<uint8_t>(size_t(rowLen * height), 0);
}

}  // namespace

// The platform's canvases draw on class-library bitmaps, whose rows run top-down: every
// drawing call copies the rows into one, draws there and copies them back.
class TKVDibCanvas final : public TCanvas {
public:
    explicit TKVDibCanvas(TKVDibbitmap& dib) : dib_(dib) {}

    void LineTo(int x, int y) override {
        Drawing([&](TCanvas& canvas) { canvas.LineTo(x, y); });
    }
    void FillRect(const TRect& rect) override {
        Drawing([&](TCanvas& canvas) { canvas.FillRect(rect); });
    }
    void Rectangle(int x1, int y1, int x2, int y2) override {
        Drawing([&](TCanvas& canvas) { canvas.Rectangle(x1, y1, x2, y2); });
    }
    TColor Pixels(int x, int y) override {
        LoadRows();
        return Surface().Pixels(x, y);
    }
    void SetPixels(int x, int y, TColor color) override {
        Drawing([&](TCanvas& canvas) { canvas.SetPixels(x, y, color); });
    }
    void TextOut(int x, int y, const std::string& text) override {
        Drawing([&](TCanvas& canvas) { canvas.TextOut(x, y, text); });
    }
    int TextWidth(const std::string& text) override { return Surface().TextWidth(text); }
    int TextHeight(const std::string& text) override { return Surface().TextHeight(text); }
    void DrawBitmap(const TRect& rect, const TBitmap& bitmap) override {
        Drawing([&](TCanvas& canvas) { canvas.DrawBitmap(rect, bitmap); });
    }
    TRect ClipRect() const override { return Rect(0, 0, dib_.GetWidth(), dib_.GetHeight()); }

private:
    // The copy's canvas with this canvas's pen, brush, font and pen position.
    TCanvas& Surface() {
        TCanvas& canvas = copy_.Canvas();
        canvas.Pen = Pen;
        canvas.Brush = Brush;
        canvas.Font = Font;
        canvas.SetPenPos(PenPos());
        return canvas;
    }

    void LoadRows() {
        const TPixelFormat format = dib_.GetBitCount() == 1 ? TPixelFormat::pf1bit : TPixelFormat::pf24bit;
        if (copy_.PixelFormat() != format) {
            copy_.SetSize(0, 0);  // nothing to convert
            copy_.SetPixelFormat(format);
        }
        copy_.SetSize(dib_.GetWidth(), dib_.GetHeight());
        for (int y = 0; y < copy_.Height(); ++y)
            std::memcpy(copy_.ScanLine(y), dib_.GetScanline(y), size_t(dib_.GetRowLen()));
    }

    template <class Drawer>
    void Drawing(Drawer draw) {
        LoadRows();
        TCanvas& canvas = Surface();
        draw(canvas);
        SetPenPos(canvas.PenPos());
        for (int y = 0; y < copy_.Height(); ++y)
            std::memcpy(dib_.GetScanline(y), copy_.ScanLine(y), size_t(dib_.GetRowLen()));
    }

    TKVDibbitmap& dib_;
    TBitmap copy_;
};

TKVDibbitmap::TKVDibbitmap() = default;

TKVDibbitmap::~TKVDibbitmap() = default;

TCanvas& TKVDibbitmap::Canvas() {
    if (!canvas_) canvas_ = std::make_unique<TKVDibCanvas>(*this);
    return *canvas_;
}

uint8_t* TKVDibbitmap::GetScanline(int row) { return bits_.data() + rowLen_ * (int64_t(height_) - row - 1); }

TKVPixelFormat TKVDibbitmap::GetPixelFormat() {
    return bitCount_ == 1 ? kv1Bit : bitCount_ == 24 ? kv24RGB : kvNoFormat;
}

void TKVDibbitmap::GetPaletteEntry(int, TKVRGB& entry) { entry = TKVRGB{}; }

void TKVDibbitmap::Allocate(int width, int height, TKVPixelFormat format) {
    if (format == kv1Bit) AllocateDIB(width, height, 1);
    else if (format == kv24RGB) AllocateDIB(width, height, 24);
}

void TKVDibbitmap::Assign(TObject* source) {
    auto* dib = dynamic_cast<TKVDibbitmap*>(source);
    if (!dib || dib == this) return;
    AllocateDIB(dib->width_, dib->height_, dib->bitCount_);
    if (dib->bits_.size() == bits_.size()) bits_ = dib->bits_;
}

void TKVDibbitmap::AllocateDIB(int width, int height, int bits) {
    if (width <= 0 || height <= 0 || (bits != 1 && bits != 24)) return;
    int64_t rowLen;
    std::vector<uint8_t> rows = AllocateRows(width, height, bits, rowLen);
    bits_ = std::move(rows);
    width_ = width;
    height_ = height;
    bitCount_ = bits;
    rowLen_ = rowLen;
}

void TKVDibbitmap::FreeDIB() {
    bits_.clear();
    bits_.shrink_to_fit();
    width_ = height_ = bitCount_ = 0;
    rowLen_ = 0;
}

TKVWorkBitmap::TKVWorkBitmap(int width, int bitCount, int height) {
    if (width > 0 && height > 0) Allocate(width, height, bitCount);
}

void TKVWorkBitmap::Allocate(int width, int height, int bitCount) {
    if (width == width_ && height == height_ && bitCount == bitCount_) return;
    FreeBits();
    int64_t rowLen;
    bits_ = AllocateRows(std::max(width, 0), std::max(height, 0), bitCount, rowLen);
    width_ = width;
    height_ = height;
    bitCount_ = bitCount;
    rowLen_ = rowLen;
}

void TKVWorkBitmap::FreeBits() {
    bits_.clear();
    bits_.shrink_to_fit();
    width_ = height_ = bitCount_ = 0;
    rowLen_ = 0;
}
