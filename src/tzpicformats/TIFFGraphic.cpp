#include "TIFFGraphic.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "CCITTDecoders.h"
#include "LZ77Decoder.h"
#include "LZWDecoders.h"
#include "RunLengthDecoders.h"
#include "platform/ByteReader.h"
#include "platform/PictureLimits.h"

namespace {

// One image file directory: each tag's values, read where the entry says they lie.
class TDirectory {
public:
    TDirectory(const TByteReader& file, bool big, uint32_t offset) : file_(file), big_(big) {
        const uint16_t count = U16(offset);
        for (uint32_t i = 0; i < count; ++i) {
            const int64_t entry = offset + 2 + 12 * int64_t(i);
            const uint16_t tag = U16(entry), type = U16(entry + 2);
            const uint32_t n = U32(entry + 4);
            const int size = type == 3 ? 2 : type == 4 ? 4 : type == 1 || type == 7 ? 1 : 0;
            if (size == 0) continue;
            // Counts are bounded by the file: the values must lie inside it.
            const int64_t at = int64_t(n) * size <= 4 ? entry + 8 : U32(entry + 8);
            file_.BytesAt(at, int64_t(n) * size);
            std::vector<uint32_t>& values = tags_[tag];
            values.resize(n);
            for (uint32_t k = 0; k < n; ++k)
                values[k] = size == 1 ? file_.U8At(at + k) : size == 2 ? U16(at + 2 * int64_t(k)) : U32(at + 4 * int64_t(k));
        }
    }

    bool Has(uint16_t tag) const { return tags_.count(tag) != 0; }
    uint32_t Value(uint16_t tag, uint32_t fallback) const {
        const auto found = tags_.find(tag);
        return found == tags_.end() || found->second.empty() ? fallback : found->second[0];
    }
    const std::vector<uint32_t>& Values(uint16_t tag) const {
        static const std::vector<uint32_t> none;
        const auto found = tags_.find(tag);
        return found == tags_.end() ? none : found->second;
    }

private:
    uint16_t U16(int64_t at) const { return big_ ? file_.U16BEAt(at) : file_.U16LEAt(at); }
    uint32_t U32(int64_t at) const { return big_ ? file_.U32BEAt(at) : file_.U32LEAt(at); }

    const TByteReader& file_;
    bool big_;
    std::map<uint16_t, std::vector<uint32_t>> tags_;
};

enum : uint16_t {
    tgWidth = 256, tgHeight = 257, tgBitsPerSample = 258, tgCompression = 259, tgPhotometric = 262, tgFillOrder = 266,
    tgStripOffsets = 273, tgSamplesPerPixel = 277, tgRowsPerStrip = 278, tgStripByteCounts = 279, tgPlanar = 284,
    tgT4Options = 292, tgPredictor = 317, tgColorMap = 320, tgTileWidth = 322,
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
    case 32771: return ctFaxRLEW;
    case 32773: return ctPackedBits;
    case 32809: return ctThunderscan;
    default: return ctUnknown;
    }
}

std::unique_ptr<TDecoder> DecoderFor(TCompressionType compression, const TDirectory& ifd, int width, bool reversed) {
    const uint32_t t4 = ifd.Value(tgT4Options, 0);
    switch (compression) {
    case ctPackedBits: return std::make_unique<TPackbitsRLEDecoder>();
    case ctLZW: return std::make_unique<TTIFFLZWDecoder>();
    case ctFax3:
        if (t4 & 1) RaiseUnsupported("The compression scheme is");  // two-dimensional coding
        return std::make_unique<TCCITTFax3Decoder>(t4, width, false, reversed);
    case ctFaxRLE: case ctFaxRLEW:
        return std::make_unique<TCCITTMHDecoder>(t4, width, compression == ctFaxRLEW, reversed);
    case ctLZ77: return std::make_unique<TLZ77Decoder>(1, true);
    default: RaiseUnsupported("The compression scheme is");
    }
}

