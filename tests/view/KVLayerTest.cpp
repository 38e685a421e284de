// The layers and their composition into the back buffer, on plain images without a window:
// coordinates, hit tests, grips, blends computed by hand and a blend composed by ImageMagick.
#include "imaging/view/KVLayer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>

#include "TestSupport.h"
#include "ViewTestSupport.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVResample.h"
#include "imaging/view/KVLayerComposer.h"
#include "imaging/view/KVViewport.h"

namespace {

TKVViewport Port(int bitmapWidth, int bitmapHeight, int clientWidth, int clientHeight, double zoom = 100,
                 int originX = 0, int originY = 0) {
    TKVViewport port;
    port.x.bitmapSize = bitmapWidth;
    port.y.bitmapSize = bitmapHeight;
    port.x.clientSize = port.x.outerSize = clientWidth;
    port.y.clientSize = port.y.outerSize = clientHeight;
    port.zoom = zoom;
    port.x.origin = originX;
    port.y.origin = originY;
    port.Recompute();
    return port;
}

void FillColor(TKVBitmap& bitmap, int width, int height, TKVRGB color) {
    bitmap.Allocate(width, height, kv24RGB);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) reinterpret_cast<TKVRGB*>(bitmap.GetScanline(y))[x] = color;
}

std::unique_ptr<TKVLayer> LayerOf(TKVBitmap& bitmap) {
    auto layer = std::make_unique<TKVLayer>(nullptr, true, &bitmap);
    layer->OwnsBitmap = false;
    layer->Framed = false;
    return layer;
}

TKVComposition Solid(TColor color) {
    TKVComposition c;
    c.background.style = kvbsSolid;
    c.background.color = color;
    return c;
}

}  // namespace

TEST(KVLayer, ClientToLayerFollowsPlaceSizeAndZoom) {
    TKVBitmap bitmap;
    FillColor(bitmap, 40, 30, {});
    TKVLayer layer(nullptr, true, &bitmap);
    layer.OwnsBitmap = false;
    struct Case {
        double zoom;
        int left, width, client, expected;
    } cases[] = {
        {100, 0, 0, 17, 17},  {200, 0, 0, 17, 8},   {200, 10, 0, 37, 8},  // 37 - 20 = 17 zoomed pixels in
        {200, 10, 80, 37, 4}, {50, 0, 0, 17, 34},   {50, 4, 80, 12, 10},  // (12 - 2) x 2 = 20, halved by size
        {100, 5, 20, 12, 14},
    };
    for (const Case& c : cases) {
        const TKVViewport port = Port(400, 300, 200, 150, c.zoom);
        layer.LayerLeft = c.left;
        layer.LayerWidth = c.width;
        EXPECT_EQ(layer.ClientToLayerX(port, c.client), c.expected)
            << "zoom " << c.zoom << " left " << c.left << " width " << c.width << " client " << c.client;
    }
}

