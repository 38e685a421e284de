#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVMask.h"
#include "imaging/core/KVViewServices.h"
#include "imaging/proc/KestovaProc.h"

namespace {

// A view that keeps its image in a TKVBitmap (or, with legacy set, a TBitmap) and has a selection.
class FakeView : public TKVView, public TKVSelectionView {
public:
    void SetDpiX(int) override {}
    void SetDpiY(int) override {}
    TBitmap* GetTBitmap() override { return legacy; }
    TKVBitmap* GetKVBitmap() override { return legacy ? nullptr : &image; }
    void Update() override { ++updates; }
    void DoImageChange() override { ++changes; }

    TKVMask* SelectionMask() override { return &mask; }
    bool HasSelection() override { return selected; }
    const TPoint* GetPolySelPoints() override { return points.data(); }
    int GetPolySelCount() override { return int(points.size()); }
    void SaveSelectionToStream(TStream& stream) override {
        const int32_t box[4] = {mask.X1, mask.Y1, mask.X2, mask.Y2};
        stream.Write(box, sizeof box);
    }
    bool LoadSelectionFromStream(TStream& stream) override {
        int32_t box[4];
        stream.Read(box, sizeof box);
        restored = {box[0], box[1], box[2], box[3]};
        return true;
    }

    TKVBitmap image;
    TBitmap* legacy = nullptr;
    TKVMask mask;
    bool selected = false;
    std::vector<TPoint> points;
    std::vector<int> restored;
    int updates = 0, changes = 0;
};

void FillGray(TKVBitmap& bitmap, int level) { bitmap.Fill(RGB(level, level, level)); }
int Level(TKVBitmap& bitmap) { return bitmap.GetPixelRGB(1, 1).g; }

}  // namespace

