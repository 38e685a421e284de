#include "imaging/view/KestovaMView.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QScrollBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>
#include <algorithm>

#include "QtTestApplication.h"
#include "TestSupport.h"
#include "TransitionFixtures.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KestovaIO.h"
#include "imaging/view/KVIOPreviews.h"
#include "imaging/view/KVTransitionEffects.h"
#include "imaging/view/KestovaMIO.h"

namespace {

// A picture of one colour whose size tells it apart.
std::unique_ptr<TKVBitmap> Picture(int width, int height, TColor color = 0x336699) {
    auto bitmap = std::make_unique<TKVBitmap>();
    bitmap->Allocate(width, height, kv24RGB);
    bitmap->Fill(color);
    return bitmap;
}

class KestovaMViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureTestApplication<QApplication>();
        view = std::make_unique<TKestovaMView>();
        view->resize(340, 240);
        view->show();
    }

    // Entries whose pictures are told apart by their width: 10, 11, 12 ...
    void AddPictures(int count) {
        for (int i = 0; i < count; ++i) {
            view->InsertImage(view->GetImageCount());
            view->SetImage(view->GetImageCount() - 1, Picture(10 + i, 10).get());
        }
    }

    std::vector<int> Widths() {
        std::vector<int> widths;
        for (int i = 0; i < view->GetImageCount(); ++i) widths.push_back(view->GetImageOriginalWidth(i));
        return widths;
    }

    QPoint CellCentre(int index) {
        const TKVCellPlace cell = view->CellOf(index);
        return {cell.x - view->ViewX() + view->ThumbWidth() / 2, cell.y - view->ViewY() + view->ThumbHeight() / 2};
    }

    void Click(int index, Qt::KeyboardModifiers modifiers = {}) {
        QTest::mouseClick(view->viewport(), Qt::LeftButton, modifiers, CellCentre(index));
    }

    TScratchFolder scratch;
    std::unique_ptr<TKestovaMView> view;
};

// The variant chessboard starts with a square of the complement colour; the plain one with one of
// the background colour.
TEST_F(KestovaMViewTest, ChessboardVariantSwapsTheSquares) {
    const QRgb green = qRgb(0, 128, 0), complement = qRgb(255, 127, 255);
    struct Case {
        bool variant;
        QPoint at;
        QRgb expected;
    } cases[] = {
        {false, {0, 0}, green},      {false, {11, 11}, green},     {false, {12, 0}, complement},
        {false, {12, 12}, green},    {true, {0, 0}, complement},   {true, {11, 11}, complement},
        {true, {12, 0}, green},      {true, {12, 12}, complement},
    };
    view->SetBackground(0x008000);
    view->SetBackgroundStyle(kvbsChessboard);
    for (const Case& c : cases) {
        view->SetChessboardStyle(12, c.variant);
        EXPECT_EQ(view->Render().pixel(c.at), c.expected) << c.variant << " at " << c.at.x() << "," << c.at.y();
    }
}

// The selected entry's picture as the class library's bitmap; none without a selection.
TEST_F(KestovaMViewTest, ClassLibraryBitmapIsTheSelectedPicture) {
    for (int i = 0; i < 3; ++i) {
        view->InsertImage(i);
        view->SetImage(i, Picture(10 + i, 5, TColor(0x102030 * (i + 1))).get());
    }
    EXPECT_EQ(view->GetTBitmap(), nullptr);
    for (int index : {2, 0, 1}) {
        view->SetSelectedImage(index);
        TBitmap* bitmap = view->GetTBitmap();
        ASSERT_NE(bitmap, nullptr) << index;
        EXPECT_EQ(bitmap->Width(), 10 + index);
        EXPECT_EQ(bitmap->Height(), 5);
        EXPECT_EQ(bitmap->Pixel(3, 2), TColor(0x102030 * (index + 1))) << index;
    }
    view->Deselect();
    EXPECT_EQ(view->GetTBitmap(), nullptr);
}

// The transition settings are kept for the host and change nothing drawn.
TEST_F(KestovaMViewTest, TransitionSettingsAreOnlyKept) {
    EXPECT_EQ(view->TransitionEffect, kvttNone);
    EXPECT_EQ(view->TransitionDuration, 1000);
    AddPictures(3);
    const QImage before = view->Render();
    view->TransitionEffect = kvttPanZoom;
    view->TransitionDuration = 250;
    EXPECT_EQ(view->Render(), before);
}

