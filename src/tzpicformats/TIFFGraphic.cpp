#include "TIFFGraphic.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <set>
#include <vector>

#include "CCITTDecoders.h"
#include "LZ77Decoder.h"
#include "LZWDecoders.h"
#include "RunLengthDecoders.h"
#include "TIFFJPEGDecoder.h"
#include "ThunderDecoder.h"
#include "platform/ByteReader.h"
#include "platform/PictureLimits.h"

namespace {

// One image file directory. Its entries are kept sorted by tag; an entry's values are read from
// where it says they lie only when they are asked for, so a damaged entry nobody needs is harmless.
class TDirectory {
public:
    TDirectory(const TByteReader& file, bool big, uint32_t offset) : file_(file), big_(big) {
        const uint16_t count = U16(offset);
        file_.BytesAt(offset, 2 + 12 * int64_t(count));
        for (uint32_t i = 0; i < count; ++i) {
            const int64_t entry = offset + 2 + 12 * int64_t(i);
            TEntry e{U16(entry), U16(entry + 2), U32(entry + 4), entry + 8};
            const int64_t bytes = int64_t(e.count) * SizeOf(e.type);
            if (bytes > 4) e.at = U32(entry + 8);
            entries_.push_back(e);
        }
        std::stable_sort(entries_.begin(), entries_.end(), [](const TEntry& a, const TEntry& b) { return a.tag < b.tag; });
        next_ = offset + 2 + 12 * int64_t(count);
    }

    // Where the offset of the next directory lies.
    int64_t NextLink() const { return next_; }
    bool Has(uint16_t tag) const { return Find(tag) && Find(tag)->count > 0; }

    // The first value of an integer entry; the fallback when the tag is absent or not an integer.
    uint32_t Number(uint16_t tag, uint32_t fallback) const {
        const TEntry* e = Find(tag);
        return e && e->count > 0 && IsInteger(e->type) ? IntegerAt(*e, 0) : fallback;
    }

    // One integer or rational value as a float; the fallback otherwise, also for several values.
    float Float(uint16_t tag, float fallback) const {
        const TEntry* e = Find(tag);
        if (!e || e->count != 1) return fallback;
        return IsInteger(e->type) || IsRational(e->type) ? FloatAt(*e, 0, fallback) : fallback;
    }

    // Every value of an integer entry; empty when the tag is absent or holds no integers.
    std::vector<uint32_t> Numbers(uint16_t tag) const {
        const TEntry* e = Find(tag);
        if (!e || !IsInteger(e->type)) return {};
        Check(*e);
        std::vector<uint32_t> values(e->count);
        for (uint32_t i = 0; i < e->count; ++i) values[i] = IntegerAt(*e, i);
        return values;
    }

    std::vector<float> Floats(uint16_t tag) const {
        const TEntry* e = Find(tag);
        if (!e || !(IsInteger(e->type) || IsRational(e->type))) return {};
        Check(*e);
        std::vector<float> values(e->count);
        for (uint32_t i = 0; i < e->count; ++i) values[i] = FloatAt(*e, i, 0);
        return values;
    }

    // The bytes of an entry's values as the file stores them.
    std::span<const uint8_t> Bytes(uint16_t tag) const {
        const TEntry* e = Find(tag);
        return e ? file_.BytesAt(e->at, int64_t(e->count) * SizeOf(e->type)) : std::span<const uint8_t>{};
    }

private:
    struct TEntry {
        uint16_t tag, type;
        uint32_t count;
        int64_t at;  // the values: inside the entry when they fit in four bytes, else at its offset
    };

    static int SizeOf(uint16_t type) {
        switch (type) {
        case 3: case 8: return 2;
        case 4: case 9: case 11: return 4;
        case 5: case 10: case 12: return 8;
        default: return 1;
        }
    }
    static bool IsInteger(uint16_t type) { return type == 1 || type == 3 || type == 4 || type == 6 || type == 8 || type == 9; }
    static bool IsRational(uint16_t type) { return type == 5 || type == 10; }

