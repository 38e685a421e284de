#pragma once
// Applies the Huffman-coded residuals of a Photo-CD image to its luminance and chrominance planes,
// which the reader has filled from the lower resolution and upsampled.
#include <cstdint>

#include "Decoder.h"
#include "platform/Classes.h"

// The three planes with their sizes in bytes: chrominance rows are half as many as luminance rows.
struct TPCDPlanes {
    uint8_t* Luminance;
    int64_t LuminanceSize;
    uint8_t* Chroma1;
    uint8_t* Chroma2;
    int64_t ChromaSize;
};

class TPCDDecoder : public TDecoder {
public:
    // The stream must stand at the start of the Huffman tables.
    explicit TPCDDecoder(TStream& stream) : stream_(stream) {}
    // source points at a TPCDPlanes record; unpackedSize is the row to stop at (the image height),
    // packedSize the samples per row; target is not used. A row or sample outside its plane is
    // damaged data; a file that ends first raises the stream's read error.
    void Decode(const uint8_t*& source, uint8_t*& target, int64_t unpackedSize, int64_t packedSize) override;

private:
    TStream& stream_;
};
