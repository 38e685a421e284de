#include "EPSGraphic.h"

#include <array>

#include "platform/ByteReader.h"

namespace {

constexpr uint32_t Magic = 0xC6D3D0C5u;

// The preview as a stream of its own: TIFF offsets count from its start.
bool PreviewOf(TStream& stream, TMemoryStream& preview) {
    const int64_t start = stream.Position();
    std::array<uint8_t, 30> h{};
    const int64_t read = TPicFormatGraphic::PeekBytes(stream, h);
    const TByteReader header(h.data(), read);
    if (read < 30 || header.U32LEAt(0) != Magic) return false;
    const int64_t offset = header.U32LEAt(20), length = header.U32LEAt(24);
    if (length == 0 || offset < 30 || offset + length > stream.Size() - start) return false;
    stream.SetPosition(start + offset);
    preview.SetSize(0);
    preview.CopyFrom(stream, length);
    preview.SetPosition(0);
    stream.SetPosition(start);
    return true;
}

}  // namespace

bool TEPSGraphic::IsFormatStream(TStream& stream) {
    std::array<uint8_t, 30> h{};
    if (!PeekHeader(stream, 30, h)) return false;
    TByteReader reader(h.data(), int64_t(h.size()));
    return reader.U32LEAt(0) == Magic && int64_t(reader.U32LEAt(20)) > stream.Position() + 30 && reader.U32LEAt(24) > 0;
}

// The TIFF reader asks this again of the preview itself, which is then read as TIFF.
bool TEPSGraphic::ReadHeaderProperties(TStream& stream, int imageIndex) {
    TMemoryStream preview;
    if (!PreviewOf(stream, preview)) return TTIFFGraphic::ReadHeaderProperties(stream, imageIndex);
    return TTIFFGraphic::ReadHeaderProperties(preview, imageIndex);
}

void TEPSGraphic::LoadFromStream(TStream& stream) {
    TMemoryStream preview;
    if (!PreviewOf(stream, preview)) RaiseGraphicErrorFmt(gesInvalidImage, {FormatName()});
    TTIFFGraphic::LoadFromStream(preview);
}
