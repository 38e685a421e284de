#pragma once
// Pictures for the processing tests: made from a function, exchanged with the independent tools
// as PPM files, and compared.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "imaging/core/KVBitmap.h"
#include "TestSupport.h"

// A kv24RGB bitmap in memory whose pixel (x, y) is color(x, y).
std::unique_ptr<TKVBitmap> MakeRGB(int width, int height, const std::function<TKVRGB(int x, int y)>& color);
// A kv24RGB bitmap of a picture read by ImageMagick or netpbm.
std::unique_ptr<TKVBitmap> FromRgbImage(const TRgbImage& image);
// Writes any bitmap as a binary PPM (through GetPixelRGB).
void WritePpm(TKVBitmap& bitmap, const std::string& path);
// Peak signal-to-noise ratio in dB of two pictures of the same size over all channels.
double Psnr(TKVBitmap& a, TKVBitmap& b);
// Every row of both bitmaps holds the same pixel bytes.
bool SamePixels(TKVBitmap& a, TKVBitmap& b);
