#include "Icon.h"

#include <png.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "Bmp.h"
#include "ByteReader.h"
#include "ByteWriter.h"
#include "Canvas.h"
#include "PictureLimits.h"

namespace {

constexpr int DirectoryHeaderSize = 6, DirectoryEntrySize = 16, InfoHeaderSize = 40;

[[noreturn]] void Invalid(const std::string& detail) { throw EInvalidGraphic("Icon image is not valid: " + detail); }

struct TIconEntry {
    int width = 0, height = 0, bitCount = 0;
    const uint8_t* data = nullptr;
    int64_t size = 0;
};

// Every entry of the directory, each checked to lie inside the data.
std::vector<TIconEntry> ReadDirectory(const std::vector<uint8_t>& data) {
    TByteReader in(data);
    if (in.Size() < DirectoryHeaderSize) Invalid("truncated header");
    if (in.U16LE() != 0 || in.U16LE() != 1) Invalid("not an icon file");
    const int count = in.U16LE();
    if (count == 0) Invalid("no images");
    if (in.Remaining() / DirectoryEntrySize < count) Invalid("truncated directory");
    std::vector<TIconEntry> entries;
    for (int i = 0; i < count; ++i) {
        TIconEntry entry;
        const uint8_t width = in.U8(), height = in.U8();
        entry.width = width ? width : 256;
        entry.height = height ? height : 256;
        in.Skip(4);  // colour count, reserved, planes
        entry.bitCount = in.U16LE();
        entry.size = in.U32LE();
        const int64_t offset = in.U32LE();
        if (entry.size == 0 || offset > in.Size() || entry.size > in.Size() - offset)
            Invalid("image data beyond the end");
        entry.data = in.BytesAt(offset, entry.size).data();
        entries.push_back(entry);
    }
    return entries;
}

const TIconEntry& BestEntry(const std::vector<TIconEntry>& entries) {
    const TIconEntry* best = &entries.front();
    for (const TIconEntry& e : entries) {
        const int64_t area = int64_t(e.width) * e.height, bestArea = int64_t(best->width) * best->height;
        if (area > bestArea || (area == bestArea && e.bitCount > best->bitCount)) best = &e;
    }
    return *best;
}

// An icon image is small; it also passes the limits every picture reader applies.
void CheckSize(int64_t width, int64_t height, int bits, int64_t inputBytes) {
    if (width <= 0 || width > TIcon::MaxSide || height <= 0 || height > TIcon::MaxSide)
        Invalid("image size " + std::to_string(width) + " x " + std::to_string(height));
    const std::string problem = PictureSizeProblem(width, height, bits, inputBytes);
    if (!problem.empty()) Invalid(problem);
}

// libpng allocates what a chunk's length claims before it reads the chunk: every chunk up to the
// end chunk must lie inside the image's data.
void CheckPngChunks(const TIconEntry& entry) {
    constexpr uint32_t EndChunk = 0x49454E44;  // "IEND"
    TByteReader in(entry.data, entry.size);
    in.Skip(8);  // the signature
    while (!in.AtEnd()) {
        const int64_t length = in.U32BE();
        const uint32_t type = in.U32BE();
        if (length > in.Remaining() - 4) Invalid("PNG chunk beyond the end of the image data");
        in.Skip(length + 4);  // the data and its check sum
        if (type == EndChunk) return;
    }
}

TBitmap DecodePng(const TIconEntry& entry) {
    CheckPngChunks(entry);
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    struct TRelease {
        png_image& png;
        ~TRelease() { png_image_free(&png); }  // does nothing once the reading ended
    } release{png};
    if (!png_image_begin_read_from_memory(&png, entry.data, size_t(entry.size))) Invalid(png.message);
    CheckSize(png.width, png.height, 32, entry.size);
    png.format = PNG_FORMAT_BGRA;  // the byte order of pf32bit
    TBitmap image;
    image.SetPixelFormat(TPixelFormat::pf32bit);
    image.SetSize(int(png.width), int(png.height));
    std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(png));
    if (!png_image_finish_read(&png, nullptr, pixels.data(), 0, nullptr)) Invalid(png.message);
    for (int y = 0; y < image.Height(); ++y)
        std::memcpy(image.ScanLine(y), pixels.data() + size_t(y) * png.width * 4, size_t(png.width) * 4);
    return image;
}

// The colour part of a BMP-form image as the bitmap reader decodes it: the entry's data behind a
// file header, the doubled height of colour and mask halved.
TBitmap DecodeColours(const TIconEntry& entry, int height, int64_t pixelStart) {
    constexpr int FileHeaderSize = 14;
    std::vector<uint8_t> file(FileHeaderSize);
    file[0] = 'B';
    file[1] = 'M';
    StoreU32LE(&file[2], uint32_t(FileHeaderSize + entry.size));
    StoreU32LE(&file[10], uint32_t(FileHeaderSize + pixelStart));
    file.insert(file.end(), entry.data, entry.data + entry.size);
    StoreU32LE(&file[FileHeaderSize + 8], uint32_t(height));
    TMemoryStream stream;
    stream.WriteBuffer(file.data(), int64_t(file.size()));
    stream.SetPosition(0);
    TBitmap colours;
    ReadBmp(stream, colours);
    return colours;
}

