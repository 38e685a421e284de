#include "CodePages.h"

#include <iconv.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <optional>
#include <unordered_map>

#include "Exception.h"

// The single-byte code pages are converted through tables built from iconv one byte at a time:
// iconv's own CP1255/CP1258 decoders merge a letter and a following combining mark into one
// precomposed character, and its encoders split precomposed characters the code page lacks, so a
// text would not come back as written. With the tables every character maps to exactly one byte.
// CP932 goes through iconv, character by character, refusing the one-way mappings iconv makes
// (U+00A5 to "\", U+2014 to the horizontal bar) since they would not come back either.

namespace {

constexpr int SingleByteCodePages[] = {874, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258};
constexpr int MultiByteCodePage = 932;

std::string IconvName(int codePage) { return "CP" + std::to_string(codePage); }

std::string Hex(uint32_t value, int minDigits) {
    char digits[8];
    auto end = std::to_chars(digits, digits + sizeof digits, value, 16).ptr;
    std::string text(digits, end);
    for (char& c : text)
        if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
    if (static_cast<int>(text.size()) < minDigits) text.insert(0, minDigits - text.size(), '0');
    return text;
}

[[noreturn]] void RaiseUnmappable(char32_t c, int codePage) {
    throw ECodePageError("The character U+" + Hex(c, 4) + " cannot be written in code page " +
                         std::to_string(codePage));
}

[[noreturn]] void RaiseInvalidByte(std::string_view bytes, size_t offset, int codePage) {
    throw ECodePageError("The byte 0x" + Hex(static_cast<uint8_t>(bytes[offset]), 2) + " at offset " +
                         std::to_string(offset) + " is not text of code page " + std::to_string(codePage));
}

class TIconv {
public:
    TIconv(const std::string& to, const std::string& from) : cd_(iconv_open(to.c_str(), from.c_str())) {
        if (cd_ == reinterpret_cast<iconv_t>(-1))
            throw ECodePageError("The conversion from " + from + " to " + to + " is not available");
    }
    ~TIconv() { iconv_close(cd_); }
    TIconv(const TIconv&) = delete;
    TIconv& operator=(const TIconv&) = delete;

    // The whole input converted, or the offset of the first input byte that could not be.
    struct Result {
        std::string output;
        std::optional<size_t> failedAt;
    };
    Result Convert(std::string_view input) {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        Result result;
        char* in = const_cast<char*>(input.data());
        size_t inLeft = input.size();
        char buffer[256];
        // A null input at the end flushes what a stateful decoder still holds back.
        for (bool flushed = false; !flushed;) {
            char* out = buffer;
            size_t outLeft = sizeof buffer;
            flushed = inLeft == 0;
            const size_t rc = flushed ? iconv(cd_, nullptr, nullptr, &out, &outLeft)
                                      : iconv(cd_, &in, &inLeft, &out, &outLeft);
            const int error = errno;
            result.output.append(buffer, out);
            if (rc != static_cast<size_t>(-1)) continue;
            if (error != E2BIG) {
                result.failedAt = input.size() - inLeft;
                return result;
            }
            flushed = false;
        }
        return result;
    }

private:
    iconv_t cd_;
};

struct TSingleByteTable {
    std::array<std::optional<char32_t>, 256> toUnicode;
    std::unordered_map<char32_t, uint8_t> fromUnicode;
};

char32_t Utf32LeToChar(const std::string& bytes) {
    return static_cast<char32_t>(static_cast<uint8_t>(bytes[0]) | static_cast<uint8_t>(bytes[1]) << 8 |
                                 static_cast<uint8_t>(bytes[2]) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(bytes[3])) << 24);
}

TSingleByteTable BuildTable(int codePage) {
    TSingleByteTable table;
    TIconv decoder("UTF-32LE", IconvName(codePage));
    for (int b = 0; b < 256; ++b) {
        const char byte = static_cast<char>(b);
        auto result = decoder.Convert(std::string_view(&byte, 1));
        if (result.failedAt || result.output.size() != 4) continue;
        const char32_t c = Utf32LeToChar(result.output);
        table.toUnicode[b] = c;
        table.fromUnicode.emplace(c, static_cast<uint8_t>(b));
    }
    return table;
}

