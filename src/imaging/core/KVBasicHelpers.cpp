#include "imaging/core/KVBasicHelpers.h"

#include <cmath>
#include <sys/stat.h>

#include "imaging/core/KVLibraryState.h"
#include "platform/Graphics.h"
#include "platform/Paths.h"

int KVCeil(double x) {
    const int t = int(std::trunc(x));
    return x - t > 0 ? t + 1 : t;
}

int KVFloor(double x) {
    const int t = int(std::trunc(x));
    return x - t < 0 ? t - 1 : t;
}

int KVRGBToGray(uint32_t color) {
    const int r = (color >> 16) & 0xFF, g = (color >> 8) & 0xFF, b = color & 0xFF;
    return (r * KVGrayWeights.Red + g * KVGrayWeights.Green + b * KVGrayWeights.Blue) / 100;
}

TKVRGB KVColorToRGB(int32_t color) {
    const TColor rgb = ColorToRGB(color);
    return KVCreateRGB(uint8_t(GetRValue(rgb)), uint8_t(GetGValue(rgb)), uint8_t(GetBValue(rgb)));
}

void KVOrderCorners(int& x1, int& y1, int& x2, int& y2) {
    if (x1 > x2) std::swap(x1, x2);
    if (y1 > y2) std::swap(y1, y2);
}

void KVCopyRGBSwapped(uint8_t* dest, const uint8_t* source, int64_t count) {
    for (int64_t i = 0; i < count; ++i, dest += 3, source += 3) {
        const uint8_t first = source[0];
        dest[1] = source[1];
        dest[0] = source[2];
        dest[2] = first;
    }
}

void KVSwapRBInPlace(uint8_t* pixels, int64_t count) {
    for (int64_t i = 0; i < count; ++i, pixels += 3) std::swap(pixels[0], pixels[2]);
}

bool KVDirectoryExists(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

void KVForceDirectories(std::string path) {
    if (path.empty()) throw EInOutError("Cannot Create Directory");
    try {
        ForceDirectories(path);
    } catch (const EInOutError& e) {
        throw EInOutError("Cannot Create Directory " + path + ": " + e.Message());
    }
}

int64_t KVGetFileSize(const std::string& fileName) {
    struct stat info;
    if (::stat(fileName.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return -1;
    return info.st_size;
}

int KVBitMaskWidth(uint32_t mask) {
    if (mask == 0) return 0;
    while ((mask & 1) == 0) mask >>= 1;
    int width = 0;
    for (; mask & 1; mask >>= 1) ++width;
    return width;
}

int KVLog2(uint32_t value) {
    if (value == 0) return -1;
    int highest = 31;
    while ((value & (1u << highest)) == 0) --highest;
    return (value & (value - 1)) == 0 ? highest : highest + 1;
}

int64_t KVBitmapRowLen(int64_t width, int bits, int alignment) {
    if (alignment < 8) alignment = 8;
    return (width * bits + alignment - 1) / alignment * (alignment / 8);
}

int KVPixelFormatBits(TPixelFormat format) {
    switch (format) {
        case TPixelFormat::pf1bit: return 1;
        case TPixelFormat::pf4bit: return 4;
        case TPixelFormat::pf8bit: return 8;
        case TPixelFormat::pf15bit: return 15;
        case TPixelFormat::pf16bit: return 16;
        case TPixelFormat::pf24bit: return 24;
        case TPixelFormat::pf32bit: return 32;
        default: return 0;
    }
}

int64_t KVTPixelFormatRowLen(int64_t width, TPixelFormat format) {
    const int bits = KVPixelFormatBits(format);
    return KVBitmapRowLen(width, bits == 15 ? 16 : bits, 32);
}

void KVReverseBits8(uint8_t& value) {
    uint8_t reversed = 0;
    for (int i = 0; i < 8; ++i)
        if (value & (1 << i)) reversed |= uint8_t(0x80 >> i);
    value = reversed;
}

void KVReverseBits32(uint32_t& value) {
    uint32_t reversed = 0;
    for (int i = 0; i < 32; ++i)
        if (value & (1u << i)) reversed |= 0x80000000u >> i;
    value = reversed;
}

double KVIntPower(int64_t exponent, double base) {
    const bool negative = exponent < 0;
    uint64_t n = negative ? uint64_t(-exponent) : uint64_t(exponent);
    double result = 1;
    for (; n; n >>= 1) {
        if (n & 1) result *= base;
        base *= base;
    }
    return negative ? 1 / result : result;
}

double KVPower(double base, double exponent) {
    if (exponent == 0) return 1;
    if (base == 0 && exponent > 0) return 0;
    if (std::trunc(exponent) == exponent && std::fabs(exponent) <= 2147483647.0)
        return KVIntPower(int64_t(exponent), base);
    return std::exp(exponent * std::log(base));
}

int32_t KVSwapWord(int32_t value) {
    const uint32_t v = uint32_t(value);
    return int32_t((v & 0xFFFF0000u) | ((v & 0xFF) << 8) | ((v >> 8) & 0xFF));
}

int32_t KVSwapDWord(int32_t value) {
    const uint32_t v = uint32_t(value);
    return int32_t((v >> 24) | ((v >> 8) & 0xFF00) | ((v << 8) & 0xFF0000) | (v << 24));
}

TPoint KVPointAdd(const TPoint& a, const TPoint& b) { return TPoint{a.X + b.X, a.Y + b.Y}; }

TPoint KVPointSub(const TPoint& a, const TPoint& b) { return TPoint{a.X - b.X, a.Y - b.Y}; }

bool KVRectsIntersect(const TRect& a, const TRect& b) {
    int left = a.Left, top = a.Top, right = a.Right, bottom = a.Bottom;
    KVOrderCorners(left, top, right, bottom);
    return left <= b.Right && right >= b.Left && top <= b.Bottom && bottom >= b.Top;
}

int KVRectOverlapKind(const TRect& rect, const TRect& region) {
    auto within = [](int v, int low, int high) { return v >= low && v <= high; };
    const int xEnds = within(rect.Left, region.Left, region.Right) + within(rect.Right, region.Left, region.Right);
    const int yEnds = within(rect.Top, region.Top, region.Bottom) + within(rect.Bottom, region.Top, region.Bottom);
    if (xEnds == 2 && yEnds == 2) return 2;
    if ((xEnds == 1 && yEnds >= 1) || (xEnds >= 1 && yEnds == 1)) return 1;
    return 0;
}

bool KVPointInRect(int x, int y, const TRect& rect) {
    return x >= rect.Left && x <= rect.Right && y >= rect.Top && y <= rect.Bottom;
}

void KVSnapTo45(int startX, int startY, int& endX, int& endY) {
    const int dx = std::abs(startX - endX), dy = std::abs(startY - endY), k = std::abs(dx - dy);
    if (dy > dx + 30) {
        endX = startX;
    } else if (dx > dy + 30) {
        endY = startY;
    } else if (endX > startX && endY > startY) {  // right and below
        if (dx >= dy) endY += k;
        else endX += k;
    } else if (endX < startX && endY < startY) {  // left and above
        if (dx >= dy) endX += k;
        else endY += k;
    } else if (endX < startX && endY > startY) {  // left, below
        if (dx >= dy) endY += k;
        else endX -= k;
    } else if (endY < startY && endX > startX) {  // above, right
        if (dx >= dy) endY -= k;
        else endX += k;
    }
}