// A host runs transitions through the view's own engine: its frames take the cells' place.
TEST_F(KestovaMViewTest, TheViewsTransitionEngineShowsItsFramesInPlaceOfTheCells) {
    AddPictures(3);
    QApplication::processEvents();
    const auto grab = [&] { return view->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32); };
    const QImage cells = grab();
    TKVTransitionEffects& effects = view->TransitionEffects();
    EXPECT_FALSE(effects.Running());
    const TBgr from{10, 100, 200}, to{250, 50, 0};
    effects.Start(SolidFrame(500, 400, from), SolidFrame(500, 400, to), kvttLeftRight1, 600000, false);
    ASSERT_TRUE(effects.Running());
    effects.Tick();  // the first frame is the old picture
    EXPECT_EQ(effects.CurrentFrame().Width(), view->ClientWidth());
    EXPECT_EQ(effects.CurrentFrame().Height(), view->ClientHeight());
    const QImage running = grab();
    for (const QPoint p : {QPoint(0, 0), QPoint(50, 50), QPoint(running.width() - 1, running.height() - 1)})
        EXPECT_EQ(running.pixel(p), qRgb(200, 100, 10)) << p.x() << ", " << p.y();
    effects.Stop();
    EXPECT_EQ(grab(), cells);
}

// Arrows and pages of a bar move by the steps set, or by a cell and the client's height; without
// tracking, dragging the bar's thumb scrolls only when it is let go.
TEST_F(KestovaMViewTest, ScrollBarStepsAndTrackingFollowTheirSettings) {
    EXPECT_EQ(view->VertScrollBar.LineStep, -1);
    EXPECT_EQ(view->VertScrollBar.PageStep, -1);
    EXPECT_TRUE(view->VertScrollBar.Tracking);
    view->SetGridWidth(2);
    AddPictures(20);  // ten rows of 104 below a border of 4
    QScrollBar* bar = view->verticalScrollBar();
    ASSERT_TRUE(bar->isVisible());
    int maxX, maxY;
    view->GetMaxViewXY(maxX, maxY);
    ASSERT_GT(maxY, 300 + view->ClientHeight());
    struct Step {
        int lineStep, pageStep;
        QAbstractSlider::SliderAction action;
        int expected;
    } steps[] = {
        {-1, -1, QAbstractSlider::SliderSingleStepAdd, 104},
        {-1, -1, QAbstractSlider::SliderPageStepAdd, 104 + view->ClientHeight()},
        {-1, -1, QAbstractSlider::SliderSingleStepSub, view->ClientHeight()},
        {30, 50, QAbstractSlider::SliderSingleStepSub, view->ClientHeight() - 30},
        {30, 50, QAbstractSlider::SliderPageStepSub, view->ClientHeight() - 80},
        {30, 50, QAbstractSlider::SliderPageStepAdd, view->ClientHeight() - 30},
        {30, 50, QAbstractSlider::SliderSingleStepAdd, view->ClientHeight()},
        {30, 50, QAbstractSlider::SliderToMaximum, maxY},
        {30, 50, QAbstractSlider::SliderToMinimum, 0},
    };
    for (const Step& s : steps) {
        view->VertScrollBar.LineStep = s.lineStep;
        view->VertScrollBar.PageStep = s.pageStep;
        bar->triggerAction(s.action);
        EXPECT_EQ(view->ViewY(), s.expected) << "action " << s.action << " with steps " << s.lineStep;
    }
    view->VertScrollBar.Tracking = false;
    view->Update();
    bar->setSliderDown(true);
    bar->setSliderPosition(bar->maximum() / 2);
    EXPECT_EQ(view->ViewY(), 0);
    bar->setSliderDown(false);
    // The bar's 65,536 steps span the client height and the largest origin.
    EXPECT_NEAR(view->ViewY(), bar->value() * (view->ClientHeight() + maxY - 1) / 65536.0, 1);
}

