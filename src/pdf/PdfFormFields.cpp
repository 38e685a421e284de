#include "PdfFormFields.h"

#include <algorithm>

#include "PdfCanvas.h"
#include "PdfErrors.h"
#include "PdfOutput.h"

namespace {

// The text of a PDF name: bytes outside "!".."~", delimiters and "#" itself as "#" and two
// hexadecimal digits, so that any export name reads back as it was given.
std::string NameText(const std::string& bytes) {
    static const std::string escaped = "#()<>[]{}/%";
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= ' ' || byte > '~' || escaped.find(c) != std::string::npos) {
            text += '#';
            text += digits[byte >> 4];
            text += digits[byte & 15];
        } else {
            text += c;
        }
    }
    return text;
}

std::string Point(double x, double y) { return FormatNumber(x) + " " + FormatNumber(y); }

}  // namespace

// --- Text field

void TTextField::WriteFieldDict() {
    WriteLine("/FT/Tx");
    if (!Value.empty()) WriteLine("/V " + EncodeString(Value, ObjectNumber()));
}

int TTextField::DefaultHeight() {
    const int line = Canvas().TextHeight("A");
    return line + line / 2;
}

int TTextField::DefaultWidth() { return Canvas().TextWidth(std::string(20, '0')) + Canvas().TextHeight("A") / 2; }

// --- Widgets with an on and an off state

void TTwoStateWidget::WriteStateEntries(const std::string& onName) {
    onAppearance_ = ReserveObject();
    offAppearance_ = ReserveObject();
    WriteLine("/AS /" + (Checked ? onName : std::string("Off")));
    WriteLine("/AP <</N <</" + onName + " " + ObjectRef(onAppearance_) + " /Off " + ObjectRef(offAppearance_) + ">> >>");
}

void TTwoStateWidget::AfterPut(int, int, int) {
    WriteAppearanceStream(onAppearance_, Mark(WidthInPoints(), HeightInPoints()));
    WriteAppearanceStream(offAppearance_, "");
}

int TTwoStateWidget::DefaultHeight() { return Canvas().TextHeight("A"); }

// --- Check box

void TCheckBoxField::WriteMKEntries() {
    // A check mark in the symbol font, for readers that draw the widget themselves.
    WriteLine("/CA " + EncodeString("4", AppearanceObject()));
}

void TCheckBoxField::WriteFieldDict() {
    WriteLine("/FT/Btn");
    WriteLine(Checked ? "/V /Yes" : "/V /Off");
    WriteStateEntries("Yes");
}

std::string TCheckBoxField::Mark(double width, double height) const {
    return ColorOperator(Canvas().GetFont().Color, "RG") + "\n" + FormatNumber(std::min(width, height) / 10) +
           " w\n" + Point(0.2 * width, 0.55 * height) + " m\n" + Point(0.42 * width, 0.3 * height) + " l\n" +
           Point(0.8 * width, 0.75 * height) + " l\nS";
}

// --- Radio group

void TRadioGroupField::Put(int x, int y, int width, int height) {
    // The group lists its buttons, so they must all be on the form already.
    const bool buttonsPut = std::all_of(buttons_.begin(), buttons_.end(), [](auto* b) { return b->IsPut(); });
    if (buttons_.size() < 2 || !buttonsPut) throw EPdfError(SRadioGroupOrder, Name);
    Canvas().Brush() = GroupBrush;
    TPdfField::Put(x, y, width, height);
}

void TRadioGroupField::WriteMKEntries() {
    // Shown as a dot in the symbol font.
    WriteLine("/CA " + EncodeString("l", AppearanceObject()));
}

void TRadioGroupField::WriteFieldDict() {
    const TRadioButtonField* checked = nullptr;
    for (const TRadioButtonField* button : buttons_)
        if (button->Checked) checked = button;
    WriteLine("/FT/Btn");
    if (checked) {
        WriteLine("/V /" + NameText(checked->Name));
        WriteLine("/DV /" + NameText(checked->Name));
    }
    WriteLine("/Kids [");
    for (const TRadioButtonField* button : buttons_) WriteLine(ObjectRef(button->ObjectNumber()));
    WriteLine("]");
    Flags |= 32768;
}

// --- Radio button

TRadioButtonField::TRadioButtonField(TPdfCanvas& canvas, std::string exportName, TRadioGroupField& group)
    : TTwoStateWidget(canvas, std::move(exportName), &group), group_(group) {
    group.buttons_.push_back(this);
}

void TRadioButtonField::Put(int x, int y, int width, int height) {
    if (group_.IsPut()) throw EPdfError(SRadioGroupOrder, group_.Name);
    // The export name becomes a PDF name, which readers refuse to hold a NUL even when escaped.
    if (Name.find('\0') != std::string::npos) throw EPdfError(SNulInExportName, group_.Name);
    TTwoStateWidget::Put(x, y, width, height);
}

void TRadioButtonField::WriteFieldDict() {
    WriteLine("/Parent " + ObjectRef(group_.ObjectNumber()));
    WriteStateEntries(NameText(Name));
}

std::string TRadioButtonField::Mark(double width, double height) const {
    // A dot of half the widget's side: four Bézier quarters.
    const double cx = width / 2, cy = height / 2, r = std::min(width, height) / 4, k = 0.5523 * r;
    return ColorOperator(Canvas().GetFont().Color, "rg") + "\n" + Point(cx + r, cy) + " m\n" +
           Point(cx + r, cy + k) + " " + Point(cx + k, cy + r) + " " + Point(cx, cy + r) + " c\n" +
           Point(cx - k, cy + r) + " " + Point(cx - r, cy + k) + " " + Point(cx - r, cy) + " c\n" +
           Point(cx - r, cy - k) + " " + Point(cx - k, cy - r) + " " + Point(cx, cy - r) + " c\n" +
           Point(cx + k, cy - r) + " " + Point(cx + r, cy - k) + " " + Point(cx + r, cy) + " c\nf";
}
