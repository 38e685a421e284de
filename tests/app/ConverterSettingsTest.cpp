#include "app/engine/ConverterSettings.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "AppTestSupport.h"
#include "app/engine/AppFolders.h"
#include "app/engine/Converter.h"
#include "app/engine/ConverterHost.h"
#include "platform/Settings.h"
#include "tzlib/Registry.h"

namespace {

class ConverterSettingsTest : public testing::Test {
protected:
    ConverterSettingsTest() { PicDirectory.clear(); }
    ~ConverterSettingsTest() override { PicDirectory.clear(); }

    // Writes the values as a user or an older version may have left them.
    void Store(const std::vector<std::pair<std::string, std::string>>& values) {
        const std::unique_ptr<TRegistry> key = OpenSettingsKey();
        for (const auto& [name, value] : values) key->WriteString(name, value);
        key->CloseKey();
    }
    std::unique_ptr<TConverter> Loaded() {
        auto converter = std::make_unique<TConverter>(host);
        LoadSettings(*converter);
        return converter;
    }

    TPrivateEnvironment environment;
    THeadlessHost host;
};

TEST_F(ConverterSettingsTest, AFreshInstallationRunsWithTheDefaultsAndWritesAllEighteenValues) {
    environment.Set("LC_ALL", "C");
    const auto c = Loaded();
    EXPECT_EQ(c->LeftMargin, 100);
    EXPECT_EQ(c->RightMargin, 100);
    EXPECT_EQ(c->TopMargin, 100);
    EXPECT_EQ(c->BottomMargin, 100);
    EXPECT_EQ(c->Mode, cmSingle);
    EXPECT_EQ(c->Orientation, boPortrait);
    EXPECT_EQ(c->PaperSizeName, "A4");
    EXPECT_EQ(FontToText(c->PicNamesFont), "Arial,10,Black");
    EXPECT_EQ(FontToText(c->PicDatesFont), "Arial,10,Black");
    EXPECT_EQ(c->PicNamesPos, cpUnder);
    EXPECT_EQ(c->PicDatesPos, cpHidden);
    EXPECT_EQ(c->PicResolution, 96);
    EXPECT_EQ(c->PicsPerPage, 1);
    EXPECT_TRUE(c->Metric);
    EXPECT_FALSE(c->Overwrite);

    c->PaperSizeName = "[Custom size]";
    SaveSettings(*c);
    TSettingsStore store(AppSettingsFileName());
    EXPECT_EQ(store.ReadString("Software\\Brelvant\\app_tests", "PaperSizeName"), "A4");
    ASSERT_TRUE(AppSettingsFileName().starts_with(environment.Home().Path("config") + "/Brelvant/"));
    const std::vector<std::string> expected = {
        "Author", "BottomMargin", "LeftMargin", "RightMargin", "TopMargin", "ExeFileName",
        "LengthUnit", "Mode", "Orientation", "PaperSizeName", "PicDatesFont", "PicDatesPos",
        "PicDirectory", "PicNamesFont", "PicNamesPos", "PicResolution", "PicsPerPage", "Overwrite"};
    EXPECT_EQ(store.ValueNames("Software\\Brelvant\\app_tests"), expected);
    EXPECT_EQ(store.ReadString("Software\\Brelvant\\app_tests", "LengthUnit"), "Cm");
    EXPECT_EQ(store.ReadString("Software\\Brelvant\\app_tests", "Overwrite"), "0");
}

TEST_F(ConverterSettingsTest, EverySettingSurvivesTheRoundTrip) {
    TScratchFolder folder;
    {
        TConverter c(host);
        c.SetAuthor("Ann Onymous");
        c.BottomMargin = 1;
        c.LeftMargin = 22;
        c.RightMargin = 333;
        c.TopMargin = 4444;
        c.Metric = false;
        c.Mode = cmBook;
        c.Orientation = boLandscape;
        c.PaperSizeName = "Letter";
        c.PicDatesFont.Name = "Liberation Serif";
        c.PicDatesFont.Size = 12;
        c.PicDatesFont.Color = clRed;
        c.PicDatesFont.Style = fsItalic | fsStrikeOut;
        c.PicNamesFont.Color = RGB(1, 2, 3);  // a colour without a name
        c.PicDatesPos = cpAbove;
        c.PicNamesPos = cpHidden;
        c.PicResolution = 300;
        c.PicsPerPage = 12;
        c.Overwrite = true;
        PicDirectory = folder.Folder();
        SaveSettings(c);
    }
    PicDirectory.clear();
    const auto c = Loaded();
    EXPECT_EQ(c->GetAuthor(), "Ann Onymous");
    EXPECT_EQ(c->BottomMargin, 1);
    EXPECT_EQ(c->LeftMargin, 22);
    EXPECT_EQ(c->RightMargin, 333);
    EXPECT_EQ(c->TopMargin, 4444);
    EXPECT_FALSE(c->Metric);
    EXPECT_EQ(c->Mode, cmBook);
    EXPECT_EQ(c->Orientation, boLandscape);
    EXPECT_EQ(c->PaperSizeName, "Letter");
    EXPECT_EQ(FontToText(c->PicDatesFont), "Liberation Serif,12,Red,Italic,StrikeOut");
    EXPECT_EQ(c->PicNamesFont.Color, RGB(1, 2, 3));
    EXPECT_EQ(c->PicDatesPos, cpAbove);
    EXPECT_EQ(c->PicNamesPos, cpHidden);
    EXPECT_EQ(c->PicResolution, 300);
    EXPECT_EQ(c->PicsPerPage, 12);
    EXPECT_TRUE(c->Overwrite);
    EXPECT_EQ(PicDirectory, folder.Folder());
}

struct TReadCase {
    std::string name, text;
    std::function<bool(const TConverter&)> holds;
};

TEST_F(ConverterSettingsTest, ReadsEachValueByItsRulesAndIgnoresBadOnesWithTheirDefaults) {
    const TReadCase cases[] = {
        {"LengthUnit", "cm", [](const TConverter& c) { return c.Metric; }},
        {"LengthUnit", "CM", [](const TConverter& c) { return c.Metric; }},
        {"LengthUnit", "Cm", [](const TConverter& c) { return c.Metric; }},
        {"LengthUnit", "in", [](const TConverter& c) { return !c.Metric; }},
        {"Mode", "BOOK", [](const TConverter& c) { return c.Mode == cmBook; }},
        {"Mode", "Album", [](const TConverter& c) { return c.Mode == cmSingle; }},
        {"Orientation", "landscape", [](const TConverter& c) { return c.Orientation == boLandscape; }},
        {"Overwrite", "true", [](const TConverter& c) { return c.Overwrite; }},
        {"Overwrite", "1", [](const TConverter& c) { return c.Overwrite; }},
        {"Overwrite", "yes", [](const TConverter& c) { return !c.Overwrite; }},
        {"PicsPerPage", "24", [](const TConverter& c) { return c.PicsPerPage == 24; }},
        {"PicsPerPage", "3", [](const TConverter& c) { return c.PicsPerPage == 1; }},
        {"PicsPerPage", "-4", [](const TConverter& c) { return c.PicsPerPage == 1; }},
        {"LeftMargin", "1 234", [](const TConverter& c) { return c.LeftMargin == 1234; }},
        {"LeftMargin", "wide", [](const TConverter& c) { return c.LeftMargin == 100; }},
        {"LeftMargin", "-50", [](const TConverter& c) { return c.LeftMargin == 100; }},
        {"PicNamesPos", "0", [](const TConverter& c) { return c.PicNamesPos == cpAbove; }},
        {"PicNamesPos", "7", [](const TConverter& c) { return c.PicNamesPos == cpUnder; }},
        {"PicResolution", "150", [](const TConverter& c) { return c.PicResolution == 150; }},
        {"PicResolution", "fine", [](const TConverter& c) { return c.PicResolution == 96; }},
        {"PicResolution", "0", [](const TConverter& c) { return c.PicResolution == 96; }},
        {"PaperSizeName", "legal", [](const TConverter& c) { return c.PaperSizeName == "legal"; }},
        {"PaperSizeName", "[Custom size]", [](const TConverter& c) { return c.PaperSizeName == DefaultPaperSizeName(); }},
        {"PaperSizeName", "Custom", [](const TConverter& c) { return c.PaperSizeName == DefaultPaperSizeName(); }},
        {"PicNamesFont", "Times New Roman,12,Red,Italic,Bold",
         [](const TConverter& c) { return FontToText(c.PicNamesFont) == "Times New Roman,12,Red,Bold,Italic"; }},
        {"PicNamesFont", "Courier,10", [](const TConverter& c) { return FontToText(c.PicNamesFont) == "Arial,10,Black"; }},
        {"PicNamesFont", "Courier,big,Red,Bold",
         [](const TConverter& c) { return FontToText(c.PicNamesFont) == "Arial,10,Black"; }},
        {"PicNamesFont", "Courier,9,Sunset,Bold",
         [](const TConverter& c) { return FontToText(c.PicNamesFont) == "Arial,10,Black"; }},
        {"PicNamesFont", "Courier,9,$00FF8000,underline",
         [](const TConverter& c) { return FontToText(c.PicNamesFont) == "Courier,9,$00FF8000,Underline"; }},
        // Sizes from 1 to 72 points, as the font dialog takes them.
        {"PicNamesFont", "Arial,72,Black", [](const TConverter& c) { return c.PicNamesFont.Size == 72; }},
        {"PicNamesFont", "Arial,1,Black", [](const TConverter& c) { return c.PicNamesFont.Size == 1; }},
        {"PicNamesFont", "Arial,73,Black", [](const TConverter& c) { return c.PicNamesFont.Size == 10; }},
        {"PicNamesFont", "Arial,200,Black", [](const TConverter& c) { return c.PicNamesFont.Size == 10; }},
        {"PicDatesFont", "Arial,999999,Black", [](const TConverter& c) { return c.PicDatesFont.Size == 10; }},
        {"PicDatesFont", "Arial,0,Black", [](const TConverter& c) { return c.PicDatesFont.Size == 10; }},
        {"PicDirectory", "/no/such/folder", [](const TConverter&) { return PicDirectory.empty(); }},
    };
    for (const TReadCase& test : cases) {
        std::filesystem::remove(AppSettingsFileName());
        Store({{test.name, test.text}});
        EXPECT_TRUE(test.holds(*Loaded())) << test.name << " = " << test.text;
    }
}

TEST_F(ConverterSettingsTest, AFontThatCannotBeReadDoesNotStopTheValuesAfterIt) {
    Store({{"PicDatesFont", "Arial,ten,Black"}, {"PicNamesPos", "0"}, {"PicResolution", "200"}, {"PicsPerPage", "6"}});
    const auto c = Loaded();
    EXPECT_EQ(FontToText(c->PicDatesFont), "Arial,10,Black");
    EXPECT_EQ(c->PicNamesPos, cpAbove);
    EXPECT_EQ(c->PicResolution, 200);
    EXPECT_EQ(c->PicsPerPage, 6);
}

// The window shows the same box as the unattended run writes: what is kept where, and which
// settings are used; a file read whole gets none.
TEST_F(ConverterSettingsTest, AFileThatMustBeKeptIsNamedInABox) {
    TScriptedPrompterGuard prompter;
    const std::string file = AppSettingsFileName();
    std::filesystem::create_directories(std::filesystem::path(file).parent_path());
    WriteFile(file, "PicsPerPage=6\n");
    EXPECT_EQ(Loaded()->PicsPerPage, 6);
    ASSERT_EQ(prompter->boxes.size(), 1u);
    EXPECT_EQ(prompter->boxes[0].text, "The settings file " + file +
                                           " cannot be used as it is (its values have no [Software\\Brelvant\\app_tests] line "
                                           "before them).\nIt is kept as " + file + ".bad. The settings it holds are used.");
    EXPECT_EQ(prompter->boxes[0].icon, TMsgIcon::Warning);
    SaveSettings(*Loaded());
    EXPECT_EQ(ReadFile(file + ".bad"), "PicsPerPage=6\n");
    EXPECT_EQ(prompter->boxes.size(), 2u);  // the second load still found the file to keep

    const auto c = Loaded();
    EXPECT_EQ(c->PicsPerPage, 6);
    EXPECT_EQ(prompter->boxes.size(), 2u);
}

TEST_F(ConverterSettingsTest, FontTextsOfStylesAndColours) {
    TFont font;
    font.Name = "Arial";
    font.Size = 10;
    font.Color = clBlack;
    font.Style = fsBold;
    EXPECT_EQ(FontToText(font), "Arial,10,Black,Bold");
    font.Style = fsBold | fsItalic | fsUnderline | fsStrikeOut;
    font.Color = clNavy;
    EXPECT_EQ(FontToText(font), "Arial,10,Navy,Bold,Italic,Underline,StrikeOut");
    // A style name in any case, unknown words ignored.
    ReadFontText("Liberation Sans,14,Green,BOLD,Shadow", font);
    EXPECT_EQ(FontToText(font), "Liberation Sans,14,Green,Bold");
    // Fewer than three fields clear the style only.
    ReadFontText("Liberation Sans", font);
    EXPECT_EQ(FontToText(font), "Liberation Sans,14,Green");
}

}  // namespace

