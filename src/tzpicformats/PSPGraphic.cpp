#include "PSPGraphic.h"

#include <array>
#include <cctype>
#include <cstring>
#include <optional>
#include <vector>

#include "LZ77Decoder.h"
#include "RunLengthDecoders.h"
#include "platform/ByteReader.h"
#include "platform/Jpeg.h"
#include "platform/PictureLimits.h"

namespace {

constexpr int64_t SignatureSize = 36;
enum : uint16_t { biGeneral = 0, biPalette = 2, biLayerStart = 3, biLayer = 4 };
enum : uint8_t { ctComposite = 0, ctRed = 1, ctGreen = 2, ctBlue = 3 };

[[noreturn]] void RaiseColourFormat() { RaiseGraphicErrorFmt("Invalid color format in %s file.", {"PSP"}); }

struct TBlock {
    uint16_t id = 0;
    int64_t end = 0;
};

// False at the end of the data or where no block marker follows.
bool ReadBlock(TByteReader& in, int version, TBlock& block) {
    if (in.Remaining() < 10 || in.U8At(in.Position()) != '~') return false;
    in.Skip(4);
    block.id = in.U16LE();
    if (version == 3) in.Skip(4);
    const uint32_t length = in.U32LE();
    block.end = in.Position() + length;
    if (block.end > in.Size()) throw EShortData("A Paint Shop Pro block runs past the end of the file.");
    return true;
}

// From version 4 on, a fixed part begins with its own length; the reader leaves at its end.
class TChunk {
public:
    TChunk(TByteReader& in, int version) : in_(in), start_(in.Position()), length_(version >= 4 ? in.U32LE() : 0) {}
    void Leave() {
        if (length_ > 0) in_.Seek(start_ + length_);
    }

private:
    TByteReader& in_;
    int64_t start_;
    uint32_t length_;
};

struct TAttributes {
    int32_t width = 0, height = 0;
    double resolution = 0;
    uint8_t unit = 0, grayscale = 0;
    uint16_t compression = 0, bitDepth = 0;
};

TAttributes ReadAttributes(TByteReader& in, int version) {
    TChunk chunk(in, version);
    TAttributes a;
    a.width = int32_t(in.U32LE());
    a.height = int32_t(in.U32LE());
    const auto resolution = in.Bytes(8);
    std::memcpy(&a.resolution, resolution.data(), 8);
    a.unit = in.U8();
    a.compression = in.U16LE();
    a.bitDepth = in.U16LE();
    in.Skip(2 + 4);  // planes, colours
    a.grayscale = in.U8();
    chunk.Leave();
    return a;
}

int64_t ChannelRowBytes(int bitDepth, int64_t width) {
    switch (bitDepth) {
    case 1: return (width + 7) / 8;
    case 4: return width / 2 + 1;
    case 8: case 24: return width;
    default: RaiseColourFormat();
    }
}

[[noreturn]] void RaiseCompressionUnsupported() {
    RaiseGraphicErrorFmt("Cannot load image. %s not supported for %s files.", {"The compression scheme is", "PSP"});
}

// A JPEG channel is a one-component JPEG stream of the whole layer; only 8-bit samples can take it.
std::vector<uint8_t> DecodeJpegChannel(std::span<const uint8_t> packed, const TAttributes& a) {
    if (a.bitDepth != 8 && a.bitDepth != 24) RaiseCompressionUnsupported();
    TMemoryStream stream;
    stream.WriteBuffer(packed.data(), int64_t(packed.size()));
    stream.SetPosition(0);
    TJPEGImage jpeg;
    jpeg.LoadFromStream(stream);
    if (jpeg.Components() != 1 || jpeg.Width() != a.width || jpeg.Height() != a.height)
        RaiseGraphicErrorFmt(gesInvalidImage, {"PSP"});
    TBitmap decoded;
    jpeg.AssignTo(decoded);
    std::vector<uint8_t> plane(size_t(a.width) * size_t(a.height));
    for (int y = 0; y < a.height; ++y) {
        const uint8_t* bgr = decoded.ScanLine(y);
        for (int x = 0; x < a.width; ++x) plane[size_t(y) * size_t(a.width) + size_t(x)] = bgr[3 * x];
    }
    return plane;
}

std::vector<uint8_t> Decompress(std::span<const uint8_t> packed, int64_t size, const TAttributes& a) {
    if (a.compression == 3) return DecodeJpegChannel(packed, a);
    std::vector<uint8_t> plane(static_cast<size_t>(size));
    const uint8_t* source = packed.data();
    uint8_t* target = plane.data();
    switch (a.compression) {
    case 0:
        if (int64_t(packed.size()) < size) throw EShortData("A Paint Shop Pro channel is short.");
        std::memcpy(target, source, size_t(size));
        break;
    case 1: TPSPRLEDecoder().Decode(source, target, size, int64_t(packed.size())); break;
    case 2: {
        TLZ77Decoder inflate(4, false);
        inflate.StartDecoding();
        inflate.Decode(source, target, size, int64_t(packed.size()));
        inflate.FinishDecoding();
        break;
    }
    default: RaiseCompressionUnsupported();
    }
    return plane;
}

// The channels of the first raster layer, by channel type; empty when the layer is not raster.
std::optional<std::array<std::vector<uint8_t>, 4>> ReadLayer(TByteReader& in, int version, const TAttributes& a) {
    uint8_t type;
    if (version == 3) {
        in.Skip(256);
        type = in.Bytes(115)[0];
    } else {
        TChunk chunk(in, version);
        in.Skip(in.U16LE());
        type = in.Bytes(115)[0];
        chunk.Leave();
    }
    if (version == 3 ? type != 0 : type > 1) return std::nullopt;
    in.Skip(2);  // bitmap count
    const uint16_t channelCount = in.U16LE();
    const int64_t planeSize = ChannelRowBytes(a.bitDepth, a.width) * a.height;
    std::array<std::vector<uint8_t>, 4> planes;
    TBlock block;
    for (int i = 0; i < channelCount && ReadBlock(in, version, block); ++i) {
        TChunk chunk(in, version);
        const uint32_t packedSize = in.U32LE(), size = in.U32LE();
        in.Skip(2);  // bitmap type
        const uint16_t channelType = in.U16LE();
        chunk.Leave();
        if (channelType <= ctBlue && size >= planeSize)
            planes[channelType] = Decompress(in.Bytes(packedSize), planeSize, a);
        in.Seek(block.end);
    }
    return planes;
}

}  // namespace

