#include "imaging/acquire/VideoFrame.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <string_view>

#include "imaging/core/KVBitmap.h"
#include "platform/ByteReader.h"
#include "platform/PictureLimits.h"

namespace {

constexpr uint32_t FourCC(std::string_view code) {
    return uint32_t(uint8_t(code[0])) | uint32_t(uint8_t(code[1])) << 8 | uint32_t(uint8_t(code[2])) << 16 |
           uint32_t(uint8_t(code[3])) << 24;
}

uint8_t Clip(double value) { return uint8_t(std::clamp(std::nearbyint(value), 0.0, 255.0)); }

struct TFrameInfo {
    int width = 0, height = 0;  // height without its sign
    bool topDown = false;       // the header's height was negative
    int bitCount = 0;
    uint32_t compression = 0;
    uint32_t coloursUsed = 0;
    int64_t headerSize = 0;
};

// Where source row r lands in the bitmap.
int TargetRow(const TFrameInfo& info, int row, bool firstRowLast) {
    return firstRowLast ? info.height - 1 - row : row;
}

// --- Uncompressed device-independent bitmaps (rows bottom-up unless the height is negative)

int64_t DibRowLength(int width, int bitCount) { return (int64_t(width) * bitCount + 31) / 32 * 4; }

struct TPalette {
    std::span<const uint8_t> table;
    uint32_t count = 0;
    // Entries past the table read as black instead of beyond it.
    const uint8_t* Entry(uint32_t index) const {
        static const uint8_t black[4] = {};
        return index < count ? table.data() + size_t(index) * 4 : black;
    }
};

// Width of a mask's run and its lowest bit; a zero mask yields a zero channel.
struct TMaskChannel {
    uint32_t mask = 0;
    int shift = 0, width = 0;
    explicit TMaskChannel(uint32_t value) : mask(value) {
        if (!value) return;
        shift = std::countr_zero(value);
        width = std::countr_one(value >> shift);
    }
    uint8_t Of(uint32_t pixel) const {
        if (!width) return 0;
        const uint32_t run = (pixel & mask) >> shift;
        return uint8_t(width >= 8 ? run >> (width - 8) : run << (8 - width));
    }
};

void DecodeDibRow(const TFrameInfo& info, std::span<const uint8_t> row, const TPalette& palette,
                  const TMaskChannel* masks, uint8_t* target) {
    const int width = info.width;
    switch (info.bitCount) {
        case 1:
            std::memcpy(target, row.data(), size_t(width + 7) / 8);
            break;
        case 24:
            std::memcpy(target, row.data(), size_t(width) * 3);
            break;
        case 4:
        case 8:
            for (int x = 0; x < width; ++x) {
                const uint32_t index = info.bitCount == 8 ? row[size_t(x)]
                                       : x % 2 == 0      ? row[size_t(x / 2)] >> 4
                                                         : row[size_t(x / 2)] & 0x0F;
                std::memcpy(target + x * 3, palette.Entry(index), 3);
            }
            break;
        case 16:
            for (int x = 0; x < width; ++x) {
                const uint32_t pixel = uint32_t(row[size_t(x) * 2]) | uint32_t(row[size_t(x) * 2 + 1]) << 8;
                target[x * 3] = masks[2].Of(pixel);
                target[x * 3 + 1] = masks[1].Of(pixel);
                target[x * 3 + 2] = masks[0].Of(pixel);
            }
            break;
        case 32:
            for (int x = 0; x < width; ++x) std::memcpy(target + x * 3, row.data() + size_t(x) * 4, 3);
            break;
    }
}

void DecodeDib(const TFrameInfo& info, TByteReader& header, std::span<const uint8_t> bits, bool bitsFollow,
               TKVBitmap& bitmap) {
    const std::span<const uint8_t> frameBytes = header.BytesAt(0, header.Size());
    const int b = info.bitCount;
    const uint32_t c = info.compression;
    const bool known = (b == 1 || b == 4 || b == 8) ? c == 0 : b == 16 ? (c == 0 || c == 3)
                     : b == 24                      ? c == 0
                     : b == 32                      ? (c == 0 || c == 3)
                                                    : false;
    if (!known) return;
    TPalette palette;
    TMaskChannel masks[3] = {TMaskChannel(0x7C00), TMaskChannel(0x03E0), TMaskChannel(0x001F)};
    int64_t tableBytes = 0;
    if (b <= 8) {
        palette.count = info.coloursUsed ? std::min<uint32_t>(info.coloursUsed, 1u << b) : 1u << b;
        // Colours used beyond what the bit count can index still occupy the table.
        tableBytes = int64_t(info.coloursUsed ? info.coloursUsed : 1u << b) * 4;
        if (b > 1) palette.table = header.BytesAt(info.headerSize, int64_t(palette.count) * 4);
    } else if (c == 3) {
        tableBytes = 12;
        if (b == 16)
            for (int i = 0; i < 3; ++i) masks[i] = TMaskChannel(header.U32LEAt(info.headerSize + i * 4));
    }
    if (bitsFollow) bits = frameBytes.subspan(size_t(std::min(info.headerSize + tableBytes, header.Size())));
    const int64_t rowLength = DibRowLength(info.width, b);
    const int rows = int(std::min<int64_t>(info.height, int64_t(bits.size()) / rowLength));
    for (int r = 0; r < rows; ++r)
        DecodeDibRow(info, bits.subspan(size_t(r * rowLength), size_t(rowLength)), palette, masks,
                     bitmap.GetScanline(TargetRow(info, r, !info.topDown)));
}

// --- YUV layouts (rows top-down unless the height is negative)

enum TYuvLayout : uint8_t { ylNone, ylI420, ylYV12, ylYVU9, ylYUY2, ylUYVY, ylYVYU, ylIYU1, ylIYU2, ylY41P, ylY211, ylCLJR };

TYuvLayout LayoutOf(uint32_t code) {
    switch (code) {
        case FourCC("I420"): case FourCC("IYUV"): return ylI420;
        case FourCC("YV12"): return ylYV12;
        case FourCC("YVU9"): return ylYVU9;
        case FourCC("YUY2"): case FourCC("YUNV"): return ylYUY2;
        case FourCC("UYVY"): case FourCC("UYNV"): case FourCC("cyuv"): return ylUYVY;
        case FourCC("YVYU"): return ylYVYU;
        case FourCC("IYU1"): return ylIYU1;
        case FourCC("IYU2"): return ylIYU2;
        case FourCC("Y41P"): return ylY41P;
        case FourCC("Y211"): return ylY211;
        case FourCC("CLJR"): return ylCLJR;
        default: return ylNone;
    }
}

// A packed layout: pixels per group and bytes per group.
struct TPackedGroup {
    int pixels, bytes;
};

TPackedGroup GroupOf(TYuvLayout layout) {
    switch (layout) {
        case ylIYU1: return {4, 6};
        case ylIYU2: return {1, 3};
        case ylY41P: return {8, 12};
        case ylY211: return {4, 4};
        case ylCLJR: return {4, 4};
        default: return {2, 4};
    }
}

// The luma, Cb and Cr of pixel i (0 .. pixels-1) of a group.
void SamplesOf(TYuvLayout layout, const uint8_t* g, int i, int& y, int& u, int& v) {
    switch (layout) {
        case ylYUY2: y = g[i * 2]; u = g[1]; v = g[3]; break;
        case ylUYVY: y = g[1 + i * 2]; u = g[0]; v = g[2]; break;
        case ylYVYU: y = g[i * 2]; u = g[3]; v = g[1]; break;
        case ylIYU1: {
            static const int luma[4] = {1, 2, 4, 5};
            y = g[luma[i]]; u = g[0]; v = g[3];
            break;
        }
        case ylIYU2: y = g[1]; u = g[0]; v = g[2]; break;
        case ylY41P: {
            static const int luma[8] = {1, 3, 5, 7, 8, 9, 10, 11};
            y = g[luma[i]];
            u = i < 4 ? g[0] : g[4];
            v = i < 4 ? g[2] : g[6];
            break;
        }
        case ylY211: y = i < 2 ? g[0] : g[2]; u = g[1]; v = g[3]; break;
        case ylCLJR: {
            const uint32_t word = uint32_t(g[0]) | uint32_t(g[1]) << 8 | uint32_t(g[2]) << 16 | uint32_t(g[3]) << 24;
            const auto fiveToEight = [](uint32_t f) { return int(f << 3 | f >> 2); };
            const auto sixToEight = [](uint32_t f) { return int(f << 2 | f >> 4); };
            y = fiveToEight(word >> (12 + i * 5) & 0x1F);
            u = sixToEight(word >> 6 & 0x3F);
            v = sixToEight(word & 0x3F);
            break;
        }
        default: y = u = v = 0; break;
    }
}

void DecodePacked(const TFrameInfo& info, TYuvLayout layout, bool firstRowLast, std::span<const uint8_t> bits,
                  TKVBitmap& bitmap) {
    const TPackedGroup group = GroupOf(layout);
    const int64_t groups = (int64_t(info.width) + group.pixels - 1) / group.pixels;
    const int64_t rowLength = groups * group.bytes;
    const int rows = int(std::min<int64_t>(info.height, int64_t(bits.size()) / rowLength));
    for (int r = 0; r < rows; ++r) {
        const uint8_t* source = bits.data() + r * rowLength;
        uint8_t* target = bitmap.GetScanline(TargetRow(info, r, firstRowLast));
        for (int x = 0; x < info.width; ++x) {
            int y, u, v;
            SamplesOf(layout, source + (x / group.pixels) * group.bytes, x % group.pixels, y, u, v);
            KVYUVToBGR(y, u, v, target + x * 3);
        }
    }
}

void DecodePlanar(const TFrameInfo& info, TYuvLayout layout, std::span<const uint8_t> bits, TKVBitmap& bitmap) {
    const int step = layout == ylYVU9 ? 4 : 2;
    const int64_t width = info.width, height = info.height;
    const int64_t chromaWidth = (width + step - 1) / step, chromaHeight = (height + step - 1) / step;
    const int64_t lumaBytes = width * height, chromaBytes = chromaWidth * chromaHeight;
    if (int64_t(bits.size()) < lumaBytes + 2 * chromaBytes) return;
    const uint8_t* luma = bits.data();
    const uint8_t* first = luma + lumaBytes;
    const uint8_t* second = first + chromaBytes;
    const uint8_t* cb = layout == ylI420 ? first : second;
    const uint8_t* cr = layout == ylI420 ? second : first;
    for (int64_t r = 0; r < height; ++r) {
        uint8_t* target = bitmap.GetScanline(TargetRow(info, int(r), info.topDown));
        const int64_t chromaRow = r / step * chromaWidth;
        for (int64_t x = 0; x < width; ++x)
            KVYUVToBGR(luma[r * width + x], cb[chromaRow + x / step], cr[chromaRow + x / step], target + x * 3);
    }
}

}  // namespace

