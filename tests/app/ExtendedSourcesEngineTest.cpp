// The engine turning pictures of the extended library's formats into one book.
#include <gtest/gtest.h>

#include <regex>

#include "AppTestSupport.h"
#include "../tzpicformats/PSPBuilder.h"
#include "app/engine/AppFolders.h"
#include "app/engine/Converter.h"
#include "app/engine/ConverterHost.h"
#include "app/engine/ConverterPic.h"
#include "app/engine/MessageCatalogue.h"
#include "tzlib/Errors.h"
#include "tzlib/FileHelpers.h"

namespace {

// An engine whose books go into a scratch folder, with the program's message texts.
class ExtendedSourcesEngine : public ::testing::Test {
protected:
    ExtendedSourcesEngine() {
        ErrorTextCallback = GetCatalogueText;
        PicDirectory = pics.Folder();
    }
    ~ExtendedSourcesEngine() override {
        ErrorTextCallback = previousTexts_;
        PicDirectory.clear();
    }

    TPrivateEnvironment environment;
    TScriptedPrompterGuard prompter;
    TScratchFolder pics;
    THeadlessHost host;
    TConverter converter{host};

private:
    const TErrorTextFunc previousTexts_ = ErrorTextCallback;
};

TEST_F(ExtendedSourcesEngine, OneFileOfEachExtensionBecomesAPageImage) {
    // Each file under the extension the engine knows, written by ImageMagick in that format.
    const std::pair<std::string, std::string> files[] = {
        {"a.ppm", "ppm:"}, {"b.pgm", "pgm:"}, {"c.pbm", "pbm:"}, {"d.win", "tga:"}, {"e.vst", "tga:"},
        {"f.vda", "tga:"}, {"g.icb", "tga:"}, {"h.dib", "bmp3:"}, {"i.rle", "bmp3:"},
        {"q.pcc", "pcx:"}, {"r.scr", "pcx:"}, {"s.pcd", "pcd:"}, {"z.fax", "tif:"}, {"t.psd", "psd:"}, {"u.pdd", "psd:"}, {"l.sgi", "sgi:"}, {"m.rgb", "sgi:"}, {"n.rgba", "sgi:"}, {"o.bw", "sgi:"},
    };
    for (const auto& [name, format] : files) {
        const std::string path = pics.Path(name);
        ASSERT_EQ(RunTool("convert -size 30x20 gradient:red-blue " + Quoted(format + path)).status, 0);
        TConverterPic::Add(converter, path, -1);
    }
    // Autodesk cels and pictures: 30 x 20 pixels over a gray palette of 6-bit entries.
    std::string cel(32, '\0');
    cel[0] = '\x19';
    cel[1] = '\x91';
    cel[2] = 30;
    cel[4] = 20;
    cel[10] = 8;
    for (int i = 0; i < 256; ++i) cel += std::string(3, char(i / 4));
    for (int i = 0; i < 600; ++i) cel += char(i);
    for (const std::string name : {"j.cel", "k.pic"}) {
        WriteFile(pics.Path(name), cel);
        TConverterPic::Add(converter, pics.Path(name), -1);
    }
    // A Dr. Halo cut file of 2 x 1: one run.
    WriteFile(pics.Path("v.cut"), std::string("\x02\0\x01\0\0\0\x03\0\x82\x40\0", 11));
    TConverterPic::Add(converter, pics.Path("v.cut"), -1);
    // RLA files of 1 x 1: one red pixel, each channel one run.
    std::string rla(740, '\0');
    rla[26] = '\xFF';
    rla[27] = '\xFE';
    rla[21] = 3;
    rla.replace(580, 3, "rgb");
    rla[659] = 8;
    rla += std::string("\0\0\x02\xE8", 4) + std::string("\0\x02\0\xFF\0\x02\0\0\0\x02\0\0", 12);
    for (const std::string name : {"w.rla", "x.rpf"}) {
        WriteFile(pics.Path(name), rla);
        TConverterPic::Add(converter, pics.Path(name), -1);
    }
    WriteFile(pics.Path("y.psp"), PSPFile(1, 1, 8, 0, {{1, {{0, std::string(1, '\0'), 1}}}}));
    TConverterPic::Add(converter, pics.Path("y.psp"), -1);
    converter.Mode = cmBook;
    converter.PicsPerPage = 4;
    prompter->answers = {idNo};
    converter.MakePdf();

    const std::string book = pics.Path("Book1.pdf");
    ASSERT_TRUE(QpdfChecks(book));
    const std::string list = RunTool("pdfimages -list " + Quoted(book)).output;
    const size_t pictures = std::size(files) + 6;  // with the cut, cel, pic, rla, rpf and psp files
    EXPECT_EQ(CountOf(list, " image "), pictures) << list;
    EXPECT_TRUE(std::regex_search(RunTool("pdfinfo " + Quoted(book)).output, std::regex("Pages:\\s+" + std::to_string((pictures + 3) / 4))));
}

// A Dr. Halo palette file only colours the cut file of its name; alone it is no picture.
TEST_F(ExtendedSourcesEngine, ALonePaletteFileIsNoPicture) {
    std::string palette(512, '\0');
    palette.replace(0, 2, "AH");
    palette[12] = 15;
    palette.replace(20, 8, "Dr. Halo");
    const std::string path = pics.Path("lone.pal");
    WriteFile(path, palette);
    TConverterPic::Add(converter, path, -1);
    converter.Mode = cmBook;
    prompter->answers = {idNo};
    EXPECT_EQ(MessageOf([&] { converter.MakePdf(); }),
              "Can't load image : " + path + " (not a picture format the program reads)\r\nNo book was written: " +
                  pics.Path("Book1.pdf"));
    EXPECT_EQ(pics.Files(), std::vector<std::string>{"lone.pal"});
}

}  // namespace
