#include "imaging/io/KVTiff.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVOrientation.h"
#include "imaging/core/KVStreams.h"
#include "imaging/core/KVViewServices.h"
#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KVCcitt.h"
#include "imaging/io/KVDriverSupport.h"
#include "imaging/io/KVJpegFilter.h"
#include "platform/ByteReader.h"
#include "platform/Classes.h"
#include "platform/PictureLimits.h"

namespace {

enum : uint16_t {
    tagWidth = 256, tagHeight = 257, tagBitsPerSample = 258, tagCompression = 259, tagPhotometric = 262,
    tagFillOrder = 266, tagDocumentName = 269, tagImageDescription = 270, tagMake = 271, tagModel = 272,
    tagStripOffsets = 273, tagOrientation = 274, tagSamplesPerPixel = 277, tagRowsPerStrip = 278,
    tagStripByteCounts = 279, tagXResolution = 282, tagYResolution = 283, tagPlanar = 284, tagPageName = 285,
    tagXPosition = 286, tagYPosition = 287, tagT4Options = 292, tagResolutionUnit = 296, tagPageNumber = 297,
    tagSoftware = 305, tagDateTime = 306, tagArtist = 315, tagPredictor = 317, tagColorMap = 320,
    tagTileWidth = 322, tagTileLength = 323, tagTileOffsets = 324, tagTileByteCounts = 325,
    tagExtraSamples = 338, tagJpegTables = 347, tagCopyright = 33432, tagExposureTime = 33434, tagFNumber = 33437,
    tagExifIfd = 34665, tagIsoSpeed = 34855, tagDateTimeOriginal = 36867, tagDateTimeDigitized = 36868,
    tagFocalLength = 37386, tagFlash = 37385, tagDngVersion = 50706,
};

// Largest count of a text or byte value taken from a file.
constexpr uint32_t LargestValue = 0xFFFFF;
// A thumbnail read decodes only pages up to this side.
constexpr int ThumbnailSide = 400;

int TypeSize(uint16_t type) {
    static const int sizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
    return type < std::size(sizes) ? sizes[type] : 0;
}

struct TEntry {
    uint16_t tag, type;
    uint32_t count;
    int64_t field;  // position of the value-or-offset field
};

// The entries of one IFD over the whole structure in memory, offsets counted from its start.
class TDirectory {
public:
    TDirectory(const TByteReader& data, bool little) : data_(data), little_(little) {}

    void ReadEntries(int64_t at) {
        const int count = U16(at);
        for (int i = 0; i < count; ++i) {
            const int64_t e = at + 2 + 12 * int64_t(i);
            if (e + 12 > data_.Size()) break;  // a cut entry table keeps the entries present
            entries_.push_back({U16(e), U16(e + 2), U32(e + 4), e + 8});
        }
    }
    bool Has(uint16_t tag) const { return Find(tag) != nullptr; }
    uint32_t Count(uint16_t tag) const {
        const TEntry* e = Find(tag);
        return e ? e->count : 0;
    }