uint32_t ReadU32(const uint8_t* h, bool big) { return big ? uint32_t(h[0] << 24 | h[1] << 16 | h[2] << 8 | h[3]) : uint32_t(h[3] << 24 | h[2] << 16 | h[1] << 8 | h[0]); }

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
    if (!IsFormatStream(stream)) return false;
    const std::vector<uint8_t> bytes = ReadRest(stream);
    stream.SetPosition(start);
    const TByteReader file(bytes);
    const bool big = bytes[0] == 'M';
    try {
        const TDirectory ifd(file, big, ReadU32(bytes.data() + 4, big));
        properties_.Version = 42;
        properties_.Options = uint8_t((big ? ioBigEndian : 0) | (ifd.Value(tgPhotometric, 1) == 0 ? ioMinIsWhite : 0) |
                                      (ifd.Value(tgFillOrder, 1) == 2 ? ioReversed : 0) | (ifd.Has(tgTileWidth) ? ioTiled : 0));
        properties_.Width = ifd.Value(tgWidth, 0);
        properties_.Height = ifd.Value(tgHeight, 0);
        properties_.BitsPerSample = uint8_t(std::min<uint32_t>(ifd.Value(tgBitsPerSample, 1), 255));
        properties_.SamplesPerPixel = uint8_t(std::min<uint32_t>(ifd.Value(tgSamplesPerPixel, 1), 255));
        properties_.BitsPerPixel = uint8_t(properties_.BitsPerSample * properties_.SamplesPerPixel);
        properties_.Compression = CompressionOf(ifd.Value(tgCompression, 1));
        properties_.FirstIFD = ReadU32(bytes.data() + 4, big);
        properties_.PlanarConfig = ifd.Value(tgPlanar, 1);
        properties_.Predictor = ifd.Value(tgPredictor, 1);
        const uint32_t photometric = ifd.Value(tgPhotometric, 1);
        properties_.ColorScheme = photometric == 3 ? smIndexed : photometric == 2 ? (properties_.SamplesPerPixel >= 4 ? smRGBA : smRGB)
                                : photometric <= 1 ? smGray : smNone;
        properties_.StripCount = int32_t(ifd.Values(tgStripOffsets).size());
    } catch (const EShortData&) {
        return false;
    }
    return true;
}

