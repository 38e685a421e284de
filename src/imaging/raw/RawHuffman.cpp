// The bit reader, the Huffman trees in the context's fixed node storage, the Kodak linearisation
// curve and the loaders whose samples are Huffman-coded differences.
#include <algorithm>
#include <cstring>

#include "imaging/raw/RawStages.h"
#include "platform/Exception.h"

uint32_t RawGetBits(TKVRawContext& raw, int n) {
    if (n == -1) {
        raw.bitBuffer = 0;
        raw.bitCount = 0;
        raw.paddedBytes = 0;
    }
    if (n == 0) return 0;
    uint32_t result = 0;
    if (n > 0) {
        result = n <= raw.bitCount ? (raw.bitBuffer << (32 - raw.bitCount)) >> (32 - n) : 0;
        raw.bitCount -= n;
    }
    while (raw.bitCount < 25) {
        if (raw.in.Remaining() == 0) {
            // The reader looks up to four bytes ahead; codes that reach further than that run
            // past the end of the data.
            if (++raw.paddedBytes > 4) throw EShortData("raw data are truncated");
            raw.bitBuffer <<= 8;
            raw.bitCount += 8;
            continue;
        }
        const uint8_t byte = raw.in.Byte();
        raw.bitBuffer = (raw.bitBuffer << 8) | byte;
        raw.bitCount += 8;
        if (byte == 0xFF && raw.ffStuffing && raw.in.Remaining() > 0) raw.in.Byte();
    }
    return result;
}

void RawInitDecoder(TKVRawContext& raw) {
    raw.nodes.fill(THuffNode{});
    raw.freeNode = 0;
}

int RawTakeNode(TKVRawContext& raw) {
    if (raw.freeNode >= rawNodeCount) throw EInvalidGraphic(": decoder table overflow");
    return raw.freeNode++;
}

int RawBuildDecoder(TKVRawContext& raw, std::span<const uint8_t> source, int level) {
    if (source.size() < 16) throw EShortData("Huffman table is truncated");
    if (level == 0) raw.leafIndex = 0;
    const int node = RawTakeNode(raw);
    int i = 0, sum = 0;
    while (sum <= raw.leafIndex && i < 16) sum += source[size_t(i++)];
    if (raw.leafIndex < sum) {
        if (level < i) {
            raw.nodes[size_t(node)].branch[0] = int16_t(raw.freeNode);
            RawBuildDecoder(raw, source, level + 1);
            raw.nodes[size_t(node)].branch[1] = int16_t(raw.freeNode);
            RawBuildDecoder(raw, source, level + 1);
        } else {
            if (size_t(16 + raw.leafIndex) >= source.size()) throw EShortData("Huffman table is truncated");
            raw.nodes[size_t(node)].leaf = source[size_t(16 + raw.leafIndex++)];
        }
    }
    return 16 + raw.leafIndex;
}

int RawDecodeLeaf(TKVRawContext& raw, int root) {
    const THuffNode* node = &raw.nodes[size_t(root)];
    while (!node->IsLeaf()) node = &raw.nodes[size_t(node->branch[RawGetBits(raw, 1)])];
    return node->leaf;
}

namespace {

std::vector<uint8_t> FromHex(const char* hex) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; hex[i] && hex[i + 1]; i += 2) bytes.push_back(uint8_t(std::stoi(std::string(hex + i, 2), nullptr, 16)));
    return bytes;
}

