#include "imaging/view/KestovaView.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QScrollBar>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "QtTestApplication.h"
#include "ViewTestSupport.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/io/KestovaIO.h"

namespace {

class KestovaViewTest : public ::testing::Test {
protected:
    void SetUp() override { EnsureTestApplication<QApplication>(); }
};

// A 24-bit picture whose pixel (x, y) has red 10 x, green 10 y and blue 200.
void FillRamp(TKVBitmap& bitmap, int width, int height) {
    bitmap.Allocate(width, height, kv24RGB);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            auto* p = reinterpret_cast<TKVRGB*>(bitmap.GetScanline(y)) + x;
            *p = TKVRGB{200, uint8_t(10 * y), uint8_t(10 * x)};
        }
}

QImage Grab(TKestovaView& view) {
    view.show();
    QApplication::processEvents();
    return view.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

}  // namespace

TEST_F(KestovaViewTest, AutomaticShrinkAndStretch) {
    struct Case {
        int bw, bh;
        bool stretch, shrink;
        bool fitted;  // false: 100 %
    } cases[] = {
        {50, 40, false, true, false}, {500, 40, false, true, true},  {50, 40, true, false, true},
        {500, 40, true, false, false}, {1, 1, true, true, false},
    };
    for (const Case& c : cases) {
        TKestovaView view;
        view.resize(210, 160);
        view.SetAutoStretch(c.stretch);
        view.SetAutoShrink(c.shrink);
        view.GetKVBitmap()->Allocate(c.bw, c.bh, kv24RGB);
        view.Update();
        const double fit = std::min((210.0 - 2 * view.frameWidth()) * 100 / c.bw, (160.0 - 2 * view.frameWidth()) * 100 / c.bh);
        EXPECT_DOUBLE_EQ(view.Zoom(), c.fitted ? fit : 100.0) << c.bw << "x" << c.bh;
        EXPECT_EQ(view.CanScroll(), !c.fitted && c.bw > 300);
        // Set by hand, the zoom lasts only until the fitting rule runs again.
        view.SetZoom(333);
        EXPECT_DOUBLE_EQ(view.Zoom(), c.fitted ? fit : 100.0);
    }
}

TEST_F(KestovaViewTest, PaintsTheVisibleBitmapPixelsOverTheBackground) {
    TKestovaView view;
    view.resize(124, 84);
    view.SetBackground(clRed);
    FillRamp(*view.GetKVBitmap(), 4, 2);
    view.SetZoom(1000);  // 40 x 20 zoomed, centred
    view.Update();
    const QImage shot = Grab(view);
    KeepScreenshot(shot, "view-zoom-1000");
    const TKVViewport& port = view.Viewport();
    ASSERT_GT(port.x.imageStart, 0);
    for (int by = 0; by < 2; ++by)
        for (int bx = 0; bx < 4; ++bx) {
            const QRgb p = shot.pixel(view.BitmapToClientX(bx) + 5, view.BitmapToClientY(by) + 5);
            EXPECT_EQ(qRed(p), 10 * bx) << bx << "," << by;
            EXPECT_EQ(qGreen(p), 10 * by) << bx << "," << by;
            EXPECT_EQ(qBlue(p), 200);
        }
    EXPECT_EQ(shot.pixel(1, 1), qRgb(255, 0, 0));  // the background around the image

    view.Blank();
    EXPECT_TRUE(view.IsBlank());
    const QImage blank = Grab(view);
    EXPECT_EQ(blank.pixel(blank.width() / 2, blank.height() / 2), qRgb(255, 0, 0));
}

