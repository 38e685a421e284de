#pragma once
// Byte-level encodings of the PDF writer.
#include <array>
#include <cstdint>
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
