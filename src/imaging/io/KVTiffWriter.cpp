#include "imaging/io/KVTiff.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <optional>
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
#include "platform/ByteWriter.h"
#include "platform/Classes.h"
#include "platform/Files.h"
#include "platform/PictureLimits.h"
#include "imaging/io/KVTiffTags.h"

using namespace kvtiff;

namespace {

// A value as numerator / denominator: the denominator shrinks until the numerator fits.
std::pair<uint32_t, uint32_t> MakeRational(double value) {
    int64_t denominator = 1000000;
    while (denominator > 1 && std::fabs(value) * double(denominator) > 2147483640.0) denominator /= 10;
    const double numerator = std::nearbyint(value * double(denominator));
    return {uint32_t(int32_t(std::clamp(numerator, -2147483648.0, 2147483647.0))), uint32_t(denominator)};
}

// Collects the IFD entries of one page while their out-of-line data goes to the stream at once.
class TTagWriter {
public:
    TTagWriter(TStream& stream, int64_t base, std::atomic<bool>& abort) : stream_(stream), base_(base), abort_(abort) {}

    // A writer for another IFD of the same structure.
    TTagWriter Sibling() const { return TTagWriter(stream_, base_, abort_); }
    int64_t Position() const { return stream_.Position() - base_; }
    void Write(const void* data, int64_t count) { KVStreamWriteChecked(stream_, abort_, data, count); }
    void WordAlign() {
        if (Position() % 2) Write("", 1);
    }
    void Long(uint16_t tag, uint32_t value) { Add(tag, 4, 1, value); }
    void Short(uint16_t tag, uint16_t value) { Add(tag, 3, 1, value); }
    void Shorts(uint16_t tag, const std::vector<uint16_t>& values) {
        if (values.size() <= 2) {
            Add(tag, 3, uint32_t(values.size()), values[0] | (values.size() == 2 ? uint32_t(values[1]) << 16 : 0));
            return;
        }
        Add(tag, 3, uint32_t(values.size()), OutOfLine(values.data(), int64_t(values.size()) * 2));
    }
    void Longs(uint16_t tag, const std::vector<uint32_t>& values) {
        if (values.size() == 1) Long(tag, values[0]);
        else Add(tag, 4, uint32_t(values.size()), OutOfLine(values.data(), int64_t(values.size()) * 4));
    }
    void Rationals(uint16_t tag, const std::vector<double>& values, bool isSigned = false) {
        std::vector<uint32_t> pairs;
        for (double v : values) {
            const auto [numerator, denominator] = MakeRational(v);
            pairs.insert(pairs.end(), {numerator, denominator});
        }
        Add(tag, isSigned ? 10 : 5, uint32_t(values.size()), OutOfLine(pairs.data(), int64_t(pairs.size()) * 4));
    }
    void Text(uint16_t tag, const std::string& text) {
        if (!text.empty()) Bytes(tag, 2, std::vector<uint8_t>(text.c_str(), text.c_str() + text.size() + 1));
    }
    // count defaults to the number of bytes (a type of one byte).
    void Bytes(uint16_t tag, uint16_t type, const std::vector<uint8_t>& bytes, uint32_t count = 0) {
        if (bytes.empty()) return;
        uint32_t inline_ = 0;
        if (bytes.size() <= 4) std::memcpy(&inline_, bytes.data(), bytes.size());
        Add(tag, type, count ? count : uint32_t(bytes.size()),
            bytes.size() <= 4 ? inline_ : OutOfLine(bytes.data(), int64_t(bytes.size())));
    }
    // The IFD itself: count, entries by tag, next offset. Returns its offset.
    uint32_t WriteIFD(uint32_t next) {
        WordAlign();
        const auto at = uint32_t(Position());
        std::stable_sort(entries_.begin(), entries_.end(), [](const TOut& a, const TOut& b) { return a.tag < b.tag; });
        std::vector<uint8_t> ifd;
        PutU16LE(ifd, uint32_t(entries_.size()));
        for (const TOut& e : entries_) {
            PutU16LE(ifd, e.tag);
            PutU16LE(ifd, e.type);
            PutU32LE(ifd, e.count);
            PutU32LE(ifd, e.value);
        }
        PutU32LE(ifd, next);
        Write(ifd.data(), int64_t(ifd.size()));
        return at;
    }

private:
    struct TOut {
        uint16_t tag, type;
        uint32_t count, value;
    };
    // A tag written again keeps only its last value: an IFD holds each tag once.
    void Add(uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
        std::erase_if(entries_, [&](const TOut& e) { return e.tag == tag; });
        entries_.push_back({tag, type, count, value});
    }
    // The host is little-endian, as the structures this writer makes.
    uint32_t OutOfLine(const void* data, int64_t count) {
        WordAlign();
        const auto at = uint32_t(Position());
        Write(data, count);
        return at;
    }

