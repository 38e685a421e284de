#include "PCDGraphic.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "platform/ByteReader.h"

namespace {

constexpr int64_t Sector = 2048;
constexpr int HeaderBytes = 6144;
constexpr int BaseResolution = 2;

bool IsOverview(std::span<const uint8_t> head) { return std::memcmp(head.data(), "PCD_OPA", 7) == 0; }

// The sector where the image data of a resolution begins.
int64_t DataSector(bool overview, int resolution) {
    if (overview) return 5;
    return resolution == 0 ? 4 : resolution == 1 ? 23 : 96;
}

// Turns row y of the converted picture into the bitmap by the pack's orientation.
void StoreRow(TBitmap& image, int orientation, int y, const uint8_t* bgr, int width, int height) {
    switch (orientation) {
    case 1:
        for (int x = 0; x < width; ++x) std::memcpy(image.ScanLine(width - 1 - x) + 3 * y, bgr + 3 * x, 3);
        break;
    case 3:
        for (int x = 0; x < width; ++x) std::memcpy(image.ScanLine(x) + 3 * (height - 1 - y), bgr + 3 * x, 3);
        break;
    case 2:
        for (int x = 0; x < width; ++x) std::memcpy(image.ScanLine(height - 1 - y) + 3 * (width - 1 - x), bgr + 3 * x, 3);
        break;
    default: std::memcpy(image.ScanLine(y), bgr, size_t(3 * width));
    }
}

}  // namespace

bool TPCDGraphic::IsFormatStream(TStream& stream) {
    std::array<uint8_t, 2051> h{};
    if (!PeekHeader(stream, 6144, h)) return false;
    return IsOverview(h) || std::memcmp(h.data() + 2048, "PCD", 3) == 0;
}

bool TPCDGraphic::ReadHeaderProperties(TStream& stream, int imageIndex) {
    TPicFormatGraphic::ReadHeaderProperties(stream, imageIndex);
    std::array<uint8_t, HeaderBytes> h{};
    const int64_t read = PeekBytes(stream, h);
    if (read < HeaderBytes || !(IsOverview(h) || std::memcmp(h.data() + 2048, "PCD", 3) == 0)) return false;
    const bool overview = IsOverview(h);
    const int resolution = overview ? 0 : std::clamp(imageIndex, 0, 5);
    properties_.PCDOverview = overview;
    properties_.PCDOrientation = uint8_t(h[3586] & 3);
    properties_.Width = 192u << resolution;
    properties_.Height = 128u << resolution;
    if (properties_.PCDOrientation % 2) std::swap(properties_.Width, properties_.Height);
    properties_.ColorScheme = smPhotoYCC;
    properties_.BitsPerSample = 8;
    properties_.SamplesPerPixel = 3;
    properties_.BitsPerPixel = 24;
    properties_.Compression = resolution < 3 ? ctNone : ctPCDHuffmann;
    if (overview) properties_.PCDImageCount = uint16_t(h[10] << 8 | h[11]);
    return true;
}

void TPCDGraphic::LoadFromStream(TStream& stream) {
    const TLoadProgress progress(*this);
    streamStart_ = stream.Position();
    // A stream without either signature is an error, not an empty picture.
    if (!ReadHeaderProperties(stream, BaseResolution)) RaiseGraphicErrorFmt(gesInvalidImage, {FormatName()});
    BeginStage(gsPreparing);
    const bool overview = properties_.PCDOverview;
    // An overview pack holds thumbnails of its own size, not the image pack's base picture.
    const int resolution = overview ? 0 : BaseResolution;
    const int width = 192 << resolution, height = 128 << resolution;
    const int orientation = properties_.PCDOrientation;

    const std::vector<uint8_t> bytes = ReadRest(stream);
    TByteReader in(bytes);
    in.Seek(std::min<int64_t>(DataSector(overview, resolution) * Sector, in.Size()));
    std::vector<uint8_t> luma(size_t(width) * height), chroma1(luma.size()), chroma2(luma.size());
    const int half = width / 2;
    BeginStage(gsLoadingData);
    for (int pair = 0; pair < height / 2; ++pair) {
        const auto rows = in.Bytes(2 * int64_t(width));
        std::copy(rows.begin(), rows.end(), luma.begin() + int64_t(2 * pair) * width);
        const auto c1 = in.Bytes(half), c2 = in.Bytes(half);
        std::copy(c1.begin(), c1.end(), chroma1.begin() + int64_t(pair) * width);
        std::copy(c2.begin(), c2.end(), chroma2.begin() + int64_t(pair) * width);
        StageProgress(2 * (pair + 1), height);
    }
    BeginStage(gsUpsampling);
    UpsamplePCDPlane(half, height / 2, width, chroma1);
    UpsamplePCDPlane(half, height / 2, width, chroma2);

    TColorManager& colours = ColorManager();
    colours.SetSourceScheme(smPhotoYCC);
    colours.SetSourceDepth(8);
    colours.SetSourceSampleCount(3);
    colours.SetTargetScheme(smBGR);
    colours.SetTargetDepth(8);
    colours.SetTargetSampleCount(3);
    const std::array<float, 3> luminance = {0.2125f, 0.7154f, 0.0721f};
    colours.SetYCbCrLayout(luminance, 2, 2);

    TBitmap image;
    image.SetPixelFormat(TPixelFormat::pf24bit);
    image.SetSize(orientation % 2 ? height : width, orientation % 2 ? width : height);
    std::vector<uint8_t> row(size_t(3 * width));
    BeginTransfer(image.Width());
    for (int y = 0; y < height; ++y) {
        const size_t at = size_t(y) * width;
        const std::array<const uint8_t*, 3> planes = {luma.data() + at, chroma1.data() + at, chroma2.data() + at};
        colours.TransformRow(planes, row.data(), width);
        StoreRow(image, orientation, y, row.data(), width, height);
        RowDone(height);
    }
    StoreImage(std::move(image));
}