namespace {

// A custom paper is kept with its two sides, and read back only when both lie within the page
// limits of 3 to 14,400 points; otherwise the locale's paper is taken.
TEST_F(ConverterSettingsTest, ACustomPaperIsKeptWithItsSides) {
    {
        TConverter c(host);
        c.PaperSizeName = CustomPaperName;
        c.CustomPaperWidth = 1234;
        c.CustomPaperHeight = 50800;
        SaveSettings(c);
    }
    const auto c = Loaded();
    EXPECT_EQ(c->PaperSizeName, CustomPaperName);
    EXPECT_EQ(c->CustomPaperWidth, 1234);
    EXPECT_EQ(c->CustomPaperHeight, 50800);

    const std::pair<std::string, std::string> badSides[] = {
        {"10", "2000"}, {"2000", "50801"}, {"wide", "2000"}, {"", "2000"}, {"-2000", "2000"}};
    for (const auto& [width, height] : badSides) {
        std::filesystem::remove(AppSettingsFileName());
        Store({{"PaperSizeName", CustomPaperName}, {"CustomPaperWidth", width}, {"CustomPaperHeight", height}});
        EXPECT_EQ(Loaded()->PaperSizeName, DefaultPaperSizeName()) << width << " x " << height;
    }
    // The sides of a custom paper no longer chosen are not read.
    std::filesystem::remove(AppSettingsFileName());
    Store({{"PaperSizeName", "A5"}, {"CustomPaperWidth", "1000"}, {"CustomPaperHeight", "1000"}});
    EXPECT_EQ(Loaded()->PaperSizeName, "A5");
}

}  // namespace
