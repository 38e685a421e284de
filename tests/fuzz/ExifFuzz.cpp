// The EXIF block reader on arbitrary bytes behind an "Exif" signature, and the header search.
#include "DriverFuzz.h"

#include <vector>

#include "imaging/io/KVExif.h"
#include "imaging/core/KVStreams.h"

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