void KVYUVToBGR(int y, int u, int v, uint8_t* bgr) {
    const double luma = 1.164 * (y - 16);
    bgr[0] = Clip(luma + 2.018 * (u - 128));
    bgr[1] = Clip(luma - 0.813 * (v - 128) - 0.391 * (u - 128));
    bgr[2] = Clip(luma + 1.596 * (v - 128));
}

int KVDecodeVideoFrame(std::span<const uint8_t> frame, TKVBitmap& bitmap, std::span<const uint8_t> bits) {
    TByteReader header(frame);
    TFrameInfo info;
    info.headerSize = std::max<int64_t>(header.U32LEAt(0), 40);
    info.width = int(header.U32LEAt(4));
    const int32_t height = int32_t(header.U32LEAt(8));
    info.bitCount = header.U16LEAt(14);
    info.compression = header.U32LEAt(16);
    info.coloursUsed = header.U32LEAt(32);
    info.topDown = height < 0;
    info.height = height == INT32_MIN ? INT32_MAX : std::abs(height);
    // YUV frames become 24-bit whatever bit count their header claims.
    const bool bilevel = info.bitCount == 1 && info.compression <= 3;
    CheckPictureSize(info.width, info.height, bilevel ? 1 : 24, int64_t(frame.size() + bits.size()));
    bitmap.Allocate(info.width, info.height, bilevel ? kv1Bit : kv24RGB);
    const bool bitsFollow = bits.data() == nullptr;
    const TYuvLayout layout = info.compression <= 3 ? ylNone : LayoutOf(info.compression);
    if (info.compression <= 3) DecodeDib(info, header, bits, bitsFollow, bitmap);
    else if (layout != ylNone) {
        if (bitsFollow) bits = frame.subspan(size_t(std::min<int64_t>(info.headerSize, int64_t(frame.size()))));
        if (layout == ylI420 || layout == ylYV12 || layout == ylYVU9) DecodePlanar(info, layout, bits, bitmap);
        else {
            // These two store their rows the other way round.
            const bool reversed = info.compression == FourCC("Y41P") || info.compression == FourCC("cyuv");
            DecodePacked(info, layout, reversed != info.topDown, bits, bitmap);
        }
    }
    return info.bitCount;
}
