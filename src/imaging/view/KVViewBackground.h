#pragma once
// The image view's background styles, drawn into its back buffer around the image.
#include <QColor>
#include <QImage>
#include <QRect>

#include "platform/Graphics.h"

enum TKVBackgroundStyle {
    kvbsSolid,
    kvbsHorizontal,
    kvbsVertical,
    kvbsFDiagonal,
    kvbsBDiagonal,
    kvbsCross,
    kvbsDiagCross,
    kvbsChessboard,
    kvbsDiagonals,
    kvbsCropped,
    kvbsCropShadow,
    kvbsGradient
};

// How the wall paper covers the background: once at the top left, stretched over it, or repeated.
enum TKVWallPaperStyle { kvwoNormal, kvwoStretch, kvwoTile };

struct TKVBackground {
    TKVBackgroundStyle style = kvbsSolid;
    TColor color = clBtnFace;
    TColor gradientEnd = 0xFF0000;  // blue
    int chessboardSize = 16;
    bool chessboardVariant = false;  // the top-left square takes the complement colour
    QImage wallPaper;  // drawn over the style when not null
    TKVWallPaperStyle wallPaperStyle = kvwoNormal;
};

// The edge the cropped style draws around the image, and the margin it keeps.
constexpr int KVEdgeWidth = 2;
// The margin the crop-shadow style keeps for its shadow.
constexpr int KVShadowWidth = 5;

QColor KVToQColor(TColor color);
// The colour opposite `color` in every channel.
TColor KVComplementColor(TColor color);

// imageRect is where the image is shown; the cropped styles frame it, the others ignore it.
// The wall paper follows the style.
void KVDrawBackground(QImage& target, const TKVBackground& background, const QRect& imageRect);
