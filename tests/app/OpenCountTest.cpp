// How often a book opens each picture file, counted from the system calls of a run under strace:
// the header is read once when the picture is added, and the data once when the book takes them.
#include <gtest/gtest.h>

#include "AppTestSupport.h"

namespace {

TEST(OpenCountTest, ABookOpensEachPictureAtMostTwice) {
    TPrivateEnvironment environment;
    TScratchFolder pics;
    struct Case {
        std::string name, made;  // ImageMagick's output format prefix and options
        size_t most;
    } cases[] = {
        {"photo.jpg", "-size 40x30 gradient:red-blue", 2},      // header, copy
        {"gray.jpg", "-size 40x30 gradient: -type Grayscale", 2},
        {"plain.png", "-size 40x30 gradient:green-white", 2},   // header, decode
        {"layers.psd", "-size 40x30 gradient:blue-yellow", 2},  // extended: header, the one decode
        {"netpbm.ppm", "-size 40x30 gradient:red-white", 2},
        {"old.bmp", "-size 40x30 gradient:black-white", 2},
        {"scan.tif", "-size 40x30 gradient:red-white -compress lzw", 2},  // directories, decode
    };
    // The leak checker cannot run under a tracer.
    std::string command = "strace -f -qq -e trace=open,openat,openat2 -o " + Quoted(pics.Path("trace")) +
                          " env ASAN_OPTIONS=detect_leaks=0 " + Quoted(MORDALE_BOOK_OF_PICTURES) + " " +
                          Quoted(pics.Path("book.pdf"));
    for (const Case& c : cases) {
        ASSERT_EQ(RunTool("convert " + c.made + " " + Quoted(pics.Path(c.name))).status, 0) << c.name;
        command += " " + Quoted(pics.Path(c.name));
    }
    const TCommandResult run = RunTool(command);
    ASSERT_EQ(run.status, 0) << run.output;
    ASSERT_TRUE(QpdfChecks(pics.Path("book.pdf")));
    EXPECT_EQ(CountOf(RunTool("pdfimages -list " + Quoted(pics.Path("book.pdf"))).output, " image "), std::size(cases));
    // Both JPEG files are stored as they are.
    ASSERT_EQ(RunTool("pdfimages -j -f 1 -l 2 " + Quoted(pics.Path("book.pdf")) + " " + Quoted(pics.Path("page"))).status, 0);
    EXPECT_EQ(ReadFile(pics.Path("page-000.jpg")), ReadFile(pics.Path("photo.jpg")));
    EXPECT_EQ(ReadFile(pics.Path("page-001.jpg")), ReadFile(pics.Path("gray.jpg")));
    const std::string trace = ReadFile(pics.Path("trace"));
    for (const Case& c : cases) {
        const size_t opens = OpensOf(trace, pics.Path(c.name));
        std::printf("%-12s opened %zu times\n", c.name.c_str(), opens);
        EXPECT_GE(opens, 1u) << c.name;
        EXPECT_LE(opens, c.most) << c.name;
    }
}

}  // namespace
