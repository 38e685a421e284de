#pragma once
// Square pixels for a picture whose horizontal and vertical resolutions differ.
#include <memory>

class TKVBitmap;
class TIOParamsVals;

// The picture resized along its shorter side so that both resolutions become the larger one's
// match: filtered into 24 bits, or by nearest neighbour in its own format. The record's size and
// resolution follow. nullptr, changing nothing, when the resolutions agree, either is not above
// 0 or the picture is empty. Raises when the new size passes the picture limits.
std::unique_ptr<TKVBitmap> KVAdjustBitmapDPI(TKVBitmap& bitmap, TIOParamsVals& params, bool filtered);
