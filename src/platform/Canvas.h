#pragma once
// The class library's canvas: a pen, a brush and a font, and drawing on a bitmap.
#include <functional>
#include <memory>
#include <string>

#include "Graphics.h"

// Coordinates are pixels from the top-left corner. As on the class library's canvas, a
// rectangle's Right and Bottom and a line's end point lie outside what is drawn.
class TCanvas : public TObject {
public:
    TCanvas() = default;
    TCanvas(const TCanvas&) = delete;
    TCanvas& operator=(const TCanvas&) = delete;

    TPen Pen;
    TBrush Brush;
    TFont Font;

    TPoint PenPos() const { return penPos_; }
    void SetPenPos(TPoint position) { penPos_ = position; }
    void MoveTo(int x, int y) { penPos_ = {x, y}; }
    // A line in the pen from the pen position to (x, y), which becomes the pen position.
    virtual void LineTo(int x, int y) = 0;
    // The brush alone, ignoring the pen's mode.
    virtual void FillRect(const TRect& rect) = 0;
    // Outlined with the pen, filled with the brush.
    virtual void Rectangle(int x1, int y1, int x2, int y2) = 0;
    void Rectangle(const TRect& rect) { Rectangle(rect.Left, rect.Top, rect.Right, rect.Bottom); }
    // clNone outside the picture; setting a pixel outside does nothing.
    virtual TColor Pixels(int x, int y) = 0;
    virtual void SetPixels(int x, int y, TColor color) = 0;
    // UTF-8 text in the font with its cell's top-left corner at (x, y), on the brush colour
    // when the brush is solid; the pen position moves to the text's end.
    virtual void TextOut(int x, int y, const std::string& text) = 0;
    virtual int TextWidth(const std::string& text) = 0;
    virtual int TextHeight(const std::string& text) = 0;
    // The graphic at its own size with its top-left corner at (x, y).
    void Draw(int x, int y, const TGraphic& graphic);
    void StretchDraw(const TRect& rect, const TGraphic& graphic);
    // The bitmap's pixels stretched over rect, blended where its AlphaFormat is afDefined; the
    // primitive under TBitmap's drawing.
    virtual void DrawBitmap(const TRect& rect, const TBitmap& bitmap) = 0;
    // The part of the surface that drawing can reach.
    virtual TRect ClipRect() const = 0;

private:
    TPoint penPos_;
};

// Makes the canvas of a bitmap. The drawing engine installs one at start-up, before any bitmap
// asks for its canvas.
using TCanvasFactory = std::function<std::unique_ptr<TCanvas>(TBitmap& bitmap)>;
void SetCanvasFactory(TCanvasFactory factory);
