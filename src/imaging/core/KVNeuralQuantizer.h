#pragma once
// A self-organising network of N neurons trained on a sample of the pixels, for 128 colours
// or more.
#include <memory>

#include "imaging/core/KVQuantizer.h"

// Builds colors entries into palette; returns the mapper.
std::unique_ptr<TKVColorMapper> KVBuildNeuralQuantizer(TKVBitmap& bitmap, TKVRGB* palette, int colors);