    // Element i of an integer array, or fallback when missing or out of range.
    int64_t Element(uint16_t tag, uint32_t i, int64_t fallback = 0) const {
        const TEntry* e = Find(tag);
        if (!e || i >= e->count) return fallback;
        const int64_t at = DataStart(*e) + int64_t(i) * TypeSize(e->type);
        switch (e->type) {
            case 1: case 7: return data_.U8At(at);
            case 3: return U16(at);
            case 4: case 13: return U32(at);
            case 8: return int16_t(U16(at));
            case 9: return int32_t(U32(at));
            default: return fallback;
        }
    }
    int64_t Integer(uint16_t tag, int64_t fallback) const { return Element(tag, 0, fallback); }
    std::vector<uint32_t> Array(uint16_t tag) const {
        std::vector<uint32_t> values(Count(tag));
        if (int64_t(values.size()) * 4 > data_.Size()) throw EShortData("TIFF array larger than the file");
        for (uint32_t i = 0; i < values.size(); ++i) values[i] = uint32_t(Element(tag, i));
        return values;
    }
    double Rational(uint16_t tag, uint32_t i = 0) const {
        const TEntry* e = Find(tag);
        if (!e || i >= e->count || (e->type != 5 && e->type != 10)) return 0;
        const int64_t at = DataStart(*e) + 8 * int64_t(i);
        const double denominator = e->type == 10 ? double(int32_t(U32(at + 4))) : double(U32(at + 4));
        const double numerator = e->type == 10 ? double(int32_t(U32(at))) : double(U32(at));
        return numerator / (denominator == 0 ? 1 : denominator);
    }
    std::span<const uint8_t> Bytes(uint16_t tag) const {
        const TEntry* e = Find(tag);
        if (!e || !TypeSize(e->type)) return {};
        const int64_t size = int64_t(e->count) * TypeSize(e->type);
        if (size > data_.Size()) return {};
        return data_.BytesAt(DataStart(*e), size);
    }
    std::string Text(uint16_t tag) const {
        const TEntry* e = Find(tag);
        if (!e || e->count > LargestValue) return {};
        const std::span<const uint8_t> bytes = Bytes(tag);
        std::string text(bytes.begin(), bytes.end());
        return text.substr(0, text.find('\0'));
    }
    int64_t DataStart(const TEntry& e) const {
        return int64_t(e.count) * TypeSize(e.type) <= 4 ? e.field : int64_t(U32(e.field));
    }
    uint16_t U16(int64_t at) const { return little_ ? data_.U16LEAt(at) : data_.U16BEAt(at); }
    uint32_t U32(int64_t at) const { return little_ ? data_.U32LEAt(at) : data_.U32BEAt(at); }

private:
    const TEntry* Find(uint16_t tag) const {
        for (const TEntry& e : entries_)
            if (e.tag == tag) return &e;
        return nullptr;
    }
    const TByteReader& data_;
    bool little_;
    std::vector<TEntry> entries_;
};

// Walks the IFD chain; returns the page count and the offset of the wanted page (0 when absent).
int WalkIFDs(const TDirectory& reader, int64_t size, int64_t first, int wanted, int64_t& wantedOffset) {
    int pages = 0;
    std::set<int64_t> seen;
    wantedOffset = 0;
    for (int64_t offset = first; offset >= 8 && offset + 2 <= size && seen.insert(offset).second;) {
        const int64_t next = offset + 2 + 12 * int64_t(reader.U16(offset));
        if (next + 4 > size) break;
        if (pages == wanted) wantedOffset = offset;
        ++pages;
        offset = reader.U32(next);
    }
    return pages;
}

struct TPage {
    int64_t width = 0, height = 0, rowsPerStrip = 0, tileWidth = -1, tileLength = -1;
    int samples = 1, bits = 1, photometric = 2, planar = 1, compression = 1, predictor = 1, fillOrder = 1;
    int64_t t4Options = 0, extraSamples = 0;
    bool little = true;
    std::vector<uint32_t> offsets, counts;
    std::vector<TKVRGB> colorMap;
    std::span<const uint8_t> jpegTables;
    bool IsCcitt() const { return compression >= 2 && compression <= 4; }
};

std::vector<TKVRGB> ColorMapOf(const TDirectory& d, int bits) {
    const uint32_t entries = bits <= 16 ? uint32_t(1) << bits : 0;
    if (!entries || d.Count(tagColorMap) < 3 * entries) return {};
    std::vector<uint32_t> values = d.Array(tagColorMap);
    const bool wide = std::any_of(values.begin(), values.end(), [](uint32_t v) { return v > 255; });
    std::vector<TKVRGB> map(entries);
    for (uint32_t i = 0; i < entries; ++i) {
        auto value = [&](uint32_t plane) { return uint8_t(wide ? values[plane * entries + i] >> 8 : values[plane * entries + i]); };
        map[i] = {value(2), value(1), value(0)};
    }
    return map;
}

// 0 none, 1 Huffman, 2 Group 3, 3 Group 3 2-D, 4 Group 4, 5 LZW, 6 old JPEG, 7 JPEG, 8 PackBits, 9 other.
int CompressionCode(int compression, int64_t t4Options) {
    switch (compression) {
        case 1: return 0;
        case 2: return 1;
        case 3: return t4Options & 1 ? 3 : 2;
        case 4: return 4;
        case 5: return 5;
        case 6: return 6;
        case 7: return 7;
        case 32773: return 8;
        default: return 9;
    }
}

void FillParams(const TDirectory& d, const TPage& p, int pageCount, TIOParamsVals& params) {
    params.BitsPerSample = p.bits;
    params.SamplesPerPixel = p.samples;
    params.Width = int(p.width);
    params.Height = int(p.height);
    params.SetImageCount(pageCount);
    params.SetOrientation(int(d.Integer(tagOrientation, 1)));
    params.TiffCompression = uint8_t(CompressionCode(p.compression, p.t4Options));
    if (p.photometric >= 0 && p.photometric <= 6) params.TiffPhotometric = uint8_t(p.photometric);
    if (p.photometric == 8) params.TiffPhotometric = 7;
    params.TiffPlanarConfig = p.planar;
    params.TiffDocumentName = d.Text(tagDocumentName);
    params.TiffImageDescription = d.Text(tagImageDescription);
    params.TiffPageName = d.Text(tagPageName);
    params.TiffPageNumber = int(d.Element(tagPageNumber, 0));
    params.TiffPageCount = int(d.Element(tagPageNumber, 1));
    params.TiffFillOrder = p.fillOrder;
    params.ExifMake = d.Text(tagMake);
    params.ExifModel = d.Text(tagModel);
    params.ExifDateTime = d.Text(tagDateTime);
    params.ExifSoftware = d.Text(tagSoftware);
    params.ExifArtist = d.Text(tagArtist);
    params.ExifCopyright = d.Text(tagCopyright);
    params.ExifResolutionUnit = int(d.Integer(tagResolutionUnit, 2));
    params.ColorMap = p.colorMap;
    const double factor = params.ExifResolutionUnit == 3 ? 2.54 : 1;
    params.SetDpiXFloat(d.Rational(tagXResolution));
    params.SetDpiYFloat(d.Rational(tagYResolution));
    params.SetDpiX(int(std::min(d.Rational(tagXResolution) * factor, 1e9)));
    params.SetDpiY(int(std::min(d.Rational(tagYResolution) * factor, 1e9)));
    if (params.DpiX() == 0) params.SetDpiX(DefaultDpiX);
    if (params.DpiY() == 0) params.SetDpiY(DefaultDpiY);
    params.TiffXPos = int(std::clamp(d.Rational(tagXPosition) * factor, -1e9, 1e9));
    params.TiffYPos = int(std::clamp(d.Rational(tagYPosition) * factor, -1e9, 1e9));
}

void FillExifParams(const TDirectory& exif, TIOParamsVals& params) {
    params.ExifHasData = true;
    params.ExifExposureTime = exif.Rational(tagExposureTime);
    params.ExifFNumber = exif.Rational(tagFNumber);
    params.ExifISOSpeedRatings = {int(exif.Element(tagIsoSpeed, 0)), int(exif.Element(tagIsoSpeed, 1))};
    params.ExifDateTimeOriginal = exif.Text(tagDateTimeOriginal);
    params.ExifDateTimeDigitized = exif.Text(tagDateTimeDigitized);
    params.ExifFlash = int(exif.Integer(tagFlash, 0));
    params.ExifFocalLength = exif.Rational(tagFocalLength);
}

// Decodes one chunk (strip or tile) into rows of rowBytes; short data leaves zero rows behind.
class TChunkDecoder {
public:
    TChunkDecoder(const TPage& page, TIOParamsVals& params) : page_(page), params_(params) {}