bool TPSPGraphic::IsFormatStream(TStream& stream) {
    std::array<uint8_t, 36> h{};
    if (!PeekHeader(stream, 36, h)) return false;
    static const char signature[] = "paint shop pro image file";
    for (size_t i = 0; i < 25; ++i)
        if (std::tolower(h[i]) != signature[i]) return false;
    return TByteReader(h.data(), int64_t(h.size())).U16LEAt(32) >= 3;
}

bool TPSPGraphic::ReadHeaderProperties(TStream& stream, int imageIndex) {
    TPicFormatGraphic::ReadHeaderProperties(stream, imageIndex);
    if (!IsFormatStream(stream)) return false;
    std::array<uint8_t, 256> head{};
    const int64_t read = PeekBytes(stream, head);
    TByteReader in(head.data(), read);
    try {
        const int version = in.U16LEAt(32);
        in.Seek(SignatureSize);
        TBlock block;
        if (!ReadBlock(in, version, block) || block.id != biGeneral) return false;
        const TAttributes a = ReadAttributes(in, version);
        properties_.Version = uint32_t(version);
        properties_.BitsPerSample = uint8_t(a.bitDepth == 24 ? 8 : a.bitDepth);
        properties_.SamplesPerPixel = a.bitDepth == 24 ? 3 : 1;
        properties_.BitsPerPixel = uint8_t(properties_.BitsPerSample * properties_.SamplesPerPixel);
        properties_.ColorScheme = a.bitDepth == 24 ? smRGB : a.grayscale ? smGray : smIndexed;
        properties_.Width = uint32_t(a.width);
        properties_.Height = uint32_t(a.height);
        constexpr TCompressionType codes[] = {ctNone, ctRLE, ctLZ77, ctJPEG};
        properties_.Compression = a.compression < 4 ? codes[a.compression] : ctUnknown;
        properties_.XResolution = properties_.YResolution = float(a.unit == 2 ? a.resolution * 2.54 : a.resolution);
    } catch (const EShortData&) {
        return false;
    }
    return true;
}

