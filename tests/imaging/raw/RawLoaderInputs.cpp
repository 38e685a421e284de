// The input of each loader case, coded from the case's raster as the camera stores its samples.
#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <stdexcept>

#include "RawLoaderCases.h"
#include "RawTestSupport.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVProgress.h"
#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KVJpegFilter.h"
#include "platform/Classes.h"

namespace {

void PutSamples12(TBitWriter& bits, const TRaster& raster, int row, int count) {
    for (int col = 0; col < count; ++col) bits.Put(uint32_t(raster.At(row, col)), 12);
}

void Append(TBytes& to, const TBytes& bytes) { to.insert(to.end(), bytes.begin(), bytes.end()); }

// Rows of 16-bit words, each sample passed through `word`.
TBytes Words(const TRaster& raster, bool little, const std::function<int(int)>& word) {
    TBytes b;
    for (const int s : raster.samples) Put16(b, b.size(), uint16_t(word(s)), little);
    return b;
}

// Eight 10-bit samples in the PowerShot 600's ten bytes: the high eight bits of each, then the
// low two bits gathered into bytes 1 and 9.
void PackPs600(const int* s, uint8_t* d) {
    d[0] = uint8_t(s[0] >> 2), d[2] = uint8_t(s[1] >> 2), d[3] = uint8_t(s[2] >> 2), d[4] = uint8_t(s[3] >> 2);
    d[1] = uint8_t((s[0] & 3) << 6 | (s[1] & 3) << 4 | (s[2] & 3) << 2 | (s[3] & 3));
    d[5] = uint8_t(s[4] >> 2), d[6] = uint8_t(s[5] >> 2), d[7] = uint8_t(s[6] >> 2), d[8] = uint8_t(s[7] >> 2);
    d[9] = uint8_t((s[7] & 3) << 6 | (s[6] & 3) << 4 | (s[5] & 3) << 2 | (s[4] & 3));
}

TBytes CanonPs600(const TRaster& raster, const TLoaderCase&) {
    TBytes b;
    // Even rows first, then odd ones; 896 samples in 1120 bytes per row.
    for (int first = 0; first < 2; ++first)
        for (int row = first; row < raster.height; row += 2)
            for (int g = 0; g < 112; ++g) {
                uint8_t d[10];
                PackPs600(&raster.samples[size_t(row) * 896 + size_t(8 * g)], d);
                b.insert(b.end(), d, d + 10);
            }
    return b;
}

TBytes CanonPsA5(const TRaster& raster, const TLoaderCase&) {
    TBytes b;
    for (int row = 0; row < raster.height; ++row) Append(b, PackA5Row(&raster.samples[size_t(row) * size_t(raster.width)], raster.width));
    return b;
}

// Eight 12-bit samples in the E2100's twelve bytes.
void PackE2100(const int* s, uint8_t* d) {
    d[3] = uint8_t(s[0] >> 4), d[2] = uint8_t((s[0] & 15) << 4 | s[1] >> 8), d[1] = uint8_t(s[1]);
    d[0] = uint8_t(s[2] >> 4), d[7] = uint8_t((s[2] & 15) << 4 | s[3] >> 8), d[6] = uint8_t(s[3]);
    d[5] = uint8_t(s[4] >> 4), d[4] = uint8_t((s[4] & 15) << 4 | s[5] >> 8), d[11] = uint8_t(s[5]);
    d[10] = uint8_t(s[6] >> 4), d[9] = uint8_t((s[6] & 15) << 4 | s[7] >> 8), d[8] = uint8_t(s[7]);
}

TBytes NikonE2100(const TRaster& raster, const TLoaderCase&) {
    TBytes b;
    for (int first = 0; first < 2; ++first) {
        for (int row = first; row < raster.height; row += 2)
            for (int g = 0; g < raster.width; g += 8) {
                uint8_t d[12];
                PackE2100(&raster.samples[size_t(row) * size_t(raster.width) + size_t(g)], d);
                b.insert(b.end(), d, d + 12);
            }
        if (first == 0) b.resize(b.size() + 424);  // the gap between the two fields
    }
    return b;
}

TBytes CasioQv5700(const TRaster& raster, const TLoaderCase&) {
    TBytes b;
    for (int row = 0; row < raster.height; ++row) {
        TBitWriter bits(false);
        for (int col = 0; col < raster.width; ++col) bits.Put(uint32_t(raster.At(row, col)), 10);
        TBytes line = bits.Finish();
        line.resize(3232);
        Append(b, line);
    }
    return b;
}

// Groups of ten bytes: five 10-bit samples in their low bits, the high six bits of each first
// byte gathered for three more samples further on, which the five of later groups overwrite.
TBytes RolleiD530flex(const TRaster& raster, const TLoaderCase&) {
    TBytes b;
    for (size_t n = 0; n < raster.samples.size(); n += 5)
        for (size_t k = 0; k < 5; ++k) {
            const int v = n + k < raster.samples.size() ? raster.samples[n + k] : 0;
            b.push_back(uint8_t(int((n + k) * 7 % 64) << 2 | v >> 8));
            b.push_back(uint8_t(v));
        }
    return b;
}

TBytes Bitstream12(const TRaster& raster, const TLoaderCase& c) {
    TBytes b;
    for (int row = 0; row < raster.height; ++row) {
        TBitWriter bits(false);
        PutSamples12(bits, raster, row, c.width);
        TBytes line = bits.Finish();
        line.resize(size_t(c.rawWidth));  // the row's size in bytes
        Append(b, line);
    }
    return b;
}

// Rows n = 0, 1 ... hold picture rows 2n mod height, each followed by 28 bytes.
TBytes NikonE950(const TRaster& raster, const TLoaderCase&) {
    TBitWriter bits(false);
    for (int n = 0; n < raster.height; ++n) {
        const int row = 2 * n % raster.height;
        for (int col = 0; col < raster.width; ++col) bits.Put(uint32_t(raster.At(row, col)), 10);
        for (int i = 0; i < 28; ++i) bits.Put(0, 8);
    }
    return bits.Finish();
}

// The even rows, then the odd ones; a byte after every tenth sample.
TBytes NikonPlain(const TRaster& raster, const TLoaderCase&) {
    TBitWriter bits(false);
    const int h = raster.height;
    for (int n = 0; n < h; ++n) {
        const int row = n / (h / 2) + 2 * n % h;
        for (int col = 0; col < raster.width; ++col) {
            bits.Put(uint32_t(raster.At(row, col)), 12);
            if (col % 10 == 9) bits.Put(0, 8);
        }
    }
    return bits.Finish();
}

// The differences of a raster, each row's first two against the vertical predictors of its field.
TBytes NikonCompressed(const TRaster& raster, const TLoaderCase&) {
    std::vector<int> differences;
    int vpred[4] = {2048, 2048, 2048, 2048};
    for (int row = 0; row < raster.height; ++row) {
        int hpred[2] = {0, 0};
        for (int col = 0; col < raster.width; ++col) {
            const int v = raster.At(row, col);
            int& pred = col < 2 ? vpred[(row & 1) * 2 + col] : hpred[col & 1];
            differences.push_back(v - pred);
            pred = hpred[col & 1] = v;
        }
    }
    std::vector<uint16_t> curve(4096);
    for (size_t i = 0; i < curve.size(); ++i) curve[i] = uint16_t(i);
    return WriteNikonCompressed({2048, 2048, 2048, 2048}, curve, differences);
}

// From the data position: the even rows at the start of the first plane of 2048 bytes, the odd
// rows at the start of the second.
TBytes OlympusC5050(const TRaster& raster, const TLoaderCase& c) {
    TBytes b(size_t(c.dataOffset), 0);
    const int64_t plane = (int64_t(raster.height) * raster.width * 3 / 4 + 2047) / 2048 * 2048;
    for (int first = 0; first < 2; ++first) {
        TBitWriter bits(false);
        for (int row = first; row < raster.height; row += 2) PutSamples12(bits, raster, row, raster.width);
        b.resize(size_t(c.dataOffset + first * plane));
        Append(b, bits.Finish());
    }
    return b;
}

TBytes EightBit(const TRaster& raster, const TLoaderCase&) { return TBytes(raster.samples.begin(), raster.samples.end()); }

TBytes Nucore(const TRaster& raster, const TLoaderCase&) {
    return Words(raster, true, [](int s) { return s; });
}

// Rows bottom-up from 49384, each of 8180 bytes of words right to left.
TBytes Ixpress(const TRaster& raster, const TLoaderCase&) {
    TBytes b(49384, 0);
    for (int n = 0; n < raster.height; ++n) {
        TBytes line(8180, 0);
        const int row = raster.height - 1 - n;
        for (int i = 0; i < raster.width; ++i) Put16(line, size_t(2 * (raster.width - 1 - i)), uint16_t(raster.At(row, i)), true);
        Append(b, line);
    }
    return b;
}

// The rows of word pairs, each pair's bits exchanged under the masks and XORed with two keys.
constexpr uint16_t phaseOneKeys[2] = {0x1234, 0xA5F0};

void PutPhaseOneRows(TBytes& b, const TRaster& raster) {
    for (int row = 0; row < raster.height; ++row)
        for (int col = 0; col + 1 < raster.width; col += 2) {
            const int w0 = raster.At(row, col), w1 = raster.At(row, col + 1);
            const int a = (w1 & 0xAAAA) | (w0 & 0x5555), bb = (w0 & 0xAAAA) | (w1 & 0x5555);
            Put16(b, b.size(), uint16_t(a ^ phaseOneKeys[0]), false);
            Put16(b, b.size(), uint16_t(bb ^ phaseOneKeys[1]), false);
        }
}

// Twelve bytes (the offset v at 8), the rows, and the keys v + 296 bytes after the twelve.
TBytes PhaseOne(const TRaster& raster, const TLoaderCase&) {
    TBytes b(12, 0);
    PutPhaseOneRows(b, raster);
    Put32(b, 8, uint32_t(b.size() - 12 - 296), false);
    for (const uint16_t key : phaseOneKeys) Put16(b, b.size(), key, false);
    return b;
}

// An empty directory at 12, a curve of 256 entries 16 i at the curve position, then the rows.
TBytes KodakEasy(const TRaster& raster, const TLoaderCase& c) {
    TBytes b(size_t(c.curveOffset), 0);
    for (int i = 0; i < c.curveLength; ++i) Put16(b, b.size(), uint16_t(16 * i), true);
    b.resize(size_t(c.dataOffset));
    Append(b, TBytes(raster.samples.begin(), raster.samples.end()));
    return b;
}

TBytes KodakDc120(const TRaster& raster, const TLoaderCase&) {
    static constexpr int mul[4] = {162, 192, 187, 92}, add[4] = {0, 636, 424, 212};
    TBytes b;
    for (int row = 0; row < raster.height; ++row) {
        TBytes line(848, 0);
        for (int col = 0; col < raster.width; ++col) line[size_t((row * mul[row & 3] + add[row & 3] + col) % 848)] = uint8_t(raster.At(row, col));
        Append(b, line);
    }
    return b;
}

TBytes KodakDc120Jpeg(const TRaster& raster, const TLoaderCase&) { return WriteDc120Jpeg(raster.width, raster.height / 2); }

TBytes KodakDc40(const TRaster& raster, const TLoaderCase& c) {
    return EncodeKodakDc40(raster.samples, raster.height, raster.width, c.model[2] == '4');
}

TBytes KodakCfa(const TRaster& raster, const TLoaderCase&) { return EncodeKodak65000Cfa(raster, true); }

TBytes KodakColour(const TRaster& raster, const TLoaderCase&) {
    TKodakColour picture{raster.height, raster.width, raster.samples, {}, {}};
    for (int i = 0; i < raster.height * raster.width / 4; ++i) picture.cb.push_back(i % 40 - 20), picture.cr.push_back(15 - i % 30);
    return EncodeKodak65000Colour(picture);
}

TBytes SonyF828(const TRaster& raster, const TLoaderCase&) { return WriteSonyF828(raster, 0x12345678, 0x9abcdef0); }

// The sensors at 45 degrees: `rows` raster rows of `rowBytes` after `skip`, word k of raster
// row r holding the raster sample of the picture position `place` gives, when that lies inside.
TBytes FujiRows(const TRaster& raster, int skip, int rows, int rowBytes, int words, bool bigEndian,
                const std::function<std::pair<int, int>(int, int)>& place) {
    TBytes b(size_t(skip) + size_t(rows) * size_t(rowBytes), 0);
    for (int r = 0; r < rows; ++r)
        for (int k = 0; k < words; ++k) {
            const auto [row, col] = place(r, k);
            if (row < 0 || row >= raster.height || col < 0 || col >= raster.width) continue;
            const uint16_t v = uint16_t(raster.At(row, col));
            const size_t at = size_t(skip) + size_t(r) * size_t(rowBytes) + size_t(2 * k);
            b[at] = uint8_t(bigEndian ? v >> 8 : v), b[at + 1] = uint8_t(bigEndian ? v : v >> 8);
        }
    return b;
}

TBytes FujiS2pro(const TRaster& raster, const TLoaderCase&) {
    return FujiRows(raster, 141376, 2144, 5888, 2880, true, [](int r, int i) { return std::pair(r + (i + 1) / 2, 2143 + i / 2 - r); });
}
TBytes FujiS5000(const TRaster& raster, const TLoaderCase&) {
    return FujiRows(raster, 11824, 2152, 4 * 1472, 1424, false, [](int r, int k) { return std::pair(1423 + r / 2 - k, k + (r + 1) / 2); });
}
TBytes FujiS7000(const TRaster& raster, const TLoaderCase&) {
    return FujiRows(raster, 0, 3080, 4 * 2048, 2048, false, [](int r, int k) { return std::pair(2047 + r / 2 - k, k + (r + 1) / 2); });
}
TBytes FujiF700(const TRaster& raster, const TLoaderCase&) {
    return FujiRows(raster, 0, 2168, 5888, 1440, false, [](int r, int j) { return std::pair(r / 2 - j + 1439, j + (r + 1) / 2); });
}

// Three layers per pixel: the raster's sample and two that follow it.
TBytes Foveon(const TRaster& raster, const TLoaderCase& c) {
    std::vector<std::array<int, 3>> pixels;
    for (const int s : raster.samples) pixels.push_back({s, s / 2 + 1, c.largest - s / 2});
    return WriteFoveon(c.model, raster.height, raster.width, pixels);
}

using TWriter = TBytes (*)(const TRaster&, const TLoaderCase&);

const std::map<TRawLoader, TWriter>& Writers() {
    static const std::map<TRawLoader, TWriter> writers = {
        {RawLoadCanonCompressed, [](const TRaster& r, const TLoaderCase&) {
             TBytes b(540, 0);
             Append(b, EncodeCanonBlocks(r));
             Append(b, {0xFF, 0x00, 0x00});  // no low bits follow
             return b;
         }},
        {RawLoadJpegLossless, [](const TRaster& r, const TLoaderCase&) { return EncodeLosslessJpeg(r); }},
        {RawLoadNikonCompressed, NikonCompressed},
        {RawLoadCanonPs600, CanonPs600},
        {RawLoadCanonPsA5, CanonPsA5},
        {RawLoadNikonE2100, NikonE2100},
        {RawLoadCasioQv5700, CasioQv5700},
        {RawLoadRolleiD530flex, RolleiD530flex},
        {RawLoadBitstream12, Bitstream12},
        {RawLoadNikonE950, NikonE950},
        {RawLoadNikonPlain, NikonPlain},
        {RawLoadOlympusC5050, OlympusC5050},
        {RawLoadUnpackedBe, [](const TRaster& r, const TLoaderCase&) { return Words(r, false, [](int s) { return s; }); }},
        {RawLoadUnpackedBeShr2, [](const TRaster& r, const TLoaderCase&) { return Words(r, false, [](int s) { return s << 2; }); }},
        {RawLoadUnpackedBeShl2, [](const TRaster& r, const TLoaderCase&) { return Words(r, false, [](int s) { return s; }); }},
        {RawLoadUnpackedBeShl4, [](const TRaster& r, const TLoaderCase&) { return Words(r, false, [](int s) { return s; }); }},
        {RawLoadUnpackedLeShr2, [](const TRaster& r, const TLoaderCase&) { return Words(r, true, [](int s) { return s << 2; }); }},
        {RawLoadEightBit, EightBit},
        {RawLoadNucore, Nucore},
        {RawLoadIxpress, Ixpress},
        {RawLoadPhaseOne, PhaseOne},
        {RawLoadKodakEasy, KodakEasy},
        {RawLoadKodakDc120, KodakDc120},
        {RawLoadKodakDc120Jpeg, KodakDc120Jpeg},
        {RawLoadKodakDc40, KodakDc40},
        {RawLoadKodakCompressedCfa, KodakCfa},
        {RawLoadKodakCompressedColor, KodakColour},
        {RawLoadSonyF828, SonyF828},
        {RawLoadFujiS2pro, FujiS2pro},
        {RawLoadFujiS5000, FujiS5000},
        {RawLoadFujiS7000, FujiS7000},
        {RawLoadFujiF700, FujiF700},
        {RawLoadFoveon, Foveon},
    };
    return writers;
}

const TLoaderCase& CaseOf(TRawLoader loader) {
    for (const TLoaderCase& c : loaderCases)
        if (c.loader == loader) return c;
    throw std::invalid_argument("no such loader");
}

TBytes CaseInput(TRawLoader loader) { return WriteLoaderInput(CaseOf(loader)); }

// A Nikon camera's big-endian TIFF: the sub-directory gives the raster, its data and, for the
// compressed data, the curve's position.
TBytes NikonFile(TRawLoader loader) {
    const TLoaderCase& c = CaseOf(loader);
    const bool compressed = loader == RawLoadNikonCompressed;
    TBytes b = TiffHead(false);
    PutIfd(b, 8, {{271, 2, 18, 100}, {272, 2, 9, 140}, {330, 4, 1, 200}}, false);
    PutText(b, 100, "NIKON CORPORATION");
    PutText(b, 140, "NIKON D1");
    constexpr uint32_t at = 512;
    std::vector<TTiffEntry> entries = {{256, 4, 1, uint32_t(c.rawWidth)}, {257, 4, 1, uint32_t(c.rawHeight)},
                                       {259, 4, 1, compressed ? 34713u : 1u}, {262, 3, 1, 32803},
                                       {273, 4, 1, uint32_t(at + (compressed ? c.dataOffset : 0))}};
    if (compressed) entries.push_back({291, 4, 1, at});
    PutIfd(b, 200, entries, false);
    b.resize(at);
    // The plain data of a model not named E: rows in order, no byte after each tenth sample.
    if (compressed) {
        Append(b, CaseInput(loader));
    } else {
        const TRaster raster = LoaderRaster(c);
        TBitWriter bits(false);
        for (int row = 0; row < raster.height; ++row) PutSamples12(bits, raster, row, raster.width);
        Append(b, bits.Finish());
    }
    return b;
}

TBytes NucoreFile() {
    const TLoaderCase& c = CaseOf(RawLoadNucore);
    TBytes b = {'B', 'R'};
    Put32(b, 10, 64, true);
    Put32(b, 18, uint32_t(c.rawWidth), true);
    Put32(b, 22, uint32_t(c.rawHeight), true);
    b.resize(64);
    Append(b, CaseInput(RawLoadNucore));
    return b;
}

// The head, the rows, then the raster's width and height and the keys at the places the header
// walk and the loader count from the offset v.
TBytes PhaseOneFile() {
    const TLoaderCase& c = CaseOf(RawLoadPhaseOne);
    TBytes b = {'M', 'M', 'M', 'M', 'R', 'a', 'w', 'T', 0, 0, 0, 0};
    PutPhaseOneRows(b, LoaderRaster(c));
    const uint32_t v = uint32_t(b.size());
    Put32(b, 8, v, false);
    Put32(b, 148 + v, uint32_t(c.rawWidth), false);
    Put32(b, 164 + v, uint32_t(c.rawHeight), false);
    Put16(b, 308 + v, phaseOneKeys[0], false);
    Put16(b, 310 + v, phaseOneKeys[1], false);
    return b;
}

TBytes Head(const TBytes& bytes, size_t size) { return TBytes(bytes.begin(), bytes.begin() + long(std::min(size, bytes.size()))); }

}  // namespace

