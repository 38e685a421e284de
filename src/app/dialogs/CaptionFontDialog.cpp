#include "app/dialogs/CaptionFontDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFontDialog>
#include <QFormLayout>
#include <QPixmap>
#include <QVBoxLayout>

#include "app/engine/ConverterSettings.h"
#include "platform/Graphics.h"

namespace {

// The colours that have names, in the order of the platform's font dialog.
constexpr TColor NamedColors[] = {clBlack, clMaroon, clGreen,  clOlive, clNavy,    clPurple, clTeal, clGray,
                                  clSilver, clRed,   clLime,   clYellow, clBlue,   clFuchsia, clAqua, clWhite};

// "Navy" for a named colour, "$00BBGGRR" for any other, as the settings write it.
QString ColorCaption(TColor color) {
    std::string ident;
    return QString::fromStdString(ColorToIdent(color, ident) ? ident.substr(2) : ColorToString(color));
}

QIcon Swatch(TColor color) {
    const TColor rgb = ColorToRGB(color);
    QPixmap pixmap(16, 16);
    pixmap.fill(QColor(GetRValue(rgb), GetGValue(rgb), GetBValue(rgb)));
    return QIcon(pixmap);
}

}  // namespace

TCaptionFontDialog::TCaptionFontDialog(const TFont& font, QWidget* parent) : QDialog(parent) {
    setWindowTitle("Font");
    QFont initial(QString::fromStdString(font.Name), font.Size);
    initial.setBold(font.Style & fsBold);
    initial.setItalic(font.Style & fsItalic);
    initial.setUnderline(font.Style & fsUnderline);
    initial.setStrikeOut(font.Style & fsStrikeOut);
    // Qt's font dialog as a part of this one: its own buttons give way to ours.
    fontDialog = new QFontDialog(initial, this);
    fontDialog->setWindowFlags(Qt::Widget);
    fontDialog->setOptions(QFontDialog::NoButtons | QFontDialog::DontUseNativeDialog);

    cbColor = new QComboBox(this);
    for (const TColor color : NamedColors) cbColor->addItem(Swatch(color), ColorCaption(color), color);
    if (cbColor->findData(font.Color) < 0) cbColor->addItem(Swatch(font.Color), ColorCaption(font.Color), font.Color);
    cbColor->setCurrentIndex(cbColor->findData(font.Color));

    auto* colorRow = new QFormLayout;
    colorRow->addRow("&Color:", cbColor);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(fontDialog);
    layout->addLayout(colorRow);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

bool TCaptionFontDialog::TakeChosenFont(TFont& font) const {
    const QFont chosen = fontDialog->currentFont();
    // A size in pixels has no point size: refused like a size that is no number; a size the
    // settings would not read back is refused too.
    if (chosen.pointSize() < MinCaptionPoints || chosen.pointSize() > MaxCaptionPoints) return false;
    font.Name = chosen.family().toStdString();
    font.Size = chosen.pointSize();
    font.Style = (chosen.bold() ? unsigned(fsBold) : 0u) | (chosen.italic() ? unsigned(fsItalic) : 0u) |
                 (chosen.underline() ? unsigned(fsUnderline) : 0u) | (chosen.strikeOut() ? unsigned(fsStrikeOut) : 0u);
    font.Color = cbColor->currentData().toInt();
    return true;
}

bool ChooseFontWithDialog(TFont& font, QWidget* parent) {
    TCaptionFontDialog dialog(font, parent);
    return dialog.exec() == QDialog::Accepted && dialog.TakeChosenFont(font);
}