TBitmap DecodeBmp(const TIconEntry& entry) {
    if (entry.size < InfoHeaderSize) Invalid("truncated image header");
    const TByteReader info(entry.data, entry.size);
    const int64_t infoSize = info.U32LEAt(0);
    const int64_t width = int32_t(info.U32LEAt(4)), doubledHeight = int32_t(info.U32LEAt(8));
    const int bits = info.U16LEAt(14);
    const uint32_t compression = info.U32LEAt(16), colorsUsed = info.U32LEAt(32);
    if (infoSize < InfoHeaderSize || infoSize > entry.size) Invalid("image header size " + std::to_string(infoSize));
    if (compression != 0) Invalid("compressed image data");
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        Invalid(std::to_string(bits) + " bits per pixel");
    const int64_t height = doubledHeight / 2;
    CheckSize(width, height, 32, entry.size);
    int64_t colours = 0;
    if (bits <= 8) {
        colours = colorsUsed ? colorsUsed : int64_t(1) << bits;
        if (colours > int64_t(1) << bits) Invalid(std::to_string(colours) + " palette entries");
    }
    const int64_t pixelStart = infoSize + colours * 4;
    const int64_t colourRow = (width * bits + 31) / 32 * 4, maskRow = (width + 31) / 32 * 4;
    const int64_t maskStart = pixelStart + colourRow * height;
    if (maskStart > entry.size) Invalid("truncated image data");

    const TBitmap colours32 = DecodeColours(entry, int(height), pixelStart);
    // 32-bit images whose alpha bytes are all zero are older icons that rely on the mask.
    bool ownAlpha = false;
    if (bits == 32)
        for (int y = 0; y < colours32.Height() && !ownAlpha; ++y)
            for (int x = 0; x < colours32.Width() && !ownAlpha; ++x) ownAlpha = colours32.ScanLine(y)[4 * x + 3] != 0;
    const bool masked = !ownAlpha && maskStart + maskRow * height <= entry.size;

    TBitmap image;
    image.SetPixelFormat(TPixelFormat::pf32bit);
    image.SetSize(int(width), int(height));
    for (int y = 0; y < image.Height(); ++y) {
        uint8_t* out = image.ScanLine(y);
        const int64_t maskAt = maskStart + maskRow * (height - 1 - y);  // rows from the bottom
        const uint8_t* mask = masked ? info.BytesAt(maskAt, maskRow).data() : nullptr;
        for (int x = 0; x < image.Width(); ++x) {
            const TColor colour = colours32.Pixel(x, y);
            out[4 * x] = uint8_t(GetBValue(colour));
            out[4 * x + 1] = uint8_t(GetGValue(colour));
            out[4 * x + 2] = uint8_t(GetRValue(colour));
            if (ownAlpha) out[4 * x + 3] = colours32.ScanLine(y)[4 * x + 3];
            else if (masked) out[4 * x + 3] = (mask[x >> 3] & (0x80 >> (x & 7))) ? 0 : 255;
            else out[4 * x + 3] = 255;
        }
    }
    return image;
}

// The icon's largest image, the one with the most colours among equal sizes.
TBitmap DecodeBest(const std::vector<uint8_t>& data) {
    const std::vector<TIconEntry> entries = ReadDirectory(data);
    const TIconEntry& entry = BestEntry(entries);
    static constexpr uint8_t PngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    const bool png = entry.size >= 8 && std::memcmp(entry.data, PngSignature, 8) == 0;
    return png ? DecodePng(entry) : DecodeBmp(entry);
}

}  // namespace

void TIcon::SetWidth(int) { throw EInvalidGraphic("The size of an icon cannot be changed"); }
void TIcon::SetHeight(int) { throw EInvalidGraphic("The size of an icon cannot be changed"); }

void TIcon::LoadFromStream(TStream& stream) {
    const int64_t size = stream.Size() - stream.Position();
    if (size > MaxDataBytes) Invalid("file of " + std::to_string(size) + " bytes is too large");
    std::vector<uint8_t> data(size_t(std::max<int64_t>(size, 0)));
    stream.ReadBuffer(data.data(), int64_t(data.size()));
    TBitmap image;
    try {
        image = DecodeBest(data);
    } catch (const EShortData& e) {
        Invalid(e.Message());
    }
    image.SetAlphaFormat(TAlphaFormat::afDefined);
    data_ = std::move(data);
    image_.Assign(std::move(image));
    Changed();
}

void TIcon::SaveToStream(TStream& stream) const { stream.WriteBuffer(data_.data(), int64_t(data_.size())); }

void TIcon::Draw(TCanvas& canvas, const TRect& rect) const { canvas.DrawBitmap(rect, image_); }
