// The extended library's Photo-CD residual decoder: options >> 1 + 1 rows of (options & 1 ? 1540 :
// 6) samples; the target size field is ignored and the packed data are the stream.
#include "TzpicFuzzInput.h"
#include "platform/Classes.h"
#include "tzpicformats/PCDDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TDecoderFuzzInput input;
    if (!input.Parse(data, size)) return 0;
    const int width = input.options & 1 ? 1540 : 6, height = (input.options >> 1) + 1;
    std::vector<uint8_t> luminance(size_t(width * height)), chroma1(size_t(width * ((height + 1) / 2))), chroma2 = chroma1;
    const TPCDPlanes planes{luminance.data(), int64_t(luminance.size()), chroma1.data(), chroma2.data(),
                            int64_t(chroma1.size())};
    TMemoryStream stream;
    stream.WriteBuffer(input.packed, input.packedSize);
    stream.SetPosition(0);
    const uint8_t* source = reinterpret_cast<const uint8_t*>(&planes);
    uint8_t* target = nullptr;
    try {
        TPCDDecoder(stream).Decode(source, target, height, width);
    } catch (const Exception&) {
    }
    return 0;
}
