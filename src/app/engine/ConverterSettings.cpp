#include "app/engine/ConverterSettings.h"

#include <array>
#include <string_view>

#include "app/engine/AppFolders.h"
#include "app/engine/Converter.h"
#include "pdf/PdfKalmora.h"
#include "platform/Classes.h"
#include "platform/Graphics.h"
#include "platform/Paths.h"
#include "platform/Settings.h"
#include "tzlib/FileHelpers.h"
#include "tzlib/Errors.h"
#include "tzlib/Registry.h"
#include "tzlib/TextFormats.h"

namespace {

constexpr size_t MaxValue = 255;
constexpr std::string_view ModeNames[] = {"Single", "Book"};
constexpr std::string_view OrientationNames[] = {"Portrait", "Landscape"};
constexpr std::string_view PicsPerPageTexts[] = {"1", "2", "4", "6", "8", "12", "24"};

struct TStyleName {
    TFontStyle style;
    const char* name;
};
constexpr TStyleName StyleNames[] = {
    {fsBold, "Bold"}, {fsItalic, "Italic"}, {fsUnderline, "Underline"}, {fsStrikeOut, "StrikeOut"}};

// The number in the text, or nothing for text that is no number.
std::optional<int> IntegerOf(const std::string& text) {
    try {
        return ParseInteger(text, true);
    } catch (const Exception&) {
        return std::nullopt;
    }
}

void ReadMargin(const std::string& text, int& margin) {
    const std::optional<int> value = text.empty() ? std::nullopt : IntegerOf(text);
    if (value && *value >= 0) margin = *value;
}

void ReadCaptionPos(const std::string& text, TCaptionPos& pos) {
    const std::optional<int> value = text.empty() ? std::nullopt : IntegerOf(text);
    if (value && *value >= cpAbove && *value <= cpHidden) pos = static_cast<TCaptionPos>(*value);
}

// Index in the table, or -1 when the text is empty or not in it.
int TableIndex(const std::string& text, std::span<const std::string_view> table) {
    return text.empty() ? -1 : IndexOfText(text, table);
}

bool IsPaperName(const std::string& name) {
    for (int i = 1; i < PaperSizeCount; ++i)
        if (SameText(name, PaperSizes[i].name)) return true;
    return false;
}

bool HasValidCustomPaper(const TConverter& c) {
    return c.HasCustomPaper() && IsPaperSide(c.CustomPaperWidth) && IsPaperSide(c.CustomPaperHeight);
}

// A custom paper counts only with both of its sides within the page limits.
void ReadCustomPaper(const std::string& width, const std::string& height, TConverter& c) {
    const std::optional<int> w = width.empty() ? std::nullopt : IntegerOf(width);
    const std::optional<int> h = height.empty() ? std::nullopt : IntegerOf(height);
    if (!w || !h || !IsPaperSide(*w) || !IsPaperSide(*h)) return;
    c.PaperSizeName = CustomPaperName;
    c.CustomPaperWidth = *w;
    c.CustomPaperHeight = *h;
}

std::string ColorText(TColor color) {
    std::string ident;
    return ColorToIdent(color, ident) ? ident.substr(2) : ColorToString(color);
}

std::optional<TColor> ColorOfText(const std::string& text) {
    TColor color;
    if (IdentToColor("cl" + text, color)) return color;
    if (!text.starts_with('$')) return std::nullopt;
    try {
        return StringToColor(text);
    } catch (const Exception&) {
        return std::nullopt;
    }
}

std::string ProgramKey() { return "Software\\Brelvant\\" + FileNameWithoutExt(ExecutablePath()); }

// The user learns where the old file goes before anything replaces it.
void TellKeptSettingsFile(const TRegistry& registry) {
    const TSettingsStore& store = registry.Store();
    if (store.LoadProblem().empty() || SilentMode) return;
    constexpr unsigned WarningIcon = 0x30;
    const bool nothingRead = store.ValueNames(registry.CurrentPath()).empty();
    const std::string kept = store.BadFileName();
    ShowMessageBox("The settings file " + store.FileName() + " cannot be used as it is (" + store.LoadProblem() + ").\n" +
                       (kept.empty() ? std::string("It cannot be kept aside, so the settings will not be saved.")
                                     : "It is kept as " + kept + ".") +
                       (nothingRead ? " The default settings are used." : " The settings it holds are used."),
                   WarningIcon);
}

}  // namespace

std::unique_ptr<TRegistry> OpenSettingsKey() {
    const std::string key = ProgramKey();
    auto registry = std::make_unique<TRegistry>(AppSettingsFileName(), TRootKey::HKEY_LOCAL_MACHINE, key);
    registry->OpenKey(key, true);
    return registry;
}

std::string FontToText(const TFont& font) {
    std::string text = font.Name + "," + std::to_string(font.Size) + "," + ColorText(font.Color);
    for (const TStyleName& style : StyleNames)
        if (font.Style & style.style) text += std::string(",") + style.name;
    return LeftCharacters(text, MaxValue);
}

