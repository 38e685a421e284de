#include "PCDDecoder.h"

#include <algorithm>
#include <vector>

#include "platform/ByteReader.h"

namespace {

struct TResidualCode {
    int Length;
    uint32_t Code;  // left-aligned in 32 bits
    uint32_t Mask;
    int8_t Key;
};
using TResidualTable = std::vector<TResidualCode>;

// A 32-bit window on the data: bits are taken from the top, bytes come in 2048 at a time.
class TBitWindow {
public:
    explicit TBitWindow(TStream& stream) : stream_(stream), buffer_(2048) {}
    uint32_t Value() const { return value_; }
    void Get(int count) {
        value_ = count >= 32 ? 0 : value_ << count;
        valid_ -= count;
        while (valid_ <= 24) {
            if (position_ == filled_) Refill();
            value_ |= uint32_t(buffer_[size_t(position_++)]) << (24 - valid_);
            valid_ += 8;
        }
    }
    bool AtSync() const { return (value_ & 0xFFFFFF00u) == 0xFFFFFE00u; }
    void SkipToSync() {
        while ((value_ & 0x00FFF000u) != 0x00FFF000u) Get(8);
        while (!AtSync()) Get(1);
    }

private:
    void Refill() {
        filled_ = stream_.Read(buffer_.data(), int64_t(buffer_.size()));
        position_ = 0;
        if (filled_ <= 0) throw EShortData("Photo-CD data end before the last row.");
    }

    TStream& stream_;
    std::vector<uint8_t> buffer_;
    int64_t position_ = 0, filled_ = 0;
    uint32_t value_ = 0;
    int valid_ = 32;
};

// Each table: an entry count less one, then per entry its length less one, 16 code bits and the
// key. False for a code longer than 16 bits.
bool ReadTables(TBitWindow& bits, int count, std::vector<TResidualTable>& tables) {
    for (int t = 0; t < count; ++t) {
        bits.Get(8);
        const int entries = int(bits.Value() & 0xFF) + 1;
        TResidualTable& table = tables.emplace_back();
        for (int e = 0; e < entries; ++e) {
            bits.Get(8);
            const int length = int(bits.Value() & 0xFF) + 1;
            if (length > 16) return false;
            bits.Get(16);
            const uint32_t code = (bits.Value() & 0xFFFF) << 16;
            bits.Get(8);
            const uint32_t mask = ~((1u << (32 - length)) - 1);
            table.push_back({length, code, mask, int8_t(uint8_t(bits.Value() & 0xFF))});
        }
    }
    return true;
}

}  // namespace

void TPCDDecoder::Decode(const uint8_t*& source, uint8_t*&, int64_t unpackedSize, int64_t packedSize) {
    const TPCDPlanes& planes = *reinterpret_cast<const TPCDPlanes*>(source);
    const int64_t endRow = unpackedSize, rowWidth = packedSize;
    TBitWindow bits(stream_);
    std::vector<TResidualTable> tables;
    if (!ReadTables(bits, rowWidth > 1536 ? 3 : 1, tables)) return;
    bits.Get(16);
    bits.Get(16);
    bits.SkipToSync();
    uint8_t* position = planes.Luminance;
    uint8_t* end = planes.Luminance;  // nothing may be written before the first row is named
    const TResidualTable* table = &tables[0];
    for (;;) {
        if (bits.AtSync()) {
            bits.Get(16);
            const int64_t row = (bits.Value() >> 9) & 0x1FFF;
            if (row == endRow) return;
            bits.Get(8);
            const uint32_t plane = bits.Value() >> 30;
            bits.Get(16);
            if (plane == 1) throw EAbort("");
            const size_t tableIndex = plane == 0 ? 0 : plane - 1;
            // Chrominance needs the tables of wide images.
            if (tableIndex >= tables.size()) RaiseDamagedData();
            table = &tables[tableIndex];
            uint8_t* base = plane == 0 ? planes.Luminance : plane == 2 ? planes.Chroma1 : planes.Chroma2;
            const int64_t size = plane == 0 ? planes.LuminanceSize : planes.ChromaSize;
            const int64_t offset = (plane == 0 ? row : row / 2) * rowWidth;
            if (offset + rowWidth > size) RaiseDamagedData();
            position = base + offset;
            end = position + rowWidth;
            continue;
        }
        const auto found = std::find_if(table->begin(), table->end(), [&](const TResidualCode& entry) {
            return (bits.Value() & entry.Mask) == entry.Code;
        });
        if (found == table->end()) {
            bits.SkipToSync();
            continue;
        }
        if (position >= end) RaiseDamagedData();
        const int v = std::clamp(int(*position) + found->Key, 0, 255);
        // The stored sample is one below the corrected value.
        *position++ = uint8_t(v == 0 ? 0 : v - 1);
        bits.Get(found->Length);
    }
}
