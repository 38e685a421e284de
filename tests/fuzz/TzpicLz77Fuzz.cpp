// The extended library's deflate decoder: options bit 0 asks for auto reset, bit 1 for zlib's
// finish flush; the data go in two calls, as PNG chunks do.
#include <zlib.h>

#include "TzpicFuzzInput.h"
#include "tzpicformats/LZ77Decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TDecoderFuzzInput input;
    if (!input.Parse(data, size)) return 0;
    TLZ77Decoder decoder(input.options & 2 ? Z_FINISH : Z_PARTIAL_FLUSH, input.options & 1);
    const uint8_t* source = input.packed;
    uint8_t* target = input.target.data();
    const int64_t unpacked = int64_t(input.target.size()), half = input.packedSize / 2;
    try {
        decoder.StartDecoding();
        decoder.Decode(source, target, unpacked / 2, half);
        decoder.Decode(source, target, unpacked - (target - input.target.data()), input.packed + input.packedSize - source);
        decoder.FinishDecoding();
    } catch (const Exception&) {
    }
    return 0;
}