    const TEntry* Find(uint16_t tag) const {
        const auto found = std::lower_bound(entries_.begin(), entries_.end(), tag, [](const TEntry& e, uint16_t t) { return e.tag < t; });
        return found != entries_.end() && found->tag == tag ? &*found : nullptr;
    }
    // Counts are bounded by the file: all values must lie inside it before any is kept.
    void Check(const TEntry& e) const { file_.BytesAt(e.at, int64_t(e.count) * SizeOf(e.type)); }

    uint32_t IntegerAt(const TEntry& e, uint32_t i) const {
        const int64_t at = e.at + int64_t(i) * SizeOf(e.type);
        switch (e.type) {
        case 1: return file_.U8At(at);
        case 6: return uint32_t(int32_t(int8_t(file_.U8At(at))));
        case 3: return U16(at);
        case 8: return uint32_t(int32_t(int16_t(U16(at))));
        default: return U32(at);
        }
    }
    float FloatAt(const TEntry& e, uint32_t i, float fallback) const {
        if (!IsRational(e.type)) {
            const uint32_t v = IntegerAt(e, i);
            return e.type == 6 || e.type == 8 || e.type == 9 ? float(int32_t(v)) : float(v);
        }
        const int64_t at = e.at + 8 * int64_t(i);
        const uint32_t numerator = U32(at), denominator = U32(at + 4);
        if (denominator == 0) return fallback;
        return e.type == 10 ? float(double(int32_t(numerator)) / double(int32_t(denominator)))
                            : float(double(numerator) / double(denominator));
    }

    uint16_t U16(int64_t at) const { return big_ ? file_.U16BEAt(at) : file_.U16LEAt(at); }
    uint32_t U32(int64_t at) const { return big_ ? file_.U32BEAt(at) : file_.U32LEAt(at); }

