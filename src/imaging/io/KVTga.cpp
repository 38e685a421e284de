#include "imaging/io/KVTga.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVLibraryState.h"
#include "imaging/core/KVQuantizer.h"
#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KVDriverSupport.h"
#include "imaging/proc/KVColorModels.h"
#include "platform/ByteReader.h"
#include "platform/ByteWriter.h"
#include "platform/Classes.h"
#include "platform/PictureLimits.h"

namespace {

constexpr int headerSize = 18, footerSize = 26, extensionSize = 495;
const char signature[] = "TRUEVISION-XFILE.";  // with its zero byte, 18 bytes
constexpr int unixEpochDate = 25569;           // 1970-01-01 as days since 1899-12-30

bool KnownLayout(int type, int depth) {
    return (type == 1 || type == 2 || type == 3 || type == 9 || type == 10 || type == 11) &&
           (depth == 1 || depth == 4 || depth == 8 || depth == 16 || depth == 24 || depth == 32);
}

std::string FixedText(std::span<const uint8_t> bytes) {
    const auto end = std::find(bytes.begin(), bytes.end(), uint8_t(0));
    return std::string(bytes.begin(), end);
}

// --- Dates: the record keeps days since 1899-12-30 with the time of day as the fraction.

double EncodeDate(int year, int month, int day, int hour, int minute, int second) {
    using namespace std::chrono;
    const year_month_day date{std::chrono::year{year} / unsigned(month) / unsigned(day)};
    if (!date.ok()) return -1;
    return double(sys_days(date).time_since_epoch().count() + unixEpochDate) + (hour * 3600 + minute * 60 + second) / 86400.0;
}

void DecodeDate(double value, std::array<int, 6>& fields) {
    using namespace std::chrono;
    const double whole = std::floor(value);
    const year_month_day date{sys_days{days{int64_t(whole) - unixEpochDate}}};
    const int seconds = std::clamp(int(std::lround((value - whole) * 86400)), 0, 86399);
    fields = {int(unsigned(date.month())), int(unsigned(date.day())), int(date.year()),
              seconds / 3600, seconds / 60 % 60, seconds % 60};
}

void ReadExtension(const TByteReader& r, TIOParamsVals& params) {
    params.TgaAuthor.clear();
    params.TgaImageName.clear();
    params.TgaBackground = {};
    params.TgaAspectRatio = 1.0;
    params.TgaGamma = 2.2;
    if (r.Size() < headerSize + footerSize) return;
    const int64_t footer = r.Size() - footerSize;
    if (std::memcmp(r.BytesAt(footer + 8, 18).data(), signature, 18) != 0) return;
    const int64_t at = r.U32LEAt(footer);
    if (at == 0 || at + extensionSize > footer) return;
    params.TgaAuthor = FixedText(r.BytesAt(at + 2, 41));
    const int month = r.U16LEAt(at + 367), day = r.U16LEAt(at + 369), year = r.U16LEAt(at + 371);
    const int hour = r.U16LEAt(at + 373), minute = r.U16LEAt(at + 375), second = r.U16LEAt(at + 377);
    if (year >= 1 && year <= 2499 && month >= 1 && month <= 12 && day >= 1 && day <= 31 && hour < 24 && minute < 60 &&
        second < 60) {
        const double date = EncodeDate(year, month, day, hour, minute, second);
        if (date >= 0) params.TgaDate = date;
    }
    params.TgaImageName = FixedText(r.BytesAt(at + 379, 41));
    params.TgaBackground = {r.U8At(at + 473), r.U8At(at + 472), r.U8At(at + 471)};
    const int ratioN = r.U16LEAt(at + 474), ratioD = r.U16LEAt(at + 476);
    if (ratioN && ratioD) params.TgaAspectRatio = double(ratioN) / ratioD;
    const int gammaN = r.U16LEAt(at + 478), gammaD = r.U16LEAt(at + 480);
    if (gammaN && gammaD) params.TgaGamma = double(gammaN) / gammaD;
}

struct TTgaHeader {
    int idLength, mapType, type, mapFirst, mapLength, mapEntryBits, xOrigin, yOrigin, width, height, depth, descriptor;
    bool Compressed() const { return type >= 9; }
    bool TopDown() const { return descriptor & 0x20; }
    bool RightToLeft() const { return descriptor & 0x10; }
};

TTgaHeader ReadHeader(TByteReader& r) {
    TTgaHeader h{};
    h.idLength = r.U8();
    h.mapType = r.U8();
    h.type = r.U8();
    h.mapFirst = r.U16LE();
    h.mapLength = r.U16LE();
    h.mapEntryBits = r.U8();
    h.xOrigin = r.U16LE();
    h.yOrigin = r.U16LE();
    h.width = r.U16LE();
    h.height = r.U16LE();
    h.depth = r.U8();
    h.descriptor = r.U8();
    if (!KnownLayout(h.type, h.depth)) throw EInvalidGraphic("unsupported Targa layout");
    return h;
}

TKVRGB From555(uint16_t v) { return {uint8_t((v & 31) * 8), uint8_t((v >> 5 & 31) * 8), uint8_t((v >> 10 & 31) * 8)}; }

struct TTgaMap {
    std::array<TKVRGB, 256> colors{};
    std::array<uint8_t, 256> alpha{};
    bool hasAlpha = false;
    int count = 0;
};

// Entries outside 0..255 are skipped, their bytes consumed.
TTgaMap ReadMap(TByteReader& r, const TTgaHeader& h, TIOParamsVals& params) {
    TTgaMap map;
    map.alpha.fill(255);
    for (int i = 0; i < 256; ++i) {
        const int red = i >> 5, green = i >> 2 & 7, blue = i & 3;
        map.colors[size_t(i)] = {uint8_t(blue * 64 + 60), uint8_t(green * 32 + 28), uint8_t(red * 32 + 28)};
    }
    params.TgaGrayLevel = false;
    if (h.mapType == 1) {
        const int entryBytes = (h.mapEntryBits + 7) / 8;
        for (int i = 0; i < h.mapLength; ++i) {
            const std::span<const uint8_t> e = r.Bytes(entryBytes);
            const int index = h.mapFirst + i;
            if (index > 255) continue;
            TKVRGB& c = map.colors[size_t(index)];
            if (h.mapEntryBits == 15 || h.mapEntryBits == 16) c = From555(uint16_t(e[0] | e[1] << 8));
            else if (entryBytes >= 3) c = {e[0], e[1], e[2]};
            if (h.mapEntryBits == 32) {
                map.alpha[size_t(index)] = e[3];
                map.hasAlpha = true;
            }
        }
        map.count = std::clamp(h.mapFirst + h.mapLength, 0, 256);
    } else if (h.depth == 8 && h.type != 1 && h.type != 9) {
        for (int i = 0; i < 256; ++i) map.colors[size_t(i)] = {uint8_t(i), uint8_t(i), uint8_t(i)};
        map.count = 256;
        params.TgaGrayLevel = true;
    } else if (h.depth == 1) {
        map.colors[1] = {255, 255, 255};
        map.count = 2;
    }
    params.ColorMap.assign(map.colors.begin(), map.colors.begin() + map.count);
    return map;
}

// Pixels of one row in the file's own form; a run-length packet may continue on the next row.
class TTgaRowSource {
public:
    TTgaRowSource(TByteReader& r, bool compressed, int unitBytes) : r_(r), compressed_(compressed), unit_(unitBytes) {}