// A host that widens the view whenever the layout lowers the origin keeps the client size
// changing: the layout gives up after nine rounds of showing and hiding the bars.
TEST_F(KestovaMViewTest, TheLayoutSettlesTheScrollBarsInNineRoundsAtMost) {
    QWidget window;
    window.resize(1200, 400);
    TKestovaMView child(&window);
    child.setGeometry(0, 0, 340, 240);
    window.show();
    for (int i = 0; i < 20; ++i) {
        child.InsertImage(i);
        child.SetImage(i, Picture(10, 10).get());
    }
    child.SetViewX(1 << 20);  // at the end of the one row
    int rounds = 0;
    bool counting = false;
    const auto widen = [&] { child.resize(child.width() + 1, child.height()); };
    child.OnViewChange = [&](int) {
        if (!counting) return;
        ++rounds;
        widen();
    };
    child.OnImageSelect = [&](int) {
        counting = true;
        widen();
        counting = false;
    };
    QTest::keyClick(&child, Qt::Key_Right);
    EXPECT_EQ(child.SelectedImage(), 0);
    EXPECT_EQ(rounds, 9);
}

// Turning flat bars on resets both ranges and shows both bars; setting the same value again or
// turning them off leaves the bars alone.
TEST_F(KestovaMViewTest, FlatScrollBarsResetBothBars) {
    struct Case {
        bool start, value;
        bool reset;
    } cases[] = {
        {false, true, true},
        {true, true, false},
        {true, false, false},
        {false, false, false},
    };
    for (const Case& c : cases) {
        TKestovaMView bars;
        EXPECT_FALSE(bars.FlatScrollBars());
        bars.SetScrollBars(ssNone);
        bars.SetFlatScrollBars(c.start);
        for (QScrollBar* bar : {bars.horizontalScrollBar(), bars.verticalScrollBar()}) bar->setRange(0, 10);
        bars.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        bars.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        bars.SetFlatScrollBars(c.value);
        EXPECT_EQ(bars.FlatScrollBars(), c.value);
        const int maximum = c.reset ? 65535 : 10;
        const Qt::ScrollBarPolicy policy = c.reset ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff;
        EXPECT_EQ(bars.horizontalScrollBar()->maximum(), maximum) << c.start << c.value;
        EXPECT_EQ(bars.verticalScrollBar()->maximum(), maximum) << c.start << c.value;
        EXPECT_EQ(bars.horizontalScrollBarPolicy(), policy) << c.start << c.value;
        EXPECT_EQ(bars.verticalScrollBarPolicy(), policy) << c.start << c.value;
    }
}

TEST_F(KestovaMViewTest, InsertionsLandInsideTheListAndAreReportedOnce) {
    std::vector<std::pair<int, int>> seen;
    TObject owner;
    view->AddChangeHandler(
        [&](TObject*, TKVView*, bool) {
            if (view->GetChangeKind() != 0) seen.emplace_back(view->GetChangeKind(), view->GetChangeIndex());
        },
        &owner);
    view->InsertImage(5);   // past the end: appended
    view->InsertImage(-3);  // before the list: at the front
    view->InsertImage(1);
    EXPECT_TRUE(view->DeleteImage(0));
    EXPECT_FALSE(view->DeleteImage(7));
    EXPECT_EQ(seen, (std::vector<std::pair<int, int>>{{1, 0}, {1, 0}, {1, 1}, {2, 0}}));
    EXPECT_EQ(view->GetChangeKind(), 0);
    EXPECT_EQ(view->GetImageCount(), 2);
}

TEST_F(KestovaMViewTest, DeletingKeepsTheSelectedPictureSelected) {
    struct Case {
        const char* name;
        int count, selected, deleted, expected;
    } cases[] = {
        {"the selected last entry", 3, 2, 2, 1},
        {"an entry before the selection", 3, 2, 0, 1},
        {"an entry after the selection", 3, 0, 2, 0},
        {"the only entry", 1, 0, 0, -1},
    };
    for (const Case& c : cases) {
        view->Clear();
        AddPictures(c.count);
        view->SetSelectedImage(c.selected);
        const int kept = view->GetImageOriginalWidth(c.selected);
        ASSERT_TRUE(view->DeleteImage(c.deleted)) << c.name;
        EXPECT_EQ(view->SelectedImage(), c.expected) << c.name;
        if (c.deleted != c.selected) EXPECT_EQ(view->GetImageOriginalWidth(view->SelectedImage()), kept) << c.name;
    }
}