constexpr const char* canonFirst[3] = {
    "00010402030102000000000000000000040305060207010809000a0bff",
    "00020203010101010200000000000000030204010500060709080a0bff",
    "000006030101020000000000000000000605070408030902000a010bff",
};
constexpr const char* canonSecond[3] = {
    "0002020201040201020501010000008b0304020501060708121311140915220021160af023172431321819332541344235513637382979"
    "261a3956572827525558437659775461f9717875969749b753d774b698474895699991fab868b5b9d6f7d86746459489f881d5f6b488b1"
    "2a4472d98766d4f53aa773a9a88662c765c8c9a1f4d1e95a9285a6e793e8c1c67a64e14a6ae6b3f1d3a58ab29aba84a463e5c5f3d2c482"
    "aadae4f2ca83a3a2c3eac2e2e3ffff",
    "0002020104010401030301000000008c02030104051211061307081422092100231531320a16f0243341421917251851344352293561"
    "397162365326381a37812791795545287259a1b144695458d1fa57e1f1b94947636af95646a82a4a78993a75748665c176b696d68985c9"
    "f595b4c7f78a97b873b7d8d987a77a488284eaf4a6c55a94a4c692c368b5c8e4e5e6e9a2a3e3c2666793aad4d5e7f8889ad777c464e298"
    "a5cadae8f3f6a9b2b3f2d283bad3ffff",
    "000006020103030205010202080a007504050306020701080912131411150a1617f000222118231924323125333837343536397957585"
    "928567827412977264276991a559897f94854968947b749fa7568b66769b9b8d852d788b5745146d9f83ad687457a95d5f686b4a994532"
    "aa843f5f7d466a75a448ac9e8c8e79a6a734a61c7f4c665e972e6719193a6da928562f3c5b2a484ba64a5b3d281e5d3aac4caf2b1e4d18"
    "363eac3e282f1a3c2a1c1e3a2e1ffff",
};

// Samples have at most 16 bits: a predictor that differences would carry past them stays at the
// edge of that range, so no run of differences makes it overflow.
int InSampleRange(int value) { return std::clamp(value, 0, 0xFFFF); }

// A JPEG-style difference of len bits: a clear top bit means a negative value.
int SignedDifference(uint32_t v, int len) {
    if (len == 0) return 0;
    if ((v & (1u << (len - 1))) == 0) return int(v) - int((1u << len) - 1);
    return int(v);
}

bool CanonHasLowbits(TKVRawContext& raw) {
    const int64_t size = std::min<int64_t>(16384, raw.in.Size());
    const auto head = raw.in.BytesAt(0, size);
    bool result = true;
    for (int64_t i = 540; i + 1 < size && i < 16383; ++i)
        if (head[size_t(i)] == 0xFF) {
            if (head[size_t(i + 1)]) return true;
            result = false;
        }
    return result;
}

}  // namespace

void RawCanonTables(TKVRawContext& raw, uint32_t table) {
    table = std::min<uint32_t>(table, 2);
    RawInitDecoder(raw);
    const std::vector<uint8_t> first = FromHex(canonFirst[table]);
    const std::vector<uint8_t> second = FromHex(canonSecond[table]);
    RawBuildDecoder(raw, first);
    raw.secondTree = raw.freeNode;
    RawBuildDecoder(raw, second);
}

std::vector<uint16_t> RawKodakCurve(TKVRawContext& raw) {
    std::vector<uint16_t> curve(4096);
    for (size_t i = 0; i < curve.size(); ++i) curve[i] = uint16_t(i);
    std::string make = raw.make;
    for (char& ch : make) ch = char(std::toupper(uint8_t(ch)));
    if (make != "KODAK") return curve;
    if (raw.curveOffset) {
        raw.in.Seek(12);
        const int entries = raw.in.Get16();
        for (int i = 0; i < entries; ++i) {
            const int tag = raw.in.Get16();
            raw.in.Skip(2);
            const uint32_t count = raw.in.Get32(), value = raw.in.Get32();
            if (tag == 2317) raw.curveOffset = value, raw.curveLength = int(count);
        }
    }
    if (raw.curveOffset) {
        raw.in.Seek(raw.curveOffset);
        const int n = std::clamp(raw.curveLength, 0, 4096);
        for (int i = 0; i < n; ++i) curve[size_t(i)] = raw.in.Get16();
        for (size_t i = size_t(std::max(n, 1)); i < curve.size(); ++i) curve[i] = curve[i - 1];
        raw.whiteLevel = curve[4095] * 4;
    }
    raw.in.Seek(raw.dataOffset);
    return curve;
}

