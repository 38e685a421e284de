#include "imaging/view/KestovaMIO.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QTimer>
#include <memory>
#include <vector>

#include "QtTestApplication.h"
#include "imaging/acquire/KVWia.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/io/IOParamsVals.h"
#include "imaging/view/KVIOPreviews.h"
#include "imaging/view/KestovaMView.h"

namespace {

class KestovaMIOTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureTestApplication<QApplication>();
        view = std::make_unique<TKestovaMView>();
    }

    // Entries told apart by their width, each record by a JPEG quality equal to it.
    void AddPictures(int count) {
        for (int i = 0; i < count; ++i) {
            const int index = view->GetImageCount();
            view->InsertImage(index);
            TKVBitmap picture;
            picture.Allocate(10 + i, 10, kv24RGB);
            view->SetImage(index, &picture);
            view->GetMIO()->GetParams(index)->JpegQuality = 10 + i;
        }
    }

    std::vector<int> Widths() {
        std::vector<int> widths;
        for (int i = 0; i < view->GetImageCount(); ++i) widths.push_back(view->GetImageOriginalWidth(i));
        return widths;
    }

    std::vector<int> Qualities() {
        std::vector<int> qualities;
        TKestovaMIO& mio = *view->GetMIO();
        for (int i = 0; i < mio.GetParamsCount(); ++i) qualities.push_back(mio.GetParams(i)->JpegQuality);
        return qualities;
    }

    std::unique_ptr<TKestovaMView> view;
};

TEST_F(KestovaMIOTest, MovesInsideTheListKeepEachRecordWithItsPicture) {
    AddPictures(5);
    view->MoveImage(0, 2);
    EXPECT_EQ(Widths(), (std::vector<int>{11, 12, 10, 13, 14}));
    EXPECT_EQ(Qualities(), Widths());
    struct Move {
        int from, to;
        std::vector<int> widths;
    } moves[] = {
        // Forwards, backwards, to the last place, onto itself, and beyond the end.
        {3, 1, {11, 13, 12, 10, 14}}, {1, 3, {11, 12, 10, 13, 14}}, {0, 4, {12, 10, 13, 14, 11}},
        {4, 0, {11, 12, 10, 13, 14}}, {2, 2, {11, 12, 10, 13, 14}}, {1, 9, {11, 10, 13, 14, 12}},
        // Nothing from outside the list or to a negative place.
        {5, 1, {11, 10, 13, 14, 12}}, {-1, 1, {11, 10, 13, 14, 12}}, {1, -1, {11, 10, 13, 14, 12}},
    };
    for (const Move& m : moves) {
        view->MoveImage(m.from, m.to);
        EXPECT_EQ(Widths(), m.widths) << m.from << " to " << m.to;
        EXPECT_EQ(Qualities(), Widths()) << m.from << " to " << m.to;
    }
}

// With AutoAdjustDPI a page is resampled by the resolution the scanner gave it, and its record
// then describes the stored picture, whatever the record it was copied from held.
TEST_F(KestovaMIOTest, AnAcquiredPageIsAdjustedByItsOwnResolution) {
    AddPictures(1);
    TKestovaMIO& mio = *view->GetMIO();
    mio.AutoAdjustDPI = true;
    mio.GetParams(0)->SetDpiX(100);
    mio.GetParams(0)->SetDpiY(200);
    struct Case {
        int width, height, dpiX, dpiY, storedWidth, storedHeight, dpi;
    };
    for (const Case& c : {Case{60, 30, 200, 100, 60, 60, 200}, Case{40, 20, 300, 300, 40, 20, 300}}) {
        TKVBitmap page;
        page.Allocate(c.width, c.height, kv24RGB);
        TIOParamsVals scanned(nullptr);
        scanned.Width = c.width;
        scanned.Height = c.height;
        scanned.BitsPerSample = 1;
        scanned.SamplesPerPixel = 1;
        scanned.SetDpiX(c.dpiX);
        scanned.SetDpiY(c.dpiY);
        mio.AcquireIndex = 1;
        TIOParamsVals* params = &scanned;
        mio.DoAcquireBitmap(page, params);
        ASSERT_EQ(params, mio.GetParams(1));
        EXPECT_EQ(view->GetImageOriginalWidth(1), c.storedWidth) << c.width;
        EXPECT_EQ(view->GetImageOriginalHeight(1), c.storedHeight) << c.width;
        EXPECT_EQ(params->Width, c.storedWidth) << c.width;
        EXPECT_EQ(params->Height, c.storedHeight) << c.width;
        EXPECT_EQ(params->DpiX(), c.dpi) << c.width;
        EXPECT_EQ(params->DpiY(), c.dpi) << c.width;
        EXPECT_EQ(params->BitsPerSample, 1);
        view->DeleteImage(1);
    }
    // The neighbour's record is its own still.
    EXPECT_EQ(mio.GetParams(0)->DpiY(), 200);
}

TEST_F(KestovaMIOTest, AViewGoingByItsNotificationIsForgotten) {
    AddPictures(2);
    TKestovaMIO mio;
    mio.SetAttachedMView(view.get());
    mio.Notification(nullptr, opRemove);
    mio.Notification(view.get(), opInsert);
    EXPECT_EQ(mio.AttachedMView(), view.get());
    mio.Notification(view.get(), opRemove);
    EXPECT_EQ(mio.AttachedMView(), nullptr);
    view->InsertImage(0);
    EXPECT_EQ(mio.GetParamsCount(), 2);
}

TEST_F(KestovaMIOTest, TheWiaObjectIsMadeOnceAndBelongsToTheComponent) {
    TKestovaMIO mio;
    TKVWia* wia = mio.GetWia();
    ASSERT_NE(wia, nullptr);
    EXPECT_EQ(wia->Owner, &mio);
    EXPECT_EQ(mio.GetWia(), wia);
}

TEST_F(KestovaMIOTest, ItsPreviewSettingsReachTheDialog) {
    AddPictures(1);
    TKestovaMIO& mio = *view->GetMIO();
    EXPECT_EQ(mio.DialogsMeasureUnit, kvduInches);
    mio.DialogsMeasureUnit = kvduCm;
    EXPECT_EQ(mio.DialogsMeasureUnit, kvduCm);
    mio.GetParams(0)->FileType = kvftJPEG;
    mio.PreviewsParams = ioppDefaultLockPreview | ioppApplyButton;
    mio.MsgLanguage = msGerman;
    TFont font;
    font.Name = "Liberation Mono";
    mio.SetPreviewFont(font);
    font.Name = "changed";
    EXPECT_EQ(mio.PreviewFont().Name, "Liberation Mono");
    bool locked = false, applyVisible = false, metric = false;
    QString family, cancel;
    QTimer::singleShot(0, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* form = dynamic_cast<TfIOPreviews*>(widget); form && form->isVisible()) {
                metric = form->Metric();
                locked = form->chkLockPreview->isChecked();
                applyVisible = form->btApply->isVisible();
                family = form->font().family();
                cancel = form->btCancel->text();
                form->reject();
            }
    });
    EXPECT_FALSE(mio.DoPreviews(0, ppFileType));
    EXPECT_TRUE(metric);  // its positions in centimetres
    EXPECT_TRUE(locked);
    EXPECT_TRUE(applyVisible);
    EXPECT_EQ(family.toStdString(), "Liberation Mono");
    EXPECT_EQ(cancel.toStdString(), KVGetMessageText(4, msGerman));
}

}  // namespace
