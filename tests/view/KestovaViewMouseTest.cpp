// The view driven by mouse and keyboard events on the offscreen platform: zoom by clicks, drag
// scrolling, the selection shapes, grips, moves, the animated border and the selection's stream.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QTest>
#include <memory>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "QtTestApplication.h"
#include "ViewTestSupport.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/proc/KestovaProc.h"
#include "imaging/view/KVViewCursors.h"
#include "imaging/view/KestovaView.h"

namespace {

class ViewMouse : public ::testing::Test {
protected:
    void SetUp() override { EnsureTestApplication<QApplication>(); }
};

// Red rises to the right, green downwards.
std::unique_ptr<TKestovaView> ShowView(int bitmapWidth, int bitmapHeight, int width = 204, int height = 164) {
    auto view = std::make_unique<TKestovaView>();
    view->resize(width, height);
    TKVBitmap& bitmap = *view->GetKVBitmap();
    bitmap.Allocate(bitmapWidth, bitmapHeight, kv24RGB);
    for (int y = 0; y < bitmapHeight; ++y)
        for (int x = 0; x < bitmapWidth; ++x)
            reinterpret_cast<TKVRGB*>(bitmap.GetScanline(y))[x] = {90, uint8_t(y * 2), uint8_t(x)};
    view->Update();
    view->show();
    QApplication::processEvents();
    return view;
}

void Move(TKestovaView& view, QPoint p, Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers = {}) {
    QMouseEvent event(QEvent::MouseMove, QPointF(p), view.viewport()->mapToGlobal(QPointF(p)), Qt::NoButton, buttons,
                      modifiers);
    QApplication::sendEvent(view.viewport(), &event);
}

void Drag(TKestovaView& view, QPoint from, QPoint to, Qt::KeyboardModifiers modifiers = {},
          Qt::MouseButton button = Qt::LeftButton) {
    QTest::mousePress(view.viewport(), button, modifiers, from);
    for (int i = 1; i <= 4; ++i) Move(view, from + (to - from) * i / 4, button, modifiers);
    QTest::mouseRelease(view.viewport(), button, modifiers, to);
}

// Press, release, double click and release, as the window system delivers a double click.
void DoubleClick(TKestovaView& view, QPoint p, Qt::KeyboardModifiers modifiers = {}) {
    QTest::mouseClick(view.viewport(), Qt::LeftButton, modifiers, p);
    const QPointF global = view.viewport()->mapToGlobal(QPointF(p));
    QMouseEvent dbl(QEvent::MouseButtonDblClick, QPointF(p), global, Qt::LeftButton, Qt::LeftButton, modifiers);
    QApplication::sendEvent(view.viewport(), &dbl);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(p), global, Qt::LeftButton, Qt::NoButton, modifiers);
    QApplication::sendEvent(view.viewport(), &release);
}

QPoint Client(const TKestovaView& view, int bx, int by) { return {view.BitmapToClientX(bx), view.BitmapToClientY(by)}; }

TRect MaskBox(const TKestovaView& view) {
    const TKVMask& mask = view.Selection().Mask;
    return {mask.X1, mask.Y1, mask.X2, mask.Y2};
}

std::string Text(const TRect& r) {
    return std::to_string(r.Left) + "," + std::to_string(r.Top) + "," + std::to_string(r.Right) + "," +
           std::to_string(r.Bottom);
}

// A view of a 160 x 120 picture with the bitmap rectangle (40, 20)-(80, 60) selected.
std::unique_ptr<TKestovaView> ViewWithRectangle(TKVMouseInteract modes) {
    auto view = ShowView(160, 120);
    view->SetMouseInteract(modes);
    view->SelectionBase = kvsbBitmap;
    view->AddSelectionRect(40, 20, 80, 60, false);
    return view;
}

QImage Grab(TKestovaView& view) {
    view.viewport()->repaint();
    return view.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

}  // namespace

TEST_F(ViewMouse, ClicksZoomInStepsKeepingThePointUnderThePointer) {
    struct Case {
        double zoom;
        Qt::MouseButton button;
        double expected;
    } cases[] = {
        {33, Qt::LeftButton, 50}, {150, Qt::RightButton, 100}, {2, Qt::RightButton, 2}, {100, Qt::LeftButton, 200},
        {250, Qt::RightButton, 150},
    };
    for (const Case& c : cases) {
        auto view = ShowView(600, 450);
        view->SetMouseInteract({miZoom});
        view->SetZoom(c.zoom);
        int maxX, maxY;
        view->GetMaxOrigin(maxX, maxY);
        view->SetOrigin(maxX / 2, maxY / 2);
        const TKVViewport& port = view->Viewport();
        const QPoint click(port.x.imageStart + port.x.visible * 3 / 4, port.y.imageStart + port.y.visible * 3 / 4);
        const int bx = view->ClientToBitmapX(click.x()), by = view->ClientToBitmapY(click.y());
        QTest::mouseClick(view->viewport(), c.button, {}, click);
        EXPECT_EQ(view->Zoom(), c.expected) << c.zoom;
        EXPECT_NEAR(view->ClientToBitmapX(click.x()), bx, 1) << c.zoom;
        EXPECT_NEAR(view->ClientToBitmapY(click.y()), by, 1) << c.zoom;
    }
}