void RawLoadCanonCompressed(TKVRawContext& raw) {
    const int rawWidth = raw.rawWidth;
    std::vector<uint16_t> band(size_t(rawWidth) * 8);
    const bool lowbits = CanonHasLowbits(raw);
    const int shift = 4 - 2 * int(lowbits);
    raw.in.Seek(int64_t(raw.rawHeight) * lowbits * rawWidth / 4 + 540);
    raw.ffStuffing = true;
    RawGetBits(raw, -1);
    // Only the low 16 bits of the bases are stored, so the carry and the bases are kept to them:
    // the samples stay the same and the sums stay within range whatever the data.
    int carry = 0, base[2] = {0, 0};
    int64_t counted = 0, blackSum = 0;
    for (int row = 0; row < raw.rawHeight; row += 8) {
        raw.LoaderProgress(row, raw.rawHeight);
        for (int block = 0; block < rawWidth / 8; ++block) {
            int diff[64] = {};
            for (int i = 0; i < 64; ++i) {
                const int leaf = RawDecodeLeaf(raw, i == 0 ? 0 : raw.secondTree);
                if (leaf == 0 && i) break;
                if (leaf == 0xFF) continue;
                i += leaf >> 4;
                const int len = leaf & 15;
                if (len == 0) continue;
                const uint32_t v = RawGetBits(raw, len);
                if (i < 64) diff[i] = SignedDifference(v, len);
            }
            diff[0] += carry;
            carry = diff[0] & 0xFFFF;
            for (int j = 0; j < 64; ++j, ++counted) {
                if (counted % rawWidth == 0) base[0] = base[1] = 512;
                base[j & 1] = (base[j & 1] + diff[j]) & 0xFFFF;
                band[size_t(block) * 64 + size_t(j)] = uint16_t(base[j & 1]);
            }
        }
        if (lowbits) {
            const int64_t saved = raw.in.Tell();
            raw.in.Seek(int64_t(rawWidth) * row / 4 + 26);
            const auto low = raw.in.Bytes(int64_t(rawWidth) * 2);
            size_t at = 0;
            for (const uint8_t byte : low)
                for (int r = 0; r < 8; r += 2, ++at) {
                    int v = (band[at] << 2) | ((byte >> r) & 3);
                    if (rawWidth == 2672 && v < 512) v += 2;
                    band[at] = uint16_t(v);
                }
            raw.in.Seek(saved);
        }
        for (int r = 0; r < 8; ++r) {
            const int irow = row + r - raw.topMargin;
            if (irow < 0 || irow >= raw.height) continue;
            for (int col = 0; col < rawWidth; ++col) {
                const int value = band[size_t(r) * size_t(rawWidth) + size_t(col)];
                const int icol = col - raw.leftMargin;
                if (icol >= 0 && icol < raw.width) raw.Store(irow, icol, value << shift);
                else blackSum += value;
            }
        }
    }
    if (rawWidth > raw.width) raw.blackLevel = int((blackSum << shift) / (int64_t(rawWidth - raw.width) * raw.height));
}

