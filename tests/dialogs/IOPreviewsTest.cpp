#include "imaging/view/KVIOPreviews.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "DialogTestSupport.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KVFormatDrivers.h"
#include "imaging/io/KestovaIO.h"
#include "imaging/view/KestovaView.h"

namespace {

// Pixels as the test reads them, apart from the bitmap's own accessors: 1-bit rows hold white as
// bit 1, most significant bit first; 24-bit rows blue, green, red.
TKVRGB PixelOf(TKVBitmap& bitmap, int x, int y) {
    const uint8_t* row = bitmap.GetScanline(y);
    if (bitmap.GetPixelFormat() == kv1Bit) {
        const uint8_t level = (row[x / 8] >> (7 - x % 8)) & 1 ? 255 : 0;
        return {level, level, level};
    }
    return {row[x * 3], row[x * 3 + 1], row[x * 3 + 2]};
}

// Six bands of four columns, left to right: red, green, blue, yellow, black and white.
const TKVRGB Bands[6] = {{0, 0, 255}, {0, 255, 0}, {255, 0, 0}, {0, 255, 255}, {0, 0, 0}, {255, 255, 255}};

void Paint(TKVBitmap& picture, const std::function<TKVRGB(int x, int y)>& colour) {
    picture.Allocate(24, 16, kv24RGB);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 24; ++x) {
            const TKVRGB c = colour(x, y);
            uint8_t* p = picture.GetScanline(y) + x * 3;
            p[0] = c.b, p[1] = c.g, p[2] = c.r;
        }
}

struct TIOPreviews : ::testing::Test {
    TIOPreviews() {
        Paint(io.WorkBitmap(), GradientAt);
        io.Params().FileType = kvftJPEG;
    }
    // 384 colours, each once.
    static TKVRGB GradientAt(int x, int y) { return {uint8_t(x * 10), uint8_t(y * 15), uint8_t(200 - x * 5)}; }
    TDialogApplication application;
    TKestovaIO io;

    // The page's combo boxes, in the page's order.
    static QList<QComboBox*> Combos(TfIOPreviews& form) {
        return form.PageControl1->currentWidget()->findChildren<QComboBox*>();
    }
    static void Choose(QComboBox* box, int index) {
        box->setCurrentIndex(index);
        emit box->activated(index);
    }
};

TEST_F(TIOPreviews, EveryPageRoundTripsThePictureThroughMemory) {
    TfIOPreviews form(io.Params(), io.WorkBitmap());
    ASSERT_TRUE(form.SelectPages(ppAll));
    ASSERT_EQ(form.PageControl1->count(), 8);
    form.show();
    const char* const captions[] = {"JPEG", "TIFF", "GIF", "BMP", "PCX", "PNG", "TGA", "JPEG2000"};
    const int types[] = {kvftJPEG, kvftTIFF, kvftGIF, kvftBMP, kvftPCX, kvftPNG, kvftTGA, kvftJ2K};
    for (int i = 0; i < 8; ++i) {
        form.PageControl1->setCurrentIndex(i);
        EXPECT_EQ(form.PageControl1->tabText(i).toStdString(), captions[i]);
        EXPECT_EQ(form.ActiveFileType(), types[i]);
        form.Preview();
        // A format whose driver is not registered yet says so instead of showing a result.
        const TKVFormatDriver* driver = FindFormatDriver(types[i]);
        if (types[i] != kvftJPEG && (!driver || !driver->Write || !driver->Read)) {
            EXPECT_EQ(form.windowTitle(), "Result can not be shown but parameters may be entered") << captions[i];
            continue;
        }
        EXPECT_GT(form.CompressedSize(), 0) << captions[i];
        TKVBitmap* back = form.Result()->GetKVBitmap();
        EXPECT_EQ(back->GetWidth(), 24) << captions[i];
        EXPECT_EQ(back->GetHeight(), 16) << captions[i];
        EXPECT_EQ(form.windowTitle(), "Parameters Preview") << captions[i];
    }
    SaveScreenshot(form, "IOPreviewsDialog");

    form.PageControl1->setCurrentIndex(0);
    form.Preview();
    auto* source = form.findChildren<TKestovaView*>().first();
    source->SetZoom(400);
    EXPECT_EQ(form.Result()->Zoom(), 400);
}

