#include "imaging/io/KVBmp.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVBits.h"
#include "imaging/core/KVQuantizer.h"
#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KVDriverSupport.h"
#include "imaging/io/KVFormatDriver.h"
#include "imaging/proc/KVColorModels.h"
#include "platform/ByteReader.h"
#include "platform/ByteWriter.h"
#include "platform/Classes.h"
#include "platform/PictureLimits.h"

namespace {

constexpr uint16_t BmSignature = 0x4D42;  // "BM"
constexpr uint32_t biRGB = 0, biRLE8 = 1, biRLE4 = 2, biBitFields = 3;

int64_t StoredRowBytes(int64_t width, int bitCount) { return (width * bitCount + 31) / 32 * 4; }

// One colour of a bit-field pixel, scaled to 8 bits by the width of its mask.
struct TChannel {
    uint32_t mask = 0;
    int shift = 0, bits = 0;
    explicit TChannel(uint32_t m = 0) : mask(m), shift(m ? std::countr_zero(m) : 0), bits(std::popcount(m)) {}
    uint8_t Of(uint32_t pixel) const {
        if (!mask) return 0;
        const uint32_t v = (pixel & mask) >> shift;
        return uint8_t(bits >= 8 ? v >> (bits - 8) : v << (8 - bits));
    }
};

struct TBmpInfo {
    int64_t width = 0, height = 0;
    bool topDown = false;
    int bitCount = 0;
    uint32_t compression = biRGB;
    int64_t codedSize = 0;  // run-length data
    std::vector<TKVRGB> colors;
    TChannel red, green, blue, alpha;
};

bool ValidCoding(int bitCount, uint32_t compression) {
    switch (compression) {
        case biRGB: return bitCount == 1 || bitCount == 4 || bitCount == 8 || bitCount == 16 || bitCount == 24 || bitCount == 32;
        case biRLE8: return bitCount == 8;
        case biRLE4: return bitCount == 4;
        case biBitFields: return bitCount == 16 || bitCount == 32;
        default: return false;
    }
}

std::vector<TKVRGB> ReadColors(TByteReader& r, int64_t count, int entryBytes) {
    std::vector<TKVRGB> colors;
    for (int64_t i = 0; i < count; ++i) {
        const auto entry = r.Bytes(entryBytes);
        colors.push_back(TKVRGB{entry[0], entry[1], entry[2]});
    }
    return colors;
}

// Reads the headers, the colour table and the masks, fills the parameters and leaves the reader
// at the pixel data.
TBmpInfo ReadHeaders(TByteReader& r, bool noFileHeader, int64_t dataLength, TIOParamsVals& params) {
    int64_t pixelOffset = 0;
    if (!noFileHeader) {
        if (r.U16LE() != BmSignature) throw EInvalidGraphic("not a BMP file");
        const uint32_t fileSize = r.U32LE();
        r.Skip(4);
        pixelOffset = r.U32LE();
        if (fileSize != 0 && dataLength < 1) dataLength = fileSize;
    }
    const int64_t headerStart = r.Position();
    const uint32_t headerSize = r.U32LEAt(headerStart);
    params.ColorMap.clear();

    TBmpInfo info;
    uint32_t imageSize = 0;
    if (headerSize == 12) {
        r.Skip(4);
        info.width = r.U16LE();
        info.height = r.U16LE();
        r.Skip(2);
        info.bitCount = r.U16LE();
        params.BmpVersion = 2;
        params.SetDpiX(DefaultDpiX);
        params.SetDpiY(DefaultDpiY);
        if (info.bitCount <= 8) info.colors = ReadColors(r, int64_t(1) << info.bitCount, 3);
    } else {
        if (headerSize < 16) throw EInvalidGraphic("BMP information header too short");
        const auto header = r.Bytes(std::min<int64_t>(headerSize, 64));
        uint8_t fields[64] = {};
        std::memcpy(fields, header.data(), header.size());
        r.Skip(headerSize - int64_t(header.size()));
        const TByteReader h(fields, sizeof fields);
        info.width = int32_t(h.U32LEAt(4));
        info.height = int32_t(h.U32LEAt(8));
        info.bitCount = h.U16LEAt(14);
        info.compression = h.U32LEAt(16);
        imageSize = h.U32LEAt(20);
        params.BmpVersion = headerSize == 64 ? 3 : headerSize == 40 ? 1 : 0;
        if (info.height < 0) {
            info.height = -info.height;
            info.topDown = true;
        }
        const int dpiX = PixelsPerMetreToDpi(int32_t(h.U32LEAt(24))), dpiY = PixelsPerMetreToDpi(int32_t(h.U32LEAt(28)));
        params.SetDpiX(dpiX ? dpiX : DefaultDpiX);
        params.SetDpiY(dpiY ? dpiY : DefaultDpiY);
        if (info.compression == biBitFields) {
            // Headers of 52 bytes and more carry the masks; the 40-byte header is followed by them.
            const bool inHeader = headerSize >= 52;
            info.red = TChannel(inHeader ? h.U32LEAt(40) : r.U32LE());
            info.green = TChannel(inHeader ? h.U32LEAt(44) : r.U32LE());
            info.blue = TChannel(inHeader ? h.U32LEAt(48) : r.U32LE());
            if (headerSize >= 56) info.alpha = TChannel(h.U32LEAt(52));
        }
        int64_t colorsUsed = h.U32LEAt(32);
        if (colorsUsed > 256) colorsUsed = 0;
        if (colorsUsed == 0 && info.bitCount <= 8) colorsUsed = int64_t(1) << info.bitCount;
        info.colors = ReadColors(r, colorsUsed, 4);
    }
    if (!ValidCoding(info.bitCount, info.compression))
        throw EInvalidGraphic("BMP coding not supported: " + std::to_string(info.bitCount) + " bits, compression " +
                              std::to_string(info.compression));
    if (info.compression == biRGB) {
        if (info.bitCount == 16) info.red = TChannel(0x7C00), info.green = TChannel(0x03E0), info.blue = TChannel(0x001F);
        if (info.bitCount == 32)
            info.red = TChannel(0xFF0000), info.green = TChannel(0xFF00), info.blue = TChannel(0xFF), info.alpha = TChannel(0xFF000000);
    }

    params.Width = int(std::clamp<int64_t>(info.width, INT32_MIN, INT32_MAX));
    params.Height = int(std::min<int64_t>(info.height, INT32_MAX));
    params.ColorMap = info.colors;
    params.BmpCompression = info.compression == biRLE8 || info.compression == biRLE4 ? 1 : 0;
    switch (info.bitCount) {
        case 1: case 4: case 8: params.BitsPerSample = info.bitCount, params.SamplesPerPixel = 1; break;
        case 16: params.BitsPerSample = 5, params.SamplesPerPixel = 3; break;
        case 24: params.BitsPerSample = 8, params.SamplesPerPixel = 3; break;
        default: params.BitsPerSample = 8, params.SamplesPerPixel = 4; break;
    }

    if (pixelOffset > 0) r.Seek(headerStart - (noFileHeader ? 0 : 14) + pixelOffset);
    info.codedSize = dataLength > 0 ? dataLength - (r.Position() - headerStart + (noFileHeader ? 0 : 14)) : imageSize;
    if (info.codedSize <= 0 || info.codedSize > r.Remaining()) info.codedSize = r.Remaining();
    return info;
}

// Run-length data into one index per pixel, rows in stored order.
void DecodeRLE(TByteReader& r, bool rle4, const TBmpInfo& info, std::vector<uint8_t>& indexes, TKVProgressRec& progress) {
    const int64_t width = info.width, height = info.height;
    int64_t row = 0, column = 0;
    auto put = [&](uint8_t value) {
        if (column < width) indexes[size_t(row * width + column)] = value;
        ++column;
    };
    while (row < height) {
        if (r.AtEnd()) throw EShortData("BMP run-length data ends before the last row");
        const uint8_t count = r.U8(), value = r.U8();
        if (count > 0) {
            for (int i = 0; i < count && column < width; ++i) put(rle4 ? (i % 2 ? value & 15 : value >> 4) : value);
            continue;
        }
        if (value == 0) {  // end of line
            progress.Report(int(row));
            if (progress.Aborted()) return;
            ++row;
            column = 0;
        } else if (value == 1) {  // end of bitmap
            return;
        } else if (value == 2) {  // delta, bounded by the last row
            column += r.U8();
            row += r.U8();
        } else {
            const int dataBytes = rle4 ? (value + 1) / 2 : value;
            const auto data = r.Bytes(dataBytes + dataBytes % 2);
            for (int i = 0; i < value; ++i) put(rle4 ? (i % 2 ? data[size_t(i / 2)] & 15 : data[size_t(i / 2)] >> 4) : data[size_t(i)]);
        }
    }
}

bool BlackAndWhite(const std::vector<TKVRGB>& colors) {
    const TKVRGB black{}, white{255, 255, 255};
    return (colors[0] == black && colors[1] == white) || (colors[0] == white && colors[1] == black);
}

class TBmpReader {
public:
    TBmpReader(TByteReader& r, const TBmpInfo& info, TKVBitmap& bitmap, bool keepAlpha, TKVProgressRec& progress)
        : r_(r), info_(info), bitmap_(bitmap), keepAlpha_(keepAlpha), progress_(progress),
          width_(int(info.width)), height_(int(info.height)) {}