    TStream& stream_;
    int64_t base_;
    std::atomic<bool>& abort_;
    std::vector<TOut> entries_;
};

enum TOutKind { okBilevel, okGray, okPalette, okRGB, okCMYK, okCIELab };

// What one page is written as.
struct TOutPage {
    TKVBitmap* bitmap = nullptr;
    std::unique_ptr<TKVBitmap> owned;
    TOutKind kind = okRGB;
    int bits = 8, samples = 3, compression = 1, predictor = 1, fillOrder = 1;
    int jpegColorSpace = 2;  // as JpegColorSpace
    bool twoD = false, fax = false, alpha = false;
    std::vector<TKVRGB> palette;
    std::unique_ptr<TKVQuantizer> quantizer;
};

bool IsGrayPicture(TKVBitmap& bitmap) {
    for (int y = 0; y < bitmap.GetHeight(); ++y) {
        const uint8_t* row = bitmap.GetScanline(y);
        for (int x = 0; x < bitmap.GetWidth(); ++x)
            if (row[3 * x] != row[3 * x + 1] || row[3 * x] != row[3 * x + 2]) return false;
    }
    return true;
}

int TiffCompressionOf(int code) {
    static const int numbers[] = {1, 2, 3, 3, 4, 5, 1, 7, 32773};
    return code >= 0 && code < int(std::size(numbers)) ? numbers[code] : 1;
}

// A JPEG page's colours follow the JPEG colour space: RGB, gray, YCbCr, CMYK; YCCK becomes RGB.
void ChooseJpegColours(TOutPage& out, int jpegColorSpace) {
    out.jpegColorSpace = jpegColorSpace >= 1 && jpegColorSpace <= 3 ? jpegColorSpace : 0;
    out.kind = out.jpegColorSpace == 1 ? okGray : out.jpegColorSpace == 3 ? okCMYK : okRGB;
    out.samples = out.jpegColorSpace == 1 ? 1 : out.jpegColorSpace == 3 ? 4 : 3;
}

// The output format from the bitmap and the record, which is adjusted to what is written.
TOutPage ChooseOutput(TKVBitmap& source, TIOParamsVals& params) {
    TOutPage out;
    out.bitmap = &source;
    const TKVPixelFormat format = source.GetPixelFormat();
    if (format == kvCMYK || format == kv32f || format == kvNoFormat) throw EInvalidGraphic("TIFF writer needs RGB, gray or palette pictures");
    const bool bilevel = params.BitsPerSample == 1 && params.SamplesPerPixel == 1;
    if (bilevel && format != kv1Bit) {
        uint32_t dark = 0, light = 0;
        out.owned = KVConvertTo1BitIfTwoColors(source, dark, light);
        if (!out.owned) out.owned = OneBitCopy(source);
        out.bitmap = out.owned.get();
    } else if (!bilevel && format == kv1Bit) {
        out.owned = std::make_unique<TKVBitmap>();
        out.owned->Assign(&source);
        out.owned->SetPixelFormat(kv24RGB);
        out.bitmap = out.owned.get();
    }
    TKVBitmap& work = *out.bitmap;
    out.compression = TiffCompressionOf(params.TiffCompression);
    if (params.TiffCompression == 3) out.twoD = true;
    out.fillOrder = params.TiffFillOrder == 2 ? 2 : 1;
    switch (work.GetPixelFormat()) {
        case kv1Bit: out.kind = okBilevel; out.bits = 1; out.samples = 1; break;
        case kv8Gray: out.kind = okGray; out.samples = 1; break;
        case kv16Gray: out.kind = okGray; out.samples = 1; out.bits = 16; break;
        case kv8Paletted:
            out.kind = okPalette;
            out.samples = 1;
            out.palette.assign(work.Palette(), work.Palette() + 256);
            break;
        case kvRGB48: out.bits = 16; break;
        default:
            if (out.compression == 7) {
                ChooseJpegColours(out, params.TiffJpegColorSpace);
            } else if (params.SamplesPerPixel == 1 && params.BitsPerSample >= 2 && params.BitsPerSample <= 16) {
                out.samples = 1;
                out.bits = std::min(params.BitsPerSample, 8);
                if (out.bits != 2 && out.bits != 4 && out.bits != 8) out.bits = 8;
                if (IsGrayPicture(work)) {
                    out.kind = okGray;
                } else {
                    out.kind = okPalette;
                    out.palette.assign(size_t(1) << out.bits, TKVRGB{});
                    out.quantizer = std::make_unique<TKVQuantizer>(work, out.palette.data(), 1 << out.bits);
                }
            } else if (params.TiffPhotometric == 5) {
                out.kind = okCMYK;
                out.samples = 4;
            } else if (params.TiffPhotometric == 7) {
                out.kind = okCIELab;
            } else if (params.TiffPhotometric == 6 && out.compression != 7) {
                params.TiffPhotometric = 2;  // YCbCr exists only inside JPEG data
            }
            break;
    }
    const bool faxCoding = out.compression >= 2 && out.compression <= 4;
    if (faxCoding && out.kind != okBilevel) out.compression = 1;
    out.fax = out.compression >= 2 && out.compression <= 4;
    if (out.compression == 5 && !(params.TiffLZWCompressor || DefTIFFLZWCompressor)) out.compression = 1;
    // JPEG data holds 8-bit colours, gray or inks, never indexes or single bits.
    if (out.compression == 7 && (out.kind == okBilevel || out.kind == okPalette || out.bits != 8)) out.compression = 1;
    if (out.kind == okGray) out.jpegColorSpace = 1;
    out.alpha = out.kind == okRGB && out.bits == 8 && work.GetHasAlphaChannel() &&
                (out.compression == 1 || out.compression == 5 || out.compression == 32773);
    if (out.alpha) out.samples = 4;
    if (out.compression == 5 && out.bits == 8 && (out.kind == okRGB || out.kind == okCIELab) && !out.alpha) out.predictor = 2;
    params.BitsPerSample = out.bits;
    params.SamplesPerPixel = out.samples;
    return out;
}

// Rows of one page in the file's layout, compressed strip by strip.
class TStripWriter {
public:
    TStripWriter(TTagWriter& tags, TOutPage& page, TIOParamsVals& params, TKVProgressRec& progress)
        : tags_(tags), page_(page), params_(params), progress_(progress),
          lzw_(params.TiffLZWCompressor ? params.TiffLZWCompressor : DefTIFFLZWCompressor) {
        if (page.kind == okCIELab) lab_ = std::make_unique<TKVTiffLabEncoder>();
    }

