#pragma once
// The class library's colours, fonts, graphic base and device-independent bitmap.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Classes.h"

// 0x00BBGGRR; a value with the top bit set names a system colour by its low byte.
using TColor = int32_t;

constexpr TColor clBlack = 0x000000, clMaroon = 0x000080, clGreen = 0x008000, clOlive = 0x008080,
                 clNavy = 0x800000, clPurple = 0x800080, clTeal = 0x808000, clGray = 0x808080,
                 clSilver = 0xC0C0C0, clRed = 0x0000FF, clLime = 0x00FF00, clYellow = 0x00FFFF,
                 clBlue = 0xFF0000, clFuchsia = 0xFF00FF, clAqua = 0xFFFF00, clWhite = 0xFFFFFF,
                 clLtGray = 0xC0C0C0, clDkGray = 0x808080, clMoneyGreen = 0xC0DCC0,
                 clSkyBlue = 0xF0CAA6, clCream = 0xF0FBFF, clMedGray = 0xA4A0A0;
constexpr TColor clNone = 0x1FFFFFFF, clDefault = 0x20000000;

constexpr TColor SystemColor(int index) { return static_cast<TColor>(0x80000000u | unsigned(index)); }
constexpr TColor clScrollBar = SystemColor(0), clBackground = SystemColor(1),
                 clActiveCaption = SystemColor(2), clInactiveCaption = SystemColor(3),
                 clMenu = SystemColor(4), clWindow = SystemColor(5), clWindowFrame = SystemColor(6),
                 clMenuText = SystemColor(7), clWindowText = SystemColor(8),
                 clCaptionText = SystemColor(9), clActiveBorder = SystemColor(10),
                 clInactiveBorder = SystemColor(11), clAppWorkSpace = SystemColor(12),
                 clHighlight = SystemColor(13), clHighlightText = SystemColor(14),
                 clBtnFace = SystemColor(15), clBtnShadow = SystemColor(16),
                 clGrayText = SystemColor(17), clBtnText = SystemColor(18),
                 clInactiveCaptionText = SystemColor(19), clBtnHighlight = SystemColor(20),
                 cl3DDkShadow = SystemColor(21), cl3DLight = SystemColor(22),
                 clInfoText = SystemColor(23), clInfoBk = SystemColor(24),
                 clHotLight = SystemColor(26), clGradientActiveCaption = SystemColor(27),
                 clGradientInactiveCaption = SystemColor(28), clMenuHighlight = SystemColor(29),
                 clMenuBar = SystemColor(30);

constexpr TColor RGB(int r, int g, int b) { return TColor(r | (g << 8) | (b << 16)); }
constexpr int GetRValue(TColor c) { return c & 0xFF; }
constexpr int GetGValue(TColor c) { return (c >> 8) & 0xFF; }
constexpr int GetBValue(TColor c) { return (c >> 16) & 0xFF; }

// Resolves a system colour to its RGB value; other colours pass unchanged.
TColor ColorToRGB(TColor color);
// "clNavy" for a named colour, else "$00BBGGRR".
std::string ColorToString(TColor color);
// A colour name, "$hex" or a decimal number; anything else raises EConvertError.
TColor StringToColor(const std::string& text);
bool IdentToColor(const std::string& ident, TColor& color);
bool ColorToIdent(TColor color, std::string& ident);

constexpr int ScreenPixelsPerInch = 96;

enum TFontStyle : unsigned { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
using TFontStyles = unsigned;
enum class TFontPitch { fpDefault, fpVariable, fpFixed };

// Character sets of fonts, as numbered by the platform.
enum TFontCharset : uint8_t {
    ANSI_CHARSET = 0, DEFAULT_CHARSET = 1, SYMBOL_CHARSET = 2, MAC_CHARSET = 77,
    SHIFTJIS_CHARSET = 128, HANGEUL_CHARSET = 129, JOHAB_CHARSET = 130, GB2312_CHARSET = 134,
    CHINESEBIG5_CHARSET = 136, GREEK_CHARSET = 161, TURKISH_CHARSET = 162,
    VIETNAMESE_CHARSET = 163, HEBREW_CHARSET = 177, ARABIC_CHARSET = 178, BALTIC_CHARSET = 186,
    RUSSIAN_CHARSET = 204, THAI_CHARSET = 222, EASTEUROPE_CHARSET = 238, OEM_CHARSET = 255,
};

class TFont : public TObject {
public:
    std::string Name = "MS Sans Serif";
    int Size = 8;  // points
    TFontStyles Style = 0;
    TColor Color = clWindowText;
    TFontPitch Pitch = TFontPitch::fpDefault;
    uint8_t Charset = DEFAULT_CHARSET;

