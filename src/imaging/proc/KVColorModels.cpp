#include "imaging/proc/KVColorModels.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "imaging/core/KVBasicHelpers.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVDibBitmap.h"
#include "imaging/core/KVHash.h"
#include "platform/Bmp.h"
#include "platform/Graphics.h"

// --- HSL

void KVRGBToHSL(uint32_t color, double& h, double& s, double& l) {
    const double r = ((color >> 16) & 0xFF) / 255.0, g = ((color >> 8) & 0xFF) / 255.0, b = (color & 0xFF) / 255.0;
    const double max = std::max({r, g, b}), min = std::min({r, g, b});
    l = (max + min) / 2;
    if (max == min) {
        h = s = 0;
        return;
    }
    const double d = max - min;
    s = l >= 0.5 ? d / (2 - max - min) : d / (max + min);
    if (max == r) h = (g - b) / d;
    else if (max != g) h = (r - g) / d + 4;
    else h = (b - r) / d + 2;
    h /= 6;
    if (h < 0) h += 1;
}

TKVRGB KVHSLToRGB(double h, double s, double l) {
    if (h < 0) h += 1;
    else if (h > 1) h -= 1;
    s = std::clamp(s, 0.0, 1.0);
    l = std::clamp(l, 0.0, 1.0);
    auto toByte = [](double v) { return uint8_t(std::clamp(std::nearbyint(v * 255), 0.0, 255.0)); };
    if (s == 0) return KVCreateRGB(toByte(l), toByte(l), toByte(l));
    const double q = l > 0.5 ? l + s - l * s : l * (1 + s);
    const double p = 2 * l - q;
    auto channel = [&](double t) {
        if (t < 0) t += 1;
        else if (t > 1) t -= 1;
        if (6 * t < 1) return p + (q - p) * 6 * t;
        if (2 * t < 1) return q;
        if (3 * t < 2) return p + (q - p) * (2.0 / 3 - t) * 6;
        return p;
    };
    return KVCreateRGB(toByte(channel(h + 1.0 / 3)), toByte(channel(h)), toByte(channel(h - 1.0 / 3)));
}

// --- Gray rectangle

void KVConvertToGrayRect(TKVBitmap& bitmap, int x1, int y1, int x2, int y2, TObject* sender,
                         const TKVProgressEvent& progress) {
    if (bitmap.GetPixelFormat() != kv24RGB || bitmap.IsEmpty()) return;
    x1 = std::max(x1, 0);
    y1 = std::max(y1, 0);
    x2 = std::min(x2, bitmap.GetWidth());
    y2 = std::min(y2, bitmap.GetHeight());
    const int rows = y2 - y1;
    for (int y = y1; y < y2; ++y) {
        auto* row = reinterpret_cast<TKVRGB*>(bitmap.GetScanline(y));
        for (int x = x1; x < x2; ++x) {
            const auto gray = uint8_t(KVRGBToGray((uint32_t(row[x].r) << 16) | (row[x].g << 8) | row[x].b));
            row[x] = TKVRGB{gray, gray, gray};
        }
        if (progress) progress(sender, int((y - y1 + 1) * 100 / (rows + 0.5)));
    }
}

// --- Bits

void KVCopyBits(uint8_t* dest, const uint8_t* source, int64_t destBit, int64_t sourceRowLen, int64_t count,
                int64_t sourceBit) {
    if (count < 1 || destBit < 0 || sourceBit < 0) return;
    auto sourceByte = [&](int64_t index) -> unsigned {
        return index >= 0 && index < sourceRowLen ? source[index] : 0;
    };
    // The 8 source bits that land in one destination byte start at bit 'from' of the source.
    auto bitsFrom = [&](int64_t from) -> uint8_t {
        const int64_t index = from >= 0 ? from / 8 : (from - 7) / 8;
        const int shift = int(from - index * 8);
        return uint8_t((sourceByte(index) << shift) | (shift ? sourceByte(index + 1) >> (8 - shift) : 0));
    };
    const int64_t first = destBit / 8, last = (destBit + count - 1) / 8;
    for (int64_t i = first; i <= last; ++i) {
        const int64_t runStart = std::max(destBit, i * 8) - i * 8;          // 0..7
        const int64_t runEnd = std::min(destBit + count, (i + 1) * 8) - i * 8;  // 1..8
        const auto mask = uint8_t((0xFF >> runStart) & (0xFF << (8 - runEnd)));
        const uint8_t bits = bitsFrom(sourceBit + i * 8 - destBit);
        dest[i] = uint8_t((dest[i] & ~mask) | (bits & mask));
    }
}

void KVInvertBitmap(TKVBitmap& bitmap) {
    if (bitmap.IsEmpty()) return;
    TKVAccessScope updating(bitmap, kvaReadWrite);
    const int64_t rowLen = bitmap.GetRowLen();
    for (int y = 0; y < bitmap.GetHeight(); ++y) {
        uint8_t* row = bitmap.GetScanline(y);
        for (int64_t i = 0; i < rowLen; ++i) row[i] = uint8_t(~row[i]);
    }
}

