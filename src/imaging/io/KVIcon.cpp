#include "imaging/io/KVIcon.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVResample.h"
#include "imaging/core/KVQuantizer.h"
#include "imaging/io/KVBmp.h"
#include "imaging/io/KVDriverSupport.h"
#include "imaging/core/KVBits.h"
#include "platform/ByteReader.h"
#include "platform/ByteWriter.h"
#include "platform/Classes.h"
#include "platform/PictureLimits.h"

namespace {

constexpr int IconType = 1, CursorType = 2;

struct TIconEntry {
    int width = 0, height = 0, colorCount = 0;
    int planes = 0, bitCount = 0;  // a cursor's hot spot x and y
    uint32_t size = 0, offset = 0;
};

// The directory's entries when the data is a directory of the type, else none. The whole
// stream must hold more than 22 bytes.
std::vector<TIconEntry> ReadDirectory(TByteReader& r, int type) {
    if (r.U16LE() != 0 || r.U16LE() != type) return {};
    const int count = r.U16LE();
    std::vector<TIconEntry> entries;
    for (int i = 0; i < count; ++i) {
        TIconEntry e;
        e.width = r.U8();
        e.height = r.U8();
        e.colorCount = r.U8();
        const uint8_t reserved = r.U8();
        e.planes = r.U16LE();
        e.bitCount = r.U16LE();
        e.size = r.U32LE();
        e.offset = r.U32LE();
        if (reserved != 0 || e.size == 0 || e.offset < r.Position()) return {};
        entries.push_back(e);
    }
    return entries;
}

bool IsDirectory(TStream& stream, int type) {
    const int64_t start = stream.Position();
    bool found = false;
    try {
        // The directory's own size is known from its header.
        uint8_t header[6] = {};
        const int64_t count = stream.Read(header, 6) == 6 ? header[4] | header[5] << 8 : 0;
        stream.SetPosition(start);
        const std::vector<uint8_t> bytes = ReadStreamRest(stream, 6 + 16 * count);
        TByteReader r(bytes.data(), int64_t(bytes.size()));
        found = stream.Size() - start > 22 && !ReadDirectory(r, type).empty();
    } catch (const EShortData&) {
    }
    stream.SetPosition(start);
    return found;
}

int BitsOfColorCount(int colors) { return colors > 1 ? std::bit_width(unsigned(colors - 1)) : 0; }

class TIconImageReader {
public:
    TIconImageReader(TByteReader& r, const TIconEntry& entry, bool cursor, TIOParamsVals& params)
        : r_(r), entry_(entry), cursor_(cursor), params_(params) {}

