#include "RLAGraphic.h"

#include <array>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <string>
#include <vector>

#include "RunLengthDecoders.h"
#include "platform/ByteReader.h"
#include "platform/PictureLimits.h"

namespace {

constexpr int HeaderSize = 740;

std::string Text(std::span<const uint8_t> header, size_t offset, size_t size) {
    std::string text;
    for (size_t i = offset; i < offset + size && header[i] != 0; ++i) text += char(header[i]);
    return text;
}

std::string ChannelSpace(std::span<const uint8_t> header) {
    std::string space = Text(header, 580, 32);
    for (char& c : space) c = char(std::tolower(static_cast<unsigned char>(c)));
    return space;
}

}  // namespace

bool TRLAGraphic::IsFormatStream(TStream& stream) {
    std::array<uint8_t, 740> h{};
    if (!PeekHeader(stream, 740, h)) return false;
    TByteReader reader(h.data(), int64_t(h.size()));
    if (reader.U16BEAt(26) != 0xFFFE) return false;
    const std::string space = ChannelSpace(h);
    return space == "rgb" || space == "xyz";
}

bool TRLAGraphic::ReadHeaderProperties(TStream& stream, int imageIndex) {
    TPicFormatGraphic::ReadHeaderProperties(stream, imageIndex);
    std::array<uint8_t, HeaderSize> h{};
    const int64_t read = PeekBytes(stream, h);
    if (read < HeaderSize) return false;
    const TByteReader in(h.data(), HeaderSize);
    const std::string space = ChannelSpace(h);
    if (space == "xyz") return false;
    const int left = int16_t(in.U16BEAt(8)), right = int16_t(in.U16BEAt(10));
    const int bottom = int16_t(in.U16BEAt(12)), top = int16_t(in.U16BEAt(14));
    const int colours = in.U16BEAt(20), mattes = in.U16BEAt(22);
    properties_.Options = ioBigEndian;
    properties_.SamplesPerPixel = uint8_t(colours + (mattes == 1 ? 1 : 0));
    properties_.BitsPerSample = uint8_t(in.U16BEAt(658));
    properties_.BitsPerPixel = uint8_t(properties_.SamplesPerPixel * properties_.BitsPerSample);
    if (space == "rgb") properties_.ColorScheme = mattes == 1 ? smRGBA : smRGB;
    const std::string gamma = Text(h, 28, 16);
    char* end = nullptr;
    const float value = std::strtof(gamma.c_str(), &end);
    if (end != gamma.c_str() && value > 0) properties_.FileGamma = value;
    properties_.Compression = ctRLE;
    properties_.Width = uint32_t(std::max(right - left + 1, 0));
    properties_.Height = uint32_t(std::abs(bottom - top) + 1);
    properties_.RLABottomUp = bottom < top;
    return true;
}

void TRLAGraphic::LoadFromStream(TStream& stream) {
    const TLoadProgress progress(*this);
    streamStart_ = stream.Position();
    // Anything but 8-bit RGB with at most one matte is refused rather than loaded empty.
    const bool usable = ReadHeaderProperties(stream, 0) && properties_.ColorScheme != smNone &&
                        properties_.BitsPerSample == 8 && (properties_.SamplesPerPixel == 3 || properties_.SamplesPerPixel == 4) &&
                        properties_.Width > 0;
    if (!usable) RaiseGraphicErrorFmt(gesInvalidImage, {FormatName()});
    BeginTransfer(int(properties_.Width));
    const std::vector<uint8_t> bytes = ReadRest(stream);
    const TByteReader file(bytes);
    const int width = int(properties_.Width), height = int(properties_.Height);
    const int channels = properties_.SamplesPerPixel;
    CheckPictureSize(width, height, 8 * channels, int64_t(bytes.size()));

    TColorManager& colours = ColorManager();
    colours.SetSourceScheme(channels == 4 ? smRGBA : smRGB);
    colours.SetSourceDepth(8);
    colours.SetSourceSampleCount(uint8_t(channels));
    colours.SetTargetScheme(channels == 4 ? smBGRA : smBGR);
    colours.SetTargetDepth(8);
    colours.SetTargetSampleCount(uint8_t(channels));
    if (properties_.FileGamma != 1.0f) {
        colours.BuildGammaTable(properties_.FileGamma, 2.2f);
        colours.TargetOptions |= cvoApplyGamma;
        properties_.Options |= ioUseGamma;
    }

    TBitmap image;
    image.SetPixelFormat(channels == 4 ? TPixelFormat::pf32bit : TPixelFormat::pf24bit);
    image.SetSize(width, height);
    std::vector<uint8_t> planes(size_t(width) * size_t(channels));
    TRLADecoder decoder;
    for (int y = 0; y < height; ++y) {
        TByteReader row(bytes);
        row.Seek(file.U32BEAt(HeaderSize + 4 * int64_t(y)));
        std::array<const uint8_t*, 4> sources{};
        for (int c = 0; c < channels; ++c) {
            const auto packed = row.Bytes(row.U16BE());
            const uint8_t* source = packed.data();
            uint8_t* target = planes.data() + int64_t(c) * width;
            sources[size_t(c)] = target;
            decoder.Decode(source, target, width, int64_t(packed.size()));
        }
        const int bitmapRow = properties_.RLABottomUp ? height - 1 - y : y;
        colours.TransformRow(std::span<const uint8_t* const>(sources.data(), size_t(channels)), image.ScanLine(bitmapRow), width);
        RowDone(height);
    }
    StoreImage(std::move(image));
}
