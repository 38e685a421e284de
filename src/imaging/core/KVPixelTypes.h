#pragma once
// Pixel formats, storage locations and pixel records of the image library's bitmaps.
#include <cstdint>

enum TKVPixelFormat : uint8_t {
    kvNoFormat = 0,
    kv1Bit = 1,       // leftmost pixel in the most significant bit; set = white
    kv8Paletted = 2,  // index into the palette
    kv8Gray = 3,      // 0 black .. 255 white; also every alpha channel (255 opaque)
    kv16Gray = 4,     // 0 .. 65535
    kv24RGB = 5,      // blue, green, red
    kv32f = 6,        // float gray 0.0 .. 1.0
    kvCMYK = 7,       // C, M, Y, K bytes, each inverted (255 = no ink)
    kvRGB48 = 8,      // red, green, blue words
};

// Whole bytes one pixel takes; 0 for 1-bit pixels and for no format.
constexpr int KVBytesPerPixel(TKVPixelFormat format) {
    switch (format) {
        case kv8Paletted:
        case kv8Gray: return 1;
        case kv16Gray: return 2;
        case kv24RGB: return 3;
        case kv32f:
        case kvCMYK: return 4;
        case kvRGB48: return 6;
        default: return 0;
    }
}

enum TKVLocation : uint8_t {
    kvMemory = 0,   // one block, rows bottom-up
    kvFile = 1,     // a temporary file, rows top-down, one row in memory at a time
    kvTBitmap = 2,  // a class-library TBitmap
};

// Whether a row brought in from the file location is read from it and written back to it.
using TKVAccess = uint8_t;
constexpr TKVAccess kvaRead = 1, kvaWrite = 2, kvaReadWrite = 3;

#pragma pack(push, 1)
// A 3-byte pixel as stored in kv24RGB rows and palettes.
struct TKVRGB {
    uint8_t b = 0, g = 0, r = 0;
    bool operator==(const TKVRGB&) const = default;
};
// A kvRGB48 pixel.
struct TKVRGB48 {
    uint16_t r = 0, g = 0, b = 0;
    bool operator==(const TKVRGB48&) const = default;
};
#pragma pack(pop)
static_assert(sizeof(TKVRGB) == 3 && sizeof(TKVRGB48) == 6);

// Bits per pixel of each format.
constexpr int KVPixelFormatBitCount(TKVPixelFormat format) {
    constexpr int bits[] = {0, 1, 8, 8, 16, 24, 32, 32, 48};
    return format <= kvRGB48 ? bits[format] : 0;
}
