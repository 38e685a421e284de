// The loaders of packed, bit-stream and 16-bit sensor data. Each reads from the data position
// that identification left and stores one sample per photosite; data that end early fail the
// load rather than leave rows blank.
#include <algorithm>
#include <array>

#include "imaging/raw/RawStages.h"
#include "imaging/core/KVProgress.h"
#include "platform/PictureLimits.h"

void TKVRawContext::LoaderProgress(int row, int rows) const {
    if (progress && progress->OnProgress && rows > 0)
        progress->OnProgress(progress->Sender, int(row * (100.0 / rows / 2)));
}

void RawCheckGeometry(const TKVRawContext& raw) {
    if (raw.height < 2 || raw.width < 2 || raw.rawHeight < 2 || raw.rawWidth < 2)
        throw EInvalidGraphic("raw picture size is too small");
    if (raw.topMargin < 0 || raw.leftMargin < 0 || raw.dataOffset < 0 || raw.dataOffset > raw.in.Size())
        throw EInvalidGraphic("raw data position is invalid");
    if (raw.topMargin >= raw.rawHeight || raw.leftMargin >= raw.rawWidth)
        throw EInvalidGraphic("raw margins lie outside the raster");
    CheckPictureSize(raw.width, raw.height, 64, raw.in.Size());
    CheckPictureSize(raw.rawWidth, raw.rawHeight, 16, raw.in.Size());
}

namespace {

// Black level from the masked columns to the right of the picture.
void SetBlackFromMargin(TKVRawContext& raw, int64_t sum, int columns, int scale) {
    if (columns > raw.width) raw.blackLevel = int(sum * scale / (int64_t(columns - raw.width) * raw.height));
}

// Ten bytes to eight 10-bit samples, in the PowerShot A5 order.
void UnpackA5(const uint8_t* b, int* s) {
    s[0] = b[1] << 2 | b[0] >> 6;
    s[1] = b[0] << 4 | b[3] >> 4;
    s[2] = b[3] << 6 | b[2] >> 2;
    s[3] = b[2] << 8 | b[5];
    s[4] = b[4] << 2 | b[7] >> 6;
    s[5] = b[7] << 4 | b[6] >> 4;
    s[6] = b[6] << 6 | b[9] >> 2;
    s[7] = b[9] << 8 | b[8];
    for (int i = 0; i < 8; ++i) s[i] &= 0x3FF;
}

void RequireWidthInRow(int64_t rowBytes, int64_t pictureBytes) {
    if (pictureBytes > rowBytes) throw EInvalidGraphic("raw rows are shorter than the picture");
}

void LoadUnpacked(TKVRawContext& raw, bool bigEndian, int shift) {
    RequireWidthInRow(raw.rawWidth, raw.width);
    for (int row = 0; row < raw.height; ++row) {
        raw.LoaderProgress(row, raw.height);
        const auto bytes = raw.in.Bytes(int64_t(raw.rawWidth) * 2);
        for (int col = 0; col < raw.width; ++col) {
            const uint8_t* w = bytes.data() + 2 * col;
            const int word = bigEndian ? (w[0] << 8 | w[1]) : (w[1] << 8 | w[0]);
            raw.Store(row, col, shift >= 0 ? word >> shift : (word << -shift) & 0xFFFF);
        }
    }
}

}  // namespace

void RawLoadUnpackedBe(TKVRawContext& raw) { LoadUnpacked(raw, true, 0); }
void RawLoadUnpackedBeShr2(TKVRawContext& raw) { LoadUnpacked(raw, true, 2); }
void RawLoadUnpackedBeShl2(TKVRawContext& raw) { LoadUnpacked(raw, true, -2); }
void RawLoadUnpackedBeShl4(TKVRawContext& raw) { LoadUnpacked(raw, true, -4); }
void RawLoadUnpackedLeShr2(TKVRawContext& raw) { LoadUnpacked(raw, false, 2); }

void RawLoadCanonPs600(TKVRawContext& raw) {
    int64_t black = 0;
    int irow = 0;
    for (int row = 0; row < raw.height; ++row) {
        raw.LoaderProgress(row, raw.height);
        const auto b = raw.in.Bytes(1120);
        int s[896];
        for (int g = 0; g < 112; ++g) {
            const uint8_t* d = b.data() + 10 * g;
            int* o = s + 8 * g;
            o[0] = d[0] << 2 | d[1] >> 6;
            o[1] = d[2] << 2 | (d[1] >> 4 & 3);
            o[2] = d[3] << 2 | (d[1] >> 2 & 3);
            o[3] = d[4] << 2 | (d[1] & 3);
            o[4] = d[5] << 2 | (d[9] & 3);
            o[5] = d[6] << 2 | (d[9] >> 2 & 3);
            o[6] = d[7] << 2 | (d[9] >> 4 & 3);
            o[7] = d[8] << 2 | d[9] >> 6;
        }
        for (int col = 0; col < raw.width && col < 896; ++col) raw.Store(irow, col, s[col] * 16);
        for (int col = raw.width; col < 896; ++col) black += s[col];
        // Even rows first, then odd ones.
        if ((irow += 2) >= raw.height) irow = 1;
    }
    SetBlackFromMargin(raw, black, 896, 16);
}