void ReadFontText(const std::string& text, TFont& font) {
    TStringList parts;
    SplitText(text, ',', parts);
    TFont read = font;
    read.Style = 0;
    if (parts.Count() >= 3) {
        const std::optional<int> size = IntegerOf(parts.Strings(1));
        const std::optional<TColor> color = ColorOfText(parts.Strings(2));
        if (parts.Strings(0).empty() || !size || *size < MinCaptionPoints || *size > MaxCaptionPoints || !color) return;
        read.Name = parts.Strings(0);
        read.Size = *size;
        read.Color = *color;
    }
    for (int i = 3; i < parts.Count(); ++i)
        for (const TStyleName& style : StyleNames)
            if (SameText(parts.Strings(i), style.name)) read.Style |= style.style;
    font = read;
}

void LoadSettings(TConverter& c) {
    const std::unique_ptr<TRegistry> registry = OpenSettingsKey();
    TellKeptSettingsFile(*registry);
    const auto read = [&](const char* name) { return LeftCharacters(registry->ReadString(name), MaxValue); };

    if (const std::string author = read("Author"); !author.empty()) c.SetAuthor(author);
    ReadMargin(read("BottomMargin"), c.BottomMargin);
    ReadMargin(read("LeftMargin"), c.LeftMargin);
    ReadMargin(read("RightMargin"), c.RightMargin);
    ReadMargin(read("TopMargin"), c.TopMargin);
    const std::string unit = read("LengthUnit");
    c.Metric = unit.empty() || SameText(unit, "CM");
    if (const int mode = TableIndex(read("Mode"), ModeNames); mode >= 0) c.Mode = static_cast<TConvertMode>(mode);
    if (const int orientation = TableIndex(read("Orientation"), OrientationNames); orientation >= 0)
        c.Orientation = static_cast<TBookOrientation>(orientation);
    if (const std::string overwrite = read("Overwrite"); !overwrite.empty())
        c.Overwrite = ParseBoolean(overwrite, false, false);
    if (const std::string paper = read("PaperSizeName"); IsPaperName(paper))
        c.PaperSizeName = paper;
    else if (paper == CustomPaperName)
        ReadCustomPaper(read("CustomPaperWidth"), read("CustomPaperHeight"), c);
    ReadFontText(read("PicDatesFont"), c.PicDatesFont);
    ReadCaptionPos(read("PicDatesPos"), c.PicDatesPos);
    ReadFontText(read("PicNamesFont"), c.PicNamesFont);
    ReadCaptionPos(read("PicNamesPos"), c.PicNamesPos);
    if (const std::string folder = read("PicDirectory"); !folder.empty() && FolderExists(folder)) PicDirectory = folder;
    if (const std::string resolution = read("PicResolution"); !resolution.empty()) {
        const std::optional<int> dpi = IntegerOf(resolution);
        c.PicResolution = dpi && *dpi > 0 ? *dpi : 96;
    }
    if (const int perPage = TableIndex(read("PicsPerPage"), PicsPerPageTexts); perPage >= 0)
        c.PicsPerPage = static_cast<uint8_t>(std::stoi(std::string(PicsPerPageTexts[perPage])));
}

void SaveSettings(TConverter& c) {
    const std::unique_ptr<TRegistry> registry = OpenSettingsKey();
    registry->WriteString("Author", c.GetAuthor());
    registry->WriteString("BottomMargin", std::to_string(c.BottomMargin));
    registry->WriteString("LeftMargin", std::to_string(c.LeftMargin));
    registry->WriteString("RightMargin", std::to_string(c.RightMargin));
    registry->WriteString("TopMargin", std::to_string(c.TopMargin));
    registry->WriteString("ExeFileName", ExecutablePath());
    registry->WriteString("LengthUnit", c.Metric ? "Cm" : "Inch");
    registry->WriteString("Mode", std::string(ModeNames[c.Mode == cmBook]));
    registry->WriteString("Orientation", std::string(OrientationNames[c.Orientation == boLandscape]));
    // Only the writer's own paper names and a custom paper of a valid size reach the file. The
    // custom paper's sides are written with it alone and read only when it is the paper.
    if (HasValidCustomPaper(c)) {
        registry->WriteString("PaperSizeName", CustomPaperName);
        registry->WriteString("CustomPaperWidth", std::to_string(c.CustomPaperWidth));
        registry->WriteString("CustomPaperHeight", std::to_string(c.CustomPaperHeight));
    } else {
        registry->WriteString("PaperSizeName", IsPaperName(c.PaperSizeName) ? c.PaperSizeName : DefaultPaperSizeName());
    }
    registry->WriteString("PicDatesFont", FontToText(c.PicDatesFont));
    registry->WriteString("PicDatesPos", std::to_string(c.PicDatesPos));
    registry->WriteString("PicDirectory", RemoveBackslash(PicDirectory));
    registry->WriteString("PicNamesFont", FontToText(c.PicNamesFont));
    registry->WriteString("PicNamesPos", std::to_string(c.PicNamesPos));
    registry->WriteString("PicResolution", std::to_string(c.PicResolution));
    registry->WriteString("PicsPerPage", std::to_string(c.PicsPerPage));
    registry->WriteString("Overwrite", IntToShortStr(c.Overwrite ? 1 : 0));
    registry->CloseKey();
}