    void Write(TStream& stream) {
        TKVBitmap& bitmap = *page_.bitmap;
        const int width = bitmap.GetWidth(), height = bitmap.GetHeight();
        const int64_t rowBytes = (int64_t(width) * page_.samples * page_.bits + 7) / 8;
        std::vector<uint32_t> offsets, counts;
        if (page_.compression == 7) {
            offsets.push_back(uint32_t(tags_.Position()));
            WriteJpeg();
            counts.push_back(uint32_t(tags_.Position() - offsets[0]));
            tags_.Long(278, uint32_t(height));
        } else {
            const int64_t strips = std::max<int64_t>(int64_t(height) * bitmap.GetRowLen() / 524288, 1);
            const int64_t rowsPerStrip = std::max<int64_t>(height / strips, 1);
            std::vector<uint8_t> row(static_cast<size_t>(rowBytes));
            StartProgress(progress_, height);
            for (int y = 0; y < height && !progress_.Aborted(); ++y) {
                if (y % rowsPerStrip == 0) {
                    if (y) EndStrip(stream, offsets, counts);
                    offsets.push_back(uint32_t(tags_.Position()));
                }
                MakeRow(y, row.data(), rowBytes);
                Encode(stream, row.data(), rowBytes, width);
                progress_.Report(y);
            }
            EndStrip(stream, offsets, counts);
            tags_.Long(278, uint32_t(rowsPerStrip));
        }
        tags_.Longs(273, offsets);
        tags_.Longs(279, counts);
    }

private:
    void MakeRow(int y, uint8_t* row, int64_t rowBytes) {
        TKVBitmap& bitmap = *page_.bitmap;
        const uint8_t* in = bitmap.GetScanline(y);
        const int width = bitmap.GetWidth();
        switch (bitmap.GetPixelFormat()) {
            case kv1Bit:
                // The bitmap keeps 1 for white; fax rows carry 1 for black.
                for (int64_t i = 0; i < rowBytes; ++i) row[i] = page_.fax ? uint8_t(~in[i]) : in[i];
                return;
            case kv8Gray: case kv8Paletted: std::memcpy(row, in, size_t(rowBytes)); return;
            case kv16Gray: case kvRGB48: std::memcpy(row, in, size_t(rowBytes)); return;
            default: break;
        }
        if (page_.samples == 1) {
            std::memset(row, 0, size_t(rowBytes));
            for (int x = 0; x < width; ++x) {
                const TKVRGB c{in[3 * x], in[3 * x + 1], in[3 * x + 2]};
                const int v = page_.kind == okGray ? c.r >> (8 - page_.bits) : page_.quantizer->RGBToIndex(c);
                const int64_t bit = int64_t(x) * page_.bits;
                row[bit >> 3] = uint8_t(row[bit >> 3] | (v << (8 - page_.bits - (bit & 7))));
            }
            return;
        }
        if (page_.kind == okCMYK) {
            // The converter gives the inverted bytes of Adobe's CMYK; the file holds ink amounts.
            KVColorConvert.load()(in, kvICC_BGR, row, &params_, width, kvccCMYK);
            for (int64_t i = 0; i < rowBytes; ++i) row[i] = uint8_t(~row[i]);
            return;
        }
        const int s = page_.samples;
        if (page_.kind == okCIELab) {
            lab_->Encode(in, row, width);
        } else {
            const uint8_t* alpha = page_.alpha ? bitmap.GetAlphaChannel()->GetScanline(y) : nullptr;
            for (int x = 0; x < width; ++x) {
                uint8_t* p = row + int64_t(x) * s;
                p[0] = in[3 * x + 2];
                p[1] = in[3 * x + 1];
                p[2] = in[3 * x];
                if (alpha) p[3] = alpha[x];
            }
        }
        if (page_.predictor == 2)
            for (int64_t i = int64_t(width) * s - 1; i >= s; --i) row[i] = uint8_t(row[i] - row[i - s]);
    }

