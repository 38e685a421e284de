#pragma once
// Variance-based box splitting on a 32x32x32 colour histogram, for fewer than 128 colours.
#include <memory>

#include "imaging/core/KVQuantizer.h"

// Builds at most colors entries into palette; returns the mapper and sets the entry count.
std::unique_ptr<TKVColorMapper> KVBuildBoxQuantizer(TKVBitmap& bitmap, TKVRGB* palette, int colors, int& entries);
