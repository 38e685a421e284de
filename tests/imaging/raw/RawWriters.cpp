#include "RawWriters.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <cstring>
#include <stdexcept>

std::array<double, 3> KnownColour(int row, int col, int height, int width) {
    const double y = double(row) / std::max(height - 1, 1), x = double(col) / std::max(width - 1, 1);
    return {0.15 + 0.7 * x, 0.2 + 0.5 * y, 0.8 - 0.6 * x * y};
}

int FilterColour(uint32_t pattern, int row, int col) {
    return int(pattern >> ((((row << 1) & 14) + (col & 1)) << 1) & 3);
}

std::vector<int> KnownMosaic(uint32_t pattern, int height, int width, int scale, int black) {
    std::vector<int> samples(size_t(height) * size_t(width));
    for (int r = 0; r < height; ++r)
        for (int c = 0; c < width; ++c) {
            const int colour = FilterColour(pattern, r, c);
            const double v = KnownColour(r, c, height, width)[size_t(colour == 3 ? 1 : colour)];
            samples[size_t(r) * size_t(width) + size_t(c)] = int(std::lround(v * scale)) + black;
        }
    return samples;
}

void TBitWriter::Put(uint32_t bits, int count) {
    for (int i = count - 1; i >= 0; --i) {
        held_ = (held_ << 1) | ((bits >> i) & 1);
        if (++count_ == 8) {
            const uint8_t byte = uint8_t(held_);
            bytes_.push_back(byte);
            if (byte == 0xFF && stuffing_) bytes_.push_back(0);
            held_ = 0;
            count_ = 0;
        }
    }
}

TBytes TBitWriter::Finish() {
    if (count_) Put(0, 8 - count_);
    return bytes_;
}

std::array<TCode, 256> CanonicalCodes(const uint8_t* table) {
    std::array<TCode, 256> codes{};
    uint32_t code = 0;
    int k = 0;
    for (int length = 1; length <= 16; ++length) {
        for (int i = 0; i < table[length - 1]; ++i) codes[table[16 + k++]] = {code++, length};
        code <<= 1;
    }
    return codes;
}

void Put16(TBytes& b, size_t at, uint16_t v, bool little) {
    if (b.size() < at + 2) b.resize(at + 2);
    b[at] = uint8_t(little ? v : v >> 8);
    b[at + 1] = uint8_t(little ? v >> 8 : v);
}
void Put32(TBytes& b, size_t at, uint32_t v, bool little) {
    if (b.size() < at + 4) b.resize(at + 4);
    for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (little ? 8 * i : 24 - 8 * i));
}
void PutText(TBytes& b, size_t at, const std::string& text) {
    if (b.size() < at + text.size() + 1) b.resize(at + text.size() + 1);
    std::memcpy(b.data() + at, text.data(), text.size());
    b[at + text.size()] = 0;
}

// One directory at `at` with its entries; returns the position after it.
size_t PutIfd(TBytes& b, size_t at, const std::vector<TTiffEntry>& entries, bool little, uint32_t next) {
    Put16(b, at, uint16_t(entries.size()), little);
    size_t p = at + 2;
    for (const TTiffEntry& e : entries) {
        Put16(b, p, e.tag, little);
        Put16(b, p + 2, e.type, little);
        Put32(b, p + 4, e.count, little);
        if (e.type == 3 && e.count < 3) {
            Put16(b, p + 8, uint16_t(e.value), little);
            Put16(b, p + 10, 0, little);
        } else {
            Put32(b, p + 8, e.value, little);
        }
        p += 12;
    }
    Put32(b, p, next, little);
    return p + 4;
}

TBytes TiffHead(bool little) {
    TBytes b(8);
    b[0] = b[1] = little ? 'I' : 'M';
    Put16(b, 2, 42, little);
    Put32(b, 4, 8, little);
    return b;
}


TBytes WriteLeafTiff(const TRaster& raster) {
    TBytes b = TiffHead(false);
    const uint32_t data = 256;
    PutIfd(b, 8, {{256, 4, 1, uint32_t(raster.width)}, {257, 4, 1, uint32_t(raster.height)}, {324, 4, 1, data}}, false);
    b.resize(data);
    for (const int s : raster.samples) b.push_back(uint8_t(s >> 8)), b.push_back(uint8_t(s));
    return b;
}

