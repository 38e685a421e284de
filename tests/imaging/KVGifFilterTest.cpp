#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DriverTestSupport.h"
#include "imaging/core/KVMask.h"
#include "imaging/core/KVBasicHelpers.h"
#include "imaging/io/KVGifFilter.h"
#include "imaging/io/KVLzw.h"

namespace {

class GifFilterTest : public ::testing::Test {
protected:
    // Runs an ImageMagick command line whose %o is the GIF written; returns its path.
    std::string MakeGif(const std::string& name, const std::string& arguments) {
        const std::string gif = folder.Path(name + ".gif");
        std::string line = "convert " + arguments;
        line.replace(line.find("%o"), 2, Quoted(gif));
        const TCommandResult result = RunTool(line);
        EXPECT_EQ(result.status, 0) << line << "\n" << result.output;
        return gif;
    }
    std::string PatternFile(int width = 37, int height = 23) {
        const std::string ppm = folder.Path("pattern.ppm");
        WriteFile(ppm, PpmBytes(PatternImage(width, height)));
        return Quoted(ppm);
    }
    // Frame index of the file as ImageMagick decodes it on its own.
    TRgbImage Frame(const std::string& gif, int index) {
        return ParsePpm(RunTool("convert " + Quoted(gif + "[" + std::to_string(index) + "]") + " -depth 8 ppm:-", false)
                            .output);
    }
    int Read(const std::string& bytes, TDriverCall& call, TKVBitmap& bitmap, std::unique_ptr<TKVMask>& mask,
             bool paramsOnly = false) {
        TMemoryStream stream;
        LoadBytes(stream, bytes);
        call.params.GifLZWDecompressor = GIFLZWDecode;
        int count = -1;
        ReadGIFStream(stream, bitmap, count, false, mask, paramsOnly, call.progress, call.params);
        return count;
    }
    std::string Write(TKVBitmap& bitmap, TDriverCall& call) {
        TMemoryStream out;
        call.params.GifLZWCompressor = GIFLZWEncode;
        WriteGIFStream(out, bitmap, call.params, call.progress);
        return StreamBytes(out);
    }
    TScratchFolder folder;
};

std::string MaskBytes(TKVMask& mask) {
    std::string bytes;
    for (int y = 0; y < mask.Height(); ++y)
        bytes.append(reinterpret_cast<const char*>(mask.GetScanline(y)), size_t(mask.Width()));
    return bytes;
}

TEST_F(GifFilterTest, ReadsWhatImageMagickWrites) {
    struct Case {
        const char* name;
        const char* arguments;
        bool native;
        TKVPixelFormat format;
        int bits;
    } cases[] = {
        {"palette", "%p -colors 200 %o", false, kv24RGB, 8},
        {"palette native", "%p -colors 200 %o", true, kv8Paletted, 8},
        {"interlaced", "%p -colors 60 -interlace GIF %o", false, kv24RGB, 6},
        {"black and white", "%p -monochrome %o", false, kv1Bit, 1},
        {"white and black", "-size 13x3 pattern:checkerboard -monochrome %o", false, kv24RGB, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string arguments = c.arguments;
        if (arguments.find("%p") != std::string::npos) arguments.replace(arguments.find("%p"), 2, PatternFile());
        const std::string gif = MakeGif(c.name, arguments);
        TDriverCall call;
        call.params.IsNativePixelFormat = c.native;
        TKVBitmap bitmap;
        std::unique_ptr<TKVMask> mask;
        EXPECT_EQ(Read(ReadFile(gif), call, bitmap, mask), 1);
        ASSERT_FALSE(call.Aborted());
        EXPECT_EQ(bitmap.GetPixelFormat(), c.format);
        EXPECT_EQ(call.params.BitsPerSample, c.bits);
        EXPECT_EQ(MaxDifference(BitmapToImage(bitmap), Frame(gif, 0)), 0);
        EXPECT_FALSE(mask);  // no transparent pixel
    }
}

TEST_F(GifFilterTest, TransparentIndexBecomesTheMask) {
    const std::string gif = MakeGif("t", "-size 9x5 xc:red -fill blue -draw 'rectangle 0,0 3,2' -transparent blue %o");
    TDriverCall call;
    TKVBitmap bitmap;
    std::unique_ptr<TKVMask> mask;
    Read(ReadFile(gif), call, bitmap, mask);
    ASSERT_FALSE(call.Aborted());
    EXPECT_TRUE(call.params.GifTransparent);
    ASSERT_TRUE(mask);
    const TRgbImage alpha =
        ParsePpm(RunTool("convert " + Quoted(gif) + " -alpha extract -depth 8 ppm:-", false).output);
    std::string expected;
    for (size_t i = 0; i < alpha.pixels.size(); i += 3) expected += char(alpha.pixels[i]);
    EXPECT_EQ(MaskBytes(*mask), expected);
}

TEST_F(GifFilterTest, OneFrameOfManyWithItsOwnControlBlock) {
    std::string arguments;
    for (int i = 0; i < 10; ++i)
        arguments += "-delay " + std::to_string(10 + i) + " -dispose " + std::to_string(i % 3 + 1) + " -size 8x6 xc:'rgb(" +
                     std::to_string(i * 20) + ",10,200)' ";
    const std::string gif = MakeGif("anim", arguments + "%o");
    TDriverCall call;
    call.params.SetImageIndex(3);
    TKVBitmap bitmap;
    std::unique_ptr<TKVMask> mask;
    EXPECT_EQ(Read(ReadFile(gif), call, bitmap, mask), 10);
    ASSERT_FALSE(call.Aborted());
    EXPECT_EQ(call.params.GifImageCount, 10);
    EXPECT_EQ(call.params.GifDelayTime, 13);
    EXPECT_EQ(call.params.GifAction, 1);
    EXPECT_EQ(MaxDifference(BitmapToImage(bitmap), Frame(gif, 3)), 0);

    // Past the last image: the count, and a failure rather than an empty picture.
    TDriverCall past;
    past.params.SetImageIndex(10);
    TKVBitmap none;
    EXPECT_EQ(Read(ReadFile(gif), past, none, mask), 10);
    EXPECT_TRUE(past.Aborted());
    TDriverCall count;
    count.params.SetImageIndex(10);
    EXPECT_EQ(Read(ReadFile(gif), count, none, mask, true), 10);
    EXPECT_FALSE(count.Aborted());
}

struct WriteCase {
    const char* name;
    int bits;
    int colours;  // distinct colours; 0 for the full pattern
    bool oneBitBitmap;
};

TEST_F(GifFilterTest, WrittenFilesReadBackHereInImageMagickAndGiflib) {
    const WriteCase cases[] = {
        {"bilevel", 1, 0, true}, {"two colours", 1, 2, false}, {"sixteen", 4, 16, false},
        {"pattern", 8, 0, false}, {"few at 8 bits", 8, 100, false}};
    for (const WriteCase& c : cases) {
        SCOPED_TRACE(c.name);
        TRgbImage image = PatternImage(29, 11);
        for (size_t i = 0; c.colours && i < image.pixels.size(); i += 3) {
            const int k = int(i / 3 % size_t(c.colours));
            image.pixels[i] = uint8_t(k * 2), image.pixels[i + 1] = uint8_t(200 - k), image.pixels[i + 2] = 9;
        }
        TKVBitmap bitmap;
        if (c.oneBitBitmap) {
            bitmap.Allocate(29, 11, kv1Bit);
            for (int y = 0; y < 11; ++y) bitmap.GetScanline(y)[y % 4] = uint8_t(0xA5 + y);
        } else {
            ImageToBitmap(image, bitmap);
        }
        TDriverCall call;
        call.params.BitsPerSample = c.bits;
        call.params.GifComments.Add("made by a test");
        const std::string bytes = Write(bitmap, call);
        ASSERT_FALSE(call.Aborted());
        const std::string path = folder.Path(std::string(c.name) + ".gif");
        WriteFile(path, bytes);
        const TCommandResult giftext = RunTool("giftext " + Quoted(path));
        EXPECT_EQ(giftext.status, 0) << giftext.output;
        EXPECT_TRUE(Contains(giftext.output, "GIF file terminated normally"));

        TDriverCall back;
        TKVBitmap read;
        std::unique_ptr<TKVMask> mask;
        Read(bytes, back, read, mask);
        ASSERT_FALSE(back.Aborted());
        EXPECT_EQ(back.params.BitsPerSample, c.bits);
        ASSERT_EQ(back.params.GifComments.Count(), 1);
        EXPECT_EQ(back.params.GifComments.Strings(0), "made by a test");
        EXPECT_EQ(MaxDifference(BitmapToImage(read), Frame(path, 0)), 0);
        if (c.colours != 0 || c.oneBitBitmap) {
            EXPECT_EQ(MaxDifference(BitmapToImage(read), BitmapToImage(bitmap)), 0);
        } else {
            EXPECT_LE(MeanDifference(BitmapToImage(read), image), 30.0);
        }
    }
}

TEST_F(GifFilterTest, AlphaChannelTakesTheLastIndex) {
    TKVBitmap bitmap;
    ImageToBitmap(PatternImage(20, 8), bitmap);
    TKVBitmap* alpha = bitmap.GetAlphaChannel();
    for (int y = 0; y < 8; ++y) alpha->GetScanline(y)[y] = 0;
    TDriverCall call;
    const std::string bytes = Write(bitmap, call);
    ASSERT_FALSE(call.Aborted());
    const std::string path = folder.Path("alpha.gif");
    WriteFile(path, bytes);
    EXPECT_TRUE(Contains(RunTool("giftext " + Quoted(path)).output, "Transparent Index: 255"));
    EXPECT_EQ(bytes.substr(13 + 255 * 3, 3), std::string(3, '\0'));  // the transparent entry, set to black
    TDriverCall back;
    TKVBitmap read;
    std::unique_ptr<TKVMask> mask;
    Read(bytes, back, read, mask);
    ASSERT_TRUE(mask);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 20; ++x) EXPECT_EQ(mask->GetScanline(y)[x], x == y ? 0 : 255) << x << "," << y;
}

TEST_F(GifFilterTest, LongCommentsGoIntoSeveralSubBlocks) {
    TKVBitmap bitmap;
    bitmap.Allocate(4, 4, kv1Bit);
    TDriverCall call;
    call.params.BitsPerSample = 1;
    const std::string comment(300, 'c');
    call.params.GifComments.Add(comment);
    const std::string bytes = Write(bitmap, call);
    const size_t at = bytes.find(std::string("\x21\xFE", 2));
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(uint8_t(bytes[at + 2]), 255);
    EXPECT_EQ(uint8_t(bytes[at + 3 + 255]), 45);
    TDriverCall back;
    TKVBitmap read;
    std::unique_ptr<TKVMask> mask;
    Read(bytes, back, read, mask);
    ASSERT_EQ(back.params.GifComments.Count(), 1);
    EXPECT_EQ(back.params.GifComments.Strings(0), comment);
}

// Each comment is an extension of its own, as giflib lists them, and reads back as one text;
// comments giflib builds, one per extension, read back the same.
TEST_F(GifFilterTest, EachCommentIsItsOwnExtension) {
    TKVBitmap bitmap;
    bitmap.Allocate(4, 4, kv1Bit);
    TDriverCall call;
    call.params.BitsPerSample = 1;
    const std::vector<std::string> comments = {"first", "second one", std::string(300, 'c')};
    for (const std::string& comment : comments) call.params.GifComments.Add(comment);
    const std::string path = folder.Path("comments.gif");
    WriteFile(path, Write(bitmap, call));
    ASSERT_FALSE(call.Aborted());
    const std::string dump = RunTool("gifbuild -d " + Quoted(path), false).output;
    EXPECT_TRUE(Contains(dump, "comment\nfirst\nend\n\ncomment\nsecond one\nend\n")) << dump;

    WriteFile(folder.Path("built.txt"), "screen width 2\nscreen height 1\nscreen map\n\trgb 0 0 0 is 0\n\trgb 255 255 255 is 1\nend\n"
                                        "comment\nfrom giflib\nend\ncomment\nand another\nend\n"
                                        "image # 1\nimage left 0\nimage top 0\nimage bits 2 by 1\n01\n");
    const std::string built = folder.Path("built.gif");
    ASSERT_EQ(RunTool("gifbuild " + Quoted(folder.Path("built.txt")) + " > " + Quoted(built), false).status, 0);
    const struct {
        std::string file;
        std::vector<std::string> texts;
    } cases[] = {{path, comments}, {built, {"from giflib", "and another"}}};
    for (const auto& c : cases) {
        TDriverCall back;
        TKVBitmap read;
        std::unique_ptr<TKVMask> mask;
        Read(ReadFile(c.file), back, read, mask);
        ASSERT_FALSE(back.Aborted()) << c.file;
        ASSERT_EQ(back.params.GifComments.Count(), int(c.texts.size())) << c.file;
        for (size_t i = 0; i < c.texts.size(); ++i) EXPECT_EQ(back.params.GifComments.Strings(int(i)), c.texts[i]) << c.file;
    }
}

// Each side is kept in 16 bits: the widest picture is written, a wider one refused whole.
TEST_F(GifFilterTest, SidesBeyondSixteenBitsAreRefused) {
    const struct {
        int width, height;
        bool written;
    } cases[] = {{65535, 1, true}, {65536, 1, false}, {1, 65536, false}};
    for (const auto& c : cases) {
        TKVBitmap bitmap;
        bitmap.Allocate(c.width, c.height, kv1Bit);
        TDriverCall call;
        call.params.BitsPerSample = 1;
        const std::string bytes = Write(bitmap, call);
        EXPECT_EQ(!call.Aborted(), c.written) << c.width << "x" << c.height;
        EXPECT_EQ(!bytes.empty(), c.written) << c.width << "x" << c.height;
        if (c.written) {
            const std::string path = folder.Path("wide.gif");
            WriteFile(path, bytes);
            EXPECT_TRUE(Contains(RunTool("giftext " + Quoted(path), false).output, "Width = 65535")) << c.width;
        }
    }
}

// A GIF of width x 1 whose two-entry colour table is followed by the given indexes.
std::string SmallGif(const std::vector<uint8_t>& indexes, int codeBits) {
    const int width = int(indexes.size());
    std::string gif = "GIF89a";
    gif += char(width), gif += '\0', gif += '\1', gif += '\0', gif += char(0x80), gif += '\0', gif += '\0';
    gif += std::string("\xFF\x00\x00\x00\x00\xFF", 6);  // red, blue
    gif += ',';
    gif += std::string(4, '\0') + char(width) + '\0' + '\1' + '\0' + '\0';
    TMemoryStream data;
    GIFLZWEncode(data, 1, width, codeBits, indexes.data(), false);
    return gif + StreamBytes(data) + ';';
}

TEST_F(GifFilterTest, IndexesPastTheColourTableReadAsBlack) {
    TDriverCall call;
    TKVBitmap bitmap;
    std::unique_ptr<TKVMask> mask;
    Read(SmallGif({0, 1, 200, 1}, 8), call, bitmap, mask);
    ASSERT_FALSE(call.Aborted());
    EXPECT_EQ(bitmap.GetPixelRGB(0, 0), KVCreateRGB(255, 0, 0));
    EXPECT_EQ(bitmap.GetPixelRGB(1, 0), KVCreateRGB(0, 0, 255));
    EXPECT_EQ(bitmap.GetPixelRGB(2, 0), KVCreateRGB(0, 0, 0));
}

TEST_F(GifFilterTest, DamagedFilesAbortAndNeverCrash) {
    const std::string gif = ReadFile(MakeGif("d", PatternFile(64, 40) + " -colors 100 %o"));
    for (size_t cut : {size_t(0), size_t(5), size_t(13), size_t(400), gif.size() / 2, gif.size() - 3}) {
        TDriverCall call;
        TKVBitmap bitmap;
        std::unique_ptr<TKVMask> mask;
        Read(gif.substr(0, cut), call, bitmap, mask);
        EXPECT_TRUE(call.Aborted()) << cut;
    }
    for (size_t i = 0; i < gif.size(); i += 5) {
        std::string flipped = gif;
        flipped[i] = char(flipped[i] ^ (1 << (i % 8)));
        TDriverCall call;
        TKVBitmap bitmap;
        std::unique_ptr<TKVMask> mask;
        Read(flipped, call, bitmap, mask);
    }
    // A frame far larger than its data can describe.
    std::string huge = SmallGif({0, 1}, 2);
    huge[13 + 6 + 5] = char(0xFF), huge[13 + 6 + 6] = char(0xFF), huge[13 + 6 + 7] = char(0xFF), huge[13 + 6 + 8] = char(0xFF);
    TDriverCall call;
    TKVBitmap bitmap;
    std::unique_ptr<TKVMask> mask;
    Read(huge, call, bitmap, mask);
    EXPECT_TRUE(call.Aborted());
}

TEST_F(GifFilterTest, DeletingAnImageKeepsTheOthers) {
    const std::string gif = MakeGif("three", "-delay 5 -size 6x4 xc:red xc:lime xc:blue %o");
    EXPECT_EQ(DeleteGIFImage(gif, -1, false), 3);
    EXPECT_EQ(DeleteGIFImage(gif, 1, true), 2);
    EXPECT_EQ(RunTool("identify -format %n. " + Quoted(gif)).output.substr(0, 2), "2.");
    EXPECT_EQ(Frame(gif, 1).pixels[2], 255);  // blue is now the second
    EXPECT_EQ(ReadFile(gif).substr(0, 6), "GIF89a");
}

TEST_F(GifFilterTest, ShortWritesSetTheAbortFlag) {
    TKVBitmap bitmap;
    ImageToBitmap(PatternImage(300, 200), bitmap);
    for (int64_t capacity : {0, 100, 5000}) {
        TDriverCall call;
        TFullStream full(capacity);
        call.params.GifLZWCompressor = GIFLZWEncode;
        WriteGIFStream(full, bitmap, call.params, call.progress);
        EXPECT_TRUE(call.Aborted()) << capacity;
    }
}

}  // namespace