TEST(KVLayer, HitTestsTakeTheTopmostOpaqueLayer) {
    TKVBitmap bottom, top;
    FillColor(bottom, 50, 40, {});
    FillColor(top, 20, 20, {});
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x) top.SetAlpha(x, y, x < 10 ? 0 : 200);
    top.GetAlphaChannel()->SetFull(false);
    TKVLayerList layers;
    layers.Add(LayerOf(bottom)).ClientRect = {0, 0, 50, 40};
    TKVLayer& upper = layers.Add(LayerOf(top));
    upper.LayerLeft = 30;
    upper.ClientRect = {30, 10, 50, 30};
    const TKVViewport port = Port(50, 40, 50, 40);
    struct Case {
        int x, y;
        bool transparent;
        int layer;
    } cases[] = {
        {45, 20, false, 1}, {35, 20, false, 0},  // the transparent half lets the lower layer through
        {35, 20, true, 1},  {50, 30, false, 1},  // borders included
        {10, 5, false, 0},  {60, 20, false, -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(layers.LayerAt(port, c.x, c.y, c.transparent), c.layer) << c.x << "," << c.y;
}

TEST(KVLayer, EightGripsAroundTheCurrentLayer) {
    TKVBitmap bitmap;
    FillColor(bitmap, 10, 10, {});
    TKVLayerList layers;
    layers.Add(LayerOf(bitmap)).ClientRect = {20, 10, 60, 50};
    struct Case {
        int x, y, grip;
    } cases[] = {
        {20, 10, 1}, {16, 6, 1}, {64, 10, 2}, {60, 54, 3}, {20, 50, 4}, {24, 30, 5}, {56, 30, 6},
        {40, 14, 7}, {40, 46, 8}, {15, 10, 0}, {40, 30, 0}, {20, 36, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(layers.LayerGripAt(c.x, c.y), c.grip) << c.x << "," << c.y;
}

TEST(KVLayerComposer, TheThreeEdgeCases) {
    const QRgb marker = qRgb(1, 2, 3);
    TKVComposition c = Solid(RGB(0, 0, 255));
    int backgrounds = 0;
    c.onDrawBackground = [&](QImage&, const QRect&, bool&) { ++backgrounds; };

    // A 1 x 1 picture shows only the background.
    TKVBitmap dot;
    FillColor(dot, 1, 1, {0, 255, 0});
    TKVLayerList one;
    one.Add(LayerOf(dot));
    QImage buffer(30, 20, QImage::Format_RGB32);
    buffer.fill(marker);
    KVPaintToBackBuffer(buffer, dot, one, Port(1, 1, 30, 20), c);
    EXPECT_EQ(backgrounds, 1);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 30; ++x) ASSERT_EQ(buffer.pixel(x, y), qRgb(0, 0, 255)) << x << "," << y;

    // An opaque picture that fills the buffer from (0, 0) hides the background entirely.
    TKVBitmap large;
    FillColor(large, 60, 40, {10, 20, 30});
    TKVLayerList filled;
    filled.Add(LayerOf(large));
    buffer.fill(marker);
    backgrounds = 0;
    KVPaintToBackBuffer(buffer, large, filled, Port(60, 40, 30, 20), c);
    EXPECT_EQ(backgrounds, 0);
    EXPECT_EQ(buffer.pixel(0, 0), qRgb(30, 20, 10));
    EXPECT_EQ(buffer.pixel(29, 19), qRgb(30, 20, 10));
    EXPECT_EQ(filled[0].ClientRect, (TRect{0, 0, 30, 20}));

    // An alpha channel of another size than the picture: nothing is drawn.
    large.GetAlphaChannel()->Allocate(10, 10, kv8Gray);
    buffer.fill(marker);
    KVPaintToBackBuffer(buffer, large, filled, Port(60, 40, 30, 20), c);
    EXPECT_EQ(backgrounds, 0);
    EXPECT_EQ(buffer.pixel(15, 10), marker);
}

TEST(KVLayerComposer, OpacityBlendsOverTheBackground) {
    TKVBitmap bitmap;
    FillColor(bitmap, 10, 8, {0, 100, 200});  // blue 0, green 100, red 200
    TKVLayerList layers;
    TKVLayer& layer = layers.Add(LayerOf(bitmap));
    QImage buffer(30, 20, QImage::Format_RGB32);
    const TKVViewport port = Port(10, 8, 30, 20);  // centred at (10, 6)
    struct Case {
        int opacity;
        QRgb expected;
    } cases[] = {
        // (s a + d (255 - a) + 127) / 255 per channel over blue (0, 0, 255).
        {255, qRgb(200, 100, 0)},
        {128, qRgb(100, 50, 127)},
        {64, qRgb(50, 25, 191)},
        {0, qRgb(0, 0, 255)},
    };
    for (const Case& c : cases) {
        layer.Opacity = c.opacity;
        KVPaintToBackBuffer(buffer, bitmap, layers, port, Solid(RGB(0, 0, 255)));
        EXPECT_EQ(QColor(buffer.pixel(12, 8)), QColor(c.expected)) << c.opacity;
        EXPECT_EQ(buffer.pixel(9, 8), qRgb(0, 0, 255)) << "beside the picture";
    }
    EXPECT_EQ(layer.ClientRect, (TRect{10, 6, 20, 14}));
}

TEST(KVLayerComposer, HalfTransparentPictureOverTheChessboardAsImageMagickComposesIt) {
    constexpr int width = 40, height = 30, bufferWidth = 64, bufferHeight = 48, square = 8;
    TKVBitmap bitmap;
    bitmap.Allocate(width, height, kv24RGB);
    std::string pam = "P7\nWIDTH 40\nHEIGHT 30\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const TKVRGB p{uint8_t(6 * x), uint8_t(255 - 8 * y), uint8_t(40 + 5 * x)};
            const uint8_t alpha = uint8_t(x < 20 ? 128 : 6 * x + 10);
            reinterpret_cast<TKVRGB*>(bitmap.GetScanline(y))[x] = p;
            bitmap.SetAlpha(x, y, alpha);
            pam += {char(p.r), char(p.g), char(p.b), char(alpha)};
        }
    bitmap.GetAlphaChannel()->SetFull(false);
    TKVLayerList layers;
    layers.Add(LayerOf(bitmap));
    TKVComposition c;
    c.background.style = kvbsChessboard;
    c.background.color = RGB(220, 200, 180);
    c.background.chessboardSize = square;
    c.enableAlpha = true;
    QImage buffer(bufferWidth, bufferHeight, QImage::Format_RGB32);
    KVPaintToBackBuffer(buffer, bitmap, layers, Port(width, height, bufferWidth, bufferHeight), c);
    KeepScreenshot(buffer, "layer_alpha_over_chessboard");

    // The board: squares of 8 from the background colour at the top left and its complement.
    TScratchFolder folder;
    std::string board = "P6\n64 48\n255\n";
    for (int y = 0; y < bufferHeight; ++y)
        for (int x = 0; x < bufferWidth; ++x) {
            const bool first = (x / square + y / square) % 2 == 0;
            board += first ? std::string{char(220), char(200), char(180)} : std::string{char(35), char(55), char(75)};
        }
    WriteFile(folder.Path("board.ppm"), board);
    WriteFile(folder.Path("picture.pam"), pam);
    const TCommandResult result =
        RunTool("convert " + Quoted(folder.Path("board.ppm")) + " " + Quoted(folder.Path("picture.pam")) +
                " -geometry +12+9 -compose over -composite " + Quoted(folder.Path("expected.ppm")));
    ASSERT_EQ(result.status, 0) << result.output;
    const TRgbImage expected = ReadPpm(folder.Path("expected.ppm"));
    ASSERT_EQ(expected.width, bufferWidth);
    for (int y = 0; y < bufferHeight; ++y)
        for (int x = 0; x < bufferWidth; ++x) {
            const QRgb got = buffer.pixel(x, y);
            const uint8_t* want = expected.At(x, y);
            ASSERT_LE(std::abs(qRed(got) - want[0]), 1) << x << "," << y;
            ASSERT_LE(std::abs(qGreen(got) - want[1]), 1) << x << "," << y;
            ASSERT_LE(std::abs(qBlue(got) - want[2]), 1) << x << "," << y;
        }
}

TEST(KVLayerComposer, LayersStackBottomFirstWithFramesAndGrips) {
    TKVBitmap base, small;
    FillColor(base, 80, 60, {40, 40, 40});
    FillColor(small, 10, 10, {0, 0, 250});
    TKVLayerList layers;
    layers.Add(LayerOf(base));
    TKVLayer& upper = layers.Add(LayerOf(small));
    upper.LayerLeft = 20;
    upper.LayerTop = 15;
    upper.LayerWidth = 40;  // shown four times as wide, three times as high
    upper.LayerHeight = 30;
    upper.Framed = true;
    layers.Current = 1;
    TKVComposition c = Solid(RGB(255, 255, 255));
    c.showFrames = c.showGrips = true;
    QImage buffer(80, 60, QImage::Format_RGB32);
    KVPaintToBackBuffer(buffer, base, layers, Port(80, 60, 80, 60), c);
    KeepScreenshot(buffer, "layer_framed_with_grips");
    EXPECT_EQ(upper.ClientRect, (TRect{20, 15, 60, 45}));
    EXPECT_EQ(buffer.pixel(30, 20), qRgb(250, 0, 0));
    EXPECT_EQ(buffer.pixel(65, 20), qRgb(40, 40, 40));
    // Each grip is a white square with a black edge around its point.
    TPoint grips[8];
    KVLayerGripPoints(upper.ClientRect, grips);
    for (const TPoint& g : grips) {
        EXPECT_EQ(buffer.pixel(g.X + 1, g.Y + 1), qRgb(255, 255, 255)) << g.X << "," << g.Y;
        EXPECT_EQ(buffer.pixel(g.X - 4, g.Y), qRgb(0, 0, 0)) << g.X << "," << g.Y;
    }
    // A pinned layer keeps its frame but shows no grips.
    upper.Pinned = true;
    KVPaintToBackBuffer(buffer, base, layers, Port(80, 60, 80, 60), c);
    EXPECT_EQ(buffer.pixel(grips[0].X - 4, grips[0].Y - 4), qRgb(40, 40, 40));
}

// A layer of its own size and place, magnified four times and drawn at 200 %: unfiltered while
// the delay runs, resampled otherwise, and scrolled so that only a part shows, that part where
// it lies in the whole layer.
TEST(KVLayerComposer, ALayerOfItsOwnSizeIsResampledOverItsVisiblePart) {
    constexpr int width = 8, height = 6, scale = 8;  // layer 4 x its bitmap, at 200 %
    TKVBitmap base, ramp;
    FillColor(base, 80, 60, {40, 40, 40});
    ramp.Allocate(width, height, kv24RGB);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const TKVRGB p{uint8_t(100 + 10 * x), uint8_t(20 + 40 * y), uint8_t(10 + 30 * x)};
            reinterpret_cast<TKVRGB*>(ramp.GetScanline(y))[x] = p;
        }
    TKVLayerList layers;
    layers.Add(LayerOf(base));
    TKVLayer& upper = layers.Add(LayerOf(ramp));
    upper.LayerLeft = 2;
    upper.LayerTop = 3;
    upper.LayerWidth = width * 4;
    upper.LayerHeight = height * 4;
    TKVComposition c = Solid(RGB(255, 255, 255));
    c.zoomFilter = rfTriangle;
    const QPoint place(4, 6);  // the layer's place in bitmap pixels, at 200 %
    QImage whole(160, 120, QImage::Format_RGB32);

    c.filterDelayed = true;
    KVPaintToBackBuffer(whole, base, layers, Port(80, 60, 160, 120, 200), c);
    for (int y = 0; y < height * scale; ++y)
        for (int x = 0; x < width * scale; ++x) {
            const TKVRGB p = reinterpret_cast<const TKVRGB*>(ramp.GetScanline(y / scale))[x / scale];
            ASSERT_EQ(whole.pixel(place.x() + x, place.y() + y), qRgb(p.r, p.g, p.b)) << x << "," << y;
        }

    c.filterDelayed = false;
    KVPaintToBackBuffer(whole, base, layers, Port(80, 60, 160, 120, 200), c);
    KeepScreenshot(whole, "layer_own_size_filtered");
    // The whole layer shows as the library resamples the whole bitmap.
    TKVBitmap resampled;
    resampled.Allocate(width * scale, height * scale, kv24RGB);
    KVResampleBitmap(ramp, resampled, rfTriangle);
    for (int y = 0; y < height * scale; ++y)
        for (int x = 0; x < width * scale; ++x) {
            const TKVRGB p = resampled.GetPixelRGB(x, y);
            ASSERT_EQ(whole.pixel(place.x() + x, place.y() + y), qRgb(p.r, p.g, p.b)) << x << "," << y;
        }

    // A part, resampled on its own, lands where it lies in the whole: shifted by a pixel it
    // would match worse. It differs a little, as the resampler stretches its ends onto the
    // window's ends.
    struct Case {
        int originX, originY;
    } cases[] = {{20, 14}, {37, 3}, {0, 29}};
    for (const Case& s : cases) {
        QImage part(90, 70, QImage::Format_RGB32);
        KVPaintToBackBuffer(part, base, layers, Port(80, 60, 90, 70, 200, s.originX, s.originY), c);
        const TRect r = upper.ClientRect;
        ASSERT_LT(r.Left, r.Right);
        const auto difference = [&](int dx, int dy, int& largest) {
            int64_t sum = 0;
            largest = 0;
            for (int y = r.Top + 2; y < r.Bottom - 2; ++y)
                for (int x = r.Left + 2; x < r.Right - 2; ++x) {
                    const QRgb a = part.pixel(x, y), b = whole.pixel(x + s.originX + dx, y + s.originY + dy);
                    const int d = std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                                            std::abs(qBlue(a) - qBlue(b))});
                    sum += d;
                    largest = std::max(largest, d);
                }
            return sum;
        };
        int largest = 0, ignored = 0;
        const int64_t inPlace = difference(0, 0, largest);
        EXPECT_LE(largest, 2) << s.originX << "," << s.originY;
        for (const QPoint shift : {QPoint(-1, 0), QPoint(1, 0), QPoint(0, -1), QPoint(0, 1)})
            EXPECT_LT(inPlace, difference(shift.x(), shift.y(), ignored))
                << s.originX << "," << s.originY << " shifted " << shift.x() << "," << shift.y();
    }
}