TEST_F(TIOPreviews, OnlyTheAskedPagesAndNothingForATypeWithoutOne) {
    TfIOPreviews form(io.Params(), io.WorkBitmap());
    EXPECT_TRUE(form.SelectPages(ppFileType | ppPNG));
    EXPECT_EQ(form.PageControl1->count(), 2);
    EXPECT_EQ(form.ActiveFileType(), kvftJPEG);
    io.Params().FileType = kvftPXM;
    EXPECT_FALSE(form.SelectPages(ppFileType));
    EXPECT_FALSE(io.DoPreviews(ppFileType));
}

TEST_F(TIOPreviews, LockedPreviewFollowsTheQualityAndLettersCountAsFifty) {
    TfIOPreviews form(io.Params(), io.WorkBitmap());
    form.InitialLockPreview = true;
    form.SelectPages(ppJPEG);
    form.show();
    EXPECT_FALSE(form.btPreview->isEnabled());
    auto* quality = form.PageControl1->currentWidget()->findChild<QLineEdit*>();
    auto* bar = form.PageControl1->currentWidget()->findChild<QSlider*>();
    quality->selectAll();
    QTest::keyClicks(quality, "100");
    const int64_t best = form.CompressedSize();
    EXPECT_EQ(bar->value(), 100);
    quality->selectAll();
    QTest::keyClicks(quality, "5");
    EXPECT_LT(form.CompressedSize(), best);
    quality->selectAll();
    QTest::keyClicks(quality, "ab");
    EXPECT_EQ(bar->value(), 50);
    EXPECT_TRUE(form.btApply->isEnabled());
    EXPECT_EQ(io.Params().JpegQuality, 80);  // nothing written before OK or Apply
}

TEST_F(TIOPreviews, ApplyWritesAndCancelKeepsWhatWasApplied) {
    TfIOPreviews form(io.Params(), io.WorkBitmap());
    form.SetApplyVisible(true);
    form.SelectPages(ppAll);
    form.show();
    form.PageControl1->setCurrentIndex(5);  // PNG
    Choose(Combos(form)[2], 9);  // compression "Max"
    form.btApply->click();
    EXPECT_FALSE(form.btApply->isEnabled());
    EXPECT_EQ(io.Params().PngCompression, 9);
    EXPECT_EQ(io.Params().FileType, kvftPNG);
    Choose(Combos(form)[2], 0);
    form.btCancel->click();
    EXPECT_EQ(io.Params().PngCompression, 9);
}

TEST_F(TIOPreviews, TiffCompressionListFollowsTheLzwEncoder) {
    io.Params().TiffLZWCompressor = nullptr;
    TfIOPreviews form(io.Params(), io.WorkBitmap());
    form.SelectPages(ppTIFF);
    form.show();
    QComboBox* compression = Combos(form)[0];
    ASSERT_EQ(compression->count(), 7);
    EXPECT_EQ(compression->itemText(5), "JPEG");
    Choose(compression, 5);
    form.btOk->click();
    EXPECT_EQ(io.Params().TiffCompression, 7);
    EXPECT_EQ(io.Params().FileType, kvftTIFF);
}

TEST_F(TIOPreviews, ColourPanelsPickFromTheResultPalette) {
    TfIOPreviews form(io.Params(), io.WorkBitmap());
    form.SelectPages(ppGIF);
    form.show();
    int offered = 0;
    form.ChoosePaletteColour = [&](const uint8_t* palette, int count, int& colour) {
        offered = count;
        colour = palette[2] | palette[1] << 8 | palette[0] << 16;  // the first entry
        return true;
    };
    auto buttons = form.PageControl1->currentWidget()->findChildren<QPushButton*>();
    ASSERT_EQ(buttons.size(), 2);
    buttons[0]->click();  // the transparent colour
    EXPECT_EQ(offered, 256);
    form.btOk->click();
    const TKVRGB first = form.Result()->GetIO()->Params().ColorMap.at(0);
    EXPECT_EQ(io.Params().GifTranspColor, first);
}

