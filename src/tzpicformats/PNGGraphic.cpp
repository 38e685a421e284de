#include "PNGGraphic.h"

#include <zlib.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "LZ77Decoder.h"
#include "platform/ByteReader.h"
#include "platform/PictureLimits.h"

namespace {

constexpr std::array<uint8_t, 8> Signature = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

struct TChunk {
    std::array<char, 4> type;
    std::span<const uint8_t> data;
    bool Is(const char* name) const {
        for (int i = 0; i < 4; ++i)
            if ((type[size_t(i)] & ~0x20) != (name[i] & ~0x20)) return false;
        return true;
    }
    bool Critical() const { return (type[0] & 0x20) == 0; }
    // Other ancillary chunks are skipped without looking at their checksum.
    bool Checked() const { return Critical() || Is("gAMA") || Is("tRNS"); }
};

[[noreturn]] void Raise(const char* message) { RaiseGraphicErrorFmt(message, {"PNG"}); }

TChunk ReadChunk(TByteReader& in) {
    const uint32_t length = in.U32BE();
    const auto typeAndData = in.Bytes(int64_t(length) + 4);
    TChunk chunk{};
    std::memcpy(chunk.type.data(), typeAndData.data(), 4);
    chunk.data = typeAndData.subspan(4);
    const uint32_t crc = uint32_t(crc32(0, typeAndData.data(), uInt(typeAndData.size())));
    if (in.U32BE() != crc && chunk.Checked()) Raise("Cannot load image. CRC error found in %s file.");
    return chunk;
}

struct THeader {
    uint32_t width = 0, height = 0;
    uint8_t depth = 0, colourType = 0, compression = 0, filter = 0, interlace = 0;
    int Channels() const {
        switch (colourType) {
        case 2: return 3;
        case 4: return 2;
        case 6: return 4;
        default: return 1;
        }
    }
    bool Valid() const {
        switch (colourType) {
        case 0: return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
        case 3: return depth == 1 || depth == 2 || depth == 4 || depth == 8;
        case 2: case 4: case 6: return depth == 8 || depth == 16;
        default: return false;
        }
    }
};

THeader ParseHeader(const TChunk& chunk) {
    TByteReader in(chunk.data);
    THeader h;
    h.width = in.U32BE();
    h.height = in.U32BE();
    h.depth = in.U8();
    h.colourType = in.U8();
    h.compression = in.U8();
    h.filter = in.U8();
    h.interlace = in.U8();
    return h;
}

uint8_t Paeth(int a, int b, int c) {
    const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    return uint8_t(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

// Undoes one row's filter in place; the stride is whole bytes per pixel, also for 16-bit samples.
void Unfilter(uint8_t type, uint8_t* row, const uint8_t* previous, int64_t length, int stride) {
    for (int64_t i = 0; i < length; ++i) {
        const int a = i >= stride ? row[i - stride] : 0, b = previous[i], c = i >= stride ? previous[i - stride] : 0;
        switch (type) {
        case 0: break;
        case 1: row[i] = uint8_t(row[i] + a); break;
        case 2: row[i] = uint8_t(row[i] + b); break;
        case 3: row[i] = uint8_t(row[i] + (a + b) / 2); break;
        case 4: row[i] = uint8_t(row[i] + Paeth(a, b, c)); break;
        default: Raise("Cannot load image. Compression error found in %s file.");
        }
    }
}

// Sample k of a row at the header's depth, as 8 bits (16-bit samples by their high byte).
uint8_t Sample(const uint8_t* row, int64_t k, int depth, bool indexed) {
    if (depth == 8) return row[k];
    if (depth == 16) return row[2 * k];
    const int perByte = 8 / depth;
    const int value = (row[k / perByte] >> (8 - depth * (1 + k % perByte))) & ((1 << depth) - 1);
    return indexed ? uint8_t(value) : uint8_t(value * 255 / ((1 << depth) - 1));
}

// The samples a tRNS chunk of a gray or RGB picture gives, as 8-bit values the way Sample reads
// the pixels; empty when the chunk does not fit the picture or names a value no pixel can have.
std::vector<uint8_t> TransparentSamples(const TChunk& chunk, const THeader& header) {
    const size_t count = header.colourType == 0 ? 1 : header.colourType == 2 ? 3 : 0;
    if (count == 0 || chunk.data.size() < 2 * count) return {};
    TByteReader in(chunk.data);
    std::vector<uint8_t> samples;
    const int largest = (1 << header.depth) - 1;
    for (size_t i = 0; i < count; ++i) {
        const int value = in.U16BE();
        if (value > largest) return {};
        samples.push_back(header.depth == 16 ? uint8_t(value >> 8) : uint8_t(value * 255 / largest));
    }
    return samples;
}

// The value of the first gAMA chunk from the stream's position on, before IEND; 0 when there is none.
uint32_t GammaChunkValue(TStream& stream) {
    std::array<uint8_t, 12> head{};
    const TByteReader in(head.data(), int64_t(head.size()));
    while (stream.Read(head.data(), 8) == 8) {
        const int64_t length = in.U32BEAt(0);
        if (std::memcmp(head.data() + 4, "IEND", 4) == 0) break;
        if (std::memcmp(head.data() + 4, "gAMA", 4) == 0)
            return length == 4 && stream.Read(head.data() + 8, 4) == 4 ? in.U32BEAt(8) : 0;
        if (stream.Position() + length + 4 > stream.Size()) break;
        stream.Seek(length + 4, TSeekOrigin::soCurrent);
    }
    return 0;
}

// The image data, inflated as the rows need it from the IDAT chunks that follow one another.
class TImageData {
public:
    TImageData(TByteReader& in, const TChunk& first) : in_(in), data_(first.data), inflate_(1, false) { inflate_.StartDecoding(); }

    void Read(uint8_t* target, int64_t count) {
        while (count > 0) {
            if (data_.empty()) {
                // The compressed stream ends before the picture does.
                const TChunk next = ReadChunk(in_);
                if (!next.Is("IDAT")) Raise("Cannot load image. Extra compressed data found in %s file.");
                data_ = next.data;
                continue;
            }
            const uint8_t* source = data_.data();
            uint8_t* out = target;
            try {
                inflate_.Decode(source, out, count, int64_t(data_.size()));
            } catch (const Exception&) {
                Raise("Cannot load image. Compression error found in %s file.");
            }
            if (source == data_.data() && out == target) Raise("Cannot load image. Extra compressed data found in %s file.");
            data_ = data_.subspan(size_t(source - data_.data()));
            count -= out - target;
            target = out;
        }
    }

    void Finish() { inflate_.FinishDecoding(); }

private:
    TByteReader& in_;
    std::span<const uint8_t> data_;
    TLZ77Decoder inflate_;
};

}  // namespace

bool TPNGGraphic::IsFormatStream(TStream& stream) {
    std::array<uint8_t, 8> h{};
    if (!PeekHeader(stream, 8, h)) return false;
    return h == Signature;
}

bool TPNGGraphic::ReadHeaderProperties(TStream& stream, int imageIndex) {
    TPicFormatGraphic::ReadHeaderProperties(stream, imageIndex);
    std::array<uint8_t, 33> h{};
    const int64_t start = stream.Position();
    const int64_t read = stream.Read(h.data(), int64_t(h.size()));
    const uint32_t gamma = read == int64_t(h.size()) ? GammaChunkValue(stream) : 0;
    stream.SetPosition(start);
    if (read < int64_t(h.size()) || !std::equal(Signature.begin(), Signature.end(), h.begin())) return false;
    TByteReader in(h.data(), int64_t(h.size()));
    in.Seek(8);
    try {
        const TChunk chunk = ReadChunk(in);
        if (!chunk.Is("IHDR") || chunk.data.size() != 13) return false;
        const THeader header = ParseHeader(chunk);
        if (header.width == 0 || header.height == 0) return false;
        properties_.Options = ioBigEndian;
        properties_.Width = header.width;
        properties_.Height = header.height;
        properties_.Compression = header.compression == 0 ? ctLZ77 : ctUnknown;
        properties_.BitsPerSample = header.depth;
        properties_.SamplesPerPixel = uint8_t(header.Channels());
        properties_.BitsPerPixel = uint8_t(header.depth * header.Channels());
        constexpr TColorManagerScheme schemes[] = {smGray, smNone, smRGB, smIndexed, smGrayAlpha, smNone, smRGBA};
        properties_.ColorScheme = header.colourType <= 6 ? schemes[header.colourType] : smNone;
        properties_.Interlaced = header.interlace != 0;
        properties_.HasAlpha = header.colourType == 4 || header.colourType == 6;
        properties_.PNGFilterMethod = header.filter;
        if (gamma > 0) properties_.FileGamma = float(gamma) / 100000.0f;
    } catch (const EInvalidGraphic&) {
        return false;
    } catch (const EShortData&) {
        return false;
    }
    return true;
}

void TPNGGraphic::LoadFromStream(TStream& stream) {
    const TLoadProgress progress(*this);
    TPicFormatGraphic::LoadFromStream(stream);
    progressRect_.Right = int(std::min<uint32_t>(properties_.Width, std::numeric_limits<int>::max()));
    BeginStage(gsPreparing);
    const std::vector<uint8_t> bytes = ReadRest(stream);
    TByteReader in(bytes);
    in.Seek(8);
    const THeader header = ParseHeader(ReadChunk(in));
    if (header.compression != 0)
        RaiseGraphicErrorFmt("Cannot load image. %s not supported for %s files.", {"The compression scheme is", "PNG"});
    if (!header.Valid()) Raise("Invalid color format in %s file.");
    CheckPictureSize(header.width, header.height, header.depth * header.Channels(), int64_t(bytes.size()));

    transparentColor_ = clNone;
    std::vector<TPaletteEntry> palette;
    std::vector<uint8_t> transparent;
    bool gamma = false;
    // What the chunks before the image data give is what its rows are made with.
    const auto takeChunk = [&](const TChunk& chunk) {
        if (chunk.Is("PLTE")) {
            if (chunk.data.size() % 3 != 0) Raise("Cannot load image. Palette in %s file is invalid.");
            palette.resize(std::min<size_t>(chunk.data.size() / 3, 256));
            for (size_t i = 0; i < palette.size(); ++i) palette[i] = {chunk.data[3 * i], chunk.data[3 * i + 1], chunk.data[3 * i + 2], 0};
        } else if (chunk.Is("gAMA")) {
            // A gamma of 0 is invalid; taken as given it would brighten the picture.
            const uint32_t value = chunk.data.size() == 4 ? TByteReader(chunk.data).U32BE() : 0;
            if (value > 0) {
                properties_.FileGamma = float(value) / 100000.0f;
                gamma = true;
            }
        } else if (chunk.Is("tRNS")) {
            transparent = TransparentSamples(chunk, header);
        } else if (chunk.Critical() && !chunk.Is("IHDR") && !chunk.Is("IDAT")) {
            RaiseGraphicError("Cannot load PNG image. Unexpected but critical chunk detected.");
        }
    };
    TChunk chunk = ReadChunk(in);
    for (; !chunk.Is("IDAT"); chunk = ReadChunk(in)) {
        if (chunk.Is("IEND")) Raise("Cannot load image. Extra compressed data found in %s file.");
        takeChunk(chunk);
    }
    BeginTransfer(int(header.width));

    const int channels = header.Channels(), depth = header.depth;
    const int stride = std::max(1, depth * channels / 8);
    const int64_t width = header.width, height = header.height;
    struct TPass { int x0, y0, dx, dy; };
    const std::vector<TPass> passes = header.interlace
        ? std::vector<TPass>{{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4}, {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}}
        : std::vector<TPass>{{0, 0, 1, 1}};
    int64_t inflatedSize = 0;
    for (const TPass& p : passes) {
        const int64_t w = (width - p.x0 + p.dx - 1) / p.dx, h = (height - p.y0 + p.dy - 1) / p.dy;
        if (w > 0 && h > 0) inflatedSize += h * (1 + (w * depth * channels + 7) / 8);
    }
    // Rows are inflated and unfiltered one at a time and reported as they come; an interlaced
    // picture reports only its last pass, whose rows complete the ones the earlier passes began.
    // The bitmap is made only from image data that proved complete.
    std::vector<uint8_t> inflated(static_cast<size_t>(inflatedSize));
    {
        TImageData data(in, chunk);
        int64_t at = 0;
        for (const TPass& p : passes) {
            const int64_t w = (width - p.x0 + p.dx - 1) / p.dx, h = (height - p.y0 + p.dy - 1) / p.dy;
            if (w <= 0 || h <= 0) continue;
            const int64_t length = (w * depth * channels + 7) / 8;
            const bool last = &p == &passes.back();
            for (int64_t complete = h; last && complete < height; ++complete) RowDoneQuietly();
            std::vector<uint8_t> previous(static_cast<size_t>(length));
            for (int64_t r = 0; r < h; ++r) {
                uint8_t* row = inflated.data() + at;
                data.Read(row, length + 1);
                Unfilter(row[0], row + 1, previous.data(), length, stride);
                std::memcpy(previous.data(), row + 1, size_t(length));
                at += length + 1;
                if (last) RowDone(height);
            }
        }
        data.Finish();
    }

    // Samples of the whole picture, 8 bits each, before they become bitmap rows.
    const bool indexed = header.colourType == 3;
    std::vector<uint8_t> samples(static_cast<size_t>(width * height * channels));
    int64_t at = 0;
    for (const TPass& p : passes) {
        const int64_t w = (width - p.x0 + p.dx - 1) / p.dx, h = (height - p.y0 + p.dy - 1) / p.dy;
        if (w <= 0 || h <= 0) continue;
        const int64_t length = (w * depth * channels + 7) / 8;
        for (int64_t r = 0; r < h; ++r) {
            const uint8_t* row = inflated.data() + at + 1;
            for (int64_t x = 0; x < w; ++x)
                for (int c = 0; c < channels; ++c)
                    samples[size_t(((p.y0 + r * p.dy) * width + p.x0 + x * p.dx) * channels + c)] = Sample(row, x * channels + c, depth, indexed);
            at += length + 1;
        }
    }

    // Samples are corrected for a display gamma of 2.2; alpha never is.
    TColorManager& colours = ColorManager();
    if (gamma) {
        properties_.Options |= ioUseGamma;
        colours.SetSourceDepth(8);
        colours.SetTargetDepth(8);
        colours.BuildGammaTable(properties_.FileGamma, 2.2f);
        colours.TargetOptions |= cvoApplyGamma;
    }
    const auto corrected = [&](uint8_t v) { return gamma ? colours.GammaTable(v) : v; };

    const bool colour = header.colourType == 2 || header.colourType == 6;
    const bool alpha = header.colourType == 6;
    TBitmap image;
    image.SetPixelFormat(alpha ? TPixelFormat::pf32bit : colour ? TPixelFormat::pf24bit : TPixelFormat::pf8bit);
    image.SetSize(int(width), int(height));
    if (!colour) {
        if (!indexed || palette.empty()) {
            palette.resize(256);
            for (int i = 0; i < 256; ++i) palette[size_t(i)] = {uint8_t(i), uint8_t(i), uint8_t(i), 0};
        }
        for (TPaletteEntry& entry : palette) entry = {corrected(entry.peRed), corrected(entry.peGreen), corrected(entry.peBlue), 0};
        image.SetPalette(palette);
        if (!transparent.empty()) {
            const TPaletteEntry& entry = palette[transparent[0]];
            transparentColor_ = entry.peRed | entry.peGreen << 8 | entry.peBlue << 16;
        }
    } else if (!transparent.empty()) {
        transparentColor_ = corrected(transparent[0]) | corrected(transparent[1]) << 8 | corrected(transparent[2]) << 16;
    }
    const int step = alpha ? 4 : 3;
    for (int64_t y = 0; y < height; ++y) {
        uint8_t* target = image.ScanLine(int(y));
        const uint8_t* source = samples.data() + y * width * channels;
        for (int64_t x = 0; x < width; ++x) {
            const uint8_t* s = source + x * channels;
            if (!colour) {
                target[x] = s[0];  // gray with alpha drops its alpha
                continue;
            }
            target[step * x] = corrected(s[2]);
            target[step * x + 1] = corrected(s[1]);
            target[step * x + 2] = corrected(s[0]);
            if (alpha) target[step * x + 3] = s[3];
        }
    }

    // Image data chunks left after the picture's rows are not read.
    for (chunk = ReadChunk(in); !chunk.Is("IEND"); chunk = ReadChunk(in)) takeChunk(chunk);
    StoreImage(std::move(image));
}