    void Read(uint8_t* row, int units) {
        if (!compressed_) {
            std::memcpy(row, r_.Bytes(int64_t(units) * unit_).data(), size_t(units) * size_t(unit_));
            return;
        }
        for (int at = 0; at < units;) {
            if (left_ == 0) {
                const uint8_t packet = r_.U8();
                left_ = (packet & 0x7F) + 1;
                run_ = packet & 0x80;
                if (run_) std::memcpy(value_, r_.Bytes(unit_).data(), size_t(unit_));
            }
            const int n = std::min(left_, units - at);
            for (int i = 0; i < n; ++i, ++at)
                std::memcpy(row + at * unit_, run_ ? value_ : r_.Bytes(unit_).data(), size_t(unit_));
            left_ -= n;
        }
    }

private:
    TByteReader& r_;
    bool compressed_;
    int unit_;
    int left_ = 0;
    bool run_ = false;
    uint8_t value_[4] = {};
};

void ReadPixels(TByteReader& r, const TTgaHeader& h, const TTgaMap& map, TKVBitmap& bitmap, bool noMask,
                TKVProgressRec& progress) {
    // Run-length coded 1-bit pictures code bytes of eight pixels.
    const int unitBytes = h.depth == 1 ? 1 : h.depth / 8;
    const int units = h.depth == 1 ? (h.width + 7) / 8 : h.width;
    TKVBitmap* alpha = nullptr;
    if (!noMask && ((h.depth == 32 && (h.descriptor & 15)) || (h.depth == 8 && map.hasAlpha)))
        alpha = bitmap.GetAlphaChannel();
    std::vector<uint8_t> raw(size_t(units) * size_t(unitBytes));
    std::vector<TKVRGB> pixels(size_t(h.width));
    std::vector<uint8_t> alphaRow(size_t(h.width), 255);
    TTgaRowSource source(r, h.Compressed(), unitBytes);
    bool anyTranslucent = false;
    StartProgress(progress, h.height);
    TKVAccessScope writing(bitmap, kvaWrite);
    for (int i = 0; i < h.height && !progress.Aborted(); ++i) {
        source.Read(raw.data(), units);
        const int y = h.TopDown() ? i : h.height - 1 - i;
        uint8_t* out = bitmap.GetScanline(y);
        if (h.depth == 1) {
            std::memcpy(out, raw.data(), size_t(units));
            if (h.RightToLeft()) {
                std::vector<uint8_t> flipped(size_t(units), 0);
                for (int x = 0; x < h.width; ++x)
                    if (raw[size_t(x / 8)] & (0x80 >> (x % 8))) flipped[size_t((h.width - 1 - x) / 8)] |= uint8_t(0x80 >> ((h.width - 1 - x) % 8));
                std::memcpy(out, flipped.data(), size_t(units));
            }
        } else {
            for (int x = 0; x < h.width; ++x) {
                const uint8_t* p = raw.data() + x * unitBytes;
                switch (h.depth) {
                    case 8:
                        pixels[size_t(x)] = map.colors[p[0]];
                        alphaRow[size_t(x)] = map.alpha[p[0]];
                        break;
                    case 16: pixels[size_t(x)] = From555(uint16_t(p[0] | p[1] << 8)); break;
                    case 24: pixels[size_t(x)] = {p[0], p[1], p[2]}; break;
                    default:
                        pixels[size_t(x)] = {p[0], p[1], p[2]};
                        alphaRow[size_t(x)] = p[3];
                }
            }
            if (h.RightToLeft()) {
                std::reverse(pixels.begin(), pixels.end());
                std::reverse(alphaRow.begin(), alphaRow.end());
            }
            std::memcpy(out, pixels.data(), pixels.size() * 3);
        }
        if (alpha) {
            TKVAccessScope writingAlpha(*alpha, kvaWrite);
            std::memcpy(alpha->GetScanline(y), alphaRow.data(), alphaRow.size());
            anyTranslucent |= std::any_of(alphaRow.begin(), alphaRow.end(), [](uint8_t a) { return a != 255; });
        }
        progress.Report(i);
    }
    if (alpha && !anyTranslucent) bitmap.RemoveAlphaChannel();
}

void ReadTga(const std::vector<uint8_t>& bytes, TKVBitmap& bitmap, TIOParamsVals& params, bool noMask, bool paramsOnly,
             TKVProgressRec& progress) {
    TByteReader r(bytes.data(), int64_t(bytes.size()));
    ReadExtension(r, params);
    const TTgaHeader h = ReadHeader(r);
    params.TgaXPos = h.xOrigin;
    params.TgaYPos = h.yOrigin;
    params.TgaDescriptor = FixedText(r.Bytes(h.idLength));
    params.TgaCompressed = h.Compressed();
    params.SetDpiX(DefaultDpiX);
    params.SetDpiY(DefaultDpiY);
    static const struct {
        int depth, bits, samples;
    } layouts[] = {{1, 1, 1}, {4, 4, 1}, {8, 8, 1}, {16, 5, 3}, {24, 8, 3}, {32, 8, 4}};
    for (const auto& l : layouts)
        if (l.depth == h.depth) {
            params.BitsPerSample = l.bits;
            params.SamplesPerPixel = l.samples;
        }
    params.Width = h.width;
    params.Height = h.height;
    const TTgaMap map = ReadMap(r, h, params);
    if (paramsOnly) return;
    if (h.depth == 4) throw EInvalidGraphic("4-bit Targa pixels are not supported");
    if (h.width == 0 || h.height == 0) throw EInvalidGraphic("Targa picture without pixels");
    CheckPictureSize(h.width, h.height, h.depth == 1 ? 1 : 24, r.Remaining());
    bitmap.Allocate(h.width, h.height, h.depth == 1 ? kv1Bit : kv24RGB);
    ReadPixels(r, h, map, bitmap, noMask, progress);
}

// --- Writing


// Runs of 2 to 128 equal pixels become run packets, the rest literal packets of up to 128.
void PutRunLengthRow(std::vector<uint8_t>& out, const uint8_t* row, int pixels, int pixelBytes) {
    auto same = [&](int a, int b) { return std::memcmp(row + a * pixelBytes, row + b * pixelBytes, size_t(pixelBytes)) == 0; };
    for (int at = 0; at < pixels;) {
        int run = 1;
        while (at + run < pixels && run < 128 && same(at, at + run)) ++run;
        if (run > 1) {
            out.push_back(uint8_t(0x80 + run - 1));
            out.insert(out.end(), row + at * pixelBytes, row + (at + 1) * pixelBytes);
            at += run;
            continue;
        }
        int literal = 1;
        while (at + literal < pixels && literal < 128 && !(at + literal + 1 < pixels && same(at + literal, at + literal + 1)))
            ++literal;
        out.push_back(uint8_t(literal - 1));
        out.insert(out.end(), row + at * pixelBytes, row + (at + literal) * pixelBytes);
        at += literal;
    }
}

class TTgaWriter {
public:
    TTgaWriter(TKVBitmap& bitmap, TIOParamsVals& params, TKVProgressRec& progress)
        : bitmap_(bitmap), params_(params), progress_(progress), width_(bitmap.GetWidth()), height_(bitmap.GetHeight()) {
        if (width_ > 0xFFFF || height_ > 0xFFFF) throw EInvalidGraphic("too large for Targa");
        if (params.SamplesPerPixel == 1 && params.BitsPerSample == 1) PrepareOneBit();
        else if (params.SamplesPerPixel == 1 && (params.BitsPerSample == 4 || params.BitsPerSample == 8)) PreparePalette();
        else depth_ = HasTranslucentAlpha() ? 32 : 24;
        compressed_ = params.TgaCompressed && (depth_ == 8 || depth_ == 24);
    }