    std::vector<uint8_t> Decode(std::span<const uint8_t> in, int64_t width, int64_t rows, int samples) {
        const int64_t rowBytes = (width * samples * page_.bits + 7) / 8;
        std::vector<uint8_t> out(size_t(rowBytes * rows), 0);
        switch (page_.compression) {
            case 1: std::memcpy(out.data(), in.data(), std::min(in.size(), out.size())); break;
            case 2: case 3: case 4: Ccitt(in, width, rows, rowBytes, out); break;
            case 5: Lzw(in, rows, rowBytes, out); break;
            case 8: case 32946: Inflate(in, out); break;
            case 32773: PackBits(in, out); break;
            default: throw EInvalidGraphic("TIFF compression not supported");
        }
        if (page_.predictor == 2 && (page_.compression == 5 || page_.compression == 8 || page_.compression == 32946))
            UndoPredictor(out, width, rows, rowBytes, samples);
        return out;
    }

private:
    void Ccitt(std::span<const uint8_t> in, int64_t width, int64_t rows, int64_t rowBytes, std::vector<uint8_t>& out) {
        std::vector<uint8_t> reference(size_t(rowBytes), 0xFF);
        const auto length = int64_t(in.size());
        int64_t bytePosition = 0, bitPosition = 0;
        for (int64_t y = 0; y < rows; ++y) {
            uint8_t* row = out.data() + y * rowBytes;
            if (page_.compression == 2) {
                if (bytePosition < length)
                    bytePosition += CCITTDecodeMH(row, in.data() + bytePosition, length - bytePosition, page_.fillOrder, int(width));
                else std::memset(row, 0xFF, size_t(rowBytes));
            } else if (page_.compression == 3 && !(page_.t4Options & 1)) {
                bitPosition = CCITTDecode1D(row, in.data(), length, page_.fillOrder, bitPosition, int(width));
            } else {
                const bool eols = page_.compression == 3 || (page_.t4Options & 4);
                bitPosition = CCITTDecode2D(row, in.data(), length, eols, page_.fillOrder, bitPosition, reference.data(), int(width));
            }
        }
    }