void TPSPGraphic::LoadFromStream(TStream& stream) {
    const TLoadProgress progress(*this);
    const std::vector<uint8_t> bytes = ReadHeaderAndRest(stream);
    TByteReader in(bytes);
    const int version = int(properties_.Version);
    in.Seek(SignatureSize);
    TBlock block;
    ReadBlock(in, version, block);
    const TAttributes a = ReadAttributes(in, version);
    in.Seek(block.end);
    ChannelRowBytes(a.bitDepth, a.width);
    if (a.width <= 0 || a.height <= 0) RaiseGraphicErrorFmt(gesInvalidImage, {FormatName()});
    CheckPictureSize(a.width, a.height, a.bitDepth, int64_t(bytes.size()));

    std::vector<TPaletteEntry> palette;
    std::optional<std::array<std::vector<uint8_t>, 4>> planes;
    while (!planes && ReadBlock(in, version, block)) {
        if (block.id == biPalette) {
            TChunk chunk(in, version);
            const uint32_t count = in.U32LE();
            chunk.Leave();
            palette.resize(std::min<uint32_t>(count, 256));
            for (TPaletteEntry& entry : palette) {
                const auto bgra = in.Bytes(4);
                entry = {bgra[2], bgra[1], bgra[0], 0};
            }
        } else if (block.id == biLayerStart) {
            BeginStage(gsLoadingData);
            TBlock layer;
            while (!planes && in.Position() < block.end && ReadBlock(in, version, layer)) {
                if (layer.id == biLayer) planes = ReadLayer(in, version, a);
                in.Seek(layer.end);
            }
        }
        in.Seek(block.end);
    }

    // A picture whose layer lacks a channel it needs is refused rather than shown black.
    const bool colour = a.bitDepth == 24;
    const bool alpha = colour && planes && !(*planes)[ctComposite].empty();
    if (!planes || (colour ? (*planes)[ctRed].empty() || (*planes)[ctGreen].empty() || (*planes)[ctBlue].empty()
                           : (*planes)[ctComposite].empty()))
        RaiseGraphicErrorFmt(gesInvalidImage, {FormatName()});

    TBitmap image;
    image.SetPixelFormat(colour ? (alpha ? TPixelFormat::pf32bit : TPixelFormat::pf24bit)
                                : a.bitDepth == 1 ? TPixelFormat::pf1bit : a.bitDepth == 4 ? TPixelFormat::pf4bit : TPixelFormat::pf8bit);
    image.SetSize(a.width, a.height);
    if (!colour) {
        if (palette.empty() || a.grayscale) {
            const int count = 1 << a.bitDepth;
            palette.resize(size_t(count));
            for (int i = 0; i < count; ++i) {
                const auto v = uint8_t(i * 255 / (count - 1));
                palette[size_t(i)] = {v, v, v, 0};
            }
        }
        image.SetPalette(palette);
    }
    const int64_t rowBytes = ChannelRowBytes(a.bitDepth, a.width);
    const int step = alpha ? 4 : 3;
    BeginTransfer(a.width);
    for (int y = 0; y < a.height; ++y) {
        uint8_t* row = image.ScanLine(y);
        const int64_t at = y * rowBytes;
        if (!colour) {
            std::memcpy(row, (*planes)[ctComposite].data() + at, size_t(std::min<int64_t>(rowBytes, image.RowBytes())));
        } else {
            for (int64_t x = 0; x < a.width; ++x) {
                row[step * x] = (*planes)[ctBlue][size_t(at + x)];
                row[step * x + 1] = (*planes)[ctGreen][size_t(at + x)];
                row[step * x + 2] = (*planes)[ctRed][size_t(at + x)];
                if (alpha) row[step * x + 3] = (*planes)[ctComposite][size_t(at + x)];
            }
        }
        RowDone(a.height);
    }
    StoreImage(std::move(image));
}
