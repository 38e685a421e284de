#include "RunLengthDecoders.h"

#include <algorithm>
#include <cstring>

namespace {

// Source and target of one call, each with its end; every step checks before it touches bytes.
class TRunCursor {
public:
    TRunCursor(const uint8_t* source, int64_t packedSize, uint8_t* target, int64_t unpackedSize)
        : in_(source), inEnd_(source + std::max<int64_t>(packedSize, 0)), out_(target),
          outEnd_(target + std::max<int64_t>(unpackedSize, 0)) {}

    int64_t InLeft() const { return inEnd_ - in_; }
    int64_t OutLeft() const { return outEnd_ - out_; }
    const uint8_t* In() const { return in_; }

    uint8_t Byte() {
        Need(1);
        return *in_++;
    }
    void Skip(int64_t count) {
        Need(count);
        in_ += count;
    }
    void Copy(int64_t count) {
        Need(count);
        Room(count);
        if (count == 0) return;
        std::memcpy(out_, in_, size_t(count));
        in_ += count;
        out_ += count;
    }
    void Fill(uint8_t value, int64_t count) {
        Room(count);
        if (count == 0) return;
        std::memset(out_, value, size_t(count));
        out_ += count;
    }
    // count copies of the unit of size bytes that starts at the source position.
    void Repeat(int size, int64_t count) {
        Need(size);
        Put(in_, size, count);
        in_ += size;
    }
    void Take(uint8_t* unit, int size) {
        Need(size);
        std::memcpy(unit, in_, size_t(size));
        in_ += size;
    }
    // count copies of a unit of size bytes held elsewhere.
    void Put(const uint8_t* unit, int size, int64_t count) {
        Room(count * size);
        for (int64_t i = 0; i < count; ++i) std::memcpy(out_ + i * size, unit, size_t(size));
        out_ += count * size;
    }

private:
    void Need(int64_t count) const { if (count > InLeft()) RaiseDamagedData(); }
    void Room(int64_t count) const { if (count > OutLeft()) RaiseDamagedData(); }

    const uint8_t* in_;
    const uint8_t* inEnd_;
    uint8_t* out_;
    uint8_t* outEnd_;
};

int TargaPixelBytes(int depth) {
    switch (depth) {
    case 8: return 1;
    case 15: case 16: return 2;
    case 24: return 3;
    case 32: return 4;
    default: return 0;
    }
}

}  // namespace

void TTargaRLEDecoder::Decode(const uint8_t*& source, uint8_t*& target, int64_t unpackedSize, int64_t packedSize) {
    const int p = TargaPixelBytes(colorDepth_);
    if (p == 0) return;
    TRunCursor cursor(source, packedSize, target, unpackedSize * p);
    while (cursor.OutLeft() > 0) {
        if (pixelsLeft_ == 0) {
            const uint8_t header = cursor.Byte();
            pixelsLeft_ = (header & 127) + 1;
            run_ = header & 128;
            if (run_) cursor.Take(runPixel_, p);
        }
        const int64_t n = std::min(pixelsLeft_, cursor.OutLeft() / p);
        if (run_) cursor.Put(runPixel_, p, n);
        else cursor.Copy(n * p);
        pixelsLeft_ -= n;
    }
    source = cursor.In();
}

void TTargaRLEDecoder::FinishDecoding() {
    if (pixelsLeft_ == 0) return;
    pixelsLeft_ = 0;
    RaiseDamagedData();
}

