#include "imaging/io/KVPxm.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>
#include <optional>
#include <string>

#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVICC.h"
#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KVColorConvert.h"
#include "imaging/io/KVDriverSupport.h"
#include "platform/ByteReader.h"
#include "platform/ByteWriter.h"
#include "platform/Classes.h"
#include "imaging/core/KVBits.h"
#include "platform/PictureLimits.h"

namespace {

bool IsAlnum(uint8_t c) { return std::isalnum(c) != 0; }

// Tokens of a portable map: runs of letters and digits, and comments returned as "#" and their
// text; the byte that ends a run is consumed with it.
class TPxmTokens {
public:
    explicit TPxmTokens(TByteReader& r) : r_(r) {}

    // Empty at the end of the data.
    std::string Next() {
        while (!r_.AtEnd() && !IsAlnum(r_.U8At(r_.Position())) && r_.U8At(r_.Position()) != '#') r_.Skip(1);
        std::string token;
        if (r_.AtEnd()) return token;
        if (r_.U8At(r_.Position()) == '#') {
            r_.Skip(1);
            while (!r_.AtEnd()) {
                const uint8_t c = r_.U8();
                if (c == '\n' || c == '\r') break;
                token += char(c);
            }
            const size_t first = token.find_first_not_of(" \t"), last = token.find_last_not_of(" \t");
            token.erase(last == std::string::npos ? 0 : last + 1);
            token.erase(0, first == std::string::npos ? 0 : first);
            token.insert(token.begin(), '#');
            return token;
        }
        while (!r_.AtEnd()) {
            const uint8_t c = r_.U8();
            if (!IsAlnum(c)) break;
            token += char(c);
        }
        return token;
    }

    // The next token that is not a comment; comments go to the list when one is given.
    std::string NextValue(TStringList* comments = nullptr) {
        for (;;) {
            std::string token = Next();
            if (token.empty() || token[0] != '#') return token;
            if (comments) comments->Add(token.substr(1));
        }
    }

private:
    TByteReader& r_;
};

std::optional<int64_t> Number(const std::string& token) {
    int64_t value = 0;
    const auto [end, error] = std::from_chars(token.data(), token.data() + token.size(), value);
    if (error != std::errc() || end != token.data() + token.size()) return std::nullopt;
    return value;
}

struct TPxmHeader {
    int magic = 0;  // 1 to 6
    int64_t width = 0, height = 0, maxValue = 1;
};

TPxmHeader ReadHeader(TPxmTokens& tokens, TStringList& comments) {
    TPxmHeader h;
    const std::string magic = tokens.NextValue(&comments);
    if (magic.size() != 2 || magic[0] != 'P' || magic[1] < '1' || magic[1] > '6') throw EInvalidGraphic("not a portable map");
    h.magic = magic[1] - '0';
    auto value = [&](const char* what) {
        const std::optional<int64_t> v = Number(tokens.NextValue(&comments));
        if (!v) throw EInvalidGraphic(std::string("portable map without a valid ") + what);
        return *v;
    };
    h.width = value("width");
    h.height = value("height");
    if (h.magic != 1 && h.magic != 4) {
        h.maxValue = value("maximum");
        if (h.maxValue < 1 || h.maxValue > 65535) throw EInvalidGraphic("portable map maximum out of range");
    }
    if (h.width <= 0 || h.height <= 0) throw EInvalidGraphic("portable map size is empty");
    return h;
}

// A sample scaled from 0..maxValue to 0..top; values above the maximum count as the maximum.
int64_t Scaled(int64_t value, int64_t maxValue, int64_t top) { return std::min(value, maxValue) * top / maxValue; }

class TPxmReader {
public:
    TPxmReader(TByteReader& r, TPxmTokens& tokens, const TPxmHeader& h, TKVBitmap& bitmap, TKVProgressRec& progress)
        : r_(r), tokens_(tokens), h_(h), bitmap_(bitmap), progress_(progress) {}