    void Encode(TStream& stream, const uint8_t* row, int64_t rowBytes, int width) {
        std::atomic<bool>& abort = *progress_.AbortFlag;
        switch (page_.compression) {
            case 2: CCITTEncodeMH(row, width, stream, page_.fillOrder, abort); break;
            case 3:
                if (page_.twoD) CCITTEncodeG3_2D(row, width, stream, page_.fillOrder, abort, fax_);
                else CCITTEncodeG3(row, width, stream, page_.fillOrder, abort, fax_);
                break;
            case 4: CCITTEncodeG4(row, width, stream, page_.fillOrder, abort, fax_); break;
            case 5: lzw_(row, rowBytes, stream, lzwState_); break;
            case 32773: KVPackBitsEncode(row, rowBytes, stream, abort); break;
            default: tags_.Write(row, rowBytes); break;
        }
    }

    void EndStrip(TStream& stream, const std::vector<uint32_t>& offsets, std::vector<uint32_t>& counts) {
        const int width = page_.bitmap->GetWidth();
        std::atomic<bool>& abort = *progress_.AbortFlag;
        switch (page_.compression) {
            case 3:
                if (page_.twoD) CCITTEncodeG3_2D(nullptr, width, stream, page_.fillOrder, abort, fax_);
                else CCITTEncodeG3(nullptr, width, stream, page_.fillOrder, abort, fax_);
                break;
            case 4: CCITTEncodeG4(nullptr, width, stream, page_.fillOrder, abort, fax_); break;
            case 5: lzw_(nullptr, 0, stream, lzwState_); break;
            default: break;
        }
        counts.push_back(uint32_t(tags_.Position() - offsets.back()));
    }

