#include <gtest/gtest.h>

#include <QGuiApplication>

#include "../platform/qt/MetafileFixtures.h"
#include "PictureFixtures.h"
#include "QtTestApplication.h"
#include "imaging/io/KVFormatDetect.h"
#include "platform/qt/Metafile.h"
#include "platform/qt/QtCanvas.h"

namespace {

class KVMetafileImport : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureTestApplication<QGuiApplication>();
        InstallQtCanvas();
        InstallQtGraphics();
    }
};

}  // namespace

// Each fixture paints its left two fifths red and its right two fifths green and leaves the
// middle unpainted.
TEST_F(KVMetafileImport, DrawsAtTheAskedSizeWithUnpaintedPixelsTransparent) {
    TScratchFolder folder;
    WriteFile(folder.Path("a.wmf"), metafile_fixtures::Wmf(1000, 500, 1000));  // 96 x 48 pixels
    WriteFile(folder.Path("b.emf"), metafile_fixtures::Emf(100, 40));
    for (const auto& [name, type] : {std::pair{"a.wmf", kvftWMF}, std::pair{"b.emf", kvftEMF}}) {
        const std::string path = folder.Path(name);
        EXPECT_EQ(DetectFileFormat(path, true), type) << name;
        TKestovaIO io;
        int finished = 0;
        io.OnFinishWork = [&finished](TObject*) { ++finished; };
        io.SetBackground(clBlue);
        ASSERT_TRUE(LoadsInto(io, path)) << name;
        EXPECT_EQ(finished, 1);
        EXPECT_EQ(io.Params().FileType, type);
        TKVBitmap& b = io.WorkBitmap();
        const int w = b.GetWidth(), h = b.GetHeight();
        ASSERT_GT(w, 10) << name;
        EXPECT_EQ(b.GetPixelRGB(w / 10, h / 2), (TKVRGB{0, 0, 255})) << name;
        EXPECT_EQ(b.GetPixelRGB(w - w / 10, h / 2), (TKVRGB{0, 255, 0})) << name;
        EXPECT_EQ(b.GetPixelRGB(w / 2, h / 2), (TKVRGB{255, 0, 0})) << name;  // the background
        EXPECT_EQ(b.GetAlpha(w / 2, h / 2), 0) << name;
        EXPECT_EQ(b.GetAlpha(w / 10, h / 2), 255) << name;

        // A width alone: the height follows the proportion.
        io.ImportMetafile(path, 2 * w, -1, false);
        ASSERT_FALSE(io.AbortFlag);
        EXPECT_EQ(b.GetWidth(), 2 * w);
        EXPECT_EQ(b.GetHeight(), 2 * h);
        EXPECT_FALSE(b.GetHasAlphaChannel());
    }
    WriteFile(folder.Path("bad.wmf"), "not a metafile at all, just text");
    TKestovaIO io;
    io.LoadFromFile(folder.Path("bad.wmf"));
    EXPECT_TRUE(io.AbortFlag);
    io.ImportMetafile(folder.Path("a.wmf"), 0, 10, false);
    EXPECT_TRUE(io.AbortFlag);
}
