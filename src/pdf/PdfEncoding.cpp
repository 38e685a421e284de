#include "PdfEncoding.h"

#include <zlib.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <cmath>

#include "PdfSecurity.h"
#include "platform/CodePages.h"
#include "platform/Exception.h"

std::string FormatNumber(double value) {
    char buffer[64];
    auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 3);
    if (error != std::errc()) return "0";
    std::string text(buffer, end);
    while (text.back() == '0') text.pop_back();
    if (text.back() == '.') text.pop_back();
    if (text == "-0") text = "0";
    return text;
}

namespace {

// The two ASCII85 digits of every number below 85 * 85, so a group takes two divisions, not five.
const std::array<char, 2 * 85 * 85>& Ascii85Pairs() {
    static const auto pairs = [] {
        std::array<char, 2 * 85 * 85> table{};
        for (int n = 0; n < 85 * 85; ++n) {
            table[size_t(2 * n)] = static_cast<char>('!' + n / 85);
            table[size_t(2 * n + 1)] = static_cast<char>('!' + n % 85);
        }
        return table;
    }();
    return pairs;
}

inline uint32_t BigEndian32(const uint8_t* bytes) {
    uint32_t value;
    std::memcpy(&value, bytes, 4);
    return __builtin_bswap32(value);
}

// The five digits of a group, most significant first.
inline void Ascii85Group(uint32_t value, char* digits, const char* pairs) {
    const uint32_t low = value % 7225, high = value / 7225;
    digits[0] = static_cast<char>('!' + high / 7225);
    std::memcpy(digits + 1, pairs + 2 * (high % 7225), 2);
    std::memcpy(digits + 3, pairs + 2 * low, 2);
}

}  // namespace

void Ascii85Encode(const uint8_t* data, size_t size, std::string& out) {
    const char* pairs = Ascii85Pairs().data();
    // Written through a pointer into room made beforehand: pictures run to many megabytes.
    const size_t start = out.size();
    out.resize(start + (size + 3) / 4 * 5 + 2);
    char* p = out.data() + start;
    size_t i = 0;
    for (; i + 4 <= size; i += 4) {
        const uint32_t value =
            uint32_t(data[i]) << 24 | uint32_t(data[i + 1]) << 16 | uint32_t(data[i + 2]) << 8 | data[i + 3];
        if (value == 0) {
            *p++ = 'z';
        } else {
            Ascii85Group(value, p, pairs);
            p += 5;
        }
    }
    if (const size_t rest = size - i) {
        uint32_t value = 0;
        for (size_t k = 0; k < 4; ++k) value = value << 8 | (k < rest ? data[i + k] : 0);
        char digits[5];
        Ascii85Group(value, digits, pairs);
        std::memcpy(p, digits, rest + 1);
        p += rest + 1;
    }
    *p++ = '~';
    *p++ = '>';
    out.resize(size_t(p - out.data()));
}

TAscii85Writer::TAscii85Writer(std::string& block, TSink sink) : block_(block), sink_(std::move(sink)) {}

void TAscii85Writer::Flush() {
    if (used_ == 0) return;
    sink_(block_.data(), used_);
    textSize_ += int64_t(used_);
    used_ = 0;
}

void TAscii85Writer::Write(const uint8_t* data, size_t size) {
    while (pendingCount_ > 0 && size > 0) {
        pending_[pendingCount_++] = *data++;
        --size;
        if (pendingCount_ == 4) {
            pendingCount_ = 0;
            Write(pending_, 4);
        }
    }
    const char* pairs = Ascii85Pairs().data();
    while (size >= 4) {
        if (block_.size() - used_ < 5) Flush();
        // As many groups as the block has room for, in one tight loop.
        const size_t groups = std::min(size / 4, (block_.size() - used_) / 5);
        char* p = block_.data() + used_;
        // Every group first takes five places, so the groups do not wait on one another; zero
        // groups, rare in compressed data, are then squeezed to their "z".
        bool anyZero = false;
        for (size_t g = 0; g < groups; ++g) {
            const uint32_t value = BigEndian32(data + 4 * g);
            Ascii85Group(value, p + 5 * g, pairs);
            anyZero |= value == 0;
        }
        if (anyZero) {
            char* out = p;
            for (size_t g = 0; g < groups; ++g) {
                if (BigEndian32(data + 4 * g) == 0) {
                    *out++ = 'z';
                } else {
                    std::memmove(out, p + 5 * g, 5);
                    out += 5;
                }
            }
            p = out;
        } else {
            p += 5 * groups;
        }
        data += 4 * groups;
        used_ = size_t(p - block_.data());
        size -= groups * 4;
    }
    while (size > 0) {
        pending_[pendingCount_++] = *data++;
        --size;
    }
}