    const TByteReader& file_;
    bool big_;
    std::vector<TEntry> entries_;
    int64_t next_ = 0;
};

enum : uint16_t {
    tgWidth = 256, tgHeight = 257, tgBitsPerSample = 258, tgCompression = 259, tgPhotometric = 262, tgFillOrder = 266,
    tgStripOffsets = 273, tgSamplesPerPixel = 277, tgRowsPerStrip = 278, tgStripByteCounts = 279, tgXResolution = 282,
    tgYResolution = 283, tgPlanar = 284, tgT4Options = 292, tgResolutionUnit = 296, tgPredictor = 317, tgColorMap = 320,
    tgTileWidth = 322, tgTileLength = 323, tgExtraSamples = 338, tgJPEGTables = 347, tgYCbCrCoefficients = 529,
    tgYCbCrSubSampling = 530,
};

[[noreturn]] void RaiseUnsupported(const char* what) {
    RaiseGraphicErrorFmt("Cannot load image. %s not supported for %s files.", {what, "TIF/TIFF"});
}

TCompressionType CompressionOf(uint32_t value) {
    switch (value) {
    case 1: return ctNone;
    case 2: return ctFaxRLE;
    case 3: return ctFax3;
    case 4: return ctFax4;
    case 5: return ctLZW;
    case 6: return ctOJPEG;
    case 7: return ctJPEG;
    case 8: case 32946: return ctLZ77;
    case 32766: return ctNext;
    case 32771: return ctFaxRLEW;
    case 32773: return ctPackedBits;
    case 32809: return ctThunderscan;
    case 32895: return ctIT8CTPAD;
    case 32896: return ctIT8LW;
    case 32897: return ctIT8MP;
    case 32898: return ctIT8BL;
    case 32908: return ctPixarFilm;
    case 32909: return ctPixarLog;
    case 32947: return ctDCS;
    case 34661: return ctJBIG;
    default: return ctUnknown;
    }
}

TColorManagerScheme SchemeOf(uint32_t photometric, int samples) {
    switch (photometric) {
    case 0: case 1: return smGray;
    case 2: return samples < 4 ? smRGB : smRGBA;
    case 3: return smIndexed;
    case 5: return smCMYK;
    case 6: return smYCbCr;
    case 8: return smLab;
    default: return smNone;
    }
}

int ColourSamplesOf(uint32_t photometric) {
    switch (photometric) {
    case 2: case 6: case 8: return 3;
    case 5: return 4;
    default: return 1;
    }
}

// Whether the colour manager can take rows of these samples for the scheme: gray and palette
// pages may carry alpha, RGB pages may carry a fourth sample; samples of colours have 8 or 16
// bits, gray levels and palette indices also 1, 2 or 4.
bool SamplesFit(TColorManagerScheme scheme, int samples, int bits) {
    const bool wide = bits == 8 || bits == 16, packed = bits == 1 || bits == 2 || bits == 4;
    switch (scheme) {
    case smGray: case smIndexed: return (samples == 1 && (wide || packed)) || (samples == 2 && wide);
    case smRGB: return samples == 3 && wide;
    case smRGBA: return samples == 4 && wide;
    case smCMYK: return samples == 4 && wide;
    case smYCbCr: case smLab: return samples == 3 && wide;
    default: return false;
    }
}

// Undoes horizontal differencing where its unit is a whole byte.
void (*PredictorFor(int samples))(uint8_t*, int64_t) {
    return samples == 3 ? ApplyPredictor24 : samples == 4 ? ApplyPredictor32 : ApplyPredictor8;
}

// Sixteen-bit samples of a row narrowed in place to their high bytes.
void NarrowToHighBytes(uint8_t* row, int64_t samples, bool big) {
    for (int64_t i = 0; i < samples; ++i) row[i] = row[2 * i + (big ? 0 : 1)];
}

// Subsampled YCbCr data come in blocks of h x v luma samples followed by one Cb and one Cr; a
// band of v rows unpacks into rows of Y, Cb, Cr for every pixel.
class TYCbCrBlocks {
public:
    TYCbCrBlocks(int width, int h, int v) : width_(width), h_(h), v_(v), rows_(size_t(3) * size_t(width) * size_t(v)) {}
    int64_t BandBytes() const { return (int64_t(width_) + h_ - 1) / h_ * (int64_t(h_) * v_ + 2); }
    void Unpack(const uint8_t* band) {
        for (int64_t block = 0; block * h_ < width_; ++block) {
            const uint8_t* b = band + block * (int64_t(h_) * v_ + 2);
            const uint8_t cb = b[h_ * v_], cr = b[h_ * v_ + 1];
            for (int y = 0; y < v_; ++y)
                for (int x = 0; x < h_ && block * h_ + x < width_; ++x) {
                    uint8_t* pixel = Row(y) + 3 * (block * h_ + x);
                    pixel[0] = b[y * h_ + x];
                    pixel[1] = cb;
                    pixel[2] = cr;
                }
        }
    }
    uint8_t* Row(int y) { return rows_.data() + int64_t(y) * 3 * width_; }

private:
    int width_, h_, v_;
    std::vector<uint8_t> rows_;
};

}  // namespace

bool TTIFFGraphic::IsFormatStream(TStream& stream) {
    std::array<uint8_t, 8> h{};
    if (!PeekHeader(stream, 8, h)) return false;
    const bool little = h[0] == 'I' && h[1] == 'I';
    if (!little && !(h[0] == 'M' && h[1] == 'M')) return false;
    TByteReader reader(h.data(), int64_t(h.size()));
    const uint32_t version = little ? reader.U16LEAt(2) : reader.U16BEAt(2);
    const uint32_t firstDirectory = little ? reader.U32LEAt(4) : reader.U32BEAt(4);
    return version == 42 && firstDirectory < uint64_t(stream.Size() - stream.Position());
}

