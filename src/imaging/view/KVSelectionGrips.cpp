#include "imaging/view/KVSelectionGrips.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "imaging/core/KVCoreUtils.h"

int KVSelectionGripAt(const TRect& r, int x, int y) {
    const TPoint corners[] = {{r.Left, r.Top}, {r.Right, r.Top}, {r.Right, r.Bottom}, {r.Left, r.Bottom}};
    for (int i = 0; i < 4; ++i)
        if (std::abs(x - corners[i].X) <= KVGripSize && std::abs(y - corners[i].Y) <= KVGripSize) return i + 1;
    if (KVPointSegmentDistance(x, y, r.Left, r.Top, r.Left, r.Bottom) < 3) return 5;
    if (KVPointSegmentDistance(x, y, r.Right, r.Top, r.Right, r.Bottom) < 3) return 6;
    if (KVPointSegmentDistance(x, y, r.Left, r.Top, r.Right, r.Top) < 3) return 7;
    if (KVPointSegmentDistance(x, y, r.Left, r.Bottom, r.Right, r.Bottom) < 3) return 8;
    return 0;
}

namespace {

bool MovesLeft(int grip) { return grip == 1 || grip == 4 || grip == 5; }
bool MovesRight(int grip) { return grip == 2 || grip == 3 || grip == 6; }
bool MovesTop(int grip) { return grip == 1 || grip == 2 || grip == 7; }
bool MovesBottom(int grip) { return grip == 3 || grip == 4 || grip == 8; }

int SwapLeftRight(int grip) {
    switch (grip) {
        case 1: return 2;
        case 2: return 1;
        case 3: return 4;
        case 4: return 3;
        case 5: return 6;
        case 6: return 5;
        default: return grip;
    }
}

int SwapTopBottom(int grip) {
    switch (grip) {
        case 1: return 4;
        case 4: return 1;
        case 2: return 3;
        case 3: return 2;
        case 7: return 8;
        case 8: return 7;
        default: return grip;
    }
}

// One axis: the moving side follows v; past the fixed side the two change places.
void DragSide(int& low, int& high, bool movesLow, bool movesHigh, int v, bool& swapped) {
    swapped = false;
    if (movesLow) {
        if (v > high) {
            low = high;
            high = v;
            swapped = true;
        } else {
            low = std::min(v, high - 1);
        }
    } else if (movesHigh) {
        if (v < low) {
            high = low;
            low = v;
            swapped = true;
        } else {
            high = std::max(v, low + 1);
        }
    }
}

}  // namespace

TRect KVDragGrip(int& grip, const TRect& rect, int x, int y, bool keepRatio, const TRect& start) {
    TRect r = rect;
    bool swappedX, swappedY;
    DragSide(r.Left, r.Right, MovesLeft(grip), MovesRight(grip), x, swappedX);
    DragSide(r.Top, r.Bottom, MovesTop(grip), MovesBottom(grip), y, swappedY);
    if (swappedX) grip = SwapLeftRight(grip);
    if (swappedY) grip = SwapTopBottom(grip);
    if (keepRatio && start.Width() > 0 && start.Height() > 0) {
        const double ratio = double(start.Width()) / start.Height();
        if (grip == 7 || grip == 8) {
            r.Right = r.Left + std::max(int(std::lround(r.Height() * ratio)), 1);
        } else {
            const int h = std::max(int(std::lround(r.Width() / ratio)), 1);
            if (MovesTop(grip)) r.Top = r.Bottom - h;
            else r.Bottom = r.Top + h;
        }
    }
    return r;
}

int KVGripCursor(int grip) {
    switch (grip) {
        case 1:
        case 3: return 1786;
        case 2:
        case 4: return 1788;
        case 5:
        case 6: return 1789;
        case 7:
        case 8: return 1787;
        default: return 0;
    }
}