    // Reads the information header and the colour table and fills the parameters.
    void ReadHeader() {
        r_.Seek(entry_.offset);
        static const uint8_t pngSignature[4] = {0x89, 'P', 'N', 'G'};
        if (r_.Remaining() >= 4 && std::memcmp(r_.BytesAt(r_.Position(), 4).data(), pngSignature, 4) == 0)
            throw EInvalidGraphic("icon images stored as PNG are not supported");
        const int64_t headerStart = r_.Position();
        const uint32_t headerSize = r_.U32LEAt(headerStart);
        if (headerSize < 40) throw EInvalidGraphic("icon image header too short");
        const int64_t headerWidth = int32_t(r_.U32LEAt(headerStart + 4));
        const int64_t headerHeight = int32_t(r_.U32LEAt(headerStart + 8));
        const int headerBits = r_.U16LEAt(headerStart + 14);
        const int dpiX = PixelsPerMetreToDpi(int32_t(r_.U32LEAt(headerStart + 24)));
        const int dpiY = PixelsPerMetreToDpi(int32_t(r_.U32LEAt(headerStart + 28)));
        const uint32_t colorsUsed = r_.U32LEAt(headerStart + 32);
        r_.Skip(headerSize);
        params_.SetDpiX(dpiX ? dpiX : DefaultDpiX);
        params_.SetDpiY(dpiY ? dpiY : DefaultDpiY);

        bits_ = headerBits ? headerBits : entry_.bitCount ? entry_.bitCount : BitsOfColorCount(entry_.colorCount);
        if (bits_ != 1 && bits_ != 4 && bits_ != 8 && bits_ != 24 && bits_ != 32)
            throw EInvalidGraphic("icon bit count not supported: " + std::to_string(bits_));
        if (cursor_) {
            params_.BitsPerSample = bits_;
            params_.SamplesPerPixel = 1;
        } else {
            params_.BitsPerSample = bits_ <= 8 ? bits_ : 8;
            params_.SamplesPerPixel = bits_ <= 8 ? 1 : bits_ == 32 ? 4 : 3;
        }

        width_ = entry_.width ? entry_.width : headerWidth;
        height_ = entry_.height ? entry_.height : headerHeight / 2;
        if (!cursor_ && entry_.width && entry_.height && entry_.width != headerWidth && headerWidth < 2048 &&
            headerHeight < 2048) {
            width_ = headerWidth;
            height_ = headerHeight / 2;
        }
        params_.Width = int(std::clamp<int64_t>(width_, 0, INT32_MAX));
        params_.Height = int(std::clamp<int64_t>(height_, 0, INT32_MAX));

        if (bits_ <= 8) {
            int64_t colors = int64_t(1) << bits_;
            if (cursor_ && entry_.colorCount) colors = entry_.colorCount == 255 ? 256 : entry_.colorCount;
            if (!cursor_ && colorsUsed > 0 && colorsUsed <= 256) colors = colorsUsed;
            colors_.clear();
            for (int64_t i = 0; i < colors; ++i) {
                const auto c = r_.Bytes(4);
                colors_.push_back(TKVRGB{c[0], c[1], c[2]});
            }
        }
        params_.ColorMap = colors_;
    }

