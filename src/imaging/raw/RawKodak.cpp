// Kodak codings of their own: the DC40/DC50 predictive coder, the DC120's pair-swapped JPEG and
// the block coder of compression 65000 in its filter-array and full-colour forms.
#include <algorithm>
#include <array>
#include <memory>

#include "imaging/core/KVStreams.h"
#include "imaging/io/KVJpegFilter.h"
#include "imaging/raw/RawStages.h"

namespace {

int CurveAt(const std::vector<uint16_t>& curve, int index) {
    return curve[size_t(std::clamp(index, 0, int(curve.size()) - 1))];
}

// --- DC40 and DC50

struct TDc40Pair {
    int8_t length;
    int8_t value;
};

// Trees 0..17 as (code length, value) pairs in the order the tree builder takes them.
const std::vector<TDc40Pair> dc40Trees[18] = {
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

class TDc40Decoder {
public:
    explicit TDc40Decoder(TKVRawContext& raw) : raw_(raw), coarseAbsolute_(raw.model.size() > 2 && raw.model[2] == '4') {
        RawInitDecoder(raw);
        for (size_t t = 0; t < 18; ++t) {
            size_t next = 0;
            roots_[t] = Build(dc40Trees[t], next, 0);
        }
        RawGetBits(raw, -1);
    }

    int Token(int tree) {
        if (tree == 18) return coarseAbsolute_ ? int(RawGetBits(raw_, 5)) * 8 + 4 : int(RawGetBits(raw_, 6)) * 4 + 2;
        return RawDecodeLeaf(raw_, roots_[size_t(tree)]);
    }

private:
    int Build(const std::vector<TDc40Pair>& pairs, size_t& next, int depth) {
        const int node = RawTakeNode(raw_);
        if (next >= pairs.size()) return node;
        if (depth < pairs[next].length) {
            const int zero = Build(pairs, next, depth + 1);
            const int one = Build(pairs, next, depth + 1);
            raw_.nodes[size_t(node)].branch[0] = int16_t(zero);
            raw_.nodes[size_t(node)].branch[1] = int16_t(one);
        } else {
            raw_.nodes[size_t(node)].leaf = pairs[next++].value;
        }
        return node;
    }

    TKVRawContext& raw_;
    bool coarseAbsolute_;
    std::array<int, 18> roots_{};
};

constexpr int dc40Span = 386;

struct TDc40Plane {
    std::array<std::array<int, dc40Span>, 3> rows;
    int last = 16;
};

// The prediction at (y, i) from the value above and the one to the right; the green plane
// weighs in the value above-right too.
int Predict(const TDc40Plane& plane, int c, int y, int i) {
    const auto& above = plane.rows[size_t(y - 1)];
    const auto& here = plane.rows[size_t(y)];
    if (c == 0) return (above[size_t(i + 1)] + 2 * above[size_t(i)] + here[size_t(i + 1)]) / 4;
    return (above[size_t(i)] + here[size_t(i + 1)]) / 2;
}

void Rescale(TDc40Plane& plane, int mul) {
    int64_t v = int64_t((16777216 / plane.last + 2047) >> 12) * mul;
    const int s = v > 65564 ? 10 : 12;
    v >>= 12 - s;  // fewer fraction bits keep large factors inside 32-bit products
    for (auto& row : plane.rows)
        for (int& b : row) b = int((v * b + (int64_t(1) << (s - 1)) - 1) >> s);
    plane.last = mul;
}

void DecodeDc40Rows(TDc40Decoder& decoder, TDc40Plane& plane, int c, int mul, int half) {
    auto& rows = plane.rows;
    rows[1][size_t(half)] = rows[2][size_t(half)] = mul * 128;
    int tree = 1;
    for (int x = half; x > 0;) {
        tree = decoder.Token(tree);
        if (tree) {
            x -= 2;
            for (int y = 1; y <= 2; ++y)
                for (int i = x + 1; i >= x; --i)
                    rows[size_t(y)][size_t(i)] =
                        tree == 8 ? decoder.Token(18) * mul : decoder.Token(tree + 10) * 16 + Predict(plane, c, y, i);
            continue;
        }
        int n = 0;
        do {
            n = x > 2 ? decoder.Token(9) + 1 : 1;
            for (int step = 0; step < std::min(8, n) && x > 0; ++step) {
                x -= 2;
                for (int y = 1; y <= 2; ++y)
                    for (int i = x + 1; i >= x; --i) rows[size_t(y)][size_t(i)] = Predict(plane, c, y, i);
                if (step & 1) {
                    const int d = decoder.Token(10) * 16;
                    for (int y = 1; y <= 2; ++y)
                        for (int i = x + 1; i >= x; --i) rows[size_t(y)][size_t(i)] += d;
                }
            }
        } while (n == 9);
    }
}

int Dc40Sample(TKVRawContext& raw, int row, int col) { return raw.At(row, col)[size_t(raw.FC(row, col))]; }

// --- Compression 65000

// One block of up to `len` values: with their code lengths first, or stored as 12-bit samples
// when a length passes 12. Returns true for a stored block, whose values are samples, not
// differences.
bool DecodeKodakBlock(TKVRawContext& raw, int* out, int len) {
    const int64_t start = raw.in.Tell();
    std::array<uint8_t, 768> lengths{};
    const auto packed = raw.in.Bytes((len + 1) / 2);
    for (int i = 0; i < len; ++i) {
        lengths[size_t(i)] = uint8_t(i & 1 ? packed[size_t(i / 2)] >> 4 : packed[size_t(i / 2)] & 15);
        if (lengths[size_t(i)] > 12) {
            raw.in.Seek(start);
            for (int i8 = 0; i8 < len; i8 += 8) {
                const auto b = raw.in.Bytes(12);
                int w[6];
                for (int k = 0; k < 6; ++k) w[k] = b[size_t(2 * k)] << 8 | b[size_t(2 * k + 1)];
                int s[8] = {(w[0] >> 12) << 8 | (w[2] >> 12) << 4 | w[4] >> 12, (w[1] >> 12) << 8 | (w[3] >> 12) << 4 | w[5] >> 12};
                for (int k = 0; k < 6; ++k) s[2 + k] = w[k] & 0xFFF;
                for (int k = 0; k < 8 && i8 + k < len; ++k) out[i8 + k] = s[k];
            }
            return true;
        }
    }
    uint64_t bits = 0;
    int held = 0;
    if (len % 8 == 4) {
        bits = raw.in.Get16BE();
        held = 16;
    }
    for (int i = 0; i < len; ++i) {
        const int l = lengths[size_t(i)];
        if (held < l) {
            bits |= uint64_t(raw.in.Get16BE()) << held;
            bits |= uint64_t(raw.in.Get16BE()) << (held + 16);
            held += 32;
        }
        int v = int(bits & ((uint64_t(1) << l) - 1));
        bits >>= l;
        held -= l;
        if (l && !(v & (1 << (l - 1)))) v += 1 - (1 << l);
        out[i] = v;
    }
    return false;
}

// The DC120's JPEG data, stored with the bytes of each pair exchanged, handed to the JPEG
// library a buffer at a time with the pairs put back.
class TPairSwappedStream : public TKVMemStream {
public:
    using TKVMemStream::TKVMemStream;
    std::array<uint8_t, 4096> buffer{};
    bool ended = false;
};

void FillPairSwapped(TKVJpegSource& source, TStream& stream) {
    auto& swapped = static_cast<TPairSwappedStream&>(stream);
    int64_t got = swapped.Read(swapped.buffer.data(), int64_t(swapped.buffer.size()));
    for (int64_t i = 0; i + 1 < got; i += 2) std::swap(swapped.buffer[size_t(i)], swapped.buffer[size_t(i + 1)]);
    if (got <= 0) {
        // An end-of-image marker lets the library stop; the loader then reports the short data.
        swapped.ended = true;
        swapped.buffer[0] = 0xFF;
        swapped.buffer[1] = 0xD9;
        got = 2;
    }
    RawJpegSetSource(source, swapped.buffer.data(), size_t(got));
}

}  // namespace

void RawLoadKodakDc40(TKVRawContext& raw) {
    const int half = raw.width / 2;
    if (half + 1 >= dc40Span || raw.width < 2) throw EInvalidGraphic("raw picture is wider than its coder's rows");
    TDc40Decoder decoder(raw);
    std::array<TDc40Plane, 3> planes;
    for (TDc40Plane& plane : planes)
        for (auto& row : plane.rows) row.fill(2048);
    for (int row = 0; row + 4 <= raw.height; row += 4) {
        raw.LoaderProgress(row, raw.height);
        int mul[3];
        for (int& m : mul) {
            m = int(RawGetBits(raw, 6));
            if (m == 0) throw EInvalidGraphic("raw data hold a multiplier of 0");
        }
        for (int c = 0; c < 3; ++c) {
            TDc40Plane& plane = planes[size_t(c)];
            Rescale(plane, mul[c]);
            const int green = c == 0 ? 1 : 0;
            for (int r = 0; r <= green; ++r) {
                DecodeDc40Rows(decoder, plane, c, mul[c], half);
                for (int y = 0; y < 2; ++y)
                    for (int i = 0; i < half; ++i) {
                        const int w = std::clamp(plane.rows[size_t(y + 1)][size_t(i)] * 16 / mul[c], 0, 0xFFFF);
                        if (c == 0) raw.Store(row + 2 * r + y, 2 * i + y, w);
                        else raw.Store(row + 2 * y + c - 1, 2 * i + 2 - c, w);
                    }
                std::copy(plane.rows[2].begin(), plane.rows[2].end() - green, plane.rows[0].begin() + green);
            }
        }
        // Red and blue were coded as differences from the greens beside them.
        for (int y = row; y < row + 4; ++y)
            for (int x = 1 - (y & 1); x < raw.width; x += 2) {
                const int left = Dc40Sample(raw, y, x > 0 ? x - 1 : x + 1);
                const int right = Dc40Sample(raw, y, x + 1 < raw.width ? x + 1 : x - 1);
                raw.Store(y, x, std::clamp((left + right) / 2 + 2 * Dc40Sample(raw, y, x) - 4096, 0, 0xFFFF));
            }
    }
}

void RawLoadKodakDc120Jpeg(TKVRawContext& raw) {
    const auto data = raw.in.Bytes(raw.in.Remaining());
    TPairSwappedStream stream(data.data(), int64_t(data.size()));

    struct TDecompressor {
        jpeg_decompress_struct* decompressor = RawJpegAllocDecompress();
        TKVRawJpegErrorMgr* errors = RawJpegCreateErrorMgr(decompressor);
        bool created = false;
        ~TDecompressor() {
            if (created) RawJpegDestroyDecompress(decompressor);
            RawJpegFreeErrorMgr(errors);
            RawJpegFreeDecompress(decompressor);
        }
    } jpeg;
    RawJpegCreateDecompress(jpeg.decompressor);
    jpeg.created = true;
    RawJpegStreamSource(jpeg.decompressor, stream);
    RawJpegSetFillInputBuffer(jpeg.decompressor, FillPairSwapped);
    RawJpegReadHeader(jpeg.decompressor, true);
    RawJpegStartDecompress(jpeg.decompressor);
    const int width = RawJpegOutputWidth(jpeg.decompressor), height = RawJpegOutputHeight(jpeg.decompressor);
    if (width != raw.width || height != raw.height / 2 || RawJpegOutputComponents(jpeg.decompressor) != 3)
        throw EInvalidGraphic(": incorrect JPEG dimensions");
    std::vector<uint8_t> line(size_t(width) * 3);
    uint8_t* rows[1] = {line.data()};
    for (int d = 0; d < height; ++d) {
        raw.LoaderProgress(d, height);
        RawJpegReadScanlines(jpeg.decompressor, rows, 1);
        for (int i = 0; i + 1 < width; i += 2) {
            const uint8_t* p = line.data() + 3 * size_t(i);
            const uint8_t* q = p + 3;
            raw.Store(2 * d, i, p[1] * 64);
            raw.Store(2 * d + 1, i + 1, q[1] * 64);
            raw.Store(2 * d, i + 1, (p[0] + q[0]) * 32);
            raw.Store(2 * d + 1, i, (p[2] + q[2]) * 32);
        }
    }
    RawJpegFinishDecompress(jpeg.decompressor);
    if (stream.ended) throw EShortData("raw JPEG data end before the picture does");
}

void RawLoadKodakCompressedCfa(TKVRawContext& raw) {
    const std::vector<uint16_t> curve = RawKodakCurve(raw);
    int values[256];
    for (int row = 0; row < raw.height; ++row) {
        raw.LoaderProgress(row, raw.height);
        for (int col = 0; col < raw.width; col += 256) {
            const int len = std::min(256, raw.width - col);
            const bool stored = DecodeKodakBlock(raw, values, len);
            int pred[2] = {0, 0};
            for (int i = 0; i < len; ++i) {
                const int v = stored ? values[i] : (pred[i & 1] += values[i]);
                raw.Store(row, col + i, CurveAt(curve, v) * 4);
            }
        }
    }
}

void RawLoadKodakCompressedColor(TKVRawContext& raw) {
    const std::vector<uint16_t> curve = RawKodakCurve(raw);
    int values[384];
    for (int row = 0; row + 1 < raw.height; row += 2) {
        raw.LoaderProgress(row, raw.height);
        for (int col = 0; col < raw.width; col += 128) {
            const int len = std::min(((raw.width - col) * 3 + 3) & ~3, 384);
            DecodeKodakBlock(raw, values, len);
            int pred[2] = {0, 0}, cb = 0, cr = 0;
            for (int cell = 0; 6 * cell + 6 <= len && col + 2 * cell + 1 < raw.width; ++cell) {
                const int* d = values + 6 * cell;
                int y[4];
                y[0] = pred[0] + d[0];
                y[1] = pred[0] = y[0] + d[1];
                y[2] = pred[1] + d[2];
                y[3] = pred[1] = y[2] + d[3];
                cb += d[4];
                cr += d[5];
                for (int k = 0; k < 4; ++k) {
                    TRawPixel& pixel = raw.At(row + k / 2, col + 2 * cell + (k & 1));
                    const int index[3] = {y[k] + cr, y[k], y[k] + cb};
                    for (size_t c = 0; c < 3; ++c)
                        if (index[c] > 0) pixel[c] = uint16_t(CurveAt(curve, index[c]) * 4);
                }
            }
        }
    }
}
