#pragma once
// The image view's background styles, drawn into its back buffer around the image.
#include <QColor>
#include <QRect>

#include "platform/Graphics.h"

class QImage;

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

struct TKVBackground {
    TKVBackgroundStyle style = kvbsSolid;
    TColor color = clBtnFace;
    TColor gradientEnd = 0xFF0000;  // blue
    int chessboardSize = 16;
};

// The edge the cropped style draws around the image, and the margin it keeps.
constexpr int KVEdgeWidth = 2;
// The margin the crop-shadow style keeps for its shadow.
constexpr int KVShadowWidth = 5;

QColor KVToQColor(TColor color);
// The colour opposite `color` in every channel.
TColor KVComplementColor(TColor color);

// imageRect is where the image is shown; the cropped styles frame it, the others ignore it.
void KVDrawBackground(QImage& target, const TKVBackground& background, const QRect& imageRect);
