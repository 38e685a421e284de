// The conversion engine taking chosen frames of a clip as its pictures.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "AppTestSupport.h"
#include "VideoFixtures.h"
#include "app/engine/AppFolders.h"
#include "app/engine/Converter.h"
#include "app/engine/ConverterHost.h"
#include "app/engine/ConverterPic.h"
#include "app/engine/MessageCatalogue.h"
#include "imaging/acquire/MediaProvider.h"
#include "imaging/core/KVBitmap.h"
#include "tzlib/Errors.h"

namespace {

// The mean difference of the samples of an image (red, green, blue) and bgr24 rows of its size.
double MeanDifference(const TRgbImage& image, const std::string& bgr) {
    if (bgr.size() != image.pixels.size()) return 256;
    double sum = 0;
    for (size_t i = 0; i < bgr.size(); ++i) sum += std::abs(int(image.pixels[i]) - uint8_t(bgr[i - i % 3 + 2 - i % 3]));
    return sum / double(bgr.size());
}

TEST(EngineVideoTest, ABookOfChosenFramesOfAClip) {
    InstallMediaProvider();
    const TErrorTextFunc previousTexts = ErrorTextCallback;
    ErrorTextCallback = GetCatalogueText;
    TPrivateEnvironment environment;
    TScriptedPrompterGuard prompter;
    TScratchFolder pics;
    PicDirectory = pics.Folder();
    THeadlessHost host;
    TConverter converter{host};

    const std::string clip = MakeClip(pics, "clip.mpg", 25, 12, "-c:v mpeg1video -q:v 2");
    for (int frame : {0, 4, 9}) TConverterPic::Add(converter, clip, frame);
    EXPECT_EQ(converter.GetPic(0)->FrameCount, 12);
    EXPECT_EQ(converter.GetPic(0)->FrameStep, 25);  // 100 / a delay of 4 hundredths
    EXPECT_EQ(converter.Pics.Strings(1), clip + "#5");
    converter.Mode = cmBook;
    converter.PicsPerPage = 1;
    prompter->answers = {idNo};
    converter.MakePdf();

    const std::string book = pics.Path("Book1.pdf");
    ASSERT_TRUE(QpdfChecks(book));
    const std::string outlines = RunTool("qpdf --json --json-key=outlines " + Quoted(book)).output;
    EXPECT_LT(outlines.find("\"clip #1\""), outlines.find("\"clip #5\"")) << outlines;
    EXPECT_LT(outlines.find("\"clip #5\""), outlines.find("\"clip #10\"")) << outlines;
    // Each page shows its own frame as ffmpeg decodes it, through the writer's JPEG compression:
    // closer to it than to the other frames.
    ASSERT_EQ(RunTool("pdfimages -png " + Quoted(book) + " " + Quoted(pics.Path("page"))).status, 0);
    const int frames[3] = {0, 4, 9};
    for (int page = 0; page < 3; ++page) {
        SCOPED_TRACE(page);
        const TRgbImage image = ReadWithImageMagick(pics.Path("page-00" + std::to_string(page) + ".png"));
        ASSERT_EQ(image.width, 64);
        double distances[3];
        for (int other = 0; other < 3; ++other) distances[other] = MeanDifference(image, FfmpegFrame(clip, frames[other]));
        EXPECT_LT(distances[page], 16);
        for (int other = 0; other < 3; ++other) {
            if (other != page) {
                EXPECT_GT(distances[other], distances[page] + 1) << other;
            }
        }
    }
    PicDirectory.clear();
    ErrorTextCallback = previousTexts;
}

}  // namespace

