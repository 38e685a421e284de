#include "imaging/io/KVLzw.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr int TableSize = 4096;  // 12-bit codes
constexpr int HashSize = 5003;   // about 80% occupancy of the encoders' hash table

// The decoders' string table: each entry is a shorter entry plus one byte.
class TStringTable {
public:
    void Reset(int roots) {
        for (int i = 0; i < roots; ++i) prefix_[i] = -1, last_[i] = first_[i] = uint8_t(i), length_[i] = 1;
    }
    void Add(int code, int previous, uint8_t next) {
        prefix_[code] = int16_t(previous);
        last_[code] = next;
        first_[code] = first_[previous];
        length_[code] = uint16_t(length_[previous] + 1);
    }
    uint8_t First(int code) const { return first_[code]; }
    int Length(int code) const { return length_[code]; }
    // Writes the string of code into out, which has room for Length(code) bytes.
    void Expand(int code, uint8_t* out) const {
        for (int i = length_[code] - 1; i >= 0; --i, code = prefix_[code]) out[i] = last_[code];
    }

private:
    std::array<int16_t, TableSize> prefix_{};
    std::array<uint8_t, TableSize> last_{}, first_{};
    std::array<uint16_t, TableSize> length_{};
};

// The encoders' table: strings known so far, found by their prefix code and next byte.
class THashTable {
public:
    void Clear() { keys_.fill(-1); }
    // Finds key; on a miss slot is where it goes.
    bool Find(int key, int next, int prefix, int& slot) const {
        slot = (next << 4) ^ prefix;
        if (keys_[size_t(slot)] == key) return true;
        if (keys_[size_t(slot)] < 0) return false;
        const int step = slot == 0 ? 1 : HashSize - slot;
        for (;;) {
            slot -= step;
            if (slot < 0) slot += HashSize;
            if (keys_[size_t(slot)] == key) return true;
            if (keys_[size_t(slot)] < 0) return false;
        }
    }
    int Code(int slot) const { return codes_[size_t(slot)]; }
    void Set(int slot, int key, int code) { keys_[size_t(slot)] = key, codes_[size_t(slot)] = uint16_t(code); }

private:
    std::array<int32_t, HashSize> keys_{};
    std::array<uint16_t, HashSize> codes_{};
};

// --- GIF

// Places decoded indexes row by row, in the four interlace passes when asked.
class TGifRows {
public:
    TGifRows(uint8_t* dest, int width, int height, bool interlaced)
        : dest_(dest), width_(width), height_(height), interlaced_(interlaced) {
        if (interlaced_) SkipEmptyPasses();
    }
    void Put(const uint8_t* bytes, int count) {
        for (int i = 0; i < count && row_ < height_; ++i) {
            dest_[int64_t(row_) * width_ + x_] = bytes[i];
            if (++x_ == width_) NextRow();
        }
    }
    bool Complete() const { return row_ >= height_ || width_ == 0; }

private:
    static constexpr int Start[4] = {0, 4, 2, 1}, Step[4] = {8, 8, 4, 2};
    void NextRow() {
        x_ = 0;
        if (!interlaced_) {
            ++row_;
            return;
        }
        row_ += Step[pass_];
        SkipEmptyPasses();
    }
    void SkipEmptyPasses() {
        while (row_ >= height_ && pass_ < 3) row_ = Start[++pass_];
    }

    uint8_t* dest_;
    int width_, height_;
    bool interlaced_;
    int x_ = 0, row_ = 0, pass_ = 0;
};

// Codes packed least significant bit first.
class TLsbCodes {
public:
    explicit TLsbCodes(const std::vector<uint8_t>& data) : data_(data) {}
    // -1 when the data end.
    int Read(int width) {
        while (bits_ < width) {
            if (position_ >= data_.size()) return -1;
            buffer_ |= uint32_t(data_[position_++]) << bits_;
            bits_ += 8;
        }
        const int code = int(buffer_ & ((1u << width) - 1));
        buffer_ >>= width;
        bits_ -= width;
        return code;
    }

private:
    const std::vector<uint8_t>& data_;
    size_t position_ = 0;
    uint32_t buffer_ = 0;
    int bits_ = 0;
};

// The data sub-blocks of one image; false when the stream ends before the terminator.
bool ReadSubBlocks(TStream& stream, std::vector<uint8_t>& data) {
    for (;;) {
        uint8_t length;
        if (stream.Read(&length, 1) != 1) return false;
        if (length == 0) return true;
        const size_t at = data.size();
        data.resize(at + length);
        if (stream.Read(data.data() + at, length) != length) return false;
    }
}