TEST_F(KestovaMViewTest, TheComponentKeepsOneRecordPerEntryInStep) {
    AddPictures(5);
    TKestovaMIO& mio = *view->GetMIO();
    ASSERT_EQ(mio.GetParamsCount(), 5);
    for (int i = 0; i < 5; ++i) mio.GetParams(i)->JpegQuality = 10 + i;
    const auto qualities = [&] {
        std::vector<int> q;
        for (int i = 0; i < mio.GetParamsCount(); ++i) q.push_back(mio.GetParams(i)->JpegQuality);
        return q;
    };
    view->InsertImage(2);  // a copy of record 2
    EXPECT_EQ(qualities(), (std::vector<int>{10, 11, 12, 12, 13, 14}));
    view->DeleteImage(0);
    EXPECT_EQ(qualities(), (std::vector<int>{11, 12, 12, 13, 14}));
    view->InsertImage(99);  // appended: a copy of the last
    EXPECT_EQ(qualities(), (std::vector<int>{11, 12, 12, 13, 14, 14}));
    mio.GetParams(0)->JpegQuality = 1;
    view->MoveImage(0, 50);  // to the end
    EXPECT_EQ(qualities(), (std::vector<int>{12, 12, 13, 14, 14, 1}));
    view->SwapImages(0, 3);
    EXPECT_EQ(qualities(), (std::vector<int>{14, 12, 13, 12, 14, 1}));
    EXPECT_EQ(mio.GetParams(-1), nullptr);
    EXPECT_EQ(mio.GetParams(mio.GetParamsCount()), nullptr);
    EXPECT_EQ(mio.GetParamsCount(), view->GetImageCount());

    TKestovaMIO late;
    late.SetAttachedMView(view.get());
    EXPECT_EQ(late.GetParamsCount(), view->GetImageCount());
    view.reset();
    EXPECT_EQ(late.AttachedMView(), nullptr);
}

TEST_F(KestovaMViewTest, AcquiredPagesFollowOneAnotherFromTheClampedIndex) {
    AddPictures(3);
    TKestovaMIO& mio = *view->GetMIO();
    mio.AcquireIndex = 10;
    for (int page = 0; page < 3; ++page) {
        TIOParamsVals* params = nullptr;
        mio.DoAcquireBitmap(*Picture(100 + page, 7), params);
        EXPECT_EQ(params, mio.GetParams(3 + page));
    }
    EXPECT_EQ(Widths(), (std::vector<int>{10, 11, 12, 100, 101, 102}));
    EXPECT_EQ(view->GetImageDelayTime(4), 100);
    mio.EndAcquire();
    EXPECT_FALSE(mio.Acquiring());

    mio.AcquireIndex = -4;
    TIOParamsVals* params = nullptr;
    mio.DoAcquireBitmap(*Picture(200, 7), params);
    EXPECT_EQ(view->GetImageOriginalWidth(0), 200);

    bool handled = true;
    mio.OnAcquireBitmap = [&](TObject*, TKVBitmap&, bool& h) { h = handled; };
    mio.DoAcquireBitmap(*Picture(300, 7), params);
    EXPECT_EQ(view->GetImageCount(), 7);
}

TEST_F(KestovaMViewTest, AcquiredPagesGetSquarePixelsWhenAsked) {
    view->InsertImage(0);
    TKestovaMIO& mio = *view->GetMIO();
    mio.AutoAdjustDPI = true;
    struct Case {
        int width, height, dpiX, dpiY, expectedWidth, expectedHeight;
    } cases[] = {
        {100, 50, 200, 100, 100, 100},  // wider than high: the height grows to dpiX
        {50, 100, 100, 200, 100, 100},  // higher than wide: the width grows to dpiY
        {60, 40, 300, 300, 60, 40},     // already square
        {60, 40, 0, 300, 60, 40},       // unknown resolution
    };
    for (const Case& c : cases) {
        mio.GetParams(0)->SetDpiX(c.dpiX);
        mio.GetParams(0)->SetDpiY(c.dpiY);
        mio.AcquireIndex = 0;
        TIOParamsVals* params = nullptr;
        mio.DoAcquireBitmap(*Picture(c.width, c.height), params);
        ASSERT_NE(params, nullptr);
        EXPECT_EQ(view->GetImageOriginalWidth(0), c.expectedWidth) << c.width << "x" << c.height;
        EXPECT_EQ(view->GetImageOriginalHeight(0), c.expectedHeight) << c.width << "x" << c.height;
        if (c.dpiX > 0) EXPECT_EQ(params->DpiX(), params->DpiY());
        view->DeleteImage(1);
    }
}

