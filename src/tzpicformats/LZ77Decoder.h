#pragma once
// Deflate data through zlib's inflate: PNG image data, Paint Shop Pro blocks and deflate-compressed
// TIFF strips. Sizes in bytes; passes both positions back.
#include <memory>

#include "Decoder.h"

class TLZ77Decoder : public TDecoder {
public:
    // flushMode is zlib's (1 partial flush, 4 finish); autoReset starts every call on a new stream.
    TLZ77Decoder(int flushMode, bool autoReset);
    ~TLZ77Decoder() override;
    void StartDecoding() override;
    // Damaged deflate data raise "LZ77 decompression error."; after the end of a stream, calls
    // without auto reset decode nothing.
    void Decode(const uint8_t*& source, uint8_t*& target, int64_t unpackedSize, int64_t packedSize) override;
    void FinishDecoding() override;
    int64_t AvailableInput() const;
    int64_t AvailableOutput() const;

private:
    struct TInflate;
    std::unique_ptr<TInflate> inflate_;
    int flushMode_;
    bool autoReset_;
};