bool TTIFFGraphic::ReadHeaderProperties(TStream& stream, int imageIndex) {
    TPicFormatGraphic::ReadHeaderProperties(stream, imageIndex);
    const int64_t start = stream.Position();
    const std::vector<uint8_t> bytes = ReadRest(stream);
    stream.SetPosition(start);
    const TByteReader file(bytes);
    TImageProperties& p = properties_;
    try {
        const bool big = file.U8At(0) == 'M' && file.U8At(1) == 'M';
        const auto u16 = [&](int64_t at) { return big ? file.U16BEAt(at) : file.U16LEAt(at); };
        const auto u32 = [&](int64_t at) { return big ? file.U32BEAt(at) : file.U32LEAt(at); };
        p.Options = big ? ioBigEndian : 0;
        p.Version = u16(2);
        p.FirstIFD = u32(4);
        if (p.Version != 42) return false;
        // The chain is walked to the wanted directory; a chain that loops ends the walk.
        uint32_t offset = p.FirstIFD;
        std::set<uint32_t> seen;
        for (int index = imageIndex; index > 0; --index) {
            if (offset == 0 || !seen.insert(offset).second) return false;
            offset = u32(offset + 2 + 12 * int64_t(u16(offset)));
        }
        if (offset == 0) return false;
        const TDirectory ifd(file, big, offset);

        p.Width = ifd.Number(tgWidth, 0);
        p.Height = ifd.Number(tgHeight, 0);
        if (p.Width == 0 || p.Height == 0) return false;
        p.RowsPerStrip = ifd.Numbers(tgRowsPerStrip);
        if (p.RowsPerStrip.empty() || p.RowsPerStrip[0] == 0xFFFFFFFF) p.RowsPerStrip = {p.Height};
        p.SamplesPerPixel = uint8_t(std::min<uint32_t>(ifd.Number(tgSamplesPerPixel, 1), 255));
        p.BitsPerSample = uint8_t(std::min<uint32_t>(ifd.Number(tgBitsPerSample, 1), 255));
        p.TileWidth = ifd.Number(tgTileWidth, 0);
        p.TileLength = ifd.Number(tgTileLength, 0);
        if (p.TileWidth != 0 && p.TileLength != 0) p.Options |= ioTiled;
        const uint32_t photometric = ifd.Number(tgPhotometric, 0);
        // Extra samples count as alpha only when the pixels hold more samples than their colours.
        const std::vector<uint32_t> extra = ifd.Numbers(tgExtraSamples);
        p.HasAlpha = !extra.empty() && std::all_of(extra.begin(), extra.end(), [](uint32_t kind) { return kind <= 2; }) &&
                     p.SamplesPerPixel > ColourSamplesOf(photometric);
        p.BitsPerPixel = uint8_t(p.BitsPerSample * p.SamplesPerPixel);
        // A directory without a compression tag holds its samples as they are.
        p.Compression = CompressionOf(ifd.Number(tgCompression, 1));
        p.ColorScheme = SchemeOf(photometric, p.SamplesPerPixel);
        if (photometric == 0) p.Options |= ioMinIsWhite;
        if (p.ColorScheme == smYCbCr) {
            const std::vector<uint32_t> subsampling = ifd.Numbers(tgYCbCrSubSampling);
            p.YCbCrSubSampling = subsampling.size() >= 2 ? std::vector<uint8_t>{uint8_t(std::min<uint32_t>(subsampling[0], 255)),
                                                                                 uint8_t(std::min<uint32_t>(subsampling[1], 255))}
                                                         : std::vector<uint8_t>{2, 2};
            yCbCrCoefficients_ = ifd.Floats(tgYCbCrCoefficients);
            if (yCbCrCoefficients_.empty()) yCbCrCoefficients_ = {0.299f, 0.587f, 0.114f};
        }
        p.PlanarConfig = ifd.Number(tgPlanar, 0);
        const float perInch = ifd.Number(tgResolutionUnit, 2) == 3 ? 2.54f : 1.0f;
        p.XResolution = ifd.Float(tgXResolution, 0) * perInch;
        p.YResolution = ifd.Float(tgYResolution, 0) * perInch;
        p.Predictor = ifd.Number(tgPredictor, 0);
        if (ifd.Number(tgFillOrder, 1) == 2) p.Options |= ioReversed;
        p.StripCount = int32_t(std::min<size_t>(ifd.Numbers(tgStripOffsets).size(), INT32_MAX));
        p.BytesPerLine = int32_t(std::min<int64_t>((int64_t(p.BitsPerPixel) * p.Width + 7) / 8, INT32_MAX));
    } catch (const EShortData&) {
        return false;
    }
    return true;
}