    // Character height in pixels at the screen's resolution, negative as the platform gives it.
    int Height() const;
    void SetHeight(int height);
    void Assign(const TFont& source) { *this = source; }
};

class TCanvas;
struct TRect;

enum class TProgressStage { psStarting, psRunning, psEnding };

// A picture of the class library: loads and saves itself by stream and file.
class TGraphic : public TObject {
public:
    virtual bool Empty() const = 0;
    virtual int Width() const = 0;
    virtual int Height() const = 0;
    virtual void SetWidth(int width) = 0;
    virtual void SetHeight(int height) = 0;
    virtual void LoadFromStream(TStream& stream) = 0;
    virtual void SaveToStream(TStream& stream) const = 0;
    virtual void LoadFromFile(const std::string& fileName);
    // Written to a temporary file beside the target and renamed over it only when complete.
    virtual void SaveToFile(const std::string& fileName) const;
    // Draws the picture stretched over rect; TCanvas::Draw and TCanvas::StretchDraw call it.
    virtual void Draw(TCanvas& canvas, const TRect& rect) const = 0;
    // Made of drawing records rather than pixels, so it draws sharply at any resolution (metafiles).
    virtual bool Scalable() const { return false; }

    bool Modified() const { return modified_; }
    // Setting it raises OnChange.
    void SetModified(bool modified);
    std::function<void(TObject* sender)> OnChange;
    // Raised by loaders while they work; rect is the band of the picture the call is about.
    std::function<void(TObject* sender, TProgressStage stage, uint8_t percentDone, const TRect& rect,
                       const std::string& message)>
        OnProgress;

protected:
    void Changed();
    void Progress(TProgressStage stage, uint8_t percentDone, const TRect& rect, const std::string& message);

private:
    bool modified_ = false;
};

enum class TPixelFormat { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit, pfCustom };

struct TPaletteEntry {
    uint8_t peRed = 0, peGreen = 0, peBlue = 0, peFlags = 0;
    bool operator==(const TPaletteEntry&) const = default;
};

int BitsPerPixel(TPixelFormat format);

// Whether the fourth byte of pf32bit pixels is opacity (0 transparent, 255 opaque, not premultiplied).
enum class TAlphaFormat { afIgnored, afDefined };

// Device-independent bitmap: rows from the top, blue-green-red bytes, each row padded to 4 bytes.
// pf15bit is 5-5-5 and pf16bit 5-6-5 in little-endian words; pf32bit is blue, green, red, reserved.
class TBitmap : public TGraphic {
public:
    static constexpr int64_t MaxBytes = int64_t(4) << 30;

    TBitmap() = default;
    TBitmap(const TBitmap&) = default;
    TBitmap& operator=(const TBitmap&) = default;
    // Take the pixels without copying them; the source is left empty.
    TBitmap(TBitmap&& source) noexcept;
    TBitmap& operator=(TBitmap&& source) noexcept;
    // Takes the image (not the OnChange handler) and raises OnChange.
    void Assign(const TBitmap& source);
    void Assign(TBitmap&& source);

    bool Empty() const override { return width_ == 0 || height_ == 0; }
    int Width() const override { return width_; }
    int Height() const override { return height_; }
    // Size changes keep the pixels that stay inside; new pixels are zero.
    void SetWidth(int width) override { SetSize(width, height_); }
    void SetHeight(int height) override { SetSize(width_, height); }
    void SetSize(int width, int height);
    // Discards the pixels for new ones of this size and format that hold anything until written,
    // keeping the storage when it is large enough: for a caller that writes every pixel.
    void Reshape(int width, int height, TPixelFormat format);

    TPixelFormat PixelFormat() const { return format_; }
    // Converts the pixels; into a paletted format each colour takes the nearest palette entry.
    void SetPixelFormat(TPixelFormat format);
    int BitCount() const { return BitsPerPixel(format_); }
    int64_t RowBytes() const { return rowBytes_; }
    static int64_t RowBytesFor(int width, TPixelFormat format);

