#include "imaging/io/KVAdjustDPI.h"

#include <algorithm>

#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVResample.h"
#include "imaging/io/IOParamsVals.h"
#include "platform/PictureLimits.h"

namespace {

// An alpha channel always by nearest neighbour.
std::unique_ptr<TKVBitmap> Resized(TKVBitmap& source, int width, int height, bool filtered) {
    auto resized = std::make_unique<TKVBitmap>();
    if (filtered) {
        TKVBitmap colour;
        colour.Assign(&source);
        colour.RemoveAlphaChannel();
        colour.ConvertPixelFormat(kv24RGB);
        resized->Allocate(width, height, kv24RGB);
        KVResampleBitmap(colour, *resized, rfFastLinear);
    } else {
        resized->Allocate(width, height, source.GetPixelFormat());
        KVResampleNearest(source, *resized);
        if (source.GetPixelFormat() == kv8Paletted) std::copy(source.Palette(), source.Palette() + 256, resized->Palette());
    }
    if (source.GetHasAlphaChannel()) KVResampleNearest(*source.GetAlphaChannel(), *resized->GetAlphaChannel());
    return resized;
}

}  // namespace

std::unique_ptr<TKVBitmap> KVAdjustBitmapDPI(TKVBitmap& bitmap, TIOParamsVals& params, bool filtered) {
    const int dpiX = params.DpiX(), dpiY = params.DpiY();
    if (dpiX == dpiY || dpiX <= 0 || dpiY <= 0 || bitmap.IsEmpty()) return nullptr;
    int64_t width = bitmap.GetWidth(), height = bitmap.GetHeight();
    const bool landscape = height < width;
    if (landscape)
        height = int64_t(double(height) / dpiY * dpiX);
    else
        width = int64_t(double(width) / dpiX * dpiY);
    // The resolutions come from the file: a wild ratio must not demand a giant picture.
    CheckPictureSize(width, height, KVPixelFormatBitCount(bitmap.GetPixelFormat()), -1);
    auto resized = Resized(bitmap, int(std::max<int64_t>(width, 1)), int(std::max<int64_t>(height, 1)), filtered);
    params.Width = resized->GetWidth();
    params.Height = resized->GetHeight();
    if (landscape)
        params.SetDpiY(dpiX);
    else
        params.SetDpiX(dpiY);
    return resized;
}
