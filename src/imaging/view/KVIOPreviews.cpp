#include "imaging/view/KVIOPreviews.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QSignalBlocker>
#include <QProxyStyle>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVStreams.h"
#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KestovaIO.h"
#include "imaging/proc/KestovaProc.h"
#include "imaging/view/KVPaletteDialog.h"
#include "imaging/view/KestovaView.h"
#include "platform/qt/QtCanvas.h"

namespace {

// Colour lists: each entry's bits per sample and samples per pixel.
struct TColours {
    int bits, samples;
};
const std::vector<TColours> BwTo16M = {{1, 1}, {4, 1}, {8, 1}, {16, 1}, {8, 3}};  // TIFF
const std::vector<TColours> TiffSimplified = {{1, 1}, {4, 1}, {8, 1}, {8, 3}};
const QStringList TiffSimplifiedItems = {"2", "16", "256", "16777216"};
const std::vector<TColours> BmpColours = {{1, 1}, {4, 1}, {8, 1}, {8, 3}, {8, 3}};
const std::vector<TColours> PcxColours = {{1, 1}, {4, 1}, {8, 1}, {8, 3}};
const std::vector<TColours> PngTgaColours = {{1, 1}, {8, 1}, {8, 3}};

int ColoursIndex(const std::vector<TColours>& list, const TIOParamsVals& p) {
    for (size_t i = 0; i < list.size(); ++i)
        if (list[i].bits == p.BitsPerSample && list[i].samples == p.SamplesPerPixel) return static_cast<int>(i);
    return static_cast<int>(list.size()) - 1;
}

// The TIFF compression values in list order; LZW only with an encoder.
std::vector<int> TiffCompressions(bool withLzw) {
    std::vector<int> values = {0, 1, 2, 3, 4};
    if (withLzw) values.push_back(5);
    values.push_back(7);
    values.push_back(8);
    return values;
}

// The dialog is drawn for 96 dpi; its pixel sizes grow with the dpi that Qt leaves to the widgets
// (Qt's device-pixel ratio covers the rest), rounded as the program's other dialogs are.
int ScaledPixels(int pixels, int dpi) { return static_cast<int>(std::nearbyint(pixels * dpi / 96.0)); }

constexpr double CmPerInch = 2.54;

int ParsedOr(const QString& text, int otherwise) {
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    return ok ? value : otherwise;
}

}  // namespace

// Track bars with a thumb of a chosen length.
struct TfIOPreviews::TThumbStyle : QProxyStyle {
    int Length = 10;
    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override {
        return metric == PM_SliderLength ? Length : QProxyStyle::pixelMetric(metric, option, widget);
    }
};

struct TfIOPreviews::TPage {
    int fileType;
    uint16_t flag;
    QWidget* widget;
    QScrollArea* sheet;  // the tab, holding the widget
    QFormLayout* form;
    QLabel* originalSize;
    QLabel* compressedSize;
    std::vector<std::function<void()>> fillers;  // working values into the controls
    std::vector<std::pair<QWidget*, int>> captions;  // controls captioned from the word table
    std::vector<int> advancedRows;                   // hidden in the simplified variant
};

