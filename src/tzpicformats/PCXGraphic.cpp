#include "PCXGraphic.h"

#include <array>
#include <cstring>
#include <vector>

#include "RunLengthDecoders.h"
#include "platform/ByteReader.h"
#include "platform/PictureLimits.h"

namespace {

constexpr int HeaderSize = 128;
constexpr int PaletteTrailer = 769;  // the byte 12, then 256 red-green-blue triples

struct TPCXHeader {
    uint8_t manufacturer, version, encoding, bits, planes;
    int64_t width, height;
    uint16_t bytesPerLine, paletteInfo;
    uint16_t xResolution, yResolution;

    explicit TPCXHeader(const TByteReader& in)
        : manufacturer(in.U8At(0)), version(in.U8At(1)), encoding(in.U8At(2)), bits(in.U8At(3)), planes(in.U8At(65)),
          width(int64_t(in.U16LEAt(8)) - in.U16LEAt(4) + 1), height(int64_t(in.U16LEAt(10)) - in.U16LEAt(6) + 1),
          bytesPerLine(in.U16LEAt(66)), paletteInfo(in.U16LEAt(68)), xResolution(in.U16LEAt(12)),
          yResolution(in.U16LEAt(14)) {}
    bool Known() const { return manufacturer == 10 || manufacturer == 205; }
    // Planes of single bits merge into one 4-bit index.
    bool BitPlanes() const { return bits == 1 && planes >= 2 && planes <= 4; }
    bool TrueColour() const { return bits == 8 && planes == 3; }
};

TPixelFormat FormatOf(const TPCXHeader& header) {
    if (header.planes == 1 && header.bits == 1) return TPixelFormat::pf1bit;
    if (header.BitPlanes() || (header.planes == 1 && (header.bits == 2 || header.bits == 4))) return TPixelFormat::pf4bit;
    if (header.planes == 1 && header.bits == 8) return TPixelFormat::pf8bit;
    if (header.TrueColour()) return TPixelFormat::pf24bit;
    RaiseGraphicErrorFmt("Invalid color format in %s file.", {"PCX"});
}

std::vector<TPaletteEntry> GrayRamp(int count) {
    std::vector<TPaletteEntry> palette(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        const auto v = uint8_t(i * 255 / (count - 1));
        palette[size_t(i)] = {v, v, v, 0};
    }
    return palette;
}

std::vector<TPaletteEntry> Triples(std::span<const uint8_t> rgb) {
    std::vector<TPaletteEntry> palette(rgb.size() / 3);
    for (size_t i = 0; i < palette.size(); ++i) palette[i] = {rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2], 0};
    return palette;
}

// An 8-bit file without a trailing palette is shown gray rather than black.
std::vector<TPaletteEntry> PaletteOf(const TPCXHeader& header, TPixelFormat format, const TByteReader& file) {
    switch (format) {
    case TPixelFormat::pf1bit: return GrayRamp(2);
    case TPixelFormat::pf4bit:
        if (header.version == 3) return DefaultPalette(TPixelFormat::pf4bit);
        return header.paletteInfo == 2 ? GrayRamp(16) : Triples(file.BytesAt(16, 48));
    case TPixelFormat::pf8bit:
        if (file.Size() >= HeaderSize + PaletteTrailer && file.U8At(file.Size() - PaletteTrailer) == 12)
            return Triples(file.BytesAt(file.Size() - 768, 768));
        return GrayRamp(256);
    default: return {};
    }
}

void StoreRow(const TPCXHeader& header, const uint8_t* line, uint8_t* row) {
    const int64_t width = header.width, plane = header.bytesPerLine;
    if (header.BitPlanes()) {
        for (int64_t x = 0; x < width; ++x) {
            int index = 0;
            for (int k = 0; k < header.planes; ++k) index |= ((line[k * plane + x / 8] >> (7 - x % 8)) & 1) << k;
            row[x / 2] = uint8_t(row[x / 2] | (x % 2 ? index : index << 4));
        }
    } else if (header.bits == 2) {
        for (int64_t x = 0; x < width; ++x) {
            const int index = (line[x / 4] >> (6 - 2 * (x % 4))) & 3;
            row[x / 2] = uint8_t(row[x / 2] | (x % 2 ? index : index << 4));
        }
    } else if (header.TrueColour()) {
        for (int64_t x = 0; x < width; ++x) {
            row[3 * x + 2] = line[x];
            row[3 * x + 1] = line[plane + x];
            row[3 * x] = line[2 * plane + x];
        }
    } else {
        std::memcpy(row, line, size_t((width * header.bits + 7) / 8));
    }
}

}  // namespace