namespace {

TEST(CommandLineVideoTest, FramesNamedWithANumberSignMakeABook) {
    TScratchFolder folder;
    const std::string clip = MakeClip(folder, "clip.wmv", 25, 12, "-c:v wmv2");
    std::string arguments = "/B";
    for (const char* frame : {"#1", "#5", "#10"}) arguments += " " + Quoted(clip + frame);
    // The save dialog's proposal is taken, then the book is not opened.
    const TCommandResult run = RunTool("printf '\\nn\\n' | env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM XDG_CONFIG_HOME=" +
                                       Quoted(folder.Path("config")) + " " + Quoted(MORDALE_EXECUTABLE) + " " + arguments);
    ASSERT_EQ(run.status, 0) << run.output;
    const std::string book = folder.Path("Book1.pdf");
    ASSERT_TRUE(QpdfChecks(book));
    const std::string outlines = RunTool("qpdf --json --json-key=outlines " + Quoted(book)).output;
    EXPECT_LT(outlines.find("\"clip #1\""), outlines.find("\"clip #5\"")) << outlines;
    EXPECT_LT(outlines.find("\"clip #5\""), outlines.find("\"clip #10\"")) << outlines;
    EXPECT_EQ(CountOf(RunTool("pdfimages -list " + Quoted(book)).output, " image "), 3u);
}

// Each frame named on the command line opens the clip as it is added; the book then reads all of
// them from one more open, counted from the system calls of the run.
TEST(CommandLineVideoTest, ABookReadsAllFramesOfAClipFromOneOpen) {
    TScratchFolder folder;
    const std::string clip = MakeClip(folder, "clip.mpg", 25, 12, "-c:v mpeg1video");
    const std::string trace = folder.Path("trace");
    std::string arguments = "/B";
    for (const char* frame : {"#1", "#5", "#10"}) arguments += " " + Quoted(clip + frame);
    // The leak checker cannot run under a tracer.
    const TCommandResult run = RunTool("printf '\\nn\\n' | strace -f -qq -e trace=open,openat,openat2 -o " + Quoted(trace) +
                                       " env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ASAN_OPTIONS=detect_leaks=0 "
                                       "XDG_CONFIG_HOME=" + Quoted(folder.Path("config")) + " " +
                                       Quoted(MORDALE_EXECUTABLE) + " " + arguments);
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(CountOf(RunTool("pdfimages -list " + Quoted(folder.Path("Book1.pdf"))).output, " image "), 3u);
    EXPECT_EQ(OpensOf(ReadFile(trace), clip), 4u);
}

// Single documents of frames of one clip all take the clip's document name: each frame after the
// first asks before replacing the document of the one before. The frame after the last is none.
TEST(CommandLineVideoTest, SingleDocumentsOfFramesOfAClipShareItsName) {
    TScratchFolder folder;
    // An MPEG stream without a container, which declares no length of its own.
    const std::string clip = MakeClip(folder, "clip.mpg", 25, 100, "-c:v mpeg1video -q:v 2 -f mpeg1video");
    const std::string pdf = folder.Path("clip.pdf");
    const auto run = [&](const std::string& arguments, const std::string& answers) {
        return RunTool(answers + " env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM XDG_CONFIG_HOME=" +
                       Quoted(folder.Path("config")) + " " + Quoted(MORDALE_EXECUTABLE) + " " + arguments);
    };
    const auto shownFrame = [&] {
        RunTool("rm -f " + Quoted(folder.Path("shown")) + "*");
        EXPECT_EQ(RunTool("pdfimages -png " + Quoted(pdf) + " " + Quoted(folder.Path("shown"))).status, 0);
        const TRgbImage image = ReadWithImageMagick(folder.Path("shown-000.png"));
        return MeanDifference(image, FfmpegFrame(clip, 0)) < MeanDifference(image, FfmpegFrame(clip, 99)) ? 0 : 99;
    };
    const std::regex onePage("Pages:\\s+1\\n");
    const std::string both = "/S " + Quoted(clip + "#1") + " " + Quoted(clip + "#100");
    const TCommandResult kept = run(both, "printf 'n\\n' |");
    EXPECT_EQ(kept.status, 1) << kept.output;
    EXPECT_EQ(CountOf(kept.output, "File exists: " + pdf), 1u) << kept.output;
    EXPECT_TRUE(std::regex_search(RunTool("pdfinfo " + Quoted(pdf)).output, onePage));
    EXPECT_EQ(shownFrame(), 0);

    std::filesystem::remove(pdf);
    const TCommandResult replaced = run(both, "printf 'y\\nn\\n' |");
    EXPECT_EQ(replaced.status, 0) << replaced.output;
    EXPECT_TRUE(std::regex_search(RunTool("pdfinfo " + Quoted(pdf)).output, onePage));
    EXPECT_EQ(shownFrame(), 99);

    const TCommandResult past = run("/S " + Quoted(clip + "#101"), "printf '' |");
    EXPECT_NE(past.status, 0);
    EXPECT_TRUE(Contains(past.output, clip + " has 100 frames: there is no frame 101")) << past.output;
}

}  // namespace
