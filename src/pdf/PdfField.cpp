#include "PdfField.h"

#include <cstdlib>

#include "PdfCanvas.h"
#include "PdfErrors.h"
#include "PdfFont.h"
#include "PdfSecurity.h"

namespace {

const char* const EventKeys[] = {"V", "E", "X", "F", "Fo", "K", "Bl", "D", "U"};
const char BorderStyleLetters[] = "SDBIU";

}  // namespace

TPdfField::TPdfField(TPdfCanvas& canvas, std::string name, TPdfField* parent)
    : Name(std::move(name)), canvas_(canvas), parent_(parent) {}

void TPdfField::AddAction(TPdfFieldEvent event, TPdfActionKind kind, std::string text) {
    // An event is a key of the actions dictionary, which may hold each key once.
    for (TAction& action : actions_)
        if (action.event == event) {
            action.kind = kind;
            action.text = std::move(text);
            return;
        }
    actions_.push_back(TAction{event, kind, std::move(text)});
}

void TPdfField::PutOnForm(int x, int y, int width, int height) {
    canvas_.owner_.Guarded([&] {
        if (!canvas_.CheckDocument()) return;
        // A kind may draw with its own brush; the caller's drawing state comes back afterwards.
        const TFont font = canvas_.font_;
        const TBrush brush = canvas_.brush_;
        const TPen pen = canvas_.pen_;
        Put(x, y, width, height);
        canvas_.font_ = font;
        canvas_.brush_ = brush;
        canvas_.pen_ = pen;
    });
}

void TPdfField::Put(int x, int y, int width, int height) {
    if (put_) throw EPdfError(SFieldAlreadyPut, Name);
    put_ = true;
    const bool reserved = objectNumber_ != 0;
    if (height == 0) height = DefaultHeight();
    if (width == 0) width = DefaultWidth();
    widthPoints_ = canvas_.X(width);
    heightPoints_ = canvas_.X(height);
    WriteAppearance();
    for (TAction& action : actions_) WriteAction(action);
    WriteFieldObject(x, y, width, height, reserved);
    AfterPut(x, y, width);
    if (!reserved) canvas_.annotations_.push_back(objectNumber_);
}

void TPdfField::WriteLine(const std::string& line) { canvas_.output_.WriteLine(line); }

std::string TPdfField::EncodeString(const std::string& utf8, int objectNumber) const {
    return canvas_.EncodeTextString(utf8, objectNumber);
}

std::string TPdfField::ColorOperator(TColor color, const char* op) const { return canvas_.Color(color, op); }

int TPdfField::ReserveObject() { return canvas_.output_.NewObjectNumber(); }

void TPdfField::WriteAppearanceStream(int objectNumber, std::string content) {
    TPdfOutput& output = canvas_.output_;
    output.BeginReservedObject(objectNumber);
    output.WriteLine("/Type/XObject");
    output.WriteLine("/Subtype/Form");
    output.WriteLine("/BBox[0 0 " + FormatNumber(widthPoints_) + " " + FormatNumber(heightPoints_) + "]");
    output.WriteLine("/Length " + std::to_string(content.size()));
    output.WriteLine(">>");
    canvas_.owner_.Security().Encrypt(content, objectNumber);
    output.WriteStreamAndEnd(content);
}

int TPdfField::ReserveForKids() {
    if (objectNumber_ == 0) {
        objectNumber_ = ReserveObject();
        appearanceObject_ = ReserveObject();
    }
    return appearanceObject_;
}