    std::vector<uint8_t> Write() {
        std::vector<uint8_t> out = Header();
        const int pixelBytes = depth_ == 1 ? 1 : depth_ / 8;
        const int units = depth_ == 1 ? (width_ + 7) / 8 : width_;
        std::vector<uint8_t> row(size_t(units) * size_t(pixelBytes));
        StartProgress(progress_, height_);
        for (int y = 0; y < height_ && !progress_.Aborted(); ++y) {
            FillRow(y, row.data());
            if (compressed_) PutRunLengthRow(out, row.data(), units, pixelBytes);
            else out.insert(out.end(), row.begin(), row.end());
            progress_.Report(y);
        }
        const size_t extension = out.size();
        PutExtension(out);
        out.resize(out.size() + 4);
        for (int i = 0; i < 4; ++i) out[out.size() - 4 + size_t(i)] = uint8_t(extension >> (8 * i));
        out.resize(out.size() + 4, 0);
        out.insert(out.end(), signature, signature + 18);
        return out;
    }

private:
    bool HasTranslucentAlpha() {
        if (!bitmap_.GetHasAlphaChannel()) return false;
        TKVBitmap& alpha = *bitmap_.GetAlphaChannel();
        TKVAccessScope reading(alpha, kvaRead);
        for (int y = 0; y < height_; ++y) {
            const uint8_t* a = alpha.GetScanline(y);
            if (std::any_of(a, a + width_, [](uint8_t v) { return v != 255; })) return true;
        }
        return false;
    }

