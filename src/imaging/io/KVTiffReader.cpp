#include "imaging/io/KVTiff.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVICC.h"
#include "imaging/core/KVMetadata.h"
#include "imaging/core/KVOrientation.h"
#include "imaging/core/KVQuantizer.h"
#include "imaging/core/KVStreams.h"
#include "imaging/core/KVVirtualImageList.h"
#include "imaging/core/KVViewServices.h"
#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KVCcitt.h"
#include "imaging/io/KVColorConvert.h"
#include "imaging/io/KVDriverSupport.h"
#include "imaging/io/KVJpegFilter.h"
#include "imaging/io/KVTiffLab.h"
#include "imaging/proc/KVColorModels.h"
#include "platform/ByteReader.h"
#include "platform/Classes.h"
#include "platform/PictureLimits.h"
#include "imaging/io/KVTiffTags.h"

using namespace kvtiff;

namespace {

// Largest count of a text or byte value taken from a file.
constexpr uint32_t LargestValue = 0xFFFFF;
// A thumbnail read decodes only pages up to this side.
constexpr int ThumbnailSide = 400;

struct TEntry {
    uint16_t tag, type;
    uint32_t count;
    int64_t field;  // position of the value-or-offset field
};

// The bytes of the structure from its start. A decode reads them all; a header read reads only
// what the directories lead to, and the rest stays zero pages that are never touched. Neither
// fills memory that a read then overwrites.
class TStructure {
public:
    TStructure(TStream& stream, bool whole)
        : stream_(stream), start_(stream.Position()), size_(std::max<int64_t>(stream.Size() - start_, 0)) {
        bytes_.reset(static_cast<uint8_t*>(whole ? std::malloc(size_t(size_) + 1) : std::calloc(size_t(size_) + 1, 1)));
        if (!bytes_) throw std::bad_alloc();
        if (whole) size_ = std::max<int64_t>(stream.Read(bytes_.get(), size_), 0);
        complete_ = whole;
        reader_ = TByteReader(bytes_.get(), size_);
    }
    const TByteReader& Reader() const { return reader_; }
    // Reads the bytes [at, at + count) that lie inside, unless all are read already. Directories
    // that ask for more than the structure holds get it read once, whole.
    void Load(int64_t at, int64_t count) {
        if (complete_ || at < 0 || at >= size_ || count <= 0) return;
        count = std::min(count, size_ - at);
        loaded_ += count;
        if (loaded_ > size_) {
            at = 0, count = size_;
            complete_ = true;
        }
        stream_.SetPosition(start_ + at);
        const int64_t got = stream_.Read(bytes_.get() + at, count);
        stream_.SetPosition(start_ + size_);  // where a whole read leaves it
        if (got != count) throw EShortData("TIFF structure shorter than its stream");
    }

private:
    struct TFree {
        void operator()(uint8_t* p) const { std::free(p); }
    };
    TStream& stream_;
    int64_t start_, size_, loaded_ = 0;
    bool complete_;
    std::unique_ptr<uint8_t, TFree> bytes_;
    TByteReader reader_{nullptr, 0};
};

// The entries of one IFD over the whole structure in memory, offsets counted from its start.
// With a structure read in part, the entries and their values are read as they are found.
class TDirectory {
public:
    TDirectory(const TByteReader& data, bool little, TStructure* structure = nullptr)
        : data_(data), little_(little), structure_(structure) {}

