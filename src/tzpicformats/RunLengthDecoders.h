#pragma once
// The run-length codings of the Targa, PackBits (TIFF), PCX, SGI, Dr. Halo, Paint Shop Pro and
// RLA formats.
#include "Decoder.h"

// Sizes: unpacked in pixels, packed in bytes; passes the source position back. Encodes rows too.
// Writers may let a packet run on into the next row: a packet that reaches past one call's target
// goes on in the next call, and FinishDecoding raises when one is left over.
class TTargaRLEDecoder : public TDecoder {
public:
    explicit TTargaRLEDecoder(int colorDepth) : colorDepth_(colorDepth) {}
    void Decode(const uint8_t*& source, uint8_t*& target, int64_t unpackedSize, int64_t packedSize) override;
    void StartDecoding() override { pixelsLeft_ = 0; }
    void FinishDecoding() override;
    // target must hold pixelCount x (pixel size + 1) bytes, the worst case.
    void Encode(const uint8_t* source, uint8_t* target, int64_t& bytesWritten, int64_t pixelCount) override;

private:
    int colorDepth_;
    // The open packet: pixels still to write, and the pixel a run packet repeats.
    int64_t pixelsLeft_ = 0;
    bool run_ = false;
    uint8_t runPixel_[4] = {};
};

// Runs are cut at the end of the target, as TIFF writers may pad.
class TPackbitsRLEDecoder : public TDecoder {
public:
    void Decode(const uint8_t*& source, uint8_t*& target, int64_t unpackedSize, int64_t packedSize) override;
};

// Runs are cut at the end of the target.
class TPCXRLEDecoder : public TDecoder {
public:
    void Decode(const uint8_t*& source, uint8_t*& target, int64_t unpackedSize, int64_t packedSize) override;
};

// One row, up to its zero count; samples stay in file byte order.
class TSGIRLEDecoder : public TDecoder {
public:
    explicit TSGIRLEDecoder(int sampleBits) : sampleBits_(sampleBits) {}
    void Decode(const uint8_t*& source, uint8_t*& target, int64_t unpackedSize, int64_t packedSize) override;

private:
    int sampleBits_;
};

// One row behind its 2-byte length, up to its zero header; passes the source position back.
class TCUTRLEDecoder : public TDecoder {
public:
    void Decode(const uint8_t*& source, uint8_t*& target, int64_t unpackedSize, int64_t packedSize) override;
};

class TPSPRLEDecoder : public TDecoder {
public:
    void Decode(const uint8_t*& source, uint8_t*& target, int64_t unpackedSize, int64_t packedSize) override;
};

class TRLADecoder : public TDecoder {
public:
    void Decode(const uint8_t*& source, uint8_t*& target, int64_t unpackedSize, int64_t packedSize) override;
};
