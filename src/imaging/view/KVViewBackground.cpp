#include "imaging/view/KVViewBackground.h"

#include <QImage>
#include <QPainter>
#include <algorithm>

#include "imaging/view/KVViewport.h"

QColor KVToQColor(TColor color) {
    const TColor rgb = ColorToRGB(color);
    return QColor(GetRValue(rgb), GetGValue(rgb), GetBValue(rgb));
}

// The complement of the colour's red, green and blue: complementing the whole value would name a
// system colour by accident.
TColor KVComplementColor(TColor color) { return ColorToRGB(color) ^ 0x00FFFFFF; }

namespace {

Qt::BrushStyle HatchOf(TKVBackgroundStyle style) {
    switch (style) {
        case kvbsHorizontal: return Qt::HorPattern;
        case kvbsVertical: return Qt::VerPattern;
        case kvbsFDiagonal: return Qt::BDiagPattern;  // Qt names the slope the other way round
        case kvbsBDiagonal: return Qt::FDiagPattern;
        case kvbsCross: return Qt::CrossPattern;
        case kvbsDiagCross: return Qt::DiagCrossPattern;
        default: return Qt::SolidPattern;
    }
}

void DrawChessboard(QImage& target, const TKVBackground& background) {
    const QRgb first = KVToQColor(background.color).rgb();
    const QRgb second = KVToQColor(KVComplementColor(background.color)).rgb();
    for (int y = 0; y < target.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(target.scanLine(y));
        for (int x = 0; x < target.width(); ++x)
            row[x] = KVChessboardIsBackground(x, y, background.chessboardSize) != background.chessboardVariant
                         ? first
                         : second;
    }
}

// A strip that fades from the shadow colour at the image to the background outside.
void DrawShadow(QPainter& painter, const QRect& strip, bool vertical, const QColor& background) {
    for (int i = 0; i < KVShadowWidth; ++i) {
        const int weight = 160 - i * 30;
        const QColor shade(background.red() * (255 - weight) / 255, background.green() * (255 - weight) / 255,
                           background.blue() * (255 - weight) / 255);
        if (vertical)
            painter.fillRect(QRect(strip.left() + i, strip.top(), 1, strip.height()), shade);
        else
            painter.fillRect(QRect(strip.left(), strip.top() + i, strip.width(), 1), shade);
    }
}

void DrawStyle(QImage& target, const TKVBackground& background, const QRect& imageRect) {
    const QColor color = KVToQColor(background.color);
    if (background.style == kvbsChessboard) {
        DrawChessboard(target, background);
        return;
    }
    QPainter painter(&target);
    const QRect all = target.rect();
    switch (background.style) {
        case kvbsSolid: painter.fillRect(all, color); break;
        case kvbsHorizontal:
        case kvbsVertical:
        case kvbsFDiagonal:
        case kvbsBDiagonal:
        case kvbsCross:
        case kvbsDiagCross:
            // Hatch lines in the colour over the white of an opaque device background.
            painter.fillRect(all, Qt::white);
            painter.fillRect(all, QBrush(color, HatchOf(background.style)));
            break;
        case kvbsDiagonals:
            painter.fillRect(all, color);
            painter.setPen(KVToQColor(KVComplementColor(background.color)));
            painter.drawLine(all.topLeft(), all.bottomRight());
            painter.drawLine(all.bottomLeft(), all.topRight());
            break;
        case kvbsCropped: {
            painter.fillRect(all, KVToQColor(clBtnFace));
            if (imageRect.width() < 2 || imageRect.height() < 2) break;
            const QRect edge = imageRect.adjusted(-KVEdgeWidth, -KVEdgeWidth, KVEdgeWidth - 1, KVEdgeWidth - 1);
            // Sunken: dark above and left, light below and right.
            for (int i = 0; i < KVEdgeWidth; ++i) {
                const QRect r = edge.adjusted(i, i, -i, -i);
                painter.setPen(KVToQColor(i == 0 ? clBtnShadow : cl3DDkShadow));
                painter.drawLine(r.topLeft(), r.topRight());
                painter.drawLine(r.topLeft(), r.bottomLeft());
                painter.setPen(KVToQColor(i == 0 ? clBtnHighlight : cl3DLight));
                painter.drawLine(r.bottomLeft(), r.bottomRight());
                painter.drawLine(r.topRight(), r.bottomRight());
            }
            break;
        }
        case kvbsCropShadow:
            painter.fillRect(all, color);
            if (imageRect.width() * imageRect.height() <= 1) break;
            DrawShadow(painter, QRect(imageRect.right() + 1, imageRect.top() + 3, KVShadowWidth, imageRect.height() + 2),
                       true, color);
            DrawShadow(painter, QRect(imageRect.left() + 4, imageRect.bottom() + 1, imageRect.width() - 4, KVShadowWidth),
                       false, color);
            break;
        case kvbsGradient: {
            // Row by row, so that the first row is the colour and the last the end colour exactly.
            const QColor end = KVToQColor(background.gradientEnd);
            const int last = std::max(all.height() - 1, 1);
            for (int y = 0; y < all.height(); ++y) {
                const auto mix = [&](int a, int b) { return a + (b - a) * y / last; };
                painter.fillRect(QRect(0, y, all.width(), 1),
                                 QColor(mix(color.red(), end.red()), mix(color.green(), end.green()),
                                        mix(color.blue(), end.blue())));
            }
            break;
        }
        case kvbsChessboard: break;
    }
}

void DrawWallPaper(QImage& target, const QImage& wallPaper, TKVWallPaperStyle style) {
    QPainter painter(&target);
    switch (style) {
        case kvwoNormal: painter.drawImage(0, 0, wallPaper); break;
        case kvwoStretch: painter.drawImage(target.rect(), wallPaper); break;
        case kvwoTile:
            for (int y = 0; y < target.height(); y += wallPaper.height())
                for (int x = 0; x < target.width(); x += wallPaper.width()) painter.drawImage(x, y, wallPaper);
            break;
    }
}

}  // namespace

void KVDrawBackground(QImage& target, const TKVBackground& background, const QRect& imageRect) {
    DrawStyle(target, background, imageRect);
    if (!background.wallPaper.isNull()) DrawWallPaper(target, background.wallPaper, background.wallPaperStyle);
}