TBytes WriteOlympusTiff(const std::string& model, int height, int width, const TBytes& data) {
    TBytes b = TiffHead(true);
    const uint32_t strips = 200, at = 256;
    PutIfd(b, 8,
           {{256, 4, 1, uint32_t(width)}, {257, 4, 1, uint32_t(height)}, {271, 2, 24, 120},
            {272, 2, uint32_t(model.size() + 1), 150}, {273, 4, 2, strips}},
           true);
    PutText(b, 120, "OLYMPUS OPTICAL CO.,LTD");
    PutText(b, 150, model);
    // The decoder takes the data position from the first entry of the strip table.
    Put32(b, strips, at, true);
    Put32(b, strips + 4, 0, true);
    b.resize(at);
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

TBytes WriteOlympusTiff(const TRaster& raster) {
    TBytes data;
    for (const int s : raster.samples) Put16(data, data.size(), uint16_t(s << 2), true);
    return WriteOlympusTiff("E-1", raster.height, raster.width, data);
}

namespace {

// Lengths 0..16, each coded by a canonical table: three codes of two bits, then one of each
// longer length.
constexpr uint8_t jpegTable[16 + 17] = {0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
                                        0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

}  // namespace

int BitLength(int v) {
    int n = 0;
    for (v = std::abs(v); v; v >>= 1) ++n;
    return n;
}

void PutDifference(TBitWriter& bits, const std::array<TCode, 256>& codes, int diff) {
    const int len = BitLength(diff);
    bits.Put(codes[size_t(len)].code, codes[size_t(len)].length);
    if (len) bits.Put(uint32_t(diff < 0 ? diff + (1 << len) - 1 : diff), len);
}

TBytes LosslessJpeg(int height, int width, const std::vector<int>& differences) {
    if (width % 2) throw std::invalid_argument("two components per row need an even width");
    TBytes b = {0xFF, 0xD8};
    auto segment = [&](uint16_t marker, const TBytes& body) {
        b.push_back(uint8_t(marker >> 8)), b.push_back(uint8_t(marker));
        const size_t length = body.size() + 2;
        b.push_back(uint8_t(length >> 8)), b.push_back(uint8_t(length));
        b.insert(b.end(), body.begin(), body.end());
    };
    const int jw = width / 2;
    segment(0xFFC3, {12, uint8_t(height >> 8), uint8_t(height), uint8_t(jw >> 8), uint8_t(jw), 2, 1, 0x11, 0, 2, 0x11, 0});
    TBytes dht;
    for (uint8_t table = 0; table < 2; ++table) {
        dht.push_back(table);
        dht.insert(dht.end(), std::begin(jpegTable), std::end(jpegTable));
    }
    segment(0xFFC4, dht);
    segment(0xFFDA, {2, 1, 0x00, 2, 0x11, 1, 0, 0});
    const auto codes = CanonicalCodes(jpegTable);
    TBitWriter bits(true);
    for (const int diff : differences) PutDifference(bits, codes, diff);
    const TBytes data = bits.Finish();
    b.insert(b.end(), data.begin(), data.end());
    b.push_back(0xFF), b.push_back(0xD9);
    return b;
}

TBytes EncodeLosslessJpeg(const TRaster& raster) {
    std::vector<int> differences;
    int vpred[2] = {2048, 2048}, hpred[2] = {0, 0};
    for (int row = 0; row < raster.height; ++row)
        for (int col = 0; col < raster.width; ++col) {
            const int v = raster.At(row, col);
            int& pred = col < 2 ? vpred[col] : hpred[col & 1];
            differences.push_back(v - pred);
            pred = hpred[col & 1] = v;
        }
    return LosslessJpeg(raster.height, raster.width, differences);
}

TBytes WriteCanonLosslessJpeg(const TRaster& raster) {
    TBytes b = TiffHead(true);
    const uint32_t sub = 300, data = 512;
    PutIfd(b, 8, {{271, 2, 6, 200}, {272, 2, 16, 220}, {273, 4, 1, data}, {330, 4, 1, sub}}, true);
    PutText(b, 200, "Canon");
    PutText(b, 220, "Canon EOS Test");
    PutIfd(b, sub, {{256, 4, 1, uint32_t(raster.width)}, {257, 4, 1, uint32_t(raster.height)}, {259, 3, 1, 6}}, true);
    b.resize(data);
    const TBytes jpeg = EncodeLosslessJpeg(raster);
    b.insert(b.end(), jpeg.begin(), jpeg.end());
    return b;
}

namespace {

constexpr uint8_t canonFirst0[29] = {0x00, 0x01, 0x04, 0x02, 0x03, 0x01, 0x02, 0x00, 0x00, 0x00,
                                     0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04, 0x03, 0x05, 0x06,
                                     0x02, 0x07, 0x01, 0x08, 0x09, 0x00, 0x0a, 0x0b, 0xff};

TBytes HexBytes(const char* hex) {
    TBytes b;
    for (size_t i = 0; hex[i]; i += 2) b.push_back(uint8_t(std::stoi(std::string(hex + i, 2), nullptr, 16)));
    return b;
}

const TBytes& CanonSecond0() {
    static const TBytes table = HexBytes(
        "0002020201040201020501010000008b0304020501060708121311140915220021160af023172431321819332541344235513637382979"
        "261a3956572827525558437659775461f9717875969749b753d774b698474895699991fab868b5b9d6f7d86746459489f881d5f6b488b1"
        "2a4472d98766d4f53aa773a9a88662c765c8c9a1f4d1e95a9285a6e793e8c1c67a64e14a6ae6b3f1d3a58ab29aba84a463e5c5f3d2c482"
        "aadae4f2ca83a3a2c3eac2e2e3ffff");
    return table;
}

void PutCoded(TBitWriter& bits, const std::array<TCode, 256>& codes, int symbol, int diff, int len) {
    const TCode code = codes[size_t(symbol)];
    if (code.length == 0) throw std::invalid_argument("symbol without code");
    bits.Put(code.code, code.length);
    if (len) bits.Put(uint32_t(diff < 0 ? diff + (1 << len) - 1 : diff), len);
}

}  // namespace

TBytes EncodeCanonBlocks(const TRaster& raster) {
    const auto first = CanonicalCodes(canonFirst0);
    const auto second = CanonicalCodes(CanonSecond0().data());
    TBitWriter bits(true);
    const int64_t total = int64_t(raster.width) * raster.height;
    // The band of 8 rows is coded in blocks of 64 values; rows past the raster are zero.
    const int64_t padded = (raster.height + 7) / 8 * 8 * int64_t(raster.width);
    int base[2] = {512, 512}, carry = 0;
    for (int64_t start = 0; start < padded; start += 64) {
        int diff[64];
        for (int j = 0; j < 64; ++j) {
            const int64_t index = start + j;
            if (index % raster.width == 0) base[0] = base[1] = 512;
            const int v = index < total ? raster.samples[size_t(index)] : 0;
            diff[j] = v - base[j & 1];
            base[j & 1] = v;
        }
        const int d0 = diff[0] - carry;
        carry = diff[0];
        PutCoded(bits, first, BitLength(d0), d0, BitLength(d0));
        int run = 0, last = 0;
        for (int j = 1; j < 64; ++j)
            if (diff[j]) last = j;
        for (int j = 1; j <= last; ++j) {
            if (!diff[j]) {
                ++run;
                continue;
            }
            for (; run > 15; run -= 16) PutCoded(bits, second, 0xF0, 0, 0);
            const int len = BitLength(diff[j]);
            PutCoded(bits, second, run << 4 | len, diff[j], len);
            run = 0;
        }
        if (last < 63) PutCoded(bits, second, 0, 0, 0);
    }
    return bits.Finish();
}


TBytes CiffHeap(const TBytes& body, const std::vector<TCiffRecord>& records, bool little) {
    TBytes b = body;
    std::vector<std::pair<uint32_t, uint32_t>> places;
    for (const TCiffRecord& r : records) {
        places.push_back({uint32_t(b.size()), uint32_t(r.data.size())});
        b.insert(b.end(), r.data.begin(), r.data.end());
    }
    const size_t table = b.size();
    Put16(b, table, uint16_t(records.size()), little);
    size_t p = table + 2;
    for (size_t i = 0; i < records.size(); ++i, p += 10) {
        Put16(b, p, records[i].type, little);
        Put32(b, p + 2, places[i].second, little);
        Put32(b, p + 6, places[i].first, little);
    }
    Put32(b, p, uint32_t(table), little);
    return b;
}

namespace {

// Header of 26 bytes, then the heap: `body` first (it starts at heap offset 0), the records'
// data, the record table and its offset.
TBytes WriteCiff(const TBytes& body, const std::vector<TCiffRecord>& records, bool little = true) {
    TBytes b(26);
    b[0] = b[1] = little ? 'I' : 'M';
    Put32(b, 2, 26, little);
    std::memcpy(b.data() + 6, "HEAPCCDR", 8);
    const TBytes heap = CiffHeap(body, records, little);
    b.insert(b.end(), heap.begin(), heap.end());
    return b;
}

TBytes MakeModel(const std::string& model) {
    TBytes names;
    for (const char c : std::string("Canon")) names.push_back(uint8_t(c));
    names.push_back(0);
    for (const char c : model) names.push_back(uint8_t(c));
    names.push_back(0);
    return names;
}

}  // namespace

TBytes WriteCanonCiffCompressed(const std::string& model, const TRaster& raster, bool bigEndian, size_t padding,
                                const std::vector<TCiffRecord>& extra) {
    // The coded data start at file offset 540; a stuffed FF 00 pair after them tells the decoder
    // that no low bits are stored.
    TBytes body(540 - 26, 0);
    const TBytes coded = EncodeCanonBlocks(raster);
    body.insert(body.end(), coded.begin(), coded.end());
    body.push_back(0xFF), body.push_back(0x00), body.push_back(0x00);
    body.resize(body.size() + padding);
    const bool little = !bigEndian;
    TBytes sizes(6);
    Put16(sizes, 2, uint16_t(raster.width), little);
    Put16(sizes, 4, uint16_t(raster.height), little);
    TBytes table(4);
    Put32(table, 0, 0, little);
    std::vector<TCiffRecord> records = {{0x080a, MakeModel(model)}, {0x1031, sizes}, {0x1835, table}};
    records.insert(records.end(), extra.begin(), extra.end());
    return WriteCiff(body, records, little);
}

TBytes PackA5Row(const int* samples, int count) {
    TBytes row;
    for (int g = 0; g < count; g += 8) {
        const int* s = samples + g;
        uint8_t b[10];
        // Inverse of the decoder's unpacking of ten bytes.
        b[1] = uint8_t(s[0] >> 2);
        b[0] = uint8_t((s[0] & 3) << 6 | (s[1] >> 4 & 0x3F));
        b[3] = uint8_t((s[1] & 15) << 4 | (s[2] >> 6 & 15));
        b[2] = uint8_t((s[2] & 63) << 2 | (s[3] >> 8 & 3));
        b[5] = uint8_t(s[3]);
        b[4] = uint8_t(s[4] >> 2);
        b[7] = uint8_t((s[4] & 3) << 6 | (s[5] >> 4 & 0x3F));
        b[6] = uint8_t((s[5] & 15) << 4 | (s[6] >> 6 & 15));
        b[9] = uint8_t((s[6] & 63) << 2 | (s[7] >> 8 & 3));
        b[8] = uint8_t(s[7]);
        row.insert(row.end(), b, b + 10);
    }
    return row;
}

TBytes WriteCanonCiff(const std::string& model, const TBytes& body) { return WriteCiff(body, {{0x080a, MakeModel(model)}}); }

TBytes WriteCanonA5(const TRaster& raster) {
    TBytes body;
    for (int row = 0; row < raster.height; ++row) {
        const TBytes packed = PackA5Row(&raster.samples[size_t(row) * size_t(raster.width)], raster.width);
        body.insert(body.end(), packed.begin(), packed.end());
    }
    return WriteCanonCiff("Canon PowerShot A5", body);
}

TBytes WritePcCam600(const TRaster& raster) {
    TBytes b(1024, 0);
    for (const int s : raster.samples) b.push_back(uint8_t(s));
    b.resize(787456);
    return b;
}

TBytes WriteOptioS(const TRaster& raster) {
    TBytes b;
    for (int row = 0; row < raster.height; ++row) {
        TBitWriter bits(false);
        for (int col = 0; col < raster.width; ++col) bits.Put(uint32_t(raster.At(row, col)), 12);
        TBytes line = bits.Finish();
        line.resize(3136);
        b.insert(b.end(), line.begin(), line.end());
    }
    b.resize(4841984);
    return b;
}

TBytes WriteFoveon(const std::string& model, int height, int width, const std::vector<std::array<int, 3>>& pixels) {
    TBytes b(260);
    std::memcpy(b.data(), "FOVb", 4);
    Put32(b, 248, uint32_t(width), true);
    Put32(b, 252, uint32_t(height), true);
    // Difference i - 512 coded by the ten bits of i.
    for (int i = 0; i < 1024; ++i) Put16(b, b.size(), uint16_t(int16_t(i - 512)), true);
    for (uint32_t i = 0; i < 1024; ++i) Put32(b, b.size(), 10u << 27 | i, true);
    for (int row = 0; row < height; ++row) {
        TBitWriter bits(false);
        int pred[3] = {0, 0, 0}, count = 0;
        for (int col = 0; col < width; ++col)
            for (size_t c = 0; c < 3; ++c) {
                const int v = pixels[size_t(row) * size_t(width) + size_t(col)][c];
                bits.Put(uint32_t(v - pred[c] + 512), 10);
                pred[c] = v;
                count += 10;
            }
        // Rows start on a 32-bit word; a row that fills its last word exactly is followed by
        // one unused word.
        if (count % 32) bits.Put(0, 32 - count % 32);
        TBytes line = bits.Finish();
        if (count % 32 == 0) line.resize(line.size() + 4);
        b.insert(b.end(), line.begin(), line.end());
    }
    // Property block (a count of 0 entries, then UTF-16 names and values), then the directory
    // that points back at it, then the directory's offset.
    const size_t block = b.size();
    Put32(b, block + 8, 0, true);
    b.resize(block + 24);
    const std::string text = std::string("CAMMANUF") + '\0' + "SIGMA" + '\0' + "CAMMODEL" + '\0' + model + '\0';
    for (const char c : text) b.push_back(uint8_t(c)), b.push_back(0);
    const size_t directory = b.size();
    Put32(b, directory, 0x464D4143, true);  // "CAMF"
    Put32(b, directory + 4, uint32_t(block), true);
    Put32(b, b.size(), uint32_t(directory), true);
    return b;
}

TBytes WriteFoveonHeader(const std::string& model, int height, int width) {
    TBytes b = WriteFoveon(model, 0, 0, {});
    Put32(b, 248, uint32_t(width), true);
    Put32(b, 252, uint32_t(height), true);
    return b;
}

TBytes WriteRolleiHeader(int width, int height) {
    TBytes b;
    auto record = [&](const std::string& text) {
        TBytes r(128, 0);
        std::memcpy(r.data(), text.data(), text.size());
        b.insert(b.end(), r.begin(), r.end());
    };
    record("DSC-Image");
    record("HDR=2048");
    record("X  =" + std::to_string(width));
    record("Y  =" + std::to_string(height));
    record("TX =10");
    record("TY =8");
    record("EOHD");
    b.resize(4096);
    return b;
}

TBytes WriteSubIfdTiff(const std::string& make, const TKodakFile& file, bool little) {
    TBytes b = TiffHead(little);
    const uint32_t sub = 200;
    PutIfd(b, 8, {{271, 2, uint32_t(make.size() + 1), 100}, {272, 2, uint32_t(file.model.size() + 1), 140}, {330, 4, 1, sub}},
           little);
    PutText(b, 100, make);
    PutText(b, 140, file.model);
    const uint32_t data = file.dataOffset ? file.dataOffset : 512;
    PutIfd(b, sub,
           {{256, 4, 1, uint32_t(file.width)}, {257, 4, 1, uint32_t(file.height)}, {259, 3, 1, uint32_t(file.compression)},
            {262, 3, 1, uint32_t(file.photometric)}, {273, 4, 1, data}},
           little);
    b.resize(data);
    b.insert(b.end(), file.data.begin(), file.data.end());
    return b;
}

TBytes WriteKodakTiff(const TKodakFile& file) { return WriteSubIfdTiff("Eastman Kodak Company", file); }

namespace {

// A block of compression 65000: the code lengths, two to a byte, then the bits of the values
// from the low end of a buffer that takes 16 bits first when the block's length leaves 4 over
// a multiple of 8, and 32 bits (two big-endian words, the lower first) whenever it runs short.
void PutKodakBlock(TBytes& out, const std::vector<int>& values) {
    const size_t len = values.size();
    std::vector<int> lengths(len);
    for (size_t i = 0; i < len; ++i) lengths[i] = BitLength(values[i]);
    for (size_t i = 0; i < len; i += 2) out.push_back(uint8_t(lengths[i] | (i + 1 < len ? lengths[i + 1] : 0) << 4));
    std::vector<int> chunks;  // sizes of the pieces the reader takes: 16 or 32 bits
    int held = 0;
    if (len % 8 == 4) chunks.push_back(16), held = 16;
    std::vector<bool> stream;
    for (size_t i = 0; i < len; ++i) {
        if (held < lengths[i]) chunks.push_back(32), held += 32;
        held -= lengths[i];
        const int l = lengths[i];
        const uint32_t v = uint32_t(values[i] < 0 ? values[i] + (1 << l) - 1 : values[i]);
        for (int bit = 0; bit < l; ++bit) stream.push_back((v >> bit) & 1);
    }
    size_t at = 0;
    for (const int chunk : chunks) {
        uint32_t bits = 0;
        for (int bit = 0; bit < chunk; ++bit, ++at)
            if (at < stream.size() && stream[at]) bits |= 1u << bit;
        for (int word = 0; word < chunk / 16; ++word) {
            const uint16_t w = uint16_t(bits >> (16 * word));
            out.push_back(uint8_t(w >> 8)), out.push_back(uint8_t(w));
        }
    }
}

// The stored form of a block: 12 bytes per 8 samples.
TBytes StoredKodakBlock(const int* samples, int len) {
    TBytes out;
    for (int i8 = 0; i8 < len; i8 += 8) {
        int s[8] = {};
        for (int k = 0; k < 8 && i8 + k < len; ++k) s[k] = samples[i8 + k];
        int w[6];
        for (int k = 0; k < 6; ++k) w[k] = s[2 + k];
        for (int k = 0; k < 2; ++k) {
            w[k] |= (s[k] >> 8 & 15) << 12;
            w[k + 2] |= (s[k] >> 4 & 15) << 12;
            w[k + 4] |= (s[k] & 15) << 12;
        }
        for (const int word : w) out.push_back(uint8_t(word >> 8)), out.push_back(uint8_t(word));
    }
    return out;
}

}  // namespace

TBytes EncodeKodak65000Cfa(const TRaster& raster, bool storeOnEvenRows, int* storedBlocks) {
    TBytes out;
    int stored = 0;
    for (int row = 0; row < raster.height; ++row)
        for (int col = 0; col < raster.width; col += 256) {
            const int len = std::min(256, raster.width - col);
            const int* samples = raster.samples.data() + size_t(row) * size_t(raster.width) + size_t(col);
            const TBytes plain = StoredKodakBlock(samples, len);
            bool marked = false;
            for (int i = 0; i < (len + 1) / 2; ++i) marked |= (plain[size_t(i)] & 15) > 12 || (plain[size_t(i)] >> 4) > 12;
            if (storeOnEvenRows && row % 2 == 0 && marked) {
                out.insert(out.end(), plain.begin(), plain.end());
                ++stored;
                continue;
            }
            std::vector<int> diffs(static_cast<size_t>(len));
            int pred[2] = {0, 0};
            for (int i = 0; i < len; ++i) {
                diffs[size_t(i)] = samples[i] - pred[i & 1];
                pred[i & 1] = samples[i];
            }
            PutKodakBlock(out, diffs);
        }
    if (storedBlocks) *storedBlocks = stored;
    return out;
}

TBytes EncodeKodak65000Colour(const TKodakColour& picture) {
    TBytes out;
    const int cellsPerRow = picture.width / 2;
    for (int row = 0; row < picture.height; row += 2)
        for (int col = 0; col < picture.width; col += 128) {
            const int len = std::min(((picture.width - col) * 3 + 3) & ~3, 384);
            std::vector<int> diffs(size_t(len), 0);
            int pred[2] = {0, 0}, cb = 0, cr = 0;
            for (int cell = 0; 6 * cell + 6 <= len && col + 2 * cell + 1 < picture.width; ++cell) {
                auto luma = [&](int k) {
                    return picture.luma[size_t(row + k / 2) * size_t(picture.width) + size_t(col + 2 * cell + (k & 1))];
                };
                const size_t c = size_t(row / 2) * size_t(cellsPerRow) + size_t(col / 2 + cell);
                int* d = diffs.data() + 6 * cell;
                d[0] = luma(0) - pred[0];
                d[1] = luma(1) - luma(0);
                pred[0] = luma(1);
                d[2] = luma(2) - pred[1];
                d[3] = luma(3) - luma(2);
                pred[1] = luma(3);
                d[4] = picture.cb[c] - cb;
                d[5] = picture.cr[c] - cr;
                cb = picture.cb[c], cr = picture.cr[c];
            }
            PutKodakBlock(out, diffs);
        }
    return out;
}

TBytes WriteFujiFile(const std::string& model, uint32_t dataOffset, const TBytes& data) {
    TBytes b(256, 0);
    std::memcpy(b.data(), "FUJIFILM", 8);
    const uint32_t tiff = 120;
    Put32(b, 84, tiff - 12, false);
    Put32(b, 100, dataOffset, false);
    TBytes t = TiffHead(false);
    PutIfd(t, 8, {{271, 2, 9, 60}, {272, 2, uint32_t(model.size() + 1), 80}}, false);
    PutText(t, 60, "FUJIFILM");
    PutText(t, 80, model);
    if (b.size() < tiff + t.size()) b.resize(tiff + t.size());
    std::copy(t.begin(), t.end(), b.begin() + tiff);
    if (b.size() > dataOffset) throw std::invalid_argument("data overlap the header");
    b.resize(dataOffset);
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

TF828Stream::TF828Stream(uint32_t key) {
    for (int p = 0; p < 4; ++p) pad_[p] = key = key * 48828125 + 1;
    pad_[3] = pad_[3] << 1 | (pad_[0] ^ pad_[2]) >> 31;
    for (int p = 4; p < 127; ++p) pad_[p] = (pad_[p - 4] ^ pad_[p - 2]) << 1 | (pad_[p - 3] ^ pad_[p - 1]) >> 31;
}

void TF828Stream::Apply(uint8_t* data, size_t words) {
    for (size_t w = 0; w < words; ++w, ++index_) {
        const uint32_t key = pad_[index_ & 127] = pad_[(index_ + 1) & 127] ^ pad_[(index_ + 65) & 127];
        for (int b = 0; b < 4; ++b) data[4 * w + size_t(b)] ^= uint8_t(key >> (24 - 8 * b));
    }
}

TBytes WriteSonyF828(const TRaster& raster, uint32_t key, uint32_t nextKey) {
    TBytes b = TiffHead(false);
    PutIfd(b, 8, {{271, 2, 5, 120}, {272, 2, 9, 140}}, false);
    PutText(b, 120, "SONY");
    PutText(b, 140, "DSC-F828");
    b.resize(862144, 0);
    // The key lies 4n - 1 bytes after the count byte n.
    const uint8_t n = 3;
    b[200896] = n;
    Put32(b, 200896 + 4 * n - 1, key, false);
    uint8_t block[40] = {};
    for (int i = 0; i < 4; ++i) block[22 + i] = uint8_t(nextKey >> (8 * i));
    TF828Stream(key).Apply(block, 10);
    std::copy(block, block + 40, b.begin() + 164600);
    TF828Stream stream(nextKey);
    for (int row = 0; row < raster.height; ++row) {
        TBytes line(size_t(raster.width) * 2);
        for (int col = 0; col < raster.width; ++col) Put16(line, size_t(2 * col), uint16_t(raster.At(row, col)), false);
        stream.Apply(line.data(), line.size() / 4);
        b.insert(b.end(), line.begin(), line.end());
    }
    return b;
}

namespace {

// The coder's trees as (code length, value) pairs; codes are given out depth first, the 0
// branch before the 1 branch.
const std::vector<std::pair<int, int>> dc40Pairs[18] = {
    {{1, 1}, {2, 3}, {3, 4}, {4, 2}, {5, 7}, {6, 5}, {7, 6}, {7, 8}},
    {{1, 0}, {2, 1}, {3, 3}, {4, 4}, {5, 2}, {6, 7}, {7, 6}, {8, 5}, {8, 8}},
    {{2, 1}, {2, 3}, {3, 0}, {3, 2}, {3, 4}, {4, 6}, {5, 5}, {6, 7}, {6, 8}},
    {{2, 0}, {2, 1}, {2, 3}, {3, 2}, {4, 4}, {5, 6}, {6, 7}, {7, 5}, {7, 8}},
    {{2, 1}, {2, 4}, {3, 0}, {3, 2}, {3, 3}, {4, 7}, {5, 5}, {6, 6}, {6, 8}},
    {{2, 3}, {3, 1}, {3, 2}, {3, 4}, {3, 5}, {3, 6}, {4, 7}, {5, 0}, {5, 8}},
    {{2, 3}, {2, 6}, {3, 0}, {3, 1}, {4, 4}, {4, 5}, {4, 7}, {5, 2}, {5, 8}},
    {{2, 4}, {2, 7}, {3, 3}, {3, 6}, {4, 1}, {4, 2}, {4, 5}, {5, 0}, {5, 8}},
    {{2, 6}, {3, 1}, {3, 3}, {3, 5}, {3, 7}, {3, 8}, {4, 0}, {5, 2}, {5, 4}},
    {{2, 0}, {2, 1}, {3, 2}, {3, 3}, {4, 4}, {4, 5}, {5, 6}, {5, 7}, {4, 8}},
    {{1, 0}, {2, 2}, {2, -2}},
    {{1, -3}, {1, 3}},
    {{2, -17}, {2, -5}, {2, 5}, {2, 17}},
    {{2, -7}, {2, 2}, {2, 9}, {2, 18}},
    {{2, -18}, {2, -9}, {2, -2}, {2, 7}},
    {{2, -28}, {2, 28}, {3, -49}, {3, -9}, {3, 9}, {4, 49}, {5, -79}, {5, 79}},
    {{2, -1}, {2, 13}, {2, 26}, {3, 39}, {4, -16}, {5, 55}, {6, -37}, {6, 76}},
    {{2, -26}, {2, -13}, {2, 1}, {3, -39}, {4, 16}, {5, -55}, {6, -76}, {6, 37}},
};

struct TDc40Code {
    uint32_t bits;
    int length;
};

void AssignCodes(const std::vector<std::pair<int, int>>& pairs, size_t& next, int depth, uint32_t path,
                 std::map<int, TDc40Code>& codes) {
    if (next >= pairs.size()) return;
    if (depth < pairs[next].first) {
        AssignCodes(pairs, next, depth + 1, path << 1, codes);
        AssignCodes(pairs, next, depth + 1, path << 1 | 1, codes);
    } else {
        codes[pairs[next++].second] = {path, depth};
    }
}

class TDc40Encoder {
public:
    TDc40Encoder(const std::vector<int>& samples, int rows, int columns, bool coarse)
        : height(rows), width(columns), half(columns / 2), target_(samples), coarse_(coarse) {
        for (size_t t = 0; t < 18; ++t) {
            size_t next = 0;
            AssignCodes(dc40Pairs[t], next, 0, 0, codes_[t]);
        }
        for (auto& plane : rows_)
            for (auto& row : plane)
                for (int& v : row) v = 2048;
        decoded_.assign(size_t(height) * width, 0);
    }

    TBytes Encode() {
        int last[3] = {16, 16, 16};
        for (int row = 0; row < height; row += 4) {
            // Multipliers that change from band to band exercise the rescaling.
            const int mul[3] = {14 + (row / 4) % 5, 16, 20 - (row / 4) % 3};
            for (const int m : mul) bits_.Put(uint32_t(m), 6);
            for (int c = 0; c < 3; ++c) {
                Rescale(c, last[c], mul[c]);
                last[c] = mul[c];
                const int green = c == 0;
                for (int r = 0; r <= green; ++r) {
                    EncodeRows(c, mul[c], [&](int y, int i) { return Goal(c, row, r, y - 1, i, mul[c]); });
                    for (int y = 0; y < 2; ++y)
                        for (int i = 0; i < half; ++i) {
                            const int w = std::clamp(rows_[c][y + 1][i] * 16 / mul[c], 0, 0xFFFF);
                            if (c == 0) Decoded(row + 2 * r + y, 2 * i + y) = w;
                            else Decoded(row + 2 * y + c - 1, 2 * i + 2 - c) = w;
                        }
                    std::copy(rows_[c][2].begin(), rows_[c][2].end() - green, rows_[c][0].begin() + green);
                }
            }
        }
        return bits_.Finish();
    }

private:
    static constexpr int span = 386;
    const int height, width, half;

    int& Decoded(int row, int col) { return decoded_[size_t(row) * width + size_t(col)]; }
    int Target(int row, int col) const { return target_[size_t(row) * width + size_t(col)]; }

    // The coded value wanted at (y, i) of the plane's rows. Red and blue are coded against the
    // greens beside them, already decoded.
    int Goal(int c, int row, int r, int y, int i, int mul) {
        if (c == 0) return Target(row + 2 * r + y, 2 * i + y) * mul / 16;
        const int prow = row + 2 * y + c - 1, pcol = 2 * i + 2 - c;
        const int left = Decoded(prow, pcol > 0 ? pcol - 1 : pcol + 1);
        const int right = Decoded(prow, pcol + 1 < width ? pcol + 1 : pcol - 1);
        const int own = (Target(prow, pcol) - (left + right) / 2 + 4096) / 2;
        return own * mul / 16;
    }

    void Rescale(int c, int last, int mul) {
        int64_t v = int64_t((16777216 / last + 2047) >> 12) * mul;
        const int s = v > 65564 ? 10 : 12;
        v >>= 12 - s;
        for (auto& row : rows_[c])
            for (int& b : row) b = int((v * b + (int64_t(1) << (s - 1)) - 1) >> s);
    }

    int Predict(int c, int y, int i) const {
        const auto& above = rows_[c][y - 1];
        const auto& here = rows_[c][y];
        if (c == 0) return (above[i + 1] + 2 * above[i] + here[i + 1]) / 4;
        return (above[i] + here[i + 1]) / 2;
    }

    // The value of `tree` nearest to `goal`.
    int Nearest(int tree, int goal) const {
        int best = 0, error = 1 << 30;
        for (const auto& [value, code] : codes_[tree]) {
            (void)code;
            if (std::abs(value - goal) < error) error = std::abs(value - goal), best = value;
        }
        return best;
    }

    int Absolute(int goal, int mul) const {
        const int step = coarse_ ? 8 : 4, offset = coarse_ ? 4 : 2, top = coarse_ ? 31 : 63;
        const int token = std::clamp((goal / mul - offset + step / 2) / step, 0, top);
        return token;
    }

    void PutToken(int tree, int value) {
        const TDc40Code code = codes_[tree].at(value);
        bits_.Put(code.bits, code.length);
    }
    void PutAbsolute(int token) { bits_.Put(uint32_t(token), coarse_ ? 5 : 6); }
    int AbsoluteValue(int token, int mul) const { return (coarse_ ? token * 8 + 4 : token * 4 + 2) * mul; }

    // Fills the four values of one step with symbol t (1..8) or by prediction (t 0), returning
    // the squared error; `emit` writes the tokens as well.
    int64_t Step(int c, int mul, int x, int t, const std::function<int(int, int)>& goal, bool emit) {
        int64_t error = 0;
        for (int y = 1; y <= 2; ++y)
            for (int i = x + 1; i >= x; --i) {
                int& value = rows_[c][y][i];
                const int g = goal(y, i);
                if (t == 8) {
                    const int token = Absolute(g, mul);
                    if (emit) PutAbsolute(token);
                    value = AbsoluteValue(token, mul);
                } else if (t > 0) {
                    const int p = Predict(c, y, i);
                    const int token = Nearest(t + 10, (g - p) / 16);
                    if (emit) PutToken(t + 10, token);
                    value = token * 16 + p;
                } else {
                    value = Predict(c, y, i);
                }
                error += int64_t(value - g) * (value - g);
            }
        return error;
    }

    void EncodeRows(int c, int mul, const std::function<int(int, int)>& goal) {
        rows_[c][1][half] = rows_[c][2][half] = mul * 128;
        int tree = 1;
        for (int x = half; x > 0;) {
            x -= 2;
            int best = -1;
            int64_t bestError = 0;
            for (int t = 0; t <= 8; ++t) {
                if (!codes_[tree].count(t)) continue;
                const int64_t error = Step(c, mul, x, t, goal, false);
                if (best < 0 || error < bestError) best = t, bestError = error;
            }
            PutToken(tree, best);
            tree = best;
            if (best == 0 && x + 2 > 2) PutToken(9, 0);  // a run of one step
            Step(c, mul, x, best, goal, true);
        }
    }

    const std::vector<int>& target_;
    bool coarse_;
    std::map<int, TDc40Code> codes_[18];
    std::array<std::array<std::array<int, span>, 3>, 3> rows_;
    std::vector<int> decoded_;
    TBitWriter bits_{false};
};

}  // namespace

TBytes EncodeKodakDc40(const std::vector<int>& samples, int height, int width, bool coarse) {
    return TDc40Encoder(samples, height, width, coarse).Encode();
}