TEST_F(KestovaMViewTest, PreviewsForAllGiveEveryPictureTheSettingsOfTheFirst) {
    AddPictures(3);
    TKestovaMIO& mio = *view->GetMIO();
    for (int i = 0; i < 3; ++i) mio.GetParams(i)->JpegQuality = 40 + i;
    mio.GetParams(0)->FileType = kvftJPEG;
    int pageHeight = 0, formHeight = 0, leastHeight = 0;
    QTimer::singleShot(0, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* form = dynamic_cast<TfIOPreviews*>(widget); form && form->isVisible()) {
                pageHeight = form->PageControl1->height();
                formHeight = form->height();
                leastHeight = form->minimumSizeHint().height();
                form->accept();
            }
    });
    EXPECT_TRUE(mio.DoPreviews(-1, ppFileType));
    EXPECT_EQ(view->SelectedImage(), 0);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(mio.GetParams(i)->JpegQuality, 40) << i;
    // 96 dots per inch on the test screen.
    EXPECT_EQ(pageHeight, 122);
    EXPECT_EQ(formHeight, std::max(330, leastHeight));

    // Cancelled, it leaves each picture its own settings.
    for (int i = 0; i < 3; ++i) mio.GetParams(i)->JpegQuality = 50 + i;
    QTimer::singleShot(0, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* form = dynamic_cast<TfIOPreviews*>(widget); form && form->isVisible()) form->reject();
    });
    EXPECT_FALSE(mio.DoPreviews(-1, ppFileType));
    for (int i = 0; i < 3; ++i) EXPECT_EQ(mio.GetParams(i)->JpegQuality, 50 + i) << i;
}

TEST_F(KestovaMViewTest, PreviewsForOnePictureLeaveTheOthersTheirSettings) {
    AddPictures(3);
    TKestovaMIO& mio = *view->GetMIO();
    for (int i = 0; i < 3; ++i) mio.GetParams(i)->JpegQuality = 40 + i;
    mio.GetParams(0)->FileType = kvftJPEG;
    QTimer::singleShot(0, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* form = dynamic_cast<TfIOPreviews*>(widget); form && form->isVisible()) form->accept();
    });
    EXPECT_TRUE(mio.DoPreviews(0, ppFileType));
    for (int i = 0; i < 3; ++i) EXPECT_EQ(mio.GetParams(i)->JpegQuality, 40 + i) << i;
}

TEST_F(KestovaMViewTest, PlaybackStepsByEachEntrysDelay) {
    view->SetPlaying(true);  // nothing to play
    EXPECT_TRUE(view->Playing());
    EXPECT_EQ(view->PlayInterval(), 0);
    AddPictures(3);  // inserting stops playback
    EXPECT_FALSE(view->Playing());
    EXPECT_EQ(view->DisplayMode(), mdGrid);
    view->SetImageDelayTime(1, 250);
    view->SetSelectedImage(2);
    view->SetPlaying(true);
    EXPECT_EQ(view->DisplayMode(), mdSingle);
    EXPECT_EQ(view->SelectedImage(), -1);
    EXPECT_EQ(view->PlayInterval(), 10);  // frame 0 has no delay
    view->PlayStep();
    EXPECT_EQ(view->PlayInterval(), 250);
    view->PlayStep();
    EXPECT_EQ(view->FrameIndex(), 0);  // round again
    view->SetDisplayMode(mdGrid);      // while playing only remembered
    EXPECT_EQ(view->DisplayMode(), mdSingle);
    view->InsertImage(0);  // stops and restores
    EXPECT_FALSE(view->Playing());
    EXPECT_EQ(view->DisplayMode(), mdGrid);
    EXPECT_EQ(view->SelectedImage(), 2);

    view->PlayLoop = false;
    view->SetPlaying(true);  // paints frame 0 of 4
    for (int i = 0; i < 2; ++i) view->PlayStep();
    EXPECT_TRUE(view->Playing());
    view->PlayStep();  // the last frame ends a run without loop
    EXPECT_FALSE(view->Playing());
    EXPECT_EQ(view->PlayInterval(), 0);
}

