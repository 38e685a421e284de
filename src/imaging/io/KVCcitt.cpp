#include "imaging/io/KVCcitt.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <span>

#include "imaging/core/KVVirtualImageList.h"
#include "platform/T4Codes.h"

namespace {

struct TCode {
    uint8_t length;
    uint16_t bits;
};

constexpr int kEol = -3, kIgnored = -1;
constexpr int kNoCode = 128, kPastEnd = 127;

// Run of table index i: terminating 0-63, make-up 64-103, then the EOL and fill codes.
int RunOf(int i) {
    if (i < 64) return i;
    if (i < 91) return (i - 63) * 64;
    if (i < 104) return 1792 + (i - 91) * 64;
    return i >= 105 && i <= 107 ? kIgnored : kEol;
}

// Binary code tree of one colour, codes MSB first; leaves hold table indexes.
class TCodeTree {
public:
    explicit TCodeTree(std::span<const TT4Code> codes) {
        nodes_.push_back({{0, 0}, -1});
        for (int i = 0; i < 104; ++i) Insert(codes[size_t(i)].Length, codes[size_t(i)].Bits, i);
        Insert(12, 1, 104);
        for (int zeros = 8; zeros <= 10; ++zeros) Insert(zeros + 1, 1, 105 + zeros - 8);
        for (int fill = 1; fill <= 20; ++fill) Insert(12 + fill, 1, 107 + fill);
    }
    struct TNode {
        int child[2];
        int leaf;
    };
    const TNode& Node(int i) const { return nodes_[size_t(i)]; }

private:
    void Insert(int length, uint32_t bits, int index) {
        int node = 0;
        for (int b = length - 1; b >= 0; --b) {
            const int bit = (bits >> b) & 1;
            if (!nodes_[size_t(node)].child[bit]) {
                nodes_[size_t(node)].child[bit] = int(nodes_.size());
                nodes_.push_back({{0, 0}, -1});
            }
            node = nodes_[size_t(node)].child[bit];
        }
        nodes_[size_t(node)].leaf = index;
    }
    std::vector<TNode> nodes_;
};

const TCodeTree& Tree(bool black) {
    static const TCodeTree white(T4WhiteCodes()), blackTree(T4BlackCodes());
    return black ? blackTree : white;
}

uint8_t Reversed(uint8_t b) {
    static const std::array<uint8_t, 256> table = [] {
        std::array<uint8_t, 256> t{};
        for (int i = 0; i < 256; ++i) {
            int r = 0;
            for (int bit = 0; bit < 8; ++bit)
                if (i & (1 << bit)) r |= 0x80 >> bit;
            t[size_t(i)] = uint8_t(r);
        }
        return t;
    }();
    return table[b];
}

// Codes are always consumed MSB first; fill order 2 bytes are reversed as they are read.
class TBitSource {
public:
    TBitSource(const uint8_t* data, int64_t length, int fillOrder, int64_t position)
        : data_(data), bits_(data ? length * 8 : 0), reversed_(fillOrder == 2), position_(position) {}
    bool AtEnd() const { return position_ >= bits_; }
    int64_t Position() const { return position_; }
    void Skip(int64_t count) { position_ += count; }
    // Bits past the end read as 0.
    int Bit(int64_t at) const {
        if (at >= bits_ || at < 0) return 0;
        uint8_t byte = data_[at >> 3];
        if (reversed_) byte = Reversed(byte);
        return (byte >> (7 - (at & 7))) & 1;
    }
    int Next() { return Bit(position_++); }
    // The 32 bits from the position, MSB first.
    uint32_t Window() const {
        const int64_t byte = position_ >> 3;
        uint64_t v = 0;
        for (int i = 0; i < 5; ++i) {
            v <<= 8;
            if (byte + i < bits_ >> 3) v |= reversed_ ? Reversed(data_[byte + i]) : data_[byte + i];
        }
        return uint32_t(v >> (8 - (position_ & 7)));
    }
    // The next count bits (at most 16) as a number, without consuming them.
    int Peek(int count) const { return int(Window() >> (32 - count)); }
    // Table index of the code at the position (which it consumes), kNoCode or kPastEnd.
    int Lookup(bool black) {
        if (AtEnd()) return kPastEnd;
        const TCodeTree& tree = Tree(black);
        const uint32_t window = Window();
        int node = 0;
        for (int i = 0; i < 32; ++i) {
            if (position_ + i >= bits_) return kNoCode;
            node = tree.Node(node).child[(window >> (31 - i)) & 1];
            if (!node) return kNoCode;
            if (tree.Node(node).leaf >= 0) {
                position_ += i + 1;
                return tree.Node(node).leaf;
            }
        }
        return kNoCode;
    }

private:
    const uint8_t* data_;
    int64_t bits_;
    bool reversed_;
    int64_t position_;
};

// Decoded rows: 1 bits are white.
void PaintBlack(uint8_t* row, int64_t from, int64_t to) {
    for (int64_t x = from; x < to;) {
        if ((x & 7) == 0 && x + 8 <= to) {
            row[x >> 3] = 0;
            x += 8;
        } else {
            row[x >> 3] &= uint8_t(~(0x80 >> (x & 7)));
            ++x;
        }
    }
}

void Paint(uint8_t* row, int64_t from, int64_t to, bool black) {
    if (black) {
        PaintBlack(row, from, to);
        return;
    }
    for (int64_t x = from; x < to; ++x) row[x >> 3] |= uint8_t(0x80 >> (x & 7));
}

int PixelOf(const uint8_t* row, int64_t x) { return (row[x >> 3] >> (7 - (x & 7))) & 1; }

// First position at or after from whose bit is value, or width; whole bytes are skipped at once.
int64_t FindBit(const uint8_t* row, int64_t from, int64_t width, int value) {
    const uint8_t other = value ? 0x00 : 0xFF;
    int64_t x = from;
    while (x < width) {
        if ((x & 7) == 0 && row[x >> 3] == other) {
            x += 8;
            continue;
        }
        if (PixelOf(row, x) == value) return x;
        ++x;
    }
    return width;
}

// The first changing element after a0 whose pixel has the opposite of the colour (white = 1).
int64_t ChangeAfter(const uint8_t* row, int64_t a0, int64_t width, int colour) {
    int64_t p = a0 + 1;
    if (p >= width) return width;
    const int previous = a0 < 0 ? 1 : PixelOf(row, a0);
    if (previous != colour) p = FindBit(row, p, width, colour);
    return FindBit(row, p, width, 1 - colour);
}

// A run of one colour: make-up codes summed with the terminating code; -1 on a bad code.
int64_t ReadRun(TBitSource& bits, bool black) {
    int64_t run = 0;
    for (;;) {
        const int index = bits.Lookup(black);
        if (index >= kPastEnd) return -1;
        const int value = RunOf(index);
        if (value == kIgnored) continue;
        if (value < 0) return -1;
        run += value;
        if (index < 64) return run;
    }
}

enum TMode { mPass, mHorizontal, mVertical, mUncompressed, mOneDimensional, mEol, mBad };

// Reads one mode code; offset receives the vertical offset.
TMode ReadMode(TBitSource& bits, bool eolCodes, int& offset) {
    const uint32_t window = bits.Window();
    const int zeros = std::min(std::countl_zero(window), 12);
    const auto take = [&](int length, TMode mode) {
        bits.Skip(length);
        return mode;
    };
    const int after = zeros < 12 ? int((window >> (30 - zeros)) & 1) : 0;
    switch (zeros) {
        case 0: offset = 0; return take(1, mVertical);
        case 1: offset = after ? 1 : -1; return take(3, mVertical);
        case 2: return take(3, mHorizontal);
        case 3: return take(4, mPass);
        case 4: offset = after ? 2 : -2; return take(6, mVertical);
        case 5: offset = after ? 3 : -3; return take(7, mVertical);
        case 6: return bits.Peek(10) == 0x0F ? take(10, mUncompressed) : take(1, mBad);
        case 8: return bits.Peek(12) == 0x0F ? take(12, mOneDimensional) : take(1, mBad);
        case 11: return take(12, mEol);
        case 12:
            if (!eolCodes) return take(1, mBad);
            // Fill bits before an EOL.
            while (!bits.AtEnd() && bits.Bit(bits.Position()) == 0) bits.Skip(1);
            bits.Skip(1);
            return mEol;
        default: return take(1, mBad);
    }
}

// Uncompressed mode from x; returns the new x and the colour that continues.
int64_t ReadUncompressed(TBitSource& bits, uint8_t* row, int64_t x, int64_t width, int& colour) {
    while (x < width && !bits.AtEnd()) {
        int n = 1;
        while (n <= 11 && bits.Bit(bits.Position() + n - 1) == 0) ++n;
        bits.Skip(n);
        if (n <= 5) {
            x = std::min<int64_t>(x + n - 1, width);
            if (x < width) PaintBlack(row, x, x + 1), ++x;
        } else if (n == 6) {
            x = std::min<int64_t>(x + 5, width);
        } else {
            x = std::min<int64_t>(x + n - 7, width);
            colour = bits.Next() ? 0 : 1;
            return x;
        }
    }
    return x;
}

}  // namespace

