#include "imaging/view/KVThumbStore.h"

#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVCoreUtils.h"
#include "imaging/core/KVResample.h"

std::unique_ptr<TKVBitmap> KVReducedForStore(TKVBitmap& bitmap, const TKVStoreRule& rule) {
    if (!rule.thumbnails) return nullptr;
    const int width = bitmap.GetWidth(), height = bitmap.GetHeight();
    if (!rule.enlargeSmall && width <= rule.width && height <= rule.height) return nullptr;
    int w = rule.width, h = rule.height;
    KVFitSize(width, height, rule.width, rule.height, w, h);
    if (bitmap.IsEmpty() || (w == width && h == height) || w <= 0 || h <= 0) return nullptr;
    auto reduced = std::make_unique<TKVBitmap>();
    reduced->Allocate(w, h, kv24RGB);
    KVResampleBitmap(bitmap, *reduced, rule.filter);
    return reduced;
}