bool TPCXGraphic::IsFormatStream(TStream& stream) {
    std::array<uint8_t, 128> h{};
    if (!PeekHeader(stream, 128, h)) return false;
    return (h[0] == 10 || h[0] == 205) && (h[1] == 0 || h[1] == 2 || h[1] == 3 || h[1] == 5) && h[2] <= 1;
}

bool TPCXGraphic::ReadHeaderProperties(TStream& stream, int imageIndex) {
    TPicFormatGraphic::ReadHeaderProperties(stream, imageIndex);
    std::array<uint8_t, HeaderSize> h{};
    const int64_t read = PeekBytes(stream, h);
    const TByteReader in(h.data(), HeaderSize);
    const TPCXHeader header(in);
    if (read < HeaderSize || !header.Known()) return false;
    properties_.Width = uint32_t(std::max<int64_t>(header.width, 0));
    properties_.Height = uint32_t(std::max<int64_t>(header.height, 0));
    properties_.SamplesPerPixel = header.planes;
    properties_.BitsPerSample = header.bits;
    properties_.BitsPerPixel = uint8_t(header.planes * header.bits);
    properties_.ColorScheme = properties_.BitsPerPixel > 8 ? smRGB : smIndexed;
    properties_.Compression = header.encoding == 1 ? ctRLE : ctNone;
    properties_.XResolution = header.xResolution;
    properties_.YResolution = header.yResolution;
    return true;
}

void TPCXGraphic::LoadFromStream(TStream& stream) {
    const TLoadProgress progress(*this);
    const std::vector<uint8_t> bytes = ReadHeaderAndRest(stream);
    const TByteReader file(bytes);
    const TPCXHeader header(file);
    const TPixelFormat format = FormatOf(header);
    if (header.width <= 0 || header.height <= 0 || int64_t(header.bytesPerLine) * 8 < header.width * header.bits)
        RaiseGraphicErrorFmt(gesInvalidImage, {FormatName()});
    CheckPictureSize(header.width, header.height, header.bits * header.planes, int64_t(bytes.size()));

    const int64_t lineBytes = int64_t(header.planes) * header.bytesPerLine;
    // The line length comes from the file apart from the width, so it is bounded on its own.
    CheckPictureSize(lineBytes, header.height, 8, int64_t(bytes.size()));
    const int64_t imageBytes = lineBytes * header.height;
    std::vector<uint8_t> data(static_cast<size_t>(imageBytes));
    const int64_t trailer = format == TPixelFormat::pf8bit ? PaletteTrailer : 0;
    const auto packed = file.BytesAt(HeaderSize, std::max<int64_t>(file.Size() - HeaderSize - trailer, 0));
    if (header.encoding == 1) {
        const uint8_t* source = packed.data();
        uint8_t* target = data.data();
        TPCXRLEDecoder().Decode(source, target, imageBytes, int64_t(packed.size()));
    } else {
        if (int64_t(packed.size()) < imageBytes) RaiseGraphicErrorFmt(gesInvalidImage, {FormatName()});
        std::memcpy(data.data(), packed.data(), size_t(imageBytes));
    }

    TBitmap image;
    image.SetPixelFormat(format);
    image.SetSize(int(header.width), int(header.height));
    if (format != TPixelFormat::pf24bit) image.SetPalette(PaletteOf(header, format, file));
    BeginTransfer(image.Width());
    for (int y = 0; y < image.Height(); ++y) {
        std::memset(image.ScanLine(y), 0, size_t(image.RowBytes()));
        StoreRow(header, data.data() + y * lineBytes, image.ScanLine(y));
        RowDone(image.Height());
    }
    StoreImage(std::move(image));
}
