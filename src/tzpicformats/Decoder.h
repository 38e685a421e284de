#pragma once
// The decompressors every extended format class picks by compression scheme: started once,
// called per strip, row or plane buffer, finished at the end.
#include <cstdint>

#include "platform/Exception.h"

class EGraphicCompression : public Exception { public: using Exception::Exception; };

[[noreturn]] void RaiseCompressionError(const char* message);
// Data whose run, literal or code would read past the packed bytes or write past the target.
[[noreturn]] void RaiseDamagedData();

class TDecoder {
public:
    virtual ~TDecoder() = default;
    // The units of the two sizes are each decoder's own. Decoders that advance the positions pass
    // them back; every decoder stays inside source[0, packedSize) and target[0, unpackedSize).
    virtual void Decode(const uint8_t*& source, uint8_t*& target, int64_t unpackedSize, int64_t packedSize) = 0;
    virtual void StartDecoding() {}
    virtual void FinishDecoding() {}
    // Only the Targa coder writes; the others leave bytesWritten alone.
    virtual void Encode(const uint8_t* /*source*/, uint8_t* /*target*/, int64_t& /*bytesWritten*/,
                        int64_t /*pixelCount*/) {}
};
