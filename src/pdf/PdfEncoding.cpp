#include "PdfEncoding.h"

#include <zlib.h>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <charconv>
#include <cstring>
#include <cmath>

#include "PdfSecurity.h"
#include "platform/CodePages.h"
#include "platform/Exception.h"
#include "platform/PdfString.h"

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

#if defined(__x86_64__)
// ASCII85 takes much of the time of a JPEG file passed through; processors with AVX2 encode eight
// groups in one go.
__attribute__((target("avx2"), always_inline)) inline __m256i DivideBy85(__m256i x) {
    // Exact for every 32-bit x: 85 x 0xC0C0C0C1 is 2^38 + 21, and 21 x 2^32 < 2^38.
    const __m256i magic = _mm256_set1_epi32(int(0xC0C0C0C1u));
    const __m256i even = _mm256_srli_epi64(_mm256_mul_epu32(x, magic), 38);
    const __m256i odd = _mm256_srli_epi64(_mm256_mul_epu32(_mm256_srli_epi64(x, 32), magic), 38);
    return _mm256_blend_epi32(even, _mm256_slli_epi64(odd, 32), 0xAA);
}

// Eight groups at once, 40 digits, zero groups as "!!!!!"; four groups per 128-bit half. Returns
// the groups that are zero, as a mask.
__attribute__((target("avx2"), always_inline)) inline __m256i Ascii85EightGroups(const uint8_t* data, char* out) {
    const __m256i byteSwap = _mm256_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12, 3, 2, 1, 0, 7, 6,
                                              5, 4, 11, 10, 9, 8, 15, 14, 13, 12);
    __m256i value = _mm256_shuffle_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(data)), byteSwap);
    __m256i digits[5];
    for (int k = 4; k > 0; --k) {
        const __m256i quotient = DivideBy85(value);
        digits[k] = _mm256_sub_epi32(value, _mm256_mullo_epi32(quotient, _mm256_set1_epi32(85)));
        value = quotient;
    }
    digits[0] = value;
    // Each 32-bit lane: the first four digits of its group as bytes; the fifth digits apart.
    const __m256i heads = _mm256_add_epi8(
        _mm256_or_si256(_mm256_or_si256(digits[0], _mm256_slli_epi32(digits[1], 8)),
                        _mm256_or_si256(_mm256_slli_epi32(digits[2], 16), _mm256_slli_epi32(digits[3], 24))),
        _mm256_set1_epi8('!'));
    const __m256i tails = _mm256_add_epi8(digits[4], _mm256_set1_epi8('!'));
    // Per half: 16 bytes g0 t0 g1 t1 g2 t2 g3(first byte), then 4 bytes g3(rest) t3.
    const __m256i firstHeads = _mm256_setr_epi8(0, 1, 2, 3, -1, 4, 5, 6, 7, -1, 8, 9, 10, 11, -1, 12, 0, 1, 2, 3, -1,
                                                4, 5, 6, 7, -1, 8, 9, 10, 11, -1, 12);
    const __m256i firstTails = _mm256_setr_epi8(-1, -1, -1, -1, 0, -1, -1, -1, -1, 4, -1, -1, -1, -1, 8, -1, -1, -1,
                                                -1, -1, 0, -1, -1, -1, -1, 4, -1, -1, -1, -1, 8, -1);
    const __m256i restHeads = _mm256_setr_epi8(13, 14, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 13, 14,
                                               15, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m256i restTails = _mm256_setr_epi8(-1, -1, -1, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                                               -1, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m256i first =
        _mm256_or_si256(_mm256_shuffle_epi8(heads, firstHeads), _mm256_shuffle_epi8(tails, firstTails));
    const __m256i rest = _mm256_or_si256(_mm256_shuffle_epi8(heads, restHeads), _mm256_shuffle_epi8(tails, restTails));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(first));
    const uint32_t restLow = uint32_t(_mm256_extract_epi32(rest, 0));
    std::memcpy(out + 16, &restLow, 4);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 20), _mm256_extracti128_si256(first, 1));
    const uint32_t restHigh = uint32_t(_mm256_extract_epi32(rest, 4));
    std::memcpy(out + 36, &restHigh, 4);
    return _mm256_cmpeq_epi32(_mm256_or_si256(_mm256_or_si256(digits[0], digits[1]),
                                              _mm256_or_si256(_mm256_or_si256(digits[2], digits[3]), digits[4])),
                              _mm256_setzero_si256());
}

// Whole blocks of eight groups; returns how many groups were done and notes a zero group.
__attribute__((target("avx2"))) size_t Ascii85GroupsAvx2(const uint8_t* data, size_t groups, char* out, bool& anyZero) {
    __m256i zeros = _mm256_setzero_si256();
    size_t g = 0;
    for (; g + 8 <= groups; g += 8) zeros = _mm256_or_si256(zeros, Ascii85EightGroups(data + 4 * g, out + 5 * g));
    anyZero |= !_mm256_testz_si256(zeros, zeros);
    return g;
}

bool HasAvx2() {
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}
#endif

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
        size_t g = 0;
#if defined(__x86_64__)
        if (HasAvx2()) g = Ascii85GroupsAvx2(data, groups, p, anyZero);
#endif
        for (; g < groups; ++g) {
            const uint32_t value = BigEndian32(data + 4 * g);
            Ascii85Group(value, p + 5 * g, pairs);
            anyZero |= value == 0;
        }
        if (anyZero) {
            size_t k = 0;
            while (BigEndian32(data + 4 * k) != 0) ++k;
            char* out = p + 5 * k;
            for (; k < groups; ++k) {
                if (BigEndian32(data + 4 * k) == 0) {
                    *out++ = 'z';
                } else {
                    char digits[5];  // the places may overlap
                    std::memcpy(digits, p + 5 * k, 5);
                    std::memcpy(out, digits, 5);
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
    std::string text;
    text.reserve(bytes.size() + 2);
    AppendPdfLiteralString(text, bytes);
    return text;
}
