#include <gtest/gtest.h>

#include <filesystem>

#include "DriverTestSupport.h"
#include "PictureFixtures.h"
#include "imaging/io/KVPsOutput.h"

namespace {

// Ghostscript's rendering of every page at one pixel per point on paper of the given size.
std::vector<TRgbImage> Rendered(const std::string& ps, const std::string& folder, const char* device = "pnggray",
                                int width = 595, int height = 842) {
    RunTool(std::string("gs -q -dSAFER -dBATCH -dNOPAUSE -r72 -dFIXEDMEDIA -dDEVICEWIDTHPOINTS=") + std::to_string(width) +
            " -dDEVICEHEIGHTPOINTS=" + std::to_string(height) + " -sDEVICE=" + device + " -o " +
            Quoted(folder + "/page-%d.png") + " " + Quoted(ps));
    std::vector<TRgbImage> pages;
    for (int i = 1; std::filesystem::exists(folder + "/page-" + std::to_string(i) + ".png"); ++i)
        pages.push_back(ReadWithImageMagick(folder + "/page-" + std::to_string(i) + ".png"));
    return pages;
}

void TwoTone(TKVBitmap& bitmap, int width, int height) {
    bitmap.Allocate(width, height, kv1Bit);
    bitmap.FillRect(0, 0, width / 3, height - 1, 0xFFFFFF);
    bitmap.FillRect(width / 2, height / 2, width - 1, height - 1, 0xFFFFFF);
}

int Occurrences(const std::string& text, const std::string& part) {
    int count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

// The paper is the picture's size, so that a page renders the picture one to one.
void PaperOfPicture(TKestovaIO& io) {
    io.Params().PsPaperWidth = io.WorkBitmap().GetWidth();
    io.Params().PsPaperHeight = io.WorkBitmap().GetHeight();
}

}  // namespace

TEST(KVPsOutput, GhostscriptShowsThePicture) {
    TScratchFolder folder;
    const struct {
        bool oneBit;
        int compression;
        const char* source;
    } cases[] = {{true, 0, "/RunLengthDecode filter\r\n%%BeginData:"},
                 {true, 1, "<< /K -1 /BlackIs1 true /Columns 61 /Rows 23 /EndOfLine false /Uncompressed true "
                           "/EncodedByteAlign false /EndOfBlock false >> /CCITTFaxDecode filter\r\n%%BeginData:"},
                 {true, 2, "<< /K 1 /BlackIs1 true /Columns 61 "},
                 {false, 0, "true 3\r\n%%BeginData:"},
                 {false, 3, "/DCTDecode filter\r\nfalse 3\r\n"}};
    for (const auto& c : cases) {
        TKestovaIO io;
        if (c.oneBit) TwoTone(io.WorkBitmap(), 61, 23);
        else ImageToBitmap(PatternImage(61, 23), io.WorkBitmap());
        PaperOfPicture(io);
        io.Params().PsCompression = uint8_t(c.compression);
        const std::string path = folder.Path("out.ps");
        io.SaveToFile(path);
        ASSERT_FALSE(io.AbortFlag) << c.compression;
        const std::string file = ReadFile(path);
        EXPECT_TRUE(Contains(file, c.source)) << c.compression;
        const std::vector<TRgbImage> pages = Rendered(path, folder.Path(""), c.oneBit ? "pnggray" : "png16m", 61, 23);
        ASSERT_EQ(pages.size(), 1u) << c.compression;
        if (c.compression == 3) {
            EXPECT_LT(MeanDifference(pages[0], PixelsOf(io.WorkBitmap())), 12);
        } else {
            EXPECT_TRUE(SamePixels(pages[0], PixelsOf(io.WorkBitmap()))) << c.compression;
        }
        // The data count covers everything between the operator's line and the end comment.
        const size_t begin = file.find("%%BeginData:"), data = file.find("image\r\n", begin) + 7, end = file.find("%%EndData");
        EXPECT_EQ(file.substr(begin + 12, end - begin).find(std::to_string(end - data) + " ASCII Bytes"), 6u) << c.compression;
        if (!c.oneBit && c.compression == 0) {
            EXPECT_EQ(Occurrences(file, "~>"), 3 * 23);
        }
    }
}

TEST(KVPsOutput, PagesAreAddedOneAfterAnother) {
    TScratchFolder folder;
    TIOParamsVals params(nullptr);
    params.PsTitle = "Three pages";
    params.PsCompression = 0;
    std::atomic<bool> aborted{false};
    TKVProgressRec progress;
    progress.AbortFlag = &aborted;
    TMemoryStream stream;
    std::unique_ptr<TKVPSDocument> document = WritePSHeader(stream, params);
    for (int i = 0; i < 3; ++i) {
        TKVBitmap picture;
        ImageToBitmap(PatternImage(30 + 10 * i, 20), picture);
        AddPSPage(*document, stream, picture, progress, params);
        ASSERT_FALSE(aborted);
    }
    WritePSTrailer(std::move(document), stream);
    const std::string path = folder.Path("three.ps");
    WriteFile(path, StreamBytesOf(stream));
    const std::string file = ReadFile(path);
    EXPECT_TRUE(Contains(file, "\r\n%%Pages: 3     \r\n"));
    EXPECT_TRUE(Contains(file, "%%Title: Three pages\r\n"));
    EXPECT_TRUE(Contains(file, "%%BoundingBox: 0 0 594 841\r\n"));
    EXPECT_EQ(Occurrences(file, "%%Trailer"), 1);
    EXPECT_TRUE(file.ends_with("showpage\r\n%%Trailer\r\nend\r\n%%EOF\r\n"));
    EXPECT_TRUE(Contains(file, "%%Page: 3 3\r\n0 842 translate\r\n595 -238 scale\r\n"));
    EXPECT_EQ(Rendered(path, folder.Path("")).size(), 3u);
}
