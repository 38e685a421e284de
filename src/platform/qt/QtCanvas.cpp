#include "QtCanvas.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPolygon>
#include <algorithm>
#include <cstdlib>

#include "QtBitmap.h"
#include "platform/Canvas.h"
#include "platform/Exception.h"

namespace {

QColor ToQColor(TColor color) {
    const TColor rgb = ColorToRGB(color);
    return QColor(GetRValue(rgb), GetGValue(rgb), GetBValue(rgb));
}

QRect ToQRect(int left, int top, int right, int bottom) { return QRect(left, top, right - left, bottom - top); }

QPainter::CompositionMode CompositionOf(TPenMode mode) {
    switch (mode) {
        case TPenMode::pmBlack: return QPainter::RasterOp_ClearDestination;
        case TPenMode::pmWhite: return QPainter::RasterOp_SetDestination;
        case TPenMode::pmNot: return QPainter::RasterOp_NotDestination;
        case TPenMode::pmNotCopy: return QPainter::RasterOp_NotSource;
        case TPenMode::pmMergePenNot: return QPainter::RasterOp_SourceOrNotDestination;
        case TPenMode::pmMaskPenNot: return QPainter::RasterOp_SourceAndNotDestination;
        case TPenMode::pmMergeNotPen: return QPainter::RasterOp_NotSourceOrDestination;
        case TPenMode::pmMaskNotPen: return QPainter::RasterOp_NotSourceAndDestination;
        case TPenMode::pmMerge: return QPainter::RasterOp_SourceOrDestination;
        case TPenMode::pmNotMerge: return QPainter::RasterOp_NotSourceAndNotDestination;
        case TPenMode::pmMask: return QPainter::RasterOp_SourceAndDestination;
        case TPenMode::pmNotMask: return QPainter::RasterOp_NotSourceOrNotDestination;
        case TPenMode::pmXor: return QPainter::RasterOp_SourceXorDestination;
        case TPenMode::pmNotXor: return QPainter::RasterOp_NotSourceXorDestination;
        default: return QPainter::CompositionMode_SourceOver;
    }
}

QPen ToQPen(const TPen& pen) {
    Qt::PenStyle style = Qt::SolidLine;
    switch (pen.Style) {
        case TPenStyle::psDash: style = Qt::DashLine; break;
        case TPenStyle::psDot: style = Qt::DotLine; break;
        case TPenStyle::psDashDot: style = Qt::DashDotLine; break;
        case TPenStyle::psDashDotDot: style = Qt::DashDotDotLine; break;
        case TPenStyle::psClear: style = Qt::NoPen; break;
        default: break;
    }
    return QPen(ToQColor(pen.Color), std::max(pen.Width, 1), style, Qt::FlatCap, Qt::MiterJoin);
}

QBrush ToQBrush(const TBrush& brush) {
    static constexpr Qt::BrushStyle styles[] = {Qt::SolidPattern, Qt::NoBrush,    Qt::HorPattern,   Qt::VerPattern,
                                                Qt::FDiagPattern,  Qt::BDiagPattern, Qt::CrossPattern, Qt::DiagCrossPattern};
    return QBrush(ToQColor(brush.Color), styles[int(brush.Style)]);
}


QString ToQString(const std::string& text) { return QString::fromUtf8(text.data(), qsizetype(text.size())); }

// The pixels of a one-pixel line from `from` up to, not including, `to`, as the class
// library draws them; Qt leaves out whichever end lies lower or further right.
QPolygon LinePixels(TPoint from, TPoint to) {
    QPolygon points;
    const int64_t dx = std::abs(int64_t(to.X) - from.X), dy = -std::abs(int64_t(to.Y) - from.Y);
    const int sx = from.X < to.X ? 1 : -1, sy = from.Y < to.Y ? 1 : -1;
    int64_t error = dx + dy;
    int x = from.X, y = from.Y;
    while (x != to.X || y != to.Y) {
        points.append(QPoint(x, y));
        const int64_t doubled = 2 * error;
        if (doubled >= dy) {
            error += dy;
            x += sx;
        }
        if (doubled <= dx) {
            error += dx;
            y += sy;
        }
    }
    return points;
}

// Pixel formats whose rows Qt paints on as they are.
QImage::Format DirectFormat(TPixelFormat format) {
    switch (format) {
        case TPixelFormat::pf15bit: return QImage::Format_RGB555;
        case TPixelFormat::pf16bit: return QImage::Format_RGB16;
        case TPixelFormat::pf24bit: return QImage::Format_BGR888;
        case TPixelFormat::pf32bit: return QImage::Format_RGB32;
        default: return QImage::Format_Invalid;
    }
}

void SetIndex(uint8_t* row, int x, int bits, int index) {
    if (bits == 1) {
        const int mask = 0x80 >> (x & 7);
        row[x >> 3] = uint8_t(index ? row[x >> 3] | mask : row[x >> 3] & ~mask);
    } else if (bits == 4) {
        row[x >> 1] = uint8_t((x & 1) ? (row[x >> 1] & 0xF0) | index : (row[x >> 1] & 0x0F) | (index << 4));
    } else {
        row[x] = uint8_t(index);
    }
}

// Takes the pixels drawn on a 32-bit copy back into a paletted bitmap: each pixel whose colour
// changed takes the nearest palette entry, and the palette stays as it is.
void StoreInPalette(const QImage& drawn, TBitmap& bitmap) {
    QList<QRgb> table;
    for (const TPaletteEntry& e : bitmap.Palette()) table.push_back(qRgb(e.peRed, e.peGreen, e.peBlue));
    const QImage indexed = drawn.convertToFormat(QImage::Format_Indexed8, table, Qt::ThresholdDither);
    for (int y = 0; y < bitmap.Height(); ++y) {
        const auto* colors = reinterpret_cast<const QRgb*>(drawn.constScanLine(y));
        const uchar* indexes = indexed.constScanLine(y);
        uint8_t* row = bitmap.ScanLine(y);
        for (int x = 0; x < bitmap.Width(); ++x) {
            const TColor color = RGB(qRed(colors[x]), qGreen(colors[x]), qBlue(colors[x]));
            if (color != bitmap.Pixel(x, y)) SetIndex(row, x, bitmap.BitCount(), indexes[x]);
        }
    }
}

class TQtCanvas final : public TCanvas {
public:
    explicit TQtCanvas(TBitmap& bitmap) : bitmap_(bitmap) {}