void TAscii85Writer::Finish() {
    if (used_ + 7 > block_.size()) Flush();
    if (pendingCount_ > 0) {
        uint32_t value = 0;
        for (size_t k = 0; k < 4; ++k) value = value << 8 | (k < pendingCount_ ? pending_[k] : 0);
        char digits[5];
        Ascii85Group(value, digits, Ascii85Pairs().data());
        std::memcpy(block_.data() + used_, digits, pendingCount_ + 1);
        used_ += pendingCount_ + 1;
        pendingCount_ = 0;
    }
    block_[used_++] = '~';
    block_[used_++] = '>';
    Flush();
}

struct TDeflater::TState {
    z_stream stream{};
    std::vector<uint8_t> out = std::vector<uint8_t>(1 << 16);
};

TDeflater::TDeflater(TSink sink) : sink_(std::move(sink)), state_(std::make_unique<TState>()) {
    if (deflateInit(&state_->stream, Z_DEFAULT_COMPRESSION) != Z_OK) throw EOutOfMemory("Data cannot be compressed");
}

TDeflater::~TDeflater() { deflateEnd(&state_->stream); }

void TDeflater::Run(int flush) {
    z_stream& z = state_->stream;
    int result = Z_OK;
    do {
        z.next_out = state_->out.data();
        z.avail_out = static_cast<uInt>(state_->out.size());
        result = deflate(&z, flush);
        if (result == Z_STREAM_ERROR) throw EOutOfMemory("Data cannot be compressed");
        sink_(state_->out.data(), state_->out.size() - z.avail_out);
    } while (z.avail_out == 0 || (flush == Z_FINISH && result != Z_STREAM_END));
}

void TDeflater::Write(const uint8_t* data, size_t size) {
    z_stream& z = state_->stream;
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = static_cast<uInt>(size);
    Run(Z_NO_FLUSH);
}

void TDeflater::Finish() {
    state_->stream.avail_in = 0;
    Run(Z_FINISH);
}

std::vector<uint8_t> ZlibCompress(const uint8_t* data, size_t size) {
    uLongf length = compressBound(static_cast<uLong>(size));
    std::vector<uint8_t> out(length);
    if (compress2(out.data(), &length, data, static_cast<uLong>(size), Z_DEFAULT_COMPRESSION) != Z_OK)
        throw EOutOfMemory("Data cannot be compressed");
    out.resize(length);
    return out;
}

std::string HexString(const uint8_t* data, size_t size) {
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string text = "<";
    for (size_t i = 0; i < size; ++i) {
        text += Digits[data[i] >> 4];
        text += Digits[data[i] & 15];
    }
    return text + ">";
}

std::string ToCodePage(std::string_view utf8, int codePage) {
    try {
        return Utf8ToCodePage(utf8, codePage);
    } catch (const ECodePageError&) {
    }
    // Character by character, so one foreign character does not lose the rest of the text.
    std::string out;
    size_t i = 0;
    while (i < utf8.size()) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        length = std::min(length, utf8.size() - i);
        try {
            out += Utf8ToCodePage(utf8.substr(i, length), codePage);
        } catch (const ECodePageError&) {
            out += '?';
        }
        i += length;
    }
    return out;
}

