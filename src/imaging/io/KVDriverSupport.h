#pragma once
// What the picture drivers share: the bytes of a stream held in memory for a bounds-checked
// reader, the rule that no exception leaves a driver, and rows written top-down.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "imaging/core/KVProgress.h"
#include "platform/ByteReader.h"
#include "platform/Exception.h"

class TStream;
class TKVBitmap;

// The bytes from the stream's position to its end (at most limit bytes when limit >= 0); the
// stream is left behind them.
std::vector<uint8_t> ReadStreamRest(TStream& stream, int64_t limit = -1);

// The first bytes of a stream (at most 4096) and the count of bytes from its position to its end,
// for content tests; the stream position is kept.
class TKVStreamPrefix {
public:
    explicit TKVStreamPrefix(TStream& stream);
    bool Starts(const char* text, int64_t at = 0) const;
    // The bytes as text up to the first zero byte, at most length of them: the tag of the
    // component's own stream headers ("JFIF", "PCX2", "TIFF").
    std::string Tag(size_t length) const;
    TByteReader Reader() const { return TByteReader(bytes.data(), int64_t(bytes.size())); }

    int64_t size;
    std::vector<uint8_t> bytes;
};

// Runs a driver's body: any failure (short data, a size beyond the limits, memory) sets the
// abort flag instead of leaving the driver.
template <typename Body> void RunDriver(TKVProgressRec& progress, Body body) {
    try {
        body();
    } catch (const Exception& e) {
        progress.Fail(e.what());
    } catch (const std::bad_alloc&) {
        progress.Fail("not enough memory");
    }
}

// Sets the step once for a loop of units (rows) as the drivers report it.
inline void StartProgress(TKVProgressRec& progress, int units) {
    progress.PercentFactor = units > 0 ? 100.0 / units : 0;
}

inline void Abort(TKVProgressRec& progress) {
    if (progress.AbortFlag) progress.AbortFlag->store(true);
}

// Pixels per metre to dots per inch, rounded; values below 1 give 0 (no resolution).
int PixelsPerMetreToDpi(int64_t pixelsPerMetre);
// Dots per inch to pixels per metre, rounded.
int32_t DpiToPixelsPerMetre(int dpi);

// The rows of a 1-bit picture coded by Group 4 or Group 3 two-dimensional fax coding, as they
// are stored (a 1 bit, white, is coded as black): a decoder told BlackIs1 gives the rows back.
std::vector<uint8_t> FaxCodedRows(TKVBitmap& bitmap, bool groupFour, TKVProgressRec& progress);

// A 1-bit copy of a picture of another format, converted by the bitmap's dither mode.
std::unique_ptr<TKVBitmap> OneBitCopy(TKVBitmap& bitmap);