    void ReadPixels(TKVBitmap& bitmap, bool keepAlpha, const TKVRGB& background, TKVProgressRec& progress) {
        const int64_t xorRow = (width_ * bits_ + 31) / 32 * 4, andRow = (width_ + 31) / 32 * 4;
        const bool usesMask = bits_ <= 8;
        CheckPictureSize(width_, height_, 24, -1);
        if ((xorRow + (usesMask ? andRow : 0)) * height_ > r_.Remaining()) throw EShortData("icon image is cut short");
        const int width = int(width_), height = int(height_);
        bitmap.Allocate(width, height, bits_ == 1 ? kv1Bit : kv24RGB);
        TKVBitmap* alpha = keepAlpha ? bitmap.GetAlphaChannel() : nullptr;
        const int64_t xorStart = r_.Position(), andStart = xorStart + xorRow * height_;
        const bool whiteBackground = background == TKVRGB{255, 255, 255};
        bool transparent = false;
        StartProgress(progress, height);
        for (int stored = 0; stored < height && !progress.Aborted(); ++stored) {
            const int y = height - 1 - stored;
            const uint8_t* in = r_.BytesAt(xorStart + stored * xorRow, xorRow).data();
            const uint8_t* mask = usesMask ? r_.BytesAt(andStart + stored * andRow, andRow).data() : nullptr;
            uint8_t* alphaRow = nullptr;
            if (alpha) {
                TKVAccessScope writing(*alpha, kvaWrite);
                alphaRow = alpha->GetScanline(y);
                std::memset(alphaRow, 255, size_t(width));
            }
            TKVAccessScope writing(bitmap, kvaWrite);
            uint8_t* out = bitmap.GetScanline(y);
            for (int x = 0; x < width; ++x) {
                const bool clear = mask && KVGetBit(mask, x);
                if (clear && alphaRow) alphaRow[x] = 0;
                transparent |= clear;
                switch (bits_) {
                    case 1: KVSetBit(out, x, clear && whiteBackground ? !KVGetBit(in, x) : KVGetBit(in, x)); break;
                    case 4:
                    case 8: {
                        const int index = bits_ == 8 ? in[x] : x % 2 ? in[x / 2] & 15 : in[x / 2] >> 4;
                        const TKVRGB c = clear ? background : size_t(index) < colors_.size() ? colors_[size_t(index)] : TKVRGB{};
                        std::memcpy(out + 3 * x, &c, 3);
                        break;
                    }
                    case 24: std::memcpy(out + 3 * x, in + 3 * x, 3); break;
                    default:
                        std::memcpy(out + 3 * x, in + 4 * x, 3);
                        if (alphaRow) alphaRow[x] = in[4 * x + 3];
                        transparent |= in[4 * x + 3] != 255;
                        break;
                }
            }
            progress.Report(stored);
        }
        // A cursor keeps its mask; an icon drops one that hides nothing.
        if (alpha && !cursor_ && !transparent) bitmap.RemoveAlphaChannel();
    }

private:
    TByteReader& r_;
    const TIconEntry& entry_;
    bool cursor_;
    TIOParamsVals& params_;
    int bits_ = 0;
    int64_t width_ = 0, height_ = 0;
    std::vector<TKVRGB> colors_;
};

void ReadDirectoryImage(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, bool suppressAlpha, bool paramsOnly,
                        TKVProgressRec& progress, bool cursor) {
    const std::vector<uint8_t> bytes = ReadStreamRest(stream);
    TByteReader r(bytes.data(), int64_t(bytes.size()));
    const std::vector<TIconEntry> entries = bytes.size() > 22 ? ReadDirectory(r, cursor ? CursorType : IconType)
                                                              : std::vector<TIconEntry>();
    if (entries.empty()) throw EInvalidGraphic(cursor ? "not a cursor file" : "not an icon file");
    const int index = cursor ? params.CurImageIndex : params.IcoImageIndex;
    if (index < 0 || size_t(index) >= entries.size()) throw EInvalidGraphic("no such image in the file");
    params.SetImageCount(int(entries.size()));
    if (!cursor) {
        params.IcoSizes = {};
        params.IcoBitCount = {};
        for (size_t i = 0; i < entries.size() && i < 16; ++i) {
            params.IcoSizes[i] = TKVIcoSize{entries[i].width, entries[i].height};
            const int bits = entries[i].bitCount ? entries[i].bitCount : BitsOfColorCount(entries[i].colorCount);
            params.IcoBitCount[i] = bits ? bits : 24;
        }
    }
    const TIconEntry& entry = entries[size_t(index)];
    if (cursor) {
        params.CurXHotSpot = entry.planes;
        params.CurYHotSpot = entry.bitCount;
    }
    TIconImageReader reader(r, entry, cursor, params);
    reader.ReadHeader();
    if (!paramsOnly)
        reader.ReadPixels(bitmap, !suppressAlpha, cursor ? params.CurBackground : params.IcoBackground, progress);
}

// --- Writing

// A picture resampled to the icon's size: colours and alpha, rows from the top.
struct TRgbaImage {
    int width = 0, height = 0;
    std::vector<TKVRGB> pixels;
    std::vector<uint8_t> alpha;
};

// A 1-bit picture keeps its hard edges; others are filtered.
TRgbaImage Resampled(TKVBitmap& bitmap, int width, int height) {
    TKVBitmap resized;
    resized.Allocate(width, height, kv24RGB);
    KVResampleBitmap(bitmap, resized, bitmap.GetPixelFormat() == kv1Bit ? rfNone : rfFastLinear);
    TRgbaImage image{width, height, std::vector<TKVRGB>(size_t(width) * height), std::vector<uint8_t>(size_t(width) * height, 255)};
    const bool hasAlpha = resized.GetHasAlphaChannel();
    TKVAccessScope reading(resized, kvaRead);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const size_t i = size_t(y) * width + x;
            image.pixels[i] = resized.GetPixelRGB(x, y);
            if (hasAlpha) image.alpha[i] = resized.GetAlpha(x, y);
        }
    return image;
}

int EntryBitCount(int requested, const TIOParamsVals& params) {
    if (requested == 8 || requested == 32 || requested == 4 || requested == 1) return requested;
    if (requested >= 5 || requested == 2 || requested == 3) return 24;
    const int spp = params.SamplesPerPixel, bps = params.BitsPerSample;
    if (spp == 1 && bps == 1) return 1;
    if (spp == 1 && bps == 4) return 4;
    if (spp == 3 && bps == 8) return 24;
    if (spp == 4 && bps == 8) return 32;
    return 8;
}