// The blocks of a Minolta file: the picture's size, the TIFF structure naming the camera, the
// white balance, then the data.
TBytes WriteMinoltaFile(const std::string& model, int height, int width, const TBytes& data) {
    TBytes tiff = TiffHead(false);
    PutIfd(tiff, 8, {{271, 2, 8, 60}, {272, 2, uint32_t(model.size() + 1), 80}}, false);
    PutText(tiff, 60, "MINOLTA");
    PutText(tiff, 80, model);
    TBytes b = {0, 'M', 'R', 'M', 0, 0, 0, 0, 0, 'P', 'R', 'D'};
    Put32(b, 12, 24, false);
    Put16(b, 24, uint16_t(height), false);
    Put16(b, 26, uint16_t(width), false);
    b.resize(40);
    Append(b, {0, 'T', 'T', 'W'});
    Put32(b, 44, uint32_t(tiff.size()), false);
    Append(b, tiff);
    Append(b, {0, 'W', 'B', 'G', 0, 0, 0, 12, 0, 0, 0, 0});
    for (const uint16_t ratio : {300, 256, 256, 400}) Put16(b, b.size(), ratio, false);
    Put32(b, 4, uint32_t(b.size() - 8), false);
    Append(b, data);
    return b;
}

TBytes WritePhaseOneHeader(int rawHeight, int rawWidth) {
    TBytes b = {'M', 'M', 'M', 'M', 'R', 'a', 'w', 'T'};
    Put32(b, 8, 0, false);
    Put32(b, 148, uint32_t(rawWidth), false);
    Put32(b, 164, uint32_t(rawHeight), false);
    Put16(b, 308, phaseOneKeys[0], false);
    Put16(b, 310, phaseOneKeys[1], false);
    return b;
}