void RawLoadJpegLossless(TKVRawContext& raw) {
    const std::vector<uint16_t> curve = RawKodakCurve(raw);
    raw.in.order = rawBigEndian;
    if (raw.in.Get16() != 0xFFD8) return;
    int jh = 0, jw = 0;
    int roots[2] = {0, 0};
    for (int mark = 0; mark != 0xFFDA;) {
        mark = raw.in.Get16();
        const int n = int(raw.in.Get16()) - 2;
        if (mark < 0xFF01 || n > 255 || n < 0) return;
        const auto data = raw.in.Bytes(n);
        if (mark == 0xFFC3 && n >= 5) {
            jh = data[1] << 8 | data[2];
            jw = (data[3] << 8 | data[4]) * 2;
        } else if (mark == 0xFFC4) {
            RawInitDecoder(raw);
            roots[0] = roots[1] = 0;
            for (size_t at = 0; at < data.size() && data[at] < 2;) {
                const int table = data[at];
                roots[table] = raw.freeNode;
                at += 1 + size_t(RawBuildDecoder(raw, data.subspan(at + 1)));
            }
        }
    }
    if (int64_t(jw) * jh > int64_t(raw.rawWidth) * raw.rawHeight)
        throw EInvalidGraphic("lossless JPEG data hold more samples than the raw picture");
    raw.ffStuffing = true;
    RawGetBits(raw, -1);
    int vpred[2] = {2048, 2048}, hpred[2] = {0, 0};
    int minimum = 0xFFFF;
    int64_t blackSum = 0;
    for (int jrow = 0; jrow < jh; ++jrow) {
        raw.LoaderProgress(jrow, jh);
        for (int jcol = 0; jcol < jw; ++jcol) {
            const int len = RawDecodeLeaf(raw, roots[jcol & 1]);
            const int diff = SignedDifference(RawGetBits(raw, std::min(len, 16)), std::min(len, 16));
            if (jcol < 2) hpred[jcol] = vpred[jcol] = InSampleRange(vpred[jcol] + diff);
            else hpred[jcol & 1] = InSampleRange(hpred[jcol & 1] + diff);
            const int value = hpred[jcol & 1];
            const int64_t index = int64_t(jrow) * jw + jcol;
            int64_t row = 0, col = 0;
            if (raw.rawWidth == 5108) {
                const int64_t s = index / (int64_t(jh) * 1680);
                if (s > 1) {
                    row = (index - int64_t(jh) * 3360) / 1748;
                    col = (index - int64_t(jh) * 3360) % 1748 + 3360;
                } else {
                    row = (index / 1680) % jh;
                    col = index % 1680 + s * 1680;
                }
            } else {
                row = index / raw.rawWidth;
                col = index % raw.rawWidth;
            }
            const int64_t irow = row - raw.topMargin, icol = col - raw.leftMargin;
            if (irow >= raw.height) continue;
            const int v = curve[size_t(std::min(value, 4095))];
            if (icol < raw.width) {
                minimum = std::min(minimum, v);
                if (irow >= 0 && icol >= 0) raw.Store(int(irow), int(icol), v * 4);
            } else {
                blackSum += v;
            }
        }
    }
    if (raw.rawWidth > raw.width) raw.blackLevel = int(blackSum * 4 / (int64_t(raw.rawWidth - raw.width) * raw.height));
    std::string make = raw.make;
    for (char& ch : make) ch = char(std::toupper(uint8_t(ch)));
    if (make == "KODAK") raw.blackLevel = minimum * 4;
}

void RawLoadNikonCompressed(TKVRawContext& raw) {
    static constexpr uint8_t table[] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 2, 0, 0, 0, 0, 0, 0,
                                        5, 4, 3, 6, 2, 7, 1, 0, 8, 9, 11, 10, 12, 0x8D};
    RawInitDecoder(raw);
    RawBuildDecoder(raw, table);
    raw.in.Seek(raw.curveOffset);
    int vpred[4];
    for (int& v : vpred) v = int16_t(raw.in.Get16());
    const int n = std::clamp<int>(raw.in.Get16(), 1, 0x4000);
    std::vector<uint16_t> curve(static_cast<size_t>(n));
    for (auto& c : curve) c = raw.in.Get16();
    raw.in.Seek(raw.dataOffset);
    RawGetBits(raw, -1);
    for (int row = 0; row < raw.height; ++row) {
        raw.LoaderProgress(row, raw.height);
        int hpred[2] = {0, 0};
        for (int col = 0; col < raw.rawWidth; ++col) {
            const int len = std::min(RawDecodeLeaf(raw, 0), 16);
            const int diff = SignedDifference(RawGetBits(raw, len), len);
            int& pred = col < 2 ? vpred[(row & 1) * 2 + col] : hpred[col & 1];
            pred = hpred[col & 1] = InSampleRange(pred + diff);
            const int value = std::clamp(hpred[col & 1], 0, n - 1);
            const int icol = col - raw.leftMargin;
            if (icol >= 0 && icol < raw.width) raw.Store(row, icol, curve[size_t(value)] * 4);
        }
    }
}