    void ReadEntries(int64_t at) {
        Load(at, 2);
        const int count = U16(at);
        Load(at + 2, 12 * int64_t(count));
        for (int i = 0; i < count; ++i) {
            const int64_t e = at + 2 + 12 * int64_t(i);
            if (e + 12 > data_.Size()) break;  // a cut entry table keeps the entries present
            entries_.push_back({U16(e), U16(e + 2), U32(e + 4), e + 8});
            const int64_t size = int64_t(entries_.back().count) * TypeSize(entries_.back().type);
            if (size > 4) Load(DataStart(entries_.back()), size);
        }
    }
    // Makes bytes of a partly read structure present.
    void Load(int64_t at, int64_t count) const {
        if (structure_) structure_->Load(at, count);
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
        const TEntry* e = Find(tag);
        if (e && int64_t(e->count) * std::max(TypeSize(e->type), 1) > data_.Size())
            throw EShortData("TIFF array larger than the file");
        std::vector<uint32_t> values(Count(tag));
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
    bool IsLittle() const { return little_; }
    // Bytes at an offset of the structure; empty when they do not lie inside it.
    std::span<const uint8_t> BytesAtOffset(int64_t offset, int64_t count) const {
        Load(offset, count);
        return offset >= 0 && count >= 0 && offset <= data_.Size() - count ? data_.BytesAt(offset, count)
                                                                          : std::span<const uint8_t>();
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
    TStructure* structure_;
    std::vector<TEntry> entries_;
};

// Walks the IFD chain; returns the page count and the offset of the wanted page (0 when absent).
int WalkIFDs(const TDirectory& reader, int64_t size, int64_t first, int wanted, int64_t& wantedOffset) {
    int pages = 0;
    std::set<int64_t> seen;
    wantedOffset = 0;
    for (int64_t offset = first; offset >= 8 && offset + 2 <= size && seen.insert(offset).second;) {
        reader.Load(offset, 2);
        const int64_t next = offset + 2 + 12 * int64_t(reader.U16(offset));
        if (next + 4 > size) break;
        reader.Load(next, 4);
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
    int inkSet = 1;  // 1: the separated samples are cyan, magenta, yellow and black
    double whiteX = TiffLabDefaultWhiteX, whiteY = TiffLabDefaultWhiteY;  // of CIELab samples
    bool little = true;
    int shift16 = 8;  // 16-bit samples to 8 bits
    std::vector<uint32_t> offsets, counts;
    std::vector<TKVRGB> colorMap;
    std::span<const uint8_t> jpegTables;
    bool IsCcitt() const { return compression >= 2 && compression <= 4; }
    bool IsCmyk() const { return photometric == 5 && inkSet == 1 && samples >= 4; }
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
    for (const TExifText& t : mainTexts) params.*t.field = d.Text(t.tag);
    for (const TExifText& t : xpTexts)
        if (d.Count(t.tag) <= LargestValue) params.*t.field = Utf16ToUtf8(d.Bytes(t.tag));
    for (const TExifRationals& r : mainRationals) {
        const std::span<double> values = r.field(params);
        for (size_t i = 0; i < values.size(); ++i) values[i] = d.Rational(r.tag, uint32_t(i));
    }
    params.ExifYCbCrPositioning = int(d.Integer(tagYCbCrPositioning, 0));
    const std::span<const uint8_t> iptc = d.Bytes(tagIptc), annotations = d.Bytes(tagAnnotations), icc = d.Bytes(tagIcc);
    params.IptcInfo.Clear();
    if (!iptc.empty()) params.IptcInfo.LoadFromBuffer(iptc.data(), int64_t(iptc.size()));
    if (!annotations.empty()) params.GetImagingAnnot().LoadFromBuffer(annotations.data(), int64_t(annotations.size()));
    if (!icc.empty()) params.GetInputICC().LoadFromBuffer(icc.data(), int64_t(icc.size()));
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


// The maker note as a little-endian directory of its own, its out-of-line values copied behind
// the entries. Entries whose data lies outside the structure are dropped.
void ReadMakerNote(const TDirectory& exif, TKVTagsHandler& handler) {
    handler.Clear();
    const std::span<const uint8_t> note = exif.Bytes(tagMakerNote);
    if (note.size() < 2) return;
    const TByteReader in(note.data(), int64_t(note.size()));
    const int count = exif.IsLittle() ? in.U16LEAt(0) : in.U16BEAt(0);
    if (count > 256 || int64_t(note.size()) < 2 + int64_t(count) * 12) return;
    struct TKept {
        TKVTIFFTag tag;
        std::span<const uint8_t> data;
    };
    std::vector<TKept> kept;
    for (int i = 0; i < count; ++i) {
        const int64_t at = 2 + 12 * int64_t(i);
        const auto u16 = [&](int64_t o) { return exif.IsLittle() ? in.U16LEAt(o) : in.U16BEAt(o); };
        const auto u32 = [&](int64_t o) { return exif.IsLittle() ? in.U32LEAt(o) : in.U32BEAt(o); };
        TKVTIFFTag tag{u16(at), u16(at + 2), u32(at + 4), 0};
        if (tag.Type > 12) break;
        const int64_t size = int64_t(tag.Count) * TypeSize(tag.Type);
        if (size <= 4) {
            // Inline values keep their bytes, in little-endian order for numbers of 2 or 4 bytes.
            const int unit = std::max(TypeSize(tag.Type), 1);
            for (int64_t b = 0; b < size; b += unit)
                for (int k = 0; k < unit; ++k)
                    tag.ValueOffset |= uint32_t(in.U8At(at + 8 + b + (exif.IsLittle() ? k : unit - 1 - k))) << (8 * (b + k));
            kept.push_back({tag, {}});
            continue;
        }
        const std::span<const uint8_t> data = exif.BytesAtOffset(u32(at + 8), size);
        if (!data.empty()) kept.push_back({tag, data});
    }
    std::vector<uint8_t> out;
    const auto put = [&](uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) out.push_back(uint8_t(v >> (8 * i)));
    };
    put(uint32_t(kept.size()), 2);
    auto position = uint32_t(2 + 12 * kept.size());
    for (TKept& k : kept) {
        if (!k.data.empty()) {
            k.tag.ValueOffset = position;
            position += uint32_t(k.data.size());
        }
        put(k.tag.Tag, 2);
        put(k.tag.Type, 2);
        put(k.tag.Count, 4);
        put(k.tag.ValueOffset, 4);
    }
    for (const TKept& k : kept) out.insert(out.end(), k.data.begin(), k.data.end());
    handler.Stream().WriteBuffer(out.data(), int64_t(out.size()));
    handler.Stream().SetPosition(0);
    handler.ReadDirectory();
}

void FillExifParams(const TDirectory& exif, TIOParamsVals& params) {
    params.ExifHasData = true;
    for (const TExifText& t : exifTexts) params.*t.field = exif.Text(t.tag);
    for (const TExifNumber& n : exifNumbers) {
        if (n.real) params.*n.real = exif.Rational(n.tag);
        else params.*n.integer = int(exif.Integer(n.tag, 0));
    }
    params.ExifISOSpeedRatings = {int(exif.Element(tagIsoSpeed, 0)), int(exif.Element(tagIsoSpeed, 1))};
    const auto version = [&](uint16_t tag) {
        const std::span<const uint8_t> bytes = exif.Bytes(tag);
        return bytes.size() == 4 ? std::string(bytes.begin(), bytes.end()) : std::string();
    };
    params.ExifExifVersion = version(tagExifVersion);
    params.ExifFlashPixVersion = version(tagFlashPixVersion);
    ReadMakerNote(exif, params.ExifMakerNote);
    const std::span<const uint8_t> comment = exif.Bytes(tagUserComment);
    const std::string text(comment.begin(), comment.end());
    params.ExifUserCommentCode = text.substr(0, std::min<size_t>(8, text.size()));
    params.ExifUserComment = text.size() > 8 ? text.substr(8) : std::string();
}

// Decodes one chunk (strip or tile) into rows of rowBytes; short data leaves zero rows behind.
class TChunkDecoder {
public:
    TChunkDecoder(const TPage& page, TIOParamsVals& params) : page_(page), params_(params) {}

    std::vector<uint8_t> Decode(std::span<const uint8_t> in, int64_t width, int64_t rows, int samples) {
        const int64_t rowBytes = (width * samples * page_.bits + 7) / 8;
        std::vector<uint8_t> out(size_t(rowBytes * rows), 0);
        if (in.empty()) return out;  // a strip past the end of a cut file
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
        if (page_.photometric == 8) lab_ = std::make_unique<TKVTiffLabDecoder>(page_.whiteX, page_.whiteY);
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
            case kv16Gray:
                for (int64_t i = 0; i < width; ++i) {
                    const auto v = uint16_t(Sample(row, i));
                    std::memcpy(out + 2 * (x + i), &v, 2);
                }
                return;
            case kvRGB48:
                for (int64_t i = 0; i < width; ++i) {
                    const TKVRGB48 p{uint16_t(Sample(row, 3 * i)), uint16_t(Sample(row, 3 * i + 1)), uint16_t(Sample(row, 3 * i + 2))};
                    std::memcpy(out + 6 * (x + i), &p, 6);
                }
                return;
            case kvCMYK:
                // The file holds ink amounts, the bitmap their complements.
                for (int64_t i = 0; i < width; ++i)
                    for (int c = 0; c < 4; ++c) out[4 * (x + i) + c] = uint8_t(255 - Eight(Sample(row, i * page_.samples + c)));
                return;
            default: break;
        }
        uint8_t* alphaRow = alpha_ ? bitmap_.GetAlphaChannel()->GetScanline(int(y)) + x : nullptr;
        out += 3 * x;
        const int s = page_.samples;
        if (page_.photometric == 8) {
            // A row at a time: the colour transform costs little per pixel but much per call.
            labRow_.resize(size_t(3 * width));
            for (int64_t i = 0; i < width; ++i)
                for (int c = 0; c < 3; ++c) labRow_[size_t(3 * i + c)] = Eight(Sample(row, i * s + c));
            lab_->Decode(labRow_.data(), out, width);
            return;
        }
        if (page_.photometric == 2 && page_.bits == 8 && !alphaRow) {
            for (int64_t i = 0; i < width; ++i, out += 3, row += s) {
                out[0] = row[2];
                out[1] = row[1];
                out[2] = row[0];
            }
            return;
        }
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
        if (page_.bits == 16) return uint8_t(v >> page_.shift16);
        return scale_ ? uint8_t(v * 255 / uint32_t(scale_)) : uint8_t(v);
    }
    void PutGray(const uint8_t* row, uint8_t* out, int64_t width) const {
        for (int64_t i = 0; i < width; ++i) out[i] = page_.photometric == 0 ? uint8_t(255 - row[i]) : row[i];
    }
    // The bitmap keeps 1 for white. CCITT rows come decoded with 1 for white, raw rows carry the
    // photometric sense, for every fax coding alike.
    void PutBits(const uint8_t* row, uint8_t* out, int64_t x, int64_t width) const {
        const bool whiteIsOne = page_.IsCcitt() ? page_.photometric == 0 : page_.photometric == 1;
        int64_t i = 0;
        if (x % 8 == 0)
            for (; i + 8 <= width; i += 8) out[(x + i) >> 3] = whiteIsOne ? row[i >> 3] : uint8_t(~row[i >> 3]);
        for (; i < width; ++i) {
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
    std::unique_ptr<TKVTiffLabDecoder> lab_;
    std::vector<uint8_t> labRow_;
};

TKVPixelFormat FormatOf(const TPage& p, bool native) {
    if (native && p.IsCmyk() && (p.bits == 8 || (p.bits == 16 && p.samples == 4))) return kvCMYK;
    // The JPEG reader gives the other JPEG pages as 24-bit pixels.
    if (p.compression == 7) return kv24RGB;
    if (p.samples == 1 && p.bits == 1 && p.photometric != 3) return kv1Bit;
    if (native && p.bits == 8 && p.samples == 1 && p.photometric == 1) return kv8Gray;
    if (native && p.bits == 8 && p.samples == 1 && p.photometric == 3) return kv8Paletted;
    if (native && p.bits == 16 && p.samples == 1 && p.photometric == 1) return kv16Gray;
    if (native && p.bits == 16 && p.samples == 3 && p.photometric == 2) return kvRGB48;
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
    // Inks other than CMYK have no colours this reader knows.
    if (p.photometric == 5 && p.inkSet != 1) throw EInvalidGraphic("TIFF inks other than CMYK not supported");
    if (p.compression == 7) return;  // the JPEG data decides the colours
    const bool ok = ((p.photometric == 0 || p.photometric == 1) && p.samples <= 2) ||
                    (p.photometric == 2 && p.samples >= 3) || (p.photometric == 3 && p.samples == 1) ||
                    p.IsCmyk() || (p.photometric == 8 && p.samples == 3 && p.bits == 8);
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
    // The chunk's bytes; counts that are missing or zero reach the end of the data. A chunk that
    // starts or ends past the end of the data belongs to a file cut short.
    std::span<const uint8_t> Chunk(int64_t index) const {
        if (index >= int64_t(page_.offsets.size())) return {};
        const int64_t offset = page_.offsets[size_t(index)];
        int64_t count = index < int64_t(page_.counts.size()) ? page_.counts[size_t(index)] : 0;
        if (offset >= data_.Size() || count > data_.Size() - offset) throw EShortData("TIFF picture is truncated");
        if (count <= 0) count = data_.Size() - offset;
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
        const bool cmyk = bitmap_.GetPixelFormat() == kvCMYK;
        scratchParams.IsNativePixelFormat = cmyk;  // the samples as stored
        ReadJPEGStream(stream, page_.jpegTables.empty() ? nullptr : &tables, scratch, false, true, false, keepYCbCr,
                       false, quiet, scratchParams);
        if (failed.load() || scratch.IsEmpty()) throw EInvalidGraphic("damaged TIFF JPEG data");
        if (cmyk && scratch.GetPixelFormat() != kvCMYK) throw EInvalidGraphic("TIFF JPEG data without four inks");
        if (!cmyk && scratch.GetPixelFormat() != kv24RGB) scratch.SetPixelFormat(kv24RGB);
        const int pixelBytes = cmyk ? 4 : 3;
        for (int row = 0; row < scratch.GetHeight() && y + row < bitmap_.GetHeight(); ++row) {
            const int64_t width = std::min<int64_t>(scratch.GetWidth(), bitmap_.GetWidth() - x);
            if (width <= 0) break;
            uint8_t* out = bitmap_.GetScanline(int(y + row)) + pixelBytes * x;
            std::memcpy(out, scratch.GetScanline(row), size_t(pixelBytes * width));
            // Ink amounts in the file, their complements in the bitmap.
            if (cmyk)
                for (int64_t i = 0; i < 4 * width; ++i) out[i] = uint8_t(255 - out[i]);
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
    p.inkSet = int(d.Integer(tagInkSet, 1));
    // Whites far from the middle of the chromaticity chart are damage, and would overflow XYZ.
    auto plausible = [](double v) { return v >= 0.1 && v <= 0.6; };
    if (const double x = d.Rational(tagWhitePoint, 0), y = d.Rational(tagWhitePoint, 1); plausible(x) && plausible(y)) {
        p.whiteX = x;
        p.whiteY = y;
    }
    const bool tiled = (p.tileWidth > 0 || p.tileLength > 0) && d.Has(tagTileOffsets);
    p.offsets = d.Array(tiled ? tagTileOffsets : tagStripOffsets);
    p.counts = d.Array(tiled ? tagTileByteCounts : tagStripByteCounts);
    p.jpegTables = d.Bytes(tagJpegTables);
    if (p.samples == 1 && p.bits == 1 && p.compression >= 1 && p.compression <= 4 && p.photometric == 2) p.photometric = 0;
    if (d.Has(tagColorMap)) p.colorMap = ColorMapOf(d, p.bits);
    // One scanner program stores 12-bit gray in 16-bit samples.
    if (p.samples == 1 && p.photometric <= 1 && d.Text(tagSoftware).starts_with("Look@Dorvi v1.1")) p.shift16 = 4;
    return p;
}

// A whole JPEG stream inside the structure (old-style JPEG pages, EXIF thumbnails). Its length
// comes from its own markers: writers often get the declared length wrong or leave it out.
void ReadInterchangeJpeg(TKVBitmap& bitmap, const TByteReader& data, const TDirectory& d, const TPage& page,
                         TKVProgressRec& progress) {
    const int64_t declared = d.Integer(tagJpegInterchange, 0);
    const int64_t at = declared > 0 ? declared : page.offsets.empty() ? 0 : int64_t(page.offsets[0]);
    if (at <= 0 || at >= data.Size()) throw EInvalidGraphic("TIFF JPEG data outside the structure");
    const std::span<const uint8_t> rest = data.BytesAt(at, data.Size() - at);
    TKVMemStream whole(rest.data(), int64_t(rest.size()));
    const int64_t length = GetJPEGStreamLength(whole);
    TKVMemStream stream(rest.data(), length);
    TIOParamsVals scratch(nullptr);
    ReadJPEGStream(stream, nullptr, bitmap, true, true, false, false, false, progress, scratch);
}

void ReadPageInto(TKVBitmap* bitmap, const TByteReader& data, const TDirectory& d, TPage& page, bool thumbnail,
                  bool alphaNotWanted, bool paramsOnly, TKVProgressRec& progress, TIOParamsVals& params) {
    if (paramsOnly) return;
    if (!bitmap) throw EInvalidGraphic("no bitmap to read into");
    if (page.compression == 6 || d.Integer(tagJpegInterchange, 0) > 0) {
        ReadInterchangeJpeg(*bitmap, data, d, page, progress);
        if (thumbnail && (bitmap->GetWidth() > ThumbnailSide || bitmap->GetHeight() > ThumbnailSide))
            throw EInvalidGraphic("TIFF page too large for a thumbnail");
        return;
    }
    if (page.width <= 0 || page.height <= 0) throw EInvalidGraphic("TIFF page without a size");
    if (thumbnail && (page.width > ThumbnailSide || page.height > ThumbnailSide))
        throw EInvalidGraphic("TIFF page too large for a thumbnail");
    CheckDecodable(page);
    CheckPictureSize(page.width, page.height, page.bits * page.samples, data.Size());
    const bool alpha = !alphaNotWanted && page.compression != 7 &&
                       (((page.photometric == 0 || page.photometric == 1) && page.samples == 2) ||
                        (page.photometric == 2 && page.samples >= 4));
    // The strips or tiles cover every pixel, a short one with zeros; JPEG data may cover less.
    const TKVPixelFormat format = FormatOf(page, params.IsNativePixelFormat);
    if (thumbnail || page.compression == 7) bitmap->Allocate(int(page.width), int(page.height), format);
    else bitmap->AllocateUnfilled(int(page.width), int(page.height), format);
    if (bitmap->GetPixelFormat() == kv8Paletted)
        for (size_t i = 0; i < page.colorMap.size() && i < 256; ++i) bitmap->Palette()[i] = page.colorMap[i];
    if (alpha) bitmap->GetAlphaChannel()->Fill(255);
    try {
        TKVAccessScope writing(*bitmap, kvaWrite);
        TPageDecoder(data, page, *bitmap, params, progress, alpha).Decode();
    } catch (...) {
        bitmap->Fill(0);
        throw;
    }
    if (progress.Aborted()) bitmap->Fill(0);
    if (params.TiffEnableAdjustOrientation) KVApplyOrientation(*bitmap, int(d.Integer(tagOrientation, 1)));
}

}  // namespace

void ReadTIFFStream(TKVBitmap* bitmap, TStream& stream, int& pageCount, bool thumbnail, bool alphaNotWanted,
                    bool offsetsRelative, bool paramsOnly, TKVProgressRec& progress, TIOParamsVals* params) {
    pageCount = 0;
    RunDriver(progress, [&] {
        const int64_t base = offsetsRelative ? stream.Position() : 0;
        stream.SetPosition(base);
        TStructure structure(stream, bitmap && !paramsOnly);
        const TByteReader& data = structure.Reader();
        structure.Load(0, 8);
        if (data.Size() < 8 || !(data.U16LEAt(0) == 0x4949 || data.U16LEAt(0) == 0x4D4D))
            throw EInvalidGraphic("not a TIFF structure");
        const bool little = data.U16LEAt(0) == 0x4949;
        TDirectory header(data, little, &structure);
        const uint32_t first = header.U32(4);
        if (first == 0) throw EInvalidGraphic("TIFF without a first directory");
        int64_t wantedOffset = 0;
        pageCount = WalkIFDs(header, data.Size(), first, params ? params->TiffImageIndex : -1, wantedOffset);
        if (pageCount == 0 && first + 2 > data.Size())
            throw EInvalidGraphic("TIFF directory at offset " + std::to_string(first) + " lies past the end of the " +
                                  std::to_string(data.Size()) + " bytes of data");
        if (!params || !wantedOffset)
            throw EInvalidGraphic("TIFF page not present: the file holds " + std::to_string(pageCount));
        TDirectory directory(data, little, &structure);
        directory.ReadEntries(wantedOffset);
        TPage page = ReadPage(directory, little);
        FillParams(directory, page, pageCount, *params);
        const int64_t exifOffset = directory.Integer(tagExifIfd, 0);
        if (exifOffset > 0 && exifOffset + 2 <= data.Size()) {
            TDirectory exif(data, little, &structure);
            exif.ReadEntries(exifOffset);
            FillExifParams(exif, *params);
        }
        ReadPageInto(bitmap, data, directory, page, thumbnail, alphaNotWanted, paramsOnly, progress, *params);
    });
}

namespace {

// Behind a 12-byte "TIFF" stream header a structure is read from the header's end, and the
// stream is left after it, so that several pictures can follow one another. Moves behind the
// header and answers the picture's length; -1 (and the stream unmoved) when there is none.
int64_t SkipStreamHeader(TStream& stream) {
    const int64_t start = stream.Position();
    uint8_t header[12] = {};
    if (stream.Read(header, 12) == 12 && std::memcmp(header, "TIFF\0", 5) == 0)
        return int64_t(uint32_t(header[8] | header[9] << 8 | header[10] << 16) | uint32_t(header[11]) << 24);
    stream.SetPosition(start);
    return -1;
}

}  // namespace

void ReadTIFF(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, bool paramsOnly, TKVProgressRec& progress) {
    const int64_t length = SkipStreamHeader(stream);
    const int64_t start = stream.Position();
    int pages = 0;
    ReadTIFFStream(&bitmap, stream, pages, false, false, true, paramsOnly, progress, &params);
    if (length >= 0) stream.SetPosition(start + length);
}

int GetTIFFStreamPageCount(TStream& stream) {
    std::atomic<bool> aborted{false};
    TKVProgressRec progress;
    progress.AbortFlag = &aborted;
    const int64_t start = stream.Position();
    SkipStreamHeader(stream);
    int pages = 0;
    ReadTIFFStream(nullptr, stream, pages, false, true, true, true, progress, nullptr);
    stream.SetPosition(start);
    return pages;
}

bool TIFFIsDNGStream(TStream& stream) {
    const int64_t start = stream.Position();
    stream.SetPosition(0);
    bool dng = false;
    try {
        TStructure structure(stream, false);
        const TByteReader& data = structure.Reader();
        structure.Load(0, 8);
        if (data.Size() >= 8 && (data.U16LEAt(0) == 0x4949 || data.U16LEAt(0) == 0x4D4D)) {
            TDirectory d(data, data.U16LEAt(0) == 0x4949, &structure);
            d.ReadEntries(d.U32(4));
            dng = d.Count(tagDngVersion) == 4 && d.Bytes(tagDngVersion).size() == 4;
        }
    } catch (const Exception&) {
        dng = false;
    }
    stream.SetPosition(start);
    return dng;
}
