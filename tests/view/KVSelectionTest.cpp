// The selection's arithmetic without a window: modes, zoom steps, grips, masks against shapes
// drawn by ImageMagick, and the stream form against short and hostile streams.
#include "imaging/view/KVSelection.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "imaging/view/KVMouseInteract.h"
#include "imaging/view/KVSelectionGrips.h"
#include "platform/PictureLimits.h"

namespace {

std::string Names(TKVMouseInteract set) {
    static const char* names[] = {"Zoom",         "Scroll",     "Select",        "SelectPolygon", "SelectCircle",
                                  "SelectZoom",   "SelectMagicWand", "SelectLasso", "MoveLayers", "ResizeLayers"};
    std::string text;
    for (int i = 0; i <= miResizeLayers; ++i)
        if (set.Has(TKVMouseInteractItem(i))) text += std::string(text.empty() ? "" : ",") + names[i];
    return text;
}

}  // namespace

TEST(KVMouseInteract, TheAddedModeDecidesWhatStays) {
    struct Case {
        TKVMouseInteract old, value, expected;
    } cases[] = {
        {{}, {miZoom, miSelectPolygon}, {miSelectPolygon}},
        {{}, {miZoom, miScroll, miSelect}, {miZoom, miScroll}},
        {{miZoom}, {miZoom, miSelect, miSelectCircle}, {miZoom, miSelect}},
        {{miZoom}, {miZoom, miSelectCircle}, {miZoom, miSelectCircle}},
        {{}, {miZoom, miSelectLasso}, {miZoom, miSelectLasso}},
        {{}, {miZoom, miSelectMagicWand}, {miZoom}},
        {{miZoom}, {miZoom, miSelectMagicWand, miMoveLayers}, {miSelectMagicWand}},
        {{}, {miZoom, miMoveLayers, miResizeLayers}, {miZoom}},
        {{}, {miMoveLayers, miResizeLayers}, {miMoveLayers, miResizeLayers}},
        // Nothing added: layer modes keep only themselves, anything else stays as given.
        {{miSelect, miMoveLayers}, {miSelect, miMoveLayers}, {miMoveLayers}},
        {{miZoom, miSelect}, {miSelect}, {miSelect}},
        {{miZoom}, {}, {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Names(KVFilterMouseInteract(c.old, c.value)), Names(c.expected))
            << Names(c.old) << " -> " << Names(c.value);
}

TEST(KVMouseInteract, ClickZoomSteps) {
    struct Case {
        double zoom, in, out;
    } cases[] = {
        {33, 50, 25}, {150, 250, 100}, {2, 5, 2},     {1, 2, 2},     {100, 200, 75},
        {200, 300, 100}, {75, 100, 50}, {60, 75, 50}, {250, 350, 150}, {99.5, 100, 75},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(KVZoomInStep(c.zoom), c.in) << c.zoom;
        EXPECT_EQ(KVZoomOutStep(c.zoom), c.out) << c.zoom;
    }
}

TEST(KVSelectionGrips, HitTest) {
    const TRect r{20, 10, 80, 50};
    struct Case {
        int x, y, grip;
    } cases[] = {
        {20, 10, 1}, {25, 15, 1}, {26, 10, 7}, {80, 10, 2}, {80, 50, 3}, {20, 50, 4}, {15, 55, 4},
        {22, 30, 5}, {78, 30, 6}, {50, 12, 7}, {50, 48, 8}, {50, 30, 0}, {17, 30, 0}, {50, 53, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(KVSelectionGripAt(r, c.x, c.y), c.grip) << c.x << "," << c.y;
}

TEST(KVSelectionGrips, DraggingReshapesAndCrossesOver) {
    const TRect box{20, 10, 60, 40};
    struct Case {
        int grip, x, y;
        bool keepRatio;
        TRect expected;
        int grip2;
    } cases[] = {
        {6, 70, 25, false, {20, 10, 70, 40}, 6},
        {6, 5, 25, false, {5, 10, 20, 40}, 5},   // the right edge past the left one becomes the left edge
        {5, 65, 0, false, {60, 10, 65, 40}, 6},
        {7, 0, 50, false, {20, 40, 60, 50}, 8},
        {8, 0, 2, false, {20, 2, 60, 10}, 7},
        {3, 10, 5, false, {10, 5, 20, 10}, 1},   // bottom-right past both sides: top-left
        {1, 70, 20, false, {60, 20, 70, 40}, 2},
        {2, 30, 50, false, {20, 40, 30, 50}, 3},
        {4, 70, 2, false, {60, 2, 70, 10}, 2},
        {6, 20, 25, false, {20, 10, 21, 40}, 6},  // never narrower than one pixel
        {8, 0, 10, false, {20, 10, 60, 11}, 8},
        {3, 100, 45, true, {20, 10, 100, 70}, 3},  // 40 x 30 kept as 4:3
        {8, 0, 70, true, {20, 10, 100, 70}, 8},
    };
    for (const Case& c : cases) {
        int grip = c.grip;
        const TRect r = KVDragGrip(grip, box, c.x, c.y, c.keepRatio, box);
        EXPECT_EQ(r, c.expected) << "grip " << c.grip << " to " << c.x << "," << c.y << ": " << r.Left << ","
                                 << r.Top << "," << r.Right << "," << r.Bottom;
        EXPECT_EQ(grip, c.grip2) << "grip " << c.grip;
    }
}

namespace {

constexpr int MaskWidth = 64, MaskHeight = 48;

// The white pixels of a shape ImageMagick draws without anti-aliasing.
std::vector<bool> DrawnByImageMagick(const std::string& draw, int width = MaskWidth, int height = MaskHeight) {
    TScratchFolder folder;
    const std::string path = folder.Path("shape.ppm");
    const TCommandResult result = RunTool("convert -size " + std::to_string(width) + "x" + std::to_string(height) +
                                          " -depth 8 xc:black +antialias -fill white -stroke none -draw " + Quoted(draw) +
                                          " " + Quoted(path));
    EXPECT_EQ(result.status, 0) << result.output;
    const TRgbImage image = ReadPpm(path);
    std::vector<bool> mask(size_t(width) * height);
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) mask[size_t(y) * width + x] = image.At(x, y)[0] > 127;
    return mask;
}

// Equal, except at pixels on the reference's outline (both values within one pixel).
::testing::AssertionResult SameUpToOutline(const TKVMask& mask, const std::vector<bool>& reference, int width,
                                           int height, bool exact = false) {
    int outline = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const bool want = reference[size_t(y) * width + x];
            if (mask.IsPointIn(x, y) == want) continue;
            bool on = false, off = false;
            for (int ny = std::max(y - 1, 0); ny <= std::min(y + 1, height - 1); ++ny)
                for (int nx = std::max(x - 1, 0); nx <= std::min(x + 1, width - 1); ++nx)
                    (reference[size_t(ny) * width + nx] ? on : off) = true;
            if (exact || !(on && off))
                return ::testing::AssertionFailure() << "pixel " << x << "," << y << " differs inside the shape";
            ++outline;
        }
    return ::testing::AssertionSuccess() << outline << " outline pixels differ";
}

TKVSelection Shape(const std::vector<std::vector<TPoint>>& polygons) {
    TKVSelection selection;
    selection.ResetMask(MaskWidth, MaskHeight);
    for (const auto& polygon : polygons) {
        selection.AddBreak();
        for (TPoint p : polygon) selection.AddPoint(p);
    }
    selection.FillMask();
    return selection;
}

}  // namespace

TEST(KVSelection, MasksMatchTheShapesDrawnIndependently) {
    struct Case {
        const char* name;
        std::vector<std::vector<TPoint>> polygons;
        std::string draw;
        bool exact;
    } cases[] = {
        // A rectangle covers its left and top columns, not its right and bottom edges.
        {"rectangle", {{{5, 4}, {40, 4}, {40, 30}, {5, 30}}}, "rectangle 5,4 39,29", true},
        {"two rectangles", {{{0, 0}, {10, 0}, {10, 10}, {0, 10}}, {{50, 30}, {64, 30}, {64, 48}, {50, 48}}},
         "rectangle 0,0 9,9 rectangle 50,30 63,47", true},
        {"triangle", {{{4, 2}, {60, 20}, {10, 44}}}, "polygon 4,2 60,20 10,44", false},
        {"ellipse", {KVEllipsePoints(30, 22, 20, 14, MaskWidth, MaskHeight)}, "ellipse 30,22 20,14 0,360", false},
        {"circle cut by the border", {KVEllipsePoints(58, 40, 16, 16, MaskWidth, MaskHeight)},
         "ellipse 58,40 16,16 0,360", false},
    };
    for (const Case& c : cases) {
        const TKVSelection selection = Shape(c.polygons);
        EXPECT_TRUE(selection.Present) << c.name;
        EXPECT_TRUE(SameUpToOutline(selection.Mask, DrawnByImageMagick(c.draw), MaskWidth, MaskHeight, c.exact))
            << c.name;
    }
}

TEST(KVSelection, AnEllipseHasTwoPiTimesItsSmallerRadiusInPointsAndAtLeastFifty) {
    struct Case {
        double rx, ry;
        size_t count;
    } cases[] = {
        {100, 10, 62},  // a flat ellipse: trunc(2 pi 10) = trunc(62.83), not from the radius of 100
        {10, 100, 62},
        {20, 20, 125},  // a circle: trunc(125.66)
        {30, 30, 188},  // trunc(188.50)
        {7, 7, 50},     // trunc(43.98) is below 50
        {8, 8, 50},     // trunc(50.27)
        {9, 30, 56},    // trunc(56.55)
    };
    for (const Case& c : cases)
        EXPECT_EQ(KVEllipsePoints(500, 500, c.rx, c.ry, 1000, 1000).size(), c.count) << c.rx << " x " << c.ry;
}

TEST(KVSelection, AMaskOnlySelectionExtendsOnePastItsMaskBox) {
    TKVSelection selection;
    selection.ResetMask(MaskWidth, MaskHeight);
    selection.Mask.SetPixel(10, 5, 1);
    selection.Mask.SetPixel(20, 9, 1);
    EXPECT_EQ(selection.Extent(), (TRect{10, 5, 21, 10}));
    // A polygon's extent is its box as it stands.
    selection.AddRectangle({2, 3, 30, 40});
    EXPECT_EQ(selection.Extent(), (TRect{2, 3, 30, 40}));
}

TEST(KVSelection, TheBorderWaitsFiveTimesItsDrawingAndAtLeast210Milliseconds) {
    struct Case {
        int drawing, interval;
    } cases[] = {{0, 210}, {42, 210}, {43, 215}, {100, 500}, {1000, 5000}};
    for (const Case& c : cases) EXPECT_EQ(KVBorderTimerInterval(c.drawing), c.interval) << c.drawing;
}

TEST(KVSelection, PolygonsOfFewerThanThreePointsSelectNothing) {
    const TKVSelection empty = Shape({{{3, 3}}, {{5, 5}, {40, 40}}});
    EXPECT_TRUE(empty.Mask.IsEmpty());
    EXPECT_FALSE(empty.Present);
    // Beside a proper polygon they add nothing either.
    const TKVSelection one = Shape({{{5, 5}, {40, 40}}, {{0, 0}, {4, 0}, {4, 4}, {0, 4}}});
    EXPECT_EQ(one.Mask.X1, 0);
    EXPECT_EQ(one.Mask.X2, 3);
    EXPECT_EQ(one.Mask.Y2, 3);
}

TEST(KVSelection, ThePolygonStopsAtItsBound) {
    TKVSelection selection;
    for (int i = 0; i < TKVSelection::MaxPoints; ++i) selection.AddPoint({i & 1023, i >> 10});
    EXPECT_FALSE(selection.AddPoint({1, 1}));
    selection.AddBreak();
    EXPECT_EQ(selection.Count(), TKVSelection::MaxPoints);
    EXPECT_EQ(selection.Box(), (TRect{0, 0, 1023, (TKVSelection::MaxPoints - 1) >> 10}));
}

namespace {

std::string Saved(const TKVSelection& selection) {
    TMemoryStream stream;
    selection.Save(stream);
    return std::string(stream.Bytes().begin(), stream.Bytes().end());
}

bool LoadInto(TKVSelection& selection, const std::string& bytes) {
    TMemoryStream stream;
    stream.WriteBuffer(bytes.data(), int64_t(bytes.size()));
    stream.SetPosition(0);
    return selection.Load(stream);
}

void PutInt(std::string& bytes, size_t offset, int value) {
    for (int i = 0; i < 4; ++i) bytes[offset + size_t(i)] = char(uint32_t(value) >> (8 * i));
}

}  // namespace

TEST(KVSelection, TheStreamFormRoundTrips) {
    TKVSelection selection = Shape({{{5, 4}, {40, 4}, {40, 30}, {5, 30}}, {{30, 20}, {60, 25}, {45, 44}}});
    const std::string bytes = Saved(selection);
    // Fields: 3 ints, 8 points, the polygon box, a flag, bits, the mask box, a flag, the rows.
    const int64_t rowLen = 8;  // 64 pixels of one bit
    EXPECT_EQ(bytes.size(), size_t(12 + 8 * 8 + 16 + 1 + 4 + 16 + 1 + rowLen * MaskHeight));
    int width;
    std::memcpy(&width, bytes.data(), 4);
    EXPECT_EQ(width, MaskWidth);

    TKVSelection loaded;
    ASSERT_TRUE(LoadInto(loaded, bytes));
    EXPECT_EQ(loaded.Points(), selection.Points());
    EXPECT_EQ(loaded.Box(), selection.Box());
    EXPECT_TRUE(loaded.Present);
    EXPECT_EQ((TRect{loaded.Mask.X1, loaded.Mask.Y1, loaded.Mask.X2, loaded.Mask.Y2}),
              (TRect{selection.Mask.X1, selection.Mask.Y1, selection.Mask.X2, selection.Mask.Y2}));
    for (int y = 0; y < MaskHeight; ++y)
        for (int x = 0; x < MaskWidth; ++x)
            ASSERT_EQ(loaded.Mask.IsPointIn(x, y), selection.Mask.IsPointIn(x, y)) << x << "," << y;
    EXPECT_EQ(Saved(loaded), bytes);

    // A view that never had a picture saves an empty mask, and loads it back.
    TKVSelection none;
    TKVSelection reloaded = selection;
    ASSERT_TRUE(LoadInto(reloaded, Saved(none)));
    EXPECT_EQ(reloaded.Count(), 0);
    EXPECT_FALSE(reloaded.Present);
}

TEST(KVSelection, ABadStreamLoadsNothing) {
    const TKVSelection original = Shape({{{5, 4}, {40, 4}, {40, 30}, {5, 30}}});
    const std::string good = Saved(original);
    const size_t afterPoints = 12 + 4 * 8;
    struct Case {
        const char* name;
        std::function<void(std::string&)> spoil;
    } cases[] = {
        {"count beyond the stream", [](std::string& b) { PutInt(b, 8, 1000); }},
        {"huge count", [](std::string& b) { PutInt(b, 8, 0x7FFFFFFF); }},
        {"negative count", [](std::string& b) { PutInt(b, 8, -4); }},
        {"mask larger than its rows", [](std::string& b) { PutInt(b, 4, MaskHeight + 1); }},
        {"huge mask", [](std::string& b) { PutInt(b, 0, 0x40000000), PutInt(b, 4, 0x40000000); }},
        {"negative width", [](std::string& b) { PutInt(b, 0, -64); }},
        {"three bits per pixel", [afterPoints](std::string& b) { PutInt(b, afterPoints + 17, 3); }},
        {"mask box outside the mask", [afterPoints](std::string& b) { PutInt(b, afterPoints + 29, MaskWidth); }},
        {"point beyond any picture", [](std::string& b) { PutInt(b, 12, 0x7FFFFFF0); }},
    };
    const auto unchanged = [&](const TKVSelection& s) { return Saved(s) == Saved(original); };
    for (const Case& c : cases) {
        std::string bytes = good;
        c.spoil(bytes);
        TKVSelection target = original;
        EXPECT_FALSE(LoadInto(target, bytes)) << c.name;
        EXPECT_TRUE(unchanged(target)) << c.name;
    }
    for (size_t length = 0; length < good.size(); length += length < 120 ? 1 : 37) {
        TKVSelection target = original;
        EXPECT_FALSE(LoadInto(target, good.substr(0, length))) << "cut at " << length;
        EXPECT_TRUE(unchanged(target)) << "cut at " << length;
    }
}

TEST(KVSelection, AStreamWhoseMaskHasOneSideOnlyLoadsNothing) {
    // An empty mask of 64 x 48 saves an empty mask box, so only the sizes tell the stream is wrong.
    TKVSelection original;
    original.ResetMask(MaskWidth, MaskHeight);
    const std::string good = Saved(original);
    struct Case {
        const char* name;
        int width, height;
    } cases[] = {
        {"width 0 with a height", 0, MaskHeight},
        {"height 0 with a width", MaskWidth, 0},
        {"width 0 with a height near 2^31", 0, 0x7FFFFFFF},
    };
    for (const Case& c : cases) {
        std::string bytes = good;
        PutInt(bytes, 0, c.width);
        PutInt(bytes, 4, c.height);
        TKVSelection target = original;
        EXPECT_FALSE(LoadInto(target, bytes)) << c.name;
        EXPECT_EQ(Saved(target), good) << c.name;
    }
}

TEST(KVSelection, AStreamLoadsOnlyAMaskThePictureLimitsAllow) {
    const TKVSelection original = Shape({{{5, 4}, {40, 4}, {40, 30}, {5, 30}}});
    const std::string bytes = Saved(original);
    TPictureLimits limits;
    limits.maxSide = MaskWidth - 1;
    {
        const TPictureLimitsOverride narrow(limits);
        TKVSelection target;
        EXPECT_FALSE(LoadInto(target, bytes)) << "a side beyond the limit";
    }
    limits.maxSide = MaskWidth;
    limits.maxPixels = MaskWidth * MaskHeight - 1;
    {
        const TPictureLimitsOverride few(limits);
        TKVSelection target;
        EXPECT_FALSE(LoadInto(target, bytes)) << "more pixels than the limit";
    }
    limits.maxPixels = MaskWidth * MaskHeight;
    const TPictureLimitsOverride exact(limits);
    TKVSelection target;
    EXPECT_TRUE(LoadInto(target, bytes));
    EXPECT_EQ(Saved(target), bytes);
}