TfIOPreviews::TfIOPreviews(TIOParamsVals& params, TKVBitmap& picture, QWidget* parent)
    : QDialog(parent), params_(params), picture_(picture), working_(std::make_unique<TIOParamsVals>(nullptr)) {
    setWindowTitle("Parameters preview");
    thumbStyle_ = new TThumbStyle;
    thumbStyle_->setParent(this);
    ChoosePaletteColour = [this](const uint8_t* palette, int count, int& colour) {
        TKestovaPaletteDialog dialog(this);
        dialog.SetPalette(palette, count);
        if (!dialog.Execute()) return false;
        colour = dialog.SelectedColor;
        return true;
    };

    laSource_ = new QLabel("Source:", this);
    laResult_ = new QLabel("Result:", this);
    source_ = new TKestovaView(this);
    result_ = new TKestovaView(this);
    for (TKestovaView* view : {source_, result_}) view->SetBackground(0xFFFFFF);
    // The result follows the source's zoom and scroll position.
    source_->OnViewChange = [this](int) {
        result_->SetZoom(source_->Zoom());
        result_->SetOrigin(source_->OriginX(), source_->OriginY());
    };
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setRange(0, 100);
    PageControl1 = new QTabWidget(this);
    chkLockPreview = new QCheckBox("Lock Preview", this);
    chkLockPreview->setToolTip("Automatically updates your preview with the changes you have selected");
    btOk = new QPushButton("OK", this);
    btOk->setDefault(true);
    btCancel = new QPushButton("Cancel", this);
    btPreview = new QPushButton("&Preview", this);
    btApply = new QPushButton("&Apply", this);
    btApply->setEnabled(false);

    auto* views = new QGridLayout;
    views->addWidget(laSource_, 0, 0);
    views->addWidget(laResult_, 0, 1);
    views->addWidget(source_, 1, 0);
    views->addWidget(result_, 1, 1);
    views->addWidget(ProgressBar1, 2, 0, 1, 2);
    auto* buttons = new QVBoxLayout;
    for (QPushButton* button : {btOk, btCancel, btPreview, btApply}) buttons->addWidget(button);
    buttons->addStretch();
    auto* top = new QHBoxLayout;
    top->addLayout(views);
    top->addLayout(buttons);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(PageControl1, 1);
    layout->addWidget(chkLockPreview);
    layout->addStretch();  // room the fixed-height pages of the simplified form leave
    for (QLabel* label : {laSource_, laResult_}) label->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    BuildPages();

    connect(btOk, &QPushButton::clicked, this, [this] {
        Apply();
        accept();
    });
    connect(btCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(btPreview, &QPushButton::clicked, this, [this] { Preview(); });
    connect(btApply, &QPushButton::clicked, this, [this] {
        Apply();
        btApply->setEnabled(false);
    });
    connect(chkLockPreview, &QCheckBox::toggled, this, [this](bool locked) { btPreview->setEnabled(!locked); });
    connect(PageControl1, &QTabWidget::currentChanged, this, [this] { PageChanged(); });
}

TfIOPreviews::~TfIOPreviews() = default;

TfIOPreviews::TPage& TfIOPreviews::AddPage(int fileType, const char* caption) {
    static const std::pair<int, uint16_t> flags[] = {{kvftJPEG, ppJPEG}, {kvftTIFF, ppTIFF}, {kvftGIF, ppGIF},
                                                     {kvftBMP, ppBMP},   {kvftPCX, ppPCX},   {kvftPNG, ppPNG},
                                                     {kvftTGA, ppTGA},   {kvftJ2K, ppJ2000}};
    auto page = std::make_unique<TPage>();
    page->fileType = fileType;
    page->flag = std::find_if(std::begin(flags), std::end(flags), [&](auto& f) { return f.first == fileType; })->second;
    page->widget = new QWidget;
    page->widget->setWindowTitle(caption);
    // The dialog keeps its designed size; a page that needs more room than the font leaves scrolls.
    page->sheet = new QScrollArea;
    page->sheet->setWidgetResizable(true);
    page->sheet->setFrameShape(QFrame::NoFrame);
    page->sheet->setWidget(page->widget);
    page->form = new QFormLayout(page->widget);
    page->originalSize = new QLabel(page->widget);
    page->compressedSize = new QLabel(page->widget);
    pages_.push_back(std::move(page));
    return *pages_.back();
}

void TfIOPreviews::BuildPages() {
    TIOParamsVals& w = *working_;
    // Rows added while set are hidden in the simplified pages.
    bool advanced = false;
    // Each control shows a working value and writes it back on every change.
    const auto combo = [this, &advanced](TPage& page, int word, QStringList items, std::function<int()> get,
                              std::function<void(int)> set) {
        auto* box = new QComboBox(page.widget);
        box->addItems(items);
        auto* label = new QLabel(page.widget);
        page.form->addRow(label, box);
        if (advanced) page.advancedRows.push_back(page.form->rowCount() - 1);
        page.captions.push_back({label, word});
        page.fillers.push_back([box, get] { box->setCurrentIndex(get()); });
        connect(box, &QComboBox::activated, this, [this, set](int index) {
            set(index);
            Changed();
        });
        return box;
    };
    const auto spin = [this, &advanced](TPage& page, int word, int min, int max, int* field) {
        auto* edit = new QSpinBox(page.widget);
        edit->setRange(min, max);
        auto* label = new QLabel(page.widget);
        page.form->addRow(label, edit);
        if (advanced) page.advancedRows.push_back(page.form->rowCount() - 1);
        page.captions.push_back({label, word});
        page.fillers.push_back([edit, field] { edit->setValue(*field); });
        connect(edit, &QSpinBox::valueChanged, this, [this, field](int value) {
            if (busy_) return;
            *field = value;
            Changed();
        });
    };
    // A length the record keeps in whole inches, shown in inches or in centimetres.
    const auto length = [this, &advanced](TPage& page, int inchWord, int plainWord, int* field) {
        auto* edit = new QDoubleSpinBox(page.widget);
        auto* label = new QLabel(page.widget);
        page.form->addRow(label, edit);
        if (advanced) page.advancedRows.push_back(page.form->rowCount() - 1);
        lengths_.push_back({label, inchWord, plainWord});
        page.fillers.push_back([this, edit, field] {
            edit->setDecimals(metric_ ? 2 : 0);
            edit->setRange(0, metric_ ? 100000 * CmPerInch : 100000);
            edit->setValue(metric_ ? *field * CmPerInch : *field);
        });
        connect(edit, &QDoubleSpinBox::valueChanged, this, [this, field](double value) {
            if (busy_) return;
            *field = static_cast<int>(std::nearbyint(metric_ ? value / CmPerInch : value));
            Changed();
        });
    };
    const auto check = [this, &advanced](TPage& page, int word, bool* field) {
        auto* box = new QCheckBox(page.widget);
        page.form->addRow(box);
        if (advanced) page.advancedRows.push_back(page.form->rowCount() - 1);
        page.captions.push_back({box, word});
        page.fillers.push_back([box, field] { box->setChecked(*field); });
        connect(box, &QCheckBox::clicked, this, [this, field](bool on) {
            *field = on;
            Changed();
        });
    };
    const auto text = [this, &advanced](TPage& page, int word, std::string* field) {
        auto* edit = new QLineEdit(page.widget);
        auto* label = new QLabel(page.widget);
        page.form->addRow(label, edit);
        if (advanced) page.advancedRows.push_back(page.form->rowCount() - 1);
        page.captions.push_back({label, word});
        page.fillers.push_back([edit, field] { edit->setText(QString::fromStdString(*field)); });
        connect(edit, &QLineEdit::textEdited, this, [this, field](const QString& value) {
            *field = value.toStdString();
            Changed();
        });
    };
    const auto colourPanel = [this, &advanced](TPage& page, int word, TKVRGB* field) {
        auto* panel = new QPushButton(page.widget);
        colourPanels_.push_back(panel);
        auto* label = new QLabel(page.widget);
        page.form->addRow(label, panel);
        if (advanced) page.advancedRows.push_back(page.form->rowCount() - 1);
        page.captions.push_back({label, word});
        const auto show = [panel, field] {
            panel->setStyleSheet(QString("background-color: rgb(%1,%2,%3)").arg(field->r).arg(field->g).arg(field->b));
        };
        page.fillers.push_back(show);
        connect(panel, &QPushButton::clicked, this, [this, field, show] {
            uint8_t bgr[3];
            if (!PickColour(bgr)) return;
            *field = {bgr[0], bgr[1], bgr[2]};
            show();
            btApply->setEnabled(true);
        });
    };
    // A number typed in an edit and a track bar that follow each other.
    const auto slider = [this, &advanced](TPage& page, int word, int max, int otherwise, std::function<int()> get,
                               std::function<void(int)> set) {
        auto* edit = new QLineEdit(page.widget);
        auto* bar = new QSlider(Qt::Horizontal, page.widget);
        bar->setRange(0, max);
        bar->setStyle(thumbStyle_);
        auto* row = new QHBoxLayout;
        row->addWidget(edit);
        row->addWidget(bar, 1);
        auto* label = new QLabel(page.widget);
        page.form->addRow(label, row);
        if (advanced) page.advancedRows.push_back(page.form->rowCount() - 1);
        page.captions.push_back({label, word});
        page.fillers.push_back([edit, bar, get] {
            edit->setText(QString::number(get()));
            bar->setValue(get());
        });
        connect(edit, &QLineEdit::textEdited, this, [this, bar, set, otherwise](const QString& value) {
            const int number = ParsedOr(value, otherwise);
            set(number);
            const QSignalBlocker quiet(bar);
            bar->setValue(number);
            Changed();
        });
        connect(bar, &QSlider::valueChanged, this, [this, edit, set](int value) {
            if (busy_) return;
            set(value);
            edit->setText(QString::number(value));
            Changed();
        });
    };
    const auto colours = [&](TPage& page, const std::vector<TColours>& list, QStringList items) {
        combo(page, 58, items, [&w, &list] { return ColoursIndex(list, w); },
              [&w, &list](int i) { w.BitsPerSample = list[i].bits, w.SamplesPerPixel = list[i].samples; });
    };

    TPage& jpeg = AddPage(kvftJPEG, "JPEG");
    slider(jpeg, 38, 100, 50, [&w] { return w.JpegQuality; }, [&w](int q) { w.JpegQuality = q; });
    advanced = true;
    combo(jpeg, 39, {"ISLOW", "IFAST", "FLOAT"}, [&w] { return int(w.JpegDCTMethod); },
          [&w](int i) { w.JpegDCTMethod = uint8_t(i); });
    spin(jpeg, 40, 0, 100, &w.JpegSmooth);
    combo(jpeg, 49, {"RGB", "GrayScale", "YCbCr", "CMYK", "YCbCrK"}, [&w] { return int(w.JpegColorSpace); },
          [&w](int i) { w.JpegColorSpace = uint8_t(i); });
    check(jpeg, 42, &w.JpegOptimalHuffman);
    check(jpeg, 46, &w.JpegProgressive);

    advanced = false;
    TPage& tiff = AddPage(kvftTIFF, "TIFF");
    const bool lzw = params_.TiffLZWCompressor != nullptr;
    QStringList tiffCompressions = {"UNCOMPRESSED", "CCITT1D", "G3FAX1D", "G3FAX2D", "G4FAX"};
    if (lzw) tiffCompressions << "LZW";
    tiffCompressions << "JPEG" << "PACKBITS";
    combo(tiff, 47, tiffCompressions,
          [&w, lzw] {
              const auto values = TiffCompressions(lzw);
              const auto at = std::find(values.begin(), values.end(), int(w.TiffCompression));
              // Without an encoder, LZW shows as the entry after it.
              if (!lzw && w.TiffCompression == 5) return 6;
              return at == values.end() ? 0 : int(at - values.begin());
          },
          [&w, lzw](int i) { w.TiffCompression = uint8_t(TiffCompressions(lzw)[i]); });
    advanced = true;
    spin(tiff, 48, 0, 1000, &w.TiffImageIndex);
    combo(tiff, 49,
          {"WHITEISZERO/Gray", "BLACKISZERO/Gray", "RGB", "RGBPALETTE", "TRANSPMASK", "CMYK", "YCBCR", "CIELAB"},
          [&w] { return int(w.TiffPhotometric); },
          [this, &w](int i) {
              w.TiffPhotometric = uint8_t(i);
              if (i == 2 || i >= 5) w.BitsPerSample = 8, w.SamplesPerPixel = 3;
              if (i == 3) w.BitsPerSample = 8, w.SamplesPerPixel = 1;
              FillControls();
          });
    advanced = false;
    tiffColours_ = combo(tiff, 58, {"B/W", "16", "256", "65536", "16M"},
          [this, &w] { return ColoursIndex(simplified_ ? TiffSimplified : BwTo16M, w); },
          [this, &w](int i) {
              const TColours& chosen = (simplified_ ? TiffSimplified : BwTo16M)[i];
              w.BitsPerSample = chosen.bits, w.SamplesPerPixel = chosen.samples;
              if (i == 0) w.TiffPhotometric = 1;
              if (i == 1) w.TiffPhotometric = 3;
              FillControls();
          });
    advanced = true;
    length(tiff, 56, 63, &w.TiffXPos);
    length(tiff, 57, 64, &w.TiffYPos);
    units_ = new QComboBox(tiff.widget);
    units_->setObjectName("units");
    units_->addItems({"inches", "cm"});
    unitsLabel_ = new QLabel(tiff.widget);
    tiff.form->addRow(unitsLabel_, units_);
    tiff.form->setRowVisible(units_, false);  // only where the unit is selectable
    connect(units_, &QComboBox::activated, this, [this](int index) {
        metric_ = index == 1;
        ShowUnit();
    });
    text(tiff, 51, &w.TiffDocumentName);
    text(tiff, 52, &w.TiffImageDescription);
    text(tiff, 53, &w.TiffPageName);
    spin(tiff, 54, 0, 65535, &w.TiffPageNumber);
    spin(tiff, 55, 0, 65535, &w.TiffPageCount);

    TPage& gif = AddPage(kvftGIF, "GIF");
    spin(gif, 48, 0, 1000, &w.GifImageIndex);
    advanced = false;
    combo(gif, 58, {"B/W", "4", "8", "16", "32", "64", "128", "256"},
          [&w] { return std::clamp(w.BitsPerSample * w.SamplesPerPixel, 1, 8) - 1; },
          [&w](int i) { w.BitsPerSample = i + 1, w.SamplesPerPixel = 1; });
    advanced = true;
    check(gif, 59, &w.GifTransparent);
    colourPanel(gif, 60, &w.GifTranspColor);
    check(gif, 61, &w.GifInterlaced);
    colourPanel(gif, 62, &w.GifBackground);
    spin(gif, 65, 0, 65535, &w.GifDelayTime);
    spin(gif, 63, 0, 65535, &w.GifXPos);
    spin(gif, 64, 0, 65535, &w.GifYPos);

    advanced = false;
    TPage& bmp = AddPage(kvftBMP, "BMP");
    combo(bmp, 47, {"UNCOMPRESSED", "RLE"}, [&w] { return int(w.BmpCompression); },
          [&w](int i) { w.BmpCompression = uint8_t(i); });
    colours(bmp, BmpColours, {"B/W", "16", "256", "16M", "16M (32bit)"});

    TPage& pcx = AddPage(kvftPCX, "PCX");
    combo(pcx, 47, {"UNCOMPRESSED", "RLE"}, [&w] { return w.PcxCompressed ? 1 : 0; },
          [&w](int i) { w.PcxCompressed = i == 1; });
    colours(pcx, PcxColours, {"B/W", "16", "256", "16M"});

    TPage& png = AddPage(kvftPNG, "PNG");
    colours(png, PngTgaColours, {"B/W", "256", "16M"});
    advanced = true;
    colourPanel(png, 62, &w.PngBackground);
    combo(png, 66, {"None", "Sub", "Paeth"}, [&w] { return std::min(int(w.PngFilter), 2); },
          [&w](int i) { w.PngFilter = uint8_t(i); });
    check(png, 61, &w.PngInterlaced);
    combo(png, 47, {"None", "1", "2", "3", "4", "5", "6", "7", "8", "Max"},
          [&w] { return std::clamp(w.PngCompression, 0, 9); }, [&w](int i) { w.PngCompression = i; });

    advanced = false;
    TPage& tga = AddPage(kvftTGA, "TGA");
    colours(tga, PngTgaColours, {"B/W", "256", "16M"});
    advanced = true;
    colourPanel(tga, 62, &w.TgaBackground);
    check(tga, 47, &w.TgaCompressed);
    text(tga, 51, &w.TgaImageName);
    text(tga, 52, &w.TgaDescriptor);

    advanced = false;
    TPage& j2k = AddPage(kvftJ2K, "JPEG2000");
    slider(j2k, 123, 1000, 1000, [&w] { return int(std::lround(w.J2KRate * 1000)); },
           [&w](int r) { w.J2KRate = r / 1000.0; });
    advanced = true;
    combo(j2k, 49, {"GrayScale", "RGB", "YCbCr"}, [&w] { return int(w.J2KColorSpace); },
          [&w](int i) { w.J2KColorSpace = uint8_t(i); });

    for (auto& page : pages_) {
        page->form->addRow(new QLabel("Original size:", page->widget), page->originalSize);
        page->form->addRow(new QLabel("Compressed size:", page->widget), page->compressedSize);
    }
    LocalizeCaptions(msEnglish);
}

void TfIOPreviews::LocalizeCaptions(TMsgLanguage language) {
    language_ = language;
    const auto word = [language](int id) { return QString::fromStdString(KVGetMessageText(id, language)); };
    unitsLabel_->setText(word(122));
    units_->setItemText(0, word(93));
    CaptionLengths();
    caption_ = word(37);
    setWindowTitle(caption_);
    laSource_->setText(word(1));
    laResult_->setText(word(2));
    btOk->setText(word(3));
    btCancel->setText(word(4));
    btPreview->setText(word(0));
    btApply->setText(word(120));
    chkLockPreview->setText(word(5));
    for (auto& page : pages_) {
        for (auto [control, id] : page->captions) {
            if (auto* label = qobject_cast<QLabel*>(control)) label->setText(word(id));
            else if (auto* box = qobject_cast<QCheckBox*>(control)) box->setText(word(id));
        }
        static_cast<QLabel*>(page->form->labelForField(page->originalSize))->setText(word(43) + ":");
        static_cast<QLabel*>(page->form->labelForField(page->compressedSize))->setText(word(44) + ":");
    }
}

void TfIOPreviews::CaptionLengths() {
    const auto word = [this](int id) { return QString::fromStdString(KVGetMessageText(id, language_)); };
    for (const TLength& length : lengths_)
        length.label->setText(metric_ ? word(length.plainWord) + " (cm)" : word(length.inchWord));
}

void TfIOPreviews::SetMeasureUnit(TKVDialogsMeasureUnit unit) {
    measureUnit_ = unit;
    metric_ = unit == kvduCm || unit == kvduSelectableDefCm;
    units_->setCurrentIndex(metric_ ? 1 : 0);
    ShowUnit();
}

void TfIOPreviews::ShowUnit() {
    const bool selectable = measureUnit_ == kvduSelectableDefInches || measureUnit_ == kvduSelectableDefCm;
    static_cast<QFormLayout*>(units_->parentWidget()->layout())->setRowVisible(units_, selectable && !simplified_);
    CaptionLengths();
    FillControls();
}

void TfIOPreviews::SetApplyVisible(bool visible) { btApply->setVisible(visible); }

void TfIOPreviews::SetSimplified(bool simplified) {
    for (auto& page : pages_)
        for (int row : page->advancedRows) page->form->setRowVisible(row, !simplified);
    if (!simplified) return;
    simplified_ = true;
    tiffColours_->clear();
    tiffColours_->addItems(TiffSimplifiedItems);
    ShowUnit();
}

void TfIOPreviews::FitToScreen() {
    const int dpi = logicalDpiY();
    const auto scaled = [dpi](int pixels) { return ScaledPixels(pixels, dpi); };
    for (TKestovaView* view : {source_, result_}) view->setFixedSize(scaled(191), scaled(135));
    for (QWidget* panel : colourPanels_) panel->setFixedSize(scaled(40), scaled(20));
    thumbStyle_->Length = scaled(10);
    // The margins and gaps of the design, so that the parts fit the designed size.
    layout()->setContentsMargins(scaled(8), scaled(8), scaled(8), scaled(8));
    for (QLayout* part : findChildren<QLayout*>()) part->setSpacing(scaled(4));
    // The simplified form is measured in inches of the screen, in integers so that no rounding of
    // the fractions loses a pixel.
    if (simplified_) PageControl1->setFixedHeight(dpi * 61 / 48);
    resize(scaled(527), simplified_ ? dpi * SimplifiedHeightSixteenths / 16 : scaled(425));
}

bool TfIOPreviews::SelectPages(uint16_t pages) {
    pageFlags_ = pages;
    if (pages & ppFileType) {
        const int type = params_.FileType == kvftJP2 ? kvftJ2K : params_.FileType;
        for (auto& page : pages_)
            if (page->fileType == type) pageFlags_ |= page->flag;
        if (pages == ppFileType && pageFlags_ == ppFileType) return false;
    }
    PageControl1->clear();
    for (auto& page : pages_)
        if (pageFlags_ & (page->flag | ppAll)) PageControl1->addTab(page->sheet, page->widget->windowTitle());
    for (auto& page : pages_)
        if (page->fileType == (params_.FileType == kvftJP2 ? kvftJ2K : params_.FileType))
            PageControl1->setCurrentWidget(page->sheet);
    return PageControl1->count() > 0;
}

void TfIOPreviews::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Only now is the screen the dialog opens on known.
    FitToScreen();
    chkLockPreview->setChecked(InitialLockPreview);
    btPreview->setEnabled(!InitialLockPreview);
    source_->AttachBitmap(&picture_);
    source_->Update();
    result_->Blank();
    PageChanged();
    Preview();
}

