#pragma once
// The JPEG strips of TIFF compression 7, with the tables the TIFF header may hold once for all of
// them. Rows come out as the strip stores its samples, colour rows in blue-green-red order.
#include <memory>

#include "Decoder.h"

struct TImageProperties;

class TTIFFJPEGDecoder : public TDecoder {
public:
    // The properties stay the caller's; the reader moves CurrentRow and CurrentStrip between strips.
    explicit TTIFFJPEGDecoder(const TImageProperties& properties);
    ~TTIFFJPEGDecoder() override;
    void StartDecoding() override;
    // Sizes in bytes: the unpacked size is a whole number of rows of the properties' BytesPerLine.
    void Decode(const uint8_t*& source, uint8_t*& target, int64_t unpackedSize, int64_t packedSize) override;
    void FinishDecoding() override;

private:
    struct TJpeg;
    std::unique_ptr<TJpeg> jpeg_;
    const TImageProperties& properties_;
};