bool DecodeGif(TStream& stream, int height, int width, uint8_t* dest, bool interlaced) {
    uint8_t codeSize;
    if (stream.Read(&codeSize, 1) != 1 || codeSize < 2 || codeSize > 9) return false;
    std::vector<uint8_t> data;
    if (!ReadSubBlocks(stream, data) || data.empty()) return false;

    const int clear = 1 << codeSize, end = clear + 1;
    int codeWidth = codeSize + 1, limit = 1 << codeWidth, freeCode = clear + 2, previous = -1;
    bool full = false;
    auto table = std::make_unique<TStringTable>();
    table->Reset(clear);
    std::array<uint8_t, TableSize + 1> text;
    TLsbCodes codes(data);
    TGifRows rows(dest, width, height, interlaced);
    while (!rows.Complete()) {
        int code = codes.Read(codeWidth);
        if (code < 0) return false;  // the data ended before the picture
        if (code == clear) {
            codeWidth = codeSize + 1, limit = 1 << codeWidth, freeCode = clear + 2, previous = -1, full = false;
            continue;
        }
        if (code == end) return false;
        if (previous < 0) {
            if (code >= freeCode) code = 0;
            const uint8_t index = uint8_t(code);
            rows.Put(&index, 1);
            previous = code;
            continue;
        }
        if (full || code > freeCode) return false;
        const bool known = code < freeCode;
        const int length = known ? table->Length(code) : table->Length(previous) + 1;
        table->Expand(known ? code : previous, text.data());
        if (!known) text[size_t(length - 1)] = text[0];
        rows.Put(text.data(), length);
        table->Add(freeCode, previous, text[0]);
        if (++freeCode == limit) {
            if (codeWidth < 12) ++codeWidth, limit <<= 1;
            else full = true;  // only a clear code may follow
        }
        previous = code;
    }
    return true;
}

// Gathers codes least significant bit first into sub-blocks of up to 254 bytes.
class TGifBlockWriter {
public:
    explicit TGifBlockWriter(TStream& stream) : stream_(stream) {}
    void Put(int code, int width) {
        buffer_ |= uint32_t(code) << bits_;
        bits_ += width;
        while (bits_ >= 8) {
            AddByte(uint8_t(buffer_));
            buffer_ >>= 8;
            bits_ -= 8;
        }
    }
    void Finish() {
        if (bits_ > 0) AddByte(uint8_t(buffer_));
        if (count_ > 0) WriteBlock();
        const uint8_t terminator = 0;
        stream_.Write(&terminator, 1);
    }

private:
    void AddByte(uint8_t byte) {
        block_[size_t(++count_)] = byte;
        if (count_ == 254) WriteBlock();
    }
    void WriteBlock() {
        block_[0] = uint8_t(count_);
        stream_.Write(block_.data(), count_ + 1);
        count_ = 0;
    }

    TStream& stream_;
    std::array<uint8_t, 256> block_{};
    int count_ = 0;
    uint32_t buffer_ = 0;
    int bits_ = 0;
};

// The pixel order of the file: rows top to bottom, or the four interlace passes.
std::vector<int> RowOrder(int height, bool interlaced) {
    std::vector<int> order;
    if (!interlaced) {
        for (int y = 0; y < height; ++y) order.push_back(y);
        return order;
    }
    const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass)
        for (int y = start[pass]; y < height; y += step[pass]) order.push_back(y);
    return order;
}

}  // namespace

void GIFLZWDecode(TStream& stream, int height, int width, uint8_t* dest, bool interlaced) {
    const int64_t start = stream.Position();
    if (!DecodeGif(stream, height, width, dest, interlaced)) stream.SetPosition(start);
}

