// Text box layout: line breaking, alignment and page breaks under a style.
#include <algorithm>
#include <climits>
#include <cmath>

#include "PdfCanvas.h"
#include "PdfFont.h"
#include "PdfLineBreak.h"
#include "PdfStyle.h"

namespace {

int Rounded(double value) { return static_cast<int>(std::nearbyint(value)); }

}  // namespace

int TPdfCanvas::WidthOfPixels(int64_t pixels, size_t length) const {
    return Rounded(pixels * owner_.PixelsToUnit() / 10 + (double(length) - 1) * characterSpacing_);
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

        const TLineMetrics metrics{Widths(font_, PixelsPerEm(std::abs(font_.Size) * 10)),
                                   [this](int64_t pixels, size_t length) { return WidthOfPixels(pixels, length); },
                                   IsRightToLeft(font_) ? &RtlOf(font_) : nullptr};
        const TBrokenLines broken = BreakLines(bytes, right - x, maxLines, metrics);
        const std::vector<std::string>& lines = broken.lines;

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
                if (owner_.Aborted()) return int(bytes.size() - broken.starts[i]);
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
        return int(bytes.size() - broken.consumed);
    });
}
