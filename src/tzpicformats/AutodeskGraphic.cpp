#include "AutodeskGraphic.h"

#include <array>
#include <cstring>
#include <vector>

#include "platform/ByteReader.h"
#include "platform/PictureLimits.h"

namespace {

constexpr int HeaderSize = 32;
constexpr uint16_t Magic = 0x9119;

}  // namespace

bool TAutodeskGraphic::IsFormatStream(TStream& stream) {
    std::array<uint8_t, 32> h{};
    if (!PeekHeader(stream, 32, h)) return false;
    return TByteReader(h.data(), int64_t(h.size())).U16LEAt(0) == Magic && h[10] == 8 && h[11] == 0;
}

bool TAutodeskGraphic::ReadHeaderProperties(TStream& stream, int imageIndex) {
    TPicFormatGraphic::ReadHeaderProperties(stream, imageIndex);
    std::array<uint8_t, HeaderSize> h{};
    const int64_t read = PeekBytes(stream, h);
    const TByteReader header(h.data(), HeaderSize);
    if (read < HeaderSize || header.U16LEAt(0) != Magic) return false;
    properties_.ColorScheme = smIndexed;
    properties_.Width = header.U16LEAt(2);
    properties_.Height = header.U16LEAt(4);
    properties_.BitsPerSample = 8;
    properties_.SamplesPerPixel = 1;
    properties_.BitsPerPixel = 8;
    properties_.Compression = ctNone;
    return true;
}

void TAutodeskGraphic::LoadFromStream(TStream& stream) {
    const TLoadProgress progress(*this);
    TPicFormatGraphic::LoadFromStream(stream);
    BeginTransfer(int(properties_.Width));
    const std::vector<uint8_t> bytes = ReadRest(stream);
    TByteReader in(bytes);
    in.Skip(10);
    // Only 8-bit uncompressed pictures exist; anything else would be misread.
    if (in.U8() != 8 || in.U8() != 0 || properties_.Width == 0 || properties_.Height == 0)
        RaiseGraphicErrorFmt(gesInvalidImage, {FormatName()});
    CheckPictureSize(properties_.Width, properties_.Height, 8, int64_t(bytes.size()));
    in.Seek(HeaderSize);
    std::vector<TPaletteEntry> palette(256);
    for (TPaletteEntry& entry : palette) {
        const auto rgb = in.Bytes(3);
        entry = {uint8_t(rgb[0] << 2), uint8_t(rgb[1] << 2), uint8_t(rgb[2] << 2), 0};
    }

    TBitmap image;
    image.SetPixelFormat(TPixelFormat::pf8bit);
    image.SetSize(int(properties_.Width), int(properties_.Height));
    image.SetPalette(palette);
    for (int y = 0; y < image.Height(); ++y) {
        const auto row = in.Bytes(properties_.Width);
        std::memcpy(image.ScanLine(y), row.data(), row.size());
        RowDone(image.Height());
    }
    StoreImage(std::move(image));
}