namespace {

// The characters of PDFDocEncoding's codes 0x18-0x1F and 0x80-0xA0 that differ from Latin-1.
struct TDocCode {
    char32_t character;
    uint8_t code;
};
constexpr TDocCode DocEncodingSpecials[] = {
    {0x02D8, 0x18}, {0x02C7, 0x19}, {0x02C6, 0x1A}, {0x02D9, 0x1B}, {0x02DD, 0x1C}, {0x02DB, 0x1D},
    {0x02DA, 0x1E}, {0x02DC, 0x1F}, {0x2022, 0x80}, {0x2020, 0x81}, {0x2021, 0x82}, {0x2026, 0x83},
    {0x2014, 0x84}, {0x2013, 0x85}, {0x0192, 0x86}, {0x2044, 0x87}, {0x2039, 0x88}, {0x203A, 0x89},
    {0x2212, 0x8A}, {0x2030, 0x8B}, {0x201E, 0x8C}, {0x201C, 0x8D}, {0x201D, 0x8E}, {0x2018, 0x8F},
    {0x2019, 0x90}, {0x201A, 0x91}, {0x2122, 0x92}, {0xFB01, 0x93}, {0xFB02, 0x94}, {0x0141, 0x95},
    {0x0152, 0x96}, {0x0160, 0x97}, {0x0178, 0x98}, {0x017D, 0x99}, {0x0131, 0x9A}, {0x0142, 0x9B},
    {0x0153, 0x9C}, {0x0161, 0x9D}, {0x017E, 0x9E}, {0x20AC, 0xA0},
};

// The PDFDocEncoding code of a character, or -1 when it has none.
int DocEncodingCode(char32_t c) {
    if (c == '\t' || c == '\n' || c == '\r' || (c >= 0x20 && c <= 0x7E) || (c >= 0xA1 && c <= 0xFF && c != 0xAD))
        return int(c);
    for (const TDocCode& special : DocEncodingSpecials)
        if (special.character == c) return special.code;
    return -1;
}

// The characters of UTF-8 text; a malformed sequence gives U+FFFD and moves on by one byte.
std::u32string DecodeUtf8(std::string_view utf8) {
    std::u32string text;
    size_t i = 0;
    while (i < utf8.size()) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const size_t length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 0;
        char32_t c = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
        bool valid = length > 0 && i + length <= utf8.size();
        for (size_t k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(utf8[i + k]);
            valid = (next & 0xC0) == 0x80;
            c = c << 6 | (next & 0x3F);
        }
        const char32_t least = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
        if (valid && length > 1 && (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))) valid = false;
        text += valid ? c : U'\uFFFD';
        i += valid ? length : 1;
    }
    return text;
}

}  // namespace

std::string TextStringBytes(std::string_view utf8) {
    const std::u32string text = DecodeUtf8(utf8);
    std::string bytes;
    bool encodable = true;
    for (const char32_t c : text) {
        const int code = DocEncodingCode(c);
        if (code < 0) {
            encodable = false;
            break;
        }
        bytes += static_cast<char>(code);
    }
    if (encodable) return bytes;
    bytes = "\xFE\xFF";
    auto unit = [&](uint32_t u) {
        bytes += static_cast<char>(u >> 8);
        bytes += static_cast<char>(u & 0xFF);
    };
    for (const char32_t c : text) {
        if (c < 0x10000) {
            unit(c);
        } else {
            unit(0xD800 + ((c - 0x10000) >> 10));
            unit(0xDC00 + ((c - 0x10000) & 0x3FF));
        }
    }
    return bytes;
}

namespace {

// Scanning left to right, a right-to-left character goes in front of the result, and a run of
// other characters goes in front in reading order.
std::string ReorderRightToLeft(const std::string& bytes, const TRtlTable& rtl) {
    std::string result;
    size_t i = 0;
    while (i < bytes.size()) {
        if (rtl[static_cast<unsigned char>(bytes[i])]) {
            result.insert(result.begin(), bytes[i]);
            ++i;
            continue;
        }
        size_t end = i;
        while (end < bytes.size() && !rtl[static_cast<unsigned char>(bytes[end])]) ++end;
        result.insert(0, bytes, i, end - i);
        i = end;
    }
    return result;
}

}  // namespace

std::string EncodeText(std::string bytes, const TRtlTable* rtl, int objectNumber, const TPdfSecurity* security) {
    if (rtl) bytes = ReorderRightToLeft(bytes, *rtl);
    if (objectNumber > 0 && security) security->Encrypt(bytes, objectNumber);
    std::string text = "(";
    text.reserve(bytes.size() + 2);
    for (const char c : bytes) {
        switch (c) {
            case '\b': text += "\\b"; break;
            case '\t': text += "\\t"; break;
            case '\n': text += "\\n"; break;
            case '\f': text += "\\f"; break;
            case '\r': text += "\\r"; break;
            case '(':
            case ')':
            case '\\':
                text += '\\';
                text += c;
                break;
            default: text += c;
        }
    }
    return text + ")";
}
