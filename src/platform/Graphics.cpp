#include "Graphics.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <new>
#include <strings.h>
#include <unordered_map>
#include <utility>

#include "Bmp.h"
#include "Files.h"

// --- Colours

namespace {

// A light desktop scheme; the index is the system colour number.
constexpr std::array<TColor, 31> SystemColors = {
    RGB(200, 200, 200), RGB(0, 0, 0),       RGB(153, 180, 209), RGB(191, 205, 219), RGB(240, 240, 240),
    RGB(255, 255, 255), RGB(100, 100, 100), RGB(0, 0, 0),       RGB(0, 0, 0),       RGB(0, 0, 0),
    RGB(180, 180, 180), RGB(244, 247, 252), RGB(171, 171, 171), RGB(0, 120, 215),   RGB(255, 255, 255),
    RGB(240, 240, 240), RGB(160, 160, 160), RGB(109, 109, 109), RGB(0, 0, 0),       RGB(0, 0, 0),
    RGB(255, 255, 255), RGB(105, 105, 105), RGB(227, 227, 227), RGB(0, 0, 0),       RGB(255, 255, 225),
    RGB(0, 0, 0),       RGB(0, 102, 204),   RGB(185, 209, 234), RGB(215, 228, 242), RGB(0, 120, 215),
    RGB(240, 240, 240),
};

struct ColorName {
    TColor color;
    const char* name;
};

constexpr ColorName ColorNames[] = {
    {clBlack, "clBlack"},
    {clMaroon, "clMaroon"},
    {clGreen, "clGreen"},
    {clOlive, "clOlive"},
    {clNavy, "clNavy"},
    {clPurple, "clPurple"},
    {clTeal, "clTeal"},
    {clGray, "clGray"},
    {clSilver, "clSilver"},
    {clRed, "clRed"},
    {clLime, "clLime"},
    {clYellow, "clYellow"},
    {clBlue, "clBlue"},
    {clFuchsia, "clFuchsia"},
    {clAqua, "clAqua"},
    {clWhite, "clWhite"},
    {clMoneyGreen, "clMoneyGreen"},
    {clSkyBlue, "clSkyBlue"},
    {clCream, "clCream"},
    {clMedGray, "clMedGray"},
    {clActiveBorder, "clActiveBorder"},
    {clActiveCaption, "clActiveCaption"},
    {clAppWorkSpace, "clAppWorkSpace"},
    {clBackground, "clBackground"},
    {clBtnFace, "clBtnFace"},
    {clBtnHighlight, "clBtnHighlight"},
    {clBtnShadow, "clBtnShadow"},
    {clBtnText, "clBtnText"},
    {clCaptionText, "clCaptionText"},
    {clDefault, "clDefault"},
    {clGradientActiveCaption, "clGradientActiveCaption"},
    {clGradientInactiveCaption, "clGradientInactiveCaption"},
    {clGrayText, "clGrayText"},
    {clHighlight, "clHighlight"},
    {clHighlightText, "clHighlightText"},
    {clHotLight, "clHotLight"},
    {clInactiveBorder, "clInactiveBorder"},
    {clInactiveCaption, "clInactiveCaption"},
    {clInactiveCaptionText, "clInactiveCaptionText"},
    {clInfoBk, "clInfoBk"},
    {clInfoText, "clInfoText"},
    {clMenu, "clMenu"},
    {clMenuBar, "clMenuBar"},
    {clMenuHighlight, "clMenuHighlight"},
    {clMenuText, "clMenuText"},
    {clNone, "clNone"},
    {clScrollBar, "clScrollBar"},
    {cl3DDkShadow, "cl3DDkShadow"},
    {cl3DLight, "cl3DLight"},
    {clWindow, "clWindow"},
    {clWindowFrame, "clWindowFrame"},
    {clWindowText, "clWindowText"},
};

}  // namespace

TColor ColorToRGB(TColor color) {
    if (color >= 0) return color;
    const unsigned index = unsigned(color) & 0xFF;
    return index < SystemColors.size() ? SystemColors[index] : clBlack;
}

bool ColorToIdent(TColor color, std::string& ident) {
    for (const ColorName& entry : ColorNames)
        if (entry.color == color) {
            ident = entry.name;
            return true;
        }
    return false;
}

bool IdentToColor(const std::string& ident, TColor& color) {
    for (const ColorName& entry : ColorNames)
        if (::strcasecmp(entry.name, ident.c_str()) == 0) {
            color = entry.color;
            return true;
        }
    return false;
}

