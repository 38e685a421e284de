#include "imaging/io/KVWbmp.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "imaging/core/KVBitmap.h"
#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KVDriverSupport.h"
#include "imaging/io/KVFormatDriver.h"
#include "platform/ByteReader.h"
#include "platform/Classes.h"
#include "platform/PictureLimits.h"

namespace {

// Seven bits per byte, most significant first; a set top bit means another byte follows.
int64_t ReadMultiByte(TByteReader& r) {
    int64_t value = 0;
    for (int i = 0; i < 5; ++i) {
        const uint8_t b = r.U8();
        value = value << 7 | (b & 0x7F);
        if (!(b & 0x80)) return value;
    }
    throw EInvalidGraphic("WBMP size too long");
}

void PutMultiByte(std::vector<uint8_t>& out, uint32_t value) {
    int shift = 28;
    while (shift > 0 && !(value >> shift)) shift -= 7;
    for (; shift > 0; shift -= 7) out.push_back(uint8_t(0x80 | ((value >> shift) & 0x7F)));
    out.push_back(uint8_t(value & 0x7F));
}

void WriteWbmp(TStream& stream, TKVBitmap& bitmap, TKVProgressRec& progress) {
    if (bitmap.IsEmpty()) throw EInvalidGraphic("no picture to write");
    std::unique_ptr<TKVBitmap> oneBit = bitmap.GetPixelFormat() != kv1Bit ? OneBitCopy(bitmap) : nullptr;
    TKVBitmap& source = oneBit ? *oneBit : bitmap;
    const int width = source.GetWidth(), height = source.GetHeight();
    std::vector<uint8_t> header = {0, 0};
    PutMultiByte(header, uint32_t(width));
    PutMultiByte(header, uint32_t(height));
    stream.WriteBuffer(header.data(), int64_t(header.size()));
    TKVAccessScope reading(source, kvaRead);
    StartProgress(progress, height);
    for (int y = 0; y < height && !progress.Aborted(); ++y) {
        stream.WriteBuffer(source.GetScanline(y), (width + 7) / 8);
        progress.Report(y);
    }
}

}  // namespace

void ReadWBMPStream(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, bool paramsOnly, TKVProgressRec& progress) {
    const int64_t start = stream.Position();
    RunDriver(progress, [&] {
        const std::vector<uint8_t> bytes = ReadStreamRest(stream);
        TByteReader r(bytes.data(), int64_t(bytes.size()));
        if (r.U8() != 0 || r.U8() != 0) throw EInvalidGraphic("not a WBMP of type 0");
        const int64_t width = ReadMultiByte(r), height = ReadMultiByte(r);
        params.BitsPerSample = 1;
        params.SamplesPerPixel = 1;
        params.Width = int(std::min<int64_t>(width, INT32_MAX));
        params.Height = int(std::min<int64_t>(height, INT32_MAX));
        params.SetDpiX(DefaultDpiX);
        params.SetDpiY(DefaultDpiY);
        params.ColorMap.clear();
        if (paramsOnly) return;
        CheckPictureSize(width, height, 1, -1);
        const int64_t rowBytes = (width + 7) / 8;
        if (rowBytes * height > r.Remaining()) throw EShortData("WBMP data is cut short");
        bitmap.Allocate(int(width), int(height), kv1Bit);
        StartProgress(progress, int(height));
        TKVAccessScope writing(bitmap, kvaWrite);
        for (int y = 0; y < height && !progress.Aborted(); ++y) {
            std::memcpy(bitmap.GetScanline(y), r.Bytes(rowBytes).data(), size_t(rowBytes));
            progress.Report(y);
        }
        stream.SetPosition(start + r.Position());
    });
}

void WriteWBMPStream(TStream& stream, TKVBitmap& bitmap, TKVProgressRec& progress) {
    RunDriver(progress, [&] { WriteWbmp(stream, bitmap, progress); });
}

namespace {

void WriteWbmp(TStream& stream, TKVBitmap& bitmap, TIOParamsVals&, TKVProgressRec& progress) {
    WriteWBMPStream(stream, bitmap, progress);
}

}  // namespace

const TKVFormatDriver KVWbmpDriver{.FileType = kvftWBMP,
                                   .ReadHeader = KVReadHeaderBy<ReadWBMPStream>,
                                   .Read = KVReadPictureBy<ReadWBMPStream>,
                                   .Write = WriteWbmp};
