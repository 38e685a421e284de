#include "SGIGraphic.h"

#include <algorithm>
#include <array>
#include <vector>

#include "RunLengthDecoders.h"
#include "platform/ByteReader.h"
#include "platform/PictureLimits.h"

namespace {

constexpr int HeaderSize = 512;
constexpr uint16_t Magic = 474;

struct TSGIHeader {
    bool runLength;
    int sampleBytes, width, height, channels;

    explicit TSGIHeader(const TByteReader& in)
        : runLength(in.U8At(2) == 1), sampleBytes(in.U8At(3)), width(in.U16BEAt(6)),
          height(in.U16BEAt(4) == 1 ? 1 : in.U16BEAt(8)), channels(in.U16BEAt(4) <= 2 ? 1 : in.U16BEAt(10)) {}
};

// Reads file rows (counted from the bottom) of one channel into 8-bit samples; two-byte samples
// keep their high byte.
class TSGIRows {
public:
    TSGIRows(const TByteReader& file, const TSGIHeader& header) : file_(file), header_(header), decoder_(header.sampleBytes * 8) {
        row_.resize(size_t(int64_t(header.width) * header.sampleBytes));
    }

    const std::vector<uint8_t>& Row(int y, int channel) {
        const int64_t index = int64_t(channel) * header_.height + y;
        if (!header_.runLength) {
            const auto bytes = file_.BytesAt(HeaderSize + index * int64_t(row_.size()), int64_t(row_.size()));
            std::copy(bytes.begin(), bytes.end(), row_.begin());
        } else {
            const int64_t tableEntries = int64_t(header_.height) * header_.channels;
            const uint32_t offset = file_.U32BEAt(HeaderSize + 4 * index);
            const uint32_t length = file_.U32BEAt(HeaderSize + 4 * (tableEntries + index));
            const auto packed = file_.BytesAt(offset, length);
            std::fill(row_.begin(), row_.end(), 0);
            const uint8_t* source = packed.data();
            uint8_t* target = row_.data();
            decoder_.Decode(source, target, int64_t(row_.size()), int64_t(packed.size()));
        }
        return row_;
    }

    uint8_t Sample(int x) const { return row_[size_t(x) * size_t(header_.sampleBytes)]; }

private:
    const TByteReader& file_;
    const TSGIHeader& header_;
    TSGIRLEDecoder decoder_;
    std::vector<uint8_t> row_;
};

}  // namespace

bool TSGIGraphic::IsFormatStream(TStream& stream) {
    std::array<uint8_t, 512> h{};
    if (!PeekHeader(stream, 512, h)) return false;
    TByteReader reader(h.data(), int64_t(h.size()));
    const uint16_t dimension = reader.U16BEAt(4);
    return reader.U16BEAt(0) == Magic && (h[3] == 1 || h[3] == 2) && dimension >= 1 && dimension <= 3;
}

bool TSGIGraphic::ReadHeaderProperties(TStream& stream, int imageIndex) {
    TPicFormatGraphic::ReadHeaderProperties(stream, imageIndex);
    std::array<uint8_t, HeaderSize> h{};
    const int64_t read = PeekBytes(stream, h);
    const TByteReader in(h.data(), HeaderSize);
    if (read < HeaderSize || in.U16BEAt(0) != Magic) return false;
    const TSGIHeader header(in);
    properties_.Options = ioBigEndian;
    properties_.BitsPerSample = uint8_t(header.sampleBytes * 8);
    properties_.Width = uint32_t(header.width);
    properties_.Height = uint32_t(header.height);
    properties_.SamplesPerPixel = uint8_t(header.channels);
    properties_.BitsPerPixel = uint8_t(properties_.BitsPerSample * properties_.SamplesPerPixel);
    properties_.ColorScheme = header.channels == 3 ? smRGB : header.channels == 4 ? smRGBA : smIndexed;
    properties_.Compression = header.runLength ? ctRLE : ctNone;
    return true;
}

void TSGIGraphic::LoadFromStream(TStream& stream) {
    const TLoadProgress progress(*this);
    const std::vector<uint8_t> bytes = ReadHeaderAndRest(stream);
    const TByteReader file(bytes);
    const TSGIHeader header(file);
    if ((header.sampleBytes != 1 && header.sampleBytes != 2) || header.width == 0 || header.height == 0 || header.channels == 0)
        RaiseGraphicErrorFmt(gesInvalidImage, {FormatName()});
    const int colours = header.channels >= 4 ? 4 : header.channels >= 3 ? 3 : 1;
    CheckPictureSize(header.width, header.height, 8 * colours, int64_t(bytes.size()));

    // The row tables belong to the set-up: a file cut inside them has no rows to show.
    if (header.runLength) file.BytesAt(HeaderSize, 8 * int64_t(header.height) * header.channels);
    TSGIRows rows(file, header);

    TBitmap image;
    image.SetPixelFormat(colours == 4 ? TPixelFormat::pf32bit : colours == 3 ? TPixelFormat::pf24bit : TPixelFormat::pf8bit);
    image.SetSize(header.width, header.height);
    if (colours == 1) {
        std::vector<TPaletteEntry> gray(256);
        for (int i = 0; i < 256; ++i) gray[size_t(i)] = {uint8_t(i), uint8_t(i), uint8_t(i), 0};
        image.SetPalette(gray);
    }
    EndStage(100);
    BeginTransfer(header.width);
    // Bitmap rows hold blue, green, red (and alpha); the file's channels are red, green, blue, alpha.
    constexpr std::array<int, 4> ColourByte = {2, 1, 0, 3};
    for (int y = 0; y < header.height; ++y) {
        uint8_t* target = image.ScanLine(header.height - 1 - y);
        for (int channel = 0; channel < colours; ++channel) {
            rows.Row(y, channel);
            const int at = colours == 1 ? 0 : ColourByte[size_t(channel)];
            for (int x = 0; x < header.width; ++x) target[int64_t(x) * colours + at] = rows.Sample(x);
        }
        RowDone(header.height);
    }
    StoreImage(std::move(image));
}