void GIFLZWEncode(TStream& stream, int height, int width, int bitsPerPixel, const uint8_t* pixels,
                  bool interlaced) {
    const int codeSize = std::clamp(bitsPerPixel, 2, 8);
    const uint8_t sizeByte = uint8_t(codeSize);
    stream.Write(&sizeByte, 1);
    const int clear = 1 << codeSize, end = clear + 1, initialWidth = codeSize + 1;
    int codeWidth = initialWidth, maxCode = (1 << codeWidth) - 1, freeCode = clear + 2;
    bool clearing = false;
    TGifBlockWriter writer(stream);
    // After each code the width follows the table; a clear code sends it back to the start.
    auto output = [&](int code) {
        writer.Put(code, codeWidth);
        if (clearing) {
            codeWidth = initialWidth, maxCode = (1 << codeWidth) - 1, clearing = false;
        } else if (freeCode > maxCode && codeWidth < 12) {
            ++codeWidth;
            maxCode = codeWidth == 12 ? TableSize : (1 << codeWidth) - 1;
        }
    };
    auto table = std::make_unique<THashTable>();
    table->Clear();
    output(clear);
    int prefix = -1;
    for (int y : RowOrder(height, interlaced)) {
        const uint8_t* row = pixels + int64_t(y) * width;
        for (int x = 0; x < width; ++x) {
            const int next = row[x] & (clear - 1);
            if (prefix < 0) {
                prefix = next;
                continue;
            }
            const int key = (next << 12) + prefix;
            int slot;
            if (table->Find(key, next, prefix, slot)) {
                prefix = table->Code(slot);
                continue;
            }
            output(prefix);
            prefix = next;
            if (freeCode < TableSize) {
                table->Set(slot, key, freeCode++);
            } else {
                table->Clear();
                freeCode = clear + 2;
                clearing = true;
                output(clear);
            }
        }
    }
    if (prefix >= 0) output(prefix);
    output(end);
    writer.Finish();
}

// --- TIFF

// Every string the table holds has been written out once since the last clear code: an entry
// is where that was and how long, so a code is one copy instead of a walk along its prefixes.
struct TKVTIFFLZWDecodeState {
    const uint8_t* strip = nullptr;
    int64_t stripSize = 0, rowLength = 0;
    int64_t nextByte = 0;
    uint64_t bitBuffer = 0;  // the next bits first
    int bitCount = 0;
    // The bytes decoded from base on; the caller has had those before next.
    std::unique_ptr<uint8_t[]> buffer;
    int64_t capacity = 0, base = 0, end = 0, next = 0;
    int64_t clearedAt = 0;  // no entry starts before it
    std::array<int64_t, TableSize> at{};
    std::array<uint16_t, TableSize> length{};
    int freeCode = 258, codeWidth = 9, previous = -1;
    bool ended = false, failed = false;

    // -1 when the strip holds no further whole code.
    int ReadCode() {
        if (bitCount < codeWidth) {
            while (bitCount <= 56 && nextByte < stripSize) {
                bitBuffer |= uint64_t(strip[nextByte++]) << (56 - bitCount);
                bitCount += 8;
            }
            if (bitCount < codeWidth) return -1;
        }
        const int code = int(bitBuffer >> (64 - codeWidth));
        bitBuffer <<= codeWidth;
        bitCount -= codeWidth;
        return code;
    }
    uint8_t* Data(int64_t position) { return buffer.get() + (position - base); }
    // Room for count more bytes and the slack a short copy may overwrite. What the caller had
    // and no entry needs goes first.
    void Reserve(int64_t count) {
        if (end - base + count + 16 <= capacity) return;
        const int64_t keep = std::min(next, clearedAt);
        const int64_t kept = end - keep;
        const int64_t wanted = kept + count + 16;
        if (wanted * 2 > capacity) {
            const int64_t grown = std::max({wanted * 2, capacity * 2, int64_t(4096)});
            auto larger = std::make_unique_for_overwrite<uint8_t[]>(size_t(grown));
            if (kept > 0) std::memcpy(larger.get(), Data(keep), size_t(kept));
            buffer = std::move(larger);
            capacity = grown;
        } else if (kept > 0) {
            std::memmove(buffer.get(), Data(keep), size_t(kept));
        }
        base = keep;
    }
    // Writes count bytes from an earlier position; they lie wholly before end.
    void Copy(int64_t from, int64_t count) {
        uint8_t* out = Data(end);
        const uint8_t* in = Data(from);
        if (count <= 16 && end - from >= 16) std::memcpy(out, in, 16);
        else std::memcpy(out, in, size_t(count));
        end += count;
    }
    // Writes the string of code; previous was written just before it, at the previous end.
    int64_t Output(int code) {
        const int64_t start = end;
        if (code < 256) {
            Reserve(1);
            *Data(end++) = uint8_t(code);
            length[size_t(code)] = 1;
        } else if (code < freeCode) {
            Reserve(length[size_t(code)]);
            Copy(at[size_t(code)], length[size_t(code)]);
        } else {  // the string of previous and its own first byte
            const int64_t from = at[size_t(previous)];
            Reserve(length[size_t(previous)] + 1);
            Copy(from, length[size_t(previous)]);
            *Data(end) = *Data(from);
            ++end;
        }
        return start;
    }
    // The previous string and the first byte after it; the table stops at 4096 entries.
    bool Add() {
        if (freeCode >= TableSize) return false;
        at[size_t(freeCode)] = at[size_t(previous)];
        length[size_t(freeCode)] = uint16_t(length[size_t(previous)] + 1);
        ++freeCode;
        if (freeCode == 511) codeWidth = 10;
        else if (freeCode == 1023) codeWidth = 11;
        else if (freeCode == 2047) codeWidth = 12;
        return true;
    }
    void Remember(int code, int64_t start) {
        at[size_t(code)] = start;
        previous = code;
    }
    // Decodes one code; false at the end of the strip or a damaged code.
    bool Step() {
        int code = ReadCode();
        if (code == 256) {
            freeCode = 258, codeWidth = 9;
            clearedAt = end;
            code = ReadCode();
            if (code < 0 || code == 257) return false;
            if (code > 255) return failed = true, false;
            Remember(code, Output(code));
            return true;
        }
        if (code < 0 || code == 257) return false;
        if (previous < 0 && code < 256) {  // a strip need not start with a clear code
            Remember(code, Output(code));
            return true;
        }
        if (previous < 0 || code > freeCode) return failed = true, false;
        const int64_t start = Output(code);
        if (!Add()) return failed = true, false;
        Remember(code, start);
        return true;
    }
};

