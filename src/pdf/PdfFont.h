#pragma once
// TrueType fonts of a document: metrics read at 100 points, widths, descriptor, encoding and the
// optional embedded font file, written when the font is first used.
#include <memory>
#include <string>
#include <vector>

#include "PdfEncoding.h"

class TFont;
class TFontFace;
class TPdfOutput;
class TPdfSecurity;
class TStringList;


// Table 0 marks nothing, 1 the Arabic and 2 the Hebrew characters of their code pages.
const TRtlTable& RtlTable(int index);
// Marks the codes that /Differences entries ("start/name/name...") name.
void AssignRTLChars(TRtlTable& table, const std::vector<std::string>& entries);
// The /Differences entries of a character set; empty for sets that need none.
const std::vector<std::string>& DifferencesOf(int charset);
// The default set (1) becomes the set of the ANSI code page; unsupported sets raise EPdfError.
int ResolveCharset(int charset, int ansiCodePage, const std::string& faceName);
int CodePageOfCharset(int resolvedCharset);
int RtlIndexOfCharset(int resolvedCharset);
// Blanks become "#20".
std::string EscapeName(const std::string& name);
// The face as the installed families spell it, with ",Bold", ",Italic" or ",BoldItalic".
std::string BaseFontName(const TFont& font);
// Base font name, "|", the character set as the caller set it.
std::string FontKey(const TFont& font);
// The pixel em size of a font at a point size, as the screen sets it.
int PixelsPerEm(int pointSize);

struct TPdfFontSettings {
    bool embedFonts = false;
    const TStringList* nonEmbeddedFonts = nullptr;
    const TStringList* symbolFaces = nullptr;
    int ansiCodePage = 1252;
    int screenDpi = 96;
};

class TPdfFont {
public:
    // Reads the metrics and writes the font's objects; raises EPdfError.
    TPdfFont(const TFont& font, int index, const TPdfFontSettings& settings, TPdfOutput& output,
             const TPdfSecurity& security);

    const std::string& Key() const { return key_; }
    // "/F" and the index.
    const std::string& ResourceName() const { return resourceName_; }
    int ObjectNumber() const { return objectNumber_; }
    int CodePage() const { return codePage_; }
    const TRtlTable& Rtl() const { return RtlTable(rtlIndex_); }
    bool IsRightToLeft() const { return rtlIndex_ != 0; }
    bool Embedded() const { return embedded_; }
    // Per point of font size, in points.
    double AscentPerPoint() const { return ascentPerPoint_; }
    double UnderlinePosition() const { return underlinePosition_; }
    double UnderlineThickness() const { return underlineThickness_; }
    double StrikeoutPosition() const { return strikeoutPosition_; }
    double StrikeoutThickness() const { return strikeoutThickness_; }

private:
    int WriteFontFile(const std::vector<uint8_t>& fontData, TPdfOutput& output, const TPdfSecurity& security);

    std::string key_;
    std::string resourceName_;
    int objectNumber_ = 0;
    int codePage_ = 1252;
    int rtlIndex_ = 0;
    bool embedded_ = false;
    double ascentPerPoint_ = 0;
    double underlinePosition_ = 0, underlineThickness_ = 0;
    double strikeoutPosition_ = 0, strikeoutThickness_ = 0;
};
