#include "Bmp.h"

#include <algorithm>
#include <array>
#include <bit>
#include <limits>

#include "ByteReader.h"
#include "ByteWriter.h"
#include "PictureLimits.h"

namespace {

constexpr uint32_t BI_RGB = 0, BI_RLE8 = 1, BI_RLE4 = 2, BI_BITFIELDS = 3;
constexpr int64_t FileHeaderSize = 14, InfoHeaderSize = 40, CoreHeaderSize = 12, Os2HeaderSize = 64;
constexpr int64_t MaxInfoHeaderSize = 124;

[[noreturn]] void Invalid(const std::string& detail) { throw EInvalidGraphic("Bitmap image is not valid: " + detail); }

struct Header {
    int64_t width = 0, height = 0;  // height is positive; topDown tells the row order
    bool topDown = false;
    int bits = 0;
    uint32_t compression = BI_RGB;
    uint32_t colorsUsed = 0;
    std::array<uint32_t, 4> masks{};  // red, green, blue, alpha
    int paletteEntrySize = 4;
    int64_t tableStart = 0, dataStart = 0;  // stream positions of the colour table and the pixel data
};

Header ParseInfoHeader(const TByteReader& info) {
    Header h;
    const int64_t size = info.Size();
    if (size == CoreHeaderSize) {
        h.width = info.U16LEAt(4);
        h.height = info.U16LEAt(6);
        h.bits = info.U16LEAt(10);
        h.paletteEntrySize = 3;
        return h;
    }
    h.width = int32_t(info.U32LEAt(4));
    const int32_t height = int32_t(info.U32LEAt(8));
    h.topDown = height < 0;
    h.height = height < 0 ? -int64_t(height) : height;
    h.bits = info.U16LEAt(14);
    h.compression = info.U32LEAt(16);
    h.colorsUsed = info.U32LEAt(32);
    if (size == Os2HeaderSize && h.compression == BI_BITFIELDS) Invalid("OS/2 Huffman compression is not supported");
    if (size >= 52 && size != Os2HeaderSize)
        for (int i = 0; i < (size >= 56 ? 4 : 3); ++i) h.masks[i] = info.U32LEAt(40 + 4 * i);
    return h;
}

Header ReadHeaders(TStream& stream, int64_t start) {
    uint8_t fileHeader[FileHeaderSize];
    ReadExact(stream, fileHeader, FileHeaderSize, "file header");
    if (fileHeader[0] != 'B' || fileHeader[1] != 'M') Invalid("no \"BM\" signature");

    uint8_t info[MaxInfoHeaderSize];
    ReadExact(stream, info, 4, "info header");
    const int64_t infoSize = TByteReader(info, 4).U32LE();
    if (infoSize != CoreHeaderSize && infoSize != InfoHeaderSize && infoSize != 52 && infoSize != 56 &&
        infoSize != Os2HeaderSize && infoSize != 108 && infoSize != MaxInfoHeaderSize)
        Invalid("header size " + std::to_string(infoSize) + " is not supported");
    ReadExact(stream, info + 4, infoSize - 4, "info header");
    Header h = ParseInfoHeader(TByteReader(info, infoSize));
    h.tableStart = start + FileHeaderSize + infoSize;
    if (h.compression == BI_BITFIELDS && infoSize == InfoHeaderSize) {
        uint8_t masks[12];
        ReadExact(stream, masks, sizeof masks, "bit field masks");
        TByteReader in(masks, sizeof masks);
        for (int i = 0; i < 3; ++i) h.masks[i] = in.U32LE();
        h.tableStart += sizeof masks;
    }
    h.dataStart = start + TByteReader(fileHeader, FileHeaderSize).U32LEAt(10);
    if (h.dataStart < h.tableStart) Invalid("pixel data offset points into the headers");
    if (h.width <= 0 || h.height <= 0 || h.height > std::numeric_limits<int32_t>::max())
        Invalid("size " + std::to_string(h.width) + " x " + std::to_string(h.height));
    return h;
}

// Holds what the header asks for, at most 2^bits entries and no more than fit before the pixel data.
std::vector<TPaletteEntry> ReadColourTable(TStream& stream, const Header& h) {
    int64_t count = int64_t(1) << h.bits;
    if (h.colorsUsed != 0) count = std::min<int64_t>(count, h.colorsUsed);
    count = std::min(count, (h.dataStart - h.tableStart) / h.paletteEntrySize);
    std::vector<uint8_t> table(static_cast<size_t>(count * h.paletteEntrySize));
    stream.SetPosition(h.tableStart);
    ReadExact(stream, table.data(), int64_t(table.size()), "colour table");
    std::vector<TPaletteEntry> palette;
    for (int64_t i = 0; i < count; ++i) {
        const uint8_t* e = table.data() + i * h.paletteEntrySize;
        palette.push_back({e[2], e[1], e[0], 0});
    }
    return palette;
}

// Uncompressed rows are padded to 4 bytes.
int64_t FileRowBytes(const Header& h) { return ((h.width * h.bits + 31) / 32) * 4; }

bool HasMasks(const Header& h, uint32_t r, uint32_t g, uint32_t b, uint32_t a) {
    return h.masks == std::array<uint32_t, 4>{r, g, b, a};
}

// How the file's rows become the bitmap's rows.
enum class Decoding { Copy, Masks, Rle8, Rle4 };

struct Layout {
    TPixelFormat format;
    Decoding decoding;
};

Layout ChooseLayout(const Header& h) {
    const uint32_t c = h.compression;
    if (c != BI_RGB && c != BI_RLE8 && c != BI_RLE4 && c != BI_BITFIELDS)
        Invalid("compression " + std::to_string(c) + " is not supported");
    switch (h.bits) {
        case 1:
            if (c == BI_RGB) return {TPixelFormat::pf1bit, Decoding::Copy};
            break;
        case 4:
            if (c == BI_RGB) return {TPixelFormat::pf4bit, Decoding::Copy};
            if (c == BI_RLE4) return {TPixelFormat::pf4bit, Decoding::Rle4};
            break;
        case 8:
            if (c == BI_RGB) return {TPixelFormat::pf8bit, Decoding::Copy};
            if (c == BI_RLE8) return {TPixelFormat::pf8bit, Decoding::Rle8};
            break;
        case 16:
            if (c == BI_RGB) return {TPixelFormat::pf15bit, Decoding::Copy};
            if (c != BI_BITFIELDS) break;
            if (HasMasks(h, 0x7C00, 0x03E0, 0x001F, 0)) return {TPixelFormat::pf15bit, Decoding::Copy};
            if (HasMasks(h, 0xF800, 0x07E0, 0x001F, 0)) return {TPixelFormat::pf16bit, Decoding::Copy};
            return {h.masks[3] ? TPixelFormat::pf32bit : TPixelFormat::pf24bit, Decoding::Masks};
        case 24:
            if (c == BI_RGB) return {TPixelFormat::pf24bit, Decoding::Copy};
            break;
        case 32:
            if (c == BI_RGB) return {TPixelFormat::pf32bit, Decoding::Copy};
            if (c != BI_BITFIELDS) break;
            if (HasMasks(h, 0xFF0000, 0xFF00, 0xFF, 0) || HasMasks(h, 0xFF0000, 0xFF00, 0xFF, 0xFF000000))
                return {TPixelFormat::pf32bit, Decoding::Copy};
            return {TPixelFormat::pf32bit, Decoding::Masks};
        default:
            Invalid(std::to_string(h.bits) + " bits per pixel are not supported");
    }
    Invalid("compression " + std::to_string(c) + " does not fit " + std::to_string(h.bits) + " bits per pixel");
}

// One colour component of a bit-field pixel.
struct BitField {
    int shift = 0, bits = 0;