    void Read(bool native) {
        native_ = native && (info_.bitCount == 4 || info_.bitCount == 8);
        colouredOneBit_ = info_.bitCount == 1 && info_.colors.size() == 2 && !BlackAndWhite(info_.colors);
        const bool coded = info_.compression == biRLE8 || info_.compression == biRLE4;
        const int64_t rowBytes = StoredRowBytes(width_, info_.bitCount);
        CheckPictureSize(width_, height_, 24, coded ? info_.codedSize : -1);
        if (!coded && rowBytes * height_ > r_.Remaining()) throw EShortData("BMP pixel data is cut short");

        // Every row is written, unless the reading stops short: then the picture is cleared.
        bitmap_.AllocateUnfilled(width_, height_, info_.bitCount == 1 && !colouredOneBit_ ? kv1Bit : native_ ? kv8Paletted : kv24RGB);
        if (native_)
            for (size_t i = 0; i < info_.colors.size() && i < 256; ++i) bitmap_.Palette()[i] = info_.colors[i];
        StartProgress(progress_, height_);
        try {
            ReadPixels(coded, rowBytes);
        } catch (...) {
            bitmap_.Fill(0);
            throw;
        }
        if (progress_.Aborted()) bitmap_.Fill(0);
    }

private:
    void ReadPixels(bool coded, int64_t rowBytes) {
        if (coded) {
            ReadCoded();
            return;
        }
        if (info_.bitCount == 32 && keepAlpha_ && info_.alpha.mask) alpha_ = bitmap_.GetAlphaChannel();
        for (int row = 0; row < height_ && !progress_.Aborted(); ++row) {
            ReadRow(r_.Bytes(rowBytes).data(), Target(row), row);
            progress_.Report(row);
        }
        if (alpha_ && (!anyAlpha_ || !anyTranslucent_)) bitmap_.RemoveAlphaChannel();
    }

