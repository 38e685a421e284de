#pragma once
// The system's fonts: a face is found by name and style through fontconfig and read with FreeType.
// Sizes are whole pixels at a given em height, as the platform's font machinery reports them.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct TTextMetrics {
    int Height = 0;  // Ascent + Descent
    int Ascent = 0;
    int Descent = 0;
    int FirstChar = 32;
    int LastChar = 255;
    // Low bits: 1 variable pitch, 2 vector, 4 TrueType; high nibble: the family (0x10 roman,
    // 0x20 swiss, 0x30 modern, 0x40 script, 0x50 decorative).
    uint8_t PitchAndFamily = 0;
};

struct TOutlineTextMetrics {
    int ItalicAngle = 0;  // tenths of a degree
    int UnderscoreSize = 0;
    int UnderscorePosition = 0;  // the line's centre above the baseline; negative below it
    int StrikeoutSize = 0;
    int StrikeoutPosition = 0;  // the line's centre above the baseline
    unsigned EmbeddingType = 0;  // bit 0: the licence forbids embedding
};

class TFontFace {
public:
    // The installed face that fontconfig matches best (a metric-compatible stand-in or a fallback
    // when the family is missing); faces are kept for the life of the process. Raises
    // EInvalidOperation when no font can be found or opened.
    static std::shared_ptr<TFontFace> Find(const std::string& name, bool bold, bool italic);

    ~TFontFace();
    TFontFace(const TFontFace&) = delete;
    TFontFace& operator=(const TFontFace&) = delete;

    // True for TrueType outlines (a 'glyf' table).
    bool IsTrueType() const;
    TTextMetrics TextMetrics(int pixelsPerEm) const;
    TOutlineTextMetrics OutlineTextMetrics(int pixelsPerEm) const;
    // Advance widths of the 256 codes of a code page; a symbol face maps the codes to its symbol
    // characters instead. Codes without a character get the width of the missing-glyph box.
    std::vector<int> CharWidths(int codePage, int pixelsPerEm) const;
    // The whole font file; empty for a face inside a font collection.
    std::vector<uint8_t> FontData() const;
    const std::string& FileName() const;

private:
    struct TImpl;
    explicit TFontFace(std::unique_ptr<TImpl> impl);
    std::unique_ptr<TImpl> impl_;
};

// The family names of the installed fonts.
const std::vector<std::string>& InstalledFontFamilies();