void RawLoadCanonPsA5(TKVRawContext& raw) {
    int64_t black = 0;
    const int64_t rowBytes = int64_t(raw.rawWidth) * 10 / 8;
    for (int row = 0; row < raw.height; ++row) {
        raw.LoaderProgress(row, raw.height);
        const auto b = raw.in.Bytes(rowBytes);
        for (int64_t g = 0; g + 10 <= rowBytes; g += 10) {
            int s[8];
            UnpackA5(b.data() + g, s);
            for (int i = 0; i < 8; ++i) {
                const int col = int(g / 10 * 8) + i;
                if (col < raw.width) raw.Store(row, col, s[i] * 16);
                else black += s[i];
            }
        }
    }
    SetBlackFromMargin(raw, black, raw.rawWidth, 16);
}

void RawLoadNikonE2100(TKVRawContext& raw) {
    const int64_t rowBytes = int64_t(raw.width) * 3 / 2;
    for (int pass = 0; pass < 2; ++pass) {
        for (int row = pass; row < raw.height; row += 2) {
            raw.LoaderProgress(row, raw.height);
            const auto b = raw.in.Bytes(rowBytes);
            for (int64_t g = 0; g + 12 <= rowBytes; g += 12) {
                const uint8_t* d = b.data() + g;
                const int s[8] = {d[2] >> 4 | d[3] << 4, d[2] << 8 | d[1],  d[7] >> 4 | d[0] << 4, d[7] << 8 | d[6],
                                  d[4] >> 4 | d[5] << 4, d[4] << 8 | d[11], d[9] >> 4 | d[10] << 4, d[9] << 8 | d[8]};
                for (int i = 0; i < 8; ++i) {
                    const int col = int(g / 12 * 8) + i;
                    if (col < raw.width) raw.Store(row, col, (s[i] & 0xFFF) * 4);
                }
            }
        }
        if (pass == 0) raw.in.Skip(raw.width == 1616 ? 8792 : 424);
    }
}

void RawLoadCasioQv5700(TKVRawContext& raw) {
    for (int row = 0; row < raw.height; ++row) {
        raw.LoaderProgress(row, raw.height);
        const auto b = raw.in.Bytes(3232);
        for (int g = 0; g < 644; ++g) {
            const uint8_t* d = b.data() + 5 * g;
            const int s[4] = {d[0] << 2 | d[1] >> 6, d[1] << 4 | d[2] >> 4, d[2] << 6 | d[3] >> 2, d[3] << 8 | d[4]};
            for (int i = 0; i < 4; ++i)
                if (4 * g + i < raw.width) raw.Store(row, 4 * g + i, (s[i] & 0x3FF) * 16);
        }
    }
}

void RawLoadRolleiD530flex(TKVRawContext& raw) {
    const int64_t total = int64_t(raw.rawWidth) * raw.rawHeight;
    int64_t n = 0, m = total * 5 / 8;
    auto store = [&](int64_t index, int value) {
        const int row = int(index / raw.rawWidth) - raw.topMargin;
        const int col = int(index % raw.rawWidth) - raw.leftMargin;
        if (raw.Inside(row, col)) raw.Store(row, col, (value & 0x3FF) * 16);
    };
    while (raw.in.Remaining() >= 10 && n < total) {
        if (n % raw.rawWidth == 0) raw.LoaderProgress(int(n / raw.rawWidth), raw.rawHeight);
        const auto b = raw.in.Bytes(10);
        uint32_t bits = 0;
        for (int k = 0; k < 5; ++k) {
            store(n++, b[size_t(2 * k)] << 8 | b[size_t(2 * k + 1)]);
            bits = bits << 6 | b[size_t(2 * k)] >> 2;
        }
        for (int k = 5; k < 8; ++k) store(m++, int((bits >> (14 - 2 * k)) * 5));
    }
}

void RawLoadBitstream12(TKVRawContext& raw) {
    RawGetBits(raw, -1);
    const int64_t skip = raw.rawWidth - int64_t(raw.width) * 3 / 2;
    RequireWidthInRow(raw.rawWidth, int64_t(raw.width) * 3 / 2);
    for (int row = 0; row < raw.height; ++row) {
        raw.LoaderProgress(row, raw.height);
        for (int col = 0; col < raw.width; ++col) raw.Store(row, col, int(RawGetBits(raw, 12)) * 4);
        // Whole rows of bytes: the bits held ahead belong to the next row's start.
        for (int64_t i = 0; i < skip; ++i) RawGetBits(raw, 8);
    }
}

