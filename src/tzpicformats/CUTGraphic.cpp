#include "CUTGraphic.h"

#include <array>
#include <filesystem>

#include "RunLengthDecoders.h"
#include "platform/ByteReader.h"
#include "platform/PictureLimits.h"

namespace {

constexpr int HeaderSize = 6;
constexpr int64_t SmallPicturePixels = 65536;
constexpr int64_t PaletteBlock = 512;

// Entries are three 16-bit values, of which the low byte counts; an entry never straddles a block.
std::vector<TPaletteEntry> ReadHaloPalette(const std::vector<uint8_t>& bytes) {
    const TByteReader file(bytes);
    const int count = std::min(int(file.U16LEAt(12)) + 1, 256);
    std::vector<TPaletteEntry> palette(256);
    int64_t at = 40;
    for (int i = 0; i < count; ++i) {
        if (at % PaletteBlock > PaletteBlock - 6) at = (at / PaletteBlock + 1) * PaletteBlock;
        palette[size_t(i)] = {file.U8At(at), file.U8At(at + 2), file.U8At(at + 4), 0};
        at += 6;
    }
    return palette;
}

}  // namespace

// Cut files carry no signature: they are found by their extension only.
bool TCUTGraphic::IsFormatStream(TStream&) { return false; }

void TCUTGraphic::LoadFromFile(const std::string& fileName) {
    paletteFile_ = std::filesystem::path(fileName).replace_extension(".pal").string();
    TPicFormatGraphic::LoadFromFile(fileName);
}

bool TCUTGraphic::ReadHeaderProperties(TStream& stream, int imageIndex) {
    TPicFormatGraphic::ReadHeaderProperties(stream, imageIndex);
    std::array<uint8_t, HeaderSize> h{};
    const int64_t read = PeekBytes(stream, h);
    const TByteReader in(h.data(), HeaderSize);
    properties_.Width = in.U16LEAt(0);
    properties_.Height = in.U16LEAt(2);
    properties_.ColorScheme = smIndexed;
    properties_.BitsPerSample = 8;
    properties_.SamplesPerPixel = 1;
    properties_.BitsPerPixel = 8;
    properties_.Compression = ctRLE;
    return read == HeaderSize;
}

std::vector<TPaletteEntry> TCUTGraphic::LoadPaletteFile() const {
    std::error_code error;
    if (!paletteFile_.empty() && std::filesystem::is_regular_file(paletteFile_, error)) {
        TFileStream file(paletteFile_, fmOpenRead);
        return ReadHaloPalette(ReadRest(file));
    }
    std::vector<TPaletteEntry> gray(256);
    for (int i = 0; i < 256; ++i) gray[size_t(i)] = {uint8_t(i), uint8_t(i), uint8_t(i), 0};
    return gray;
}

void TCUTGraphic::LoadFromStream(TStream& stream) {
    const TLoadProgress progress(*this);
    streamStart_ = stream.Position();
    // A header without a size is an error, not an empty picture.
    if (!ReadHeaderProperties(stream, 0) || properties_.Width == 0 || properties_.Height == 0)
        RaiseGraphicErrorFmt(gesInvalidImage, {FormatName()});
    BeginTransfer(int(properties_.Width));
    const std::vector<uint8_t> bytes = ReadRest(stream);
    CheckPictureSize(properties_.Width, properties_.Height, 8, int64_t(bytes.size()));
    // A row takes its length word, a packet of two bytes per 127 pixels at best and the end byte,
    // so a few bytes cannot claim a large picture; small ones fail in the row where data end.
    const int64_t leastRowBytes = 3 + 2 * ((int64_t(properties_.Width) + 126) / 127);
    if (int64_t(properties_.Width) * properties_.Height > SmallPicturePixels &&
        (int64_t(bytes.size()) - HeaderSize) / leastRowBytes < int64_t(properties_.Height))
        RaiseGraphicErrorFmt(gesTruncatedImage, {FormatName()});

    TBitmap image;
    image.SetPixelFormat(TPixelFormat::pf8bit);
    image.SetSize(int(properties_.Width), int(properties_.Height));
    image.SetPalette(LoadPaletteFile());
    const uint8_t* source = bytes.data() + HeaderSize;
    const uint8_t* end = bytes.data() + bytes.size();
    TCUTRLEDecoder decoder;
    for (int y = 0; y < image.Height(); ++y) {
        uint8_t* target = image.ScanLine(y);
        decoder.Decode(source, target, properties_.Width, end - source);
        RowDone(image.Height());
    }
    StoreImage(std::move(image));
}
