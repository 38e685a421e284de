#include "PSDGraphic.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "RunLengthDecoders.h"
#include "platform/ByteReader.h"
#include "platform/PictureLimits.h"

namespace {

constexpr int HeaderSize = 26;

enum TPSDMode { pmBitmap = 0, pmGray = 1, pmIndexed = 2, pmRGB = 3, pmCMYK = 4, pmMultichannel = 7, pmDuotone = 8, pmLab = 9 };

struct TPSDHeader {
    int channels, height, width, depth, mode;
    explicit TPSDHeader(const TByteReader& in)
        : channels(in.U16BEAt(12)), height(int(std::min<uint32_t>(in.U32BEAt(14), 1u << 30))),
          width(int(std::min<uint32_t>(in.U32BEAt(18), 1u << 30))), depth(in.U16BEAt(22)), mode(in.U16BEAt(24)) {}
    // The channels the bitmap shows; extra channels (spot colours, masks) are ignored.
    int Used() const {
        switch (mode) {
        case pmRGB: case pmMultichannel: return channels >= 4 ? 4 : channels >= 3 ? 3 : 1;
        case pmGray: return channels >= 2 ? 2 : 1;
        case pmCMYK: return 4;
        case pmLab: return 3;
        default: return 1;
        }
    }
};

[[noreturn]] void RaiseInvalid() { RaiseGraphicErrorFmt(gesInvalidImage, {"PSD or PDD"}); }

std::span<const uint8_t> Section(TByteReader& in) { return in.Bytes(in.U32BE()); }

// The merged image's rows, channel after channel, read one at a time.
class TPSDRows {
public:
    TPSDRows(TByteReader& in, const TPSDHeader& header, int64_t rowBytes) : in_(in), rowBytes_(rowBytes) {
        const uint16_t compression = in.U16BE();
        if (compression > 1) RaiseGraphicErrorFmt("Cannot load image. %s not supported for %s files.", {"The compression scheme is", "PSD or PDD"});
        packed_ = compression == 1;
        if (packed_) counts_ = TByteReader(in.Bytes(int64_t(header.height) * header.channels * 2));
    }

    void Next(uint8_t* target) {
        if (!packed_) {
            const auto raw = in_.Bytes(rowBytes_);
            std::copy(raw.begin(), raw.end(), target);
            return;
        }
        std::fill_n(target, rowBytes_, 0);
        const auto packed = in_.Bytes(counts_.U16BE());
        const uint8_t* source = packed.data();
        decoder_.Decode(source, target, rowBytes_, int64_t(packed.size()));
    }

private:
    TByteReader& in_;
    int64_t rowBytes_;
    bool packed_ = false;
    TByteReader counts_{nullptr, 0};
    TPackbitsRLEDecoder decoder_;
};

// Sixteen-bit samples keep their high byte, gathered at the front.
void NarrowSamples(std::span<uint8_t> samples) {
    for (size_t i = 0; i < samples.size() / 2; ++i) samples[i] = samples[2 * i];
}

std::vector<TPaletteEntry> GrayRamp() {
    std::vector<TPaletteEntry> palette(256);
    for (int i = 0; i < 256; ++i) palette[size_t(i)] = {uint8_t(i), uint8_t(i), uint8_t(i), 0};
    return palette;
}

}  // namespace

bool TPSDGraphic::IsFormatStream(TStream& stream) {
    std::array<uint8_t, 26> h{};
    if (!PeekHeader(stream, 26, h)) return false;
    std::string signature;
    for (int i = 0; i < 4; ++i) signature += char(std::toupper(h[size_t(i)]));
    return signature == "8BPS" && TByteReader(h.data(), int64_t(h.size())).U16BEAt(4) == 1;
}

bool TPSDGraphic::ReadHeaderProperties(TStream& stream, int imageIndex) {
    TPicFormatGraphic::ReadHeaderProperties(stream, imageIndex);
    std::array<uint8_t, HeaderSize> h{};
    const int64_t read = PeekBytes(stream, h);
    const TByteReader in(h.data(), HeaderSize);
    if (read < HeaderSize || std::memcmp(h.data(), "8BPS", 4) != 0) return false;
    const TPSDHeader header(in);
    properties_.Options = ioBigEndian;
    properties_.BitsPerSample = uint8_t(header.depth);
    properties_.PSDChannels = uint8_t(header.channels);
    properties_.SamplesPerPixel = uint8_t(std::min(header.channels, 4));
    properties_.BitsPerPixel = uint8_t(properties_.BitsPerSample * properties_.SamplesPerPixel);
    switch (header.mode) {
    case pmBitmap: properties_.ColorScheme = smGray; properties_.Options |= ioMinIsWhite; break;
    case pmGray: case pmDuotone: properties_.ColorScheme = smGray; break;
    case pmIndexed: properties_.ColorScheme = smIndexed; break;
    case pmRGB: case pmMultichannel: properties_.ColorScheme = header.channels == 3 ? smRGB : smRGBA; break;
    case pmCMYK: properties_.ColorScheme = smCMYK; break;
    case pmLab: properties_.ColorScheme = smLab; break;
    default: properties_.ColorScheme = smNone;
    }
    properties_.Width = uint32_t(header.width);
    properties_.Height = uint32_t(header.height);
    properties_.Compression = ctNone;
    return true;
}

