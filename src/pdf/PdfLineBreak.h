#pragma once
// Line breaking of text boxes: 8-bit text split into the lines that fit a width.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "PdfEncoding.h"

struct TLineMetrics {
    // Glyph widths per 8-bit code, in pixels.
    const std::vector<int>& glyphWidths;
    // The width in the length unit of `length` characters whose glyph widths sum to `pixels`.
    std::function<int(int64_t pixels, size_t length)> width;
    // The right-to-left characters of the font; null for a left-to-right font.
    const TRtlTable* rtl = nullptr;
};

struct TBrokenLines {
    std::vector<std::string> lines;
    std::vector<size_t> starts;  // where each line begins in the text
    size_t consumed = 0;         // characters used by the lines
};

// At most maxLines lines no wider than `available`. A carriage return, a line feed or both end a
// line and are dropped; a longer piece ends after its last break character (blank ! * + , - . / :
// ; = ?) that fits, else before the first character that does not fit, but takes one at least.
TBrokenLines BreakLines(const std::string& text, int available, size_t maxLines, const TLineMetrics& metrics);