    void Read(bool native) {
        // Sizes are checked as read, before any arithmetic on them.
        CheckPictureSize(h_.width, h_.height, 24, -1);
        width_ = int(h_.width);
        height_ = int(h_.height);
        const bool wide = h_.maxValue > 255;
        const int samples = h_.magic == 3 || h_.magic == 6 ? 3 : 1;
        // Raw rows must all be present; text needs at least one byte per sample.
        const int64_t rowBytes = h_.magic == 4 ? (h_.width + 7) / 8 : h_.width * samples * (wide ? 2 : 1);
        const bool raw = h_.magic >= 4;
        if (raw ? rowBytes * h_.height > r_.Remaining() : h_.width * h_.height * samples > r_.Remaining())
            throw EShortData("portable map data is cut short");

        const bool deep = h_.magic == 6 && wide && native;
        bitmap_.Allocate(width_, height_, h_.magic == 1 || h_.magic == 4 ? kv1Bit : deep ? kvRGB48 : kv24RGB);
        StartProgress(progress_, height_);
        std::vector<int64_t> values(size_t(h_.width) * samples);
        for (int y = 0; y < height_ && !progress_.Aborted(); ++y) {
            TKVAccessScope writing(bitmap_, kvaWrite);
            uint8_t* out = bitmap_.GetScanline(y);
            if (h_.magic == 1) {
                ReadPlainBits(out);
            } else if (h_.magic == 4) {
                const auto in = r_.Bytes(rowBytes);
                for (int64_t i = 0; i < rowBytes; ++i) out[i] = uint8_t(~in[size_t(i)]);
            } else {
                ReadSamples(values, raw, wide);
                if (deep) StoreDeep(values, out);
                else StoreRGB(values, samples, out);
            }
            progress_.Report(y);
        }
    }

private:
    void ReadPlainBits(uint8_t* out) {
        std::memset(out, 0, size_t((width_ + 7) / 8));
        for (int x = 0; x < width_;) {
            const uint8_t c = r_.U8();  // short data ends the picture with an error
            if (c == '0' || c == '1') KVSetBit(out, x++, c == '0');
        }
    }

    void ReadSamples(std::vector<int64_t>& values, bool raw, bool wide) {
        for (int64_t& v : values) {
            if (raw) {
                v = wide ? r_.U16BE() : r_.U8();
                continue;
            }
            const std::string token = tokens_.NextValue();
            if (token.empty()) throw EShortData("portable map data is cut short");
            v = std::max<int64_t>(Number(token).value_or(0), 0);
        }
    }

    void StoreRGB(const std::vector<int64_t>& values, int samples, uint8_t* out) {
        for (int x = 0; x < width_; ++x) {
            const int64_t* v = values.data() + int64_t(x) * samples;
            const auto red = uint8_t(Scaled(v[0], h_.maxValue, 255));
            out[3 * x + 2] = red;
            out[3 * x + 1] = samples == 3 ? uint8_t(Scaled(v[1], h_.maxValue, 255)) : red;
            out[3 * x] = samples == 3 ? uint8_t(Scaled(v[2], h_.maxValue, 255)) : red;
        }
    }

    void StoreDeep(const std::vector<int64_t>& values, uint8_t* out) {
        for (int x = 0; x < width_; ++x) {
            const TKVRGB48 p{uint16_t(Scaled(values[size_t(3 * x)], h_.maxValue, 65535)),
                             uint16_t(Scaled(values[size_t(3 * x + 1)], h_.maxValue, 65535)),
                             uint16_t(Scaled(values[size_t(3 * x + 2)], h_.maxValue, 65535))};
            std::memcpy(out + 6 * x, &p, 6);
        }
    }

