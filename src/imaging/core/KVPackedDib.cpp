#include "imaging/core/KVPackedDib.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <cstring>

#include "imaging/core/KVBasicHelpers.h"
#include "imaging/core/KVBits.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVDibBitmap.h"
#include "platform/Bmp.h"
#include "platform/ByteReader.h"
#include "platform/ByteWriter.h"
#include "platform/Graphics.h"
#include "platform/PictureLimits.h"

namespace {


// The fields of a DIB header that decide its size and where its rows start.
struct DibHeader {
    int64_t headerSize = 0;
    int64_t width = 0;
    int64_t height = 0;  // negative for rows top-down
    int bitCount = 0;
    int64_t colorBytes = 0;
};

DibHeader ReadDibHeader(const TByteReader& in) {
    DibHeader h;
    h.headerSize = in.U32LEAt(0);
    const bool core = h.headerSize == 12;
    if (!core && h.headerSize < 40) throw EShortData("unknown DIB header");
    in.BytesAt(0, h.headerSize);
    h.width = core ? in.U16LEAt(4) : int32_t(in.U32LEAt(4));
    h.height = core ? int16_t(in.U16LEAt(6)) : int32_t(in.U32LEAt(8));
    h.bitCount = in.U16LEAt(core ? 10 : 14);
    const uint32_t compression = core ? 0 : in.U32LEAt(16);
    const int64_t colorsUsed = core ? 0 : in.U32LEAt(32);
    if (h.bitCount <= 8) h.colorBytes = (colorsUsed ? colorsUsed : int64_t(1) << h.bitCount) * (core ? 3 : 4);
    else if (compression == 3 && h.headerSize == 40) h.colorBytes = 12;  // the three bit-field masks
    return h;
}

// The 24-bit copy of a picture the DIB cannot hold as it is; nullptr when it cannot be made.
std::unique_ptr<TKVBitmap> Copy24(TKVBitmap& bitmap) {
    try {
        auto copy = std::make_unique<TKVBitmap>();
        copy->Assign(&bitmap);
        copy->SetPixelFormat(kv24RGB);
        if (copy->IsEmpty() || copy->GetPixelFormat() != kv24RGB) return nullptr;
        return copy;
    } catch (const Exception&) {
        return nullptr;
    }
}

}  // namespace

std::vector<uint8_t> KVBitmapToDIBHandle(TKVBitmap& bitmap, int x0, int y0, int y1, int x1) {
    std::unique_ptr<TKVBitmap> converted;
    TKVBitmap* source = &bitmap;
    const TKVPixelFormat format = bitmap.GetPixelFormat();
    if (format != kv1Bit && format != kv8Paletted && format != kv8Gray && format != kv24RGB) {
        // Rows of another format read as 24-bit would be garbage: no DIB is better.
        converted = Copy24(bitmap);
        if (!converted) return {};
        source = converted.get();
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
    StoreU32LE(&dib[0], 40);
    StoreU32LE(&dib[4], uint32_t(width));
    StoreU32LE(&dib[8], uint32_t(height));
    StoreU16LE(&dib[12], 1);
    StoreU16LE(&dib[14], uint32_t(bits));
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
    DibHeader header;
    try {
        header = ReadDibHeader(TByteReader(dib, size));
    } catch (const EShortData&) {
        return 0;
    }
    const int64_t bitsOffset = header.headerSize + header.colorBytes;
    if (bitsOffset > size) return 0;
    const int64_t inputBytes = bits ? bitsOffset + std::max<int64_t>(bitsSize, 0) : size;
    // Run-length rows let a few bytes claim millions of pixels: refuse before decoding.
    if (!PictureSizeProblem(header.width, std::abs(header.height), header.bitCount == 1 ? 1 : 24, inputBytes).empty())
        return 0;

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
    StoreU32LE(&file[2], uint32_t(file.size()));
    StoreU32LE(&file[10], uint32_t(14 + bitsOffset));
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
    if (header.bitCount == 1) {
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
    return header.bitCount;
}