// A black and a white column: nearest neighbour keeps the hard edge, a filter blends across it.
TEST_F(KestovaViewTest, ZoomFilterResamplesTheVisibleWindow) {
    const auto distinctColours = [](const QImage& shot, const TKestovaView& view) {
        std::vector<QRgb> seen;
        const int y = view.Viewport().y.imageStart + view.Viewport().y.visible / 2;
        for (int x = view.Viewport().x.imageStart; x < view.Viewport().x.imageStart + view.Viewport().x.visible; ++x)
            if (std::find(seen.begin(), seen.end(), shot.pixel(x, y)) == seen.end()) seen.push_back(shot.pixel(x, y));
        return seen.size();
    };
    struct Case {
        double zoom;
        TResampleFilter filter;
        int originX;
        bool blended;
        TKVPixelFormat format = kv24RGB;
    } cases[] = {
        {800, rfNone, 0, false},      {800, rfBilinear, 0, true},    {800, rfFastLinear, 0, true},
        {100, rfBilinear, 0, false},  // at 100 % nothing is resampled
        {8000, rfBilinear, 70, true},  // scrolled into the middle of a zoomed pixel
        {800, rfBilinear, 0, true, kv8Gray}, {8000, rfBilinear, 70, true, kv8Gray},
    };
    for (const Case& c : cases) {
        TKestovaView view;
        view.resize(160, 60);
        view.SetBackground(clRed);
        TKVBitmap& bitmap = *view.GetKVBitmap();
        bitmap.Allocate(2, 2, c.format);
        for (int y = 0; y < 2; ++y) {
            if (c.format == kv8Gray) {
                bitmap.GetScanline(y)[0] = 0;
                bitmap.GetScanline(y)[1] = 255;
                continue;
            }
            auto* row = reinterpret_cast<TKVRGB*>(bitmap.GetScanline(y));
            row[0] = TKVRGB{0, 0, 0};
            row[1] = TKVRGB{255, 255, 255};
        }
        view.SetZoomFilter(c.filter);
        view.SetZoom(c.zoom);
        view.SetOriginX(c.originX);
        view.Update();
        const QImage shot = Grab(view);
        if (c.filter == rfBilinear && c.zoom == 800) KeepScreenshot(shot, "view-zoom-filter");
        const size_t colours = distinctColours(shot, view);
        EXPECT_EQ(colours > 2, c.blended) << c.zoom << " " << int(c.filter) << " " << int(c.format) << ": " << colours;
        EXPECT_GE(colours, 1u);
        // The image still begins dark and, unless scrolled, ends light.
        const TKVViewport& port = view.Viewport();
        const int y = port.y.imageStart + port.y.visible / 2;
        if (c.originX == 0) {
            EXPECT_LT(qGray(shot.pixel(port.x.imageStart, y)), 64);
            EXPECT_GT(qGray(shot.pixel(port.x.imageStart + port.x.visible - 1, y)), 192);
        }
    }
}

TEST_F(KestovaViewTest, DrawVersionWritesTheVersionLineBottomRight) {
    const std::string version = TKestovaView::KestovaVersion();
    EXPECT_EQ(std::count(version.begin(), version.end(), '.'), 2) << version;
    TKestovaView view;
    view.resize(300, 100);
    view.SetBackground(clRed);
    const QImage plain = Grab(view);
    view.SetDrawVersion(true);
    const QImage marked = Grab(view);
    KeepScreenshot(marked, "view-draw-version");
    const int w = marked.width(), h = marked.height();
    EXPECT_EQ(plain.pixel(w - 1, h - 1), qRgb(255, 0, 0));
    EXPECT_EQ(marked.pixel(w - 1, h - 1), qRgb(255, 255, 255));  // the white box reaches the corner
    EXPECT_EQ(marked.pixel(1, 1), qRgb(255, 0, 0));              // and stays there
    int black = 0;
    for (int y = h - 13; y < h; ++y)
        for (int x = w / 2; x < w; ++x) black += qGray(marked.pixel(x, y)) < 64;
    EXPECT_GT(black, 20);  // the text
}

