#pragma once
// The font dialog of the book captions: the font dialog's name, style and size, with the colour
// that a caption font also carries.
#include <QDialog>

class QComboBox;
class QFontDialog;
class TFont;

class TCaptionFontDialog : public QDialog {
public:
    // Offers the font, its colour among the named colours (or beside them when it has no name).
    explicit TCaptionFontDialog(const TFont& font, QWidget* parent = nullptr);

    // Writes the chosen font over `font`; false, leaving it alone, when the chosen size is no
    // number of points or outside the caption sizes.
    bool TakeChosenFont(TFont& font) const;

    QFontDialog* fontDialog;
    QComboBox* cbColor;
};

// Runs the dialog on the font; false when cancelled or the size is no caption size in points.
bool ChooseFontWithDialog(TFont& font, QWidget* parent);