TfIOPreviews::TPage* TfIOPreviews::ActivePage() const {
    for (auto& page : pages_)
        if (page->sheet == PageControl1->currentWidget()) return page.get();
    return nullptr;
}

int TfIOPreviews::ActiveFileType() const {
    const TPage* page = ActivePage();
    return page ? page->fileType : kvftNone;
}

void TfIOPreviews::FillControls() {
    TPage* page = ActivePage();
    if (!page) return;
    busy_ = true;
    for (auto& fill : page->fillers) fill();
    const int64_t bytes = int64_t(picture_.GetWidth()) * picture_.GetHeight() *
                          (picture_.GetPixelFormat() == kv1Bit ? 1 : 3) / (picture_.GetPixelFormat() == kv1Bit ? 8 : 1);
    page->originalSize->setText(QString::number(bytes) + " bytes");
    busy_ = false;
}

void TfIOPreviews::PageChanged() {
    working_->Assign(params_);
    FillControls();
    if (chkLockPreview->isChecked()) Preview();
    btApply->setEnabled(false);
}

void TfIOPreviews::Changed() {
    if (busy_) return;
    if (chkLockPreview->isChecked()) Preview();
    btApply->setEnabled(true);
}

void TfIOPreviews::Preview() {
    TPage* page = ActivePage();
    if (!page) return;
    TKestovaIO trial;
    trial.WorkBitmap().Assign(&picture_);
    trial.Params().Assign(*working_);
    TIOParamsVals& chosen = trial.Params();
    if (page->fileType == kvftJ2K) chosen.BitsPerSample = 8, chosen.SamplesPerPixel = 3;
    // GIF stores the bits of its one index per pixel, as its colour list shows them.
    if (page->fileType == kvftGIF) {
        chosen.BitsPerSample = std::clamp(chosen.BitsPerSample * chosen.SamplesPerPixel, 1, 8);
        chosen.SamplesPerPixel = 1;
    }
    // JPEG and JPEG 2000 come back from memory and share the bar between writing and reading; the
    // others are only counted, and the result shows their choice of colours.
    const bool readBack = page->fileType == kvftJPEG || page->fileType == kvftJ2K;
    const int writeSpan = readBack ? 50 : 100;
    const auto show = [this](int base, int span, int percent) {
        ProgressBar1->setValue(base + std::clamp(percent, 0, 100) * span / 100);
    };
    trial.OnProgress = [&](TObject*, int percent) { show(0, writeSpan, percent); };
    TMemoryStream memory;
    TNulStream counter;
    TStream& written = readBack ? static_cast<TStream&>(memory) : counter;
    ProgressBar1->setValue(0);
    trial.SaveToStreamFormat(written, page->fileType);
    show(0, writeSpan, 100);
    compressedSize_ = trial.AbortFlag ? 0 : written.Size();
    page->compressedSize->setText(QString::number(compressedSize_) + " bytes");
    bool shown = false;
    if (!readBack) {
        shown = ShowColourChoice(chosen, page->fileType);
    } else if (compressedSize_ > 0) {
        memory.SetPosition(0);
        TKestovaIO& back = *result_->GetIO();
        const TKVProgressEvent viewProgress = back.OnProgress;
        back.OnProgress = [&](TObject*, int percent) { show(50, 50, percent); };
        back.LoadFromStreamFormat(memory, page->fileType);
        back.OnProgress = viewProgress;
        shown = !back.AbortFlag;
    }
    setWindowTitle(shown ? caption_ : "Result can not be shown but parameters may be entered");
    if (!shown) result_->Blank();
    result_->Update();
    ProgressBar1->setValue(100);
}

