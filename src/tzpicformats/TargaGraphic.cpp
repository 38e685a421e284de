#include "TargaGraphic.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "RunLengthDecoders.h"
#include "platform/ByteReader.h"
#include "platform/PictureLimits.h"

namespace {

constexpr int HeaderSize = 18;
constexpr uint8_t TopDown = 32;  // descriptor bit 5: the first stored row is the top one

struct TTargaHeader {
    uint8_t idLength, colorMapType, imageType;
    uint16_t firstEntry, mapLength;
    uint8_t entrySize;
    uint16_t width, height;
    uint8_t depth, descriptor;

    explicit TTargaHeader(TByteReader& in)
        : idLength(in.U8()), colorMapType(in.U8()), imageType(in.U8()), firstEntry(in.U16LE()),
          mapLength(in.U16LE()), entrySize(in.U8()) {
        in.Skip(4);  // origins
        width = in.U16LE();
        height = in.U16LE();
        depth = in.U8();
        descriptor = in.U8();
    }
    bool Gray() const { return imageType == 3 || imageType == 11; }
    bool Mapped() const { return imageType == 1 || imageType == 9; }
    bool Compressed() const { return imageType >= 9; }
};

int PixelBytes(int depth) { return depth == 15 ? 2 : depth / 8; }

TPixelFormat FormatOfDepth(int depth) {
    switch (depth) {
    case 8: return TPixelFormat::pf8bit;
    case 15: case 16: return TPixelFormat::pf15bit;
    case 24: return TPixelFormat::pf24bit;
    case 32: return TPixelFormat::pf32bit;
    default: RaiseGraphicErrorFmt(gesInvalidImage, {"Targa"});
    }
}

TPaletteEntry MapEntry(TByteReader& in, int entrySize) {
    if (entrySize == 15 || entrySize == 16) {
        const uint16_t v = in.U16LE();
        return {uint8_t(((v >> 10) & 31) << 3), uint8_t(((v >> 5) & 31) << 3), uint8_t((v & 31) << 3), 0};
    }
    const auto bgr = in.Bytes(entrySize / 8);
    return {bgr[2], bgr[1], bgr[0], 0};
}

// Entries sit at their file index (first entry plus position); a bitmap holds 256 of them.
std::vector<TPaletteEntry> ReadColorMap(TByteReader& in, const TTargaHeader& header) {
    std::vector<TPaletteEntry> palette(256);
    const int size = header.entrySize;
    if (size != 15 && size != 16 && size != 24 && size != 32) RaiseGraphicErrorFmt(gesInvalidImage, {"Targa"});
    for (int i = 0; i < header.mapLength; ++i) {
        const TPaletteEntry entry = MapEntry(in, header.entrySize);
        if (header.firstEntry + i < 256) palette[size_t(header.firstEntry + i)] = entry;
    }
    return palette;
}

std::vector<TPaletteEntry> GrayRamp() {
    std::vector<TPaletteEntry> palette(256);
    for (int i = 0; i < 256; ++i) palette[size_t(i)] = {uint8_t(i), uint8_t(i), uint8_t(i), 0};
    return palette;
}

}  // namespace

bool TTargaGraphic::IsFormatStream(TStream& stream) {
    std::array<uint8_t, 18> h{};
    if (!PeekHeader(stream, 18, h)) return false;
    const uint8_t colorMapType = h[1], imageType = h[2], entrySize = h[7], depth = h[16];
    const bool typeKnown = imageType <= 3 || (imageType >= 9 && imageType <= 11);
    const bool entryKnown = entrySize == 15 || entrySize == 16 || entrySize == 24 || entrySize == 32;
    const bool depthKnown = depth == 8 || depth == 15 || depth == 16 || depth == 24 || depth == 32;
    return typeKnown && colorMapType <= 1 && entryKnown && depthKnown;
}

bool TTargaGraphic::ReadHeaderProperties(TStream& stream, int imageIndex) {
    TPicFormatGraphic::ReadHeaderProperties(stream, imageIndex);
    std::array<uint8_t, HeaderSize> bytes{};
    const int64_t read = PeekBytes(stream, bytes);
    if (read < HeaderSize) return false;
    TByteReader in(bytes.data(), HeaderSize);
    const TTargaHeader header(in);
    properties_.Width = header.width;
    properties_.Height = header.height;
    properties_.BitsPerSample = 8;
    if (header.depth == 8) {
        properties_.ColorScheme = header.Gray() ? smGray : smIndexed;
        properties_.SamplesPerPixel = 1;
    } else if (header.depth == 15 || header.depth == 16) {
        properties_.ColorScheme = smRGB;
        properties_.BitsPerSample = 5;
        properties_.SamplesPerPixel = 3;
    } else if (header.depth == 24 || header.depth == 32) {
        properties_.ColorScheme = header.depth == 24 ? smRGB : smRGBA;
        properties_.SamplesPerPixel = uint8_t(header.depth / 8);
    }
    properties_.BitsPerPixel = uint8_t(properties_.SamplesPerPixel * properties_.BitsPerSample);
    properties_.Compression = header.Compressed() ? ctRLE : ctNone;
    return true;
}

