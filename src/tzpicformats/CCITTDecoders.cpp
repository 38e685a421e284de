#include "CCITTDecoders.h"

#include <algorithm>
#include <cstring>

#include "platform/T4Codes.h"

namespace {

uint8_t Reversed(uint8_t b) {
    b = uint8_t((b & 0xF0) >> 4 | (b & 0x0F) << 4);
    b = uint8_t((b & 0xCC) >> 2 | (b & 0x33) << 2);
    return uint8_t((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

}  // namespace

TCCITTDecoder::TCCITTDecoder(uint32_t, int width, bool wordAligned, bool reverseBits)
    : width_(std::max(width, 0)), wordAligned_(wordAligned), reverseBits_(reverseBits),
      whiteTree_(BuildTree(true)), blackTree_(BuildTree(false)) {}

TCCITTDecoder::TCodeTree TCCITTDecoder::BuildTree(bool white) {
    TCodeTree tree(1);
    const auto add = [&tree](unsigned bits, int length, int32_t value) {
        size_t state = 0;
        for (int i = length - 1; i >= 0; --i) {
            const bool one = (bits >> i) & 1;
            int32_t next = one ? tree[state].One : tree[state].Zero;
            if (next == 0) {
                next = int32_t(tree.size());
                (one ? tree[state].One : tree[state].Zero) = next;
                tree.emplace_back();
            }
            state = size_t(next);
        }
        tree[state].Value = value;
    };
    for (const TT4Code& code : white ? T4WhiteCodes() : T4BlackCodes()) add(code.Bits, code.Length, code.Run);
    add(0b000000000001, 12, -1);
    add(0b000000001, 9, -2);
    add(0b0000000001, 10, -2);
    add(0b00000000001, 11, -2);
    add(0, 12, -2);
    return tree;
}

void TCCITTDecoder::Begin(const uint8_t* source, int64_t packedSize, uint8_t* target, int64_t unpackedSize) {
    source_ = source;
    packedLeft_ = std::max<int64_t>(packedSize, 0);
    bytesRead_ = 0;
    bitsLeft_ = 0;
    target_ = target;
    unpackedSize_ = std::max<int64_t>(unpackedSize, 0);
    if (unpackedSize_ > 0) std::memset(target_, 0, size_t(unpackedSize_));
    rowStart_ = 0;
    column_ = 0;
}

bool TCCITTDecoder::PeekBit() {
    if (bitsLeft_ == 0 && packedLeft_ > 0) {
        current_ = source_[bytesRead_++];
        if (reverseBits_) current_ = Reversed(current_);
        --packedLeft_;
        bitsLeft_ = 8;
    }
    return (current_ >> (bitsLeft_ - 1)) & 1;
}

bool TCCITTDecoder::ReadBit() {
    if (AtEnd()) return false;
    const bool bit = PeekBit();
    --bitsLeft_;
    return bit;
}

int32_t TCCITTDecoder::ReadRun(bool white) {
    const TCodeTree& tree = white ? whiteTree_ : blackTree_;
    int32_t sum = 0;
    size_t state = 0;
    for (;;) {
        // A code that ends with the data still counts.
        if (AtEnd()) return sum + tree[state].Value;
        const bool bit = PeekBit();
        const int32_t next = bit ? tree[state].One : tree[state].Zero;
        if (next != 0) {
            state = size_t(next);
            --bitsLeft_;
            continue;
        }
        const int32_t value = tree[state].Value;
        sum += value;
        if (value < 64) return sum;
        state = size_t(bit ? tree[0].One : tree[0].Zero);
        --bitsLeft_;
    }
}

bool TCCITTDecoder::WriteRun(int32_t length, bool white) {
    const int64_t rowBytes = (width_ + 7) / 8;
    if (rowStart_ + rowBytes > unpackedSize_) RaiseDamagedData();
    // A run past the row's end is cut there; it never spills into the next row.
    const int count = int(std::min<int64_t>(length, width_ - column_));
    if (!white) {
        uint8_t* row = target_ + rowStart_;
        for (int x = column_; x < column_ + count; ++x) {
            if (x % 8 == 0 && column_ + count - x >= 8) {
                const int whole = (column_ + count - x) / 8;
                std::memset(row + x / 8, 0xFF, size_t(whole));
                x += whole * 8 - 1;
            } else {
                row[x / 8] = uint8_t(row[x / 8] | (0x80 >> (x % 8)));
            }
        }
    }
    column_ += count;
    return column_ >= width_;
}

void TCCITTDecoder::EndRow() {
    rowStart_ += (width_ + 7) / 8;
    column_ = 0;
}

void TCCITTDecoder::AlignSource() {
    if (bitsLeft_ == 8) {  // fetched only to look at its first bit: the next row starts there
        --bytesRead_;
        ++packedLeft_;
    }
    bitsLeft_ = 0;
    if (wordAligned_ && bytesRead_ % 2 == 1 && packedLeft_ > 0) {
        ++bytesRead_;
        --packedLeft_;
    }
}

void TCCITTFax3Decoder::Decode(const uint8_t*& source, uint8_t*& target, int64_t unpackedSize, int64_t packedSize) {
    Begin(source, packedSize, target, unpackedSize);
    int endOfLines = 0;
    while (!AtEnd() && !TargetFull()) {
        if (endOfLines == 0) {
            for (int zeros = 0; zeros < 11 && !AtEnd();) zeros = ReadBit() ? 0 : zeros + 1;
        }
        while (!AtEnd() && !ReadBit()) {}
        endOfLines = 0;
        bool white = true;
        for (;;) {
            const int32_t run = ReadRun(white);
            if (run == -1) ++endOfLines;
            if (run < 0 || WriteRun(run, white) || AtEnd()) break;
            white = !white;
        }
        EndRow();
    }
}

void TCCITTMHDecoder::Decode(const uint8_t*& source, uint8_t*& target, int64_t unpackedSize, int64_t packedSize) {
    Begin(source, packedSize, target, unpackedSize);
    bool white = true;
    while (!AtEnd()) {
        const int32_t run = ReadRun(white);
        if (run > 0 && WriteRun(run, white)) {
            EndRow();
            AlignSource();
            white = true;
        } else {
            white = !white;
        }
    }
}