    void WriteJpeg() {
        TIOParamsVals jpegParams(nullptr);
        jpegParams.JpegQuality = params_.TiffJpegQuality;
        jpegParams.JpegColorSpace = uint8_t(page_.jpegColorSpace);
        TMemoryStream data;
        // Separated pages hold ink amounts, not the inverted bytes of Adobe's JPEG files.
        WriteJPEGStream(data, *page_.bitmap, jpegParams, progress_, true);
        const std::vector<uint8_t> bytes = [&] {
            data.SetPosition(0);
            return ReadStreamRest(data);
        }();
        tags_.Write(bytes.data(), int64_t(bytes.size()));
    }

    TTagWriter& tags_;
    TOutPage& page_;
    TIOParamsVals& params_;
    TKVProgressRec& progress_;
    TKVTIFFLZWCompressor lzw_;
    TKVTIFFLZWEncodeState* lzwState_ = nullptr;
    TCCITTEncodeState fax_;
    std::unique_ptr<TKVTiffLabEncoder> lab_;
};

void WriteImage(TStream& stream, TTagWriter& tags, TOutPage& page, TIOParamsVals& params, TKVProgressRec& progress) {
    TKVBitmap& bitmap = *page.bitmap;
    tags.Long(tagWidth, uint32_t(bitmap.GetWidth()));
    tags.Long(tagHeight, uint32_t(bitmap.GetHeight()));
    if (page.samples == 1) tags.Short(tagBitsPerSample, uint16_t(page.bits));
    else tags.Shorts(tagBitsPerSample, std::vector<uint16_t>(size_t(page.samples), uint16_t(page.bits)));
    tags.Short(tagCompression, uint16_t(page.compression));
    static const uint16_t photometrics[] = {1, 1, 3, 2, 5, 8};  // by TOutKind
    uint16_t photometric = page.fax ? 0 : photometrics[page.kind];
    if (page.compression == 7 && page.kind == okRGB && page.jpegColorSpace == 2) photometric = 6;
    tags.Short(tagPhotometric, photometric);
    // Readers take CIELab without a white point as relative to D50.
    if (page.kind == okCIELab) tags.Rationals(tagWhitePoint, {TiffLabWhiteX, TiffLabWhiteY});
    tags.Text(tagDocumentName, params.TiffDocumentName);
    if (page.fax) {
        tags.Short(tagFillOrder, uint16_t(page.fillOrder));
        tags.Short(tagPlanar, 1);
        tags.Short(327, 0);  // CleanFaxData
    }
    {
        TKVAccessScope reading(bitmap, kvaRead);
        TStripWriter(tags, page, params, progress).Write(stream);
    }
    if (progress.Aborted()) return;
    tags.Short(tagSamplesPerPixel, uint16_t(page.samples));
    if (page.predictor == 2) tags.Short(tagPredictor, 2);
    if (page.alpha) tags.Short(tagExtraSamples, 2);  // unassociated alpha
    tags.Text(tagPageName, params.TiffPageName);
    if (params.TiffXPos) tags.Rationals(tagXPosition, {double(params.TiffXPos)});
    if (params.TiffYPos) tags.Rationals(tagYPosition, {double(params.TiffYPos)});
    // Fax options only on fax pages: readers warn about them elsewhere.
    if (page.compression == 3) tags.Long(tagT4Options, page.twoD ? 1 : 0);
    if (page.compression == 4) tags.Long(293, 0);  // T6Options
    tags.Long(254, 0);  // NewSubfileType
    // IPTC data goes out as LONGs, its last one padded with zeros.
    std::vector<uint8_t> iptc = params.IptcInfo.SaveToBuffer(false);
    if (!iptc.empty()) {
        const auto longs = uint32_t((iptc.size() + 3) / 4);
        iptc.resize(size_t(longs) * 4, 0);
        tags.Bytes(tagIptc, 4, iptc, longs);
    }
    if (params.ImagingAnnot()) tags.Bytes(tagAnnotations, 1, params.ImagingAnnot()->SaveToBuffer());
    const bool numbered = params.TiffPageNumber > 1 || params.TiffPageCount > 1;
    tags.Shorts(tagPageNumber, {uint16_t(numbered ? params.TiffPageNumber : 1), uint16_t(numbered ? params.TiffPageCount : 1)});
    if (page.kind == okPalette) {
        const size_t entries = size_t(1) << page.bits;
        std::vector<uint16_t> map(3 * entries, 0);
        for (size_t i = 0; i < entries && i < page.palette.size(); ++i) {
            map[i] = uint16_t(page.palette[i].r * 257);
            map[entries + i] = uint16_t(page.palette[i].g * 257);
            map[2 * entries + i] = uint16_t(page.palette[i].b * 257);
        }
        tags.Shorts(tagColorMap, map);
    }
}

// Where the new page is linked in: the position of the next-IFD field that leads to page
// `index` (or the last, zero one) and the value it holds. Returns the pages already present.
int FindLink(TStream& stream, int64_t base, int index, int64_t& field, uint32_t& value) {
    const int64_t size = stream.Size() - base;
    const auto u32 = [&](int64_t at) {
        uint8_t b[4];
        stream.SetPosition(base + at);
        ReadExact(stream, b, 4, "TIFF directory link");
        return uint32_t(b[0] | b[1] << 8 | b[2] << 16) | uint32_t(b[3]) << 24;
    };
    std::set<uint32_t> seen;
    int64_t at = 4;
    int pages = 0;
    for (uint32_t link = u32(at);; link = u32(at)) {
        if (pages == index || (link == 0 && index > pages)) {
            field = at;
            value = link;
            index = -1;
        }
        if (link == 0) return pages;
        if (link < 8 || link + 2 > size || !seen.insert(link).second) throw EInvalidGraphic("damaged TIFF directory chain");
        stream.SetPosition(base + link);
        uint8_t count[2];
        ReadExact(stream, count, 2, "TIFF directory");
        at = link + 2 + 12 * int64_t(count[0] | count[1] << 8);
        ++pages;
    }
}

// The maker note's block, its out-of-line offsets moved by where the block lands.
void WriteMakerNote(TTagWriter& exif, const TKVTagsHandler& handler) {
    std::vector<uint8_t> block(handler.Stream().Bytes());
    if (block.size() < 12) return;
    exif.WordAlign();
    const auto at = uint32_t(exif.Position());
    const int count = block[0] | block[1] << 8;
    for (int i = 0; i < count && 2 + 12 * size_t(i) + 12 <= block.size(); ++i) {
        uint8_t* entry = block.data() + 2 + 12 * i;
        const int64_t size = int64_t(entry[4] | entry[5] << 8 | entry[6] << 16 | uint32_t(entry[7]) << 24) *
                             TypeSize(uint16_t(entry[2] | entry[3] << 8));
        if (size <= 4) continue;
        const uint32_t offset = (entry[8] | entry[9] << 8 | entry[10] << 16 | uint32_t(entry[11]) << 24) + at;
        for (int k = 0; k < 4; ++k) entry[8 + k] = uint8_t(offset >> (8 * k));
    }
    exif.Bytes(tagMakerNote, 7, block);
}

void WriteDocumentTags(TTagWriter& tags, TIOParamsVals& params) {
    if (!params.ExifHasData) {
        tags.Text(270, params.TiffImageDescription);
        tags.Rationals(282, {double(params.DpiX())});
        tags.Rationals(283, {double(params.DpiY())});
        tags.Short(296, 2);
        return;
    }
    tags.Text(270, params.ExifImageDescription);
    if (params.ExifXResolution) tags.Rationals(282, {std::trunc(params.ExifXResolution)});
    if (params.ExifYResolution) tags.Rationals(283, {std::trunc(params.ExifYResolution)});
    if (params.ExifOrientation) tags.Short(274, uint16_t(params.ExifOrientation));
    tags.Short(296, 2);
    for (const TExifText& t : mainTexts) tags.Text(t.tag, params.*t.field);
    for (const TExifText& t : xpTexts)
        if (!(params.*t.field).empty()) tags.Bytes(t.tag, 1, Utf8ToUtf16(params.*t.field));
    for (const TExifRationals& r : mainRationals) {
        const std::span<double> values = r.field(params);
        if (std::any_of(values.begin(), values.end(), [](double v) { return v != 0; }))
            tags.Rationals(r.tag, std::vector<double>(values.begin(), values.end()));
    }
    if (params.ExifYCbCrPositioning) tags.Short(tagYCbCrPositioning, uint16_t(params.ExifYCbCrPositioning));
    TTagWriter exif = tags.Sibling();
    for (const TExifText& t : exifTexts) exif.Text(t.tag, params.*t.field);
    for (const TExifNumber& n : exifNumbers) {
        if (n.real ? params.*n.real == 0 : params.*n.integer == 0) continue;
        if (n.real) exif.Rationals(n.tag, {params.*n.real}, n.type == 10);
        else if (n.type == 7) exif.Bytes(n.tag, 7, {uint8_t(params.*n.integer)});
        else if (n.type == 4) exif.Long(n.tag, uint32_t(params.*n.integer));
        else exif.Short(n.tag, uint16_t(params.*n.integer));
    }
    // A second rating of 0 is no rating: readers show the values as a list.
    const std::array<int, 2>& iso = params.ExifISOSpeedRatings;
    if (iso[1]) exif.Shorts(tagIsoSpeed, {uint16_t(iso[0]), uint16_t(iso[1])});
    else if (iso[0]) exif.Short(tagIsoSpeed, uint16_t(iso[0]));
    const auto bytes = [](const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); };
    exif.Bytes(tagExifVersion, 7, bytes(params.ExifExifVersion.substr(0, 4)));
    exif.Bytes(tagFlashPixVersion, 7, bytes(params.ExifFlashPixVersion.substr(0, 4)));
    if (!params.ExifUserComment.empty() || !params.ExifUserCommentCode.empty())
        exif.Bytes(tagUserComment, 7, bytes((params.ExifUserCommentCode + std::string(8, '\0')).substr(0, 8) + params.ExifUserComment));
    WriteMakerNote(exif, params.ExifMakerNote);
    tags.Long(tagExifIfd, exif.WriteIFD(0));
}

}  // namespace