    void Lzw(std::span<const uint8_t> in, int64_t rows, int64_t rowBytes, std::vector<uint8_t>& out) {
        const TKVTIFFLZWDecompressor decode = params_.TiffLZWDecompressor ? params_.TiffLZWDecompressor : DefTIFFLZWDecompressor;
        if (!decode) throw EInvalidGraphic("no TIFF LZW decoder");
        TKVTIFFLZWDecodeState* state = nullptr;
        struct TRelease {
            TKVTIFFLZWDecompressor decode;
            TKVTIFFLZWDecodeState*& state;
            ~TRelease() { decode(nullptr, 0, 0, state); }
        } release{decode, state};
        for (int64_t y = 0; y < rows; ++y) {
            const uint8_t* row = decode(in.data(), int64_t(in.size()), rowBytes, state);
            if (!row) throw EInvalidGraphic("damaged TIFF LZW data");
            std::memcpy(out.data() + y * rowBytes, row, size_t(rowBytes));
        }
    }

    static void Inflate(std::span<const uint8_t> in, std::vector<uint8_t>& out) {
        z_stream z{};
        if (inflateInit(&z) != Z_OK) throw EInvalidGraphic("zlib failed");
        z.next_in = const_cast<Bytef*>(in.data());
        z.avail_in = uInt(std::min<size_t>(in.size(), UINT32_MAX));
        z.next_out = out.data();
        z.avail_out = uInt(out.size());
        inflate(&z, Z_FINISH);  // damaged or short data keeps what was decoded
        inflateEnd(&z);
    }

    static void PackBits(std::span<const uint8_t> in, std::vector<uint8_t>& out) {
        size_t i = 0, o = 0;
        while (i < in.size() && o < out.size()) {
            const auto n = int8_t(in[i++]);
            if (n >= 0) {
                const size_t count = std::min({size_t(n) + 1, in.size() - i, out.size() - o});
                std::memcpy(out.data() + o, in.data() + i, count);
                i += size_t(n) + 1;
                o += count;
            } else if (n != -128 && i < in.size()) {
                const size_t count = std::min(size_t(1 - n), out.size() - o);
                std::memset(out.data() + o, in[i++], count);
                o += count;
            }
        }
    }

    void UndoPredictor(std::vector<uint8_t>& out, int64_t width, int64_t rows, int64_t rowBytes, int samples) const {
        for (int64_t y = 0; y < rows; ++y) {
            uint8_t* row = out.data() + y * rowBytes;
            if (page_.bits == 8) {
                for (int64_t i = samples; i < width * samples; ++i) row[i] = uint8_t(row[i] + row[i - samples]);
            } else if (page_.bits == 16) {
                for (int64_t i = samples; i < width * samples; ++i) {
                    uint8_t* s = row + 2 * i;
                    const uint8_t* left = s - 2 * samples;
                    const int value = page_.little ? (s[0] | s[1] << 8) + (left[0] | left[1] << 8)
                                                   : (s[0] << 8 | s[1]) + (left[0] << 8 | left[1]);
                    s[page_.little ? 0 : 1] = uint8_t(value);
                    s[page_.little ? 1 : 0] = uint8_t(value >> 8);
                }
            }
        }
    }

    const TPage& page_;
    TIOParamsVals& params_;
};

// Puts decoded rows into the bitmap.
class TRowConverter {
public:
    TRowConverter(const TPage& page, TKVBitmap& bitmap, bool alpha) : page_(page), bitmap_(bitmap), alpha_(alpha) {
        const int max = (1 << std::min(page_.bits, 16)) - 1;
        scale_ = page_.bits >= 8 ? 0 : max;
    }

