#pragma once
// Byte-level encodings of the PDF writer.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class TPdfSecurity;

// Flags of the codes whose characters run right to left.
using TRtlTable = std::array<bool, 256>;

// At most three decimals, a point as separator, no trailing zeros: 0.5, 2, 0.333.
std::string FormatNumber(double value);
// Appends the ASCII85 form of the bytes and the end marker "~>", without line breaks.
void Ascii85Encode(const uint8_t* data, size_t size, std::string& out);
// ASCII85 of data given in pieces, handed on in blocks of text to a sink that may change them
// (encrypt them) in place; Finish adds the tail and the end marker "~>". The text is gathered in
// the caller's block, whose size (at least 8) is kept, so a block can serve writer after writer.
class TAscii85Writer {
public:
    using TSink = std::function<void(char* text, size_t size)>;
    TAscii85Writer(std::string& block, TSink sink);
    void Write(const uint8_t* data, size_t size);
    void Finish();
    // The text handed on so far.
    int64_t TextSize() const { return textSize_; }

private:
    void Flush();

    std::string& block_;
    TSink sink_;
    size_t used_ = 0;
    uint8_t pending_[4] = {};
    size_t pendingCount_ = 0;
    int64_t textSize_ = 0;
};
// zlib at its default level, with header and checksum, of data given in pieces; the compressed
// bytes go to a sink as they come.
class TDeflater {
public:
    using TSink = std::function<void(const uint8_t* data, size_t size)>;
    explicit TDeflater(TSink sink);
    ~TDeflater();
    TDeflater(const TDeflater&) = delete;
    TDeflater& operator=(const TDeflater&) = delete;
    void Write(const uint8_t* data, size_t size);
    void Finish();

private:
    void Run(int flush);

    TSink sink_;
    struct TState;
    std::unique_ptr<TState> state_;
};
// zlib at its default level, with header and checksum.
std::vector<uint8_t> ZlibCompress(const uint8_t* data, size_t size);
// "<", two upper-case hexadecimal digits per byte, ">".
std::string HexString(const uint8_t* data, size_t size);
// UTF-8 text in a Windows code page; a character the code page lacks becomes "?".
std::string ToCodePage(std::string_view utf8, int codePage);
// The bytes of a text string (document information, outline titles): PDFDocEncoding when it holds
// every character, else UTF-16BE after a byte-order mark, so no reader's code page is assumed.
std::string TextStringBytes(std::string_view utf8);
// The string form of 8-bit text: right-to-left runs reordered when a table is given, encrypted
// with the object's key when the object number is above 0 and a protected security handler is
// given, escaped and enclosed in parentheses.
std::string EncodeText(std::string bytes, const TRtlTable* rtl, int objectNumber, const TPdfSecurity* security);
