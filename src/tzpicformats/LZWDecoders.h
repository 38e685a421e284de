#pragma once
// LZW data of TIFF (compression 5) and of GIF images. Sizes in bytes; every call starts with a
// fresh dictionary. A string that would reach past the target ends the call with the error.
#include "Decoder.h"

// Most significant bit first, the wider code one entry early, and the end code ends the call.
class TTIFFLZWDecoder : public TDecoder {
public:
    void Decode(const uint8_t*& source, uint8_t*& target, int64_t unpackedSize, int64_t packedSize) override;
};

// Least significant bit first; the end code only ends the codes of the byte that holds it. The
// target is passed back behind the last byte written, so a caller sees what data ended early.
class TGIFLZWDecoder : public TDecoder {
public:
    explicit TGIFLZWDecoder(int initialCodeSize) : initialCodeSize_(initialCodeSize) {}
    void Decode(const uint8_t*& source, uint8_t*& target, int64_t unpackedSize, int64_t packedSize) override;

private:
    int initialCodeSize_;
};
