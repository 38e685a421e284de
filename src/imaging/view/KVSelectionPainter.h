#pragma once
// How the selection shows in the view: its fill, the dimmed outside, and its animated border,
// drawn onto the client-sized image through the viewport's client/bitmap conversions.
#include <QImage>
#include <vector>

#include "imaging/view/KVSelection.h"
#include "imaging/view/KVViewport.h"

// Inverts the shown pixels of the selected bitmap pixels.
void KVDrawSelectionXor(QImage& target, const TKVMask& mask, const TKVViewport& port);
// Dims the shown unselected pixels with a gray (97, 97, 97) dot pattern.
void KVDrawOutsidePattern(QImage& target, const TKVMask& mask, const TKVViewport& port);
// The border pixels of the selected area (selected pixels with an unselected neighbour) in
// runs of four pixels of colour A and four of colour B, the runs shifted by the phase.
void KVDrawMaskOutline(QImage& target, const TKVMask& mask, const TKVViewport& port, TColor colorA, TColor colorB,
                       int phase);
// The polygon edge by edge, dashed four pixels A, four B. With grips, a rectangle also gets
// squares at its corners, and at its edges' middles when middles is set.
void KVDrawPolygonBorder(QImage& target, const TKVSelection& selection, const TKVViewport& port, int phase,
                         bool grips, bool middles);
// The line from the polygon's last point to the pointer while a polygon is drawn.
void KVDrawRubberBand(QImage& target, TPoint from, TPoint to);
