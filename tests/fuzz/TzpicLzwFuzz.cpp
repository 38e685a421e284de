// The extended library's LZW decoders: options bit 0 picks GIF, whose code size is options >> 1.
#include "TzpicFuzzInput.h"
#include "tzpicformats/LZWDecoders.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TDecoderFuzzInput input;
    if (!input.Parse(data, size)) return 0;
    const uint8_t* source = input.packed;
    uint8_t* target = input.target.data();
    const int64_t unpacked = int64_t(input.target.size());
    try {
        if (input.options & 1) TGIFLZWDecoder(input.options >> 1).Decode(source, target, unpacked, input.packedSize);
        else TTIFFLZWDecoder().Decode(source, target, unpacked, input.packedSize);
    } catch (const Exception&) {
    }
    return 0;
}
