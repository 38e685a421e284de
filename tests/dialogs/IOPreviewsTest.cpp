#include "imaging/view/KVIOPreviews.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <algorithm>

#include "DialogTestSupport.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KVFormatDrivers.h"
#include "imaging/io/KestovaIO.h"
#include "imaging/view/KestovaView.h"

namespace {

struct TIOPreviews : ::testing::Test {
    TIOPreviews() {
        TKVBitmap& picture = io.WorkBitmap();
        picture.Allocate(24, 16, kv24RGB);
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 24; ++x) {
                uint8_t* p = picture.GetScanline(y) + x * 3;
                p[0] = uint8_t(x * 10), p[1] = uint8_t(y * 15), p[2] = uint8_t(200 - x * 5);
            }
        io.Params().FileType = kvftJPEG;
    }
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
    EXPECT_FALSE(DoPreviews(io, ppFileType));
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
