#include "PicFormatGraphic.h"

#include <algorithm>
#include <cstring>

#include "platform/PictureLimits.h"

const char* const gesInvalidImage = "Cannot load image. Invalid or unexpected %s image format.";
const char* const gesTruncatedImage = "Cannot load image. The %s image is truncated.";
const char* const gsPreparing = "Preparing...";
const char* const gsLoadingData = "Loading data...";
const char* const gsUpsampling = "Upsampling...";
const char* const gsTransfering = "Transfering...";

bool TPicFormatGraphic::IsFormatStream(TStream&) { return false; }

bool TPicFormatGraphic::IsFormatFile(const std::string& fileName, bool (*test)(TStream&)) {
    TFileStream stream(fileName, fmOpenRead);
    return test(stream);
}

void TPicFormatGraphic::Assign(const TBitmap& source) {
    if (const auto* graphic = dynamic_cast<const TPicFormatGraphic*>(&source)) properties_ = graphic->properties_;
    TBitmap::Assign(source);
}

bool TPicFormatGraphic::ReadHeaderProperties(TStream&, int) {
    properties_ = TImageProperties{};
    properties_.FileGamma = 1.0f;
    return false;
}

void TPicFormatGraphic::LoadFromStream(TStream& stream) {
    streamStart_ = stream.Position();
    if (!ReadHeaderProperties(stream, 0)) RaiseGraphicErrorFmt(gesInvalidImage, {FormatName()});
}

TPicFormatGraphic::TLoadProgress::TLoadProgress(TPicFormatGraphic& graphic) : graphic_(graphic) {
    graphic.openStage_ = nullptr;
    graphic.progressRect_ = Rect(0, 0, 0, 1);
}

TPicFormatGraphic::TLoadProgress::~TLoadProgress() {
    try {
        graphic_.EndStage();
    } catch (...) {
        // Only a failing load still has a stage open; its own error is the one to pass on.
    }
}

void TPicFormatGraphic::BeginStage(const char* message) {
    EndStage();
    openStage_ = message;
    Progress(TProgressStage::psStarting, 0, progressRect_, message);
}

void TPicFormatGraphic::EndStage(uint8_t percentDone) {
    if (!openStage_) return;
    openStage_ = nullptr;
    Progress(TProgressStage::psEnding, percentDone, progressRect_, "");
}

void TPicFormatGraphic::StageProgress(int64_t done, int64_t total) {
    Progress(TProgressStage::psRunning, uint8_t(done * 100 / total), progressRect_, "");
}

void TPicFormatGraphic::BeginTransfer(int width) {
    EndStage();
    progressRect_.Right = width;
    BeginStage(gsTransfering);
}

void TPicFormatGraphic::RowDone(int64_t rows) {
    StageProgress(progressRect_.Top + 1, rows);
    RowDoneQuietly();
}

void TPicFormatGraphic::RowDoneQuietly() {
    ++progressRect_.Top;
    ++progressRect_.Bottom;
}

void TPicFormatGraphic::StoreImage(TBitmap&& image) {
    TBitmap::Assign(std::move(image));
    EndStage();
}

void TPicFormatGraphic::PrepareBitmap(TBitmap& image, int64_t inputBytes) {
    const TImageProperties& p = properties_;
    TColorManager& colors = colorManager_;
    const TColorManagerScheme scheme = p.ColorScheme;
    const bool indexed = scheme == smIndexed, gray = scheme == smGray || scheme == smGrayAlpha;
    colors.SetSourceScheme(scheme);
    colors.SetSourceDepth(p.BitsPerSample);
    colors.SetSourceSampleCount(p.SamplesPerPixel);
    // Target depths are those a bitmap holds, so packed rows and palette sizes agree with it.
    const int bits = p.BitsPerSample;
    colors.SetTargetDepth(uint8_t(bits == 1 ? 1 : bits <= 4 ? 4 : 8));
    if (indexed || gray) {
        colors.SetTargetScheme(indexed ? smIndexed : smGray);
        colors.SetTargetSampleCount(1);
    } else {
        const bool alpha = p.HasAlpha || scheme == smRGBA || scheme == smBGRA;
        colors.SetTargetScheme(alpha ? smBGRA : smBGR);
        colors.SetTargetSampleCount(alpha ? 4 : 3);
    }
    colors.SourceOptions = uint8_t((colors.SourceOptions & ~cvoSwapBytes) | (p.Options & ioBigEndian ? cvoSwapBytes : 0));
    const TPixelFormat format = colors.PixelFormatOf(1);
    if (format == TPixelFormat::pfCustom) RaiseGraphicErrorFmt("Invalid color format in %s file.", {FormatName()});
    CheckPictureSize(p.Width, p.Height, BitsPerPixel(format), inputBytes);
    image.SetSize(0, 0);
    image.SetPixelFormat(format);
    image.SetSize(int(p.Width), int(p.Height));
    if (gray) image.SetPalette(colors.BuildGrayPalette(p.Options & ioMinIsWhite));
}

