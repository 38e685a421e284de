// The extended library's ThunderScan decoder; a row is options + 1 bytes.
#include "TzpicFuzzInput.h"
#include "tzpicformats/ThunderDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TDecoderFuzzInput input;
    if (!input.Parse(data, size)) return 0;
    const uint8_t* source = input.packed;
    uint8_t* target = input.target.data();
    try {
        TThunderDecoder(input.options + 1).Decode(source, target, int64_t(input.target.size()), input.packedSize);
    } catch (const Exception&) {
    }
    return 0;
}