    TByteReader& r_;
    TPxmTokens& tokens_;
    const TPxmHeader& h_;
    TKVBitmap& bitmap_;
    TKVProgressRec& progress_;
    int width_ = 0, height_ = 0;
};


void WritePxm(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, TKVProgressRec& progress) {
    if (bitmap.IsEmpty()) throw EInvalidGraphic("no picture to write");
    const TKVPixelFormat format = bitmap.GetPixelFormat();
    const int bps = params.BitsPerSample, spp = params.SamplesPerPixel;
    enum { Bits, Gray, Wide, Deep, Color } kind;
    if ((bps == 1 && spp == 1) || format == kv1Bit) kind = Bits;
    else if (bps == 8 && spp == 1) kind = Gray;
    else if (bps == 16 && spp == 3 && format == kv24RGB) kind = Wide;
    else if (format == kvRGB48) kind = Deep;
    else if ((bps == 8 && spp == 3) || format == kv24RGB) kind = Color;
    else throw EInvalidGraphic("portable map options not supported");

    const int width = bitmap.GetWidth(), height = bitmap.GetHeight();
    std::string header = kind == Bits ? "P4 " : kind == Gray ? "P5 " : "P6 ";
    for (int i = 0; i < params.PxmComments.Count(); ++i) {
        std::string line = params.PxmComments.Strings(i);
        std::replace_if(line.begin(), line.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
        header += "\n# " + line + "\n";
    }
    header += std::to_string(width) + " " + std::to_string(height);
    header += kind == Bits ? "" : kind == Gray || kind == Color ? " 255" : " 65535";
    header += "\n";
    stream.WriteBuffer(header.data(), int64_t(header.size()));

    std::unique_ptr<TKVBitmap> oneBit = kind == Bits && format != kv1Bit ? OneBitCopy(bitmap) : nullptr;
    TKVBitmap& source = oneBit ? *oneBit : bitmap;
    TKVAccessScope reading(source, kvaRead);
    StartProgress(progress, height);
    std::string row;
    std::vector<uint8_t> colors;
    for (int y = 0; y < height && !progress.Aborted(); ++y) {
        row.clear();
        if (kind == Bits) {
            const uint8_t* in = source.GetScanline(y);
            for (int i = 0; i < (width + 7) / 8; ++i) row += char(~in[i]);
        } else if (kind == Deep) {
            const uint8_t* in = source.GetScanline(y);
            for (int x = 0; x < width; ++x) {
                TKVRGB48 p;
                std::memcpy(&p, in + 6 * x, 6);
                PutU16BE(row, p.r), PutU16BE(row, p.g), PutU16BE(row, p.b);
            }
        } else if (kind == Gray) {
            // Gray through the row colour converter, so that colour management applies.
            for (int x = 0; x < width; ++x) {
                const TKVRGB c = source.GetPixelRGB(x, y);
                colors.insert(colors.end(), {c.b, c.g, c.r});
            }
            row.resize(size_t(width));
            KVColorConvert.load()(colors.data(), kvICC_BGR, reinterpret_cast<uint8_t*>(row.data()), &params, width, kvccGray);
            colors.clear();
        } else {
            for (int x = 0; x < width; ++x) {
                const TKVRGB c = source.GetPixelRGB(x, y);
                if (kind == Wide) PutU16BE(row, c.r * 257u), PutU16BE(row, c.g * 257u), PutU16BE(row, c.b * 257u);
                else row += {char(c.r), char(c.g), char(c.b)};
            }
        }
        stream.WriteBuffer(row.data(), int64_t(row.size()));
        progress.Report(y);
    }
}

constexpr int64_t DetectionBytes = 64 * 1024;

}  // namespace

bool IsPXMStream(TStream& stream) {
    const int64_t start = stream.Position();
    bool found = false;
    try {
        const std::vector<uint8_t> bytes = ReadStreamRest(stream, DetectionBytes);
        TByteReader r(bytes.data(), int64_t(bytes.size()));
        TPxmTokens tokens(r);
        std::vector<std::string> values;
        for (int read = 0; read < 501 && values.size() < 3; ++read) {
            const std::string token = tokens.Next();
            if (token.empty()) break;
            if (token[0] != '#') values.push_back(token);
        }
        found = values.size() == 3 && values[0].size() == 2 && values[0][0] == 'P' && values[0][1] >= '1' &&
                values[0][1] <= '6' && Number(values[1]).value_or(0) > 0 && Number(values[2]).value_or(0) > 0;
    } catch (const Exception&) {
    }
    stream.SetPosition(start);
    return found;
}

void ReadPXMStream(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, bool paramsOnly, TKVProgressRec& progress) {
    const int64_t start = stream.Position();
    RunDriver(progress, [&] {
        const std::vector<uint8_t> bytes = ReadStreamRest(stream);
        TByteReader r(bytes.data(), int64_t(bytes.size()));
        TPxmTokens tokens(r);
        params.PxmComments.Clear();
        const TPxmHeader h = ReadHeader(tokens, params.PxmComments);
        params.ColorMap.clear();
        params.Width = int(std::min<int64_t>(h.width, INT32_MAX));
        params.Height = int(std::min<int64_t>(h.height, INT32_MAX));
        params.SetDpiX(DefaultDpiX);
        params.SetDpiY(DefaultDpiY);
        params.BitsPerSample = h.magic == 1 || h.magic == 4 ? 1 : h.magic == 6 && h.maxValue > 255 ? 16 : 8;
        params.SamplesPerPixel = h.magic == 3 || h.magic == 6 ? 3 : 1;
        if (paramsOnly) return;
        TPxmReader(r, tokens, h, bitmap, progress).Read(params.IsNativePixelFormat);
        stream.SetPosition(start + r.Position());
    });
}

void WritePXMStream(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, TKVProgressRec& progress) {
    RunDriver(progress, [&] { WritePxm(stream, bitmap, params, progress); });
}
