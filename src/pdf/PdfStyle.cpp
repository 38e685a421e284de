#include "PdfStyle.h"

#include <charconv>
#include <set>
#include <strings.h>

#include "PdfErrors.h"

namespace {

std::string Trimmed(const std::string& s) {
    const size_t first = s.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

bool ParseInt(const std::string& text, int& value) {
    const char* begin = text.data();
    const char* end = begin + text.size();
    if (begin != end && *begin == '+') ++begin;
    const auto [last, error] = std::from_chars(begin, end, value);
    return begin != end && error == std::errc() && last == end;
}

struct TCharsetName {
    const char* name;
    int charset;
};
constexpr TCharsetName CharsetNames[] = {
    {"ANSI", ANSI_CHARSET},     {"ARABIC", ARABIC_CHARSET}, {"BALTIC", BALTIC_CHARSET},
    {"EASTEUROPE", EASTEUROPE_CHARSET}, {"GREEK", GREEK_CHARSET}, {"HEBREW", HEBREW_CHARSET},
    {"RUSSIAN", RUSSIAN_CHARSET}, {"TURKISH", TURKISH_CHARSET},
};

}  // namespace

TColor StyleColor(const std::string& text) {
    if (text.empty()) return clBlack;
    const char first = text[0];
    if ((first >= 'a' && first <= 'z' ? first - 'a' + 'A' : first) >= 'A') return StringToColor("cl" + text);
    // Components separated by commas; the error names the part not yet parsed.
    std::string rest = text + ",";
    int rgb[3];
    for (int& component : rgb) {
        const size_t comma = rest.find(',');
        if (comma == std::string::npos || !ParseInt(Trimmed(rest.substr(0, comma)), component) || component < 0 ||
            component > 255)
            throw Exception(std::string(SInvalidColor) + ":" + rest);
        rest.erase(0, comma + 1);
    }
    if (!Trimmed(rest).empty()) throw Exception(std::string(SInvalidColor) + ":" + rest);
    return RGB(rgb[0], rgb[1], rgb[2]);
}

std::string TPdfStyle::Param(const std::string& key) const {
    std::set<const TPdfStyle*> visited;
    for (const TPdfStyle* style = this; style; style = style->parent_) {
        if (!visited.insert(style).second) throw EPdfError(SCircularStyle, style->name_);
        const std::string value = Trimmed(style->params_.Values(key));
        if (!value.empty()) return value;
    }
    return {};
}

int TPdfStyle::NumParam(const std::string& key, int defaultValue) const {
    const std::string value = Param(key);
    if (value.empty()) return defaultValue;
    int number = 0;
    if (!ParseInt(value, number)) throw EPdfError(SNumericStyleValue, key + " = " + value);
    return number;
}

void TPdfStyle::ApplyFont(TFont& font, TBrush* brush) const {
    if (const std::string name = Param("FontName"); !name.empty()) font.Name = name;
    font.Size = NumParam("FontSize", font.Size);
    if (const std::string color = Param("FontColor"); !color.empty()) font.Color = StyleColor(color);
    font.Style = 0;
    const std::pair<const char*, TFontStyle> flags[] = {
        {"FontBold", fsBold}, {"FontItalic", fsItalic}, {"FontUnderline", fsUnderline}, {"FontStrikeOut", fsStrikeOut}};
    for (const auto& [key, flag] : flags)
        if (Param(key) == "1") font.Style |= flag;
    const std::string charset = Param("FontCharset");
    if (charset.empty()) font.Charset = DEFAULT_CHARSET;
    for (const auto& entry : CharsetNames)
        if (::strcasecmp(entry.name, charset.c_str()) == 0) font.Charset = static_cast<uint8_t>(entry.charset);
    if (brush)
        if (const std::string color = Param("BrushColor"); !color.empty()) brush->Color = StyleColor(color);
}

int TPdfStyle::LeftPosition() const {
    const int indent = HasParam("LeftIndent") ? NumParam("LeftIndent", 0) : NumParam("Indent", 0);
    return indent + NumParam("LeftMargin", 0);
}