    explicit BitField(uint32_t mask) {
        if (mask == 0) return;
        shift = std::countr_zero(mask);
        const uint32_t field = mask >> shift;
        if ((field & (field + 1)) != 0) Invalid("bit field masks are not contiguous");
        bits = std::popcount(field);
    }

    // Scaled to 8 bits; shorter fields repeat their bits, so the largest value becomes 255.
    uint8_t Extract(uint32_t pixel) const {
        if (bits == 0) return 0;
        const uint32_t v = (pixel >> shift) & (bits == 32 ? ~0u : (1u << bits) - 1);
        if (bits >= 8) return uint8_t(v >> (bits - 8));
        uint32_t out = 0;
        for (int s = 8 - bits; s > -bits; s -= bits) out |= s >= 0 ? v << s : v >> -s;
        return uint8_t(out);
    }
};

void DecodeMaskedRow(TByteReader source, uint8_t* target, int width, int bits, const std::array<BitField, 4>& fields,
                     bool withAlpha) {
    const int targetBytes = withAlpha ? 4 : 3;
    for (int x = 0; x < width; ++x) {
        const uint32_t pixel = bits == 16 ? source.U16LE() : source.U32LE();
        uint8_t* out = target + int64_t(x) * targetBytes;
        out[0] = fields[2].Extract(pixel);
        out[1] = fields[1].Extract(pixel);
        out[2] = fields[0].Extract(pixel);
        if (withAlpha) out[3] = fields[3].Extract(pixel);
    }
}

void ReadRows(TStream& stream, TBitmap& bitmap, const Header& h, Decoding decoding) {
    const int64_t sourceRowBytes = FileRowBytes(h);
    std::vector<uint8_t> row(static_cast<size_t>(sourceRowBytes));
    std::array<BitField, 4> fields{BitField(0), BitField(0), BitField(0), BitField(0)};
    if (decoding == Decoding::Masks) {
        for (int i = 0; i < 4; ++i) {
            if (h.bits == 16 && h.masks[i] > 0xFFFF) Invalid("bit field masks exceed 16 bits");
            fields[i] = BitField(h.masks[i]);
        }
    }
    for (int64_t i = 0; i < h.height; ++i) {
        uint8_t* target = bitmap.ScanLine(int(h.topDown ? i : h.height - 1 - i));
        if (decoding == Decoding::Copy) {
            ReadExact(stream, target, sourceRowBytes, "pixel data");
        } else {
            ReadExact(stream, row.data(), sourceRowBytes, "pixel data");
            DecodeMaskedRow(TByteReader(row), target, int(h.width), h.bits, fields, bitmap.BitCount() == 32);
        }
    }
}

// Reads the compressed data in blocks; running out of it in the middle of a code is an error.
class ByteSource {
public:
    ByteSource(TStream& stream, int64_t available) : stream_(stream), available_(available) {}