    void LineTo(int x, int y) override {
        const TPoint from = PenPos();
        MoveTo(x, y);
        if (Pen.Style == TPenStyle::psClear || Pen.Mode == TPenMode::pmNop) return;
        const bool solid = Pen.Style == TPenStyle::psSolid || Pen.Style == TPenStyle::psInsideFrame;
        // Lines far longer than the picture is wide and high are left to Qt's clipping.
        const int64_t length = std::max(std::abs(int64_t(x) - from.X), std::abs(int64_t(y) - from.Y));
        const bool exact = solid && Pen.Width <= 1 && length <= 2 * (int64_t(bitmap_.Width()) + bitmap_.Height());
        Paint([&](QPainter& painter) {
            painter.setCompositionMode(CompositionOf(Pen.Mode));
            painter.setPen(ToQPen(Pen));
            if (exact) painter.drawPoints(LinePixels(from, {x, y}));
            else painter.drawLine(from.X, from.Y, x, y);
        });
    }

    void FillRect(const TRect& rect) override {
        if (Brush.Style == TBrushStyle::bsClear || rect.Width() <= 0 || rect.Height() <= 0) return;
        Paint([&](QPainter& painter) {
            painter.fillRect(ToQRect(rect.Left, rect.Top, rect.Right, rect.Bottom), ToQBrush(Brush));
        });
    }

    void Rectangle(int x1, int y1, int x2, int y2) override {
        if (x2 < x1) std::swap(x1, x2);
        if (y2 < y1) std::swap(y1, y2);
        if (x2 == x1 || y2 == y1 || Pen.Mode == TPenMode::pmNop) return;
        const bool outlined = Pen.Style != TPenStyle::psClear;
        Paint([&](QPainter& painter) {
            painter.setCompositionMode(CompositionOf(Pen.Mode));
            // Inside the outline only, so that raster modes touch each pixel once.
            const int inset = outlined ? 1 : 0;
            const QRect inside = ToQRect(x1 + inset, y1 + inset, x2 - inset, y2 - inset);
            if (Brush.Style != TBrushStyle::bsClear && !inside.isEmpty()) painter.fillRect(inside, ToQBrush(Brush));
            if (outlined) {
                painter.setPen(ToQPen(Pen));
                painter.setBrush(Qt::NoBrush);
                painter.drawRect(QRect(x1, y1, x2 - x1 - 1, y2 - y1 - 1));
            }
        });
    }

