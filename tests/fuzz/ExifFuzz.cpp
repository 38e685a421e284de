// The EXIF block reader on arbitrary bytes behind an "Exif" signature, and the header search.
#include <cstdint>
#include <vector>

#include "imaging/io/KVExif.h"
#include "imaging/core/KVStreams.h"
#include "imaging/io/IOParamsVals.h"
#include "platform/PictureLimits.h"

static const bool inMemory = (KVDefaultMemoryThreshold = int64_t(1) << 32, true);
static const TPictureLimitsOverride smallPictures({int64_t(1) << 14, int64_t(1) << 18, 2048, int64_t(1) << 18});

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> block = {'E', 'x', 'i', 'f', 0, 0};
    block.insert(block.end(), data, data + size);
    TIOParamsVals params(nullptr);
    KVLoadEXIFFromBuffer(block.data(), int64_t(block.size()), params);
    TKVMemStream stream(data, int64_t(size));
    KVSearchTIFFHeader(stream);
    KVLoadEXIFFromStream(stream, params);
    return 0;
}