TEST(KestovaProc, UndoAndRedoSequences) {
    enum Action { Fill, SaveUndo, SaveRedo, UndoAt, RedoAt, DiscardRedo, Limit };
    struct Step {
        Action action;
        int value;
        int level, undoCount, redoCount;  // expected afterwards; -1 not checked
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
    } cases[] = {
        {"the default limit keeps one record, applied again and again",
         {{Fill, 10, 10, 0, 0}, {SaveUndo, 1, 10, 1, 0}, {Fill, 20, -1, -1, -1}, {SaveUndo, 1, 20, 1, 0},
          {Fill, 30, -1, -1, -1}, {UndoAt, 0, 20, 1, 0}, {Fill, 40, -1, -1, -1}, {UndoAt, 0, 20, 1, 0},
          {UndoAt, 1, 20, 1, 0}}},
        {"a limit of three drops the oldest; indexes count back from the newest",
         {{Limit, 3, -1, -1, -1}, {Fill, 10, -1, -1, -1}, {SaveUndo, 1, -1, 1, -1}, {Fill, 20, -1, -1, -1},
          {SaveUndo, 1, -1, 2, -1}, {Fill, 30, -1, -1, -1}, {SaveUndo, 1, -1, 3, -1}, {Fill, 40, -1, -1, -1},
          {SaveUndo, 1, -1, 3, -1}, {UndoAt, 2, 20, 3, 0}, {UndoAt, 0, 40, 3, 0}, {UndoAt, 3, 40, 3, 0},
          {UndoAt, -1, 40, 3, 0}}},
        {"redo records are pushed, applied and discarded by the caller",
         {{Limit, 2, -1, -1, -1}, {Fill, 10, -1, -1, -1}, {SaveUndo, 1, -1, 1, 0}, {Fill, 20, -1, -1, -1},
          {SaveRedo, 1, -1, 1, 1}, {UndoAt, 0, 10, 1, 1}, {RedoAt, 0, 20, 1, 1}, {DiscardRedo, 0, 20, 1, 0},
          {Fill, 30, -1, -1, -1}, {RedoAt, 0, 30, 1, 0}, {DiscardRedo, 0, 30, 1, 0}}},
        {"limits below one store one",
         {{Limit, 0, -1, -1, -1}, {Fill, 10, -1, -1, -1}, {SaveUndo, 1, -1, 1, -1}, {Fill, 20, -1, -1, -1},
          {SaveUndo, 1, -1, 1, -1}, {Limit, -5, -1, -1, -1}, {SaveUndo, 1, -1, 1, -1}}},
        {"a selection record without a view and an unknown kind store nothing",
         {{SaveUndo, 2, -1, 0, 0}, {SaveUndo, 7, -1, 0, 0}, {SaveRedo, 2, -1, 0, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TKestovaProc proc;
        proc.WorkBitmap().Allocate(3, 3, kv24RGB);
        for (size_t i = 0; i < c.steps.size(); ++i) {
            const Step& s = c.steps[i];
            SCOPED_TRACE(i);
            switch (s.action) {
            case Fill: FillGray(proc.WorkBitmap(), s.value); break;
            case SaveUndo: proc.SaveUndo(s.value); break;
            case SaveRedo: proc.SaveRedo(s.value); break;
            case UndoAt: proc.UndoAt(s.value); break;
            case RedoAt: proc.RedoAt(s.value); break;
            case DiscardRedo: proc.DiscardLastRedo(); break;
            case Limit:
                proc.SetUndoLimit(s.value);
                EXPECT_EQ(proc.UndoLimit(), std::max(s.value, 1));
                break;
            }
            if (s.level >= 0) {
                EXPECT_EQ(Level(proc.WorkBitmap()), s.level);
            }
            if (s.undoCount >= 0) {
                EXPECT_EQ(proc.UndoCount(), s.undoCount);
            }
            if (s.redoCount >= 0) {
                EXPECT_EQ(proc.RedoCount(), s.redoCount);
            }
        }
    }
}

TEST(KestovaProc, CaptionsAndTinyImages) {
    TKestovaProc proc;
    proc.SetUndoLimit(10);
    TKVBitmap& work = proc.WorkBitmap();
    work.Allocate(40, 20, kv24RGB);
    FillGray(work, 90);
    proc.ConvertToGray();
    proc.ConvertTo(16, false);
    TKVRGB palette[16];
    proc.ConvertToPalette(16, palette, false);
    proc.Resample(-1, 30, rfNone);
    proc.SaveUndoCaptioned("mine", kvUndoImage);
    std::vector<std::string> captions;
    for (int i = 0; i < proc.UndoCount(); ++i) captions.push_back(proc.UndoCaption(i));
    EXPECT_EQ(captions, (std::vector<std::string>{"ConvertToGray", "ConvertTo 16", "ConvertToPalette",
                                                  "Resample -1,30", "mine"}));

    TKestovaProc thin;
    thin.WorkBitmap().Allocate(5, 1, kv24RGB);
    thin.ConvertToGray();
    thin.SaveUndoCaptioned("x", kvUndoImage);
    thin.SaveUndo(kvUndoImage);
    EXPECT_EQ(thin.UndoCount(), 0);
}

TEST(KestovaProc, ResampleSizes) {
    struct Case {
        int width, height, expectedWidth, expectedHeight;
    } cases[] = {{-1, 300, 600, 300}, {-1, -1, 400, 200}, {0, 50, 400, 50}, {-7, 0, 7, 200},
                 {100, -1, 100, 50}, {-1, 1, 2, 1},     {1, -1, 1, 1},     {0, 0, 400, 200}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "," + std::to_string(c.height));
        TKestovaProc proc;
        proc.WorkBitmap().Allocate(400, 200, kv24RGB);
        proc.Resample(c.width, c.height, rfTriangle);
        EXPECT_EQ(proc.WorkBitmap().GetWidth(), c.expectedWidth);
        EXPECT_EQ(proc.WorkBitmap().GetHeight(), c.expectedHeight);
        EXPECT_EQ(proc.WorkBitmap().GetPixelFormat(), kv24RGB);
        EXPECT_EQ(proc.UndoCount(), 1);  // stored even when nothing changes
    }
    TKestovaProc proc;
    proc.WorkBitmap().Allocate(400, 200, kv8Gray);
    TKVBitmap dest;
    proc.ResampleTo(dest, 40, -1, rfNone);
    EXPECT_EQ(dest.GetWidth(), 40);
    EXPECT_EQ(dest.GetHeight(), 20);
    EXPECT_EQ(dest.GetPixelFormat(), kv8Gray);
    EXPECT_EQ(proc.WorkBitmap().GetWidth(), 400);
    TKestovaProc empty;
    empty.Resample(10, 10, rfNone);
    EXPECT_TRUE(empty.WorkBitmap().IsEmpty());
    EXPECT_EQ(empty.UndoCount(), 0);
}

TEST(KestovaProc, ColourReduction) {
    TKestovaProc proc;
    TKVBitmap& work = proc.WorkBitmap();
    work.Allocate(8, 8, kv8Gray);
    proc.ConvertTo(2, true);  // not 24-bit: nothing
    EXPECT_EQ(work.GetPixelFormat(), kv8Gray);
    EXPECT_EQ(proc.UndoCount(), 0);

    work.Allocate(8, 8, kv24RGB);
    work.FillRect(0, 0, 3, 7, RGB(255, 255, 255));
    proc.ConvertTo(2000, false);  // too many colours: nothing converted
    EXPECT_EQ(work.GetPixelFormat(), kv24RGB);
    EXPECT_EQ(proc.UndoCount(), 1);
    TKVRGB palette[2] = {{1, 1, 1}, {2, 2, 2}};
    proc.ConvertToPalette(0, palette, true);  // no colours asked: nothing
    EXPECT_EQ(palette[0], (TKVRGB{1, 1, 1}));
    proc.ConvertToPalette(2, palette, true);
    EXPECT_EQ(work.GetPixelFormat(), kv1Bit);
    EXPECT_EQ(palette[0], (TKVRGB{0, 0, 0}));
    EXPECT_EQ(palette[1], (TKVRGB{255, 255, 255}));
    EXPECT_EQ(work.GetPixelRGB(0, 0).r, 255);
    EXPECT_EQ(work.GetPixelRGB(7, 0).r, 0);
    proc.Undo();
    EXPECT_EQ(work.GetPixelFormat(), kv24RGB);

    work.Allocate(16, 16, kv24RGB);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            reinterpret_cast<TKVRGB*>(work.GetScanline(y))[x] = {uint8_t(x * 16), uint8_t(y * 16), 77};
    proc.ConvertTo(8, false);
    std::set<uint32_t> colours;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            const TKVRGB p = work.GetPixelRGB(x, y);
            colours.insert(uint32_t(p.r) << 16 | p.g << 8 | p.b);
        }
    EXPECT_EQ(work.GetPixelFormat(), kv24RGB);
    EXPECT_LE(colours.size(), 8u);
}

TEST(KestovaProc, SelectionLimitsTheOperationAndBlendsAnEightBitMask) {
    FakeView view;
    view.image.Allocate(6, 4, kv24RGB);
    view.image.Fill(RGB(255, 0, 0));
    view.mask.AllocateBits(6, 4, 8);
    view.mask.SetPixel(1, 1, 255);
    view.mask.SetPixel(2, 1, 128);
    view.mask.SetPixel(3, 2, 255);
    view.selected = true;
    TKestovaProc proc;
    proc.SetAttachedKestova(&view);
    EXPECT_EQ(&proc.WorkBitmap(), &view.image);
    std::vector<int> progress;
    proc.OnProgress = [&](TObject* sender, int per) {
        EXPECT_EQ(sender, &proc);
        progress.push_back(per);
    };
    proc.ConvertToGray();
    const TKVRGB gray{53, 53, 53};  // 21 % of 255
    EXPECT_EQ(view.image.GetPixelRGB(1, 1), gray);
    EXPECT_EQ(view.image.GetPixelRGB(3, 2), gray);
    const TKVRGB half = view.image.GetPixelRGB(2, 1);  // half way from red to its gray
    EXPECT_NEAR(half.r, (255 + 53) / 2, 1);
    EXPECT_NEAR(half.g, 53 / 2, 1);
    EXPECT_EQ(view.image.GetPixelRGB(3, 1), (TKVRGB{0, 0, 255}));  // in the box, not selected
    EXPECT_EQ(view.image.GetPixelRGB(0, 0), (TKVRGB{0, 0, 255}));
    EXPECT_FALSE(progress.empty());
    EXPECT_EQ(view.updates, 1);
    EXPECT_EQ(view.changes, 1);
    proc.Undo();
    EXPECT_EQ(view.image.GetPixelRGB(1, 1), (TKVRGB{0, 0, 255}));

    // The selection itself as an undo record.
    proc.SaveUndoCaptioned("selection", kvUndoSelection);
    EXPECT_EQ(proc.UndoCaption(proc.UndoCount() - 1), "selection");
    proc.Undo();
    EXPECT_EQ(view.restored, (std::vector<int>{1, 1, 3, 2}));

    TKestovaProc::TWorkRegion region;
    EXPECT_TRUE(proc.GetWorkRegion(region));
    EXPECT_EQ(std::vector<int>({region.X1, region.Y1, region.X2, region.Y2}), (std::vector<int>{1, 1, 4, 3}));
    view.selected = false;
    EXPECT_FALSE(proc.GetWorkRegion(region));
    EXPECT_EQ(region.X2, 6);

    proc.SetBackground(clRed);
    EXPECT_EQ(view.Background(), clRed);
    proc.SetAttachedKestova(nullptr);
    EXPECT_EQ(proc.Background(), 0);
    EXPECT_NE(&proc.WorkBitmap(), &view.image);
}

TEST(KestovaProc, FollowsTheViewsBitmapAndOutlivesTheView) {
    TKestovaProc proc;
    {
        FakeView view;
        view.image.Allocate(4, 4, kv24RGB);
        proc.SetAttachedKestova(&view);
        TBitmap legacy;
        legacy.SetPixelFormat(TPixelFormat::pf24bit);
        legacy.SetSize(5, 3);
        view.legacy = &legacy;
        view.CallChangeHandlers();  // the view now shows a class-library bitmap
        EXPECT_EQ(proc.WorkBitmap().GetWidth(), 5);
        EXPECT_EQ(proc.WorkBitmap().Location(), kvTBitmap);
        view.legacy = nullptr;
        view.CallChangeHandlers();
        EXPECT_EQ(&proc.WorkBitmap(), &view.image);
    }
    // The view and its bitmap are gone; the component works on a bitmap of its own.
    EXPECT_EQ(proc.AttachedKestova(), nullptr);
    proc.WorkBitmap().Allocate(2, 2, kv24RGB);
    proc.ConvertToGray();
    EXPECT_EQ(proc.UndoCount(), 1);
}

TEST(KestovaProc, AttachedClassLibraryBitmap) {
    TBitmap picture;
    picture.SetPixelFormat(TPixelFormat::pf24bit);
    picture.SetSize(3, 2);
    std::memset(picture.ScanLine(0), 0, 9);
    picture.ScanLine(0)[2] = 255;  // red at (0, 0)
    int changes = 0;
    picture.OnChange = [&](TObject*) { ++changes; };
    TKestovaProc proc;
    proc.SetAttachedTImage(&picture);
    EXPECT_EQ(proc.AttachedTImage(), &picture);
    proc.ConvertToGray();
    EXPECT_EQ(picture.ScanLine(0)[0], 53);
    EXPECT_EQ(picture.ScanLine(0)[2], 53);
    EXPECT_GE(changes, 1);
    // A picture that changed size behind the component's back is taken as it is now.
    picture.SetSize(4, 4);
    proc.SaveUndo(kvUndoImage);
    proc.Resample(2, 0, rfNone);
    EXPECT_EQ(picture.Width(), 2);
    EXPECT_EQ(picture.Height(), 4);
    proc.SetAttachedTImage(nullptr);
    EXPECT_TRUE(proc.WorkBitmap().IsEmpty());
    EXPECT_EQ(picture.Width(), 2);
}