void RawLoadNikonE950(TKVRawContext& raw) {
    RawGetBits(raw, -1);
    for (int n = 0; n < raw.height; ++n) {
        raw.LoaderProgress(n, raw.height);
        const int row = int(int64_t(n) * 2 % raw.height);
        for (int col = 0; col < raw.width; ++col) raw.Store(row, col, int(RawGetBits(raw, 10)) * 16);
        for (int i = 0; i < 28; ++i) RawGetBits(raw, 8);
    }
}

void RawLoadNikonPlain(TKVRawContext& raw) {
    RawGetBits(raw, -1);
    const bool eModel = raw.model.rfind("E", 0) == 0;
    const int number = eModel ? std::atoi(raw.model.c_str() + 1) : 0;
    for (int n = 0; n < raw.height; ++n) {
        raw.LoaderProgress(n, raw.height);
        int row = n;
        if (eModel) {
            row = n / std::max(raw.height / 2, 1) + int(int64_t(n) * 2 % raw.height);
            if (row == 1 && number < 5000) {
                raw.in.Seek(raw.in.Size() / 2);
                RawGetBits(raw, -1);
            }
        }
        for (int col = 0; col < raw.rawWidth; ++col) {
            const int v = int(RawGetBits(raw, 12));
            const int icol = col - raw.leftMargin;
            if (row < raw.height && icol >= 0 && icol < raw.width) raw.Store(row, icol, v * 4);
            if (raw.compression == 34713 && col % 10 == 9) RawGetBits(raw, 8);
        }
    }
}

void RawLoadOlympusC5050(TKVRawContext& raw) {
    const int64_t plane = ((int64_t(raw.height) * raw.width * 3 / 4) + 2047) / 2048 * 2048;
    RawGetBits(raw, -1);
    for (int n = 0; n < raw.height; ++n) {
        raw.LoaderProgress(n, raw.height);
        const int row = int(int64_t(n) * 2 % raw.height) + n / std::max(raw.height / 2, 1);
        if (row == 0 || row == 1) {
            raw.in.Seek(raw.dataOffset + row * plane);
            RawGetBits(raw, -1);
        }
        for (int col = 0; col < raw.width; ++col) {
            const int v = int(RawGetBits(raw, 12)) * 4;
            if (row < raw.height) raw.Store(row, col, v);
        }
    }
}

void RawLoadEightBit(TKVRawContext& raw) {
    RequireWidthInRow(raw.rawWidth, raw.width);
    for (int row = 0; row < raw.height; ++row) {
        raw.LoaderProgress(row, raw.height);
        const auto b = raw.in.Bytes(raw.rawWidth);
        for (int col = 0; col < raw.width; ++col) raw.Store(row, col, b[size_t(col)] * 64);
    }
}

void RawLoadNucore(TKVRawContext& raw) {
    const bool interlaced = raw.model.rfind("B", 0) == 0 && raw.width == 2598;
    for (int n = 0; n < raw.height; ++n) {
        raw.LoaderProgress(n, raw.height);
        const auto b = raw.in.Bytes(int64_t(raw.width) * 2);
        const int row = interlaced ? raw.height - 1 - n / 2 - ((n & 1) ? raw.height / 2 : 0) : n;
        if (row < 0 || row >= raw.height) continue;
        for (int col = 0; col < raw.width; ++col) raw.Store(row, col, (b[size_t(2 * col)] | b[size_t(2 * col + 1)] << 8) * 4);
    }
}

void RawLoadIxpress(TKVRawContext& raw) {
    raw.in.Seek(49384);
    for (int n = 0; n < raw.height; ++n) {
        raw.LoaderProgress(n, raw.height);
        const auto b = raw.in.Bytes(8180);
        const int row = raw.height - 1 - n;
        for (int i = 0; i < raw.width && raw.width - 1 - i < 4090; ++i) {
            const size_t w = size_t(raw.width - 1 - i) * 2;
            raw.Store(row, i, b[w] | b[w + 1] << 8);
        }
    }
}

void RawLoadPhaseOne(TKVRawContext& raw) {
    raw.in.order = rawBigEndian;
    raw.in.Skip(8);
    const int64_t v = raw.in.Get32();
    raw.in.Skip(v + 296);
    const uint16_t ka = raw.in.Get16(), kb = raw.in.Get16();
    raw.in.Seek(raw.dataOffset + int64_t(raw.topMargin) * raw.rawWidth * 2 + 12);
    std::vector<uint16_t> words(size_t(raw.rawWidth) + 1);
    for (int row = 0; row < raw.height; ++row) {
        raw.LoaderProgress(row, raw.height);
        for (int col = 0; col < raw.rawWidth; ++col) words[size_t(col)] = raw.in.Get16();
        for (int col = 0; col + 1 < raw.rawWidth; col += 2) {
            const uint16_t a = words[size_t(col)] ^ ka, b = words[size_t(col + 1)] ^ kb;
            words[size_t(col)] = uint16_t((b & 0xAAAA) | (a & 0x5555));
            words[size_t(col + 1)] = uint16_t((a & 0xAAAA) | (b & 0x5555));
        }
        for (int col = 0; col < raw.width && col + raw.leftMargin < raw.rawWidth; ++col)
            raw.Store(row, col, words[size_t(col + raw.leftMargin)]);
    }
}