void TPSDGraphic::LoadFromStream(TStream& stream) {
    const TLoadProgress progress(*this);
    streamStart_ = stream.Position();
    if (!ReadHeaderProperties(stream, 0)) RaiseInvalid();
    BeginStage(gsPreparing);
    const std::vector<uint8_t> bytes = ReadRest(stream);
    TByteReader in(bytes);
    const TPSDHeader header(in);
    const int used = header.Used();
    const bool bitmap = header.mode == pmBitmap;
    // Sixteen-bit indexed pictures cannot exist; other modes are either shown or refused.
    const bool depthKnown = bitmap ? header.depth == 1 : header.depth == 8 || (header.depth == 16 && header.mode != pmIndexed);
    const bool modeKnown = header.mode <= pmCMYK || header.mode >= pmMultichannel;
    if (!depthKnown || !modeKnown || header.channels < used || header.width == 0 || header.height == 0) RaiseInvalid();
    CheckPictureSize(header.width, header.height, header.depth * used, int64_t(bytes.size()));

    in.Seek(HeaderSize);
    const auto modeData = Section(in);
    Section(in);  // image resources
    Section(in);  // layers: the merged image follows them
    const int64_t rowBytes = (int64_t(header.width) * header.depth + 7) / 8;
    const int64_t width = header.width;

    // The channel after an RGB or gray picture's colours is its transparency.
    const bool alpha = used == 2 || (used == 4 && header.mode != pmCMYK);
    TBitmap image;
    image.SetPixelFormat(bitmap ? TPixelFormat::pf1bit : used == 1 ? TPixelFormat::pf8bit : alpha ? TPixelFormat::pf32bit : TPixelFormat::pf24bit);
    image.SetSize(header.width, header.height);
    if (bitmap) {
        image.SetPalette({{255, 255, 255, 0}, {0, 0, 0, 0}});
    } else if (header.mode == pmIndexed) {
        if (modeData.size() < 768) RaiseInvalid();
        std::vector<TPaletteEntry> palette(256);
        for (size_t i = 0; i < 256; ++i) palette[i] = {modeData[i], modeData[256 + i], modeData[512 + i], 0};
        image.SetPalette(palette);
    } else if (used == 1) {
        image.SetPalette(GrayRamp());
    }
    TPSDRows rows(in, header, rowBytes);
    if (used == 1) {
        BeginTransfer(header.width);
        const int64_t stored = bitmap ? rowBytes : width;
        std::vector<uint8_t> row(static_cast<size_t>(rowBytes));
        for (int y = 0; y < header.height; ++y) {
            rows.Next(row.data());
            if (header.depth == 16) NarrowSamples(row);
            std::memcpy(image.ScanLine(y), row.data(), size_t(stored));
            RowDone(header.height);
        }
        StoreImage(std::move(image));
        return;
    }

    BeginStage(gsLoadingData);
    std::vector<uint8_t> planes(static_cast<size_t>(int64_t(header.height) * used * rowBytes));
    for (int64_t at = 0; at < int64_t(planes.size()); at += rowBytes) rows.Next(planes.data() + at);
    if (header.depth == 16) {
        NarrowSamples(planes);
        planes.resize(planes.size() / 2);
    }
    const int64_t planeBytes = width * header.height;
    if (used == 2) {
        BeginTransfer(header.width);
        for (int y = 0; y < header.height; ++y) {
            const uint8_t* gray = planes.data() + y * width;
            const uint8_t* opacity = gray + planeBytes;
            uint8_t* row = image.ScanLine(y);
            for (int64_t x = 0; x < width; ++x) {
                row[4 * x] = row[4 * x + 1] = row[4 * x + 2] = gray[x];
                row[4 * x + 3] = opacity[x];
            }
            RowDone(header.height);
        }
        StoreImage(std::move(image));
        return;
    }

    TColorManager& colours = ColorManager();
    colours.SourceOptions = header.mode == pmLab ? cvoLabByteRange | cvoLabChromaOffset : 0;
    colours.SetSourceScheme(header.mode == pmCMYK ? smCMYK : header.mode == pmLab ? smLab : used == 4 ? smRGBA : smRGB);
    colours.SetSourceDepth(8);
    colours.SetSourceSampleCount(uint8_t(used));
    colours.SetTargetScheme(used == 4 && header.mode != pmCMYK ? smBGRA : smBGR);
    colours.SetTargetDepth(8);
    colours.SetTargetSampleCount(uint8_t(used == 4 && header.mode != pmCMYK ? 4 : 3));
    // Photoshop stores CMYK as the amount of paper left, the colour manager expects ink.
    if (header.mode == pmCMYK) for (uint8_t& b : planes) b = uint8_t(255 - b);
    BeginTransfer(header.width);
    for (int y = 0; y < header.height; ++y) {
        std::array<const uint8_t*, 4> sources{};
        for (int c = 0; c < used; ++c) sources[size_t(c)] = planes.data() + c * planeBytes + y * width;
        colours.TransformRow(std::span<const uint8_t* const>(sources.data(), size_t(used)), image.ScanLine(y), width);
        RowDone(header.height);
    }
    StoreImage(std::move(image));
}
