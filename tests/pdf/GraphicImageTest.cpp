// Icons and metafiles as image XObjects: rasterised on white, metafiles at 600 dpi within about
// four million pixels, placed by graphic and by file, checked with poppler and qpdf.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <algorithm>
#include <sstream>

#include "../platform/qt/MetafileFixtures.h"
#include "PdfTestSupport.h"
#include "QtTestApplication.h"
#include "pdf/PdfKalmora.h"
#include "platform/Canvas.h"
#include "platform/Icon.h"
#include "platform/qt/Metafile.h"
#include "platform/qt/QtCanvas.h"

namespace {

using metafile_fixtures::Emf;
using metafile_fixtures::Wmf;

class PdfGraphics : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureTestApplication<QGuiApplication>();
        InstallQtCanvas();
        InstallQtGraphics();
    }
    // A page of width x height points.
    void Begin(int width, int height) {
        pdf.SetFileName(Path());
        pdf.SetLengthUnit(luPoint);
        pdf.SetPageWidth(width);
        pdf.SetPageHeight(height);
        pdf.SetImageCompressMode(cpZlib);
        pdf.SetSmartStretchDraw(false);
        pdf.BeginDoc();
    }
    std::string End() {
        pdf.EndDoc();
        EXPECT_TRUE(QpdfChecks(Path()));
        return ReadFile(Path());
    }
    std::string Path() const { return scratch.Path("graphics.pdf"); }
    // "width x height" of each image that pdfimages lists.
    std::vector<std::string> ImageSizes() {
        std::vector<std::string> sizes;
        std::istringstream output(RunTool("pdfimages -list " + Quoted(Path())).output);
        std::string line;
        for (int n = 0; std::getline(output, line); ++n) {
            std::istringstream words(line);
            std::string page, num, type, width, height;
            if (n >= 2 && words >> page >> num >> type >> width >> height) sizes.push_back(width + "x" + height);
        }
        return sizes;
    }
    std::string Saved(const std::string& name, const std::string& bytes) {
        WriteFile(scratch.Path(name), bytes);
        return scratch.Path(name);
    }
    template <class Graphic>
    static std::unique_ptr<Graphic> Loaded(const std::string& path) {
        auto graphic = std::make_unique<Graphic>();
        graphic->LoadFromFile(path);
        return graphic;
    }

    TScratchFolder scratch;
    TPdfKalmora pdf;
};

std::vector<int> Rgb(const TRgbImage& image, int x, int y) { return {image.At(x, y), image.At(x, y) + 3}; }

TEST_F(PdfGraphics, IconsAndMetafilesArePlacedByGraphicAndByFile) {
    const std::vector<int> red{255, 0, 0}, green{0, 255, 0}, blue{0, 0, 255}, white{255, 255, 255};
    const std::string icon = scratch.Path("half.ico");
    ASSERT_EQ(RunTool("convert -size 16x16 xc:none -fill blue -draw 'rectangle 0,0 7,15' " + Quoted(icon)).status, 0);
    struct Case {
        std::string file;
        std::unique_ptr<TGraphic> graphic;
        std::string size;
        std::vector<std::pair<int, std::vector<int>>> probes;  // x at mid-height of a 200 x 100 box
    };
    // Known by content whatever the name.
    const std::string wmf = Saved("drawing.wmf", Wmf(100, 50, 96)), emf = Saved("drawing.dat", Emf(100, 50));
    Case cases[] = {
        {icon, Loaded<TIcon>(icon), "16x16", {{40, blue}, {160, white}}},  // the transparent half on white
        {wmf, Loaded<TMetafile>(wmf), "625x312", {{40, red}, {100, white}, {160, green}}},
        {emf, Loaded<TMetafile>(emf), "625x312", {{40, red}, {100, white}, {160, green}}},
    };
    for (const Case& c : cases)
        for (const bool byFile : {false, true}) {
            SCOPED_TRACE(c.file + (byFile ? " by file" : " by graphic"));
            Begin(200, 100);
            if (byFile) pdf.Canvas().StretchDrawFile(Rect(0, 0, 200, 100), c.file);
            else pdf.Canvas().StretchDraw(Rect(0, 0, 200, 100), c.graphic.get());
            End();
            EXPECT_EQ(ImageSizes(), std::vector<std::string>{c.size});
            const TRgbImage render = RenderPage(Path());
            ASSERT_EQ(render.width, 200);
            for (const auto& [x, colour] : c.probes) EXPECT_EQ(Rgb(render, x, 50), colour) << "x " << x;
        }
}

