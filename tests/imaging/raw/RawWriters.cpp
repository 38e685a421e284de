#include "RawWriters.h"

#include <cmath>
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

namespace {

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

struct TEntry {
    uint16_t tag, type;
    uint32_t count, value;
};

// One directory at `at` with its entries; returns the position after it.
size_t PutIfd(TBytes& b, size_t at, const std::vector<TEntry>& entries, bool little, uint32_t next = 0) {
    Put16(b, at, uint16_t(entries.size()), little);
    size_t p = at + 2;
    for (const TEntry& e : entries) {
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

}  // namespace

TBytes WriteLeafTiff(const TRaster& raster) {
    TBytes b = TiffHead(false);
    const uint32_t data = 256;
    PutIfd(b, 8, {{256, 4, 1, uint32_t(raster.width)}, {257, 4, 1, uint32_t(raster.height)}, {324, 4, 1, data}}, false);
    b.resize(data);
    for (const int s : raster.samples) b.push_back(uint8_t(s >> 8)), b.push_back(uint8_t(s));
    return b;
}

TBytes WriteOlympusTiff(const TRaster& raster) {
    TBytes b = TiffHead(true);
    const uint32_t strips = 200, data = 256;
    PutIfd(b, 8,
           {{256, 4, 1, uint32_t(raster.width)}, {257, 4, 1, uint32_t(raster.height)}, {271, 2, 8, 120}, {272, 2, 4, 140},
            {273, 4, 2, strips}},
           true);
    PutText(b, 120, "OLYMPUS OPTICAL CO.,LTD");
    PutText(b, 140, "E-1");
    // The decoder takes the data position from the first entry of the strip table.
    Put32(b, strips, data, true);
    Put32(b, strips + 4, 0, true);
    b.resize(data);
    for (const int s : raster.samples) {
        const int w = s << 2;
        b.push_back(uint8_t(w)), b.push_back(uint8_t(w >> 8));
    }
    return b;
}

namespace {

// Lengths 0..12, each coded by a canonical table: four codes of three bits, then longer ones.
constexpr uint8_t jpegTable[16 + 13] = {0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0,
                                        0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};

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

}  // namespace

TBytes EncodeLosslessJpeg(const TRaster& raster) {
    if (raster.width % 2) throw std::invalid_argument("two components per row need an even width");
    TBytes b = {0xFF, 0xD8};
    auto segment = [&](uint16_t marker, const TBytes& body) {
        b.push_back(uint8_t(marker >> 8)), b.push_back(uint8_t(marker));
        const size_t length = body.size() + 2;
        b.push_back(uint8_t(length >> 8)), b.push_back(uint8_t(length));
        b.insert(b.end(), body.begin(), body.end());
    };
    const int jw = raster.width / 2;
    segment(0xFFC3, {12, uint8_t(raster.height >> 8), uint8_t(raster.height), uint8_t(jw >> 8), uint8_t(jw), 2, 1, 0x11, 0, 2, 0x11, 0});
    TBytes dht;
    for (uint8_t table = 0; table < 2; ++table) {
        dht.push_back(table);
        dht.insert(dht.end(), std::begin(jpegTable), std::end(jpegTable));
    }
    segment(0xFFC4, dht);
    segment(0xFFDA, {2, 1, 0x00, 2, 0x11, 1, 0, 0});
    const auto codes = CanonicalCodes(jpegTable);
    TBitWriter bits(true);
    int vpred[2] = {2048, 2048}, hpred[2] = {0, 0};
    for (int row = 0; row < raster.height; ++row)
        for (int col = 0; col < raster.width; ++col) {
            const int v = raster.At(row, col);
            int diff = 0;
            if (col < 2) {
                diff = v - vpred[col];
                vpred[col] = hpred[col] = v;
            } else {
                diff = v - hpred[col & 1];
                hpred[col & 1] = v;
            }
            PutDifference(bits, codes, diff);
        }
    const TBytes data = bits.Finish();
    b.insert(b.end(), data.begin(), data.end());
    b.push_back(0xFF), b.push_back(0xD9);
    return b;
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

struct TCiffRecord {
    uint16_t type;
    TBytes data;
};

// Header of 26 bytes, then the heap: `body` first (it starts at heap offset 0), the records'
// data, the record table and its offset.
TBytes WriteCiff(const TBytes& body, const std::vector<TCiffRecord>& records) {
    TBytes b(26);
    b[0] = b[1] = 'I';
    Put32(b, 2, 26, true);
    std::memcpy(b.data() + 6, "HEAPCCDR", 8);
    b.insert(b.end(), body.begin(), body.end());
    std::vector<std::pair<uint32_t, uint32_t>> places;
    for (const TCiffRecord& r : records) {
        places.push_back({uint32_t(b.size() - 26), uint32_t(r.data.size())});
        b.insert(b.end(), r.data.begin(), r.data.end());
    }
    const size_t table = b.size();
    Put16(b, table, uint16_t(records.size()), true);
    size_t p = table + 2;
    for (size_t i = 0; i < records.size(); ++i, p += 10) {
        Put16(b, p, records[i].type, true);
        Put32(b, p + 2, places[i].second, true);
        Put32(b, p + 6, places[i].first, true);
    }
    Put32(b, p, uint32_t(table - 26), true);
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

TBytes WriteCanonCiffCompressed(const std::string& model, const TRaster& raster) {
    // The coded data start at file offset 540; a stuffed FF 00 pair after them tells the decoder
    // that no low bits are stored.
    TBytes body(540 - 26, 0);
    const TBytes coded = EncodeCanonBlocks(raster);
    body.insert(body.end(), coded.begin(), coded.end());
    body.push_back(0xFF), body.push_back(0x00), body.push_back(0x00);
    TBytes sizes(6);
    Put16(sizes, 2, uint16_t(raster.width), true);
    Put16(sizes, 4, uint16_t(raster.height), true);
    TBytes table(4);
    Put32(table, 0, 0, true);
    return WriteCiff(body, {{0x080a, MakeModel(model)}, {0x1031, sizes}, {0x1835, table}});
}

TBytes WriteCanonA5(const TRaster& raster) {
    TBytes body;
    for (int row = 0; row < raster.height; ++row)
        for (int g = 0; g < raster.width; g += 8) {
            int s[8];
            for (int i = 0; i < 8; ++i) s[i] = raster.At(row, g + i);
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
            body.insert(body.end(), b, b + 10);
        }
    return WriteCiff(body, {{0x080a, MakeModel("Canon PowerShot A5")}});
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