TEST_F(ViewMouse, MouseZoomStaysWithinTheViewsLimits) {
    auto view = ShowView(600, 450);
    view->SetMouseInteract({miZoom});
    view->OnZoomIn = [](double& zoom) { zoom = 1e9; };
    view->OnZoomOut = [](double& zoom) { zoom = -5; };
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, QPoint(50, 50));
    EXPECT_EQ(view->Zoom(), KVMaxMouseZoom);
    QTest::mouseClick(view->viewport(), Qt::RightButton, {}, QPoint(50, 50));
    EXPECT_EQ(view->Zoom(), KVMinMouseZoom);
    // Without the zoom mode a click changes nothing, nor does a drag with it.
    view->SetMouseInteract({});
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, QPoint(50, 50));
    EXPECT_EQ(view->Zoom(), KVMinMouseZoom);
}

TEST_F(ViewMouse, DraggingScrollsThePicture) {
    auto view = ShowView(600, 450);
    view->SetMouseInteract({miScroll, miZoom});
    QTest::mousePress(view->viewport(), Qt::LeftButton, {}, QPoint(100, 80));
    EXPECT_EQ(view->viewport()->cursor().shape(), Qt::ClosedHandCursor);
    Move(*view, QPoint(80, 70), Qt::LeftButton);
    Move(*view, QPoint(60, 50), Qt::LeftButton);
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, QPoint(60, 50));
    EXPECT_EQ(view->OriginX(), 40);
    EXPECT_EQ(view->OriginY(), 30);
    EXPECT_EQ(view->Zoom(), 100);  // a drag is no click
    EXPECT_EQ(view->viewport()->cursor().shape(), Qt::OpenHandCursor);
}

TEST_F(ViewMouse, ADragSelectsTheRectangleUnderItAtAnyZoomAndScroll) {
    struct Case {
        double zoom;
        int originX, originY;
    } cases[] = {{100, 0, 0}, {250, 37, 21}, {50, 0, 0}, {175, 60, 40}, {100, 10, 5}};
    for (const Case& c : cases) {
        auto view = ShowView(c.zoom == 100 && c.originX ? 300 : 160, c.zoom == 100 && c.originX ? 200 : 120);
        view->SetMouseInteract({miSelect});
        view->SetZoom(c.zoom);
        view->SetOrigin(c.originX, c.originY);
        ASSERT_EQ(view->OriginX(), c.originX);
        ASSERT_EQ(view->OriginY(), c.originY);
        const TKVViewport& port = view->Viewport();
        const QPoint from(port.x.imageStart + 10, port.y.imageStart + 8);
        const QPoint to(std::min(from.x() + 70, port.x.imageStart + port.x.visible - 1),
                        std::min(from.y() + 55, port.y.imageStart + port.y.visible - 1));
        Drag(*view, from, to);
        // A client pixel shows bitmap pixel floor((client - image start + origin) x 100 / zoom).
        const auto bitmapX = [&](int cx) { return int((cx - port.x.imageStart + c.originX) * 100 / c.zoom); };
        const auto bitmapY = [&](int cy) { return int((cy - port.y.imageStart + c.originY) * 100 / c.zoom); };
        const TRect expected{bitmapX(from.x()), bitmapY(from.y()), bitmapX(to.x()), bitmapY(to.y())};
        EXPECT_EQ(Text(view->Selection().Box()), Text(expected)) << "zoom " << c.zoom;
        EXPECT_EQ(Text(view->Selection().Box()),
                  Text({view->ClientToBitmapX(from.x()), view->ClientToBitmapY(from.y()), view->ClientToBitmapX(to.x()),
                        view->ClientToBitmapY(to.y())}));
        EXPECT_TRUE(view->Selection().IsRectangle());
        EXPECT_EQ(Text(MaskBox(*view)), Text({expected.Left, expected.Top, expected.Right - 1, expected.Bottom - 1}));
        EXPECT_TRUE(view->HasSelection());
    }
}