    uint8_t* Target(int storedRow) {
        TKVAccessScope writing(bitmap_, kvaWrite);
        return bitmap_.GetScanline(info_.topDown ? storedRow : height_ - 1 - storedRow);
    }

    void ReadCoded() {
        std::vector<uint8_t> indexes(size_t(int64_t(width_) * height_));
        TByteReader coded(r_.Bytes(info_.codedSize));
        DecodeRLE(coded, info_.compression == biRLE4, info_, indexes, progress_);
        for (int row = 0; row < height_ && !progress_.Aborted(); ++row)
            StoreIndexes(indexes.data() + int64_t(row) * width_, Target(row));
    }

    void StoreIndexes(const uint8_t* indexes, uint8_t* out) {
        if (native_) {
            std::memcpy(out, indexes, size_t(width_));
            return;
        }
        for (int x = 0; x < width_; ++x) {
            const TKVRGB color = indexes[x] < info_.colors.size() ? info_.colors[indexes[x]] : TKVRGB{};
            std::memcpy(out + 3 * int64_t(x), &color, 3);
        }
    }

    void ReadRow(const uint8_t* in, uint8_t* out, int storedRow) {
        switch (info_.bitCount) {
            case 1: {
                if (colouredOneBit_) {
                    rowIndexes_.resize(size_t(width_));
                    for (int x = 0; x < width_; ++x) rowIndexes_[size_t(x)] = in[x / 8] >> (7 - x % 8) & 1;
                    StoreIndexes(rowIndexes_.data(), out);
                    break;
                }
                // A set bit is white in the library's 1-bit pictures.
                const bool invert = info_.colors.size() == 2 && info_.colors[0] == TKVRGB{255, 255, 255} &&
                                    info_.colors[1] == TKVRGB{};
                for (int64_t i = 0; i < (width_ + 7) / 8; ++i) out[i] = invert ? uint8_t(~in[i]) : in[i];
                break;
            }
            case 4: {
                rowIndexes_.resize(size_t(width_));
                for (int x = 0; x < width_; ++x) rowIndexes_[size_t(x)] = x % 2 ? in[x / 2] & 15 : in[x / 2] >> 4;
                StoreIndexes(rowIndexes_.data(), out);
                break;
            }
            case 8: StoreIndexes(in, out); break;
            case 24: std::memcpy(out, in, size_t(width_) * 3); break;
            default: ReadBitFieldRow(in, out, storedRow); break;
        }
    }

