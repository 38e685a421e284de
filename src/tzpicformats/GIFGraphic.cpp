#include "GIFGraphic.h"

#include <array>
#include <cctype>
#include <cstring>
#include <vector>

#include "LZWDecoders.h"
#include "platform/ByteReader.h"
#include "platform/PictureLimits.h"

namespace {

struct TGIFImage {
    int width = 0, height = 0;
    bool interlaced = false;
    std::vector<TPaletteEntry> palette;
    int codeSize = 0;
    std::vector<uint8_t> data;  // the sub-blocks joined
};

std::vector<TPaletteEntry> ReadTable(TByteReader& in, uint8_t flags) {
    std::vector<TPaletteEntry> table(size_t(2) << (flags & 7));
    for (TPaletteEntry& entry : table) {
        const auto rgb = in.Bytes(3);
        entry = {rgb[0], rgb[1], rgb[2], 0};
    }
    return table;
}

void SkipSubBlocks(TByteReader& in) {
    for (uint8_t size; (size = in.U8()) != 0;) in.Skip(size);
}

// Passes extensions and stray bytes; answers the image separator or the trailer.
uint8_t SkipExtensions(TByteReader& in) {
    for (;;) {
        const uint8_t byte = in.U8();
        if (byte == ',' || byte == ';') return byte;
        if (byte == '!') {
            in.Skip(1);  // the label: every extension is a chain of sub-blocks
            SkipSubBlocks(in);
        }
    }
}

// The first image; a file that ends at its trailer first has none and is refused.
TGIFImage ReadFirstImage(TByteReader& in) {
    in.Seek(6);
    const int screenWidth = in.U16LE(), screenHeight = in.U16LE();
    const uint8_t flags = in.U8();
    in.Skip(2);
    TGIFImage image;
    if (flags & 0x80) image.palette = ReadTable(in, flags);
    if (SkipExtensions(in) != ',') RaiseGraphicErrorFmt(gesInvalidImage, {"GIF"});
    in.Skip(4);
    image.width = in.U16LE();
    image.height = in.U16LE();
    if (image.width == 0) image.width = screenWidth;
    if (image.height == 0) image.height = screenHeight;
    const uint8_t imageFlags = in.U8();
    if (imageFlags & 0x80) image.palette = ReadTable(in, imageFlags);
    image.interlaced = imageFlags & 0x40;
    image.codeSize = in.U8();
    if (image.codeSize < 1 || image.codeSize > 11) RaiseGraphicErrorFmt(gesInvalidImage, {"GIF"});
    for (uint8_t size; in.Remaining() > 0 && (size = in.U8()) != 0;) {
        const auto block = in.Bytes(std::min<int64_t>(size, in.Remaining()));
        image.data.insert(image.data.end(), block.begin(), block.end());
    }
    return image;
}

}  // namespace

bool TGIFGraphic::IsFormatStream(TStream& stream) {
    std::array<uint8_t, 22> h{};
    if (!PeekHeader(stream, 22, h)) return false;
    return std::toupper(h[0]) == 'G' && std::toupper(h[1]) == 'I' && std::toupper(h[2]) == 'F';
}

bool TGIFGraphic::ReadHeaderProperties(TStream& stream, int imageIndex) {
    TPicFormatGraphic::ReadHeaderProperties(stream, imageIndex);
    const int64_t start = stream.Position();
    std::array<uint8_t, 13> h{};
    const int64_t read = PeekBytes(stream, h);
    if (read < 13 || std::toupper(h[0]) != 'G' || std::toupper(h[1]) != 'I' || std::toupper(h[2]) != 'F') return false;
    if (std::isdigit(h[3]) && std::isdigit(h[4])) properties_.Version = uint32_t((h[3] - '0') * 10 + (h[4] - '0'));
    const std::vector<uint8_t> bytes = ReadRest(stream);
    stream.SetPosition(start);
    TByteReader in(bytes);
    try {
        const TGIFImage image = ReadFirstImage(in);
        properties_.Width = uint32_t(image.width);
        properties_.Height = uint32_t(image.height);
        properties_.Interlaced = image.interlaced;
    } catch (const Exception&) {
        return false;
    }
    properties_.ColorScheme = smIndexed;
    properties_.SamplesPerPixel = 1;
    properties_.BitsPerSample = 8;
    properties_.BitsPerPixel = 8;
    properties_.Compression = ctLZW;
    return true;
}

void TGIFGraphic::LoadFromStream(TStream& stream) {
    const TLoadProgress progress(*this);
    streamStart_ = stream.Position();
    const std::vector<uint8_t> bytes = ReadRest(stream);
    if (bytes.size() < 13 || std::toupper(bytes[0]) != 'G' || std::toupper(bytes[1]) != 'I' || std::toupper(bytes[2]) != 'F')
        RaiseGraphicErrorFmt(gesInvalidImage, {FormatName()});
    BeginStage(gsPreparing);
    TByteReader in(bytes);
    TGIFImage gif = ReadFirstImage(in);
    if (gif.width == 0 || gif.height == 0) RaiseGraphicErrorFmt(gesInvalidImage, {FormatName()});
    CheckPictureSize(gif.width, gif.height, 8, int64_t(bytes.size()));
    BeginStage(gsLoadingData);
    // One spare row: encoders may end a little beyond the last pixel.
    std::vector<uint8_t> pixels(size_t(gif.width) * size_t(gif.height + 1));
    const uint8_t* source = gif.data.data();
    uint8_t* target = pixels.data();
    TGIFLZWDecoder(gif.codeSize).Decode(source, target, int64_t(pixels.size()), int64_t(gif.data.size()));
    if (target - pixels.data() < int64_t(gif.width) * gif.height) RaiseGraphicErrorFmt(gesTruncatedImage, {FormatName()});

    TBitmap image;
    image.SetPixelFormat(TPixelFormat::pf8bit);
    image.SetSize(gif.width, gif.height);
    if (gif.palette.empty()) {
        gif.palette.resize(256);
        for (int i = 0; i < 256; ++i) gif.palette[size_t(i)] = {uint8_t(i), uint8_t(i), uint8_t(i), 0};
    }
    image.SetPalette(gif.palette);
    BeginTransfer(gif.width);
    constexpr std::array<std::array<int, 2>, 4> Passes = {{{0, 8}, {4, 8}, {2, 4}, {1, 2}}};
    int64_t next = 0;
    const auto copyRow = [&](int y) { std::memcpy(image.ScanLine(y), pixels.data() + gif.width * next++, size_t(gif.width)); };
    if (!gif.interlaced) {
        for (int y = 0; y < gif.height; ++y) {
            copyRow(y);
            RowDone(gif.height);
        }
    } else {
        for (const auto& [first, step] : Passes) {
            const bool lastPass = step == 2;
            for (int y = first; y < gif.height; y += step) {
                copyRow(y);
                if (lastPass) RowDone(gif.height);
                else RowDoneQuietly();
            }
        }
    }
    properties_.Width = uint32_t(gif.width);
    properties_.Height = uint32_t(gif.height);
    StoreImage(std::move(image));
}
