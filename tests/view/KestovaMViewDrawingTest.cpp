// What the thumbnail view draws, against stored screenshots and a few exact pixels.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPalette>

#include "LayoutCheck.h"
#include "QtTestApplication.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/view/KVViewBackground.h"
#include "imaging/view/KestovaMView.h"

namespace {

// A picture with four coloured quarters, so that fitting and centring show.
std::unique_ptr<TKVBitmap> Quarters(int width, int height) {
    auto bitmap = std::make_unique<TKVBitmap>();
    bitmap->Allocate(width, height, kv24RGB);
    bitmap->FillRect(0, 0, width / 2 - 1, height / 2 - 1, 0x0000C0);
    bitmap->FillRect(width / 2, 0, width - 1, height / 2 - 1, 0x00C000);
    bitmap->FillRect(0, height / 2, width / 2 - 1, height - 1, 0xC00000);
    bitmap->FillRect(width / 2, height / 2, width - 1, height - 1, 0x00C0C0);
    return bitmap;
}

class KestovaMViewDrawingTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureTestApplication<QApplication>();
        view = std::make_unique<TKestovaMView>();
        view->setFixedSize(380, 250);
        view->SetGridWidth(-1);
        view->SetThumbWidth(80);
        view->SetThumbHeight(80);
        view->SetBackground(0xE0E0E0);
        view->SetThumbnailsBackground(0xFFFFFF);
        const int sizes[][2] = {{120, 60}, {40, 90}, {64, 64}, {20, 10}, {90, 90}, {70, 30}};
        for (int i = 0; i < 6; ++i) {
            view->InsertImage(i);
            view->SetImage(i, Quarters(sizes[i][0], sizes[i][1]).get());
        }
        view->show();
    }

    QRgb PixelBeside(int index, int dx, int dy) {
        const QImage shown = view->Render();
        const TKVCellPlace cell = view->CellOf(index);
        return shown.pixel(cell.x - view->ViewX() + dx, cell.y - view->ViewY() + dy);
    }

    std::unique_ptr<TKestovaMView> view;
};

TEST_F(KestovaMViewDrawingTest, PlainGridWithCaptions) {
    view->SetBottomGap(18);
    for (int i = 0; i < 6; ++i) view->ImageCaption(i, 1)->Caption = u"picture number " + std::u16string(1, u'1' + i);
    view->ImageCaption(2, 1)->Truncate = 0;
    view->SetSelectedImage(1);
    EXPECT_TRUE(LooksLikeReference(*view, "ThumbGridPlain"));
}

TEST_F(KestovaMViewDrawingTest, RoundedCornersWithSoftShadow) {
    view->RoundCorners = 5;
    view->SoftShadow.Enabled = true;
    view->SetStyle(kvmsFlat);
    view->SetThumbnailsBorderWidth(2);
    view->SetThumbnailsBorderColor(0x808080);
    EXPECT_TRUE(LooksLikeReference(*view, "ThumbGridRounded"));
}

TEST_F(KestovaMViewDrawingTest, APicturesCornersAreCutByTheCellsRadiusWhateverTheGapBelow) {
    // Cells of 80 x 80 with a gap of 40 below: a picture of 80 x 40 fills the rest exactly. Its
    // corners take the radius min(80, 80) div 4 = 20, which cuts the diagonal to about 0.28 x 20,
    // so (4, 4) shows the white cell; a radius of min(80, 40) div 4 = 10 would cut only to (2, 2).
    view->RoundCorners = 4;
    view->SetStyle(kvmsFlat);
    view->SetBottomGap(40);
    view->SetImage(0, Quarters(80, 40).get());
    EXPECT_EQ(PixelBeside(0, 4, 4), qRgb(255, 255, 255));
    EXPECT_EQ(PixelBeside(0, 8, 8), KVToQColor(0x0000C0).rgb());
}

TEST_F(KestovaMViewDrawingTest, FilledSelection) {
    view->SetEnableMultiSelect(true);
    view->SetSelectionStyle(kvssFilled);
    view->ImageCaption(5, 0)->Caption = u"top";
    view->SetSelectedImage(5);
    EXPECT_TRUE(LooksLikeReference(*view, "ThumbGridFilled"));
    // No frame: the pixel outside the cell keeps the view's background; below the picture the
    // cell is highlighted.
    EXPECT_EQ(PixelBeside(5, -1, 10), KVToQColor(0xE0E0E0).rgb());
    EXPECT_EQ(PixelBeside(5, 1, 70), KVToQColor(clHighlight).rgb());
}

TEST_F(KestovaMViewDrawingTest, SingleModeShowsTheFrameAlone) {
    view->SetDisplayMode(mdSingle);
    view->SetThumbWidth(360);
    view->SetThumbHeight(230);
    view->SetPlaying(true);
    view->PlayStep();
    view->PlayStep();  // frame 3 is next, and stays when playing stops
    view->SetPlaying(false);
    EXPECT_TRUE(LooksLikeReference(*view, "ThumbSingle"));
}

TEST_F(KestovaMViewDrawingTest, AnUnfocusedViewFramesTheSelectionOnce) {
    view->SetSelectionWidth(3);
    view->SetSelectionColor(0x0000FF);
    view->SetSelectedImage(0);
    ASSERT_FALSE(view->hasFocus());
    EXPECT_EQ(PixelBeside(0, -1, 10), qRgb(255, 0, 0));
    EXPECT_EQ(PixelBeside(0, -2, 10), KVToQColor(0xE0E0E0).rgb());
}

TEST_F(KestovaMViewDrawingTest, OverlaysFrameTheCellsAndTakeThePictureIntoTheirArea) {
    QImage selected(80, 80, QImage::Format_RGB32), other(80, 80, QImage::Format_RGB32);
    selected.fill(QColor(255, 0, 255));
    other.fill(QColor(0, 0, 0));
    view->SetThumbnailOverlays(selected, other, QRect(10, 10, 60, 60));
    view->SetSelectedImage(2);  // a square picture filling the whole area
    EXPECT_EQ(PixelBeside(2, 5, 5), qRgb(255, 0, 255));
    EXPECT_EQ(PixelBeside(1, 5, 5), qRgb(0, 0, 0));
    EXPECT_EQ(PixelBeside(2, -1, 10), KVToQColor(0xE0E0E0).rgb());  // no selection frame
    EXPECT_EQ(PixelBeside(2, 12, 12), qRgb(0xC0, 0, 0));  // the picture's first quarter
}

}  // namespace