TEST_F(PdfGraphics, MetafilesAreRasterisedAt600DpiWithinAboutFourMillionPixels) {
    struct Case {
        int width, height;  // screen pixels
        std::string size;
    };
    const Case cases[] = {
        {100, 50, "625x312"},      // 600 dpi; 312.5 rounds to even
        {500, 400, "2234x1788"},   // 429 dpi
        {2000, 1500, "2312x1734"}, // 111 dpi
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        TMetafile metafile;
        metafile.LoadFromFile(Saved("size.wmf", Wmf(c.width, c.height, 96)));
        Begin(200, 100);
        pdf.Canvas().StretchDraw(Rect(0, 0, 200, 100), &metafile);
        End();
        EXPECT_EQ(ImageSizes(), std::vector<std::string>{c.size});
        const TRgbImage render = RenderPage(Path());
        EXPECT_EQ(Rgb(render, 40, 50), (std::vector<int>{255, 0, 0}));
    }
}

TEST_F(PdfGraphics, TheSameMetafileIsStoredOnce) {
    TMetafile first, same, other;
    first.LoadFromFile(Saved("first.emf", Emf(100, 50)));
    same.LoadFromFile(Saved("same.emf", Emf(100, 50)));
    other.LoadFromFile(Saved("other.emf", Emf(120, 50)));
    Begin(200, 100);
    pdf.Canvas().StretchDraw(Rect(0, 0, 200, 100), &first);
    pdf.NewPage();
    pdf.Canvas().StretchDraw(Rect(0, 0, 200, 100), &same);
    pdf.Canvas().StretchDraw(Rect(0, 0, 200, 100), &other);
    const std::string file = End();
    EXPECT_EQ(CountOf(file, "/Subtype/Image"), 2u);
    EXPECT_EQ(CountOf(file, "/Im0 Do"), 2u);
    EXPECT_EQ(CountOf(file, "/Im1 Do"), 1u);
}

TEST_F(PdfGraphics, DamagedIconAndMetafileFilesAbandonTheDocument) {
    const std::string icon = scratch.Path("whole.ico");
    ASSERT_EQ(RunTool("convert -size 16x16 xc:red " + Quoted(icon)).status, 0);
    const std::string cut[] = {
        Saved("cut.ico", ReadFile(icon).substr(0, 300)),
        Saved("cut.wmf", Wmf(100, 50, 96).substr(0, 60)),
        Saved("cut.emf", Emf(100, 50).substr(0, 150)),
        Saved("garbage.emf", std::string(200, 'x')),
    };
    for (const std::string& file : cut) {
        Begin(200, 100);
        EXPECT_EQ(MessageOf([&] { pdf.Canvas().StretchDrawFile(Rect(0, 0, 10, 10), file); }),
                  "Image format or compression scheme not supported: " + file);
        EXPECT_FALSE(pdf.Printing());
    }
    const std::vector<std::string> files = scratch.Files();
    EXPECT_EQ(std::count(files.begin(), files.end(), "graphics.pdf"), 0);
}

TEST_F(PdfGraphics, WithoutADrawingEngineSuchPicturesGetTheWritersError) {
    TMetafile metafile;
    metafile.LoadFromFile(Saved("drawing.wmf", Wmf(100, 50, 96)));
    SetCanvasFactory({});
    Begin(200, 100);
    const std::string message = MessageOf([&] { pdf.Canvas().StretchDraw(Rect(0, 0, 10, 10), &metafile); });
    InstallQtCanvas();
    EXPECT_EQ(message, "Image format or compression scheme not supported");
    EXPECT_FALSE(pdf.Printing());
}

}  // namespace
