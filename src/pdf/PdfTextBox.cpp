// Text box layout: line breaking, alignment and page breaks under a style.
#include <algorithm>
#include <climits>
#include <cmath>

#include "PdfCanvas.h"
#include "PdfFont.h"
#include "PdfKalmora.h"
#include "PdfStyle.h"

namespace {

int Rounded(double value) { return static_cast<int>(std::nearbyint(value)); }

bool IsBreakCharacter(char c) {
    switch (c) {
        case ' ': case '!': case '*': case '+': case ',': case '-': case '.':
        case '/': case ':': case ';': case '=': case '?': return true;
        default: return false;
    }
}

}  // namespace

int TPdfCanvas::WidthOfPixels(int64_t pixels, size_t length) const {
    return Rounded(pixels * owner_.PixelsToUnit() / 10 + (double(length) - 1) * characterSpacing_);
}

// The length of the next piece of text, from `from`: up to a line break, or what fits into the
// available width, cut after a break character where there is one. At least one character, so
// layout always advances.
size_t TPdfCanvas::NextPieceLength(const std::string& text, size_t from, int available) {
    const size_t lineEnd = text.find_first_of("\r\n", from);
    const size_t length = lineEnd == std::string::npos ? text.size() - from : lineEnd - from + 1;
    const std::vector<int>& widths = Widths(font_, PixelsPerEm(std::abs(font_.Size) * 10));
    auto charAt = [&](size_t position) { return static_cast<unsigned char>(text[from + position - 1]); };

    // i: the first prefix length that is wider than the box.
    int64_t pixels = 0;
    size_t i = 0;
    while (i < length) {
        pixels += widths[charAt(i + 1)];
        ++i;
        if (WidthOfPixels(pixels, i) > available) break;
        if (i == length) return length;
    }
    const TRtlTable* rtl = IsRightToLeft(font_) ? &RtlOf(font_) : nullptr;
    auto isRtl = [&](size_t position) { return rtl && position >= 1 && position <= length && (*rtl)[charAt(position)]; };
    for (size_t p = i - 1; p >= 2; --p)
        if (IsBreakCharacter(static_cast<char>(charAt(p))) && (!rtl || isRtl(p - 1) || isRtl(p + 1))) return p;
    if (rtl && i >= 2 && isRtl(1) != isRtl(i - 1)) {
        for (size_t q = i - 2; q >= 1; --q)
            if (isRtl(q) != isRtl(i - 1)) return q;
    }
    return std::max<size_t>(i - 1, 1);
}

int TPdfCanvas::TextBox(int x, int y, int right, int bottom, int horzAlign, int vertAlign, const std::string& text) {
    return owner_.Guarded([&]() -> int {
        if (!CheckDocument()) return 0;
        const std::string bytes = FontBytes(text);
        if (bytes.empty()) return 0;
        if (y == 0) y = textY_;
        if (bottom == 0) bottom = owner_.PageHeight();
        const int lineHeight = std::max(1, TextHeight("A") + lineSpacing_);
        const size_t maxLines = currentStyle_ ? SIZE_MAX : size_t(std::max(1, (bottom - y) / lineHeight));

        std::vector<std::string> lines;
        std::vector<size_t> lineStarts;
        size_t position = 0;
        while (position < bytes.size() && lines.size() < maxLines) {
            lineStarts.push_back(position);
            const size_t length = NextPieceLength(bytes, position, right - x);
            std::string line = bytes.substr(position, length);
            position += length;
            if (line.back() == '\n') {
                line.pop_back();
            } else if (line.back() == '\r') {
                line.pop_back();
                if (position < bytes.size() && bytes[position] == '\n') ++position;
            }
            lines.push_back(std::move(line));
        }

        const int blockHeight = int(lines.size()) * lineHeight;
        int top = y;
        if (vertAlign == 1) top = bottom - blockHeight;
        if (vertAlign == 2) top = Rounded(y + (bottom - y - blockHeight) / 2.0);
        textY_ = std::max(top, y);
        const bool rightToLeft = IsRightToLeft(font_);
        for (size_t i = 0; i < lines.size(); ++i) {
            const int width = BytesWidth(lines[i]);
            if (currentStyle_ && textY_ >= owner_.PageHeight() - currentStyle_->BottomMargin() - lineHeight -
                                                currentStyle_->SpaceAfter()) {
                owner_.NewPage();
                if (owner_.aborted_) return int(bytes.size() - lineStarts[i]);
            }
            int lineX = x;
            if (horzAlign == 1) lineX = right - width;
            if (horzAlign == 2) lineX = Rounded(x + (right - x - width) / 2.0);
            if (i == 0 && !DestinationName.empty()) {
                const std::string name = DestinationName;
                DestinationName.clear();
                AddNamedDestination(std::max(lineX, x), textY_, name);
            }
            if (rightToLeft) lineX += width;
            DrawLine(std::max(lineX, x), textY_, lines[i]);
            textY_ += lineHeight;
        }
        textX_ = 0;
        return int(bytes.size() - position);
    });
}
