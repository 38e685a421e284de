// The command line: switches, pictures that must exist, "#" in names and frame numbers.
#include "app/engine/CommandLine.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>

#include "TestSupport.h"

namespace {

class CommandLineTest : public ::testing::Test {
protected:
    CommandLineTest() {
        for (const char* name : {"a.jpg", "c.tif", "a b.jpg", "with#hash.jpg", "café photo #1.jpg", "notes.txt", "-x.jpg"})
            WriteFile(scratch_.Path(name), "x");
        std::filesystem::create_directory(scratch_.Path("folder.jpg"));
        std::filesystem::current_path(scratch_.Folder());
    }
    ~CommandLineTest() override { std::filesystem::current_path(saved_); }

    std::string Absolute(const std::string& name) const { return scratch_.Path(name); }

    std::filesystem::path saved_ = std::filesystem::current_path();
    TScratchFolder scratch_;
};

TEST_F(CommandLineTest, SwitchesAndPictures) {
    struct Case {
        std::vector<std::string> arguments;
        bool unattended;
        std::optional<TCommandMode> mode;
        std::vector<TCommandSource> sources;  // names relative to the scratch folder
        std::vector<TRejectedArgument> rejected;
    } cases[] = {
        {{}, false, std::nullopt, {}, {}},
        {{"a.jpg", "/B"}, false, std::nullopt, {}, {}},  // a picture first: the whole line is ignored
        {{"/B", "a.jpg", "notes.txt", "c.tif#3"}, true, TCommandMode::Book, {{"a.jpg", -1}, {"c.tif", 2}},
         {{"notes.txt", "not a kind of picture this program reads"}}},
        {{"/b", "./a.jpg"}, true, TCommandMode::Book, {{"a.jpg", -1}}, {}},
        {{"/S", "/x", "c.tif#10"}, true, TCommandMode::Single, {{"c.tif", 9}}, {}},
        {{"/Q"}, true, TCommandMode::Single, {}, {}},
        {{"/w", "a b.jpg#1"}, false, TCommandMode::Single, {{"a b.jpg", 0}}, {}},
        // A name that exists is the picture, "#" and all; a frame number follows the last "#".
        {{"/S", "with#hash.jpg", "café photo #1.jpg", "café photo #1.jpg#2"}, true, TCommandMode::Single,
         {{"with#hash.jpg", -1}, {"café photo #1.jpg", -1}, {"café photo #1.jpg", 1}}, {}},
        {{"/S", "-x.jpg"}, true, TCommandMode::Single, {{"-x.jpg", -1}}, {}},
        {{"/S", "missing.jpg", "folder.jpg", "with#1.jpg"}, true, TCommandMode::Single, {},
         {{"missing.jpg", "no such file"}, {"folder.jpg", "a folder, not a picture"}, {"with#1.jpg", "no such file"}}},
    };
    for (const Case& c : cases) {
        const TCommandLine line = ParseCommandLine(c.arguments);
        const std::string where = c.arguments.empty() ? "(none)" : c.arguments.back();
        EXPECT_FALSE(line.helpAsked) << where;
        EXPECT_EQ(line.unknownOption, "") << where;
        EXPECT_EQ(line.unattended, c.unattended) << where;
        EXPECT_EQ(line.mode, c.mode) << where;
        std::vector<TCommandSource> expected = c.sources;
        for (TCommandSource& source : expected) source.fileName = Absolute(source.fileName);
        EXPECT_EQ(line.sources, expected) << where;
        EXPECT_EQ(line.rejected, c.rejected) << where;
    }
}

TEST_F(CommandLineTest, PicturesAtInternetAddressesAreTakenAsWritten) {
    const TCommandLine line = ParseCommandLine(
        {"/B", "http://host/a.png", "HTTP://host:8080/b/c.JPG", "http://host/page.html", "https://host/d.png",
         "ftp://host/e.png"});
    EXPECT_EQ(line.sources, (std::vector<TCommandSource>{{"http://host/a.png", -1},
                                                         {"HTTP://host:8080/b/c.JPG", -1},
                                                         {"https://host/d.png", -1}}));
    EXPECT_EQ(line.rejected, (std::vector<TRejectedArgument>{{"http://host/page.html", "not a kind of picture this program reads"},
                                                             {"ftp://host/e.png", "no such file"}}));
}

TEST_F(CommandLineTest, FrameNumbersAreWholeNumbersFromOne) {
    const std::string notFrame = "no such file, and \"%\" is not a frame number from 1";
    const auto reason = [&](const std::string& text) {
        std::string r = notFrame;
        return r.replace(r.find('%'), 1, text);
    };
    struct Case {
        std::string suffix;
        int frameIndex;  // -2: refused
    } cases[] = {
        {"1", 0}, {"+7", -2}, {"2147483647", INT_MAX - 1}, {"2147483648", -2}, {"-2147483648", -2},
        {"0", -2}, {"-1", -2}, {"", -2}, {"x", -2}, {"3x", -2}, {" 3", -2},
    };
    for (const Case& c : cases) {
        const std::string argument = "c.tif#" + c.suffix;
        const TCommandLine line = ParseCommandLine({"/S", argument});
        if (c.frameIndex == -2) {
            EXPECT_TRUE(line.sources.empty()) << argument;
            EXPECT_EQ(line.rejected, (std::vector<TRejectedArgument>{{argument, reason(c.suffix)}})) << argument;
        } else {
            EXPECT_EQ(line.sources, (std::vector<TCommandSource>{{Absolute("c.tif"), c.frameIndex}})) << argument;
        }
    }
}

TEST_F(CommandLineTest, OptionsAskForTheUsage) {
    for (const auto& [option, help] : {std::pair{"--help", true}, std::pair{"-h", true}, std::pair{"--version", false},
                                       std::pair{"-q", false}}) {
        const TCommandLine line = ParseCommandLine({option, "a.jpg"});
        EXPECT_EQ(line.helpAsked, help) << option;
        EXPECT_EQ(line.unknownOption, help ? "" : option) << option;
        EXPECT_FALSE(line.mode) << option;
    }
    // A picture whose name begins with "-" is a picture.
    const TCommandLine picture = ParseCommandLine({"-x.jpg"});
    EXPECT_FALSE(picture.helpAsked);
    EXPECT_EQ(picture.unknownOption, "");
    for (const char* part : {"/S", "/B", "/W", "#FRAME", "Exit status", "standard input"})
        EXPECT_TRUE(Contains(UsageText(), part)) << part;
}

}  // namespace