TEST_F(ViewMouse, AClickWithoutMovementDeselects) {
    auto view = ShowView(160, 120);
    view->SetMouseInteract({miSelect});
    view->SelectionBase = kvsbBitmap;
    view->AddSelectionRect(10, 10, 60, 50, false);
    ASSERT_TRUE(view->HasSelection());
    int changes = 0;
    view->OnSelectionChange = [&] { ++changes; };
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, Client(*view, 100, 100));
    EXPECT_FALSE(view->HasSelection());
    EXPECT_EQ(view->Selection().Count(), 0);
    EXPECT_EQ(changes, 1);
    EXPECT_FALSE(view->SelectionTimerActive());
}

TEST_F(ViewMouse, ShiftAddsAFurtherRectangle) {
    auto view = ShowView(160, 120);
    view->SetMouseInteract({miSelect});
    Drag(*view, Client(*view, 10, 10), Client(*view, 40, 30));
    Drag(*view, Client(*view, 80, 60), Client(*view, 120, 100), Qt::ShiftModifier);
    const TKVMask& mask = view->Selection().Mask;
    EXPECT_TRUE(mask.IsPointIn(20, 20));
    EXPECT_TRUE(mask.IsPointIn(100, 80));
    EXPECT_FALSE(mask.IsPointIn(60, 45));
    EXPECT_EQ(view->Selection().Count(), 9);  // two rectangles and the break between them
    // Without Shift the next rectangle replaces both.
    Drag(*view, Client(*view, 50, 50), Client(*view, 70, 70));
    EXPECT_FALSE(mask.IsPointIn(20, 20));
    EXPECT_TRUE(mask.IsPointIn(60, 60));
    EXPECT_EQ(view->Selection().Count(), 4);
}

TEST_F(ViewMouse, ADoubleClickEndsThePolygon) {
    auto view = ShowView(160, 120);
    view->SetMouseInteract({miSelectPolygon});
    int changes = 0;
    view->OnSelectionChange = [&] { ++changes; };
    for (QPoint p : {Client(*view, 10, 10), Client(*view, 100, 10), Client(*view, 100, 90)})
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, p);
    Move(*view, Client(*view, 30, 80), Qt::NoButton);
    EXPECT_FALSE(view->HasSelection());
    EXPECT_EQ(view->Selection().Count(), 3);
    KeepScreenshot(Grab(*view), "view_polygon_in_progress");
    DoubleClick(*view, Client(*view, 10, 90));
    EXPECT_TRUE(view->HasSelection());
    EXPECT_EQ(view->Selection().Count(), 4);
    EXPECT_TRUE(view->Selection().Mask.IsPointIn(50, 50));
    EXPECT_FALSE(view->Selection().Mask.IsPointIn(120, 50));
    EXPECT_GE(changes, 1);
    // The next click starts a new polygon.
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, Client(*view, 130, 100));
    EXPECT_EQ(view->Selection().Count(), 1);
    // Leaving the polygon mode closes a polygon that is being drawn.
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, Client(*view, 150, 100));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, Client(*view, 150, 115));
    view->SetMouseInteract({miSelect});
    EXPECT_TRUE(view->HasSelection());
    EXPECT_TRUE(view->Selection().Mask.IsPointIn(145, 105));
}

TEST_F(ViewMouse, LassoAndCircle) {
    auto view = ShowView(160, 120);
    view->SetMouseInteract({miSelectLasso});
    QTest::mousePress(view->viewport(), Qt::LeftButton, {}, Client(*view, 20, 20));
    for (QPoint p : {Client(*view, 80, 20), Client(*view, 80, 70), Client(*view, 20, 70)}) Move(*view, p, Qt::LeftButton);
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, Client(*view, 20, 70));
    EXPECT_TRUE(view->Selection().Mask.IsPointIn(50, 45));
    EXPECT_FALSE(view->Selection().Mask.IsPointIn(90, 45));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, Client(*view, 120, 100));
    EXPECT_FALSE(view->HasSelection());

    view->SetMouseInteract({miSelectCircle});
    Drag(*view, Client(*view, 80, 60), Client(*view, 110, 80));
    const TRect box = view->Selection().Box();
    EXPECT_NEAR(box.Left, 50, 1);
    EXPECT_NEAR(box.Right, 110, 1);
    EXPECT_NEAR(box.Top, 40, 1);
    EXPECT_NEAR(box.Bottom, 80, 1);
    EXPECT_TRUE(view->Selection().Mask.IsPointIn(80, 60));
    EXPECT_FALSE(view->Selection().Mask.IsPointIn(53, 43));  // outside the ellipse, inside its box
    EXPECT_EQ(view->Selection().Count(), 125);  // trunc(2 pi 20), of the smaller radius
    // With Alt a circle of the larger radius, 30: trunc(2 pi 30) points.
    view->ClearSelection();  // a press inside the selection would move it
    Drag(*view, Client(*view, 80, 60), Client(*view, 110, 80), Qt::AltModifier);
    EXPECT_EQ(view->Selection().Count(), 188);
}