    void ReadBitFieldRow(const uint8_t* in, uint8_t* out, int storedRow) {
        uint8_t* alphaRow = nullptr;
        if (alpha_) {
            TKVAccessScope writing(*alpha_, kvaWrite);
            alphaRow = alpha_->GetScanline(info_.topDown ? storedRow : height_ - 1 - storedRow);
        }
        const int bytes = info_.bitCount / 8;
        for (int x = 0; x < width_; ++x) {
            const uint8_t* p = in + int64_t(x) * bytes;
            const uint32_t pixel = bytes == 2 ? uint32_t(p[0] | p[1] << 8) : uint32_t(p[0] | p[1] << 8 | p[2] << 16) | uint32_t(p[3]) << 24;
            out[3 * x] = info_.blue.Of(pixel);
            out[3 * x + 1] = info_.green.Of(pixel);
            out[3 * x + 2] = info_.red.Of(pixel);
            if (alphaRow) {
                const uint8_t a = info_.alpha.Of(pixel);
                alphaRow[x] = a;
                anyAlpha_ |= a != 0;
                anyTranslucent_ |= a != 255;
            }
        }
    }

    TByteReader& r_;
    const TBmpInfo& info_;
    TKVBitmap& bitmap_;
    bool keepAlpha_;
    TKVProgressRec& progress_;
    int width_, height_;
    bool native_ = false;
    // Two colours other than black and white cannot live in a 1-bit picture, which has no palette.
    bool colouredOneBit_ = false;
    TKVBitmap* alpha_ = nullptr;
    bool anyAlpha_ = false, anyTranslucent_ = false;
    std::vector<uint8_t> rowIndexes_;
};

// --- Writing

void PatchU32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + size_t(i)] = uint8_t(v >> (8 * i));
}

