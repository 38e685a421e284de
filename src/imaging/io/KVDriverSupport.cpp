#include "imaging/io/KVDriverSupport.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "imaging/core/KVBitmap.h"
#include "imaging/io/KVCcitt.h"
#include "platform/Classes.h"

std::vector<uint8_t> ReadStreamRest(TStream& stream, int64_t limit) {
    const int64_t start = stream.Position();
    int64_t available = std::max<int64_t>(stream.Size() - start, 0);
    if (limit >= 0) available = std::min(available, limit);
    std::vector<uint8_t> bytes(static_cast<size_t>(available));
    const int64_t got = bytes.empty() ? 0 : stream.Read(bytes.data(), available);
    bytes.resize(static_cast<size_t>(std::max<int64_t>(got, 0)));
    return bytes;
}

TKVStreamPrefix::TKVStreamPrefix(TStream& stream) : size(stream.Size() - stream.Position()) {
    const int64_t start = stream.Position();
    bytes = ReadStreamRest(stream, 4096);
    stream.SetPosition(start);
}

bool TKVStreamPrefix::Starts(const char* text, int64_t at) const {
    const size_t n = std::strlen(text);
    return int64_t(bytes.size()) >= at + int64_t(n) && std::memcmp(bytes.data() + at, text, n) == 0;
}

std::string TKVStreamPrefix::Tag(size_t length) const {
    std::string tag;
    for (size_t i = 0; i < length && i < bytes.size() && bytes[i]; ++i) tag += char(bytes[i]);
    return tag;
}

int PixelsPerMetreToDpi(int64_t pixelsPerMetre) {
    if (pixelsPerMetre < 1) return 0;
    return static_cast<int>(std::min<double>(std::nearbyint(pixelsPerMetre / 100.0 * 2.54), 1 << 30));
}

int32_t DpiToPixelsPerMetre(int dpi) {
    return static_cast<int32_t>(std::nearbyint(std::max(dpi, 0) / 2.54 * 100.0));
}

std::unique_ptr<TKVBitmap> OneBitCopy(TKVBitmap& bitmap) {
    auto copy = std::make_unique<TKVBitmap>();
    copy->Assign(&bitmap);
    copy->SetDitherMode(bitmap.DitherMode());
    copy->ConvertPixelFormat(kv1Bit);
    return copy;
}

std::vector<uint8_t> FaxCodedRows(TKVBitmap& bitmap, bool groupFour, TKVProgressRec& progress) {
    TMemoryStream coded;
    TCCITTEncodeState state;
    std::atomic<bool> failed{false};
    const int width = bitmap.GetWidth();
    const auto encode = [&](const uint8_t* row) {
        if (groupFour) CCITTEncodeG4(row, width, coded, 1, failed, state);
        else CCITTEncodeG3_2D(row, width, coded, 1, failed, state);
    };
    TKVAccessScope reading(bitmap, kvaRead);
    for (int y = 0; y < bitmap.GetHeight() && !progress.Aborted() && !failed; ++y) {
        encode(bitmap.GetScanline(y));
        progress.Report(y);
    }
    encode(nullptr);
    if (failed) Abort(progress);
    return coded.Bytes();
}