TEST_F(ViewMouse, GripsResizeAndCrossOver) {
    auto view = ViewWithRectangle({miSelect});
    // The right edge's grip dragged past the left edge becomes the left edge.
    Move(*view, Client(*view, 80, 40), Qt::NoButton);
    EXPECT_EQ(view->viewport()->cursor().shape(), Qt::SizeHorCursor);
    Drag(*view, Client(*view, 80, 40), Client(*view, 20, 40));
    EXPECT_EQ(Text(view->Selection().Box()), Text({20, 20, 40, 60}));
    EXPECT_EQ(Text(MaskBox(*view)), Text({20, 20, 39, 59}));
    // A corner moves two sides.
    Drag(*view, Client(*view, 40, 60), Client(*view, 50, 70));
    EXPECT_EQ(Text(view->Selection().Box()), Text({20, 20, 50, 70}));
}

TEST_F(ViewMouse, DraggingInsideMovesTheSelectionWithinThePicture) {
    auto view = ViewWithRectangle({miSelect});
    Move(*view, Client(*view, 60, 40), Qt::NoButton);
    EXPECT_EQ(view->viewport()->cursor().shape(), Qt::SizeAllCursor);
    Drag(*view, Client(*view, 60, 40), Client(*view, 75, 50));
    EXPECT_EQ(Text(view->Selection().Box()), Text({55, 30, 95, 70}));
    EXPECT_EQ(Text(MaskBox(*view)), Text({55, 30, 94, 69}));
    Drag(*view, Client(*view, 60, 40), Client(*view, 0, 0));
    EXPECT_EQ(Text(view->Selection().Box()), Text({0, 0, 40, 40}));
}

TEST_F(ViewMouse, TheMagicWandSelectsTheFlatRegionImageMagickDrew) {
    TScratchFolder folder;
    const std::string path = folder.Path("regions.ppm");
    const TCommandResult drawn = RunTool(
        "convert -size 64x48 -depth 8 xc:'rgb(0,0,255)' +antialias -stroke none -fill 'rgb(255,0,0)' -draw 'ellipse 22,20 15,12 "
        "0,360' -fill 'rgb(0,255,0)' -draw 'rectangle 42,5 55,30' " + Quoted(path));
    ASSERT_EQ(drawn.status, 0) << drawn.output;
    const TRgbImage regions = ReadPpm(path);
    ASSERT_EQ(regions.width, 64);
    struct Case {
        int mode;
        bool exact;
    } cases[] = {{1, true}, {2, true}, {0, false}};
    for (const Case& c : cases) {
        auto view = ShowView(64, 48);
        TKVBitmap& bitmap = *view->GetKVBitmap();
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 64; ++x) {
                const uint8_t* p = regions.At(x, y);
                reinterpret_cast<TKVRGB*>(bitmap.GetScanline(y))[x] = {p[2], p[1], p[0]};
            }
        view->SetMouseInteract({miSelectMagicWand});
        view->WandMode = c.mode;
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, Client(*view, 22, 20));
        const TKVMask& mask = view->Selection().Mask;
        int differing = 0;
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 64; ++x) {
                const bool red = regions.At(x, y)[0] == 255 && regions.At(x, y)[2] == 0;
                if (mask.IsPointIn(x, y) == red) continue;
                ++differing;
                // The contour may differ from the region only along its edge.
                bool edge = false;
                for (int ny = std::max(y - 1, 0); ny <= std::min(y + 1, 47); ++ny)
                    for (int nx = std::max(x - 1, 0); nx <= std::min(x + 1, 63); ++nx)
                        edge |= (regions.At(nx, ny)[0] == 255 && regions.At(nx, ny)[2] == 0) != red;
                EXPECT_TRUE(edge && !c.exact) << "mode " << c.mode << " at " << x << "," << y;
            }
        EXPECT_TRUE(view->HasSelection()) << c.mode;
        if (c.exact) {
            EXPECT_EQ(differing, 0) << c.mode;
        }
    }
}

TEST_F(ViewMouse, ShiftShowsTheAddingCursor) {
    auto view = ShowView(160, 120);
    view->SetMouseInteract({miSelect});
    EXPECT_EQ(view->viewport()->cursor().shape(), Qt::OpenHandCursor);
    QTest::keyPress(view.get(), Qt::Key_Shift, Qt::ShiftModifier);
    EXPECT_NE(view->viewport()->cursor().shape(), Qt::OpenHandCursor);
    QTest::keyRelease(view.get(), Qt::Key_Shift, Qt::NoModifier);
    EXPECT_EQ(view->viewport()->cursor().shape(), Qt::OpenHandCursor);
}

