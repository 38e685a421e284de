#include "imaging/core/KVOrientation.h"

#include "imaging/core/KVRotate.h"

namespace {

constexpr int LeftToRight = 0, TopToBottom = 1;

void Rotate(TKVBitmap& bitmap, double degrees) { KVRotateBitmap(bitmap, false, 0, degrees); }

}  // namespace

void KVApplyOrientation(TKVBitmap& bitmap, int orientation) {
    switch (orientation) {
        case 2: KVFlipBitmap(bitmap, LeftToRight); break;
        case 3: Rotate(bitmap, 180); break;  // both mirrors at once
        case 4: KVFlipBitmap(bitmap, TopToBottom); break;
        case 5:
            Rotate(bitmap, -90);
            KVFlipBitmap(bitmap, LeftToRight);
            break;
        case 6: Rotate(bitmap, -90); break;
        case 7:
            Rotate(bitmap, 90);
            KVFlipBitmap(bitmap, LeftToRight);
            break;
        case 8: Rotate(bitmap, 90); break;
        default: break;
    }
}