TEST_F(TIOPreviews, SimplifiedPagesKeepOnlyTheMainChoice) {
    TfIOPreviews form(io.Params(), io.WorkBitmap());
    form.SetSimplified(true);
    form.SelectPages(ppAll);
    form.show();
    // Visible combo boxes per page: JPEG none, TIFF compression and colours, GIF colours, BMP and
    // PCX both of theirs, PNG and TGA colours, JPEG 2000 none.
    const int visibleCombos[] = {0, 2, 1, 2, 2, 1, 1, 0};
    for (int i = 0; i < 8; ++i) {
        form.PageControl1->setCurrentIndex(i);
        int visible = 0;
        for (QComboBox* box : Combos(form)) visible += box->isVisibleTo(&form);
        EXPECT_EQ(visible, visibleCombos[i]) << form.PageControl1->tabText(i).toStdString();
    }
    EXPECT_EQ(form.PageControl1->height(), int(form.logicalDpiY() * 1.2708333333333333));
}

}  // namespace

namespace {

TEST_F(TIOPreviews, TheSimplifiedTiffPageOffersFourColourCounts) {
    io.Params().FileType = kvftTIFF;
    TfIOPreviews form(io.Params(), io.WorkBitmap());
    form.SetSimplified(true);
    ASSERT_TRUE(form.SelectPages(ppAll));
    form.show();
    ASSERT_EQ(form.ActiveFileType(), kvftTIFF);
    QComboBox* colours = nullptr;
    for (QComboBox* box : Combos(form))
        if (box->isVisibleTo(&form)) colours = box;  // the last visible one, after compression
    ASSERT_NE(colours, nullptr);
    QStringList items;
    for (int i = 0; i < colours->count(); ++i) items << colours->itemText(i);
    EXPECT_EQ(items, QStringList({"2", "16", "256", "16777216"}));
    struct Case {
        int index, bits, samples;
    };
    for (const Case& c : {Case{3, 8, 3}, Case{2, 8, 1}, Case{0, 1, 1}}) {
        Choose(colours, c.index);
        form.Apply();
        EXPECT_EQ(io.Params().BitsPerSample, c.bits) << c.index;
        EXPECT_EQ(io.Params().SamplesPerPixel, c.samples) << c.index;
    }
}

TEST_F(TIOPreviews, TheProgressBarFollowsTheWritingAndTheReadingBack) {
    TfIOPreviews form(io.Params(), io.WorkBitmap());
    ASSERT_TRUE(form.SelectPages(ppAll));
    // JPEG writes over the first half and reads back over the second; BMP writes over the whole
    // bar, so a reading back must not pull it down again.
    for (const int fileType : {kvftJPEG, kvftBMP}) {
        for (int i = 0; i < form.PageControl1->count(); ++i)
            if (form.ActiveFileType() != fileType) form.PageControl1->setCurrentIndex(i);
        ASSERT_EQ(form.ActiveFileType(), fileType);
        std::vector<int> values;
        QObject::connect(form.ProgressBar1, &QProgressBar::valueChanged, &form,
                         [&](int value) { values.push_back(value); });
        form.Preview();
        SCOPED_TRACE(fileType);
        EXPECT_TRUE(std::is_sorted(values.begin(), values.end()));
        ASSERT_FALSE(values.empty());
        EXPECT_EQ(values.back(), 100);
        const auto within = [&](int low, int high) {
            return std::any_of(values.begin(), values.end(), [&](int v) { return v > low && v < high; });
        };
        EXPECT_TRUE(within(0, 50));
        EXPECT_TRUE(within(50, 100));
        form.ProgressBar1->disconnect(&form);
        form.ProgressBar1->reset();
    }
}

}  // namespace