TEST_F(ViewMouse, TheBorderMovesOnlyWhileASelectionShows) {
    auto view = ShowView(160, 120);
    view->SetMouseInteract({miSelect});
    EXPECT_FALSE(view->SelectionTimerActive());
    Drag(*view, Client(*view, 20, 15), Client(*view, 110, 90));
    ASSERT_TRUE(view->SelectionTimerActive());
    EXPECT_GE(view->SelectionTimerInterval(), 210);
    const int phase = view->Selection().Phase;
    const QImage first = Grab(*view);
    view->SelectionTimerTick();
    EXPECT_EQ(view->Selection().Phase, (phase + 1) % 10);
    const QImage second = Grab(*view);
    KeepScreenshot(first, "view_selection_phase_a");
    KeepScreenshot(second, "view_selection_phase_b");
    // Only border pixels change from one phase to the next, and some do.
    int changed = 0;
    // The outermost selected pixels, 20..109 and 15..89.
    const QRect border(Client(*view, 20, 15), Client(*view, 110, 90) - QPoint(1, 1));
    for (int y = 0; y < first.height(); ++y)
        for (int x = 0; x < first.width(); ++x) {
            if (first.pixel(x, y) == second.pixel(x, y)) continue;
            ++changed;
            EXPECT_TRUE(border.contains(x, y) && !border.adjusted(1, 1, -1, -1).contains(x, y))
                << x << "," << y << " outside the border " << border.left() << "," << border.top() << ","
                << border.right() << "," << border.bottom();
        }
    EXPECT_GT(changed, 20);
    for (int i = 0; i < 10; ++i) view->SelectionTimerTick();
    EXPECT_EQ(view->Selection().Phase, (phase + 1) % 10);

    view->SetSelectionOptions({kvsoSizeable, kvsoMoveable});
    EXPECT_FALSE(view->SelectionTimerActive());
    view->SetSelectionOptions({kvsoAnimated, kvsoSizeable, kvsoMoveable});
    EXPECT_TRUE(view->SelectionTimerActive());
    view->ClearSelection();
    EXPECT_FALSE(view->SelectionTimerActive());
}

TEST_F(ViewMouse, FilledAndOuterMarkingDrawIntoTheBackBuffer) {
    auto view = ViewWithRectangle({});
    const QImage plain = Grab(*view);
    view->SetSelectionOptions({kvsoFilled, kvsoMarkOuter});
    const QImage marked = Grab(*view);
    const QPoint inside = Client(*view, 60, 40), outside = Client(*view, 100, 100);
    EXPECT_EQ(marked.pixel(inside), plain.pixel(inside) ^ 0x00FFFFFF);
    const QPoint dot = (outside.x() & 1) == (outside.y() & 1) ? outside : outside + QPoint(1, 0);
    EXPECT_EQ(marked.pixel(dot), qRgb(97, 97, 97));
    EXPECT_EQ(marked.pixel(dot + QPoint(1, 0)), plain.pixel(dot + QPoint(1, 0)));
}

TEST_F(ViewMouse, TheProcessingUndoRestoresTheSelection) {
    auto view = ShowView(160, 120);
    view->SelectionBase = kvsbBitmap;
    view->AddSelectionRect(30, 20, 90, 70, false);
    view->GetProc()->SaveUndoCaptioned("selection", kvUndoSelection);
    view->AddSelectionRect(5, 5, 10, 10, false);
    view->GetProc()->Undo();
    EXPECT_TRUE(view->HasSelection());
    EXPECT_EQ(Text(MaskBox(*view)), Text({30, 20, 89, 69}));
    EXPECT_TRUE(view->SelectionTimerActive());
}

TEST_F(ViewMouse, ASelectionReloadedOnANarrowerPictureEndsOnItsLastColumn) {
    auto view = ShowView(100, 60);
    view->SelectionBase = kvsbBitmap;
    view->AddSelectionRect(50, 10, 90, 40, false);
    TMemoryStream stream;
    view->SaveSelectionToStream(stream);
    view->GetKVBitmap()->Allocate(60, 50, kv24RGB);
    view->Update();
    EXPECT_FALSE(view->HasSelection());  // a new picture size ends the selection
    stream.SetPosition(0);
    ASSERT_TRUE(view->LoadSelectionFromStream(stream));
    EXPECT_TRUE(view->HasSelection());
    // Lower than the stored mask too: the bottom goes onto the last row.
    EXPECT_EQ(Text(MaskBox(*view)), Text({20, 20, 59, 49}));
    EXPECT_EQ(view->Selection().Mask.Width(), 60);
    EXPECT_EQ(view->Selection().Mask.Height(), 50);
    EXPECT_EQ(Text(view->Selection().Box()), Text({20, 20, 60, 50}));

    // A truncated stream leaves the selection as it is.
    TMemoryStream cut;
    cut.WriteBuffer(stream.Memory(), stream.Size() - 1);
    cut.SetPosition(0);
    EXPECT_FALSE(view->LoadSelectionFromStream(cut));
    EXPECT_EQ(Text(MaskBox(*view)), Text({20, 20, 59, 49}));
}