bool TfIOPreviews::ShowColourChoice(const TIOParamsVals& chosen, int fileType) {
    TKVBitmap& result = *result_->GetKVBitmap();
    try {
        result.Assign(&picture_);
    } catch (const std::exception&) {
        return false;
    }
    TIOParamsVals& params = result_->GetIO()->Params();
    params.Assign(chosen);
    params.ColorMap.clear();
    TKestovaProc& proc = *result_->GetProc();
    proc.AutoUndo = false;
    const TKVProgressEvent viewProgress = proc.OnProgress;
    proc.OnProgress = nullptr;  // the bar shows the writing alone
    const int bitsPerPixel = chosen.BitsPerSample * chosen.SamplesPerPixel;
    const bool grayTiff = fileType == kvftTIFF && chosen.TiffPhotometric <= 1 && chosen.BitsPerSample == 8 &&
                          chosen.SamplesPerPixel == 1;
    if (grayTiff) {
        proc.ConvertToGray();
    } else if (bitsPerPixel <= 8) {
        params.ColorMap.resize(size_t(1) << bitsPerPixel);
        if (result.GetPixelFormat() == kv24RGB)
            proc.ConvertToPalette(params.ColorMapCount(), params.ColorMap.data(), result.DitherMode() == 1);
        else  // a black and white picture has no other colours
            params.ColorMap = {{0, 0, 0}, {255, 255, 255}};
    }
    proc.OnProgress = viewProgress;
    return true;
}

