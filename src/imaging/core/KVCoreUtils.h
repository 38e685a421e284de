#pragma once
// Free-standing helpers of the core: CIE L*a*b* pixels, tolerant numbers, GUID text, geometry,
// byte swapping, system probes and the views' scroll-bar and mouse-wheel settings.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/core/KVPixelTypes.h"
#include "platform/Graphics.h"

// L 0..255; a and b signed.
struct TKVCIELab {
    uint8_t L = 0;
    int8_t a = 0;
    int8_t b = 0;
    bool operator==(const TKVCIELab&) const = default;
};

// rgb packed 0x00RRGGBB.
TKVCIELab KVRGBToCIELab(uint32_t rgb);
// lab packed as L in bits 0-7, a in 8-15, b in 16-23 (a and b signed).
TKVRGB KVCIELabToRGB(uint32_t lab);

// Accepts "1.5" and "1,5" alike, whatever the locale; default when the text is no number.
double KVStrToFloatDef(const std::string& text, double defaultValue);

struct TGUID {
    uint32_t D1 = 0;
    uint16_t D2 = 0, D3 = 0;
    std::array<uint8_t, 8> D4{};
    bool operator==(const TGUID&) const = default;
};
// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" in lower case.
std::string KVGUIDToString(const TGUID& guid);
// Reads that form back, any letter case; other text raises EConvertError.
TGUID KVStringToGUID(const std::string& text);

// Distance from a point to the infinite line through (x1, y1) and (x2, y2).
double KVPointLineDistance(int x, int y, int x1, int y1, int x2, int y2);
// Distance to the segment; 1000000 for a point more than 45000 units beyond an end on either axis.
double KVPointSegmentDistance(int x, int y, int x1, int y1, int x2, int y2);
// n points of the cubic Bezier curve at t = 1/n, 2/n ... 1.
std::vector<TPoint> KVBezierPoints(TPoint p0, TPoint p1, TPoint p2, TPoint p3, int n);
// The size scaled into the box keeping its aspect ratio, each side at least 1; a width or
// height of 0 leaves the outputs unchanged.
void KVFitSize(int width, int height, int boxWidth, int boxHeight, int& newWidth, int& newHeight);

// Entry i = Round(64 - 64 * cos(i * pi / 255)): a cosine ramp from 0 to 128.
extern const std::array<int32_t, 256> KVInterpolationTable;

constexpr int KVIfThenInt(bool flag, int a, int b) { return flag ? a : b; }
constexpr double KVIfThenFloat(bool flag, double a, double b) { return flag ? a : b; }
// The bytes reversed when the flag (big-endian data) is set.
constexpr uint16_t KVSwapWordIf(uint16_t value, bool flag) {
    return flag ? uint16_t(value << 8 | value >> 8) : value;
}
constexpr uint32_t KVSwapDWordIf(uint32_t value, bool flag) {
    return flag ? (value << 24 | (value & 0xFF00) << 8 | (value >> 8 & 0xFF00) | value >> 24) : value;
}

bool KVIsMMXPresent();
// True when the desktop is shown over a remote connection (a remote-desktop or ssh session).
bool KVIsRemoteSession();
// Whether the system is Windows Me, 2000 or later, which the picture dialogs once asked to choose
// their places-bar structure: never here.
constexpr bool KVIsWinMeOr2000() { return false; }

// Zero-filled read-write memory straight from the system; nullptr for a size of 0 or less or
// when the system refuses.
void* KVVirtualAlloc(int64_t size);
// Gives a block of KVVirtualAlloc back and clears the address; other addresses are only cleared.
void KVVirtualFree(void*& address);

// A view's scroll bars; -1 steps are chosen by the view.
struct TKVScrollBarParams {
    int LineStep = -1;
    int PageStep = -1;
    bool Tracking = true;
};

// A view's mouse wheel.
enum : uint8_t { kvwaNone = 0, kvwaScroll = 1, kvwaZoom = 2 };
enum : uint8_t { kvwvAbsolute = 0, kvwvPercent = 1 };
struct TKVMouseWheelParams {
    bool InvertDirection = false;
    uint8_t Action = kvwaZoom;
    uint8_t Variation = kvwvPercent;
    int Value = 8;  // lines, zoom points or percent, by Action and Variation
    bool ZoomAtCursor = false;
};
