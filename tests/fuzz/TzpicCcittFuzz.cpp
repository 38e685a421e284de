// The extended library's CCITT decoders: options bit 0 picks modified Huffman, bit 1 word
// alignment, bit 2 reversed bits; the row width is 8 x (options >> 3) + 1 pixels.
#include "TzpicFuzzInput.h"
#include "tzpicformats/CCITTDecoders.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TDecoderFuzzInput input;
    if (!input.Parse(data, size)) return 0;
    const int width = 8 * (input.options >> 3) + 1;
    const bool wordAligned = input.options & 2, reversed = input.options & 4;
    const uint8_t* source = input.packed;
    uint8_t* target = input.target.data();
    const int64_t unpacked = int64_t(input.target.size());
    try {
        if (input.options & 1) TCCITTMHDecoder(0, width, wordAligned, reversed).Decode(source, target, unpacked, input.packedSize);
        else TCCITTFax3Decoder(0, width, wordAligned, reversed).Decode(source, target, unpacked, input.packedSize);
    } catch (const Exception&) {
    }
    return 0;
}