void TTIFFGraphic::PrepareColours(TBitmap& image, std::span<const uint8_t> colorMap, int64_t inputBytes) {
    TImageProperties& p = properties_;
    const bool jpeg = p.Compression == ctJPEG;
    // ThunderScan codes make 4-bit gray levels only.
    const bool thunder = p.Compression == ctThunderscan;
    if (!SamplesFit(p.ColorScheme, p.SamplesPerPixel, p.BitsPerSample) || (thunder && p.BitsPerSample != 4))
        RaiseGraphicErrorFmt("Invalid color format in %s file.", {FormatName()});
    PrepareBitmap(image, inputBytes);
    TColorManager& colors = colorManager_;
    // Gray and palette pages with alpha are read past their alpha samples.
    if (p.SamplesPerPixel == 2) colors.SetSourceScheme(smGrayAlpha);
    // The JPEG decoder gives colour rows in blue-green-red order, whatever the page's colour space.
    if (jpeg && p.SamplesPerPixel == 3) colors.SetSourceScheme(smBGR);
    if (p.ColorScheme == smLab) {
        // Sixteen-bit L*a*b* rows are narrowed to bytes first, which keep a* and b* signed.
        if (p.BitsPerSample == 16) colors.SetSourceDepth(8);
        colors.SourceOptions |= cvoLabByteRange;
        colors.SourceOptions &= uint8_t(~cvoLabChromaOffset);
    }
    if (p.ColorScheme == smYCbCr && !jpeg)
        colors.SetYCbCrLayout(yCbCrCoefficients_, p.YCbCrSubSampling[0], p.YCbCrSubSampling[1]);
    if (p.ColorScheme == smIndexed) {
        // Three planes of 16-bit values: red, green, blue.
        const size_t plane = colorMap.size() / 6 * 2;
        const std::span<const uint8_t> planes[] = {colorMap.subspan(0, plane), colorMap.subspan(plane, plane),
                                                   colorMap.subspan(2 * plane, plane)};
        image.SetPalette(colors.BuildFilePalette(planes, false, int(plane / 2), 6));
    }
}