std::vector<TCameraFile> CameraFiles() {
    const TRaster mosaic = MosaicRaster(0x94949494, 8, 16, 1000);
    TBytes ps600;
    for (int row = 0; row < 4; ++row) Append(ps600, Head(CaseInput(RawLoadCanonPs600), 1120));
    const TLoaderCase& c5050 = CaseOf(RawLoadOlympusC5050);
    TBytes c5050Data = CaseInput(RawLoadOlympusC5050);
    c5050Data.erase(c5050Data.begin(), c5050Data.begin() + c5050.dataOffset);
    const TLoaderCase& e10 = CaseOf(RawLoadUnpackedBeShr2);
    const TLoaderCase& minolta = CaseOf(RawLoadUnpackedBeShl2);
    const TLoaderCase& kodak = CaseOf(RawLoadKodakEasy);
    return {
        {"canon-ciff.crw", RawLoadCanonCompressed, WriteCanonCiffCompressed("Canon EOS Test", mosaic)},
        {"canon-ciff-previews.crw", RawLoadCanonCompressed,
         WriteCanonCiffCompressed("Canon EOS Test", mosaic, true, 0,
                                  {{0x080b, {'F', 'w', 0}},
                                   {0x102a, {1, 0, 2, 0}},
                                   {0x300a, CiffHeap({}, {{0x2007, WriteJpeg(16, 8)}, {0x2008, WriteJpeg(8, 8)}}, false)}})},
        {"canon-sof3.tif", RawLoadJpegLossless, WriteCanonLosslessJpeg(MosaicRaster(0x61616161, 6, 8, 4000))},
        {"nikon-compressed.nef", RawLoadNikonCompressed, NikonFile(RawLoadNikonCompressed)},
        {"nikon-plain.nef", RawLoadNikonPlain, NikonFile(RawLoadNikonPlain)},
        // The cameras of a fixed size, with their data cut short.
        {"canon-ps600.crw", RawLoadCanonPs600, WriteCanonCiff("Canon PowerShot 600", ps600)},
        {"canon-a5.crw", RawLoadCanonPsA5, WriteCanonA5(MosaicRaster(0x1e4e1e4e, 4, 992, 1000))},
        {"rollei.mdc", RawLoadRolleiD530flex, WriteRolleiHeader(16, 8)},
        {"olympus-c5050.orf", RawLoadOlympusC5050, WriteOlympusTiff("C5050Z", c5050.rawHeight, c5050.rawWidth, c5050Data)},
        {"leaf-be16.tif", RawLoadUnpackedBe, WriteLeafTiff(MosaicRaster(0x94949494, 6, 8, 60000))},
        {"olympus-e10.orf", RawLoadUnpackedBeShr2, WriteOlympusTiff("E-10", e10.rawHeight, e10.rawWidth, CaseInput(RawLoadUnpackedBeShr2))},
        {"minolta-dimage7.mrw", RawLoadUnpackedBeShl2, WriteMinoltaFile("DiMAGE 7", minolta.rawHeight, minolta.rawWidth, CaseInput(RawLoadUnpackedBeShl2))},
        {"olympus-le16.orf", RawLoadUnpackedLeShr2, WriteOlympusTiff(MosaicRaster(0x61616161, 6, 8, 16000))},
        {"nucore.raw", RawLoadNucore, NucoreFile()},
        {"phase-one.tif", RawLoadPhaseOne, PhaseOneFile()},
        {"kodak-easy.dcr", RawLoadKodakEasy, WriteKodakTiff({kodak.model, kodak.rawHeight, kodak.rawWidth, 1, 32803, 0, TBytes(size_t(kodak.rawHeight * kodak.rawWidth), 0x40)})},
        {"kodak-dc120.dcr", RawLoadKodakDc120, WriteKodakTiff({"DC120", 976, 848, 1, 32803, 0, CaseInput(RawLoadKodakDc120)})},
        {"kodak-dc120-jpeg.dcr", RawLoadKodakDc120Jpeg, WriteKodakTiff({"DC120", 976, 848, 7, 2, 0, Head(WriteDc120Jpeg(848, 488), 4096)})},
        {"kodak-dc40.dcr", RawLoadKodakDc40, WriteKodakTiff({"Digital Camera 40", 512, 768, 0, 2, 1152, CaseInput(RawLoadKodakDc40)})},
        {"kodak-65000-cfa.dcr", RawLoadKodakCompressedCfa,
         WriteKodakTiff({"DCS760C", 8, 64, 65000, 32803, 0, EncodeKodak65000Cfa(MosaicRaster(0x61616161, 8, 64, 4000), true)})},
        {"kodak-65000-colour.dcr", RawLoadKodakCompressedColor, WriteKodakTiff({"DCS760C", 12, 32, 65000, 2, 0, CaseInput(RawLoadKodakCompressedColor)})},
        {"foveon.x3f", RawLoadFoveon, WriteFoveon("SD9", 6, 8, std::vector<std::array<int, 3>>(48, {100, 200, 300}))},
        // Known by their heads, but larger than the fuzz targets decode.
        {"fuji-s5000.raf", RawLoadFujiS5000, WriteFujiFile("FinePix S5000", 1024, Head(CaseInput(RawLoadFujiS5000), 4096))},
        {"sony-f828.srf", RawLoadSonyF828, Head(CaseInput(RawLoadSonyF828), 200000)},
    };
}