std::string ColorToString(TColor color) {
    std::string text;
    if (ColorToIdent(color, text)) return text;
    char hex[9];
    const auto value = static_cast<uint32_t>(color);
    for (int i = 0; i < 8; ++i) hex[i] = "0123456789ABCDEF"[(value >> (28 - 4 * i)) & 0xF];
    hex[8] = 0;
    return std::string("$") + hex;
}

TColor StringToColor(const std::string& text) {
    TColor color;
    if (IdentToColor(text, color)) return color;
    std::string_view digits = text;
    const bool negative = !digits.empty() && digits.front() == '-';
    if (negative) digits.remove_prefix(1);
    int base = 10;
    if (!digits.empty() && digits.front() == '$') {
        base = 16;
        digits.remove_prefix(1);
    } else if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits.remove_prefix(2);
    }
    uint64_t value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() || value > 0xFFFFFFFFull)
        throw EConvertError("'" + text + "' is not a valid integer value");
    const auto bits = static_cast<uint32_t>(negative ? 0 - value : value);
    return static_cast<TColor>(bits);
}

// --- Fonts

int TFont::Height() const { return -((Size * ScreenPixelsPerInch + 36) / 72); }

void TFont::SetHeight(int height) { Size = -((height * 72 - ScreenPixelsPerInch / 2) / ScreenPixelsPerInch); }

// --- Graphic

void TGraphic::LoadFromFile(const std::string& fileName) {
    TFileStream stream(fileName, fmOpenRead);
    LoadFromStream(stream);
}

void TGraphic::SaveToFile(const std::string& fileName) const {
    TAtomicFile file(fileName);
    SaveToStream(file.Stream());
    file.Commit();
}

void TGraphic::SetModified(bool modified) {
    if (modified) Changed();
    else modified_ = false;
}

void TGraphic::Changed() {
    modified_ = true;
    if (OnChange) OnChange(this);
}

void TGraphic::Progress(TProgressStage stage, uint8_t percentDone, const TRect& rect, const std::string& message) {
    if (OnProgress) OnProgress(this, stage, percentDone, rect, message);
}

// --- Bitmap

int BitsPerPixel(TPixelFormat format) {
    switch (format) {
        case TPixelFormat::pf1bit: return 1;
        case TPixelFormat::pf4bit: return 4;
        case TPixelFormat::pf8bit: return 8;
        case TPixelFormat::pf15bit:
        case TPixelFormat::pf16bit: return 16;
        case TPixelFormat::pf24bit: return 24;
        default: return 32;
    }
}

std::vector<TPaletteEntry> DefaultPalette(TPixelFormat format) {
    std::vector<TPaletteEntry> palette;
    auto add = [&](int r, int g, int b) { palette.push_back({uint8_t(r), uint8_t(g), uint8_t(b), 0}); };
    switch (format) {
        case TPixelFormat::pf1bit:
            add(0, 0, 0);
            add(255, 255, 255);
            break;
        case TPixelFormat::pf4bit:
            for (TColor c : {clBlack, clMaroon, clGreen, clOlive, clNavy, clPurple, clTeal, clGray, clSilver, clRed,
                             clLime, clYellow, clBlue, clFuchsia, clAqua, clWhite})
                add(GetRValue(c), GetGValue(c), GetBValue(c));
            break;
        case TPixelFormat::pf8bit:
            for (int r = 0; r < 6; ++r)
                for (int g = 0; g < 6; ++g)
                    for (int b = 0; b < 6; ++b) add(r * 51, g * 51, b * 51);
            // Grays between the cube's own gray steps.
            for (int i = 0; i < 40; ++i) {
                const int v = 6 + i * 249 / 39;
                add(v, v, v);
            }
            break;
        default: break;
    }
    return palette;
}

int64_t TBitmap::RowBytesFor(int width, TPixelFormat format) {
    return ((int64_t(width) * BitsPerPixel(format) + 31) / 32) * 4;
}

int64_t TBitmap::CheckedBytes(int width, int height, TPixelFormat format) {
    const int64_t bytes = RowBytesFor(width, format) * height;
    if (bytes > MaxBytes)
        throw EOutOfResources("Bitmap of " + std::to_string(width) + " x " + std::to_string(height) +
                              " pixels is too large");
    return bytes;
}

namespace {

[[noreturn]] void RaiseOutOfMemory(int width, int height) {
    throw EOutOfMemory("Out of memory for a bitmap of " + std::to_string(width) + " x " + std::to_string(height) +
                       " pixels");
}

}  // namespace