bool TfIOPreviews::PickColour(uint8_t (&bgr)[3]) {
    std::vector<TKVRGB>& map = result_->GetIO()->Params().ColorMap;
    if (map.empty()) Preview();
    const int chosen = std::min<int>(1 << std::min(working_->BitsPerSample * working_->SamplesPerPixel, 8),
                                     static_cast<int>(map.size()));
    if (chosen == 0) return false;
    std::vector<uint8_t> entries;
    for (int i = 0; i < chosen; ++i) entries.insert(entries.end(), {map[i].b, map[i].g, map[i].r});
    int colour = 0;
    if (!ChoosePaletteColour(entries.data(), chosen, colour)) return false;
    bgr[0] = uint8_t(colour >> 16), bgr[1] = uint8_t(colour >> 8), bgr[2] = uint8_t(colour);
    return true;
}

void TfIOPreviews::Apply() {
    TPage* page = ActivePage();
    if (!page) return;
    const int fileType = page->fileType;
    // The working values began as a copy of the record at the page change: only the page's changed.
    params_.Assign(*working_);
    params_.FileType = fileType;
}

void TfIOPreviews::TakeSettings(const TKVPreviewSettings& settings) {
    InitialLockPreview = settings.PreviewsParams & ioppDefaultLockPreview;
    SetApplyVisible(settings.PreviewsParams & ioppApplyButton);
    SetSimplified(settings.SimplifiedParamsDialogs);
    LocalizeCaptions(settings.MsgLanguage);
    SetMeasureUnit(settings.DialogsMeasureUnit);
    setFont(ToQFont(settings.PreviewFont()));
    picture_.SetDitherMode(settings.DitherMode());
}

bool ShowIOPreviews(TKestovaIO& io, uint16_t pages) {
    QWidget* parent = QApplication::activeModalWidget();
    if (!parent) parent = QApplication::activeWindow();
    TfIOPreviews form(io.Params(), io.WorkBitmap(), parent);
    form.TakeSettings(io);
    if (!form.SelectPages(pages)) return false;
    if (io.OnIOPreview) io.OnIOPreview(&io, form);
    return form.exec() == QDialog::Accepted;
}
