#include <gtest/gtest.h>

#include <string>

#include "KVTestPictures.h"
#include "imaging/core/KVBitmapRender.h"
#include "imaging/core/KVResample.h"
#include "platform/Graphics.h"

namespace {

TKVRGB Gray(int v) { return TKVRGB{uint8_t(v), uint8_t(v), uint8_t(v)}; }

TKVRGB Scene(int x, int y) { return TKVRGB{uint8_t(x * 9), uint8_t(y * 13), uint8_t((x * y) % 256)}; }

const TKVRGB Paper{7, 8, 9};

std::unique_ptr<TKVBitmap> Canvas(int width, int height) {
    auto canvas = MakeRGB(width, height, [](int, int) { return Paper; });
    canvas->SetLocation(kvMemory);
    return canvas;
}

TKVRenderParams Rects(int dx, int dy, int dw, int dh, int sx, int sy, int sw, int sh) {
    TKVRenderParams p;
    p.destX = dx, p.destY = dy, p.destWidth = dw, p.destHeight = dh;
    p.sourceX = sx, p.sourceY = sy, p.sourceWidth = sw, p.sourceHeight = sh;
    return p;
}

// What a render must give, pixel by pixel: the nearest source pixel of every destination pixel
// inside the destination rectangle, the canvas and the clip; the paper elsewhere.
TKVRGB Reference(TKVBitmap& source, const TKVRenderParams& p, int c, int r) {
    const bool inside = c >= p.destX && c < p.destX + p.destWidth && r >= p.destY && r < p.destY + p.destHeight &&
                        (!p.clip || (c >= p.clip->x1 && c <= p.clip->x2 && r >= p.clip->y1 && r <= p.clip->y2));
    if (!inside) return Paper;
    const int sx = int((c - p.destX) * (double(p.sourceWidth) / p.destWidth) + p.sourceX);
    const int sy = int((r - p.destY) * (double(p.sourceHeight) / p.destHeight) + p.sourceY);
    if (sx >= source.GetWidth() || sy >= source.GetHeight()) return Paper;
    return source.GetPixelRGB(sx, sy);
}

}  // namespace

TEST(KVBitmapRender, NearestRenderingWithClippingMatchesAStraightforwardReference) {
    struct Case {
        const char* name;
        TKVRenderParams params;
        std::optional<TKVClipRect> clip;
    } cases[] = {
        {"1:1 inside", Rects(3, 2, 10, 8, 1, 1, 10, 8), {}},
        {"shrink 2:1", Rects(0, 0, 10, 7, 0, 0, 20, 14), {}},
        {"enlarge 1:2", Rects(2, 1, 24, 16, 3, 2, 12, 8), {}},
        {"ratio 1.5", Rects(1, 1, 12, 10, 0, 0, 18, 15), {}},
        {"left and top outside", Rects(-10, -10, 30, 20, 0, 0, 30, 20), {}},
        {"2:1 from above skips two rows per row", Rects(-4, -5, 16, 10, 0, 0, 32, 20), {}},
        {"right and bottom outside", Rects(20, 14, 30, 30, 0, 0, 30, 30), {}},
        {"clipped", Rects(0, 0, 32, 20, 0, 0, 32, 20), TKVClipRect{5, 4, 12, 9}},
        {"source rectangle beyond the source", Rects(0, 0, 20, 20, 10, 10, 20, 20), {}},
    };
    auto color = MakeRGB(32, 20, Scene);
    for (const TKVPixelFormat format : {kv24RGB, kv8Gray, kv8Paletted, kv1Bit, kv16Gray, kvCMYK, kvRGB48, kv32f}) {
        TKVBitmap source;
        source.Assign(color.get());
        source.SetPixelFormat(format);
        for (const Case& c : cases) {
            auto canvas = Canvas(28, 18);
            TKVRenderParams params = c.params;
            params.clip = c.clip;
            source.RenderToTKVBitmap(*canvas, params);
            for (int r = 0; r < 18; ++r)
                for (int x = 0; x < 28; ++x)
                    ASSERT_EQ(canvas->GetPixelRGB(x, r), Reference(source, params, x, r))
                        << c.name << " format " << int(format) << " at " << x << "," << r;
        }
    }
}

