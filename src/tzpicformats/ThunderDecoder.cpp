#include "ThunderDecoder.h"

#include <algorithm>

namespace {

constexpr int kTwoBitDeltas[4] = {0, 1, 0, -1};           // code 2 writes nothing
constexpr int kThreeBitDeltas[8] = {0, 1, 2, 3, 0, -3, -2, -1};  // code 4 writes nothing

// One row of packed 4-bit pixels; a pixel past its end is damaged data.
class TNibbleRow {
public:
    TNibbleRow(uint8_t* row, int64_t pixels) : row_(row), pixels_(pixels) {}
    int64_t Count() const { return count_; }
    bool Full() const { return count_ >= pixels_; }
    uint8_t Last() const { return last_; }
    void Write(int value) {
        if (Full()) RaiseDamagedData();
        last_ = uint8_t(value & 0x0F);
        uint8_t& byte = row_[count_ / 2];
        byte = count_ % 2 == 0 ? uint8_t(last_ << 4) : uint8_t(byte | last_);
        ++count_;
    }

private:
    uint8_t* row_;
    int64_t pixels_;
    int64_t count_ = 0;
    uint8_t last_ = 0;
};

}  // namespace

void TThunderDecoder::Decode(const uint8_t*& source, uint8_t*& target, int64_t unpackedSize, int64_t packedSize) {
    if (rowBytes_ <= 0) return;
    int64_t in = 0;
    for (int64_t rowStart = 0; rowStart < unpackedSize; rowStart += rowBytes_) {
        if (unpackedSize - rowStart < rowBytes_) RaiseDamagedData();
        TNibbleRow row(target + rowStart, std::min(rowPixels_, 2 * int64_t(rowBytes_)));
        while (in < packedSize && !row.Full()) {
            const uint8_t code = source[in++];
            if (code < 64) {
                for (int n = 0; n < code; ++n) row.Write(row.Last());
            } else if (code < 128) {
                for (int shift = 4; shift >= 0; shift -= 2) {
                    const int delta = (code >> shift) & 3;
                    if (delta != 2) row.Write(row.Last() + kTwoBitDeltas[delta]);
                }
            } else if (code < 192) {
                for (int shift = 3; shift >= 0; shift -= 3) {
                    const int delta = (code >> shift) & 7;
                    if (delta != 4) row.Write(row.Last() + kThreeBitDeltas[delta]);
                }
            } else {
                row.Write(code & 0x0F);
            }
        }
    }
}
