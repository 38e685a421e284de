// The record-by-record check of Windows and enhanced metafiles (playback is not fuzzed here: it
// runs in a child process of its own).
#include <cstdint>
#include <vector>

#include "platform/Exception.h"
#include "platform/qt/MetafileCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        CheckMetafile(std::vector<uint8_t>(data, data + size));
    } catch (const Exception&) {
    }
    return 0;
}