// The information header, palette, XOR rows and AND rows of one image.
std::vector<uint8_t> IconImage(TKVBitmap& bitmap, const TRgbaImage& image, int bits, const TIOParamsVals& params) {
    const int w = image.width, h = image.height;
    const int64_t xorRow = (int64_t(w) * bits + 31) / 32 * 4, andRow = (int64_t(w) + 31) / 32 * 4;
    std::vector<uint8_t> out;
    PutU32LE(out, 40);
    PutU32LE(out, uint32_t(w));
    PutU32LE(out, uint32_t(h) * 2);
    PutU16LE(out, 1);
    PutU16LE(out, uint32_t(bits));
    PutU32LE(out, 0);
    PutU32LE(out, bits >= 24 ? 0 : uint32_t(xorRow * h + int64_t(w) * h / 8));
    PutU32LE(out, uint32_t(DpiToPixelsPerMetre(params.DpiX())));
    PutU32LE(out, uint32_t(DpiToPixelsPerMetre(params.DpiY())));
    PutU32LE(out, 0);
    PutU32LE(out, 0);

    // Palette: black and white for 1 bit; otherwise entry 0 black for transparent pixels.
    std::vector<TKVRGB> colors;
    std::vector<uint8_t> indexes(image.pixels.size());
    if (bits == 1) {
        colors = {TKVRGB{}, TKVRGB{255, 255, 255}};
        for (size_t i = 0; i < indexes.size(); ++i) {
            const TKVRGB c = image.pixels[i];
            indexes[i] = (c.r * 21 + c.g * 71 + c.b * 8) / 100 >= 128;
        }
    } else if (bits <= 8) {
        TKVBitmap sample;
        sample.Allocate(w, h, kv24RGB);
        {
            TKVAccessScope writing(sample, kvaWrite);
            for (int y = 0; y < h; ++y) std::memcpy(sample.GetScanline(y), &image.pixels[size_t(y) * w], size_t(w) * 3);
        }
        colors.assign(size_t(1) << bits, TKVRGB{});
        const TKVQuantizer quantizer(sample, colors.data() + 1, (1 << bits) - 1);
        const bool hasAlpha = bitmap.GetHasAlphaChannel();
        for (size_t i = 0; i < indexes.size(); ++i)
            indexes[i] = hasAlpha && image.alpha[i] != 255 ? 0 : uint8_t(quantizer.RGBToIndex(image.pixels[i]) + 1);
    }
    for (const TKVRGB& c : colors) out.insert(out.end(), {c.b, c.g, c.r, 0});

    std::vector<uint8_t> row(static_cast<size_t>(xorRow));
    for (int y = h - 1; y >= 0; --y) {
        std::fill(row.begin(), row.end(), 0);
        for (int x = 0; x < w; ++x) {
            const size_t i = size_t(y) * w + x;
            const TKVRGB c = image.pixels[i];
            switch (bits) {
                case 1: KVSetBit(row.data(), x, indexes[i]); break;
                case 4: row[size_t(x / 2)] |= uint8_t(x % 2 ? indexes[i] : indexes[i] << 4); break;
                case 8: row[size_t(x)] = indexes[i]; break;
                case 24: std::memcpy(&row[size_t(x) * 3], &c, 3); break;
                default:
                    std::memcpy(&row[size_t(x) * 4], &c, 3);
                    row[size_t(x) * 4 + 3] = image.alpha[i];
                    break;
            }
        }
        out.insert(out.end(), row.begin(), row.end());
    }
    const bool masked = bitmap.GetHasAlphaChannel() && bits != 24;
    std::vector<uint8_t> maskRow(static_cast<size_t>(andRow));
    for (int y = h - 1; y >= 0; --y) {
        std::fill(maskRow.begin(), maskRow.end(), 0);
        if (masked)
            for (int x = 0; x < w; ++x) KVSetBit(maskRow.data(), x, image.alpha[size_t(y) * w + x] != 255);
        out.insert(out.end(), maskRow.begin(), maskRow.end());
    }
    return out;
}