// Flushes a stretch of literal pixels in pieces of at most 255.
void FlushLiterals(std::vector<uint8_t>& out, const uint8_t* pixels, int count, bool rle4) {
    while (count > 0) {
        const int n = std::min(count, 255);
        if (n == 1) {
            out.insert(out.end(), {1, uint8_t(rle4 ? pixels[0] << 4 : pixels[0])});
        } else if (n == 2 && !rle4) {
            out.insert(out.end(), {1, pixels[0], 1, pixels[1]});
        } else if (n == 2) {
            out.insert(out.end(), {2, uint8_t(pixels[0] << 4 | (pixels[1] & 15))});
        } else {
            out.insert(out.end(), {0, uint8_t(n)});
            int dataBytes = 0;
            for (int i = 0; i < n; i += rle4 ? 2 : 1, ++dataBytes)
                out.push_back(rle4 ? uint8_t(pixels[i] << 4 | (i + 1 < n ? pixels[i + 1] & 15 : 0)) : pixels[i]);
            if (dataBytes % 2) out.push_back(0);
        }
        pixels += n;
        count -= n;
    }
}

std::vector<uint8_t> EncodeRow(const uint8_t* p, int width, bool rle4) {
    std::vector<uint8_t> out;
    int literalStart = 0, i = 0;
    while (i < width) {
        if (i + 1 < width && p[i] == p[i + 1]) {
            FlushLiterals(out, p + literalStart, i - literalStart, rle4);
            int run = 1;
            while (i + run < width && run < 255 && p[i + run] == p[i]) ++run;
            out.insert(out.end(), {uint8_t(run), uint8_t(rle4 ? (p[i] & 15) * 17 : p[i])});
            i += run;
            literalStart = i;
        } else {
            ++i;
            if (i - literalStart == 255) {
                FlushLiterals(out, p + literalStart, 255, rle4);
                literalStart = i;
            }
        }
    }
    FlushLiterals(out, p + literalStart, i - literalStart, rle4);
    out.insert(out.end(), {0, 0});
    return out;
}

int WrittenBitCount(TKVBitmap& bitmap, const TIOParamsVals& params) {
    if (params.BitsPerSample == 1 || params.BitsPerSample == 4) return params.BitsPerSample;
    if (params.SamplesPerPixel == 1) return 8;
    return bitmap.GetHasAlphaChannel() ? 32 : 24;
}

class TBmpWriter {
public:
    TBmpWriter(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, TKVProgressRec& progress)
        : stream_(stream), bitmap_(bitmap), params_(params), progress_(progress),
          width_(bitmap.GetWidth()), height_(bitmap.GetHeight()) {}