TEST_F(KestovaViewTest, ScrollingIsClampedAndReported) {
    TKestovaView view;
    view.resize(200, 150);
    FillRamp(*view.GetKVBitmap(), 20, 20);
    view.SetZoom(2000);
    std::vector<int> changes;
    view.OnViewChange = [&](int change) { changes.push_back(change); };
    ASSERT_TRUE(view.CanScroll());
    EXPECT_TRUE(view.horizontalScrollBar()->isVisible() || view.horizontalScrollBarPolicy() == Qt::ScrollBarAlwaysOn);
    int maxX, maxY;
    view.GetMaxOrigin(maxX, maxY);
    view.SetOrigin(1 << 20, -5);
    EXPECT_EQ(view.OriginX(), maxX);
    EXPECT_EQ(view.OriginY(), 0);
    EXPECT_EQ(changes, std::vector<int>{0});
    view.SetOrigin(maxX, 0);  // no move, no report
    view.SetZoom(2000);
    view.SetZoom(0);
    EXPECT_EQ(changes, std::vector<int>{0});
    // The scroll bar moves the origin in its own 0..65535 units.
    view.horizontalScrollBar()->setValue(0);
    EXPECT_EQ(view.OriginX(), 0);
    // A view at its left edge shows bitmap column 0 in its first client pixel.
    EXPECT_EQ(view.ClientToBitmapX(0), 0);
}

TEST_F(KestovaViewTest, ResolutionAndChangeHandlers) {
    std::vector<std::string> calls;
    {
        TKestovaView view;
        view.SetDPI(0, 200);
        EXPECT_EQ(view.ResolutionX(), DefaultDpiX);
        EXPECT_EQ(view.ResolutionY(), 200);
        TObject first, second;
        view.AddChangeHandler([&](TObject* c, TKVView*, bool d) { calls.push_back(std::string(c == &first ? "1" : "2") + (d ? "d" : "c")); },
                              &first);
        TKVChangeEntry* entry = view.AddChangeHandler(
            [&](TObject* c, TKVView*, bool d) { calls.push_back(std::string(c == &first ? "1" : "2") + (d ? "d" : "c")); },
            &second);
        TKVBitmap outside;
        view.AttachBitmap(&outside);  // the image object was replaced
        EXPECT_EQ(view.GetKVBitmap(), &outside);
        view.RemoveChangeHandler(entry);
        view.RemoveChangeHandler(entry);  // twice is harmless
        view.AddChangeHandler(
            [&](TObject* c, TKVView*, bool d) { calls.push_back(std::string(c == &first ? "1" : "2") + (d ? "d" : "c")); },
            &second);
        // Back to an own bitmap; the outside one stays the caller's, so nobody may keep it.
        view.AttachBitmap(nullptr);
        EXPECT_NE(view.GetKVBitmap(), &outside);
    }
    EXPECT_EQ(calls, (std::vector<std::string>{"1c", "2c", "1c", "2c", "1d", "2d"}));
}

// The view's input/output component stays with it when its image object is replaced: it takes
// the new bitmap and the view's resolution, and shows its loads in the view.
TEST_F(KestovaViewTest, ItsComponentFollowsAReplacedImage) {
    TKestovaView view;
    TKestovaIO& io = *view.GetIO();
    view.SetDPI(150, 120);
    TKVBitmap outside;
    outside.Allocate(5, 4, kv24RGB);
    view.AttachBitmap(&outside);
    EXPECT_EQ(io.AttachedKestova(), &view);
    EXPECT_EQ(&io.WorkBitmap(), &outside);
    EXPECT_EQ(io.Params().DpiX(), 150);
    EXPECT_EQ(io.Params().DpiY(), 120);

    int imageChanges = 0;
    view.OnImageChange = [&] { ++imageChanges; };
    const std::string ppm = std::string("P6\n2 1\n255\n") + std::string(6, '\x40');
    io.LoadFromBuffer(ppm.data(), int64_t(ppm.size()), 0);
    ASSERT_FALSE(io.AbortFlag);
    EXPECT_EQ(outside.GetWidth(), 2);
    EXPECT_EQ(imageChanges, 1);
    EXPECT_EQ(view.ResolutionX(), DefaultDpiX);  // a picture without one gets the default

    view.AttachBitmap(nullptr);
    EXPECT_EQ(io.AttachedKestova(), &view);
    EXPECT_EQ(&io.WorkBitmap(), view.GetKVBitmap());
    EXPECT_NE(&io.WorkBitmap(), &outside);
}