TEST_F(KestovaMViewTest, CellSizeChangesDropTheDrawnCellsButBorderChangesDoNot) {
    AddPictures(2);
    view->Render();
    ASSERT_TRUE(view->HasCachedDrawing(0));
    view->SetHorizBorder(9);
    EXPECT_TRUE(view->HasCachedDrawing(0));
    view->SetThumbWidth(80);
    EXPECT_FALSE(view->HasCachedDrawing(0));
    view->Render();
    view->SetThumbHeight(80);
    EXPECT_FALSE(view->HasCachedDrawing(1));
}

TEST_F(KestovaMViewTest, ZeroSizedCellsDivideNothing) {
    AddPictures(3);
    view->SetThumbWidth(0);
    view->SetThumbHeight(0);
    view->SetHorizBorder(0);
    view->SetVertBorder(0);
    view->SetGridWidth(-1);
    view->Render();
    EXPECT_EQ(view->ImageAtPos(5, 5), -1);
    Click(0);
    EXPECT_EQ(view->SelectedImage(), -1);
}

TEST_F(KestovaMViewTest, DrawingEventsFireOnceWhereTheyShould) {
    AddPictures(1);
    int progress = 0, all = 0;
    view->OnDrawProgress = [&](int, int) { ++progress; };
    view->OnAllDisplayed = [&] { ++all; };
    view->Render();
    EXPECT_EQ(progress, 0);  // not for a single entry
    all = 0;
    view->InsertImage(1);
    view->SetImageFileName(1, scratch.Path("absent.png"));
    view->SetThreadPoolSize(0);
    view->Render();
    view->Render();
    EXPECT_EQ(all, 1);
    EXPECT_EQ(progress, 2 * 3);  // two entries: 0 %, 50 % and the final 100 % each time
}

TEST_F(KestovaMViewTest, SelectionEventsReportUserActionsOnly) {
    AddPictures(3);
    std::vector<int> selected, deselected;
    view->OnImageSelect = [&](int i) { selected.push_back(i); };
    view->OnImageDeselect = [&](int i) { deselected.push_back(i); };
    view->SetSelectedImage(1);
    EXPECT_TRUE(selected.empty());
    Click(2);
    EXPECT_EQ(view->SelectedImage(), 2);
    EXPECT_EQ(selected, std::vector<int>{2});
    Click(0);
    EXPECT_EQ(selected, (std::vector<int>{2, 0}));
}

TEST_F(KestovaMViewTest, MultipleSelectionByCtrlShiftAndRegion) {
    view->SetGridWidth(3);
    view->SetEnableMultiSelect(true);
    AddPictures(6);
    Click(3, Qt::ShiftModifier);  // no anchor yet: from entry 0
    std::vector<int> listed = view->MultiSelectedImages();
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, (std::vector<int>{0, 1, 2, 3}));

    view->Deselect();
    Click(1, Qt::ControlModifier);
    Click(1, Qt::ControlModifier);  // a second Ctrl-click deselects
    EXPECT_EQ(view->SelectedImage(), -1);
    EXPECT_TRUE(view->MultiSelectedImages().empty());

    view->MultiSelectionOptions = kvmoRegion;
    Click(0);
    Click(5, Qt::ShiftModifier);  // row 0 column 0 to row 1 column 2
    EXPECT_EQ(view->MultiSelectedImages().size(), 6u);

    // Pressing inside the selection keeps it; releasing reduces it to the entry.
    view->MultiSelectionOptions = 0;
    QTest::mousePress(view->viewport(), Qt::LeftButton, {}, CellCentre(4));
    EXPECT_EQ(view->MultiSelectedImages().size(), 6u);
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, CellCentre(4));
    EXPECT_EQ(view->MultiSelectedImages(), std::vector<int>{4});
    EXPECT_EQ(view->SelectedImage(), 4);
}

TEST_F(KestovaMViewTest, KeysMoveTheSelectionIntoView) {
    QTest::keyClick(view.get(), Qt::Key_Home);  // no entries: nothing
    EXPECT_EQ(view->SelectedImage(), -1);
    view->SetGridWidth(2);
    AddPictures(12);
    view->SetSelectedImage(0);
    for (int i = 0; i < 5; ++i) QTest::keyClick(view.get(), Qt::Key_Down);
    EXPECT_EQ(view->SelectedImage(), 10);
    EXPECT_EQ(view->GetImageVisibility(10), 2);
    QTest::keyClick(view.get(), Qt::Key_Home);
    EXPECT_EQ(view->SelectedImage(), 0);
    EXPECT_EQ(view->ViewY(), 0);
    QTest::keyClick(view.get(), Qt::Key_End);
    EXPECT_EQ(view->SelectedImage(), 11);
    EXPECT_EQ(view->GetImageVisibility(11), 2);
}

