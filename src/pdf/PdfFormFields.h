#pragma once
// The field kinds a form is built from: a text field, a check box, and a radio group that owns its
// radio buttons. Put without a size, a widget takes one from the canvas's font.
#include <string>
#include <vector>

#include "PdfField.h"

class TRadioButtonField;

class TTextField : public TPdfField {
public:
    TTextField(TPdfCanvas& canvas, std::string name) : TPdfField(canvas, std::move(name)) {}
    std::string Value;

protected:
    void WriteFieldDict() override;
    // A line of the font with half a line of room, twenty digits wide.
    int DefaultHeight() override;
    int DefaultWidth() override;
};

// A widget that is on or off, with an appearance for each state: the on one draws its mark in
// the colour of the canvas's font, the off one nothing.
class TTwoStateWidget : public TPdfField {
public:
    bool Checked = false;

protected:
    using TPdfField::TPdfField;
    // The state and the appearances, the on one under the name given (a PDF name's text).
    void WriteStateEntries(const std::string& onName);
    void AfterPut(int x, int y, int width) override;
    // Page operators drawing the mark into a box of the widget's size, in points.
    virtual std::string Mark(double width, double height) const = 0;
    // A square of one line of the font.
    int DefaultHeight() override;
    int DefaultWidth() override { return DefaultHeight(); }

private:
    int onAppearance_ = 0, offAppearance_ = 0;
};

class TCheckBoxField : public TTwoStateWidget {
public:
    TCheckBoxField(TPdfCanvas& canvas, std::string name) : TTwoStateWidget(canvas, std::move(name)) {}

protected:
    void WriteMKEntries() override;
    void WriteFieldDict() override;
    std::string Mark(double width, double height) const override;
};

// The field of a set of radio buttons, holding the export name of the checked one. Its buttons are
// made and put first; the group is put after them, or at the end of their page.
class TRadioGroupField : public TPdfField {
public:
    TRadioGroupField(TPdfCanvas& canvas, std::string name) : TPdfField(canvas, std::move(name)) {}
    // The background of the group's buttons.
    TBrush GroupBrush;

protected:
    void Put(int x, int y, int width, int height) override;
    void WriteMKEntries() override;
    void WriteFieldDict() override;

private:
    friend class TRadioButtonField;
    std::vector<TRadioButtonField*> buttons_;
};

// A widget of a radio group; its name is the value the group takes when it is checked, and may
// hold any byte but NUL. It shares the group's appearance characteristics.
class TRadioButtonField : public TTwoStateWidget {
public:
    TRadioButtonField(TPdfCanvas& canvas, std::string exportName, TRadioGroupField& group);

protected:
    void Put(int x, int y, int width, int height) override;
    void WriteFieldDict() override;
    std::string Mark(double width, double height) const override;

private:
    TRadioGroupField& group_;
};