TEST(KVBitmapRender, OpacityContrastAndRange) {
    struct Case {
        const char* name;
        std::function<void(TKVBitmap&, TKVRenderParams&)> set;
        int source, paper, expected;
    } cases[] = {
        {"half opacity", [](TKVBitmap&, TKVRenderParams& p) { p.transparency = 128; }, 255, 0, 128},
        {"full opacity keeps white over black", [](TKVBitmap& b, TKVRenderParams&) { b.SetAlpha(0, 0, 255), b.SetAlpha(1, 0, 0); }, 255, 0, 255},
        {"no opacity", [](TKVBitmap&, TKVRenderParams& p) { p.transparency = 0; }, 255, 30, 30},
        {"contrast 10 doubles the distance from 128", [](TKVBitmap& b, TKVRenderParams&) { b.SetContrast(10); }, 150, 0, 172},
        {"contrast -100 is flat", [](TKVBitmap& b, TKVRenderParams&) { b.SetContrast(-100); }, 250, 0, 128},
        {"offset", [](TKVBitmap& b, TKVRenderParams&) { b.SetAdjustEnabled(1), b.SetChannelOffset(0, 20), b.SetChannelOffset(1, 20), b.SetChannelOffset(2, 20); }, 100, 0, 120},
        {"multiply", [](TKVBitmap&, TKVRenderParams& p) { p.blend = kvbMultiply; }, 255, 255, 254},
    };
    for (const Case& c : cases) {
        auto source = MakeRGB(2, 1, [&](int, int) { return Gray(c.source); });
        auto canvas = MakeRGB(2, 1, [&](int, int) { return Gray(c.paper); });
        canvas->SetLocation(kvMemory);
        TKVRenderParams params = Rects(0, 0, 2, 1, 0, 0, 2, 1);
        c.set(*source, params);
        source->RenderToTKVBitmap(*canvas, params);
        EXPECT_EQ(canvas->GetPixelRGB(0, 0), Gray(c.expected)) << c.name;
    }
    // Gray levels of 16 bits stretched from their range; blends leave gray formats alone.
    auto words = MakeRGB(1, 1, [](int, int) { return Gray(0); });
    words->SetPixelFormat(kv16Gray);
    words->SetWord(0, 0, 1500);
    words->SetRangeMin(1000);
    words->SetRangeMax(2000);
    auto canvas = Canvas(1, 1);
    TKVRenderParams params = Rects(0, 0, 1, 1, 0, 0, 1, 1);
    params.blend = kvbMultiply;
    words->RenderToTKVBitmap(*canvas, params);
    EXPECT_EQ(canvas->GetPixelRGB(0, 0), Gray(127));
}

TEST(KVBitmapRender, FiltersResampleTheRectangleFirst) {
    auto source = MakeRGB(60, 40, Scene);
    auto expected = MakeRGB(23, 17, [](int, int) { return TKVRGB{}; });
    TKVBitmap part;
    part.Allocate(40, 30, kv24RGB);
    source->CopyRectTo(part, 10, 5, 40, 30, 0, 0);
    KVResampleBitmap(part, *expected, rfLanczos3);
    auto canvas = Canvas(30, 20);
    TKVRenderParams params = Rects(4, 2, 23, 17, 10, 5, 40, 30);
    params.filter = rfLanczos3;
    source->RenderToTKVBitmap(*canvas, params);
    for (int y = 0; y < 17; ++y)
        for (int x = 0; x < 23; ++x) ASSERT_EQ(canvas->GetPixelRGB(x + 4, y + 2), expected->GetPixelRGB(x, y));
    EXPECT_EQ(canvas->GetPixelRGB(3, 2), Paper);

    // A 1-bit page shrunk becomes gray by counting bits.
    auto page = MakeRGB(16, 16, [](int x, int) { return Gray(x % 2 ? 255 : 0); });
    page->SetPixelFormat(kv1Bit);
    auto gray = Canvas(4, 4);
    TKVRenderParams shrink = Rects(0, 0, 4, 4, 0, 0, 16, 16);
    shrink.filter = rfTriangle;
    page->RenderToTKVBitmap(*gray, shrink);
    EXPECT_EQ(gray->GetPixelRGB(2, 2), Gray(102));  // 2 of the 5 columns 6..10 are white
}

TEST(KVBitmapRender, CachesAndRowReuseGiveTheSamePicture) {
    auto source = MakeRGB(10, 6, Scene);
    auto plain = Canvas(25, 18);
    TKVRenderParams params = Rects(1, 1, 20, 15, 0, 0, 10, 6);
    source->RenderToTKVBitmap(*plain, params);
    TKVRenderCache cache;
    params.cache = &cache;
    params.freeCaches = false;
    params.reuseRows = true;
    for (int pass = 0; pass < 2; ++pass) {
        auto again = Canvas(25, 18);
        source->RenderToTKVBitmap(*again, params);
        EXPECT_TRUE(SamePixels(*again, *plain)) << pass;
        EXPECT_EQ(cache.columns.size(), 25u);
    }
    params.freeCaches = true;
    auto last = Canvas(25, 18);
    source->RenderToTKVBitmap(*last, params);
    EXPECT_TRUE(cache.columns.empty());
}

TEST(KVBitmapRender, ClassLibraryBitmapsAndFailures) {
    auto source = MakeRGB(4, 4, Scene);
    TBitmap picture;
    picture.SetPixelFormat(TPixelFormat::pf24bit);
    picture.SetSize(8, 8);
    source->DrawToTBitmap(picture, 0, 0, 8, 8, 0, 0, 4, 4, 255, kvbCopy, rfNone);
    TKVBitmap view;
    view.EncapsulateTBitmap(&picture, false);
    EXPECT_EQ(view.GetPixelRGB(7, 7), source->GetPixelRGB(3, 3));
    // A destination that cannot take the pixels is an error, never a silent success.
    TKVBitmap gray;
    gray.Allocate(4, 4, kv8Gray);
    EXPECT_NE(MessageOf([&] { source->DrawToTKVBitmap(gray, 0, 0, 4, 4, 0, 0, 4, 4, 255, kvbCopy, rfNone); }),
              "(no exception)");
    TKVBitmap file;
    file.SetMemoryThreshold(0);
    file.Allocate(4, 4, kv24RGB);
    ASSERT_EQ(file.Location(), kvFile);
    EXPECT_NE(MessageOf([&] { source->DrawToTKVBitmap(file, 0, 0, 4, 4, 0, 0, 4, 4, 255, kvbCopy, rfNone); }),
              "(no exception)");
    EXPECT_EQ(source->Access(), kvaReadWrite);
}