// --- Two colours

std::unique_ptr<TKVBitmap> KVConvertTo1BitIfTwoColors(TKVBitmap& bitmap, uint32_t& color1, uint32_t& color2) {
    if (bitmap.IsEmpty()) return nullptr;
    THash1 colors(13);
    auto result = std::make_unique<TKVBitmap>();
    const int width = bitmap.GetWidth(), height = bitmap.GetHeight();
    result->Allocate(width, height, kv1Bit);
    TKVAccessScope reading(bitmap, kvaRead);
    for (int y = 0; y < height && colors.Count() <= 2; ++y) {
        std::vector<uint8_t> bits(size_t(result->GetRowLen()), 0);
        for (int x = 0; x < width; ++x) {
            const TKVRGB rgb = bitmap.GetPixelRGB(x, y);
            const uint32_t key = (uint32_t(rgb.r) << 16) | (rgb.g << 8) | rgb.b;
            if (colors.Insert(key)) (colors.Count() == 1 ? color1 : color2) = key;
            if (key != color1) KVSetBit(bits.data(), x, true);
        }
        std::memcpy(result->GetScanline(y), bits.data(), bits.size());
    }
    if (colors.Count() != 2) return nullptr;
    auto gray = [](uint32_t c) {
        return std::nearbyint((((c >> 16) & 0xFF) * 21 + ((c >> 8) & 0xFF) * 71 + (c & 0xFF) * 8) / 100.0);
    };
    if (gray(color2) < gray(color1)) {
        KVInvertBitmap(*result);
        std::swap(color1, color2);
    }
    return result;
}

// --- Packed DIBs