void TBitmap::Reallocate(int width, int height, TPixelFormat format) {
    if (width < 0 || height < 0) throw EInvalidGraphic("Invalid bitmap size");
    if (width == 0 || height == 0) width = height = 0;
    const int64_t bytes = CheckedBytes(width, height, format);
    const int64_t rowBytes = RowBytesFor(width, format);
    TPixels pixels;
    try {
        pixels.assign(static_cast<size_t>(bytes), 0);
    } catch (const std::bad_alloc&) {
        RaiseOutOfMemory(width, height);
    }
    const int64_t keepBytes = std::min(rowBytes, rowBytes_);
    if (format == format_)
        for (int y = 0; y < std::min(height, height_); ++y)
            std::memcpy(pixels.data() + y * rowBytes, pixels_.data() + y * rowBytes_, static_cast<size_t>(keepBytes));
    width_ = width;
    height_ = height;
    rowBytes_ = rowBytes;
    pixels_ = std::move(pixels);
    if (format != format_ || palette_.empty()) palette_ = DefaultPalette(format);
    format_ = format;
}

void TBitmap::Assign(const TBitmap& source) {
    width_ = source.width_;
    height_ = source.height_;
    format_ = source.format_;
    alphaFormat_ = source.alphaFormat_;
    rowBytes_ = source.rowBytes_;
    pixels_ = source.pixels_;
    palette_ = source.palette_;
    Changed();
}

void TBitmap::Assign(TBitmap&& source) {
    TakeImage(source);
    Changed();
}

TBitmap::TBitmap(TBitmap&& source) noexcept : TGraphic(std::move(source)) { TakeImage(source); }

TBitmap& TBitmap::operator=(TBitmap&& source) noexcept {
    if (this != &source) {
        TGraphic::operator=(std::move(source));
        TakeImage(source);
    }
    return *this;
}

void TBitmap::TakeImage(TBitmap& source) noexcept {
    if (this == &source) return;
    width_ = std::exchange(source.width_, 0);
    height_ = std::exchange(source.height_, 0);
    format_ = source.format_;
    alphaFormat_ = source.alphaFormat_;
    rowBytes_ = std::exchange(source.rowBytes_, 0);
    pixels_ = std::move(source.pixels_);
    palette_ = std::move(source.palette_);
}

void TBitmap::SetSize(int width, int height) {
    if (width == width_ && height == height_) return;
    Reallocate(width, height, format_);
    Changed();
}

void TBitmap::Reshape(int width, int height, TPixelFormat format) {
    if (format == TPixelFormat::pfCustom) throw EInvalidGraphic("Invalid pixel format");
    if (format == TPixelFormat::pfDevice) format = TPixelFormat::pf32bit;
    if (width < 0 || height < 0) throw EInvalidGraphic("Invalid bitmap size");
    if (width == 0 || height == 0) width = height = 0;
    const auto bytes = static_cast<size_t>(CheckedBytes(width, height, format));
    if (bytes > pixels_.capacity()) pixels_ = TPixels();  // nothing in it is worth copying
    try {
        pixels_.resize(bytes);
    } catch (const std::bad_alloc&) {
        RaiseOutOfMemory(width, height);
    }
    width_ = width;
    height_ = height;
    rowBytes_ = RowBytesFor(width, format);
    if (format != format_ || palette_.empty()) palette_ = DefaultPalette(format);
    format_ = format;
    Changed();
}

void TBitmap::SetPixelFormat(TPixelFormat format) {
    if (format == TPixelFormat::pfCustom) throw EInvalidGraphic("Invalid pixel format");
    if (format == TPixelFormat::pfDevice) format = TPixelFormat::pf32bit;
    if (format == format_) return;
    TBitmap converted;
    converted.format_ = format;
    converted.Reallocate(width_, height_, format);
    const bool toPaletted = converted.BitCount() <= 8;
    std::unordered_map<TColor, int> nearest;  // pictures repeat colours; the palette search is slow
    for (int y = 0; y < height_; ++y)
        for (int x = 0; x < width_; ++x) {
            const TColor color = Pixel(x, y);
            if (!toPaletted) {
                converted.SetPixel(x, y, color);
                continue;
            }
            auto [it, added] = nearest.try_emplace(color, 0);
            if (added) it->second = converted.NearestPaletteIndex(color);
            converted.SetPixelIndex(x, y, it->second);
        }
    width_ = converted.width_;
    height_ = converted.height_;
    format_ = format;
    rowBytes_ = converted.rowBytes_;
    pixels_ = std::move(converted.pixels_);
    palette_ = std::move(converted.palette_);
    Changed();
}

uint8_t* TBitmap::ScanLine(int y) {
    if (y < 0 || y >= height_) throw EInvalidGraphic("Scan line index out of range");
    return pixels_.data() + int64_t(y) * rowBytes_;
}

const uint8_t* TBitmap::ScanLine(int y) const { return const_cast<TBitmap*>(this)->ScanLine(y); }