    void PrepareOneBit() {
        depth_ = 1;
        if (bitmap_.GetPixelFormat() == kv1Bit) return;
        uint32_t color1 = 0, color2 = 0;
        oneBit_ = KVConvertTo1BitIfTwoColors(bitmap_, color1, color2);
        if (!oneBit_) oneBit_ = OneBitCopy(bitmap_);
    }

    // 4-bit Targa files are not written: few readers take them, so 16 colours go into an 8-bit map.
    void PreparePalette() {
        depth_ = 8;
        gray_ = params_.TgaGrayLevel;
        if (gray_) return;
        palette_.assign(size_t(params_.BitsPerSample == 4 ? 16 : 256), TKVRGB{});
        quantizer_ = std::make_unique<TKVQuantizer>(bitmap_, palette_.data(), int(palette_.size()));
        params_.ColorMap = palette_;
    }

    std::vector<uint8_t> Header() {
        std::string id = params_.TgaDescriptor.substr(0, 254);
        std::vector<uint8_t> out;
        const bool mapped = !palette_.empty();
        out.push_back(uint8_t(id.size() + 1));
        out.push_back(mapped ? 1 : 0);
        out.push_back(uint8_t((depth_ == 1 || gray_ ? 3 : mapped ? 1 : 2) + (compressed_ ? 8 : 0)));
        PutU16LE(out, 0);
        PutU16LE(out, int(palette_.size()));
        out.push_back(mapped ? 24 : 0);
        PutU16LE(out, params_.TgaXPos);
        PutU16LE(out, params_.TgaYPos);
        PutU16LE(out, width_);
        PutU16LE(out, height_);
        out.push_back(uint8_t(depth_));
        out.push_back(uint8_t(0x20 | (depth_ == 32 ? 8 : 0)));
        out.insert(out.end(), id.begin(), id.end());
        out.push_back(0);
        for (const TKVRGB& c : palette_) out.insert(out.end(), {c.b, c.g, c.r});
        return out;
    }