void TTargaRLEDecoder::Encode(const uint8_t* source, uint8_t* target, int64_t& bytesWritten, int64_t pixelCount) {
    const int p = (colorDepth_ + 1) / 8;
    bytesWritten = 0;
    if (p <= 0) return;
    const auto equal = [&](int64_t a, int64_t b) { return std::memcmp(source + a * p, source + b * p, size_t(p)) == 0; };
    int64_t i = 0;
    while (i < pixelCount) {
        int64_t raw = 0;
        while (raw < 128 && i + raw < pixelCount && !(i + raw + 1 < pixelCount && equal(i + raw, i + raw + 1))) ++raw;
        if (raw > 0) {
            target[bytesWritten++] = uint8_t(raw - 1);
            std::memcpy(target + bytesWritten, source + i * p, size_t(raw * p));
            bytesWritten += raw * p;
            i += raw;
            continue;
        }
        int64_t same = 1;
        while (same < 128 && i + same < pixelCount && equal(i, i + same)) ++same;
        target[bytesWritten++] = uint8_t(128 + same - 1);
        std::memcpy(target + bytesWritten, source + i * p, size_t(p));
        bytesWritten += p;
        i += same;
    }
}

void TPackbitsRLEDecoder::Decode(const uint8_t*& source, uint8_t*& target, int64_t unpackedSize, int64_t packedSize) {
    TRunCursor cursor(source, packedSize, target, unpackedSize);
    while (cursor.OutLeft() > 0 && cursor.InLeft() > 0) {
        const int8_t header = int8_t(cursor.Byte());
        if (header >= 0) {
            cursor.Copy(std::min<int64_t>(header + 1, cursor.OutLeft()));
        } else if (header != -128) {
            const uint8_t value = cursor.Byte();
            cursor.Fill(value, std::min<int64_t>(1 - header, cursor.OutLeft()));
        }
    }
}

void TPCXRLEDecoder::Decode(const uint8_t*& source, uint8_t*& target, int64_t unpackedSize, int64_t packedSize) {
    TRunCursor cursor(source, packedSize, target, unpackedSize);
    while (cursor.OutLeft() > 0) {
        const uint8_t byte = cursor.Byte();
        if (byte < 192) {
            cursor.Fill(byte, 1);
        } else {
            const uint8_t value = cursor.Byte();
            cursor.Fill(value, std::min<int64_t>(byte & 63, cursor.OutLeft()));
        }
    }
}

void TSGIRLEDecoder::Decode(const uint8_t*& source, uint8_t*& target, int64_t unpackedSize, int64_t packedSize) {
    TRunCursor cursor(source, packedSize, target, unpackedSize);
    const int size = sampleBits_ == 16 ? 2 : 1;
    for (;;) {
        uint8_t header = cursor.Byte();
        if (size == 2) header = cursor.Byte();
        const int64_t n = header & 127;
        if (n == 0) return;
        if (header & 128) cursor.Copy(n * size);
        else cursor.Repeat(size, n);
    }
}

void TCUTRLEDecoder::Decode(const uint8_t*& source, uint8_t*& target, int64_t unpackedSize, int64_t packedSize) {
    TRunCursor cursor(source, packedSize, target, unpackedSize);
    cursor.Skip(2);
    for (;;) {
        const uint8_t header = cursor.Byte();
        if (header == 0) break;
        const int64_t n = header & 127;
        if (header & 128) cursor.Repeat(1, n);
        else cursor.Copy(n);
    }
    source = cursor.In();
}

void TPSPRLEDecoder::Decode(const uint8_t*& source, uint8_t*& target, int64_t unpackedSize, int64_t packedSize) {
    TRunCursor cursor(source, packedSize, target, unpackedSize);
    while (cursor.InLeft() > 0) {
        const uint8_t header = cursor.Byte();
        if (header >= 128) cursor.Repeat(1, header - 128);
        else cursor.Copy(header);
    }
}

void TRLADecoder::Decode(const uint8_t*& source, uint8_t*& target, int64_t unpackedSize, int64_t packedSize) {
    TRunCursor cursor(source, packedSize, target, unpackedSize);
    while (cursor.InLeft() > 0) {
        const int8_t header = int8_t(cursor.Byte());
        if (header < 0) cursor.Copy(-int64_t(header));
        else cursor.Repeat(1, int64_t(header) + 1);
    }
}
