#include "FontService.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H
#include FT_TRUETYPE_TAGS_H
#include FT_ADVANCES_H

#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>
#include <set>

#include "Classes.h"
#include "CodePages.h"
#include "Exception.h"

namespace {

// FreeType and fontconfig state is shared by every face; one lock keeps it consistent.
std::mutex& FontMutex() {
    static std::mutex mutex;
    return mutex;
}

FT_Library Library() {
    static FT_Library library = [] {
        FT_Library created = nullptr;
        if (FT_Init_FreeType(&created) != 0) throw EInvalidOperation("The font engine cannot start");
        return created;
    }();
    return library;
}

std::string Lowered(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// Font units to whole pixels.
int ToPixels(long units, int pixelsPerEm, int unitsPerEm) {
    return static_cast<int>(std::nearbyint(double(units) * pixelsPerEm / unitsPerEm));
}

// The first Unicode character of one byte of a code page; 0 when the byte is not text there.
char32_t UnicodeOfCode(unsigned code, int codePage) {
    if (code < 0x80) return code;
    std::string utf8;
    try {
        utf8 = CodePageToUtf8(std::string(1, static_cast<char>(code)), codePage);
    } catch (const Exception&) {
        return 0;
    }
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    if (utf8.size() == 2) return char32_t(p[0] & 0x1F) << 6 | (p[1] & 0x3F);
    if (utf8.size() == 3) return char32_t(p[0] & 0x0F) << 12 | char32_t(p[1] & 0x3F) << 6 | (p[2] & 0x3F);
    return 0;
}

// The platform's family nibble, guessed from the face's PANOSE classification.
uint8_t FamilyOf(const TT_OS2* os2, bool fixedPitch) {
    if (!os2) return fixedPitch ? 0x30 : 0x00;
    switch (os2->panose[0]) {
        case 3: return 0x40;  // script
        case 4: return 0x50;  // decorative
        case 2:
            if (fixedPitch || os2->panose[3] == 9) return 0x30;
            return (os2->panose[1] >= 11 && os2->panose[1] <= 13) ? 0x20 : 0x10;
        default: return fixedPitch ? 0x30 : 0x00;
    }
}

}  // namespace

struct TFontFace::TImpl {
    std::string fileName;
    int index = 0;
    FT_Face face = nullptr;
    bool symbol = false;
    std::map<int, std::vector<long>> unitWidths;  // by code page

    ~TImpl() {
        if (face) FT_Done_Face(face);
    }

    int UnitsPerEm() const { return face->units_per_EM ? face->units_per_EM : 2048; }
    const TT_OS2* Os2() const {
        auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
        return os2 && os2->version != 0xFFFF ? os2 : nullptr;
    }
    const TT_Postscript* Post() const {
        return static_cast<const TT_Postscript*>(FT_Get_Sfnt_Table(face, FT_SFNT_POST));
    }

    long AdvanceOf(FT_ULong charCode) const {
        FT_Fixed advance = 0;
        const FT_UInt glyph = FT_Get_Char_Index(face, charCode);  // 0: the missing-glyph box
        FT_Get_Advance(face, glyph, FT_LOAD_NO_SCALE, &advance);
        return advance;
    }