    void FillRow(int y, uint8_t* row) {
        if (depth_ == 1) {
            TKVBitmap& source = oneBit_ ? *oneBit_ : bitmap_;
            TKVAccessScope reading(source, kvaRead);
            std::memcpy(row, source.GetScanline(y), size_t((width_ + 7) / 8));
            return;
        }
        for (int x = 0; x < width_; ++x) {
            const TKVRGB c = bitmap_.GetPixelRGB(x, y);
            if (depth_ == 8) {
                row[x] = gray_ ? uint8_t((c.r * KVGrayWeights.Red + c.g * KVGrayWeights.Green + c.b * KVGrayWeights.Blue) / 100)
                               : uint8_t(quantizer_->RGBToIndex(c));
                continue;
            }
            uint8_t* p = row + x * (depth_ / 8);
            p[0] = c.b;
            p[1] = c.g;
            p[2] = c.r;
            if (depth_ == 32) p[3] = bitmap_.GetAlpha(x, y);
        }
    }

    void PutExtension(std::vector<uint8_t>& out) {
        std::vector<uint8_t> e(extensionSize, 0);
        auto text = [&](int at, const std::string& s) { std::memcpy(&e[size_t(at)], s.data(), std::min<size_t>(s.size(), 40)); };
        StoreU16LE(&e[0], extensionSize);
        text(2, params_.TgaAuthor);
        std::array<int, 6> date{};
        DecodeDate(params_.TgaDate, date);
        for (int i = 0; i < 6; ++i) StoreU16LE(&e[size_t(367 + 2 * i)], date[size_t(i)]);
        text(379, params_.TgaImageName);
        e[471] = params_.TgaBackground.r;
        e[472] = params_.TgaBackground.g;
        e[473] = params_.TgaBackground.b;
        StoreU16LE(&e[474], int(std::clamp(std::trunc(params_.TgaAspectRatio * 10000), 0.0, 65535.0)));
        StoreU16LE(&e[476], 10000);
        StoreU16LE(&e[478], int(std::clamp(std::trunc(params_.TgaGamma * 10000), 0.0, 65535.0)));
        StoreU16LE(&e[480], 10000);
        out.insert(out.end(), e.begin(), e.end());
    }

    TKVBitmap& bitmap_;
    TIOParamsVals& params_;
    TKVProgressRec& progress_;
    int width_, height_, depth_ = 24;
    bool compressed_ = false, gray_ = false;
    std::unique_ptr<TKVBitmap> oneBit_;
    std::vector<TKVRGB> palette_;
    std::unique_ptr<TKVQuantizer> quantizer_;
};

}  // namespace

bool IsTGAStream(TStream& stream) {
    const int64_t start = stream.Position();
    uint8_t h[headerSize] = {};
    const bool complete = stream.Read(h, headerSize) == headerSize;
    stream.SetPosition(start);
    return complete && KnownLayout(h[2], h[16]) && h[1] < 2 && (h[12] | h[13]) && (h[14] | h[15]);
}

void ReadTGAStream(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, bool noMask, bool paramsOnly,
                   TKVProgressRec& progress) {
    RunDriver(progress, [&] { ReadTga(ReadStreamRest(stream), bitmap, params, noMask, paramsOnly, progress); });
}

void WriteTGAStream(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, TKVProgressRec& progress) {
    RunDriver(progress, [&] {
        if (bitmap.IsEmpty()) throw EInvalidGraphic("no picture to write");
        std::unique_ptr<TKVBitmap> copy;
        TKVBitmap* source = &bitmap;
        if (bitmap.GetPixelFormat() != kv24RGB && bitmap.GetPixelFormat() != kv1Bit) {
            copy = std::make_unique<TKVBitmap>();
            copy->Assign(&bitmap);
            copy->ConvertPixelFormat(kv24RGB);
            source = copy.get();
        }
        const std::vector<uint8_t> out = TTgaWriter(*source, params, progress).Write();
        if (!progress.Aborted()) stream.WriteBuffer(out.data(), int64_t(out.size()));
    });
}