void TPdfField::WriteAppearance() {
    const TFont& font = canvas_.font_;
    defaultAppearance_ = canvas_.FontFor(font).ResourceName() + " " + std::to_string(std::abs(font.Size)) + " Tf " +
                         canvas_.Color(font.Color, "rg");
    if (parent_) {
        appearanceObject_ = parent_->ReserveForKids();
        return;
    }
    TPdfOutput& output = canvas_.output_;
    if (appearanceObject_)
        output.BeginReservedObject(appearanceObject_);
    else
        appearanceObject_ = output.BeginDictObject();
    output.WriteLine("/BC [" + canvas_.Color(BorderColor, "") + "]");
    output.WriteLine("/BG [" + canvas_.Color(canvas_.brush_.Color, "") + "]");
    WriteMKEntries();
    output.EndDictObject();
}

std::vector<std::string> TPdfField::ActionLines(const TAction& action, int objectNumber) const {
    const auto text = [&] { return EncodeString(action.text, objectNumber); };
    switch (action.kind) {
        case TPdfActionKind::Link: return canvas_.LinkAction(action.text, objectNumber);
        case TPdfActionKind::Hide: return {"/S/Hide", "/T " + text(), "/H true"};
        case TPdfActionKind::Show: return {"/S/Hide", "/T " + text(), "/H false"};
        case TPdfActionKind::Submit: return {"/S/SubmitForm", "/F " + text()};
        case TPdfActionKind::Reset: return {"/S/ResetForm"};
        case TPdfActionKind::Import: return {"/S/ImportData", "/F " + text()};
        case TPdfActionKind::Script: return {"/S/JavaScript", "/JS " + text()};
    }
    return {};
}

void TPdfField::WriteAction(TAction& action) {
    TPdfOutput& output = canvas_.output_;
    action.objectNumber = output.NewObjectNumber();
    const std::vector<std::string> lines = ActionLines(action, action.objectNumber);
    output.BeginReservedObject(action.objectNumber);
    for (const std::string& line : lines) output.WriteLine(line);
    output.EndDictObject();
}

void TPdfField::WriteFieldObject(int x, int y, int width, int height, bool reserved) {
    TPdfOutput& output = canvas_.output_;
    if (!parent_) Flags = (ReadOnly ? 1u : 0u) | (Required ? 2u : 0u) | (NoExport ? 4u : 0u);
    if (reserved) {
        output.BeginReservedObject(objectNumber_);
    } else {
        objectNumber_ = output.BeginDictObject();
        output.WriteLine("/Type/Annot");
        output.WriteLine("/Subtype/Widget");
        output.WriteLine("/Rect[" + FormatNumber(canvas_.X(x)) + " " + FormatNumber(canvas_.Y(y)) + " " +
                         FormatNumber(canvas_.X(x + width)) + " " + FormatNumber(canvas_.Y(y + height)) + "]");
        output.WriteLine("/MK " + ObjectRef(appearanceObject_));
    }
    const int annotationFlags = (Visible ? 0 : 2) + (Printable ? 4 : 0);
    if (annotationFlags != 0) output.WriteLine("/F " + std::to_string(annotationFlags));
    if (!parent_) {
        output.WriteLine("/T " + EncodeString(Name, objectNumber_));
        if (!Tooltip.empty()) output.WriteLine("/TU " + EncodeString(Tooltip, objectNumber_));
    }
    std::string border = "/BS <<";
    if (BorderWidth == 0) {
        border += "/W 0";
    } else {
        if (BorderWidth != 1) border += "/W " + std::to_string(BorderWidth) + " ";
        border += std::string("/S/") + BorderStyleLetters[static_cast<int>(BorderStyle)];
    }
    output.WriteLine(border + ">>");
    output.WriteLine("/DA " + canvas_.Encode(defaultAppearance_, objectNumber_));
    if (!actions_.empty()) {
        output.WriteLine("/AA<<");
        for (const TAction& action : actions_)
            output.WriteLine(std::string("/") + EventKeys[static_cast<int>(action.event)] + " " +
                             ObjectRef(action.objectNumber));
        output.WriteLine(">>");
    }
    WriteFieldDict();
    if (Flags != 0) output.WriteLine("/Ff " + std::to_string(Flags));
    output.EndDictObject();
}