    bool AtEnd() const { return position_ == buffer_.size() && available_ == 0; }

    uint8_t Next() {
        if (position_ == buffer_.size()) {
            if (available_ == 0) Invalid("truncated compressed data");
            buffer_.resize(static_cast<size_t>(std::min<int64_t>(available_, 65536)));
            ReadExact(stream_, buffer_.data(), int64_t(buffer_.size()), "compressed data");
            available_ -= int64_t(buffer_.size());
            position_ = 0;
        }
        return buffer_[position_++];
    }

private:
    TStream& stream_;
    int64_t available_;
    std::vector<uint8_t> buffer_;
    size_t position_ = 0;
};

// Rows are counted from the bottom, as stored. Runs reaching past the row's end are cut there
// (some writers encode the row padding); anything past the last row or a move outside the
// picture is an error. Pixels that no code sets keep index 0.
void DecodeRle(ByteSource& in, TBitmap& bitmap, bool rle4) {
    const int64_t width = bitmap.Width(), height = bitmap.Height();
    int64_t x = 0, row = 0;
    uint8_t* line = bitmap.ScanLine(int(height - 1));
    auto moveTo = [&](int64_t newX, int64_t newRow) {
        x = newX;
        row = newRow;
        line = row < height ? bitmap.ScanLine(int(height - 1 - row)) : nullptr;
    };
    auto put = [&](uint8_t index) {
        if (x < width) {
            if (!rle4) {
                line[x] = index;
            } else {
                uint8_t& byte = line[x / 2];
                byte = (x & 1) ? uint8_t((byte & 0xF0) | index) : uint8_t((byte & 0x0F) | (index << 4));
            }
        }
        ++x;
    };
    auto startRun = [&] {
        if (!line) Invalid("compressed data run past the end of the image");
    };
    for (;;) {
        if (in.AtEnd()) {
            if (row >= height) return;  // every row was ended, only the end-of-bitmap code is missing
            Invalid("truncated compressed data");
        }
        const uint8_t count = in.Next();
        const uint8_t value = in.Next();
        if (count > 0) {
            startRun();
            for (int i = 0; i < count; ++i) put(rle4 ? uint8_t((i & 1) ? value & 0x0F : value >> 4) : value);
            continue;
        }
        switch (value) {
            case 0:
                moveTo(0, row + 1);
                break;
            case 1:
                return;
            case 2: {
                const uint8_t dx = in.Next();
                const uint8_t dy = in.Next();
                if (x + dx > width || row + dy > height) Invalid("compressed data move past the end of the image");
                moveTo(x + dx, row + dy);
                break;
            }
            default: {
                startRun();
                uint8_t pair = 0;
                for (int i = 0; i < value; ++i) {
                    if (!rle4) {
                        put(in.Next());
                    } else {
                        if ((i & 1) == 0) pair = in.Next();
                        put(uint8_t((i & 1) ? pair & 0x0F : pair >> 4));
                    }
                }
                const int bytes = rle4 ? (value + 1) / 2 : value;
                if (bytes & 1) in.Next();  // absolute runs end on a 16-bit boundary
            }
        }
    }
}

TBitmap ReadPicture(TStream& stream) {
    const int64_t start = stream.Position();
    const int64_t end = stream.Size();
    const Header h = ReadHeaders(stream, start);
    const Layout layout = ChooseLayout(h);
    const bool rle = layout.decoding == Decoding::Rle8 || layout.decoding == Decoding::Rle4;
    if (rle && h.topDown) Invalid("compressed rows cannot be stored from the top");
    const std::vector<TPaletteEntry> palette = h.bits <= 8 ? ReadColourTable(stream, h) : std::vector<TPaletteEntry>();

    if (h.dataStart > end) Invalid("pixel data offset beyond the end of the data");
    const int64_t available = end - h.dataStart;
    // Run-length codes can describe a huge picture in a few bytes: the limits' decode ratio bounds it.
    const std::string problem = PictureSizeProblem(h.width, h.height, BitsPerPixel(layout.format), available);
    if (!problem.empty()) Invalid(problem);
    if (!rle && available / FileRowBytes(h) < h.height) Invalid("truncated pixel data");

    TBitmap result;
    result.SetPixelFormat(layout.format);
    result.SetSize(int(h.width), int(h.height));
    stream.SetPosition(h.dataStart);
    if (rle) {
        ByteSource source(stream, available);
        DecodeRle(source, result, layout.decoding == Decoding::Rle4);
    } else {
        ReadRows(stream, result, h, layout.decoding);
    }
    if (h.bits <= 8) result.SetPalette(palette);
    return result;
}

}  // namespace