    // One row of interleaved samples for pixels [x, x + width) of bitmap row y.
    void Put(const uint8_t* row, int64_t x, int64_t y, int64_t width) {
        width = std::min(width, int64_t(bitmap_.GetWidth()) - x);
        if (width <= 0 || y >= bitmap_.GetHeight()) return;
        uint8_t* out = bitmap_.GetScanline(int(y));
        switch (bitmap_.GetPixelFormat()) {
            case kv1Bit: PutBits(row, out, x, width); return;
            case kv8Gray: PutGray(row, out + x, width); return;
            case kv8Paletted: for (int64_t i = 0; i < width; ++i) out[x + i] = uint8_t(Sample(row, i)); return;
            default: break;
        }
        uint8_t* alphaRow = alpha_ ? bitmap_.GetAlphaChannel()->GetScanline(int(y)) + x : nullptr;
        out += 3 * x;
        const int s = page_.samples;
        for (int64_t i = 0; i < width; ++i, out += 3) {
            const int64_t first = i * s;
            switch (page_.photometric) {
                case 0: case 1: {
                    const uint8_t v = Eight(Sample(row, first));
                    out[0] = out[1] = out[2] = page_.photometric == 0 ? uint8_t(255 - v) : v;
                    if (alphaRow) alphaRow[i] = Eight(Sample(row, first + 1));
                    break;
                }
                case 2:
                    out[2] = Eight(Sample(row, first));
                    out[1] = Eight(Sample(row, first + 1));
                    out[0] = Eight(Sample(row, first + 2));
                    if (alphaRow) alphaRow[i] = Eight(Sample(row, first + 3));
                    break;
                case 3: {
                    // Indexes past a short map take its last colour.
                    const size_t index = std::min<size_t>(Sample(row, first), page_.colorMap.size() - 1);
                    std::memcpy(out, &page_.colorMap[index], 3);
                    break;
                }
                case 5: {
                    const int k = 255 - Eight(Sample(row, first + 3));
                    for (int c = 0; c < 3; ++c) out[2 - c] = uint8_t((255 - Eight(Sample(row, first + c))) * k / 255);
                    break;
                }
                default: break;
            }
        }
    }

private:
    uint32_t Sample(const uint8_t* row, int64_t i) const {
        switch (page_.bits) {
            case 8: return row[i];
            case 16: return page_.little ? uint32_t(row[2 * i] | row[2 * i + 1] << 8) : uint32_t(row[2 * i] << 8 | row[2 * i + 1]);
            default: {
                const int64_t bit = i * page_.bits;
                uint32_t v = 0;
                for (int b = 0; b < page_.bits; ++b) v = v << 1 | ((row[(bit + b) >> 3] >> (7 - ((bit + b) & 7))) & 1);
                return v;
            }
        }
    }
    uint8_t Eight(uint32_t v) const {
        if (page_.bits == 16) return uint8_t(v >> 8);
        return scale_ ? uint8_t(v * 255 / uint32_t(scale_)) : uint8_t(v);
    }
    void PutGray(const uint8_t* row, uint8_t* out, int64_t width) const {
        for (int64_t i = 0; i < width; ++i) out[i] = page_.photometric == 0 ? uint8_t(255 - row[i]) : row[i];
    }
    // The bitmap keeps 1 for white. CCITT rows come decoded with 1 for white, raw rows carry the
    // photometric sense, for every fax coding alike.
    void PutBits(const uint8_t* row, uint8_t* out, int64_t x, int64_t width) const {
        const bool whiteIsOne = page_.IsCcitt() ? page_.photometric == 0 : page_.photometric == 1;
        for (int64_t i = 0; i < width; ++i) {
            const bool bit = ((row[i >> 3] >> (7 - (i & 7))) & 1) != 0;
            const int64_t at = x + i;
            const auto mask = uint8_t(0x80 >> (at & 7));
            if (bit == whiteIsOne) out[at >> 3] |= mask;
            else out[at >> 3] &= uint8_t(~mask);
        }
    }