void TTIFFGraphic::LoadFromStream(TStream& stream) {
    const TLoadProgress progress(*this);
    const std::vector<uint8_t> bytes = ReadHeaderAndRest(stream);
    const TByteReader file(bytes);
    TImageProperties& p = properties_;
    const bool big = p.Options & ioBigEndian;
    // Tiles and separate planes are refused rather than shown as an empty or garbled picture.
    if (p.Options & ioTiled) RaiseUnsupported("Tiled images are");
    if (p.PlanarConfig == 2 && p.SamplesPerPixel > 1) RaiseUnsupported("Planar images are");
    const TDirectory ifd(file, big, p.FirstIFD);
    const int width = int(std::min<uint32_t>(p.Width, 1u << 30)), height = int(std::min<uint32_t>(p.Height, 1u << 30));
    const int bits = p.BitsPerSample, samples = p.SamplesPerPixel;
    const bool jpeg = p.Compression == ctJPEG;
    const bool subsampled = p.ColorScheme == smYCbCr && !jpeg && (p.YCbCrSubSampling[0] != 1 || p.YCbCrSubSampling[1] != 1);
    if (subsampled && bits != 8) RaiseGraphicErrorFmt("Invalid color format in %s file.", {FormatName()});
    const bool predicted = p.Compression != ctNone && p.Predictor == 2;
    if (predicted && (bits != 8 || samples == 2 || subsampled)) RaiseUnsupported("The predictor is");

    TBitmap image;
    PrepareColours(image, ifd.Bytes(tgColorMap), int64_t(bytes.size()));
    // A strip buffer holds the file's samples, which may take more room than the bitmap's.
    CheckPictureSize(width, height, p.BitsPerPixel, int64_t(bytes.size()));
    progressRect_.Right = width;

    if (jpeg) {
        const std::span<const uint8_t> tables = ifd.Bytes(tgJPEGTables);
        p.JPEGTables.assign(tables.begin(), tables.end());
    }
    std::unique_ptr<TDecoder> decoder;
    const uint32_t t4 = ifd.Number(tgT4Options, 0);
    const bool reversed = p.Options & ioReversed;
    switch (p.Compression) {
    case ctNone: break;
    case ctPackedBits: decoder = std::make_unique<TPackbitsRLEDecoder>(); break;
    case ctLZW: decoder = std::make_unique<TTIFFLZWDecoder>(); break;
    case ctFax3:
        if (t4 & 1) RaiseUnsupported("The compression scheme is");  // two-dimensional coding
        decoder = std::make_unique<TCCITTFax3Decoder>(t4, width, false, reversed);
        break;
    case ctFaxRLE: case ctFaxRLEW:
        decoder = std::make_unique<TCCITTMHDecoder>(t4, width, p.Compression == ctFaxRLEW, reversed);
        break;
    case ctLZ77: decoder = std::make_unique<TLZ77Decoder>(1, true); break;
    case ctJPEG: decoder = std::make_unique<TTIFFJPEGDecoder>(p); break;
    case ctThunderscan: decoder = std::make_unique<TThunderDecoder>(p.BytesPerLine, width); break;
    default: RaiseUnsupported("The compression scheme is");
    }
    if (decoder) decoder->StartDecoding();

    BeginStage(gsTransfering);
    const std::vector<uint32_t> offsets = ifd.Numbers(tgStripOffsets), counts = ifd.Numbers(tgStripByteCounts);
    const int64_t rowBytes = p.BytesPerLine;
    const int vertical = subsampled ? p.YCbCrSubSampling[1] : 1;
    TYCbCrBlocks blocks(subsampled ? width : 0, subsampled ? p.YCbCrSubSampling[0] : 1, vertical);
    // The bytes a strip of n rows holds once decoded.
    const auto stripBytes = [&](int64_t rows) { return subsampled ? (rows + vertical - 1) / vertical * blocks.BandBytes() : rows * rowBytes; };
    const auto transform = [&](const uint8_t* row, int64_t y) {
        colorManager_.TransformRow(std::span<const uint8_t* const>(&row, 1), image.ScanLine(int(y)), width);
        RowDone(height);
    };
    std::vector<uint8_t> strip;
    p.CurrentRow = 0;
    for (p.CurrentStrip = 0; p.CurrentStrip < int32_t(offsets.size()) && p.CurrentRow < uint32_t(height); ++p.CurrentStrip) {
        const size_t s = size_t(p.CurrentStrip);
        const int64_t rows = std::min<int64_t>(p.RowsPerStrip[std::min(s, p.RowsPerStrip.size() - 1)], height - int64_t(p.CurrentRow));
        if (rows <= 0) continue;
        const int64_t size = stripBytes(rows);
        strip.assign(size_t(size), 0);
        if (decoder) {
            // Without byte counts a strip may run to the end of the file.
            const int64_t packed = s < counts.size() ? counts[s] : file.Size() - offsets[s];
            const std::span<const uint8_t> data = file.BytesAt(offsets[s], packed);
            const uint8_t* source = data.data();
            uint8_t* target = strip.data();
            decoder->Decode(source, target, size, int64_t(data.size()));
        } else {
            const std::span<const uint8_t> data = file.BytesAt(offsets[s], size);
            std::memcpy(strip.data(), data.data(), size_t(size));
        }
        for (int64_t r = 0; r < rows;) {
            if (subsampled) {
                blocks.Unpack(strip.data() + r / vertical * blocks.BandBytes());
                for (int y = 0; y < vertical && r < rows; ++y, ++r) transform(blocks.Row(y), p.CurrentRow + r);
                continue;
            }
            uint8_t* row = strip.data() + r * rowBytes;
            if (predicted) PredictorFor(samples)(row, width - 1);
            if (p.ColorScheme == smLab && bits == 16) NarrowToHighBytes(row, int64_t(width) * samples, big);
            transform(row, p.CurrentRow + r);
            ++r;
        }
        p.CurrentRow += uint32_t(rows);
    }
    if (decoder) decoder->FinishDecoding();
    // Strips that do not reach the last row leave no picture with blank rows behind.
    if (p.CurrentRow < uint32_t(height)) RaiseGraphicErrorFmt(gesInvalidImage, {FormatName()});
    StoreImage(std::move(image));
}
