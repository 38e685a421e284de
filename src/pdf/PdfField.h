#pragma once
// The base of interactive form fields: a widget annotation merged with its field dictionary, the
// appearance characteristics it is drawn with, and actions run on field events. The kinds a form
// is built from are in PdfFormFields.h.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Graphics.h"

class TPdfCanvas;

// The events an action runs on; their keys are "V", "E", "X", "F", "Fo", "K", "Bl", "D", "U".
enum class TPdfFieldEvent { Validate, Enter, Exit, Format, Focus, Keystroke, Blur, MouseDown, MouseUp };
// What an action does with its text: follows it as a link target, hides or shows the field of that
// name, submits the form to that address, resets the form (no text), imports data from that file,
// or runs it as a script.
enum class TPdfActionKind { Link, Hide, Show, Submit, Reset, Import, Script };
enum class TPdfBorderStyle { Solid, Dashed, Beveled, Inset, Underline };

class TPdfField {
public:
    // Fields are made by TPdfCanvas::AddField, which owns them until the document ends.
    TPdfField(TPdfCanvas& canvas, std::string name, TPdfField* parent = nullptr);
    virtual ~TPdfField() = default;
    TPdfField(const TPdfField&) = delete;
    TPdfField& operator=(const TPdfField&) = delete;

    // Settings, read when the field is put. The name is the field's own part of its full name,
    // and a button's export value.
    std::string Name;
    std::string Tooltip;
    bool ReadOnly = false, Required = false, NoExport = false;
    bool Visible = true, Printable = true;
    int BorderWidth = 1;  // points
    TPdfBorderStyle BorderStyle = TPdfBorderStyle::Solid;
    TColor BorderColor = clBlack;
    // One action per event: a later one for the same event replaces the earlier.
    void AddAction(TPdfFieldEvent event, TPdfActionKind kind, std::string text = {});

    // Puts the field on the current page with its top left corner at (x, y), in the length unit;
    // a zero width or height takes the kind's default. The canvas's font gives the field's text
    // appearance and its brush the background. A field is put once.
    void PutOnForm(int x, int y, int width, int height);
    bool IsPut() const { return put_; }
    // Not a kid of another field: the form lists it.
    bool IsTopLevel() const { return parent_ == nullptr; }
    // 0 until the field is written or a kid reserves it.
    int ObjectNumber() const { return objectNumber_; }

protected:
    // The field-type entries of the field dictionary.
    virtual void WriteFieldDict() = 0;
    // Extra entries of the appearance characteristics.
    virtual void WriteMKEntries() {}
    // Runs after the field dictionary is written, for the objects it refers to.
    virtual void AfterPut(int /*x*/, int /*y*/, int /*width*/) {}
    virtual int DefaultHeight() { return 0; }
    virtual int DefaultWidth() { return 0; }
    virtual void Put(int x, int y, int width, int height);

    TPdfCanvas& Canvas() const { return canvas_; }
    void WriteLine(const std::string& line);
    // Text as a PDF string of the given object, encrypted with its key in a protected document.
    std::string EncodeString(const std::string& utf8, int objectNumber) const;
    // Red, green and blue and the operator: "1 0.502 0 rg".
    std::string ColorOperator(TColor color, const char* op) const;
    int AppearanceObject() const { return appearanceObject_; }
    int ReserveObject();
    // A form XObject of the widget's size at a reserved number.
    void WriteAppearanceStream(int objectNumber, std::string content);
    // The widget's size in points, once put.
    double WidthInPoints() const { return widthPoints_; }
    double HeightInPoints() const { return heightPoints_; }
    uint32_t Flags = 0;

private:
    struct TAction {
        TPdfFieldEvent event;
        TPdfActionKind kind;
        std::string text;
        int objectNumber = 0;
    };
    // Numbers taken for a parent by its first kid: the field and its appearance characteristics.
    int ReserveForKids();
    void WriteAppearance();
    void WriteAction(TAction& action);
    std::vector<std::string> ActionLines(const TAction& action, int objectNumber) const;
    void WriteFieldObject(int x, int y, int width, int height, bool reserved);

    TPdfCanvas& canvas_;
    TPdfField* parent_;
    std::vector<TAction> actions_;
    std::string defaultAppearance_;
    int appearanceObject_ = 0;
    int objectNumber_ = 0;
    double widthPoints_ = 0, heightPoints_ = 0;
    bool put_ = false;
};