namespace {

TEST_F(TIOPreviews, TheResultShowsTheColoursChosenForFormatsThatAreNotReadBack) {
    enum TPicture { Gradient, SixBands, DarkAndLight, MidGray, MidGrayOrdered, BlackAndWhite };
    struct Case {
        const char* what;
        int fileType;
        std::vector<std::pair<int, int>> choices;  // (combo box of the page, entry)
        TPicture picture;
        TKVPixelFormat format;
        size_t paletteSize;
        // Each pixel's expected colour; without it, only the palette bounds the colours.
        std::function<TKVRGB(int x, int y)> expected;
        int64_t compressedSize = -1;  // -1: only more than nothing
    };
    const auto same = [this](int x, int y) { return PixelOf(io.WorkBitmap(), x, y); };
    const auto gray = [](int level) { return TKVRGB{uint8_t(level), uint8_t(level), uint8_t(level)}; };
    const auto leftBlack = [gray](int x, int) { return gray(x < 12 ? 0 : 255); };
    // Gray by the library's weights, red 21, green 71, blue 8 percent, of each band.
    const int bandGrays[6] = {53, 181, 20, 234, 0, 255};
    const Case cases[] = {
        {"GIF black and white by threshold", kvftGIF, {{0, 0}}, DarkAndLight, kv1Bit, 2, leftBlack},
        {"GIF 16 colours of many", kvftGIF, {{0, 3}}, Gradient, kv24RGB, 16, nullptr},
        {"GIF 256 colours of a 1-bit picture", kvftGIF, {{0, 7}}, BlackAndWhite, kv1Bit, 2, leftBlack},
        {"threshold at the mean of a flat gray", kvftGIF, {{0, 0}}, MidGray, kv1Bit, 2,
         [gray](int, int) { return gray(255); }},
        {"ordered dither of a flat gray", kvftPNG, {{0, 0}}, MidGrayOrdered, kv1Bit, 2, nullptr},
        // 54 bytes of headers, 256 palette entries of 4 bytes, rows of 24 bytes.
        {"BMP 256 colours of six", kvftBMP, {{0, 0}, {1, 2}}, SixBands, kv24RGB, 256, same, 54 + 1024 + 24 * 16},
        // Rows of 72 bytes.
        {"BMP 16M", kvftBMP, {{0, 0}, {1, 3}}, Gradient, kv24RGB, 0, same, 54 + 72 * 16},
        {"PCX 16 colours of six", kvftPCX, {{1, 1}}, SixBands, kv24RGB, 16, same},
        {"PNG 16M", kvftPNG, {{0, 2}}, Gradient, kv24RGB, 0, same},
        {"TGA 256 colours of many", kvftTGA, {{0, 1}}, Gradient, kv24RGB, 256, nullptr},
        {"TIFF 256 grays", kvftTIFF, {{2, 2}, {1, 1}}, SixBands, kv24RGB, 0,
         [&](int x, int) { return gray(bandGrays[x / 4]); }},
        {"TIFF palette of 256", kvftTIFF, {{2, 2}, {1, 3}}, Gradient, kv24RGB, 256, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TKVBitmap& picture = io.WorkBitmap();
        picture.SetDitherMode(c.picture == MidGrayOrdered ? 0 : 1);
        if (c.picture == Gradient) Paint(picture, GradientAt);
        if (c.picture == SixBands) Paint(picture, [](int x, int) { return Bands[x / 4]; });
        if (c.picture == DarkAndLight || c.picture == BlackAndWhite)
            Paint(picture, [](int x, int) { return x < 12 ? TKVRGB{90, 20, 10} : TKVRGB{150, 230, 240}; });
        if (c.picture == BlackAndWhite) picture.ConvertPixelFormat(kv1Bit);
        if (c.picture == MidGray || c.picture == MidGrayOrdered) Paint(picture, [&](int, int) { return gray(128); });
        io.Params().FileType = c.fileType;

        TfIOPreviews form(io.Params(), picture);
        ASSERT_TRUE(form.SelectPages(ppFileType));
        form.show();
        for (auto [combo, entry] : c.choices) Choose(Combos(form)[combo], entry);
        form.Preview();

        EXPECT_EQ(form.windowTitle(), "Parameters Preview");
        if (c.compressedSize >= 0) {
            EXPECT_EQ(form.CompressedSize(), c.compressedSize);
        } else {
            EXPECT_GT(form.CompressedSize(), 0);
        }
        TKVBitmap& result = *form.Result()->GetKVBitmap();
        ASSERT_EQ(result.GetWidth(), 24);
        ASSERT_EQ(result.GetHeight(), 16);
        EXPECT_EQ(result.GetPixelFormat(), c.format);
        const std::vector<TKVRGB>& palette = form.Result()->GetIO()->Params().ColorMap;
        EXPECT_EQ(palette.size(), c.paletteSize);
        int white = 0;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 24; ++x) {
                const TKVRGB pixel = PixelOf(result, x, y);
                white += pixel == gray(255);
                if (c.expected) {
                    ASSERT_EQ(pixel, c.expected(x, y)) << x << "," << y;
                }
                if (!palette.empty()) {
                    ASSERT_NE(std::find(palette.begin(), palette.end(), pixel), palette.end()) << x << "," << y;
                }
            }
        // An ordered dither of the middle gray whitens half of each 8 x 8 cell.
        if (c.picture == MidGrayOrdered) {
            EXPECT_EQ(white, 24 * 16 / 2);
        }
        // A picture of fewer colours than asked keeps its own, in the order they first appear.
        if (c.picture == SixBands && c.paletteSize > 0) {
            EXPECT_TRUE(std::equal(std::begin(Bands), std::end(Bands), palette.begin()));
        }
    }
}

// The dialog is drawn for 96 dpi and grows with the dpi of the screen. The screen has the dpi
// QT_FONT_DPI gives, 96 without it; the tests run at 96 and again at 144 dpi.
TEST_F(TIOPreviews, ItsSizesFollowTheDpiOfTheScreen) {
    struct Case {
        int dpi;
        QSize form, view, panel;
        int thumb, simplifiedPages, simplifiedHeight;
    };
    const Case cases[] = {{96, {527, 425}, {191, 135}, {40, 20}, 10, 122, 360},
                          // Halves round to even: 790.5, 637.5, 286.5 and 202.5.
                          {144, {790, 638}, {286, 202}, {60, 30}, 15, 183, 540}};
    const int dpi = qEnvironmentVariableIsSet("QT_FONT_DPI") ? qEnvironmentVariableIntValue("QT_FONT_DPI") : 96;
    const Case* c = std::find_if(std::begin(cases), std::end(cases), [dpi](const Case& c) { return c.dpi == dpi; });
    ASSERT_NE(c, std::end(cases)) << dpi;
    for (const bool simplified : {false, true}) {
        TfIOPreviews form(io.Params(), io.WorkBitmap());
        form.SetSimplified(simplified);
        ASSERT_TRUE(form.SelectPages(ppAll));
        form.show();
        ASSERT_EQ(form.logicalDpiY(), dpi);
        EXPECT_EQ(form.size(), QSize(c->form.width(), simplified ? c->simplifiedHeight : c->form.height()));
        if (simplified) {
            EXPECT_EQ(form.PageControl1->height(), c->simplifiedPages);
        } else {
            SaveScreenshot(form, "IOPreviewsDialog" + std::to_string(dpi) + "dpi");
        }
        // The cast of findChildren would take any scroll area for a view.
        int views = 0;
        for (QWidget* child : form.findChildren<QWidget*>())
            if (auto* view = dynamic_cast<TKestovaView*>(child)) {
                EXPECT_EQ(view->size(), c->view);
                ++views;
            }
        EXPECT_EQ(views, 2);
        const auto panels = form.PageControl1->widget(2)->findChildren<QPushButton*>();  // GIF
        ASSERT_EQ(panels.size(), 2);
        for (QPushButton* panel : panels) EXPECT_EQ(panel->size(), c->panel);
        const auto* bar = form.PageControl1->widget(0)->findChild<QSlider*>();  // JPEG quality
        EXPECT_EQ(bar->style()->pixelMetric(QStyle::PM_SliderLength, nullptr, bar), c->thumb);
    }
}

}  // namespace