TEST_F(ViewMouse, ASelectionReloadedOnASmallerPictureMovesItsFarEdgeThereEvenWhenItFits) {
    auto view = ShowView(100, 60);
    view->SelectionBase = kvsbBitmap;
    view->AddSelectionRect(10, 10, 40, 40, false);
    TMemoryStream stream;
    view->SaveSelectionToStream(stream);
    // Narrower and lower than the stored mask: the box (10, 10)-(39, 39) fits, and moves all the same.
    view->GetKVBitmap()->Allocate(60, 50, kv24RGB);
    view->Update();
    stream.SetPosition(0);
    ASSERT_TRUE(view->LoadSelectionFromStream(stream));
    EXPECT_EQ(Text(MaskBox(*view)), Text({30, 20, 59, 49}));
    EXPECT_EQ(Text(view->Selection().Box()), Text({30, 20, 60, 50}));
    // As wide as the stored mask and lower only: the rows move, the columns stay.
    view->GetKVBitmap()->Allocate(100, 50, kv24RGB);
    view->Update();
    stream.SetPosition(0);
    ASSERT_TRUE(view->LoadSelectionFromStream(stream));
    EXPECT_EQ(Text(MaskBox(*view)), Text({10, 20, 39, 49}));
}

TEST_F(ViewMouse, SavedSelectionsStack) {
    auto view = ShowView(160, 120);
    view->SelectionBase = kvsbBitmap;
    EXPECT_FALSE(view->PopSelection());
    view->AddSelectionRect(30, 20, 90, 70, false);
    view->PushSelection();
    view->ClearSelection();
    EXPECT_TRUE(view->PopSelection());
    EXPECT_EQ(Text(MaskBox(*view)), Text({30, 20, 89, 69}));
    EXPECT_FALSE(view->PopSelection());
}

TEST_F(ViewMouse, SelectionZoomShowsTheDraggedBoxAndKeepsTheSelection) {
    auto view = ShowView(400, 300);
    view->SetMouseInteract({miSelectZoom});
    view->SelectionBase = kvsbBitmap;
    view->AddSelectionRect(5, 5, 15, 15, false);
    Drag(*view, Client(*view, 100, 100), Client(*view, 150, 140));
    const double expected = std::min(view->ViewHeight() / 0.4, view->ViewWidth() / 0.5);
    EXPECT_DOUBLE_EQ(view->Zoom(), expected);
    EXPECT_EQ(Text(MaskBox(*view)), Text({5, 5, 14, 14}));
    // The box's centre is in the middle of the client area.
    EXPECT_NEAR(view->ClientToBitmapX(view->ViewWidth() / 2), 125, 1);
    EXPECT_NEAR(view->ClientToBitmapY(view->ViewHeight() / 2), 120, 1);
}

TEST_F(ViewMouse, TheSingleLayerIsPinnedSoOnlyItsEventsOccur) {
    auto view = ShowView(160, 120);
    view->SetMouseInteract({miMoveLayers});
    std::vector<std::pair<int, int>> events;
    view->OnLayerNotify = [&](int layer, int event) { events.emplace_back(layer, event); };
    Drag(*view, Client(*view, 50, 50), Client(*view, 70, 60));
    EXPECT_EQ(events, (std::vector<std::pair<int, int>>{{0, kvleMoveEnded}}));
    EXPECT_EQ(view->GetLayer(0).LayerLeft, 0);
    EXPECT_EQ(view->LayersCount(), 1);
}

