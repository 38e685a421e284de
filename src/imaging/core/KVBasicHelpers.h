#pragma once
// Small numeric, colour, bit and file helpers of the image library core.
#include <cstdint>
#include <string>
#include <utility>

#include "imaging/core/KVPixelTypes.h"

enum class TPixelFormat;
struct TPoint;
struct TRect;

// Smallest integer >= x and largest integer <= x.
int KVCeil(double x);
int KVFloor(double x);

constexpr int KVMinInt(int a, int b) { return a < b ? a : b; }
constexpr int KVMaxInt(int a, int b) { return a > b ? a : b; }
constexpr double KVMinFloat(double a, double b) { return a < b ? a : b; }
constexpr double KVMaxFloat(double a, double b) { return a > b ? a : b; }
constexpr int KVClamp(int value, int low, int high) { return value <= low ? low : KVMinInt(value, high); }
constexpr uint8_t KVClampByte(int value) { return uint8_t(value < 0 ? 0 : value > 255 ? 255 : value); }
inline void KVSwapInt(int& a, int& b) { std::swap(a, b); }
inline void KVSwapByte(uint8_t& a, uint8_t& b) { std::swap(a, b); }

constexpr TKVRGB KVCreateRGB(uint8_t red, uint8_t green, uint8_t blue) { return TKVRGB{blue, green, red}; }
// Weighted gray of a packed colour 0x00RRGGBB.
int KVRGBToGray(uint32_t color);
// Exchanges bytes 0 and 2: packed RGB order <-> class-library colour order.
constexpr uint32_t KVSwapRB(uint32_t color) {
    return (color & 0xFF00FF00u) | ((color & 0xFF) << 16) | ((color >> 16) & 0xFF);
}
// A class-library colour (0x00BBGGRR, system colours resolved) as a pixel.
TKVRGB KVColorToRGB(int32_t color);
constexpr bool KVSameRGB(uint32_t a, uint32_t b) { return ((a ^ b) & 0xFFFFFF) == 0; }
// Swaps so that x1 <= x2 and y1 <= y2.
void KVOrderCorners(int& x1, int& y1, int& x2, int& y2);
// Copies count 3-byte pixels exchanging their first and third bytes.
void KVCopyRGBSwapped(uint8_t* dest, const uint8_t* source, int64_t count);
void KVSwapRBInPlace(uint8_t* pixels, int64_t count);
inline void KVSwapRBRow(uint8_t* row, int64_t count) { KVSwapRBInPlace(row, count); }

bool KVDirectoryExists(const std::string& path);
// Creates the folder and its missing parents; raises EInOutError "Cannot Create Directory".
void KVForceDirectories(std::string path);
// Size of the file in bytes, -1 when it cannot be opened.
int64_t KVGetFileSize(const std::string& fileName);

// Consecutive set bits from the lowest set bit.
int KVBitMaskWidth(uint32_t mask);
// Index of the single set bit; with several, the highest index plus one; -1 for 0.
int KVLog2(uint32_t value);
// Row length in bytes of width pixels of bits each, rows padded to alignment bits.
int64_t KVBitmapRowLen(int64_t width, int bits, int alignment);
// 1, 4, 8, 15, 16, 24 or 32 for the class-library formats, else 0.
int KVPixelFormatBits(TPixelFormat format);
int64_t KVTPixelFormatRowLen(int64_t width, TPixelFormat format);
void KVReverseBits8(uint8_t& value);
void KVReverseBits32(uint32_t& value);

// base^exponent by repeated squaring.
double KVIntPower(int64_t exponent, double base);
// 1 for exponent 0, 0 for base 0 and a positive exponent.
double KVPower(double base, double exponent);
// The two low bytes exchanged; the high 16 bits kept.
int32_t KVSwapWord(int32_t value);
int32_t KVSwapDWord(int32_t value);

TPoint KVPointAdd(const TPoint& a, const TPoint& b);
TPoint KVPointSub(const TPoint& a, const TPoint& b);
// Rectangle tests with every border inside; the first rectangle's corners may come in any order.
bool KVRectsIntersect(const TRect& a, const TRect& b);
// 2 when the rectangle lies wholly within the region, 1 when it partly overlaps an edge, else 0.
int KVRectOverlapKind(const TRect& rect, const TRect& region);
bool KVPointInRect(int x, int y, const TRect& rect);

// Constrains the end point to horizontal, vertical or a 45-degree diagonal from the start.
void KVSnapTo45(int startX, int startY, int& endX, int& endY);
