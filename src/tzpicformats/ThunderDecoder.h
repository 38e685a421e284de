#pragma once
// ThunderScan 4-bit data (TIFF compression 32809) into rows of packed 4-bit pixels, the first pixel
// in the high nibble.
#include "Decoder.h"

class TThunderDecoder : public TDecoder {
public:
    // A row is rowBytes bytes holding rowPixels pixels, 2 x rowBytes when not given: a row of odd
    // width ends in a half byte, and its codes end with its last pixel.
    explicit TThunderDecoder(int rowBytes, int64_t rowPixels = 0)
        : rowBytes_(rowBytes), rowPixels_(rowPixels > 0 ? rowPixels : 2 * int64_t(rowBytes)) {}
    // Sizes in bytes. A run or delta past the end of its row is refused.
    void Decode(const uint8_t*& source, uint8_t*& target, int64_t unpackedSize, int64_t packedSize) override;

private:
    int rowBytes_;
    int64_t rowPixels_;
};