TEST_F(KestovaViewTest, AlphaBlendsOverTheBackground) {
    TKestovaView view;
    view.SetBackground(clBlack);
    TKVBitmap& bitmap = *view.GetKVBitmap();
    bitmap.Allocate(3, 1, kv24RGB);
    bitmap.Fill(ColorToRGB(clWhite));
    TKVBitmap& alpha = *bitmap.GetAlphaChannel();
    const uint8_t opacity[] = {255, 0, 128};
    for (int x = 0; x < 3; ++x) alpha.GetScanline(0)[x] = opacity[x];
    view.ImageChange(true);
    EXPECT_FALSE(bitmap.GetHasAlphaChannel());
    EXPECT_EQ(bitmap.GetPixelRGB(0, 0), (TKVRGB{255, 255, 255}));  // opaque white stays white
    EXPECT_EQ(bitmap.GetPixelRGB(1, 0), (TKVRGB{0, 0, 0}));
    EXPECT_EQ(bitmap.GetPixelRGB(2, 0), (TKVRGB{128, 128, 128}));
}

TEST_F(KestovaViewTest, BackgroundStyles) {
    struct Case {
        TKVBackgroundStyle style;
        QPoint at;
        QRgb expected;
    } cases[] = {
        {kvbsSolid, {30, 30}, qRgb(0, 128, 0)},
        {kvbsChessboard, {0, 0}, qRgb(0, 128, 0)},
        {kvbsChessboard, {16, 0}, qRgb(255, 127, 255)},  // the complement colour
        {kvbsChessboard, {16, 16}, qRgb(0, 128, 0)},
        {kvbsDiagonals, {20, 20}, qRgb(255, 127, 255)},
        {kvbsDiagonals, {20, 10}, qRgb(0, 128, 0)},
        {kvbsGradient, {5, 0}, qRgb(0, 128, 0)},
        {kvbsCropShadow, {61, 30}, qRgb(0, 128 * 95 / 255, 0)},  // the shadow's darkest line
    };
    for (const Case& c : cases) {
        QImage image(64, 64, QImage::Format_RGB32);
        TKVBackground background;
        background.style = c.style;
        background.color = clGreen;
        KVDrawBackground(image, background, QRect(10, 10, 51, 40));
        EXPECT_EQ(image.pixel(c.at), c.expected) << c.style << " at " << c.at.x() << "," << c.at.y();
    }
}

TEST_F(KestovaViewTest, WallPaperStyles) {
    QImage paper(4, 4, QImage::Format_RGB32);
    paper.fill(qRgb(0, 0, 255));
    struct Case {
        TKVWallPaperStyle style;
        QPoint at;
        bool paper;
    } cases[] = {
        {kvwoNormal, {1, 1}, true},   {kvwoNormal, {6, 6}, false}, {kvwoStretch, {15, 15}, true},
        {kvwoTile, {6, 6}, true},     {kvwoTile, {15, 9}, true},
    };
    for (const Case& c : cases) {
        QImage image(16, 16, QImage::Format_RGB32);
        TKVBackground background;
        background.color = clGreen;
        background.wallPaper = paper;
        background.wallPaperStyle = c.style;
        KVDrawBackground(image, background, QRect());
        EXPECT_EQ(image.pixel(c.at), c.paper ? qRgb(0, 0, 255) : qRgb(0, 128, 0))
            << c.style << " at " << c.at.x() << "," << c.at.y();
    }
    // Through the view, the wall paper lies around the image.
    TKestovaView view;
    view.resize(100, 100);
    FillRamp(*view.GetKVBitmap(), 4, 4);
    view.SetWallPaperStyle(kvwoTile);
    view.SetWallPaper(paper);
    EXPECT_EQ(Grab(view).pixel(2, 2), qRgb(0, 0, 255));
    view.SetWallPaper(QImage());
    EXPECT_NE(Grab(view).pixel(2, 2), qRgb(0, 0, 255));
}