void KVPackBitsEncode(const uint8_t* buffer, int64_t length, TStream& stream, std::atomic<bool>& abort) {
    std::vector<uint8_t> out, literals;
    const auto flushLiterals = [&] {
        if (literals.empty()) return;
        out.push_back(uint8_t(literals.size() - 1));
        out.insert(out.end(), literals.begin(), literals.end());
        literals.clear();
    };
    for (int64_t i = 0; i < length;) {
        int64_t run = 1;
        while (i + run < length && run < 128 && buffer[i + run] == buffer[i]) ++run;
        if (run >= 4) {
            flushLiterals();
            out.push_back(uint8_t(1 - run));
            out.push_back(buffer[i]);
            i += run;
            continue;
        }
        literals.push_back(buffer[i++]);
        if (literals.size() == 128) flushLiterals();
    }
    flushLiterals();
    KVStreamWriteChecked(stream, abort, out.data(), int64_t(out.size()));
}

int WriteTIFFStream(TStream& stream, bool insert, TKVBitmap* bitmap, TKVProgressRec& progress, TIOParamsVals& params) {
    int pages = 0;
    std::atomic<bool> ownFlag{false};
    if (!progress.AbortFlag) progress.AbortFlag = &ownFlag;
    RunDriver(progress, [&] {
        const int64_t base = stream.Position();
        int64_t linkField = 4;
        uint32_t oldLink = 0;
        if (insert) {
            uint8_t order[2] = {};
            if (stream.Read(order, 2) != 2 || order[0] != 'I' || order[1] != 'I') throw EInvalidGraphic("not a little-endian TIFF structure");
            pages = FindLink(stream, base, params.TiffImageIndex, linkField, oldLink) + 1;
            stream.Seek(0, TSeekOrigin::soEnd);
        } else {
            pages = 1;
        }
        std::optional<TOutPage> page;
        if (bitmap) page.emplace(ChooseOutput(*bitmap, params));
        TTagWriter tags(stream, base, *progress.AbortFlag);
        if (!insert) tags.Write("\0\0\0\0\0\0\0\0", 8);
        WriteDocumentTags(tags, params);
        if (page) WriteImage(stream, tags, *page, params, progress);
        if (progress.Aborted()) return;
        const uint32_t ifd = tags.WriteIFD(oldLink);
        const int64_t end = stream.Position();
        stream.SetPosition(base + (insert ? linkField : 0));
        if (insert) {
            uint8_t link[4];
            StoreU32LE(link, ifd);
            tags.Write(link, 4);
        } else {
            uint8_t header[8] = {'I', 'I', 42, 0};
            StoreU32LE(header + 4, ifd);
            tags.Write(header, 8);
        }
        stream.SetPosition(end);
    });
    if (progress.AbortFlag == &ownFlag) progress.AbortFlag = nullptr;
    return pages;
}

void WriteTIFF(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, TKVProgressRec& progress) {
    WriteTIFFStream(stream, false, &bitmap, progress, params);
}

int InsertTIFFFilePage(const std::string& fileName, TKVBitmap& bitmap, TKVProgressRec& progress, TIOParamsVals& params) {
    int pages = 0;
    RunDriver(progress, [&] {
        TMemoryStream structure;
        std::error_code unused;
        const bool exists = std::filesystem::exists(fileName, unused);
        if (exists) structure.LoadFromFile(fileName);
        structure.SetPosition(0);
        pages = WriteTIFFStream(structure, exists, &bitmap, progress, params);
        if (progress.Aborted()) return;
        TAtomicFile file(fileName);
        file.Stream().WriteBuffer(structure.Memory(), structure.Size());
        file.Commit();
    });
    return progress.Aborted() ? 0 : pages;
}