int64_t CCITTDecode1D(uint8_t* row, const uint8_t* data, int64_t length, int fillOrder, int64_t bitPosition,
                      int width) {
    std::memset(row, 0xFF, size_t((width + 7) / 8));
    TBitSource bits(data, length, fillOrder, bitPosition);
    bool black = false, makeUpPending = false, used = false;
    int64_t x = 0;
    while (x < width || makeUpPending) {
        const int index = bits.Lookup(black);
        if (index == kPastEnd) break;
        if (index == kNoCode) {
            bits.Skip(1);
            continue;
        }
        const int run = RunOf(index);
        if (run == kIgnored) continue;
        if (run == kEol) {
            if (!used) continue;
            if (black) PaintBlack(row, x, width);
            break;
        }
        used = true;
        const int64_t end = std::min<int64_t>(x + run, width);
        if (black) PaintBlack(row, x, end);
        x = end;
        makeUpPending = index >= 64;
        if (!makeUpPending) black = !black;
    }
    return bits.Position();
}

int64_t CCITTDecodeMH(uint8_t* row, const uint8_t* data, int64_t length, int fillOrder, int width) {
    return (CCITTDecode1D(row, data, length, fillOrder, 0, width) + 7) / 8;
}

int64_t CCITTDecode2D(uint8_t* row, const uint8_t* data, int64_t length, bool eolCodes, int fillOrder,
                      int64_t bitPosition, uint8_t* reference, int width) {
    const size_t rowBytes = size_t((width + 7) / 8);
    std::memset(row, 0xFF, rowBytes);
    TBitSource bits(data, length, fillOrder, bitPosition);
    int64_t a0 = -1;
    int colour = 1;  // white
    while (a0 < width && !bits.AtEnd()) {
        const int64_t start = std::max<int64_t>(a0, 0);
        const int64_t mark = bits.Position();
        int offset = 0;
        const TMode mode = ReadMode(bits, eolCodes, offset);
        if (mode == mEol) {
            if (a0 < 0) {
                if (bits.Next()) {
                    bits = TBitSource(data, length, fillOrder,
                                      CCITTDecode1D(row, data, length, fillOrder, bits.Position(), width));
                    break;
                }
                continue;
            }
            Paint(row, start, width, colour == 0);
            bits = TBitSource(data, length, fillOrder, mark);
            break;
        }
        if (mode == mBad || mode == mOneDimensional) continue;
        if (mode == mUncompressed) {
            a0 = ReadUncompressed(bits, row, start, width, colour);
            continue;
        }
        if (mode == mHorizontal) {
            const int64_t first = ReadRun(bits, colour == 0);
            const int64_t second = first < 0 ? -1 : ReadRun(bits, colour != 0);
            if (second < 0) break;
            const int64_t a1 = std::min<int64_t>(start + first, width);
            const int64_t a2 = std::min<int64_t>(a1 + second, width);
            Paint(row, start, a1, colour == 0);
            Paint(row, a1, a2, colour != 0);
            a0 = a2;
            continue;
        }
        const int64_t b1 = ChangeAfter(reference, a0, width, colour);
        if (mode == mPass) {
            const int64_t b2 = b1 < width ? FindBit(reference, b1, width, colour) : width;
            Paint(row, start, b2, colour == 0);
            a0 = b2;
            continue;
        }
        // Damaged data may point outside the row or behind a0.
        const int64_t a1 = std::clamp<int64_t>(b1 + offset, start, width);
        Paint(row, start, a1, colour == 0);
        a0 = a1;
        colour = 1 - colour;
    }
    std::memcpy(reference, row, rowBytes);
    return bits.Position();
}

