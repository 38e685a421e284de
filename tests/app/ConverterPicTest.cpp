#include "app/engine/ConverterPic.h"

#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "app/engine/AppFolders.h"
#include "app/engine/Converter.h"
#include "app/engine/ConverterHost.h"
#include "tzlib/DateTime.h"
#include "tzlib/Errors.h"
#include "tzlib/FileHelpers.h"

namespace {

TEST(ConverterPicTest, KindsFollowTheExtensionInAnyCase) {
    const std::pair<std::string, TPicKind> cases[] = {
        {"a.jpg", pkJpeg},   {"A.JPG", pkJpeg},     {"a.Jpeg", pkJpeg},  {"a.tif", pkTiff},     {"a.TIFF", pkTiff},
        {"a.gif", pkGif},    {"a.avi", pkVideo},    {"a.mpeg", pkVideo}, {"a.mpg", pkVideo},    {"a.WMV", pkVideo},
        {"a.bmp", pkImage},  {"a.png", pkImage},    {"a.ico", pkImage},  {"a.cur", pkImage},    {"a.pxm", pkImage},
        {"a.j2k", pkImage},  {"a.tga", pkImage},    {"a.ppm", pkExtended}, {"a.dib", pkExtended},
        {"a.rgba", pkExtended}, {"a.psd", pkExtended},
    };
    for (const auto& [name, kind] : cases) {
        TPicKind found;
        EXPECT_TRUE(FindPicKind("/pics/" + name, found)) << name;
        EXPECT_EQ(found, kind) << name;
    }
    // Outside the table: read as extended, but not accepted as a source.
    for (const std::string name : {"/pics/a", "/pics/a.pdf", "/pics/a.jpg.txt", "/pics/.jpg"}) {
        TPicKind found = pkJpeg;
        EXPECT_FALSE(FindPicKind(name, found)) << name;
        EXPECT_EQ(found, pkExtended) << name;
    }
}

TEST(ConverterPicTest, ColourModeLabels) {
    const std::pair<int, std::string> cases[] = {
        {0, "Black-and-white"},     {1, "4 colors (2 bits)"},      {2, "8 colors (3 bits)"},
        {3, "16 colors (4 bits)"},  {4, "32 colors (5 bits)"},     {5, "64 colors (6 bits)"},
        {6, "128 colors (7 bits)"}, {7, "256 colors (8 bits)"},    {8, "65536 colors (16 bits)"},
        {9, "True color (24 bits)"}, {10, "True color (48 bits)"}, {11, ""}, {-1, ""},
    };
    for (const auto& [code, label] : cases) EXPECT_EQ(ColorModeText(code), label) << code;
}

class ConverterPicTextTest : public testing::Test {
protected:
    ~ConverterPicTextTest() override { DeleteTempFolder(); }
    TPrivateEnvironment environment;
    THeadlessHost host;
    TConverter converter{host};
};

TEST_F(ConverterPicTextTest, ListTextsAndCaptionsShowFramesOfMultiFrameFilesOnly) {
    TConverterPic& single = *TConverterPic::Add(converter, "/pics/holiday.2024.jpg", -3);
    EXPECT_EQ(single.FrameIndex, 0);
    EXPECT_EQ(converter.Pics.Strings(0), "/pics/holiday.2024.jpg");
    EXPECT_EQ(single.GetCaptionName(), "holiday");
    EXPECT_EQ(single.GetIndex(), 0);

    TConverterPic& frame = *TConverterPic::Add(converter, "/pics/anim.jpg", 4);
    frame.FrameCount = 25;
    frame.SetFrameIndex(4);
    EXPECT_EQ(converter.Pics.Strings(1), "/pics/anim.jpg#5");
    EXPECT_EQ(frame.GetDisplayText(), "/pics/anim.jpg#5");
    EXPECT_EQ(frame.GetCaptionName(), "anim #5");
    frame.SetFrameIndex(9);
    EXPECT_EQ(converter.Pics.Strings(1), "/pics/anim.jpg#10");

    const std::string longName = "/pics/" + std::string(300, 'x') + ".jpg";
    TConverterPic::Add(converter, longName, 0);
    EXPECT_EQ(converter.Pics.Strings(2), longName.substr(0, 255));

    converter.DeletePic(0);
    EXPECT_EQ(frame.GetIndex(), 0);
}

TEST_F(ConverterPicTextTest, AScannedPageInTheTemporaryFolderIsListedAsScanner) {
    CreateTempFolder();
    const std::string scan = TempFolder + "Pic1.jpg";
    WriteFile(scan, "");
    TConverterPic::Add(converter, scan, 0);
    EXPECT_EQ(converter.Pics.Strings(0), "Scanner:Pic1.jpg");
}

TEST_F(ConverterPicTextTest, DateTextIsTheFilesLastWriteDate) {
    TScratchFolder folder;
    const std::string path = folder.Path("dated.jpg");
    WriteFile(path, "");
    ASSERT_EQ(RunTool("touch -m -d '2021-03-04 05:06:07' " + Quoted(path)).status, 0);
    TConverterPic& pic = *TConverterPic::Add(converter, path, 0);
    EXPECT_EQ(pic.GetDateText(), DateToStr(EncodeDate(2021, 3, 4)));
}

TEST_F(ConverterPicTextTest, AFileThatCannotBeOpenedIsNotListed) {
    const TErrorTextFunc previous = ErrorTextCallback;
    ErrorTextCallback = [](uint16_t id) { return std::string(id == 1027 ? "Can't load image" : ""); };
    // Multi-frame kinds are opened at once; there is nothing to open here.
    EXPECT_EQ(MessageOf([&] { TConverterPic::Add(converter, "/no/such/film.avi", 0); }),
              "Can't load image : /no/such/film.avi (Cannot open file \"/no/such/film.avi\". No such file or directory)");
    EXPECT_EQ(converter.Pics.Count(), 0);
    ErrorTextCallback = previous;
}

}  // namespace
