#pragma once
// Fewer colours: N colours through the quantizer, black and white by ordered dither or by a
// threshold, and rows converted between bit depths for writers.
#include <cstdint>

#include "imaging/core/KVPixelTypes.h"
#include "imaging/core/KVProgress.h"

class TKVBitmap;
class TKVQuantizer;
struct TKVProgressRec;

// Threshold values with a meaning of their own.
constexpr int KVThresholdMean = -1;
constexpr int KVThresholdMaxEntropy = -2;

// kv24RGB only: every pixel becomes its palette colour; the format stays kv24RGB. palette, when
// given, receives numColors entries.
void KVReduceColors(TKVBitmap& bitmap, int numColors, TKVRGB* palette, TObject* sender,
                    const TKVProgressEvent& progress);
// kv24RGB only: the bitmap becomes kv1Bit. progress reports once per row with its own factor.
void KVOrderedDitherTo1Bit(TKVBitmap& bitmap, const TKVProgressRec* progress = nullptr);
// kv24RGB only: the bitmap becomes kv1Bit, black below the threshold.
void KVThresholdToBW(TKVBitmap& bitmap, int threshold, const TKVProgressRec* progress = nullptr);
// Writes dest, a kv1Bit bitmap of the source's size, from a source of any format. threshold is
// 0..255, KVThresholdMean or KVThresholdMaxEntropy.
void KVThresholdTo1BitWorker(TKVBitmap& source, TKVBitmap& dest, int threshold,
                             const TKVProgressRec* progress = nullptr);
// The level of the threshold a picture gets for threshold (the value itself when 0..255).
int KVThresholdLevel(TKVBitmap& bitmap, int threshold);

void KVGrayHistogram(TKVBitmap& bitmap, int64_t counts[256]);
// Mean of each channel on the 0..255 scale.
void KVMeanColor(TKVBitmap& bitmap, int& red, int& green, int& blue);
// The first entry of the smallest sum of channel differences.
int KVNearestPaletteIndex(const TKVRGB* palette, int count, const TKVRGB& color);
// Converts one row between 1, 4, 8, 24 and 32 bits per pixel; a 4-bit destination must be
// zeroed by the caller. Returns the bytes of the destination row, 0 for an unknown pair.
int KVQuantizeRow(const uint8_t* source, uint8_t* dest, int sourceBits, const TKVQuantizer* quantizer,
                  const TKVRGB* palette, int width, int destBits);