namespace {

// Collects codes MSB first and writes whole bytes, reversed for fill order 2.
class TBitSink {
public:
    TBitSink(TStream& stream, int fillOrder, std::atomic<bool>& abort, int carriedBits = 0, uint8_t carriedByte = 0)
        : stream_(stream), reversed_(fillOrder == 2), abort_(abort), count_(carriedBits), pending_(carriedByte) {}
    void Put(uint32_t bits, int length) {
        for (int b = length - 1; b >= 0; --b) {
            pending_ = uint8_t(pending_ | (((bits >> b) & 1) << (7 - count_)));
            if (++count_ == 8) {
                out_.push_back(reversed_ ? Reversed(pending_) : pending_);
                pending_ = 0;
                count_ = 0;
            }
        }
    }
    void Pad() {
        if (count_) Put(0, 8 - count_);
    }
    void PutEol() { Put(1, 12); }
    void PutRun(int64_t run, bool black) {
        const std::span<const TT4Code> codes = black ? T4BlackCodes() : T4WhiteCodes();
        while (run >= 64) {
            const int64_t makeUp = std::min<int64_t>(run / 64 * 64, 2560);
            const TT4Code& c = codes[size_t(makeUp <= 1728 ? 63 + makeUp / 64 : 91 + (makeUp - 1792) / 64)];
            Put(c.Bits, c.Length);
            run -= makeUp;
        }
        Put(codes[size_t(run)].Bits, codes[size_t(run)].Length);
    }
    // Writes the whole bytes; the partial one stays with the state.
    void Flush(TCCITTEncodeState* state) {
        if (!out_.empty()) KVStreamWriteChecked(stream_, abort_, out_.data(), int64_t(out_.size()));
        out_.clear();
        if (state) {
            state->carriedBits = count_;
            state->carriedByte = pending_;
        }
    }

private:
    TStream& stream_;
    bool reversed_;
    std::atomic<bool>& abort_;
    std::vector<uint8_t> out_;
    int count_;
    uint8_t pending_;
};

// The encoders' rows have 1 for black; coding works on the decoded sense (1 white).
std::vector<uint8_t> WhiteIsOne(const uint8_t* row, int width) {
    std::vector<uint8_t> line(size_t((width + 7) / 8));
    for (size_t i = 0; i < line.size(); ++i) line[i] = uint8_t(~row[i]);
    return line;
}

void Encode1D(TBitSink& sink, const uint8_t* line, int width) {
    int colour = 1;
    for (int64_t x = 0; x < width;) {
        const int64_t end = FindBit(line, x, width, 1 - colour);
        sink.PutRun(end - x, colour == 0);
        x = end;
        colour = 1 - colour;
    }
}

void Encode2D(TBitSink& sink, const uint8_t* line, const uint8_t* reference, int width) {
    int64_t a0 = -1;
    int colour = 1;
    while (a0 < width) {
        const int64_t start = std::max<int64_t>(a0, 0);
        const int64_t a1 = ChangeAfter(line, a0, width, colour);
        const int64_t b1 = ChangeAfter(reference, a0, width, colour);
        const int64_t b2 = b1 < width ? FindBit(reference, b1, width, colour) : width;
        if (b2 < a1) {
            sink.Put(1, 4);
            a0 = b2;
        } else if (a1 - b1 >= -3 && a1 - b1 <= 3) {
            static const TCode vertical[7] = {{7, 0x02}, {6, 0x02}, {3, 0x02}, {1, 0x01},
                                              {3, 0x03}, {6, 0x03}, {7, 0x03}};
            const TCode& c = vertical[a1 - b1 + 3];
            sink.Put(c.bits, c.length);
            a0 = a1;
            colour = 1 - colour;
        } else {
            const int64_t a2 = a1 < width ? FindBit(line, a1, width, colour) : width;
            sink.Put(1, 3);
            sink.PutRun(a1 - start, colour == 0);
            sink.PutRun(a2 - a1, colour != 0);
            a0 = a2;
        }
    }
}

}  // namespace

