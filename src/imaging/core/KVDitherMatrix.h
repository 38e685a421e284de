#pragma once
// The 8 x 8 ordered-dither matrix, indexed [x mod 8][y mod 8]: a pixel of level 0..64 is white
// where its entry is below the level.
#include <cstdint>

inline constexpr uint8_t KVDitherMatrix[8][8] = {
    {0, 32, 8, 40, 2, 34, 10, 42},   {48, 16, 56, 24, 50, 18, 58, 26}, {12, 44, 4, 36, 14, 46, 6, 38},
    {60, 28, 52, 20, 62, 30, 54, 22}, {3, 35, 11, 43, 1, 33, 9, 41},   {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37},  {63, 31, 55, 23, 61, 29, 53, 21},
};

inline bool KVDitherWhite(int x, int y, int level) { return KVDitherMatrix[x & 7][y & 7] < level; }
