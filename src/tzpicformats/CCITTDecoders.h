#pragma once
// Bilevel rows coded with the one-dimensional modified Huffman code of T.4: with end-of-line codes
// (TIFF compression 3) and without them (compression 2, and word-aligned 32771). Rows come out
// most significant bit first, white 0 and black 1, each row starting on a byte.
#include <vector>

#include "Decoder.h"

class TCCITTDecoder : public TDecoder {
public:
    // The T.4 options ask for nothing one-dimensional decoding does differently.
    TCCITTDecoder(uint32_t t4Options, int width, bool wordAligned, bool reverseBits);

protected:
    struct TState {
        int32_t Zero = 0, One = 0;  // next state per bit; 0 = none
        int32_t Value = 0;          // run length, -1 end of line, -2 invalid code
    };
    using TCodeTree = std::vector<TState>;

    // Source and target of one Decode call: clears the target.
    void Begin(const uint8_t* source, int64_t packedSize, uint8_t* target, int64_t unpackedSize);
    bool AtEnd() const { return bitsLeft_ == 0 && packedLeft_ == 0; }
    bool TargetFull() const { return rowStart_ >= unpackedSize_; }
    // The sum of make-up and terminating codes; negative for an end of line or an invalid code.
    int32_t ReadRun(bool white);
    // false at the end of the data.
    bool ReadBit();
    // Writes up to the end of the row; true when the row is complete.
    bool WriteRun(int32_t length, bool white);
    void EndRow();
    // Drops the unread bits of the current source byte, and with word alignment a further byte
    // when an odd number of them were used.
    void AlignSource();

private:
    static TCodeTree BuildTree(bool white);
    bool PeekBit();

    int width_;
    bool wordAligned_;
    bool reverseBits_;
    TCodeTree whiteTree_, blackTree_;
    const uint8_t* source_ = nullptr;
    int64_t packedLeft_ = 0, bytesRead_ = 0;
    uint8_t current_ = 0;
    int bitsLeft_ = 0;
    uint8_t* target_ = nullptr;
    int64_t unpackedSize_ = 0, rowStart_ = 0;
    int column_ = 0;
};

// Sizes in bytes; stops when the packed bytes are used up or the target is full.
class TCCITTFax3Decoder : public TCCITTDecoder {
public:
    using TCCITTDecoder::TCCITTDecoder;
    void Decode(const uint8_t*& source, uint8_t*& target, int64_t unpackedSize, int64_t packedSize) override;
};

// Sizes in bytes; rows start on a source byte. More rows than the target holds are refused.
class TCCITTMHDecoder : public TCCITTDecoder {
public:
    using TCCITTDecoder::TCCITTDecoder;
    void Decode(const uint8_t*& source, uint8_t*& target, int64_t unpackedSize, int64_t packedSize) override;
};