uint8_t* TIFFLZWDecode(const uint8_t* strip, int64_t stripSize, int64_t rowLength, TKVTIFFLZWDecodeState*& state) {
    if (!strip) {
        delete state;
        state = nullptr;
        return nullptr;
    }
    if (!state) {
        if (rowLength <= 0 || stripSize < 0) return nullptr;
        state = new TKVTIFFLZWDecodeState;
        state->strip = strip, state->stripSize = stripSize, state->rowLength = rowLength;
    }
    TKVTIFFLZWDecodeState& s = *state;
    while (s.end - s.next < s.rowLength && !s.ended && !s.failed)
        if (!s.Step()) s.ended = true;
    if (s.failed || s.end - s.next < s.rowLength) return nullptr;
    uint8_t* row = s.Data(s.next);
    s.next += s.rowLength;
    return row;
}

struct TKVTIFFLZWEncodeState {
    TStream* stream;
    THashTable table;
    int freeCode = 258, codeWidth = 9, maxCode = 511, prefix = -1;
    uint32_t bitBuffer = 0;
    int bits = 0;
    std::vector<uint8_t> pending;  // written in pieces of 254 bytes

    void Put(int code) {
        bitBuffer = bitBuffer << codeWidth | uint32_t(code);
        bits += codeWidth;
        while (bits >= 8) {
            pending.push_back(uint8_t(bitBuffer >> (bits - 8)));
            bits -= 8;
        }
        if (pending.size() >= 254) Drain(254);
    }
    void Drain(size_t piece) {
        size_t at = 0;
        for (; pending.size() - at >= piece && piece > 0; at += piece) stream->Write(pending.data() + at, int64_t(piece));
        pending.erase(pending.begin(), pending.begin() + int64_t(at));
    }
    void Restart() {
        table.Clear();
        freeCode = 258, codeWidth = 9, maxCode = 511;
    }
    // One more table entry; at 4094 the table starts over, one code early as in every decoder.
    void Grow() {
        if (++freeCode == 4094) {
            Put(256);
            Restart();
        } else if (freeCode > maxCode) {
            ++codeWidth;
            maxCode = (1 << codeWidth) - 1;
        }
    }
    void Encode(const uint8_t* data, int64_t length) {
        for (int64_t i = 0; i < length; ++i) {
            const int next = data[i];
            if (prefix < 0) {
                prefix = next;
                continue;
            }
            const int key = (next << 12) + prefix;
            int slot;
            if (table.Find(key, next, prefix, slot)) {
                prefix = table.Code(slot);
                continue;
            }
            Put(prefix);
            prefix = next;
            table.Set(slot, key, freeCode);
            Grow();
        }
    }
    void Finish() {
        if (prefix >= 0) {
            Put(prefix);
            // The decoder adds an entry for this code too and may widen before the end code.
            Grow();
        }
        Put(257);
        if (bits > 0) pending.push_back(uint8_t(bitBuffer << (8 - bits)));
        bits = 0;
        Drain(254);
        if (!pending.empty()) stream->Write(pending.data(), int64_t(pending.size()));
        pending.clear();
    }
};

void TIFFLZWEncode(const uint8_t* data, int64_t length, TStream& stream, TKVTIFFLZWEncodeState*& state) {
    if (!state) {
        state = new TKVTIFFLZWEncodeState;
        state->stream = &stream;
        state->table.Clear();
        state->Put(256);
    }
    if (data) {
        state->Encode(data, length);
        return;
    }
    state->Finish();
    delete state;
    state = nullptr;
}
