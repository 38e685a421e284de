#include "PPMGraphic.h"

#include <array>
#include <span>
#include <vector>

#include "platform/PictureLimits.h"

namespace {

[[noreturn]] void RaiseReadError() { RaiseGraphicErrorFmt("Stream read error in %s file.", {"PPM"}); }

// A header or plain sample text: numbers between any non-digits, "#" comments to the line end.
class TPnmText {
public:
    explicit TPnmText(std::span<const uint8_t> bytes) : bytes_(bytes) {}

    size_t Position() const { return position_; }
    std::span<const uint8_t> Rest() const { return bytes_.subspan(position_); }

    // The number ends at the first non-digit, which is consumed: after the maximum value of a raw
    // map that is the single separator before the samples.
    uint32_t Number() {
        SkipTo([](uint8_t c) { return c >= '0' && c <= '9'; });
        uint64_t value = 0;
        while (position_ < bytes_.size() && IsDigit(bytes_[position_])) {
            value = value * 10 + uint64_t(bytes_[position_++] - '0');
            if (value > 0xFFFFFFFFu) RaiseReadError();
        }
        if (position_ < bytes_.size() && bytes_[position_] != '#') ++position_;
        return uint32_t(value);
    }

    // Plain bitmaps may run their digits together, so each pixel is one digit.
    bool Bit() {
        SkipTo([](uint8_t c) { return !IsSpace(c); });
        const uint8_t c = bytes_[position_++];
        if (c != '0' && c != '1') RaiseReadError();
        return c == '1';
    }

private:
    static bool IsDigit(uint8_t c) { return c >= '0' && c <= '9'; }
    static bool IsSpace(uint8_t c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

    template <class Stop>
    void SkipTo(Stop stop) {
        while (position_ < bytes_.size()) {
            const uint8_t c = bytes_[position_];
            if (c == '#') {
                while (position_ < bytes_.size() && bytes_[position_] != '\n' && bytes_[position_] != '\r') ++position_;
            } else if (stop(c)) {
                return;
            } else {
                ++position_;
            }
        }
        RaiseReadError();
    }

    std::span<const uint8_t> bytes_;
    size_t position_ = 0;
};

struct TPnmHeader {
    char kind = 0;  // '1' to '6'
    uint32_t width = 0, height = 0, maxValue = 1;
    bool Bitmap() const { return kind == '1' || kind == '4'; }
    bool Plain() const { return kind <= '3'; }
    int Samples() const { return kind == '3' || kind == '6' ? 3 : 1; }
};

// The numbers may share the magic's line or follow on later ones.
TPnmHeader ReadPnmHeader(TPnmText& text, std::span<const uint8_t> bytes) {
    if (bytes.size() < 2 || bytes[0] != 'P' || bytes[1] < '1' || bytes[1] > '6') RaiseReadError();
    TPnmHeader header;
    header.kind = char(bytes[1]);
    text.Number();  // the magic's digit
    header.width = text.Number();
    header.height = text.Number();
    if (!header.Bitmap()) header.maxValue = text.Number();
    if (header.width == 0 || header.height == 0 || header.maxValue == 0 || header.maxValue > 65535)
        RaiseGraphicErrorFmt(gesInvalidImage, {"PBM, PGM or PPM"});
    return header;
}

// Samples of a map whose maximum is not 255 are scaled to the bitmap's 0 to 255.
uint8_t Scaled(uint32_t value, uint32_t maxValue) {
    if (value >= maxValue) return 255;
    return uint8_t((value * 255 + maxValue / 2) / maxValue);
}

TImageProperties PropertiesOf(const TPnmHeader& header) {
    TImageProperties properties;
    properties.FileGamma = 1.0f;
    properties.Width = header.width;
    properties.Height = header.height;
    properties.Compression = ctNone;
    properties.SamplesPerPixel = uint8_t(header.Samples());
    properties.BitsPerSample = header.Bitmap() ? 1 : header.maxValue > 255 ? 16 : 8;
    properties.BitsPerPixel = uint8_t(properties.SamplesPerPixel * properties.BitsPerSample);
    properties.ColorScheme = header.Samples() == 3 ? smRGB : smIndexed;
    return properties;
}

}  // namespace

bool TPPMGraphic::IsFormatStream(TStream& stream) {
    std::array<uint8_t, 10> h{};
    if (!PeekHeader(stream, 10, h)) return false;
    return h[0] == 'P' && h[1] >= '1' && h[1] <= '6';
}

bool TPPMGraphic::ReadHeaderProperties(TStream& stream, int imageIndex) {
    TPicFormatGraphic::ReadHeaderProperties(stream, imageIndex);
    std::array<uint8_t, 512> head{};
    const int64_t read = PeekBytes(stream, head);
    const std::span<const uint8_t> bytes(head.data(), size_t(read));
    TPnmText text(bytes);
    TPnmHeader header;
    try {
        header = ReadPnmHeader(text, bytes);
    } catch (const EInvalidGraphic&) {
        return false;
    }
    properties_ = PropertiesOf(header);
    return true;
}

void TPPMGraphic::LoadFromStream(TStream& stream) {
    const TLoadProgress progress(*this);
    streamStart_ = stream.Position();
    const std::vector<uint8_t> bytes = ReadRest(stream);
    TPnmText text(bytes);
    const TPnmHeader header = ReadPnmHeader(text, bytes);
    const int samples = header.Samples();
    CheckPictureSize(header.width, header.height, header.Bitmap() ? 1 : 8 * samples, int64_t(bytes.size()));
    BeginTransfer(int(header.width));

    TBitmap image;
    image.SetPixelFormat(header.Bitmap() ? TPixelFormat::pf1bit : samples == 3 ? TPixelFormat::pf24bit : TPixelFormat::pf8bit);
    image.SetSize(int(header.width), int(header.height));
    if (header.Bitmap()) {
        image.SetPalette({{255, 255, 255, 0}, {0, 0, 0, 0}});
    } else if (samples == 1) {
        std::vector<TPaletteEntry> gray(256);
        for (int i = 0; i < 256; ++i) gray[size_t(i)] = {uint8_t(i), uint8_t(i), uint8_t(i), 0};
        image.SetPalette(gray);
    }

    const int64_t width = header.width;
    const int sampleBytes = header.maxValue > 255 ? 2 : 1;
    const int64_t rawRowBytes = header.Bitmap() ? (width + 7) / 8 : width * samples * sampleBytes;
    const std::span<const uint8_t> raw = header.Plain() ? std::span<const uint8_t>() : text.Rest();
    const auto sample = [&](int64_t rowStart, int64_t index) -> uint8_t {
        if (header.Plain()) return Scaled(text.Number(), header.maxValue);
        const uint8_t* at = raw.data() + rowStart + index * sampleBytes;
        return Scaled(sampleBytes == 2 ? uint32_t(at[0] << 8 | at[1]) : at[0], header.maxValue);
    };

    for (int y = 0; y < int(header.height); ++y) {
        uint8_t* row = image.ScanLine(y);
        const int64_t rowStart = y * rawRowBytes;
        if (!header.Plain() && int64_t(raw.size()) - rowStart < rawRowBytes) RaiseReadError();
        if (header.kind == '4') {
            std::copy_n(raw.data() + rowStart, rawRowBytes, row);
        } else if (header.kind == '1') {
            for (int64_t x = 0; x < width; ++x)
                if (text.Bit()) row[x / 8] = uint8_t(row[x / 8] | (0x80 >> (x % 8)));
        } else {
            for (int64_t x = 0; x < width; ++x) {
                if (samples == 1) {
                    row[x] = sample(rowStart, x);
                } else {
                    const uint8_t red = sample(rowStart, 3 * x), green = sample(rowStart, 3 * x + 1);
                    row[3 * x + 2] = red;
                    row[3 * x + 1] = green;
                    row[3 * x] = sample(rowStart, 3 * x + 2);
                }
            }
        }
        RowDone(header.height);
    }
    StoreImage(std::move(image));
    properties_ = PropertiesOf(header);
}
