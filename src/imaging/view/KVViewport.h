#pragma once
// The arithmetic of the image view: zoom, fitting, scroll origin, the visible bitmap window and
// the client/bitmap coordinate tables. No window is involved, so it is tested without a display.
#include <vector>

#include "imaging/core/KVCoreUtils.h"

// Client and bitmap coordinates along one axis, built for one zoom, draw size and bitmap size.
struct TKVAxisMap {
    std::vector<int> clientToBitmap;  // zoomed pixel -> bitmap pixel
    std::vector<int> bitmapToClient;  // bitmap pixel -> first zoomed pixel on it
    double zoom = -1;
    int drawSize = -1, bitmapSize = -1;

    void Build(double zoom, int zoomedSize, int drawSize, int bitmapSize);
    // The first zoomed pixel of the bitmap pixel under the zoomed pixel `origin`.
    int StartOf(int origin) const;
};

// One axis of the viewport: what the view computes for x, and again for y.
struct TKVAxis {
    int bitmapSize = 0;
    int clientSize = 0;
    int outerSize = 0;  // the control's size with its border
    int origin = 0;
    int imageStart = 0;  // where the image begins in the client area when centred
    int zoomedSize = 0;
    int visible = 0;
    int first = 0, count = 0;  // visible bitmap pixels
    int drawSize = 0;          // client pixels they cover
    TKVAxisMap map;
};

class TKVViewport {
public:
    TKVAxis x, y;
    double zoom = 100.0;
    bool center = true;

    double Factor() const { return zoom / 100.0; }
    double Inverse() const { return 100.0 / zoom; }

    // The largest origins; 0 when the image fits.
    void GetMaxOrigin(int& maxX, int& maxY) const;
    // Clamps both origins; true when either was reduced.
    bool ClampOrigin();
    // Sets the zoom keeping the image point under the centre of the client area in place.
    void ApplyZoom(double value);
    // The zoom that fits the bitmap into the outer size less the margins on each side.
    double GetFitZoom(int marginX, int marginY) const;
    // The zoom of the automatic fitting into the available area, permitted to grow (stretch)
    // or to shrink.
    double AutoFitZoom(int availWidth, int availHeight, bool stretch, bool shrink, int marginX, int marginY) const;
    // The origins that keep bitmap point (bx, by) at client point (cx, cy), or centred.
    void OriginForZoomAround(int bx, int by, int cx, int cy, bool centred, int& originX, int& originY) const;

    void ComputeZoomedSize();
    void ComputeVisibleWindow();
    void BuildMapTables();

    int ClientToBitmapX(int cx) const { return ClientToBitmap(x, cx); }
    int ClientToBitmapY(int cy) const { return ClientToBitmap(y, cy); }
    int BitmapToClientX(int bx) const { return BitmapToClient(x, bx); }
    int BitmapToClientY(int by) const { return BitmapToClient(y, by); }
    bool CanScroll() const;

    // Refreshes the zoomed size, the window and the tables after any change.
    void Recompute();

private:
    void ComputeVisibleAxis(TKVAxis& axis) const;
    int ClientToBitmap(const TKVAxis& axis, int c) const;
    int BitmapToClient(const TKVAxis& axis, int b) const;
};

// Scroll-bar steps: a configured step of -1 means automatic.
int KVScrollLineStep(double factor, int configured);
int KVScrollPageStep(double factor, int configured, int clientSize);

// Scroll-bar scale between an origin and the bar's 0..65535 range.
double KVScrollScale(int clientSize, int maxOrigin);

// The direction of a wheel turn: -1 forward (positive delta), +1 backward, swapped by invert.
int KVWheelDirection(int delta, const TKVMouseWheelParams& params);
double KVWheelZoom(double zoom, int delta, const TKVMouseWheelParams& params);
// How far the origin moves for one wheel turn.
int KVWheelScroll(double factor, int clientSize, int delta, const TKVMouseWheelParams& params);

// The chessboard background: whether the square at (px, py) has the background colour, with
// the top-left square of that colour.
bool KVChessboardIsBackground(int px, int py, int squareSize);