bool TPicFormatGraphic::PeekHeader(TStream& stream, int64_t moreThan, std::span<uint8_t> header) {
    if (stream.Size() - stream.Position() <= moreThan) return false;
    return PeekBytes(stream, header) == int64_t(header.size());
}

int64_t TPicFormatGraphic::PeekBytes(TStream& stream, std::span<uint8_t> header) {
    const int64_t start = stream.Position();
    const int64_t read = stream.Read(header.data(), int64_t(header.size()));
    stream.SetPosition(start);
    return read;
}

std::vector<uint8_t> TPicFormatGraphic::ReadHeaderAndRest(TStream& stream, const char* firstStage) {
    TPicFormatGraphic::LoadFromStream(stream);
    BeginStage(firstStage);
    return ReadRest(stream);
}

std::vector<uint8_t> TPicFormatGraphic::ReadRest(TStream& stream) {
    std::vector<uint8_t> bytes(size_t(std::max<int64_t>(0, stream.Size() - stream.Position())));
    stream.ReadBuffer(bytes.data(), int64_t(bytes.size()));
    return bytes;
}

void RaiseGraphicError(const std::string& message) { throw EInvalidGraphic(message); }

void RaiseGraphicErrorFmt(const std::string& format, std::initializer_list<std::string> arguments) {
    std::string message;
    auto argument = arguments.begin();
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == 's' && argument != arguments.end()) {
            message += *argument++;
            ++i;
        } else {
            message += format[i];
        }
    }
    RaiseGraphicError(message);
}

void SwapWordArray(uint16_t* values, int64_t count) {
    for (int64_t i = 0; i < count; ++i) values[i] = uint16_t((values[i] >> 8) | (values[i] << 8));
}

uint32_t SwapLong(uint32_t value) {
    return (value >> 24) | ((value >> 8) & 0xFF00) | ((value << 8) & 0xFF0000) | (value << 24);
}

void SwapLongArray(uint32_t* values, int64_t count) {
    for (int64_t i = 0; i < count; ++i) values[i] = SwapLong(values[i]);
}

namespace {

void ApplyPredictor(uint8_t* row, int64_t count, int bytesPerPixel) {
    for (int64_t i = bytesPerPixel; i < (count + 1) * bytesPerPixel; ++i) row[i] = uint8_t(row[i] + row[i - bytesPerPixel]);
}

}  // namespace

void ApplyPredictor8(uint8_t* row, int64_t count) { ApplyPredictor(row, count, 1); }
void ApplyPredictor24(uint8_t* row, int64_t count) { ApplyPredictor(row, count, 3); }
void ApplyPredictor32(uint8_t* row, int64_t count) { ApplyPredictor(row, count, 4); }

void UpsamplePCDPlane(int width, int height, int rowPitch, std::span<uint8_t> buffer) {
    if (width <= 0 || height <= 0) return;
    if (rowPitch < 2 * width || int64_t(buffer.size()) < int64_t(rowPitch) * 2 * height)
        RaiseGraphicError("Photo-CD plane buffer too small.");
    const auto row = [&](int y) { return buffer.data() + int64_t(y) * rowPitch; };
    std::vector<uint8_t> source(static_cast<size_t>(width));
    for (int y = height - 1; y >= 0; --y) {
        std::memcpy(source.data(), row(y), size_t(width));
        uint8_t* out = row(2 * y);
        for (int i = 0; i < width; ++i) {
            out[2 * i] = source[size_t(i)];
            out[2 * i + 1] = i + 1 < width ? uint8_t((source[size_t(i)] + source[size_t(i) + 1] + 1) >> 1) : source[size_t(i)];
        }
    }
    const int wide = 2 * width;
    for (int k = 0; k + 1 < height; ++k) {
        const uint8_t* above = row(2 * k);
        const uint8_t* below = row(2 * k + 2);
        uint8_t* out = row(2 * k + 1);
        for (int j = 0; j < wide - 2; ++j) {
            out[j] = j % 2 == 0 ? uint8_t((above[j] + below[j] + 1) >> 1)
                                : uint8_t((above[j - 1] + above[j + 1] + below[j - 1] + below[j + 1] + 2) >> 2);
        }
        for (int j = std::max(0, wide - 2); j < wide; ++j) out[j] = uint8_t((above[j] + below[j] + 1) >> 1);
    }
    std::memcpy(row(2 * height - 1), row(2 * height - 2), size_t(wide));
}