    const TPage& page_;
    TKVBitmap& bitmap_;
    bool alpha_;
    int scale_ = 0;
};

TKVPixelFormat FormatOf(const TPage& p, bool native) {
    if (p.samples == 1 && p.bits == 1 && p.photometric != 3) return kv1Bit;
    if (native && p.bits == 8 && p.samples == 1 && p.photometric == 1) return kv8Gray;
    if (native && p.bits == 8 && p.samples == 1 && p.photometric == 3) return kv8Paletted;
    return kv24RGB;
}

// The reasons a page cannot be decoded, before anything is allocated.
void CheckDecodable(const TPage& p) {
    if (p.bits != 1 && p.bits != 2 && p.bits != 4 && p.bits != 8 && p.bits != 16)
        throw EInvalidGraphic("TIFF sample depth not supported");
    if (p.IsCcitt() && (p.bits != 1 || p.samples != 1)) throw EInvalidGraphic("CCITT data must be bilevel");
    if (p.samples < 1 || p.samples > 16) throw EInvalidGraphic("TIFF sample count not supported");
    if (p.planar != 1 && p.planar != 2) throw EInvalidGraphic("TIFF planar configuration not supported");
    if (p.planar == 2 && p.bits < 8 && p.samples > 1) throw EInvalidGraphic("TIFF planar layout not supported");
    if (p.predictor != 1 && p.predictor != 2) throw EInvalidGraphic("TIFF predictor not supported");
    if (p.compression == 7) return;  // the JPEG data decides the colours
    const bool ok = ((p.photometric == 0 || p.photometric == 1) && p.samples <= 2) ||
                    (p.photometric == 2 && p.samples >= 3) || (p.photometric == 3 && p.samples == 1) ||
                    (p.photometric == 5 && p.samples >= 4);
    if (!ok) throw EInvalidGraphic("TIFF photometric interpretation not supported");
    if (p.photometric == 3 && p.colorMap.empty()) throw EInvalidGraphic("TIFF palette page without a colour map");
}

class TPageDecoder {
public:
    TPageDecoder(const TByteReader& data, const TPage& page, TKVBitmap& bitmap, TIOParamsVals& params,
                 TKVProgressRec& progress, bool alpha)
        : data_(data), page_(page), bitmap_(bitmap), params_(params), progress_(progress),
          chunks_(page, params), rows_(page, bitmap, alpha) {}

    void Decode() {
        const bool tiled = page_.tileWidth > 0 || page_.tileLength > 0;
        if (page_.offsets.empty()) throw EInvalidGraphic("TIFF page without strips or tiles");
        const int64_t chunkWidth = tiled ? page_.tileWidth : page_.width;
        const int64_t chunkRows = tiled ? page_.tileLength : std::clamp<int64_t>(page_.rowsPerStrip, 1, page_.height);
        // A tile may overhang the picture, but never by more than a tile's worth of sense.
        if (chunkWidth <= 0 || chunkRows <= 0 || chunkWidth > page_.width + 4096 || chunkRows > page_.height + 4096)
            throw EInvalidGraphic("TIFF tile size out of range");
        CheckPictureSize(chunkWidth, chunkRows, page_.bits * page_.samples, -1);
        const int64_t across = (page_.width + chunkWidth - 1) / chunkWidth;
        const int64_t down = (page_.height + chunkRows - 1) / chunkRows;
        const int planes = page_.planar == 2 ? page_.samples : 1;
        StartProgress(progress_, int(page_.height));
        for (int64_t row = 0; row < down && !progress_.Aborted(); ++row)
            for (int64_t column = 0; column < across && !progress_.Aborted(); ++column) {
                const int64_t index = row * across + column;
                const int64_t rows = tiled ? chunkRows : std::min(chunkRows, page_.height - row * chunkRows);
                if (page_.compression == 7) {
                    DecodeJpegChunk(index, column * chunkWidth, row * chunkRows);
                } else {
                    const std::vector<uint8_t> pixels = planes == 1 ? chunks_.Decode(Chunk(index), chunkWidth, rows, page_.samples)
                                                                    : Interleaved(index, across * down, chunkWidth, rows);
                    const int64_t rowBytes = (chunkWidth * page_.samples * page_.bits + 7) / 8;
                    for (int64_t y = 0; y < rows; ++y)
                        rows_.Put(pixels.data() + y * rowBytes, column * chunkWidth, row * chunkRows + y, chunkWidth);
                }
                if (column == across - 1) progress_.Report(int(std::min(page_.height, (row + 1) * chunkRows)));
            }
    }

private:
    // The chunk's bytes; counts that are missing, zero or past the end reach the end of the data.
    std::span<const uint8_t> Chunk(int64_t index) const {
        if (index >= int64_t(page_.offsets.size())) return {};
        const int64_t offset = page_.offsets[size_t(index)];
        if (offset >= data_.Size()) return {};
        int64_t count = index < int64_t(page_.counts.size()) ? page_.counts[size_t(index)] : 0;
        if (count <= 0 || count > data_.Size() - offset) count = data_.Size() - offset;
        return data_.BytesAt(offset, count);
    }

    std::vector<uint8_t> Interleaved(int64_t index, int64_t perPlane, int64_t width, int64_t rows) {
        const int bytes = page_.bits / 8;
        std::vector<uint8_t> out(size_t(width * rows * page_.samples * bytes));
        for (int s = 0; s < page_.samples; ++s) {
            const std::vector<uint8_t> plane = chunks_.Decode(Chunk(index + s * perPlane), width, rows, 1);
            for (int64_t i = 0; i < width * rows; ++i)
                std::memcpy(out.data() + (i * page_.samples + s) * bytes, plane.data() + i * bytes, size_t(bytes));
        }
        return out;
    }

