// The thumbnail view under the pointer and the keyboard as a person uses it, and with settings far
// out of the ordinary.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <climits>
#include <string>
#include <vector>

#include "PointerEnterLeave.h"
#include "QtTestApplication.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/view/KestovaMView.h"

namespace {

class KestovaMViewEventsTest : public ::testing::Test {
protected:
    void SetUp() override { EnsureTestApplication<QApplication>(); }
};

void AddPictures(TKestovaMView& view, int count) {
    for (int i = 0; i < count; ++i) {
        TKVBitmap picture;
        picture.Allocate(10 + i, 10, kv24RGB);
        view.InsertImage(view.GetImageCount());
        view.SetImage(view.GetImageCount() - 1, &picture);
    }
}

QPoint CellCentre(const TKestovaMView& view, int index) {
    const TKVCellPlace cell = view.CellOf(index);
    return {cell.x - view.ViewX() + view.ThumbWidth() / 2, cell.y - view.ViewY() + view.ThumbHeight() / 2};
}

}  // namespace

TEST_F(KestovaMViewEventsTest, MouseEnterAndLeaveFollowThePointer) {
    EXPECT_EQ(PointerEnterLeaveEvents<TKestovaMView>(), (std::vector<std::string>{"enter", "leave", "enter"}));
}

// With multiple selection on and the region option off, a Shift-click on the selected thumbnail
// selects it alone.
TEST_F(KestovaMViewEventsTest, ShiftClickOnTheSelectedThumbnailEnds) {
    TKestovaMView view;
    view.resize(340, 240);
    view.show();
    view.SetGridWidth(3);
    view.SetEnableMultiSelect(true);
    AddPictures(view, 6);
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, CellCentre(view, 2));
    QTest::mouseClick(view.viewport(), Qt::LeftButton, Qt::ShiftModifier, CellCentre(view, 2));
    EXPECT_EQ(view.MultiSelectedImages(), std::vector<int>{2});
    EXPECT_EQ(view.SelectedImage(), 2);
}

TEST_F(KestovaMViewEventsTest, CellSizesAndBordersAreBounded) {
    TKestovaMView view;
    view.resize(340, 240);
    view.SetGridWidth(1);
    AddPictures(view, 3);
    view.SetThumbWidth(INT_MAX);
    view.SetThumbHeight(1 << 30);
    view.SetHorizBorder(-3);
    view.SetVertBorder(INT_MAX);
    EXPECT_EQ(view.ThumbWidth(), KVThumbSizeLimit);
    EXPECT_EQ(view.ThumbHeight(), KVThumbSizeLimit);
    EXPECT_EQ(view.HorizBorder(), 0);
    EXPECT_EQ(view.VertBorder(), KVThumbSizeLimit);
    // One column of three cells: the second begins below a border, a cell and a border.
    view.SetViewY(3 * KVThumbSizeLimit + 100);
    EXPECT_EQ(view.ViewY(), 3 * KVThumbSizeLimit + 100);
    EXPECT_EQ(view.ImageAtPos(10, 10), 1);
}