void TBitmap::SetPalette(const std::vector<TPaletteEntry>& palette) {
    const int bits = BitCount();
    if (bits > 8) return;
    palette_.assign(size_t(1) << bits, TPaletteEntry{});
    std::copy_n(palette.begin(), std::min(palette.size(), palette_.size()), palette_.begin());
    Changed();
}

namespace {

int Expand5(int v) { return (v << 3) | (v >> 2); }
int Expand6(int v) { return (v << 2) | (v >> 4); }

}  // namespace

TColor TBitmap::Pixel(int x, int y) const {
    if (x < 0 || x >= width_) throw EInvalidGraphic("Pixel index out of range");
    const uint8_t* row = ScanLine(y);
    auto paletted = [&](int index) {
        const TPaletteEntry& e = palette_[size_t(index) % palette_.size()];
        return RGB(e.peRed, e.peGreen, e.peBlue);
    };
    switch (format_) {
        case TPixelFormat::pf1bit: return paletted((row[x >> 3] >> (7 - (x & 7))) & 1);
        case TPixelFormat::pf4bit: return paletted((x & 1) ? row[x >> 1] & 0xF : row[x >> 1] >> 4);
        case TPixelFormat::pf8bit: return paletted(row[x]);
        case TPixelFormat::pf15bit: {
            const int w = row[2 * x] | (row[2 * x + 1] << 8);
            return RGB(Expand5((w >> 10) & 31), Expand5((w >> 5) & 31), Expand5(w & 31));
        }
        case TPixelFormat::pf16bit: {
            const int w = row[2 * x] | (row[2 * x + 1] << 8);
            return RGB(Expand5((w >> 11) & 31), Expand6((w >> 5) & 63), Expand5(w & 31));
        }
        case TPixelFormat::pf24bit: return RGB(row[3 * x + 2], row[3 * x + 1], row[3 * x]);
        default: return RGB(row[4 * x + 2], row[4 * x + 1], row[4 * x]);
    }
}

int TBitmap::NearestPaletteIndex(TColor color) const {
    int best = 0;
    long bestDistance = -1;
    for (size_t i = 0; i < palette_.size(); ++i) {
        const long dr = palette_[i].peRed - GetRValue(color), dg = palette_[i].peGreen - GetGValue(color),
                   db = palette_[i].peBlue - GetBValue(color);
        const long distance = dr * dr + dg * dg + db * db;
        if (bestDistance < 0 || distance < bestDistance) {
            best = int(i);
            bestDistance = distance;
            if (distance == 0) break;
        }
    }
    return best;
}

void TBitmap::SetPixel(int x, int y, TColor color) {
    if (x < 0 || x >= width_) throw EInvalidGraphic("Pixel index out of range");
    color = ColorToRGB(color);
    if (BitCount() <= 8) {
        SetPixelIndex(x, y, NearestPaletteIndex(color));
        return;
    }
    uint8_t* row = ScanLine(y);
    const int r = GetRValue(color), g = GetGValue(color), b = GetBValue(color);
    switch (format_) {
        case TPixelFormat::pf15bit: {
            const int w = ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3);
            row[2 * x] = uint8_t(w);
            row[2 * x + 1] = uint8_t(w >> 8);
            break;
        }
        case TPixelFormat::pf16bit: {
            const int w = ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3);
            row[2 * x] = uint8_t(w);
            row[2 * x + 1] = uint8_t(w >> 8);
            break;
        }
        case TPixelFormat::pf24bit:
            row[3 * x] = uint8_t(b);
            row[3 * x + 1] = uint8_t(g);
            row[3 * x + 2] = uint8_t(r);
            break;
        default:
            row[4 * x] = uint8_t(b);
            row[4 * x + 1] = uint8_t(g);
            row[4 * x + 2] = uint8_t(r);
            break;
    }
}

void TBitmap::SetPixelIndex(int x, int y, int index) {
    uint8_t* row = ScanLine(y);
    switch (format_) {
        case TPixelFormat::pf1bit: {
            const uint8_t mask = uint8_t(0x80 >> (x & 7));
            if (index) row[x >> 3] |= mask;
            else row[x >> 3] &= uint8_t(~mask);
            break;
        }
        case TPixelFormat::pf4bit: {
            uint8_t& byte = row[x >> 1];
            byte = (x & 1) ? uint8_t((byte & 0xF0) | index) : uint8_t((byte & 0x0F) | (index << 4));
            break;
        }
        default: row[x] = uint8_t(index); break;
    }
}

void TBitmap::LoadFromStream(TStream& stream) {
    ReadBmp(stream, *this);
}

void TBitmap::SaveToStream(TStream& stream) const { WriteBmp(stream, *this); }
