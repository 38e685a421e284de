#pragma once
// ITU-T T.4 and T.6 run-length coding of bilevel rows: modified Huffman (TIFF compression 2),
// Group 3 one- and two-dimensional (3) and Group 4 (4). Rows are MSB first. Decoded rows use
// 1 for white; rows handed to the encoders use 1 for black. Fill order 2 stores each byte's
// bits least significant first.
#include <atomic>
#include <cstdint>
#include <vector>

class TStream;

// One modified-Huffman row starting at bit 0 of the data; returns the bytes consumed (whole bytes).
int64_t CCITTDecodeMH(uint8_t* row, const uint8_t* data, int64_t length, int fillOrder, int width);
// One one-dimensional row starting at bitPosition; returns the bit position after it.
int64_t CCITTDecode1D(uint8_t* row, const uint8_t* data, int64_t length, int fillOrder, int64_t bitPosition,
                      int width);
// One two-dimensional row (Group 3 2-D with eolCodes, Group 4 without); reference is the previous
// row (all white before the first) and receives the decoded row.
int64_t CCITTDecode2D(uint8_t* row, const uint8_t* data, int64_t length, bool eolCodes, int fillOrder,
                      int64_t bitPosition, uint8_t* reference, int width);

// What an encoder carries from row to row within one strip.
struct TCCITTEncodeState {
    int carriedBits = 0;
    uint8_t carriedByte = 0;
    std::vector<uint8_t> reference;  // the previous row; empty before the first of a strip
};

// Each writes through the checked stream write and sets abort on a short write. A null row
// finishes the strip: Group 3 pads to a byte (2-D after one EOL), Group 4 writes EOFB and pads.
void CCITTEncodeMH(const uint8_t* row, int width, TStream& stream, int fillOrder, std::atomic<bool>& abort);
void CCITTEncodeG3(const uint8_t* row, int width, TStream& stream, int fillOrder, std::atomic<bool>& abort,
                   TCCITTEncodeState& state);
void CCITTEncodeG3_2D(const uint8_t* row, int width, TStream& stream, int fillOrder, std::atomic<bool>& abort,
                      TCCITTEncodeState& state);
void CCITTEncodeG4(const uint8_t* row, int width, TStream& stream, int fillOrder, std::atomic<bool>& abort,
                   TCCITTEncodeState& state);