    void Write() {
        if (bitmap_.IsEmpty()) throw EInvalidGraphic("no picture to write");
        const int bits = WrittenBitCount(bitmap_, params_);
        const bool core = params_.BmpVersion == 2;
        if (core && (width_ > 0xFFFF || height_ > 0xFFFF)) throw EInvalidGraphic("picture too large for an OS/2 1 bitmap");
        const bool coded = params_.BmpCompression == 1 && !core && (bits == 4 || bits == 8);
        const uint32_t headerSize = core ? 12 : params_.BmpVersion == 3 ? 64 : 40;
        const int64_t start = stream_.Position();

        std::vector<uint8_t> head = {'B', 'M'};
        head.resize(14);
        PutU32LE(head, headerSize);
        if (core) {
            PutU16LE(head, uint32_t(width_));
            PutU16LE(head, uint32_t(height_));
            PutU16LE(head, 1);
            PutU16LE(head, uint32_t(bits));
        } else {
            PutU32LE(head, uint32_t(width_));
            PutU32LE(head, uint32_t(height_));
            PutU16LE(head, 1);
            PutU16LE(head, uint32_t(bits));
            PutU32LE(head, coded ? (bits == 4 ? biRLE4 : biRLE8) : biRGB);
            PutU32LE(head, 0);  // image size, patched at the end
            PutU32LE(head, uint32_t(DpiToPixelsPerMetre(params_.DpiX())));
            PutU32LE(head, uint32_t(DpiToPixelsPerMetre(params_.DpiY())));
            PutU32LE(head, bits <= 8 ? 1u << bits : 0);
            PutU32LE(head, 1u << (bits % 32));
            head.resize(14 + headerSize);
        }
        PreparePixels(bits);
        for (const TKVRGB& c : palette_) {
            head.insert(head.end(), {c.b, c.g, c.r});
            if (!core) head.push_back(0);
        }
        params_.ColorMap = palette_;
        stream_.WriteBuffer(head.data(), int64_t(head.size()));

        StartProgress(progress_, height_);
        // Rows to be run-length coded hold one index per byte.
        std::vector<uint8_t> row(static_cast<size_t>(coded ? width_ : StoredRowBytes(width_, bits)));
        int64_t dataSize = 0;
        for (int y = height_ - 1; y >= 0; --y) {
            if (progress_.Aborted()) return;
            std::fill(row.begin(), row.end(), 0);
            FillRow(y, bits, row.data());
            const std::vector<uint8_t> packed = coded ? EncodeRow(row.data(), width_, bits == 4) : std::vector<uint8_t>();
            const std::vector<uint8_t>& out = coded ? packed : row;
            stream_.WriteBuffer(out.data(), int64_t(out.size()));
            dataSize += int64_t(out.size());
            progress_.Report(height_ - 1 - y);
        }
        if (coded) {
            const uint8_t endOfBitmap[2] = {0, 1};
            stream_.WriteBuffer(endOfBitmap, 2);
            dataSize += 2;
        }

        const int64_t end = stream_.Position();
        PatchU32(head, 2, uint32_t(end - start));
        PatchU32(head, 10, uint32_t(head.size()));
        if (!core) PatchU32(head, 14 + 20, uint32_t(dataSize));
        stream_.SetPosition(start);
        stream_.WriteBuffer(head.data(), int64_t(head.size()));
        stream_.SetPosition(end);
    }

private:
    void PreparePixels(int bits) {
        if (bits == 8 && bitmap_.GetPixelFormat() == kv8Paletted) {
            palette_.assign(bitmap_.Palette(), bitmap_.Palette() + 256);
        } else if (bits == 4 || bits == 8) {
            palette_.assign(size_t(1) << bits, TKVRGB{});
            quantizer_ = std::make_unique<TKVQuantizer>(bitmap_, palette_.data(), 1 << bits);
        } else if (bits == 1) {
            palette_ = {TKVRGB{}, TKVRGB{255, 255, 255}};
            if (bitmap_.GetPixelFormat() == kv1Bit) return;
            uint32_t color1 = 0, color2 = 0;
            oneBit_ = KVConvertTo1BitIfTwoColors(bitmap_, color1, color2);
            if (!oneBit_) {
                oneBit_ = OneBitCopy(bitmap_);
            } else {
                palette_ = {TKVRGB{uint8_t(color1), uint8_t(color1 >> 8), uint8_t(color1 >> 16)},
                            TKVRGB{uint8_t(color2), uint8_t(color2 >> 8), uint8_t(color2 >> 16)}};
            }
        }
    }