namespace {

// What the component asked for is what its dialog shows: options, pages, captions, font and the
// way black and white is made, with the component's defaults and with every setting changed.
TEST_F(TIOPreviews, TheComponentsSettingsReachItsDialog) {
    struct Seen {
        TObject* sender = nullptr;
        bool locked = false, applyVisible = false, italic = false;
        QString family, cancel;
        int jpegCombos = -1, white = -1;
    };
    struct Case {
        const char* what;
        bool changed;
        bool locked, applyVisible, italic;
        const char* family;
        TMsgLanguage language;
        int jpegCombos;  // DCT method and photometric: only in the full pages
        int white;       // of 24 x 16 middle-gray pixels made black and white
    };
    const Case cases[] = {
        {"defaults", false, false, false, false, "MS Sans Serif", msEnglish, 0, 24 * 16},
        {"changed", true, true, true, true, "Liberation Serif", msGerman, 2, 24 * 16 / 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TKestovaIO component;
        Paint(component.WorkBitmap(), [](int, int) { return TKVRGB{128, 128, 128}; });
        component.Params().FileType = kvftGIF;
        component.MsgLanguage = msEnglish;
        if (c.changed) {
            component.PreviewsParams = ioppDefaultLockPreview | ioppApplyButton;
            component.SimplifiedParamsDialogs = false;
            component.MsgLanguage = msGerman;
            TFont font;
            font.Name = c.family;
            font.Style = fsItalic;
            component.SetPreviewFont(font);
            component.SetDitherMode(0);
        }
        Seen seen;
        component.OnIOPreview = [&](TObject* sender, TfIOPreviews& form) {
            seen.sender = sender;
            QTimer::singleShot(0, &form, [&] {
                seen.locked = form.chkLockPreview->isChecked();
                seen.applyVisible = form.btApply->isVisible();
                seen.family = form.font().family();
                seen.italic = form.font().italic();
                seen.cancel = form.btCancel->text();
                SaveScreenshot(form, std::string("IOPreviewsOfTheComponent-") + c.what);
                form.PageControl1->setCurrentIndex(0);
                seen.jpegCombos = 0;
                for (QComboBox* box : Combos(form)) seen.jpegCombos += box->isVisibleTo(&form);
                form.PageControl1->setCurrentIndex(2);
                EXPECT_EQ(form.ActiveFileType(), kvftGIF);
                Choose(Combos(form)[0], 0);  // B/W
                form.Preview();
                seen.white = 0;
                TKVBitmap& result = *form.Result()->GetKVBitmap();
                for (int y = 0; y < result.GetHeight(); ++y)
                    for (int x = 0; x < result.GetWidth(); ++x) seen.white += PixelOf(result, x, y).r == 255;
                form.reject();
            });
        };
        EXPECT_FALSE(component.DoPreviews(ppAll));
        EXPECT_EQ(seen.sender, &component);
        EXPECT_EQ(seen.locked, c.locked);
        EXPECT_EQ(seen.applyVisible, c.applyVisible);
        EXPECT_EQ(seen.family.toStdString(), c.family);
        EXPECT_EQ(seen.italic, c.italic);
        EXPECT_EQ(seen.cancel.toStdString(), KVGetMessageText(4, c.language));
        EXPECT_EQ(seen.jpegCombos, c.jpegCombos);
        EXPECT_EQ(seen.white, c.white);
    }
}

// The TIFF positions show in the component's unit, the selectable units with a choice of the
// other; the record keeps whole inches.
TEST_F(TIOPreviews, PositionsShowInTheComponentsMeasureUnit) {
    struct Case {
        TKVDialogsMeasureUnit unit;
        bool simplified;
        bool metric, choice;
        const char* caption;
        double shown;    // 2 inches
        double entered;  // in the unit shown
        int kept;        // inches
    };
    const Case cases[] = {
        {kvduInches, false, false, false, "Horiz. Position (inch)", 2, 7, 7},
        {kvduCm, false, true, false, "Horiz. Position (cm)", 5.08, 10, 4},
        {kvduSelectableDefInches, false, false, true, "Horiz. Position (inch)", 2, 7, 7},
        {kvduSelectableDefCm, false, true, true, "Horiz. Position (cm)", 5.08, 10, 4},
        {kvduSelectableDefCm, true, true, false, "Horiz. Position (cm)", 5.08, 10, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.unit) + (c.simplified ? " simplified" : ""));
        TKestovaIO component;
        Paint(component.WorkBitmap(), GradientAt);
        component.Params().FileType = kvftTIFF;
        component.Params().TiffXPos = 2;
        component.SimplifiedParamsDialogs = c.simplified;
        component.DialogsMeasureUnit = c.unit;
        bool seen = false;
        component.OnIOPreview = [&](TObject*, TfIOPreviews& form) {
            QTimer::singleShot(0, &form, [&] {
                seen = true;
                QWidget* page = form.PageControl1->currentWidget();
                const auto positions = page->findChildren<QDoubleSpinBox*>();
                ASSERT_EQ(positions.size(), 2);
                auto* rows = page->findChild<QFormLayout*>();
                const auto caption = [&] { return static_cast<QLabel*>(rows->labelForField(positions[0]))->text(); };
                auto* units = form.findChild<QComboBox*>("units");
                EXPECT_EQ(form.Metric(), c.metric);
                EXPECT_EQ(units->isVisibleTo(&form), c.choice);
                EXPECT_EQ(caption().toStdString(), c.caption);
                EXPECT_DOUBLE_EQ(positions[0]->value(), c.shown);
                if (c.unit == kvduSelectableDefCm && !c.simplified) SaveScreenshot(form, "IOPreviewsTiffPositionsInCm");
                positions[0]->setValue(c.entered);
                if (c.choice) {
                    // The other unit shows the same length.
                    Choose(units, c.metric ? 0 : 1);
                    EXPECT_EQ(form.Metric(), !c.metric);
                    EXPECT_DOUBLE_EQ(positions[0]->value(), c.metric ? 4 : 7 * 2.54);
                    EXPECT_EQ(caption().toStdString(), c.metric ? "Horiz. Position (inch)" : "Horiz. Position (cm)");
                }
                form.btOk->click();
            });
        };
        EXPECT_TRUE(component.DoPreviews(ppTIFF));
        EXPECT_TRUE(seen);
        EXPECT_EQ(component.Params().TiffXPos, c.kept);
    }
}

// A handler that takes over leaves the dialog unshown; a type without a page shows nothing either.
TEST_F(TIOPreviews, NothingShowsWhenAHandlerTakesOverOrNoPageFits) {
    int shown = 0;
    io.OnIOPreview = [&](TObject*, TfIOPreviews& form) {
        ++shown;
        QTimer::singleShot(0, &form, [&form] { form.accept(); });
    };
    io.OnDoPreviews = [](TObject*, bool& handled) { handled = true; };
    EXPECT_TRUE(io.DoPreviews(ppAll));
    EXPECT_EQ(shown, 0);
    io.OnDoPreviews = nullptr;
    EXPECT_TRUE(io.DoPreviews(ppAll));
    EXPECT_EQ(shown, 1);
    io.Params().FileType = kvftPXM;
    EXPECT_FALSE(io.DoPreviews(ppFileType));
    EXPECT_EQ(shown, 1);
}

}  // namespace
