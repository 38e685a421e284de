// The extended library's TIFF JPEG decoder on a strip of a picture of (options & 15) + 1 by 8 pixels
// of 1 or 3 samples (bit 4), YCbCr when bit 5 is set; with bit 6 the first half of the data are
// the JPEG tables.
#include "TzpicFuzzInput.h"
#include "tzpicformats/PicFormatGraphic.h"
#include "tzpicformats/TIFFJPEGDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TDecoderFuzzInput input;
    if (!input.Parse(data, size)) return 0;
    TImageProperties p;
    p.Width = (input.options & 15) + 1;
    p.Height = 8;
    p.SamplesPerPixel = input.options & 16 ? 3 : 1;
    p.BitsPerSample = 8;
    p.ColorScheme = input.options & 32 ? smYCbCr : (p.SamplesPerPixel == 3 ? smRGB : smGray);
    p.PlanarConfig = 1;
    p.RowsPerStrip = {8};
    p.BytesPerLine = int32_t(p.Width * p.SamplesPerPixel);
    p.YCbCrSubSampling = {2, 2};
    const uint8_t* strip = input.packed;
    int64_t stripSize = input.packedSize;
    if (input.options & 64) {
        p.JPEGTables.assign(input.packed, input.packed + stripSize / 2);
        strip += stripSize / 2;
        stripSize -= stripSize / 2;
    }
    std::vector<uint8_t> target(size_t(p.BytesPerLine) * 8);
    uint8_t* out = target.data();
    try {
        TTIFFJPEGDecoder decoder(p);
        decoder.StartDecoding();
        decoder.Decode(strip, out, int64_t(target.size()), stripSize);
        decoder.FinishDecoding();
    } catch (const Exception&) {
    }
    return 0;
}