void RawLoadKodakEasy(TKVRawContext& raw) {
    const std::vector<uint16_t> curve = RawKodakCurve(raw);
    if (raw.width < raw.rawWidth) raw.blackLevel = 0;
    int64_t black = 0;
    for (int row = 0; row < raw.height; ++row) {
        raw.LoaderProgress(row, raw.height);
        const auto b = raw.in.Bytes(raw.rawWidth);
        for (int k = 0; k < raw.rawWidth; ++k) {
            const int col = k - raw.leftMargin;
            if (col >= 0 && col < raw.width) raw.Store(row, col, curve[b[size_t(k)]] * 4);
            else black += curve[b[size_t(k)]];
        }
    }
    SetBlackFromMargin(raw, black, raw.rawWidth, 4);
    if (raw.model.rfind("DC2", 0) == 0) raw.blackLevel = 0;
}

void RawLoadKodakDc120(TKVRawContext& raw) {
    static constexpr int mul[4] = {162, 192, 187, 92}, add[4] = {0, 636, 424, 212};
    for (int row = 0; row < raw.height; ++row) {
        raw.LoaderProgress(row, raw.height);
        const auto b = raw.in.Bytes(848);
        for (int col = 0; col < raw.width; ++col)
            raw.Store(row, col, b[size_t((row * mul[row & 3] + add[row & 3] + col) % 848)] * 64);
    }
}

namespace {

// The key stream that scrambles the F828's data: a lagged generator seeded from a 32-bit key.
class TF828Keys {
public:
    explicit TF828Keys(uint32_t key) {
        for (int p = 0; p < 4; ++p) pad_[size_t(p)] = key = key * 48828125 + 1;
        pad_[3] = pad_[3] << 1 | (pad_[0] ^ pad_[2]) >> 31;
        for (size_t p = 4; p < 127; ++p) pad_[p] = (pad_[p - 4] ^ pad_[p - 2]) << 1 | (pad_[p - 3] ^ pad_[p - 1]) >> 31;
    }
    // Unscrambles big-endian 32-bit words in place.
    void Apply(uint8_t* data, size_t words) {
        for (size_t w = 0; w < words; ++w, ++index_) {
            uint32_t& key = pad_[index_ & 127];
            key = pad_[(index_ + 1) & 127] ^ pad_[(index_ + 65) & 127];
            for (int b = 0; b < 4; ++b) data[4 * w + size_t(b)] ^= uint8_t(key >> (24 - 8 * b));
        }
    }

private:
    std::array<uint32_t, 128> pad_{};
    size_t index_ = 127;
};

}  // namespace

void RawLoadSonyF828(TKVRawContext& raw) {
    constexpr int used = 3343;
    RequireWidthInRow(raw.rawWidth, used);
    const int n = raw.in.BytesAt(200896, 1)[0];
    raw.in.order = rawBigEndian;
    raw.in.Seek(200896 + 4 * int64_t(n) - 1);
    const uint32_t key = raw.in.Get32();
    const auto stored = raw.in.BytesAt(164600, 40);
    uint8_t block[40];
    std::copy(stored.begin(), stored.end(), block);
    TF828Keys(key).Apply(block, 10);
    TF828Keys keys(uint32_t(block[22] | block[23] << 8 | block[24] << 16 | uint32_t(block[25]) << 24));

    raw.in.Seek(862144);
    std::vector<uint8_t> line(size_t(raw.rawWidth) * 2);
    int64_t black = 0;
    for (int row = 0; row < raw.height; ++row) {
        raw.LoaderProgress(row, raw.height);
        const auto bytes = raw.in.Bytes(int64_t(line.size()));
        std::copy(bytes.begin(), bytes.end(), line.begin());
        keys.Apply(line.data(), line.size() / 4);
        for (int col = 0; col < used; ++col) {
            const int value = line[size_t(2 * col)] << 8 | line[size_t(2 * col + 1)];
            const int icol = col - raw.leftMargin;
            if (icol >= 0 && icol < raw.width) raw.Store(row, icol, value);
            else black += value;
        }
    }
    if (used > raw.width) raw.blackLevel = int(black / (int64_t(raw.height) * (used - raw.width)));
}