    uint8_t* ScanLine(int y);
    const uint8_t* ScanLine(int y) const;

    // Paletted formats hold 2, 16 or 256 entries; other formats none.
    const std::vector<TPaletteEntry>& Palette() const { return palette_; }
    // Entries beyond the format's count are ignored; missing ones are black.
    void SetPalette(const std::vector<TPaletteEntry>& palette);

    TColor Pixel(int x, int y) const;
    void SetPixel(int x, int y, TColor color);

    TAlphaFormat AlphaFormat() const { return alphaFormat_; }
    void SetAlphaFormat(TAlphaFormat format) { alphaFormat_ = format; }

    // Made on first use by the drawing engine installed with SetCanvasFactory (Canvas.h);
    // raises EInvalidOperation when none is installed.
    TCanvas& Canvas();

    void LoadFromStream(TStream& stream) override;
    void SaveToStream(TStream& stream) const override;
    void Draw(TCanvas& canvas, const TRect& rect) const override;

private:
    // A canvas draws on the bitmap it was made for, so a copy of the bitmap starts without one.
    struct CanvasSlot {
        CanvasSlot();
        CanvasSlot(const CanvasSlot&);
        CanvasSlot& operator=(const CanvasSlot&) { return *this; }
        ~CanvasSlot();
        std::unique_ptr<TCanvas> canvas;
    };

    // Leaves the elements a resize adds unset; assign still fills.
    template <typename T> struct TUnsetAllocator : std::allocator<T> {
        template <typename U> struct rebind { using other = TUnsetAllocator<U>; };
        template <typename U, typename... Args> void construct(U* at, Args&&... args) {
            if constexpr (sizeof...(Args) == 0) ::new (static_cast<void*>(at)) U;
            else ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
        }
    };
    using TPixels = std::vector<uint8_t, TUnsetAllocator<uint8_t>>;

    void Reallocate(int width, int height, TPixelFormat format);
    // The bytes of the pixels; raises when they pass MaxBytes.
    static int64_t CheckedBytes(int width, int height, TPixelFormat format);
    void TakeImage(TBitmap& source) noexcept;
    int NearestPaletteIndex(TColor color) const;
    void SetPixelIndex(int x, int y, int index);

    int width_ = 0;
    int height_ = 0;
    TPixelFormat format_ = TPixelFormat::pf24bit;
    TAlphaFormat alphaFormat_ = TAlphaFormat::afIgnored;
    int64_t rowBytes_ = 0;
    TPixels pixels_;
    std::vector<TPaletteEntry> palette_;
    CanvasSlot canvas_;
};

// The default colour table of a paletted format: 1-bit black and white, 4-bit the 16 standard
// colours, 8-bit a 6x6x6 colour cube followed by grays.
std::vector<TPaletteEntry> DefaultPalette(TPixelFormat format);

// A rectangle of the class library: Right and Bottom lie just outside it.
struct TRect {
    int Left = 0, Top = 0, Right = 0, Bottom = 0;
    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
    bool operator==(const TRect&) const = default;
};
constexpr TRect Rect(int left, int top, int right, int bottom) { return {left, top, right, bottom}; }

// A point of the class library.
struct TPoint {
    int X = 0, Y = 0;
    bool operator==(const TPoint&) const = default;
};

// The fill and the outline of the class library's canvas.
enum class TBrushStyle { bsSolid, bsClear, bsHorizontal, bsVertical, bsFDiagonal, bsBDiagonal, bsCross, bsDiagCross };
struct TBrush {
    TColor Color = clWhite;
    TBrushStyle Style = TBrushStyle::bsSolid;
    bool operator==(const TBrush&) const = default;
};
enum class TPenStyle { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear, psInsideFrame };
// How the pen's colour combines with the pixels under it.
enum class TPenMode {
    pmBlack, pmWhite, pmNop, pmNot, pmCopy, pmNotCopy, pmMergePenNot, pmMaskPenNot,
    pmMergeNotPen, pmMaskNotPen, pmMerge, pmNotMerge, pmMask, pmNotMask, pmXor, pmNotXor
};
struct TPen {
    TColor Color = clBlack;
    TPenStyle Style = TPenStyle::psSolid;
    int Width = 1;
    TPenMode Mode = TPenMode::pmCopy;
    bool operator==(const TPen&) const = default;
};