void TTargaGraphic::LoadFromStream(TStream& stream) {
    const TLoadProgress progress(*this);
    const std::vector<uint8_t> bytes = ReadHeaderAndRest(stream);
    TByteReader in(bytes);
    const TTargaHeader header(in);
    // An image type without pixels, or indices wider than a byte, cannot become a bitmap.
    if (header.imageType == 0 || (header.Mapped() && header.depth != 8) || header.width == 0 || header.height == 0)
        RaiseGraphicErrorFmt(gesInvalidImage, {FormatName()});
    const TPixelFormat format = FormatOfDepth(header.depth);
    CheckPictureSize(header.width, header.height, header.depth, int64_t(bytes.size()));
    in.Skip(header.idLength);

    std::vector<TPaletteEntry> palette;
    if (header.colorMapType == 1) palette = ReadColorMap(in, header);
    if (header.Gray()) palette = GrayRamp();

    TBitmap image;
    image.SetPixelFormat(format);
    image.SetSize(header.width, header.height);
    if (format == TPixelFormat::pf8bit) image.SetPalette(palette);
    BeginTransfer(header.width);
    const int64_t rowBytes = int64_t(header.width) * PixelBytes(header.depth);
    const auto packed = header.Compressed() ? in.Bytes(in.Remaining()) : std::span<const uint8_t>();
    const uint8_t* source = packed.data();
    TTargaRLEDecoder decoder(header.depth);
    decoder.StartDecoding();
    for (int i = 0; i < header.height; ++i) {
        uint8_t* target = image.ScanLine(header.descriptor & TopDown ? i : header.height - 1 - i);
        if (header.Compressed()) {
            decoder.Decode(source, target, header.width, packed.data() + packed.size() - source);
        } else {
            const auto row = in.Bytes(rowBytes);
            std::memcpy(target, row.data(), row.size());
        }
        RowDone(header.height);
    }
    decoder.FinishDecoding();
    StoreImage(std::move(image));
}

void TTargaGraphic::SaveToStreamEx(TStream& stream, bool compress) const {
    if (Empty()) return;
    if (Width() > 0xFFFF || Height() > 0xFFFF) RaiseGraphicError("The picture is too large for a Targa file.");
    TBitmap image(*this);
    switch (image.PixelFormat()) {
    case TPixelFormat::pf1bit: case TPixelFormat::pf4bit: image.SetPixelFormat(TPixelFormat::pf8bit); break;
    case TPixelFormat::pf16bit: image.SetPixelFormat(TPixelFormat::pf15bit); break;
    case TPixelFormat::pfDevice: case TPixelFormat::pfCustom: image.SetPixelFormat(TPixelFormat::pf24bit); break;
    default: break;
    }
    const int pixelBytes = image.PixelFormat() == TPixelFormat::pf15bit ? 2 : image.BitCount() / 8;
    const bool mapped = pixelBytes == 1;

    std::array<uint8_t, HeaderSize> header{};
    header[1] = mapped ? 1 : 0;
    header[2] = uint8_t((mapped ? 1 : 2) + (compress ? 8 : 0));
    header[5] = 0;  // 256 map entries
    header[6] = 1;
    header[7] = 24;
    header[12] = uint8_t(image.Width());
    header[13] = uint8_t(image.Width() >> 8);
    header[14] = uint8_t(image.Height());
    header[15] = uint8_t(image.Height() >> 8);
    header[16] = uint8_t(pixelBytes * 8);
    header[17] = TopDown;  // rows are written from the top
    stream.WriteBuffer(header.data(), HeaderSize);

    if (mapped) {
        std::vector<TPaletteEntry> palette = image.Palette();
        palette.resize(256);
        std::vector<uint8_t> map;
        for (const TPaletteEntry& e : palette) map.insert(map.end(), {e.peBlue, e.peGreen, e.peRed});
        stream.WriteBuffer(map.data(), int64_t(map.size()));
    }

    const int64_t rowBytes = int64_t(image.Width()) * pixelBytes;
    TTargaRLEDecoder encoder(pixelBytes * 8);
    std::vector<uint8_t> packed(size_t(int64_t(image.Width()) * (pixelBytes + 1)));
    for (int y = 0; y < image.Height(); ++y) {
        if (!compress) {
            stream.WriteBuffer(image.ScanLine(y), rowBytes);
            continue;
        }
        int64_t written = 0;
        encoder.Encode(image.ScanLine(y), packed.data(), written, image.Width());
        stream.WriteBuffer(packed.data(), written);
    }
}