    void FillRow(int y, int bits, uint8_t* out) {
        TKVAccessScope reading(bitmap_, kvaRead);
        switch (bits) {
            case 1: {
                TKVBitmap& source = oneBit_ ? *oneBit_ : bitmap_;
                TKVAccessScope readingSource(source, kvaRead);
                std::memcpy(out, source.GetScanline(y), size_t((width_ + 7) / 8));
                break;
            }
            case 4:
            case 8: {
                indexes_.resize(size_t(width_));
                if (quantizer_) {
                    for (int x = 0; x < width_; ++x) indexes_[size_t(x)] = uint8_t(quantizer_->RGBToIndex(bitmap_.GetPixelRGB(x, y)));
                } else {
                    const uint8_t* in = bitmap_.GetScanline(y);
                    std::copy(in, in + width_, indexes_.begin());
                }
                if (bits == 8 || params_.BmpCompression == 1) {
                    // Run-length coding takes one index per byte.
                    std::memcpy(out, indexes_.data(), indexes_.size());
                } else {
                    for (int x = 0; x < width_; ++x) out[x / 2] |= uint8_t(x % 2 ? indexes_[size_t(x)] : indexes_[size_t(x)] << 4);
                }
                break;
            }
            case 24:
                if (bitmap_.GetPixelFormat() == kv24RGB) {
                    std::memcpy(out, bitmap_.GetScanline(y), size_t(width_) * 3);
                } else {
                    for (int x = 0; x < width_; ++x) {
                        const TKVRGB c = bitmap_.GetPixelRGB(x, y);
                        std::memcpy(out + 3 * x, &c, 3);
                    }
                }
                break;
            default:
                for (int x = 0; x < width_; ++x) {
                    const TKVRGB c = bitmap_.GetPixelRGB(x, y);
                    std::memcpy(out + 4 * x, &c, 3);
                    out[4 * x + 3] = bitmap_.GetAlpha(x, y);
                }
                break;
        }
    }

    TStream& stream_;
    TKVBitmap& bitmap_;
    TIOParamsVals& params_;
    TKVProgressRec& progress_;
    int width_, height_;
    std::vector<TKVRGB> palette_;
    std::unique_ptr<TKVQuantizer> quantizer_;
    std::unique_ptr<TKVBitmap> oneBit_;
    std::vector<uint8_t> indexes_;
};

}  // namespace

void ReadBMPStream(TStream& stream, TKVBitmap& bitmap, int64_t dataLength, bool suppressAlpha, bool noFileHeader,
                   bool paramsOnly, TKVProgressRec& progress, TIOParamsVals& params) {
    const int64_t start = stream.Position();
    RunDriver(progress, [&] {
        const std::vector<uint8_t> bytes = ReadStreamRest(stream);
        TByteReader r(bytes.data(), int64_t(bytes.size()));
        const TBmpInfo info = ReadHeaders(r, noFileHeader, dataLength, params);
        if (paramsOnly) return;
        if (info.width <= 0 || info.height <= 0) throw EInvalidGraphic("BMP picture is empty");
        TBmpReader(r, info, bitmap, !suppressAlpha, progress).Read(params.IsNativePixelFormat);
        stream.SetPosition(start + r.Position());
    });
}

void WriteBMPStream(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, TKVProgressRec& progress) {
    RunDriver(progress, [&] { TBmpWriter(stream, bitmap, params, progress).Write(); });
}

std::vector<uint8_t> EncodeRLE8Row(const uint8_t* indexes, int width) { return EncodeRow(indexes, width, false); }
std::vector<uint8_t> EncodeRLE4Row(const uint8_t* indexes, int width) { return EncodeRow(indexes, width, true); }

namespace {

bool IsBmp(TStream& stream) {
    const TKVStreamPrefix p(stream);
    return p.size > 14 && p.Starts("BM");
}

void ReadBmp(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, bool paramsOnly, TKVProgressRec& progress) {
    ReadBMPStream(stream, bitmap, 0, false, false, paramsOnly, progress, params);
}

}  // namespace

const TKVFormatDriver KVBmpDriver{.FileType = kvftBMP,
                                  .IsFormat = IsBmp,
                                  .ReadHeader = KVReadHeaderBy<ReadBmp>,
                                  .Read = KVReadPictureBy<ReadBmp>,
                                  .Write = WriteBMPStream};
