#include "PdfLineBreak.h"

#include <algorithm>

namespace {

bool IsBreakCharacter(char c) {
    switch (c) {
        case ' ': case '!': case '*': case '+': case ',': case '-': case '.':
        case '/': case ':': case ';': case '=': case '?': return true;
        default: return false;
    }
}

// The length of the next piece of text from `from`: up to a line break, or what fits, cut after a
// break character where there is one. At least one character, so layout always advances.
size_t NextPieceLength(const std::string& text, size_t from, int available, const TLineMetrics& metrics) {
    const size_t lineEnd = text.find_first_of("\r\n", from);
    const size_t length = lineEnd == std::string::npos ? text.size() - from : lineEnd - from + 1;
    auto charAt = [&](size_t position) { return static_cast<unsigned char>(text[from + position - 1]); };

    // i: the first prefix length that is wider than the box.
    int64_t pixels = 0;
    size_t i = 0;
    while (i < length) {
        pixels += metrics.glyphWidths[charAt(i + 1)];
        ++i;
        if (metrics.width(pixels, i) > available) break;
        if (i == length) return length;
    }
    const TRtlTable* rtl = metrics.rtl;
    auto isRtl = [&](size_t position) { return rtl && position >= 1 && position <= length && (*rtl)[charAt(position)]; };
    for (size_t p = i - 1; p >= 2; --p)
        if (IsBreakCharacter(static_cast<char>(charAt(p))) && (!rtl || isRtl(p - 1) || isRtl(p + 1))) return p;
    if (rtl && i >= 2 && isRtl(1) != isRtl(i - 1)) {
        for (size_t q = i - 2; q >= 1; --q)
            if (isRtl(q) != isRtl(i - 1)) return q;
    }
    return std::max<size_t>(i - 1, 1);
}

}  // namespace

TBrokenLines BreakLines(const std::string& text, int available, size_t maxLines, const TLineMetrics& metrics) {
    TBrokenLines result;
    size_t& position = result.consumed;
    while (position < text.size() && result.lines.size() < maxLines) {
        result.starts.push_back(position);
        const size_t length = NextPieceLength(text, position, available, metrics);
        std::string line = text.substr(position, length);
        position += length;
        if (line.back() == '\n') {
            line.pop_back();
        } else if (line.back() == '\r') {
            line.pop_back();
            if (position < text.size() && text[position] == '\n') ++position;
        }
        result.lines.push_back(std::move(line));
    }
    return result;
}