// The previous entry out of view on the left comes in at the left edge, with its border.
TEST_F(KestovaMViewTest, ThePreviousKeyScrollsItsEntryToTheLeftEdge) {
    AddPictures(10);  // one row: entry i at x = 4 + 104 i, y = 4
    view->SetSelectedImage(5);
    view->SetViewX(1 << 20);
    ASSERT_GT(view->ViewX(), 4 + 104 * 4);
    QTest::keyClick(view.get(), Qt::Key_Left);
    EXPECT_EQ(view->SelectedImage(), 4);
    EXPECT_EQ(view->ViewX(), 4 + 104 * 4 - 4);
    EXPECT_EQ(view->ViewY(), 0);
}

TEST_F(KestovaMViewTest, DraggingAndTheWheelScrollAndTellTheHost) {
    view->SetGridWidth(2);
    AddPictures(12);
    std::vector<int> changes;
    view->OnViewChange = [&](int change) { changes.push_back(change); };
    view->SetViewY(50);  // by code: nothing told
    view->SetViewY(0);
    EXPECT_TRUE(changes.empty());
    view->MouseInteract = mmiScroll;
    QTest::mousePress(view->viewport(), Qt::LeftButton, {}, QPoint(50, 150));
    QTest::mouseMove(view->viewport(), QPoint(50, 100));
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, QPoint(50, 100));
    EXPECT_EQ(view->ViewY(), 50);
    EXPECT_FALSE(changes.empty());
    EXPECT_EQ(view->SelectedImage(), -1);  // scrolling only
    QWheelEvent towards(QPointF(50, 50), QPointF(50, 50), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                        Qt::NoScrollPhase, false);
    QApplication::sendEvent(view->viewport(), &towards);
    EXPECT_EQ(view->ViewY(), 50 + view->ThumbHeight() + view->VertBorder());  // one row per notch
}

TEST_F(KestovaMViewTest, FrameNamesCannotBeTakenForPaths) {
    struct Case {
        std::string name;
        bool isFrame;
        std::string path;
        int frame;
    } cases[] = {
        {KVFrameName("/tmp/a.gif", 3), true, "/tmp/a.gif", 3},
        {KVFrameName("/tmp/x::2.tif", 12), true, "/tmp/x::2.tif", 12},
        {"/tmp/x::2.tif", false, "", 0},
        {std::string("/tmp/a.gif") + '\0' + "x7", true, "/tmp/a.gif", 0},
        {std::string("/tmp/a.gif") + '\0', true, "/tmp/a.gif", 0},
    };
    for (const Case& c : cases) {
        std::string path;
        int frame = -1;
        EXPECT_EQ(KVSplitFrameName(c.name, path, frame), c.isFrame) << c.path;
        if (c.isFrame) {
            EXPECT_EQ(path, c.path);
            EXPECT_EQ(frame, c.frame) << c.path;
        }
    }
}

// Pictures more than max(LookAhead, ReleaseDistance) entries before the first visible one or
// after the last are given back; those nearer stay.
TEST_F(KestovaMViewTest, PicturesFarFromTheVisibleCellsAreGivenBack) {
    const std::string file = scratch.Path("p.png");
    ASSERT_EQ(RunTool("convert -size 6x4 xc:red " + Quoted(file)).status, 0);
    view->SetThreadPoolSize(0);
    view->CacheDrawnThumbnails = false;  // a picture given back then comes again when its cell shows
    for (int i = 0; i < 30; ++i) {
        view->InsertImage(i);
        view->SetImageFileName(i, file);
    }
    // One row, 340 wide: entries 0 to 3 show at the start, 20 to 23 from x = 20 x 104.
    const auto loaded = [&](std::vector<int> indexes) {
        std::vector<int> have;
        for (int i : indexes)
            if (view->HasPicture(i)) have.push_back(i);
        return have;
    };
    struct Case {
        int lookAhead, releaseDistance;
        std::vector<int> keptBefore, keptAfter;
    } cases[] = {
        {0, 17, {3}, {20}},             // 20 - 17 = 3 and 3 + 17 = 20 are the farthest kept
        {18, 17, {2, 3}, {20, 21}},     // the look-ahead is farther
        {0, -1, {0, 1, 2, 3}, {20, 21, 22, 23}},  // nothing given back
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.lookAhead) + " " + std::to_string(c.releaseDistance));
        view->LookAhead = c.lookAhead;
        view->ReleaseDistance = c.releaseDistance;
        view->SetViewX(0);
        view->Render();
        view->SetViewX(20 * 104);
        view->Render();
        EXPECT_EQ(loaded({0, 1, 2, 3}), c.keptBefore);
        view->SetViewX(0);
        view->Render();
        EXPECT_EQ(loaded({20, 21, 22, 23}), c.keptAfter);
    }
}