namespace {

void PutU16(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

void PutU32(uint8_t* p, uint32_t v) {
    PutU16(p, v);
    PutU16(p + 2, v >> 16);
}

uint32_t GetU16(const uint8_t* p) { return p[0] | (p[1] << 8); }
uint32_t GetU32(const uint8_t* p) { return GetU16(p) | (GetU16(p + 2) << 16); }

}  // namespace

std::vector<uint8_t> KVBitmapToDIBHandle(TKVBitmap& bitmap, int x0, int y0, int y1, int x1) {
    TKVBitmap converted;
    TKVBitmap* source = &bitmap;
    const TKVPixelFormat format = bitmap.GetPixelFormat();
    if (format != kv1Bit && format != kv8Paletted && format != kv8Gray && format != kv24RGB) {
        converted.Assign(&bitmap);
        converted.SetPixelFormat(kv24RGB);
        if (!converted.IsEmpty()) source = &converted;
    }
    if (x1 == 0) x1 = source->GetWidth();
    if (y1 == 0) y1 = source->GetHeight();
    x0 = std::max(x0, 0);
    y0 = std::max(y0, 0);
    x1 = std::min(x1, source->GetWidth());
    y1 = std::min(y1, source->GetHeight());
    if (x1 <= x0 || y1 <= y0 || source->IsEmpty()) return {};
    const int bits = source->GetBitCount() == 1 ? 1 : source->GetBitCount() == 8 ? 8 : 24;
    const int width = x1 - x0, height = y1 - y0;
    const int64_t rowLen = KVBitmapRowLen(width, bits, 32);
    const int64_t colorBytes = bits == 1 ? 8 : bits == 8 ? 1024 : 0;
    std::vector<uint8_t> dib(size_t(40 + colorBytes + rowLen * height + 4), 0);
    PutU32(&dib[0], 40);
    PutU32(&dib[4], uint32_t(width));
    PutU32(&dib[8], uint32_t(height));
    PutU16(&dib[12], 1);
    PutU16(&dib[14], uint32_t(bits));
    uint8_t* colors = &dib[40];
    if (bits == 1) {
        std::memset(colors + 4, 255, 4);
    } else if (bits == 8) {
        for (int i = 0; i < 256; ++i) {
            TKVRGB entry{uint8_t(i), uint8_t(i), uint8_t(i)};
            if (source->GetPixelFormat() == kv8Paletted) source->GetPaletteEntry(i, entry);
            colors[4 * i] = entry.b;
            colors[4 * i + 1] = entry.g;
            colors[4 * i + 2] = entry.r;
        }
    }
    uint8_t* rows = colors + colorBytes;
    TKVAccessScope reading(*source, kvaRead);
    for (int y = y1 - 1; y >= y0; --y, rows += rowLen) {
        const uint8_t* row = source->GetScanline(y);
        if (bits == 1) KVCopyBits(rows, row, 0, source->GetRowLen(), width, x0);
        else std::memcpy(rows, row + int64_t(x0) * (bits / 8), size_t(int64_t(width) * (bits / 8)));
    }
    return dib;
}

int KVDIBToDibBitmap(const uint8_t* dib, int64_t size, TKVDibbitmap& dest, const uint8_t* bits, int64_t bitsSize) {
    if (!dib || size < 12) return 0;
    const uint32_t headerSize = GetU32(dib);
    const bool core = headerSize == 12;
    if ((!core && headerSize < 40) || headerSize > size) return 0;
    const int bitCount = int(GetU16(dib + (core ? 10 : 14)));
    const uint32_t compression = core ? 0 : GetU32(dib + 16);
    const uint32_t colorsUsed = core ? 0 : GetU32(dib + 32);
    int64_t colorBytes = 0;
    if (bitCount <= 8) colorBytes = int64_t(colorsUsed ? colorsUsed : 1u << bitCount) * (core ? 3 : 4);
    else if (compression == 3 && headerSize == 40) colorBytes = 12;  // the three bit-field masks
    const int64_t bitsOffset = headerSize + colorBytes;
    if (bitsOffset > size) return 0;

    // Read as a BMP file: a file header in front of the DIB.
    std::vector<uint8_t> file(14);
    file[0] = 'B';
    file[1] = 'M';
    if (bits) {
        file.insert(file.end(), dib, dib + bitsOffset);
        file.insert(file.end(), bits, bits + std::max<int64_t>(bitsSize, 0));
    } else {
        file.insert(file.end(), dib, dib + size);
    }
    PutU32(&file[2], uint32_t(file.size()));
    PutU32(&file[10], uint32_t(14 + bitsOffset));
    TMemoryStream stream;
    stream.WriteBuffer(file.data(), int64_t(file.size()));
    stream.SetPosition(0);
    TBitmap picture;
    try {
        ReadBmp(stream, picture);
    } catch (const Exception&) {
        return 0;
    }
    const int width = picture.Width(), height = picture.Height();
    if (bitCount == 1) {
        dest.AllocateDIB(width, height, 1);
        for (int y = 0; y < dest.GetHeight(); ++y) {
            uint8_t* row = dest.GetScanline(y);
            for (int x = 0; x < width; ++x) {
                const TColor c = picture.Pixel(x, y);
                KVSetBit(row, x, (GetRValue(c) * 21 + GetGValue(c) * 71 + GetBValue(c) * 8) / 100 >= 128);
            }
        }
    } else {
        picture.SetPixelFormat(TPixelFormat::pf24bit);
        dest.AllocateDIB(width, height, 24);
        for (int y = 0; y < dest.GetHeight(); ++y)
            std::memcpy(dest.GetScanline(y), picture.ScanLine(y), size_t(int64_t(width) * 3));
    }
    return bitCount;
}

// --- Class-library bitmaps

namespace {

// Entry i: the 8 pixels of the bits of i, most significant first, white for a set bit.
const std::array<std::array<uint8_t, 24>, 256>& ExpansionTable() {
    static const auto table = [] {
        std::array<std::array<uint8_t, 24>, 256> t{};
        for (int i = 0; i < 256; ++i)
            for (int bit = 0; bit < 8; ++bit)
                if (i & (0x80 >> bit)) std::memset(&t[size_t(i)][size_t(bit) * 3], 255, 3);
        return t;
    }();
    return table;
}

}  // namespace

void KVExpand1BitTBitmap(const TBitmap& source, TBitmap& dest, TObject* sender, const TKVProgressEvent& progress) {
    const int width = source.Width(), height = source.Height();
    dest.SetSize(0, 0);
    dest.SetPixelFormat(TPixelFormat::pf24bit);
    dest.SetSize(width, height);
    if (source.PixelFormat() != TPixelFormat::pf1bit || dest.Empty()) return;
    const auto& table = ExpansionTable();
    for (int y = 0; y < height; ++y) {
        const uint8_t* from = source.ScanLine(y);
        uint8_t* to = dest.ScanLine(y);
        for (int i = 0; i < width / 8; ++i) std::memcpy(to + 24 * int64_t(i), table[from[i]].data(), 24);
        if (width % 8) std::memcpy(to + 24 * int64_t(width / 8), table[from[width / 8]].data(), size_t(width % 8) * 3);
        if (progress) progress(sender, int((y + 1) * 100 / (height + 0.5)));
    }
}

void KVCopyTBitmap(const TBitmap& source, TBitmap& dest) {
    if (&source == &dest) return;
    if (source.Empty()) {
        dest.SetSize(0, 0);
        dest.SetPixelFormat(source.PixelFormat());
        dest.SetSize(1, 1);
        return;
    }
    dest.Assign(source);
}

std::unique_ptr<TBitmap> KVCloneTBitmap(const TBitmap& source) {
    auto copy = std::make_unique<TBitmap>();
    KVCopyTBitmap(source, *copy);
    return copy;
}