TEST_F(ViewMouse, AFurtherLayerMovesAndResizesWithTheMouse) {
    auto view = ShowView(160, 120);
    TKVLayer& layer = view->AddLayer(std::make_unique<TKVLayer>(view.get(), false, view->GetKVBitmap()));
    layer.Bitmap->Allocate(40, 30, kv24RGB);
    layer.Bitmap->Fill(RGB(250, 250, 0));
    layer.LayerLeft = 30;
    layer.LayerTop = 30;
    view->Update();
    std::vector<std::pair<int, int>> events;
    view->OnLayerNotify = [&](int index, int event) { events.emplace_back(index, event); };
    view->SetMouseInteract({miMoveLayers, miResizeLayers});
    Grab(*view);
    Drag(*view, Client(*view, 50, 45), Client(*view, 60, 50));
    EXPECT_EQ(view->CurrentLayer(), 1);
    EXPECT_EQ(layer.LayerLeft, 40);
    EXPECT_EQ(layer.LayerTop, 35);
    EXPECT_EQ(events.front(), std::make_pair(1, int(kvleCurrentChanged)));
    EXPECT_EQ(events.back(), std::make_pair(1, int(kvleMoveEnded)));
    KeepScreenshot(Grab(*view), "view_framed_layer_with_grips");
    // The bottom-right grip takes the layer's corner from (80, 65) along.
    Drag(*view, QPoint(layer.ClientRect.Right, layer.ClientRect.Bottom), Client(*view, 110, 95));
    EXPECT_EQ(layer.LayerWidth, 70);
    EXPECT_EQ(layer.LayerHeight, 60);
    EXPECT_EQ(events.back(), std::make_pair(1, int(kvleResizeEnded)));
}

namespace {

// Black and white columns: unfiltered the image shows two colours, filtered it blends them.
std::unique_ptr<TKestovaView> ViewOfColumns(TResampleFilter filter, bool delayed) {
    auto view = std::make_unique<TKestovaView>();
    view->resize(124, 84);
    TKVBitmap& bitmap = *view->GetKVBitmap();
    bitmap.Allocate(32, 8, kv24RGB);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 32; ++x) {
            const uint8_t v = x % 2 ? 255 : 0;
            reinterpret_cast<TKVRGB*>(bitmap.GetScanline(y))[x] = {v, v, v};
        }
    view->SetZoomFilter(filter);
    view->DelayZoomFilter = delayed;
    view->Update();
    view->show();
    QApplication::processEvents();
    return view;
}

bool ShowsBlends(TKestovaView& view) {
    const QImage shot = Grab(view);
    const TKVViewport& port = view.Viewport();
    const int y = port.y.imageStart + port.y.visible / 2;
    for (int x = port.x.imageStart; x < port.x.imageStart + port.x.visible; ++x)
        if (qGray(shot.pixel(x, y)) > 20 && qGray(shot.pixel(x, y)) < 235) return true;
    return false;
}

}  // namespace

TEST_F(ViewMouse, ADelayedFilterFollowsFourTicksAfterTheViewRests) {
    struct Case {
        const char* name;
        TResampleFilter filter;
        bool delayed;
        int delay;  // ticks before the filtered picture
    } cases[] = {
        {"delayed", rfBilinear, true, 4},
        {"not delayed", rfBilinear, false, 0},
        {"no filter", rfNone, true, 0},
    };
    for (const Case& c : cases) {
        auto view = ViewOfColumns(c.filter, c.delayed);
        const auto expectWaiting = [&](int ticks, const char* step) {
            EXPECT_EQ(view->ZoomFilterDelay(), ticks) << c.name << " " << step;
            EXPECT_EQ(view->SelectionTimerActive(), ticks > 0) << c.name << " " << step;
            EXPECT_EQ(ShowsBlends(*view), ticks == 0 && c.filter != rfNone) << c.name << " " << step;
        };
        // Zooming waits only when the picture it leaves was filtered, which at 100 % it is not.
        view->SetZoom(800);
        expectWaiting(0, "zoomed from 100 %");
        view->SetZoom(600);
        expectWaiting(c.delay, "zoomed");
        for (int tick = c.delay - 1; tick >= 0; --tick) {
            view->SelectionTimerTick();
            expectWaiting(tick, "tick");
        }
        view->SetOriginX(30);
        expectWaiting(c.delay, "scrolled");
        while (view->ZoomFilterDelay() > 0) view->SelectionTimerTick();
        expectWaiting(0, "rested");
    }
    // At 100 % nothing is filtered, so nothing waits.
    auto view = ViewOfColumns(rfBilinear, true);
    view->resize(24, 24);
    QApplication::processEvents();
    view->SetOrigin(5, 0);
    EXPECT_EQ(view->OriginX(), 5);
    EXPECT_EQ(view->ZoomFilterDelay(), 0);
    EXPECT_FALSE(view->SelectionTimerActive());
}

