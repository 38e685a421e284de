#pragma once
// Style sheets: named text parameters ("key=value" lines) that inherit from a parent style.
#include <string>

#include "platform/Classes.h"
#include "platform/Graphics.h"

// Empty: black; "r, g, b" with values 0..255; otherwise a colour name without its "cl" prefix.
TColor StyleColor(const std::string& text);

class TPdfStyle {
public:
    explicit TPdfStyle(std::string name) : name_(std::move(name)) {}

    const std::string& Name() const { return name_; }
    TPdfStyle* Parent() const { return parent_; }
    void SetParent(TPdfStyle* parent) { parent_ = parent; }
    TStringList& Params() { return params_; }

    // The trimmed value, taken from the parents when the style has none; empty when absent.
    std::string Param(const std::string& key) const;
    int NumParam(const std::string& key, int defaultValue) const;
    bool HasParam(const std::string& key) const { return !Param(key).empty(); }

    // Font name, size, colour, style flags and character set; the brush colour when a brush is given.
    void ApplyFont(TFont& font, TBrush* brush) const;
    // Left indent (or indent) plus left margin.
    int LeftPosition() const;
    int TopMargin() const { return NumParam("TopMargin", 0); }
    int BottomMargin() const { return NumParam("BottomMargin", 0); }
    int SpaceAfter() const { return NumParam("SpaceAfter", 0); }

private:
    std::string name_;
    TPdfStyle* parent_ = nullptr;
    TStringList params_;
};