    void DecodeJpegChunk(int64_t index, int64_t x, int64_t y) {
        const std::span<const uint8_t> chunk = Chunk(index);
        TKVMemStream stream(chunk.data(), int64_t(chunk.size()));
        TKVMemStream tables(page_.jpegTables.data(), int64_t(page_.jpegTables.size()));
        TKVBitmap scratch;
        TIOParamsVals scratchParams(nullptr);
        std::atomic<bool> failed{false};
        TKVProgressRec quiet;
        quiet.AbortFlag = &failed;
        const bool keepYCbCr = !page_.jpegTables.empty() && page_.photometric == 2;
        ReadJPEGStream(stream, page_.jpegTables.empty() ? nullptr : &tables, scratch, false, true, false, keepYCbCr,
                       false, quiet, scratchParams);
        if (failed.load() || scratch.IsEmpty()) throw EInvalidGraphic("damaged TIFF JPEG data");
        if (scratch.GetPixelFormat() != kv24RGB) scratch.SetPixelFormat(kv24RGB);
        for (int row = 0; row < scratch.GetHeight() && y + row < bitmap_.GetHeight(); ++row) {
            const int64_t width = std::min<int64_t>(scratch.GetWidth(), bitmap_.GetWidth() - x);
            if (width <= 0) break;
            uint8_t* out = bitmap_.GetScanline(int(y + row)) + 3 * x;
            std::memcpy(out, scratch.GetScanline(row), size_t(3 * width));
            if (keepYCbCr)
                for (int64_t i = 0; i < width; ++i) std::swap(out[3 * i], out[3 * i + 2]);
        }
    }

    const TByteReader& data_;
    const TPage& page_;
    TKVBitmap& bitmap_;
    TIOParamsVals& params_;
    TKVProgressRec& progress_;
    TChunkDecoder chunks_;
    TRowConverter rows_;
};

TPage ReadPage(const TDirectory& d, bool little) {
    TPage p;
    p.little = little;
    p.width = d.Integer(tagWidth, 0);
    p.height = d.Integer(tagHeight, 0);
    p.samples = int(d.Integer(tagSamplesPerPixel, 1));
    const uint32_t bitCounts = d.Count(tagBitsPerSample);
    p.bits = int(d.Integer(tagBitsPerSample, 1));
    for (uint32_t i = 1; i < bitCounts && i < 16; ++i)
        if (d.Element(tagBitsPerSample, i) != p.bits) throw EInvalidGraphic("TIFF samples of different depths");
    const int64_t rows = d.Integer(tagRowsPerStrip, p.height);
    p.rowsPerStrip = rows <= 0 || rows == 0xFFFFFFFF ? p.height : rows;
    p.tileWidth = d.Integer(tagTileWidth, -1);
    p.tileLength = d.Integer(tagTileLength, -1);
    p.photometric = int(d.Integer(tagPhotometric, 2));
    p.planar = int(d.Integer(tagPlanar, 1));
    p.compression = int(d.Integer(tagCompression, 1));
    p.predictor = int(d.Integer(tagPredictor, 1));
    p.fillOrder = int(d.Integer(tagFillOrder, 1));
    p.t4Options = d.Integer(tagT4Options, 0);
    p.extraSamples = d.Integer(tagExtraSamples, 0);
    const bool tiled = (p.tileWidth > 0 || p.tileLength > 0) && d.Has(tagTileOffsets);
    p.offsets = d.Array(tiled ? tagTileOffsets : tagStripOffsets);
    p.counts = d.Array(tiled ? tagTileByteCounts : tagStripByteCounts);
    p.jpegTables = d.Bytes(tagJpegTables);
    if (p.samples == 1 && p.bits == 1 && p.compression >= 1 && p.compression <= 4 && p.photometric == 2) p.photometric = 0;
    if (d.Has(tagColorMap)) p.colorMap = ColorMapOf(d, p.bits);
    return p;
}

void ReadPageInto(TKVBitmap* bitmap, const TByteReader& data, const TDirectory& d, TPage& page, bool thumbnail,
                  bool alphaNotWanted, bool paramsOnly, TKVProgressRec& progress, TIOParamsVals& params) {
    if (paramsOnly) return;
    if (!bitmap || page.width <= 0 || page.height <= 0) throw EInvalidGraphic("TIFF page without a size");
    if (thumbnail && (page.width > ThumbnailSide || page.height > ThumbnailSide))
        throw EInvalidGraphic("TIFF page too large for a thumbnail");
    if (page.compression == 6) throw EInvalidGraphic("old-style TIFF JPEG not supported");
    CheckDecodable(page);
    CheckPictureSize(page.width, page.height, page.bits * page.samples, data.Size());
    const bool alpha = !alphaNotWanted && page.compression != 7 &&
                       (((page.photometric == 0 || page.photometric == 1) && page.samples == 2) ||
                        (page.photometric == 2 && page.samples >= 4));
    bitmap->Allocate(int(page.width), int(page.height), FormatOf(page, params.IsNativePixelFormat));
    if (bitmap->GetPixelFormat() == kv8Paletted)
        for (size_t i = 0; i < page.colorMap.size() && i < 256; ++i) bitmap->Palette()[i] = page.colorMap[i];
    if (thumbnail) bitmap->Fill(0);
    if (alpha) bitmap->GetAlphaChannel()->Fill(255);
    {
        TKVAccessScope writing(*bitmap, kvaWrite);
        TPageDecoder(data, page, *bitmap, params, progress, alpha).Decode();
    }
    if (params.TiffEnableAdjustOrientation) KVApplyOrientation(*bitmap, int(d.Integer(tagOrientation, 1)));
}

}  // namespace