const TSingleByteTable* SingleByteTable(int codePage) {
    static const auto tables = [] {
        std::unordered_map<int, TSingleByteTable> all;
        for (int cp : SingleByteCodePages) all.emplace(cp, BuildTable(cp));
        return all;
    }();
    auto it = tables.find(codePage);
    return it == tables.end() ? nullptr : &it->second;
}

void CheckSupported(int codePage) {
    if (!IsCodePageSupported(codePage))
        throw ECodePageError("Code page " + std::to_string(codePage) + " is not supported");
}

// The code point starting at offset, advancing offset past it; raises on malformed UTF-8
// (overlong forms, surrogates and values beyond U+10FFFF included).
char32_t NextChar(std::string_view utf8, size_t& offset) {
    const size_t start = offset;
    const auto invalid = [&]() -> ECodePageError {
        return ECodePageError("The text is not valid UTF-8 at offset " + std::to_string(start));
    };
    const uint8_t lead = static_cast<uint8_t>(utf8[offset++]);
    if (lead < 0x80) return lead;
    int length;
    char32_t c;
    if (lead >= 0xC2 && lead <= 0xDF) { length = 2; c = lead & 0x1F; }
    else if (lead >= 0xE0 && lead <= 0xEF) { length = 3; c = lead & 0x0F; }
    else if (lead >= 0xF0 && lead <= 0xF4) { length = 4; c = lead & 0x07; }
    else throw invalid();
    if (utf8.size() - start < static_cast<size_t>(length)) throw invalid();
    for (int i = 1; i < length; ++i) {
        const uint8_t next = static_cast<uint8_t>(utf8[offset++]);
        if ((next & 0xC0) != 0x80) throw invalid();
        c = c << 6 | (next & 0x3F);
    }
    constexpr char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < smallest[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) throw invalid();
    return c;
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | c >> 18);
        out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::string EncodeMultiByte(std::string_view utf8, int codePage) {
    TIconv encoder(IconvName(codePage), "UTF-8");
    TIconv decoder("UTF-8", IconvName(codePage));
    std::string bytes;
    for (size_t offset = 0; offset < utf8.size();) {
        const size_t start = offset;
        const char32_t c = NextChar(utf8, offset);
        const std::string_view character = utf8.substr(start, offset - start);
        auto encoded = encoder.Convert(character);
        if (encoded.failedAt || decoder.Convert(encoded.output).output != character) RaiseUnmappable(c, codePage);
        bytes += encoded.output;
    }
    return bytes;
}

}  // namespace

bool IsCodePageSupported(int codePage) {
    return codePage == MultiByteCodePage || SingleByteTable(codePage) != nullptr;
}

std::string Utf8ToCodePage(std::string_view utf8, int codePage) {
    CheckSupported(codePage);
    const TSingleByteTable* table = SingleByteTable(codePage);
    if (!table) return EncodeMultiByte(utf8, codePage);
    std::string bytes;
    bytes.reserve(utf8.size());
    for (size_t offset = 0; offset < utf8.size();) {
        const char32_t c = NextChar(utf8, offset);
        auto it = table->fromUnicode.find(c);
        if (it == table->fromUnicode.end()) RaiseUnmappable(c, codePage);
        bytes += static_cast<char>(it->second);
    }
    return bytes;
}

std::string CodePageToUtf8(std::string_view bytes, int codePage) {
    CheckSupported(codePage);
    const TSingleByteTable* table = SingleByteTable(codePage);
    if (!table) {
        auto decoded = TIconv("UTF-8", IconvName(codePage)).Convert(bytes);
        if (decoded.failedAt) RaiseInvalidByte(bytes, *decoded.failedAt, codePage);
        return decoded.output;
    }
    std::string utf8;
    utf8.reserve(bytes.size());
    for (size_t offset = 0; offset < bytes.size(); ++offset) {
        const auto c = table->toUnicode[static_cast<uint8_t>(bytes[offset])];
        if (!c) RaiseInvalidByte(bytes, offset, codePage);
        AppendUtf8(utf8, *c);
    }
    return utf8;
}