    TColor Pixels(int x, int y) override { return Inside(x, y) ? bitmap_.Pixel(x, y) : clNone; }

    void SetPixels(int x, int y, TColor color) override {
        if (!Inside(x, y)) return;
        bitmap_.SetPixel(x, y, color);
        bitmap_.SetModified(true);
    }

    void TextOut(int x, int y, const std::string& text) override {
        const QFont font = ToQFont(Font);
        const QFontMetrics metrics(font);
        const QString qtext = ToQString(text);
        const int width = metrics.horizontalAdvance(qtext);
        Paint([&](QPainter& painter) {
            // Only a solid brush gives text an opaque background.
            if (Brush.Style == TBrushStyle::bsSolid)
                painter.fillRect(QRect(x, y, width, metrics.height()), ToQColor(Brush.Color));
            painter.setFont(font);
            painter.setPen(ToQColor(Font.Color));
            painter.drawText(QPoint(x, y + metrics.ascent()), qtext);
        });
        MoveTo(x + width, y);
    }

    int TextWidth(const std::string& text) override {
        return QFontMetrics(ToQFont(Font)).horizontalAdvance(ToQString(text));
    }

    int TextHeight(const std::string&) override { return QFontMetrics(ToQFont(Font)).height(); }

    void DrawBitmap(const TRect& rect, const TBitmap& bitmap) override {
        if (bitmap.Empty() || rect.Width() <= 0 || rect.Height() <= 0) return;
        const QImage image = ToQImage(bitmap);  // a copy: the picture may be this canvas's own
        Paint([&](QPainter& painter) {
            painter.drawImage(ToQRect(rect.Left, rect.Top, rect.Right, rect.Bottom), image);
        });
    }

    TRect ClipRect() const override { return Rect(0, 0, bitmap_.Width(), bitmap_.Height()); }

private:
    bool Inside(int x, int y) const { return x >= 0 && y >= 0 && x < bitmap_.Width() && y < bitmap_.Height(); }

    // Paints on the bitmap's own rows where Qt knows their layout, else on a 32-bit copy.
    template <class Painting>
    void Paint(Painting painting) {
        if (bitmap_.Empty()) return;
        const QImage::Format direct = DirectFormat(bitmap_.PixelFormat());
        if (direct != QImage::Format_Invalid) {
            QImage rows(bitmap_.ScanLine(0), bitmap_.Width(), bitmap_.Height(), qsizetype(bitmap_.RowBytes()), direct);
            QPainter painter(&rows);
            painting(painter);
        } else {
            QImage drawn = ToQImage(bitmap_).convertToFormat(QImage::Format_RGB32);
            {
                QPainter painter(&drawn);
                painting(painter);
            }
            StoreInPalette(drawn, bitmap_);
        }
        bitmap_.SetModified(true);
    }

    TBitmap& bitmap_;
};

}  // namespace

QFont ToQFont(const TFont& font) {
    // Without the application object Qt's font database aborts the process.
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        throw EInvalidOperation("Text on a canvas needs the Qt application object");
    QFont result(QString::fromStdString(font.Name));
    result.setPixelSize(std::max(std::abs(font.Height()), 1));
    result.setBold(font.Style & fsBold);
    result.setItalic(font.Style & fsItalic);
    result.setUnderline(font.Style & fsUnderline);
    result.setStrikeOut(font.Style & fsStrikeOut);
    result.setFixedPitch(font.Pitch == TFontPitch::fpFixed);
    return result;
}

void InstallQtCanvas() {
    SetCanvasFactory([](TBitmap& bitmap) -> std::unique_ptr<TCanvas> { return std::make_unique<TQtCanvas>(bitmap); });
}