void ReadTIFFStream(TKVBitmap* bitmap, TStream& stream, int& pageCount, bool thumbnail, bool alphaNotWanted,
                    bool offsetsRelative, bool paramsOnly, TKVProgressRec& progress, TIOParamsVals* params) {
    pageCount = 0;
    RunDriver(progress, [&] {
        const int64_t base = offsetsRelative ? stream.Position() : 0;
        stream.SetPosition(base);
        const std::vector<uint8_t> bytes = ReadStreamRest(stream);
        const TByteReader data(bytes.data(), int64_t(bytes.size()));
        if (data.Size() < 8 || !(data.U16LEAt(0) == 0x4949 || data.U16LEAt(0) == 0x4D4D))
            throw EInvalidGraphic("not a TIFF structure");
        const bool little = data.U16LEAt(0) == 0x4949;
        TDirectory header(data, little);
        const uint32_t first = header.U32(4);
        if (first == 0) throw EInvalidGraphic("TIFF without a first directory");
        int64_t wantedOffset = 0;
        pageCount = WalkIFDs(header, data.Size(), first, params ? params->TiffImageIndex : -1, wantedOffset);
        if (!params || !wantedOffset) throw EInvalidGraphic("TIFF page not present");
        TDirectory directory(data, little);
        directory.ReadEntries(wantedOffset);
        TPage page = ReadPage(directory, little);
        FillParams(directory, page, pageCount, *params);
        const int64_t exifOffset = directory.Integer(tagExifIfd, 0);
        if (exifOffset > 0 && exifOffset + 2 <= data.Size()) {
            TDirectory exif(data, little);
            exif.ReadEntries(exifOffset);
            FillExifParams(exif, *params);
        }
        ReadPageInto(bitmap, data, directory, page, thumbnail, alphaNotWanted, paramsOnly, progress, *params);
    });
}

void ReadTIFF(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, bool paramsOnly, TKVProgressRec& progress) {
    int pages = 0;
    ReadTIFFStream(&bitmap, stream, pages, false, false, true, paramsOnly, progress, &params);
}

int GetTIFFStreamPageCount(TStream& stream) {
    std::atomic<bool> aborted{false};
    TKVProgressRec progress;
    progress.AbortFlag = &aborted;
    const int64_t start = stream.Position();
    int pages = 0;
    ReadTIFFStream(nullptr, stream, pages, false, true, true, true, progress, nullptr);
    stream.SetPosition(start);
    return pages;
}

bool TIFFIsDNGStream(TStream& stream) {
    const int64_t start = stream.Position();
    stream.SetPosition(0);
    const std::vector<uint8_t> bytes = ReadStreamRest(stream);
    stream.SetPosition(start);
    try {
        const TByteReader data(bytes.data(), int64_t(bytes.size()));
        if (data.Size() < 8 || !(data.U16LEAt(0) == 0x4949 || data.U16LEAt(0) == 0x4D4D)) return false;
        TDirectory d(data, data.U16LEAt(0) == 0x4949);
        d.ReadEntries(d.U32(4));
        return d.Count(tagDngVersion) == 4 && d.Bytes(tagDngVersion).size() == 4;
    } catch (const Exception&) {
        return false;
    }
}