TEST_F(KestovaViewTest, PreviewLoadsThroughItsInputOutputAtTheViewsSize) {
    TScratchFolder scratch;
    const std::string path = scratch.Path("big.jpg");
    ASSERT_EQ(RunTool("convert -size 1600x1200 xc:'rgb(200,40,40)' -quality 95 " + Quoted(path)).status, 0);
    TKestovaView view;
    view.resize(210, 160);
    view.SetAutoShrink(true);
    view.SetAutoStretch(true);
    TKestovaIO& io = *view.GetIO();
    EXPECT_EQ(view.GetIO(), &io);  // one per view
    io.Params().JpegScale = 0;
    io.Params().Width = view.ViewWidth();
    io.Params().Height = view.ViewHeight();
    io.LoadFromFile(path);
    ASSERT_FALSE(io.AbortFlag);
    view.Update();
    EXPECT_EQ(view.GetKVBitmap()->GetWidth(), 400);  // a quarter: an eighth would not cover the view
    EXPECT_EQ(view.GetKVBitmap()->GetHeight(), 300);
    const QImage shot = Grab(view);
    const QRgb middle = shot.pixel(shot.width() / 2, shot.height() / 2);
    EXPECT_NEAR(qRed(middle), 200, 4);
    EXPECT_NEAR(qGreen(middle), 40, 4);
    // A bitmap attached later is where the next load goes.
    TKVBitmap outside;
    view.AttachBitmap(&outside);
    io.LoadFromFile(path);
    EXPECT_EQ(outside.GetWidth(), 400);
    view.AttachBitmap(nullptr);
}

TEST_F(KestovaViewTest, WheelZoomsAndScrollsAndTrackingWaitsForTheThumb) {
    TKestovaView view;
    view.resize(200, 150);
    FillRamp(*view.GetKVBitmap(), 20, 20);
    view.SetZoom(1000);
    const auto turn = [&](int delta, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QWheelEvent event(QPointF(50, 50), QPointF(50, 50), QPoint(), QPoint(0, delta), Qt::NoButton, modifiers,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(view.viewport(), &event);
    };
    turn(120);  // forward: 8 % out
    EXPECT_DOUBLE_EQ(view.Zoom(), 920);
    turn(-120);
    EXPECT_DOUBLE_EQ(view.Zoom(), 920 + 74);
    view.MouseWheelParams.Action = kvwaScroll;
    const int top = view.OriginY();
    turn(-120);  // backward scrolls down by 8 % of the client height
    EXPECT_EQ(view.OriginY() - top, static_cast<int>(std::nearbyint(view.ViewHeight() * 0.08)));
    turn(-120, Qt::ControlModifier);  // with Ctrl across
    EXPECT_GT(view.OriginX(), 0);
    view.SetAutoFit(true);
    const double fitted = view.Zoom();
    view.MouseWheelParams.Action = kvwaZoom;
    turn(120);  // a fitted view keeps its zoom
    EXPECT_DOUBLE_EQ(view.Zoom(), fitted);

    view.SetAutoFit(false);
    view.SetZoom(1000);
    view.VertScrollBar.Tracking = false;
    view.Update();
    QScrollBar* bar = view.verticalScrollBar();
    const int before = view.OriginY();
    bar->setSliderDown(true);
    bar->setSliderPosition(bar->maximum());  // dragging the thumb
    EXPECT_EQ(view.OriginY(), before);
    bar->setSliderDown(false);  // released
    EXPECT_GT(view.OriginY(), before);
}