void ReadBmp(TStream& stream, TBitmap& bitmap) {
    TBitmap picture;
    try {
        picture = ReadPicture(stream);
    } catch (const EShortData& e) {
        Invalid(e.Message());
    }
    bitmap.Assign(std::move(picture));
}

void WriteBmp(TStream& stream, const TBitmap& bitmap) {
    if (bitmap.Empty()) throw EInvalidGraphic("An empty bitmap cannot be saved");
    const int bits = bitmap.BitCount();
    const bool bitFields = bitmap.PixelFormat() == TPixelFormat::pf16bit;
    const int64_t paletteCount = bits <= 8 ? int64_t(1) << bits : 0;
    const int64_t dataStart = FileHeaderSize + InfoHeaderSize + (bitFields ? 12 : 0) + paletteCount * 4;
    const int64_t rowBytes = bitmap.RowBytes();
    const int64_t imageSize = rowBytes * bitmap.Height();
    if (dataStart + imageSize > std::numeric_limits<uint32_t>::max())
        throw EInvalidGraphic("Bitmap image is too large for a BMP file");

    std::vector<uint8_t> header;
    header.push_back('B');
    header.push_back('M');
    PutU32LE(header, uint32_t(dataStart + imageSize));
    PutU32LE(header, 0);
    PutU32LE(header, uint32_t(dataStart));
    PutU32LE(header, InfoHeaderSize);
    PutU32LE(header, uint32_t(bitmap.Width()));
    PutU32LE(header, uint32_t(bitmap.Height()));  // positive: rows from the bottom
    PutU16LE(header, 1);
    PutU16LE(header, uint32_t(bits));
    PutU32LE(header, bitFields ? BI_BITFIELDS : BI_RGB);
    PutU32LE(header, uint32_t(imageSize));
    PutU32LE(header, 0);  // pixels per metre
    PutU32LE(header, 0);
    PutU32LE(header, uint32_t(paletteCount));
    PutU32LE(header, 0);
    if (bitFields)
        for (uint32_t mask : {0xF800u, 0x07E0u, 0x001Fu}) PutU32LE(header, mask);
    const std::vector<TPaletteEntry>& palette = bitmap.Palette();
    for (int64_t i = 0; i < paletteCount; ++i) {
        const TPaletteEntry e = size_t(i) < palette.size() ? palette[size_t(i)] : TPaletteEntry{};
        for (uint8_t byte : {e.peBlue, e.peGreen, e.peRed, uint8_t(0)}) header.push_back(byte);
    }
    stream.WriteBuffer(header.data(), int64_t(header.size()));
    for (int y = bitmap.Height() - 1; y >= 0; --y) stream.WriteBuffer(bitmap.ScanLine(y), rowBytes);
}
