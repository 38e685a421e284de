#pragma once
// Resizing a bitmap into another of a given size with a named filter. The destination is
// allocated by the caller at the target size; workers change its pixel format where their
// output needs another one.
#include "imaging/core/KVPixelTypes.h"
#include "imaging/core/KVProgress.h"
#include "imaging/core/KVResampleFilter.h"

class TKVBitmap;

// Chooses the worker by filter and pixel format and resamples the alpha channel apart. The
// source is never changed: transparent pixels are filled, and formats other than 1-bit and
// 24-bit converted, in a copy.
void KVResampleBitmap(TKVBitmap& source, TKVBitmap& dest, TResampleFilter filter, TObject* sender = nullptr,
                      const TKVProgressEvent& progress = {});
// Any pixel format; dest takes the source's format (the palette is not copied).
void KVResampleNearest(TKVBitmap& source, TKVBitmap& dest, TObject* sender = nullptr,
                       const TKVProgressEvent& progress = {});
// kv24RGB sources only; every filter.
void KVResample24Bit(TKVBitmap& source, TKVBitmap& dest, TResampleFilter filter, TObject* sender = nullptr,
                     const TKVProgressEvent& progress = {});
// kv1Bit sources: a 24-bit gray result, or a 1-bit one for the two projections.
void KVResample1Bit(TKVBitmap& source, TKVBitmap& dest, TResampleFilter filter);
// 8-bit channels such as alpha channels.
void KVResampleChannel8(TKVBitmap& source, TKVBitmap& dest, TResampleFilter filter);

void KVResampleFastLinear24(TKVBitmap& source, TKVBitmap& dest, TObject* sender = nullptr,
                            const TKVProgressEvent& progress = {});
void KVResampleLinear8(TKVBitmap& source, TKVBitmap& dest, TObject* sender = nullptr,
                       const TKVProgressEvent& progress = {});
void KVResample1BitLinear(TKVBitmap& source, TKVBitmap& dest, TObject* sender = nullptr,
                          const TKVProgressEvent& progress = {});
// Area-weighted resampling of kv24RGB sources, interpolating linearly or cubically on the
// axes that grow.
void KVResampleArea24(TKVBitmap& source, TKVBitmap& dest, bool cubic, TObject* sender = nullptr,
                      const TKVProgressEvent& progress = {});
// To kv1Bit: a target pixel takes black (or white, whiteWins) when any source pixel of its box has it.
void KVProject24To1Bit(TKVBitmap& source, TKVBitmap& dest, bool whiteWins, TObject* sender = nullptr,
                       const TKVProgressEvent& progress = {});
void KVProject1Bit(TKVBitmap& source, TKVBitmap& dest, bool whiteWins, TObject* sender = nullptr,
                   const TKVProgressEvent& progress = {});
// The rectangle x0..x1, y0..y1 (inclusive) of a 1-bit source reduced into the 24-bit gray dest
// by counting set bits.
void KVResample1BitToGray(TKVBitmap& source, int x0, int y0, TKVBitmap& dest, int y1, int x1);
// kv24RGB only: pixels of alpha 0 take color (packed 0x00RRGGBB).
void KVFillTransparentPixels(TKVBitmap& bitmap, uint32_t color);