TEST_F(ViewMouse, AfterTheViewMovedTheBorderWaitsTwoTicks) {
    auto view = ShowView(600, 450);
    view->SetMouseInteract({miSelect});
    view->SetSelectionOptions({kvsoSizeable, kvsoMoveable});  // not animated: the timer only counts
    view->SelectionBase = kvsbBitmap;
    view->AddSelectionRect(40, 30, 120, 90, false);
    EXPECT_FALSE(view->SelectionTimerActive());
    view->SetOrigin(20, 10);
    EXPECT_EQ(view->SelectionDelay(), 2);
    EXPECT_TRUE(view->SelectionTimerActive());
    const QImage hidden = Grab(*view);
    view->SelectionTimerTick();
    EXPECT_EQ(Grab(*view), hidden);
    view->SelectionTimerTick();
    EXPECT_EQ(view->SelectionDelay(), 0);
    EXPECT_FALSE(view->SelectionTimerActive());
    const QImage shown = Grab(*view);
    EXPECT_NE(shown, hidden);
    view->ClearSelection();
    EXPECT_EQ(Grab(*view), hidden);  // what was hidden was the border alone
    // Without a selection a move holds nothing back, and the timer stays off.
    view->SetOrigin(30, 20);
    EXPECT_EQ(view->SelectionDelay(), 0);
    EXPECT_FALSE(view->SelectionTimerActive());
}

TEST_F(ViewMouse, DragsWithoutDragScrollingSwitchADelayedFilterOff) {
    struct Case {
        TKVMouseInteract modes;
        bool delayed;
        TResampleFilter during;
    } cases[] = {
        {{miSelect}, true, rfNone},
        {{miSelect}, false, rfBilinear},
        {{miScroll, miZoom}, true, rfBilinear},
    };
    for (const Case& c : cases) {
        auto view = ViewOfColumns(rfBilinear, c.delayed);
        view->SetZoom(300);
        view->SetMouseInteract(c.modes);
        QTest::mousePress(view->viewport(), Qt::LeftButton, {}, QPoint(30, 30));
        EXPECT_EQ(view->ZoomFilter(), c.during);
        Move(*view, QPoint(40, 40), Qt::LeftButton);
        // A second button joins and leaves; the first release still restores the filter.
        QTest::mousePress(view->viewport(), Qt::RightButton, {}, QPoint(40, 40));
        QTest::mouseRelease(view->viewport(), Qt::RightButton, {}, QPoint(40, 40));
        EXPECT_EQ(view->ZoomFilter(), c.during);
        QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, QPoint(40, 40));
        EXPECT_EQ(view->ZoomFilter(), rfBilinear);
    }
}

TEST_F(ViewMouse, ADragRestingBeyondTheEdgeGoesOnScrolling) {
    auto view = ShowView(600, 450);
    view->SetMouseInteract({miSelect});
    const int right = view->Viewport().x.imageStart + view->Viewport().x.visible;
    QTest::mousePress(view->viewport(), Qt::LeftButton, {}, QPoint(50, 40));
    Move(*view, QPoint(right + 15, 60), Qt::LeftButton);
    EXPECT_EQ(view->OriginX(), 15);
    ASSERT_TRUE(view->AutoScrollActive());
    // The pointer rests: each step scrolls on and the rectangle grows with the view.
    for (int step = 2; step <= 4; ++step) {
        view->AutoScrollTick();
        EXPECT_EQ(view->OriginX(), 15 * step);
        EXPECT_EQ(view->Selection().Box().Right, view->ClientToBitmapX(right)) << step;
        EXPECT_EQ(view->Selection().Box().Left, 50) << step;
    }
    // Back inside it stops; out again it starts, and at the picture's end it stops by itself.
    Move(*view, QPoint(right - 5, 60), Qt::LeftButton);
    EXPECT_FALSE(view->AutoScrollActive());
    Move(*view, QPoint(right + 200, 60), Qt::LeftButton);
    EXPECT_TRUE(view->AutoScrollActive());
    int maxX, maxY;
    view->GetMaxOrigin(maxX, maxY);
    for (int i = 0; i < 10 && view->AutoScrollActive(); ++i) view->AutoScrollTick();
    EXPECT_FALSE(view->AutoScrollActive());
    EXPECT_EQ(view->OriginX(), maxX);
    EXPECT_EQ(view->Selection().Box().Right, 600);
    // Releasing, or leaving the mode, stops it too.
    Move(*view, QPoint(right + 20, 60), Qt::LeftButton);
    view->SetOrigin(0, 0);
    Move(*view, QPoint(right + 20, 60), Qt::LeftButton);
    EXPECT_TRUE(view->AutoScrollActive());
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, QPoint(right + 20, 60));
    EXPECT_FALSE(view->AutoScrollActive());
    QTest::mousePress(view->viewport(), Qt::LeftButton, {}, QPoint(50, 40));
    Move(*view, QPoint(50, -30), Qt::LeftButton);
    view->SetOrigin(0, 100);
    Move(*view, QPoint(50, -30), Qt::LeftButton);
    EXPECT_TRUE(view->AutoScrollActive());
    view->SetMouseInteract({miScroll});
    EXPECT_FALSE(view->AutoScrollActive());
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, QPoint(50, -30));
}
