#pragma once
// ThunderScan 4-bit data (TIFF compression 32809) into rows of packed 4-bit pixels, the first pixel
// in the high nibble.
#include "Decoder.h"

class TThunderDecoder : public TDecoder {
public:
    // A row is rowBytes bytes: 2 x rowBytes pixels.
    explicit TThunderDecoder(int rowBytes) : rowBytes_(rowBytes) {}
    // Sizes in bytes. A run or delta past the end of its row is refused.
    void Decode(const uint8_t*& source, uint8_t*& target, int64_t unpackedSize, int64_t packedSize) override;

private:
    int rowBytes_;
};
