// Hostile sizes and values: what a file claims is checked against the picture, predictors stay
// within their samples' range, and every way out of a reader leaves the stream where it was.
#include <gtest/gtest.h>

#include <cstring>

#include "../DriverTestSupport.h"
#include "RawTestSupport.h"
#include "imaging/core/KVStreams.h"
#include "imaging/raw/KVRaw.h"

namespace {

TEST(RawBounds, MetadataKeepsTheStreamPositionOnEveryReturn) {
    TBytes heap = WriteCanonCiffCompressed("Canon EOS Test", MosaicRaster(0x94949494, 8, 16, 900));
    TBytes cutHeap(heap.begin(), heap.begin() + 40);
    TBytes wrongMark = heap;
    wrongMark[0] = wrongMark[1] = 'X';
    std::memcpy(wrongMark.data() + 6, "HEAPXXXX", 8);
    const struct {
        const char* name;
        TBytes bytes;
    } cases[] = {
        {"shorter than the head", TBytes(10, 'I')},
        {"neither byte order nor heap", wrongMark},
        {"heap cut short", cutHeap},
        {"whole heap", heap},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TDriverCall call;
        TKVMemStream stream(c.bytes.data(), int64_t(c.bytes.size()));
        stream.SetPosition(3);
        KVReadRawMetadata(stream, call.params);
        EXPECT_EQ(stream.Position(), 3);
    }
}

}  // namespace