void CCITTEncodeMH(const uint8_t* row, int width, TStream& stream, int fillOrder, std::atomic<bool>& abort) {
    if (!row) return;
    TBitSink sink(stream, fillOrder, abort);
    Encode1D(sink, WhiteIsOne(row, width).data(), width);
    sink.Pad();
    sink.Flush(nullptr);
}

void CCITTEncodeG3(const uint8_t* row, int width, TStream& stream, int fillOrder, std::atomic<bool>& abort,
                   TCCITTEncodeState& state) {
    TBitSink sink(stream, fillOrder, abort, state.carriedBits, state.carriedByte);
    if (row) {
        // Readers synchronise each row on its EOL.
        sink.PutEol();
        Encode1D(sink, WhiteIsOne(row, width).data(), width);
    } else {
        sink.Pad();
    }
    sink.Flush(&state);
}

void CCITTEncodeG3_2D(const uint8_t* row, int width, TStream& stream, int fillOrder, std::atomic<bool>& abort,
                      TCCITTEncodeState& state) {
    TBitSink sink(stream, fillOrder, abort, state.carriedBits, state.carriedByte);
    if (row) {
        std::vector<uint8_t> line = WhiteIsOne(row, width);
        sink.PutEol();
        if (state.reference.empty()) {
            sink.Put(1, 1);
            Encode1D(sink, line.data(), width);
        } else {
            sink.Put(0, 1);
            Encode2D(sink, line.data(), state.reference.data(), width);
        }
        state.reference = std::move(line);
    } else {
        sink.PutEol();
        sink.Pad();
        state.reference.clear();
    }
    sink.Flush(&state);
}

void CCITTEncodeG4(const uint8_t* row, int width, TStream& stream, int fillOrder, std::atomic<bool>& abort,
                   TCCITTEncodeState& state) {
    TBitSink sink(stream, fillOrder, abort, state.carriedBits, state.carriedByte);
    if (row) {
        std::vector<uint8_t> line = WhiteIsOne(row, width);
        if (state.reference.empty()) state.reference.assign(line.size(), 0xFF);
        Encode2D(sink, line.data(), state.reference.data(), width);
        state.reference = std::move(line);
    } else {
        sink.PutEol();
        sink.PutEol();
        sink.Pad();
        state.reference.clear();
    }
    sink.Flush(&state);
}