// Small cells ask a JPEG reader for the largest reduction that keeps them filled, and for an
// embedded thumbnail up to 200 x 150; a view that keeps pictures whole asks for full size.
TEST_F(KestovaMViewTest, SmallCellsAskForAReducedDecodeAndEmbeddedThumbnails) {
    const std::string file = scratch.Path("p.png");
    ASSERT_EQ(RunTool("convert -size 6x4 xc:red " + Quoted(file)).status, 0);
    view->SetThreadPoolSize(0);
    struct Case {
        TKVStoreType store;
        int width, height;
        bool useEmbedded;
        int scale;
        bool thumbnail;
    } cases[] = {
        {kvtThumb, 200, 150, true, 0, true},   // 0: the reader chooses
        {kvtThumb, 201, 150, true, 0, false},
        {kvtThumb, 200, 151, true, 0, false},
        {kvtThumb, 100, 100, false, 0, false},
        {kvtNormal, 100, 100, true, 1, false},  // 1: full size
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
        view->Clear();
        view->SetStoreType(c.store);
        view->SetThumbWidth(c.width);
        view->SetThumbHeight(c.height);
        view->UseEmbeddedThumbnails = c.useEmbedded;
        view->InsertImage(0);
        view->SetImageFileName(0, file);
        view->Render();
        ASSERT_TRUE(view->HasPicture(0));
        const TIOParamsVals& params = *view->GetMIO()->GetParams(0);
        EXPECT_EQ(params.JpegScale, c.scale);
        EXPECT_EQ(params.JpegLoadThumbnail, c.thumbnail);
    }
}

TEST_F(KestovaMViewTest, PicturesNamedByAnIdComeFromTheHost) {
    std::unique_ptr<TKVBitmap> supplied = Picture(30, 20);
    std::vector<int32_t> asked;
    view->OnImageIDRequestEx = [&](int32_t id, TKVBitmap*& bitmap) {
        asked.push_back(id);
        bitmap = supplied.get();
    };
    for (int i = 0; i < 2; ++i) {
        view->InsertImage(i);
        view->SetImageID(i, 40 + i);
    }
    view->Render();  // with background loads too: an id is asked for at once
    EXPECT_EQ(asked, (std::vector<int32_t>{40, 41}));
    EXPECT_EQ(view->GetImageOriginalWidth(1), 30);
    view->Render();
    EXPECT_EQ(asked.size(), 2u);  // kept once there
}

TEST_F(KestovaMViewTest, FailedLoadsShowAPlaceholderOrGo) {
    view->SetThreadPoolSize(0);
    view->InsertImage(0);
    view->SetImageFileName(0, scratch.Path("absent.jpg"));
    int wrong = 0;
    view->OnWrongImage = [&](TKVBitmap& bitmap, int, bool& handled) {
        ++wrong;
        bitmap.Fill(0x00FF00);
        handled = true;
    };
    view->Render();
    EXPECT_EQ(wrong, 1);
    ASSERT_TRUE(view->HasPicture(0));
    EXPECT_EQ(view->GetBitmap(0)->GetPixelRGB(0, 0).g, 255);
    view->Clear();
    view->RemoveCorrupted = true;
    view->InsertImage(0);
    view->SetImageFileName(0, scratch.Path("absent.jpg"));
    AddPictures(1);
    view->Render();
    EXPECT_EQ(view->GetImageCount(), 1);
    EXPECT_EQ(view->GetImageOriginalWidth(0), 10);
}

}  // namespace