TBytes WriteNikonCompressed(const std::array<int, 4>& vpred, const std::vector<uint16_t>& curve,
                            const std::vector<int>& differences) {
    // The fixed Huffman table, whose symbols are difference lengths; 0x8D stands for 16 bits.
    static constexpr uint8_t table[] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 2, 0, 0, 0, 0, 0, 0, 5, 4, 3, 6, 2, 7, 1, 0, 8, 9, 11, 10, 12, 0x8D};
    TBytes b;
    for (const int v : vpred) Put16(b, b.size(), uint16_t(v), false);
    Put16(b, b.size(), uint16_t(curve.size()), false);
    for (const uint16_t v : curve) Put16(b, b.size(), v, false);
    const auto codes = CanonicalCodes(table);
    TBitWriter bits(false);
    for (const int diff : differences) {
        const int len = BitLength(diff);
        if (len <= 12) {
            PutDifference(bits, codes, diff);
        } else {
            if (len != 16) throw std::invalid_argument("13 to 15 bits have no code");
            bits.Put(codes[0x8D].code, codes[0x8D].length);
            bits.Put(uint32_t(diff < 0 ? diff + 65535 : diff), 16);
        }
    }
    Append(b, bits.Finish());
    return b;
}

TBytes WriteJpeg(int width, int height) {
    TKVBitmap picture;
    picture.Allocate(width, height, kv24RGB);
    for (int row = 0; row < height; ++row)
        for (int col = 0; col < width; ++col)
            for (int c = 0; c < 3; ++c) picture.GetScanline(row)[3 * col + c] = uint8_t(40 * c + 3 * row + 5 * col);
    TMemoryStream stream;
    TIOParamsVals params(nullptr);
    TKVProgressRec progress;
    WriteJPEGStream(stream, picture, params, progress);
    return TBytes(stream.Bytes());
}

TBytes WriteDc120Jpeg(int width, int height) {
    TBytes bytes = WriteJpeg(width, height);
    if (bytes.size() % 2) bytes.push_back(0);
    for (size_t i = 0; i < bytes.size(); i += 2) std::swap(bytes[i], bytes[i + 1]);
    return bytes;
}

TRaster LoaderRaster(const TLoaderCase& c) { return {c.rawHeight, c.rawWidth, KnownMosaic(c.pattern, c.rawHeight, c.rawWidth, c.largest)}; }

TBytes WriteLoaderInput(const TLoaderCase& c) { return Writers().at(c.loader)(LoaderRaster(c), c); }