void TTIFFGraphic::LoadFromStream(TStream& stream) {
    const TLoadProgress progress(*this);
    const std::vector<uint8_t> bytes = ReadHeaderAndRest(stream);
    const TByteReader file(bytes);
    const TDirectory ifd(file, properties_.Options & ioBigEndian, properties_.FirstIFD);
    const int width = int(std::min<uint32_t>(properties_.Width, 1u << 30)), height = int(std::min<uint32_t>(properties_.Height, 1u << 30));
    const int bits = properties_.BitsPerSample, samples = properties_.SamplesPerPixel;
    const uint32_t photometric = ifd.Value(tgPhotometric, 1);
    if (properties_.Options & ioTiled) RaiseUnsupported("Tiled images are");
    if (properties_.PlanarConfig != 1) RaiseUnsupported("Planar images are");
    const bool gray = samples == 1 && (bits == 1 || bits == 4 || bits == 8 || bits == 16) && photometric <= 1;
    const bool mapped = samples == 1 && (bits == 1 || bits == 4 || bits == 8) && photometric == 3;
    const bool rgb = photometric == 2 && (bits == 8 || bits == 16) && (samples == 3 || samples == 4);
    // Sixteen-bit samples are shown by their high byte.
    const bool wide = bits == 16;
    const int highByte = wide && !(properties_.Options & ioBigEndian) ? 1 : 0;
    if (!gray && !mapped && !rgb) RaiseGraphicErrorFmt("Invalid color format in %s file.", {FormatName()});
    // Horizontal differencing is undone only where its unit is a whole byte.
    if (properties_.Predictor == 2 && bits != 8) RaiseUnsupported("The predictor is");
    if (width == 0 || height == 0) RaiseGraphicErrorFmt(gesInvalidImage, {FormatName()});
    CheckPictureSize(width, height, bits * samples, int64_t(bytes.size()));

    TBitmap image;
    image.SetPixelFormat(rgb ? (samples == 4 ? TPixelFormat::pf32bit : TPixelFormat::pf24bit)
                             : bits == 1 ? TPixelFormat::pf1bit : bits == 4 ? TPixelFormat::pf4bit : TPixelFormat::pf8bit);
    image.SetSize(width, height);
    progressRect_.Right = width;
    const int entries = 1 << (wide ? 8 : bits);
    if (mapped) {
        const std::vector<uint32_t>& map = ifd.Values(tgColorMap);
        if (map.size() < size_t(3 * entries)) RaiseGraphicErrorFmt(gesInvalidImage, {FormatName()});
        std::vector<TPaletteEntry> palette(static_cast<size_t>(entries));
        for (int i = 0; i < entries; ++i)
            palette[size_t(i)] = {uint8_t(map[size_t(i)] >> 8), uint8_t(map[size_t(entries + i)] >> 8), uint8_t(map[size_t(2 * entries + i)] >> 8), 0};
        image.SetPalette(palette);
    } else if (gray) {
        std::vector<TPaletteEntry> palette(static_cast<size_t>(entries));
        for (int i = 0; i < entries; ++i) {
            const auto v = uint8_t(i * 255 / (entries - 1));
            const auto shown = photometric == 0 ? uint8_t(255 - v) : v;
            palette[size_t(i)] = {shown, shown, shown, 0};
        }
        image.SetPalette(palette);
    }

    const int64_t rowBytes = (int64_t(width) * bits * samples + 7) / 8;
    const std::vector<uint32_t>& offsets = ifd.Values(tgStripOffsets);
    const std::vector<uint32_t>& counts = ifd.Values(tgStripByteCounts);
    const int64_t rowsPerStrip = std::clamp<int64_t>(ifd.Value(tgRowsPerStrip, uint32_t(height)), 1, height);
    const int64_t stripCount = (height + rowsPerStrip - 1) / rowsPerStrip;
    if (int64_t(offsets.size()) < stripCount || int64_t(counts.size()) < stripCount) RaiseGraphicErrorFmt(gesInvalidImage, {FormatName()});
    const std::unique_ptr<TDecoder> decoder = properties_.Compression == ctNone ? nullptr
        : DecoderFor(properties_.Compression, ifd, width, properties_.Options & ioReversed);
    std::vector<uint8_t> strip(static_cast<size_t>(rowsPerStrip * rowBytes));
    if (decoder) decoder->StartDecoding();
    BeginStage(gsTransfering);
    for (int64_t s = 0; s < stripCount; ++s) {
        const int64_t firstRow = s * rowsPerStrip, rows = std::min<int64_t>(rowsPerStrip, height - firstRow);
        const auto packed = file.BytesAt(offsets[size_t(s)], counts[size_t(s)]);
        std::fill(strip.begin(), strip.end(), 0);
        if (decoder) {
            const uint8_t* source = packed.data();
            uint8_t* target = strip.data();
            decoder->Decode(source, target, rows * rowBytes, int64_t(packed.size()));
        } else {
            std::memcpy(strip.data(), packed.data(), size_t(std::min<int64_t>(rows * rowBytes, int64_t(packed.size()))));
        }
        for (int64_t r = 0; r < rows; ++r) {
            uint8_t* row = strip.data() + r * rowBytes;
            if (wide)
                for (int64_t i = 0; i < rowBytes / 2; ++i) row[i] = row[2 * i + highByte];
            if (properties_.Predictor == 2) {
                if (samples == 1) ApplyPredictor8(row, width - 1);
                else if (samples == 3) ApplyPredictor24(row, width - 1);
                else ApplyPredictor32(row, width - 1);
            }
            uint8_t* target = image.ScanLine(int(firstRow + r));
            if (!rgb) {
                std::memcpy(target, row, size_t(wide ? rowBytes / 2 : rowBytes));
            } else {
                for (int64_t x = 0; x < width; ++x) {
                    const uint8_t* p = row + x * samples;
                    uint8_t* q = target + x * samples;
                    q[0] = p[2];
                    q[1] = p[1];
                    q[2] = p[0];
                    if (samples == 4) q[3] = p[3];
                }
            }
            RowDone(height);
        }
    }
    if (decoder) decoder->FinishDecoding();
    StoreImage(std::move(image));
}