    const std::vector<long>& UnitWidths(int codePage) {
        auto found = unitWidths.find(codePage);
        if (found != unitWidths.end()) return found->second;
        std::vector<long> widths(256, 0);
        for (unsigned code = 32; code < 256; ++code) {
            if (symbol) {
                widths[code] = AdvanceOf(0xF000 + code);
            } else {
                const char32_t ch = UnicodeOfCode(code, codePage);
                widths[code] = AdvanceOf(ch);
            }
        }
        return unitWidths.emplace(codePage, std::move(widths)).first->second;
    }
};

namespace {
struct TFontMatch {
    std::string fileName, family;  // family lower-cased
    int index = 0;
    bool trueType = false;
};

TFontMatch MatchFont(const std::string& name, bool bold, bool italic, bool trueTypeOnly) {
    FcPattern* pattern = FcPatternCreate();
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(name.c_str()));
    FcPatternAddInteger(pattern, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddInteger(pattern, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    if (trueTypeOnly) FcPatternAddString(pattern, FC_FONTFORMAT, reinterpret_cast<const FcChar8*>("TrueType"));
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* found = FcFontMatch(nullptr, pattern, &result);
    FcPatternDestroy(pattern);
    TFontMatch match;
    if (!found) return match;
    FcChar8* text = nullptr;
    if (FcPatternGetString(found, FC_FILE, 0, &text) == FcResultMatch) match.fileName = reinterpret_cast<const char*>(text);
    if (FcPatternGetString(found, FC_FAMILY, 0, &text) == FcResultMatch) match.family = Lowered(reinterpret_cast<const char*>(text));
    if (FcPatternGetString(found, FC_FONTFORMAT, 0, &text) == FcResultMatch)
        match.trueType = std::string(reinterpret_cast<const char*>(text)) == "TrueType";
    FcPatternGetInteger(found, FC_INDEX, 0, &match.index);
    FcPatternDestroy(found);
    return match;
}
}  // namespace

TFontFace::TFontFace(std::unique_ptr<TImpl> impl) : impl_(std::move(impl)) {}
TFontFace::~TFontFace() = default;

std::shared_ptr<TFontFace> TFontFace::Find(const std::string& name, bool bold, bool italic) {
    const std::lock_guard lock(FontMutex());
    static std::map<std::string, std::shared_ptr<TFontFace>> faces;
    const std::string key = Lowered(name) + (bold ? "|b" : "|") + (italic ? "i" : "");
    if (auto found = faces.find(key); found != faces.end()) return found->second;

    if (!FcInit()) throw EInvalidOperation("The font configuration cannot be read");
    auto impl = std::make_unique<TImpl>();
    // A family that is not installed gets a substitute; only a TrueType one can be embedded, so a
    // substitute in another format (an outline alias such as a PostScript symbol font) is passed over.
    // A family that is installed keeps its own face, whatever its format.
    const TFontMatch match = MatchFont(name, bold, italic, false);
    const TFontMatch chosen =
        match.family == Lowered(name) || match.trueType ? match : MatchFont(name, bold, italic, true);
    impl->fileName = chosen.fileName;
    impl->index = chosen.index;
    if (impl->fileName.empty()) throw EInvalidOperation("No font found for \"" + name + "\"");
    if (FT_New_Face(Library(), impl->fileName.c_str(), impl->index, &impl->face) != 0 || !FT_IS_SCALABLE(impl->face))
        throw EInvalidOperation("The font file \"" + impl->fileName + "\" cannot be read");
    bool unicode = false;
    for (int i = 0; i < impl->face->num_charmaps; ++i) {
        if (impl->face->charmaps[i]->encoding == FT_ENCODING_MS_SYMBOL) impl->symbol = true;
        if (impl->face->charmaps[i]->encoding == FT_ENCODING_UNICODE) unicode = true;
    }
    impl->symbol = impl->symbol && !unicode;
    if (impl->symbol) FT_Select_Charmap(impl->face, FT_ENCODING_MS_SYMBOL);

    std::shared_ptr<TFontFace> face(new TFontFace(std::move(impl)));
    faces.emplace(key, face);
    return face;
}

bool TFontFace::IsTrueType() const {
    const std::lock_guard lock(FontMutex());
    FT_ULong length = 0;
    return FT_Load_Sfnt_Table(impl_->face, TTAG_glyf, 0, nullptr, &length) == 0 && length > 0;
}

TTextMetrics TFontFace::TextMetrics(int pixelsPerEm) const {
    const std::lock_guard lock(FontMutex());
    const int upem = impl_->UnitsPerEm();
    const TT_OS2* os2 = impl_->Os2();
    long ascent = impl_->face->ascender, descent = -impl_->face->descender;
    if (os2 && os2->usWinAscent + os2->usWinDescent > 0) {
        ascent = os2->usWinAscent;
        descent = os2->usWinDescent;
    }
    TTextMetrics metrics;
    metrics.Ascent = ToPixels(ascent, pixelsPerEm, upem);
    metrics.Descent = ToPixels(descent, pixelsPerEm, upem);
    metrics.Height = metrics.Ascent + metrics.Descent;
    const bool fixedPitch = FT_IS_FIXED_WIDTH(impl_->face);
    // The platform's pitch bit is set for variable pitch.
    metrics.PitchAndFamily = static_cast<uint8_t>((fixedPitch ? 0 : 1) | 2 | 4 | FamilyOf(os2, fixedPitch));
    return metrics;
}

TOutlineTextMetrics TFontFace::OutlineTextMetrics(int pixelsPerEm) const {
    const std::lock_guard lock(FontMutex());
    const int upem = impl_->UnitsPerEm();
    TOutlineTextMetrics metrics;
    if (const TT_Postscript* post = impl_->Post())
        metrics.ItalicAngle = static_cast<int>(std::nearbyint(double(post->italicAngle) / 65536.0 * 10.0));
    // FreeType gives the centre of the underline, where a stroke of its thickness belongs.
    metrics.UnderscorePosition = ToPixels(impl_->face->underline_position, pixelsPerEm, upem);
    metrics.UnderscoreSize = ToPixels(impl_->face->underline_thickness, pixelsPerEm, upem);
    if (const TT_OS2* os2 = impl_->Os2()) {
        // The table gives the stroke's top; the centre is where it is drawn from.
        metrics.StrikeoutPosition = ToPixels(os2->yStrikeoutPosition - os2->yStrikeoutSize / 2, pixelsPerEm, upem);
        metrics.StrikeoutSize = ToPixels(os2->yStrikeoutSize, pixelsPerEm, upem);
        // Restricted licence, or only bitmaps may be embedded.
        if (os2->fsType & (0x0002 | 0x0200)) metrics.EmbeddingType |= 1;
    }
    return metrics;
}

std::vector<int> TFontFace::CharWidths(int codePage, int pixelsPerEm) const {
    const std::lock_guard lock(FontMutex());
    const int upem = impl_->UnitsPerEm();
    const std::vector<long>& units = impl_->UnitWidths(codePage);
    std::vector<int> widths(units.size());
    std::transform(units.begin(), units.end(), widths.begin(),
                   [&](long u) { return ToPixels(u, pixelsPerEm, upem); });
    return widths;
}

std::vector<uint8_t> TFontFace::FontData() const {
    TMemoryStream file;
    file.LoadFromFile(impl_->fileName);
    const std::vector<uint8_t>& bytes = file.Bytes();
    if (bytes.size() >= 4 && std::equal(bytes.begin(), bytes.begin() + 4, "ttcf")) return {};
    return bytes;
}

const std::string& TFontFace::FileName() const { return impl_->fileName; }

const std::vector<std::string>& InstalledFontFamilies() {
    const std::lock_guard lock(FontMutex());
    static const std::vector<std::string> families = [] {
        std::set<std::string> names;
        if (FcInit()) {
            FcPattern* pattern = FcPatternCreate();
            FcObjectSet* objects = FcObjectSetBuild(FC_FAMILY, nullptr);
            if (FcFontSet* set = FcFontList(nullptr, pattern, objects)) {
                for (int i = 0; i < set->nfont; ++i) {
                    FcChar8* family = nullptr;
                    for (int n = 0; FcPatternGetString(set->fonts[i], FC_FAMILY, n, &family) == FcResultMatch; ++n)
                        names.insert(reinterpret_cast<const char*>(family));
                }
                FcFontSetDestroy(set);
            }
            FcObjectSetDestroy(objects);
            FcPatternDestroy(pattern);
        }
        return std::vector<std::string>(names.begin(), names.end());
    }();
    return families;
}
