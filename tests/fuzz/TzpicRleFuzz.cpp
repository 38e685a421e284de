// The extended library's seven run-length decoders; the options byte picks one.
#include <memory>

#include "TzpicFuzzInput.h"
#include "tzpicformats/RunLengthDecoders.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TDecoderFuzzInput input;
    if (!input.Parse(data, size)) return 0;
    std::unique_ptr<TDecoder> decoder;
    int64_t unpacked = int64_t(input.target.size());
    switch (input.options % 8) {
        case 0: decoder = std::make_unique<TTargaRLEDecoder>(24); unpacked /= 3; break;
        case 1: decoder = std::make_unique<TTargaRLEDecoder>(16); unpacked /= 2; break;
        case 2: decoder = std::make_unique<TPackbitsRLEDecoder>(); break;
        case 3: decoder = std::make_unique<TPCXRLEDecoder>(); break;
        case 4: decoder = std::make_unique<TSGIRLEDecoder>(input.options & 8 ? 16 : 8); break;
        case 5: decoder = std::make_unique<TCUTRLEDecoder>(); break;
        case 6: decoder = std::make_unique<TPSPRLEDecoder>(); break;
        default: decoder = std::make_unique<TRLADecoder>(); break;
    }
    const uint8_t* source = input.packed;
    uint8_t* target = input.target.data();
    try {
        decoder->StartDecoding();
        decoder->Decode(source, target, unpacked, input.packedSize);
        decoder->FinishDecoding();
    } catch (const Exception&) {
    }
    return 0;
}