void WriteIcon(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, const std::vector<int>& bitCounts,
               const std::vector<TKVIcoSize>& sizes, TKVProgressRec& progress) {
    if (bitmap.IsEmpty()) throw EInvalidGraphic("no picture to write");
    const size_t count = sizes.size();
    if (count == 0 || count > 16) throw EInvalidGraphic("an icon holds 1 to 16 images");
    const int64_t start = stream.Position();
    std::vector<uint8_t> directory = {0, 0, 1, 0, uint8_t(count), 0};
    directory.resize(6 + 16 * count);
    stream.WriteBuffer(directory.data(), int64_t(directory.size()));
    params.ColorMap.clear();
    if (bitmap.GetPixelFormat() != kv24RGB) params.BitsPerSample = params.SamplesPerPixel = 1;
    StartProgress(progress, int(count));
    for (size_t i = 0; i < count; ++i) {
        if (progress.Aborted()) return;
        const TKVIcoSize size = sizes[i];
        if (size.Width <= 0 || size.Height <= 0 || size.Width > 256 || size.Height > 256)
            throw EInvalidGraphic("icon sizes are 1 to 256 pixels");
        const int bits = EntryBitCount(i < bitCounts.size() ? bitCounts[i] : 0, params);
        const TRgbaImage image = Resampled(bitmap, size.Width, size.Height);
        const std::vector<uint8_t> data = IconImage(bitmap, image, bits, params);
        const int64_t offset = stream.Position() - start;
        stream.WriteBuffer(data.data(), int64_t(data.size()));
        uint8_t* entry = &directory[6 + 16 * i];
        const bool direct = bits >= 24;
        entry[0] = uint8_t(size.Width);
        entry[1] = uint8_t(size.Height);
        entry[2] = direct ? 0 : uint8_t(std::min(1 << bits, 255));
        entry[4] = direct ? 1 : 0;
        entry[6] = direct ? uint8_t(bits) : 0;
        for (int b = 0; b < 4; ++b) {
            entry[8 + b] = uint8_t(data.size() >> (8 * b));
            entry[12 + b] = uint8_t(uint64_t(offset) >> (8 * b));
        }
        progress.Report(int(i));
    }
    const int64_t end = stream.Position();
    stream.SetPosition(start);
    stream.WriteBuffer(directory.data(), int64_t(directory.size()));
    stream.SetPosition(end);
}

}  // namespace

bool IsICOStream(TStream& stream) { return IsDirectory(stream, IconType); }
bool IsCURStream(TStream& stream) { return IsDirectory(stream, CursorType); }

int GetICOImageCount(TStream& stream) {
    const int64_t start = stream.Position();
    uint8_t head[2] = {};
    const bool bitmapFile = stream.Read(head, 2) == 2 && head[0] == 'B' && head[1] == 'M';
    stream.SetPosition(start);
    if (bitmapFile) return 1;
    if (!IsICOStream(stream)) return 0;
    stream.Seek(4, TSeekOrigin::soCurrent);
    uint8_t count[2] = {};
    stream.Read(count, 2);
    stream.SetPosition(start);
    return count[0] | count[1] << 8;
}

void ReadICOStream(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, bool suppressAlpha, bool paramsOnly,
                   TKVProgressRec& progress) {
    const int64_t start = stream.Position();
    uint8_t head[2] = {};
    const bool bitmapFile = stream.Read(head, 2) == 2 && head[0] == 'B' && head[1] == 'M';
    stream.SetPosition(start);
    if (bitmapFile) {
        ReadBMPStream(stream, bitmap, 0, suppressAlpha, false, paramsOnly, progress, params);
        return;
    }
    RunDriver(progress, [&] { ReadDirectoryImage(stream, bitmap, params, suppressAlpha, paramsOnly, progress, false); });
}

void ReadCURStream(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, bool suppressAlpha, bool paramsOnly,
                   TKVProgressRec& progress) {
    RunDriver(progress, [&] { ReadDirectoryImage(stream, bitmap, params, suppressAlpha, paramsOnly, progress, true); });
}

void WriteICOStream(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, const std::vector<int>& bitCounts,
                    const std::vector<TKVIcoSize>& sizes, TKVProgressRec& progress) {
    RunDriver(progress, [&] { WriteIcon(stream, bitmap, params, bitCounts, sizes, progress); });
}
