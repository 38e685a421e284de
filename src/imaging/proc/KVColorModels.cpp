#include "imaging/proc/KVColorModels.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "imaging/core/KVBasicHelpers.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVHash.h"
#include "platform/Graphics.h"

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
