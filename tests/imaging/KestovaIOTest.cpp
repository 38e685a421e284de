#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <functional>
#include <stdexcept>

#include "PictureFixtures.h"
#include "imaging/core/KVStreams.h"
#include "imaging/io/KVFileFormats.h"
#include "imaging/io/KVFormatDetect.h"
#include "imaging/io/KVSaveToText.h"
#include "imaging/io/KVVideoAndScanner.h"
#include "platform/Graphics.h"

namespace {

// Counts the finishing calls and the progress reports of one component.
struct TWatched {
    TKestovaIO io;
    int finished = 0;
    std::vector<int> percents;
    TWatched() {
        io.OnFinishWork = [this](TObject*) { ++finished; };
        io.OnProgress = [this](TObject*, int per) { percents.push_back(per); };
    }
};

std::string BmpOf(TScratchFolder& folder, int width, int height, const std::string& name = "p.bmp") {
    WriteFile(folder.Path("p.ppm"), PatternPpm(width, height));
    return MakeFixture(folder.Path(name), "ppmtobmp " + Quoted(folder.Path("p.ppm")) + " > " + Quoted(folder.Path(name)));
}

}  // namespace

TEST(KestovaIO, LoadsByNameByStreamAndByContent) {
    TScratchFolder folder;
    const std::string bmp = BmpOf(folder, 9, 6);
    const TRgbImage expected = ReadWithImageMagick(bmp);

    TWatched w;
    w.io.LoadFromFile(bmp);
    ASSERT_FALSE(w.io.AbortFlag);
    EXPECT_TRUE(SamePixels(PixelsOf(w.io.WorkBitmap()), expected));
    EXPECT_EQ(w.io.Params().FileName, bmp);
    EXPECT_EQ(w.io.Params().FileType, kvftBMP);
    EXPECT_EQ(w.io.Params().DpiX(), DefaultDpiX);  // the file carries no resolution
    EXPECT_EQ(w.finished, 1);
    ASSERT_FALSE(w.percents.empty());
    EXPECT_EQ(w.percents.back(), 100);

    // From a stream, behind other data, by its content.
    TMemoryStream stream;
    stream.WriteBuffer("prefix", 6);
    const std::string bytes = ReadFile(bmp);
    stream.WriteBuffer(bytes.data(), int64_t(bytes.size()));
    stream.SetPosition(6);
    TKestovaIO fromStream;
    fromStream.LoadFromStream(stream);
    ASSERT_FALSE(fromStream.AbortFlag);
    EXPECT_TRUE(SamePixels(PixelsOf(fromStream.WorkBitmap()), expected));
    EXPECT_EQ(fromStream.Params().FileName, "");
    EXPECT_EQ(stream.Position(), stream.Size());

    // A bitmap named as a JPEG loads by its name, where the JPEG reader refuses it, and by its content.
    std::filesystem::copy_file(bmp, folder.Path("named.jpg"));
    TKestovaIO misnamed;
    misnamed.LoadFromFile(folder.Path("named.jpg"));
    ASSERT_FALSE(misnamed.AbortFlag);
    EXPECT_TRUE(SamePixels(PixelsOf(misnamed.WorkBitmap()), expected));
    misnamed.LoadFromFileAuto(folder.Path("named.jpg"));
    ASSERT_FALSE(misnamed.AbortFlag);
    EXPECT_TRUE(SamePixels(PixelsOf(misnamed.WorkBitmap()), expected));
}

TEST(KestovaIO, AMisnamedPictureThatTheNamedReaderRefusesLoadsByItsContent) {
    TScratchFolder folder;
    WriteFile(folder.Path("p.ppm"), PatternPpm(11, 7));
    const struct {
        const char* content;  // ImageMagick's output format
        const char* name;
        int type;
    } cases[] = {
        {"png", "png.jpg", kvftPNG}, {"ppm", "ppm.png", kvftPXM}, {"bmp3", "bmp.tif", kvftBMP},
        {"pcx", "pcx.bmp", kvftPCX}, {"png", "PNG.JPEG", kvftPNG},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = MakeFixture(
            folder.Path(c.name), "convert " + Quoted(folder.Path("p.ppm")) + " " + c.content + ":" + Quoted(folder.Path(c.name)));
        TWatched w;
        w.io.LoadFromFile(path);
        ASSERT_FALSE(w.io.AbortFlag);
        EXPECT_EQ(w.io.Params().FileType, c.type);
        EXPECT_EQ(w.io.Params().FileName, path);
        EXPECT_EQ(w.finished, 1);
        EXPECT_TRUE(SamePixels(PixelsOf(w.io.WorkBitmap()), ReadWithImageMagick(std::string(c.content) + ":" + path)));
    }
    // Bytes that no reader takes still fail, with one finishing call.
    WriteFile(folder.Path("noise.jpg"), std::string(300, '\x5A'));
    TWatched w;
    w.io.LoadFromFile(folder.Path("noise.jpg"));
    EXPECT_TRUE(w.io.AbortFlag);
    EXPECT_EQ(w.finished, 1);
}

// A failure never leaves the success of the previous operation behind.
TEST(KestovaIO, FailuresSetTheAbortFlag) {
    TScratchFolder folder;
    const std::string bmp = BmpOf(folder, 4, 4);
    WriteFile(folder.Path("cut.bmp"), ReadFile(bmp).substr(0, 60));
    WriteFile(folder.Path("x.unknown"), ReadFile(bmp));
    for (const std::string& name : {std::string(), folder.Path("x.unknown"), folder.Path("cut.bmp"),
                                    std::string("http://127.0.0.1:1/a.bmp"), folder.Path("clip.avi")}) {
        TWatched w;
        w.io.LoadFromFile(bmp);
        ASSERT_FALSE(w.io.AbortFlag);
        w.io.LoadFromFile(name);
        EXPECT_TRUE(w.io.AbortFlag) << name;
        EXPECT_EQ(w.finished, 2) << name;
    }
    // A file that cannot be opened raises, after the finishing call.
    TWatched w;
    EXPECT_THROW(w.io.LoadFromFile(folder.Path("missing.bmp")), EFOpenError);
    EXPECT_TRUE(w.io.AbortFlag);
    EXPECT_EQ(w.finished, 1);
    // Nothing to detect in a stream.
    TKVMemStream empty("", 0);
    w.io.LoadFromStream(empty);
    EXPECT_TRUE(w.io.AbortFlag);
}

TEST(KestovaIO, AFailureKeepsItsReadersReasonUntilTheNextOperation) {
    TScratchFolder folder;
    const std::string bmp = BmpOf(folder, 40, 30);
    WriteFile(folder.Path("cut.bmp"), ReadFile(bmp).substr(0, 200));
    WriteFile(folder.Path("noise.bmp"), "BM and nothing else");
    TKestovaIO io;
    io.LoadFromFile(folder.Path("cut.bmp"));
    EXPECT_TRUE(io.AbortFlag);
    EXPECT_EQ(io.FailureReason(), "BMP pixel data is cut short");
    // A success leaves no reason, and a failure of another kind never shows an earlier one.
    io.LoadFromFile(bmp);
    EXPECT_FALSE(io.AbortFlag);
    EXPECT_EQ(io.FailureReason(), "");
    io.LoadFromFile(folder.Path("cut.bmp"));
    TKVMemStream unknown("no picture", 10);
    io.LoadFromStream(unknown);
    EXPECT_TRUE(io.AbortFlag);
    EXPECT_EQ(io.FailureReason(), "the content is of no known picture format");
    io.ParamsFromFile(folder.Path("noise.bmp"));
    EXPECT_TRUE(io.AbortFlag);
    EXPECT_TRUE(Contains(io.FailureReason(), "data ends after 19 bytes")) << io.FailureReason();
}

TEST(KestovaIO, LoadsIntoAnAttachedClassLibraryBitmap) {
    TScratchFolder folder;
    const std::string bmp = BmpOf(folder, 7, 3);
    TBitmap picture;
    TKestovaIO io;
    io.AttachTBitmap(&picture);
    io.LoadFromFile(bmp);
    ASSERT_FALSE(io.AbortFlag);
    EXPECT_EQ(io.GetTBitmap(), &picture);
    EXPECT_EQ(picture.Width(), 7);
    EXPECT_EQ(picture.Height(), 3);
    const TRgbImage expected = ReadWithImageMagick(bmp);
    const TColor c = picture.Pixel(2, 1);
    EXPECT_EQ(c & 0xFF, expected.At(2, 1)[0]);
    EXPECT_EQ((c >> 8) & 0xFF, expected.At(2, 1)[1]);

    // A failed load leaves no half-read picture in it.
    WriteFile(folder.Path("cut.bmp"), ReadFile(bmp).substr(0, 70));
    io.LoadFromFile(folder.Path("cut.bmp"));
    EXPECT_TRUE(io.AbortFlag);
    EXPECT_TRUE(picture.Empty());
}

// A class-library bitmap carries no alpha: the picture is what it shows over the component's
// background, as ImageMagick flattens it, whatever colour its transparent pixels hold.
TEST(KestovaIO, AnAttachedClassLibraryBitmapGetsThePictureOverTheBackground) {
    TScratchFolder folder;
    const std::string png = MakeFixture(
        folder.Path("alpha.png"), "convert -size 12x4 gradient:red-blue -alpha set -channel A -fx 'i<4?0:(i<8?0.4:1)' "
                                  "+channel PNG32:" + Quoted(folder.Path("alpha.png")));
    const std::string flat = MakeFixture(folder.Path("flat.ppm"), "convert " + Quoted(png) +
                                                                      " -background '#3080C0' -flatten " +
                                                                      Quoted(folder.Path("flat.ppm")));
    const TRgbImage expected = ReadPpm(flat);
    TBitmap picture;
    TKestovaIO io;
    io.AttachTBitmap(&picture);
    io.SetBackground(0xC08030);
    io.LoadFromFile(png);
    ASSERT_FALSE(io.AbortFlag);
    ASSERT_EQ(picture.Width(), 12);
    for (int x = 0; x < 12; ++x) {
        const TColor c = picture.Pixel(x, 2);
        const uint8_t rgb[] = {uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16)};
        for (int channel = 0; channel < 3; ++channel)
            EXPECT_NEAR(rgb[channel], expected.At(x, 2)[channel], 1) << x << " " << channel;
    }
}

// A bitmap another library decoded is taken as a 32-bit BMP is: the fourth byte of its pixels is
// their opacity, unless it is 0 throughout (unused) or 255 throughout (opaque).
TEST(KestovaIO, ADecodedBitmapsFourthByteIsItsOpacityUnlessUnused) {
    const struct {
        const char* what;
        std::array<uint8_t, 3> opacity;
        bool hasAlpha;
    } cases[] = {{"unused", {0, 0, 0}, false}, {"opaque", {255, 255, 255}, false}, {"transparent", {0, 128, 255}, true}};
    const TKVRGB back{0xC0, 0x80, 0x30};  // blue, green, red
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TBitmap decoded;
        decoded.SetPixelFormat(TPixelFormat::pf32bit);
        decoded.SetSize(3, 1);
        for (int x = 0; x < 3; ++x) {
            uint8_t* pixel = decoded.ScanLine(0) + 4 * x;
            pixel[0] = pixel[1] = 0;
            pixel[2] = 255;
            pixel[3] = c.opacity[size_t(x)];
        }
        // Kept by a component of its own, shown over the background where attached to a class-library bitmap.
        TKestovaIO own;
        own.LoadFromTBitmap(decoded);
        ASSERT_FALSE(own.AbortFlag);
        ASSERT_EQ(own.WorkBitmap().GetHasAlphaChannel(), c.hasAlpha);
        TBitmap picture;
        TKestovaIO attached;
        attached.AttachTBitmap(&picture);
        attached.SetBackground(0xC08030);
        attached.LoadFromTBitmap(decoded);
        ASSERT_EQ(picture.Width(), 3);
        EXPECT_EQ(picture.PixelFormat(), TPixelFormat::pf24bit);
        for (int x = 0; x < 3; ++x) {
            const int a = c.hasAlpha ? c.opacity[size_t(x)] : 255;
            if (c.hasAlpha) EXPECT_EQ(own.WorkBitmap().GetAlpha(x, 0), a);
            const TColor shown = picture.Pixel(x, 0);
            EXPECT_NEAR(int(shown & 0xFF), back.r + (255 - back.r) * a / 255, 1) << x;
            EXPECT_NEAR(int(shown >> 8 & 0xFF), back.g * (255 - a) / 255, 1) << x;
            EXPECT_NEAR(int(shown >> 16 & 0xFF), back.b * (255 - a) / 255, 1) << x;
        }
    }
}

TEST(KestovaIO, SavesOnlyCompleteFiles) {
    TScratchFolder folder;
    const std::string bmp = BmpOf(folder, 30, 20);
    const std::string target = folder.Path("target.bmp");
    WriteFile(target, "old content");

    TKestovaIO io;
    io.LoadFromFile(bmp);
    ASSERT_FALSE(io.AbortFlag);
    // The caller stops the save half way: the old file stays, no partial file is left.
    io.OnProgress = [&io](TObject*, int per) {
        if (per > 40 && per < 100) io.AbortFlag = true;
    };
    io.SaveToFile(target);
    EXPECT_TRUE(io.AbortFlag);
    EXPECT_EQ(ReadFile(target), "old content");
    EXPECT_EQ(folder.Files(), (std::vector<std::string>{"p.bmp", "p.ppm", "target.bmp"}));

    io.OnProgress = nullptr;
    io.SaveToFile(folder.Path("x.unknown"));
    EXPECT_TRUE(io.AbortFlag);
    io.SaveToFile(target);
    ASSERT_FALSE(io.AbortFlag);
    EXPECT_TRUE(SamePixels(ReadWithImageMagick(target), ReadWithImageMagick(bmp)));
}

// The engine measures pictures without decoding them.
TEST(KestovaIO, ReadsParametersWithoutPixels) {
    TScratchFolder folder;
    WriteFile(folder.Path("q.ppm"), PatternPpm(33, 17));
    const std::string jpeg = MakeFixture(folder.Path("p.jpg"), "cjpeg " + Quoted(folder.Path("q.ppm")) + " > " + Quoted(folder.Path("p.jpg")));
    const std::string bmp = BmpOf(folder, 21, 11);
    for (const auto& [path, type, width] : {std::tuple{jpeg, kvftJPEG, 33}, std::tuple{bmp, kvftBMP, 21},
                                            std::tuple{folder.Path("q.ppm"), kvftPXM, 33}}) {
        TWatched w;
        w.io.ParamsFromFile(path);
        EXPECT_EQ(w.io.Params().FileType, type) << path;
        EXPECT_EQ(w.io.Params().Width, width) << path;
        EXPECT_EQ(w.io.Params().FileName, path);
        EXPECT_TRUE(w.io.WorkBitmap().IsEmpty());
        EXPECT_EQ(w.finished, 1);
    }
    TKestovaIO io;
    WriteFile(folder.Path("bad.bmp"), "BM nothing else");
    io.ParamsFromFile(folder.Path("bad.bmp"));
    EXPECT_EQ(io.Params().FileType, kvftNone);
    io.ParamsFromFile(folder.Path("missing.bmp"));
    EXPECT_EQ(io.Params().FileType, kvftNone);
}

namespace {

// A video of three gray frames.
class TFakeVideo : public TKVMediaProvider {
public:
    int Open(const std::string&, TIOParamsVals&) override { return 3; }
    bool LoadFrame(int index, TKVBitmap& bitmap, TIOParamsVals&) override {
        bitmap.Allocate(2, 2, kv24RGB);
        bitmap.Fill(0x010101 * (index + 1));
        return index < 3;
    }
};

}  // namespace

TEST(KestovaIO, VideoAndScannersThroughTheirProviders) {
    TKestovaIO io;
    EXPECT_EQ(io.OpenMediaFile("clip.avi"), 0);
    EXPECT_FALSE(io.SelectAcquireSource(0));
    EXPECT_FALSE(io.Acquire(0));
    EXPECT_TRUE(io.AbortFlag);

    SetMediaProviderFactory([] { return std::make_unique<TFakeVideo>(); });
    EXPECT_EQ(GetFileFrameCount("clip.avi"), 3);
    io.LoadFromFile("clip.AVI");
    EXPECT_FALSE(io.AbortFlag);
    EXPECT_EQ(io.Params().FileType, kvftAVI);
    EXPECT_EQ(io.OpenMediaFile("clip.avi"), 3);
    io.LoadMediaFrame(2);
    EXPECT_FALSE(io.AbortFlag);
    EXPECT_EQ(io.WorkBitmap().GetPixelRGB(0, 0).r, 3);
    io.LoadMediaFrame(5);
    EXPECT_TRUE(io.AbortFlag);
    io.CloseMediaFile();
    EXPECT_FALSE(io.IsMediaFileOpen());
    SetMediaProviderFactory(nullptr);
}

TEST(KestovaIO, AutoAdjustDPIMakesPixelsSquare) {
    TKestovaIO writer;
    writer.WorkBitmap().Allocate(8, 4, kv24RGB);
    writer.WorkBitmap().FillRect(4, 0, 7, 3, 0x0000FF);
    writer.Params().SetDpiX(200);
    writer.Params().SetDpiY(100);
    TMemoryStream wide;
    writer.SaveToStreamFormat(wide, kvftBMP);

    TKestovaIO io;
    io.AutoAdjustDPI = true;
    wide.SetPosition(0);
    io.LoadFromStream(wide);
    ASSERT_FALSE(io.AbortFlag);
    EXPECT_EQ(io.WorkBitmap().GetWidth(), 8);
    EXPECT_EQ(io.WorkBitmap().GetHeight(), 8);
    EXPECT_EQ(io.Params().DpiY(), 200);
    EXPECT_EQ(io.WorkBitmap().GetPixelRGB(5, 7).r, 255);

    // Filtered, a 1-bit picture becomes 24-bit.
    writer.WorkBitmap().Allocate(8, 4, kv1Bit);
    writer.WorkBitmap().FillRect(4, 0, 7, 3, 0xFFFFFF);
    TMemoryStream twoTone;
    writer.SaveToStreamFormat(twoTone, kvftBMP);
    twoTone.SetPosition(0);
    io.FilteredAdjustDPI = true;
    io.LoadFromStream(twoTone);
    ASSERT_FALSE(io.AbortFlag);
    EXPECT_EQ(io.WorkBitmap().GetPixelFormat(), kv24RGB);
    EXPECT_EQ(io.WorkBitmap().GetHeight(), 8);
    EXPECT_EQ(io.WorkBitmap().GetPixelRGB(0, 4), (TKVRGB{}));
    EXPECT_EQ(io.WorkBitmap().GetPixelRGB(7, 4), (TKVRGB{255, 255, 255}));
    io.FilteredAdjustDPI = false;

    // Resolutions of 2 and 65000 dots per inch would ask for a picture 32500 times wider.
    writer.WorkBitmap().Allocate(20, 1000, kv24RGB);
    writer.Params().SetDpiX(2);
    writer.Params().SetDpiY(65000);
    TMemoryStream tall;
    writer.SaveToStreamFormat(tall, kvftBMP);
    tall.SetPosition(0);
    io.LoadFromStream(tall);
    EXPECT_TRUE(io.AbortFlag);
    EXPECT_TRUE(io.WorkBitmap().IsEmpty());
}

TEST(KestovaIO, JpegStreamHeadersAndIptcData) {
    TKestovaIO io;
    io.WorkBitmap().Allocate(16, 8, kv24RGB);
    io.WorkBitmap().Fill(0x3060C0);
    io.StreamHeaders = true;
    TMemoryStream stream;
    io.SaveToStreamFormat(stream, kvftJPEG);
    io.WorkBitmap().Allocate(5, 3, kv24RGB);
    io.SaveToStreamFormat(stream, kvftJPEG);
    ASSERT_FALSE(io.AbortFlag);
    EXPECT_EQ(StreamBytesOf(stream).substr(0, 4), "JFIF");

    // Pictures stored one after another read back one after another.
    stream.SetPosition(0);
    TKestovaIO back;
    for (const int width : {16, 5}) {
        back.LoadFromStream(stream);
        ASSERT_FALSE(back.AbortFlag);
        EXPECT_EQ(back.WorkBitmap().GetWidth(), width);
    }
    EXPECT_EQ(stream.Position(), stream.Size());

    // IPTC data sets travel in the JPEG file's APP13 marker.
    TScratchFolder folder;
    const std::string caption = "A caption";
    io.Params().IptcInfo.AddDataSet(2, 120, uint32_t(caption.size()), caption.data());
    io.SaveToFile(folder.Path("c.jpg"));
    ASSERT_FALSE(io.AbortFlag);
    EXPECT_TRUE(Contains(RunTool("exiftool -IPTC:Caption-Abstract " + Quoted(folder.Path("c.jpg"))).output, caption));
    back.LoadFromFile(folder.Path("c.jpg"));
    ASSERT_FALSE(back.AbortFlag);
    ASSERT_EQ(back.Params().IptcInfo.Count(), 1);
    const std::vector<uint8_t>& data = back.Params().IptcInfo.GetData(0);
    EXPECT_EQ(std::string(data.begin(), data.end()), caption);
}

// PNG and GIF pictures through the component: transparency as the alpha channel, animated
// pictures frame by frame as a viewer shows them.
TEST(KestovaIO, PngAndGifFrameByFrame) {
    TScratchFolder folder;
    TKestovaIO io;
    io.WorkBitmap().Allocate(6, 4, kv24RGB);
    io.WorkBitmap().Fill(0x2040F0);
    io.WorkBitmap().GetAlphaChannel()->FillRect(0, 0, 2, 3, 0);
    io.SaveToFile(folder.Path("a.png"));
    ASSERT_FALSE(io.AbortFlag);
    EXPECT_EQ(RunTool("pngcheck " + Quoted(folder.Path("a.png"))).status, 0);
    TKestovaIO back;
    ASSERT_TRUE(LoadsInto(back, folder.Path("a.png")));
    ASSERT_TRUE(back.WorkBitmap().GetHasAlphaChannel());
    EXPECT_EQ(back.WorkBitmap().GetAlpha(1, 1), 0);
    EXPECT_EQ(back.WorkBitmap().GetAlpha(4, 1), 255);
    EXPECT_EQ(back.WorkBitmap().GetPixelRGB(4, 1), (TKVRGB{0x20, 0x40, 0xF0}));

    const std::string gif = folder.Path("anim.gif");
    MakeFixture(gif, "convert -size 8x6 xc:red \\( -size 4x3 xc:blue -set page +2+1 \\) \\( -size 2x2 xc:lime -set page +5+3 \\) -set dispose none " + Quoted(gif));
    EXPECT_EQ(GetFileFrameCount(gif), 3);
    for (int frame = 0; frame < 3; ++frame) {
        TKestovaIO reader;
        reader.Params().SetImageIndex(frame);
        ASSERT_TRUE(LoadsInto(reader, gif)) << frame;
        const TRgbImage expected = ParsePpm(
            RunTool("convert " + Quoted(gif) + " -coalesce " + Quoted(folder.Path("f-%d.ppm")) + " && cat " +
                        Quoted(folder.Path("f-" + std::to_string(frame) + ".ppm")), false).output);
        EXPECT_TRUE(SamePixels(PixelsOf(reader.WorkBitmap()), expected)) << frame;
        EXPECT_EQ(reader.Params().ImageCount(), 3);
    }
}

TEST(KestovaIO, NamedFormatOperationsIgnoreTheExtension) {
    using TSaveFile = void (TKestovaIO::*)(const std::string&);
    using TLoadFile = void (TKestovaIO::*)(const std::string&);
    using TSaveStream = void (TKestovaIO::*)(TStream&);
    using TLoadStream = void (TKestovaIO::*)(TStream&);
    const struct {
        int type;
        TSaveFile saveFile;
        TLoadFile loadFile;
        TSaveStream saveStream;
        TLoadStream loadStream;
    } formats[] = {
        {kvftBMP, &TKestovaIO::SaveToFileBMP, &TKestovaIO::LoadFromFileBMP, &TKestovaIO::SaveToStreamBMP, &TKestovaIO::LoadFromStreamBMP},
        {kvftPNG, &TKestovaIO::SaveToFilePNG, &TKestovaIO::LoadFromFilePNG, &TKestovaIO::SaveToStreamPNG, &TKestovaIO::LoadFromStreamPNG},
        {kvftPCX, &TKestovaIO::SaveToFilePCX, &TKestovaIO::LoadFromFilePCX, &TKestovaIO::SaveToStreamPCX, &TKestovaIO::LoadFromStreamPCX},
        {kvftTGA, &TKestovaIO::SaveToFileTGA, &TKestovaIO::LoadFromFileTGA, &TKestovaIO::SaveToStreamTGA, &TKestovaIO::LoadFromStreamTGA},
        {kvftDCX, &TKestovaIO::SaveToFileDCX, &TKestovaIO::LoadFromFileDCX, &TKestovaIO::SaveToStreamDCX, &TKestovaIO::LoadFromStreamDCX},
    };
    TScratchFolder folder;
    TKestovaIO source;
    ASSERT_TRUE(LoadsInto(source, BmpOf(folder, 7, 5)));
    const TRgbImage expected = PixelsOf(source.WorkBitmap());
    for (const auto& format : formats) {
        const std::string path = folder.Path("picture" + std::to_string(format.type) + ".bin");
        (source.*format.saveFile)(path);
        ASSERT_FALSE(source.AbortFlag) << format.type;
        EXPECT_EQ(DetectFileFormat(path, false), format.type);
        TKestovaIO fromFile;
        (fromFile.*format.loadFile)(path);
        ASSERT_FALSE(fromFile.AbortFlag) << format.type;
        EXPECT_TRUE(SamePixels(PixelsOf(fromFile.WorkBitmap()), expected)) << format.type;
        EXPECT_EQ(fromFile.Params().FileType, format.type);

        TMemoryStream stream;
        (source.*format.saveStream)(stream);
        ASSERT_FALSE(source.AbortFlag) << format.type;
        stream.SetPosition(0);
        TKestovaIO fromStream;
        (fromStream.*format.loadStream)(stream);
        ASSERT_FALSE(fromStream.AbortFlag) << format.type;
        EXPECT_TRUE(SamePixels(PixelsOf(fromStream.WorkBitmap()), expected)) << format.type;
    }

    // Output-only formats, and a loader of another format on a bitmap file.
    source.SaveToFilePDF(folder.Path("picture.out"));
    ASSERT_FALSE(source.AbortFlag);
    EXPECT_TRUE(QpdfChecks(folder.Path("picture.out")));
    source.SaveToFilePS(folder.Path("picture.out"));
    ASSERT_FALSE(source.AbortFlag);
    EXPECT_TRUE(ReadFile(folder.Path("picture.out")).starts_with("%!PS"));
    TKestovaIO wrong;
    wrong.LoadFromFilePNG(folder.Path("p.bmp"));
    EXPECT_TRUE(wrong.AbortFlag);
    EXPECT_TRUE(wrong.WorkBitmap().IsEmpty());
}

TEST(KestovaIO, PagesAndFramesAreCountedAndSelected) {
    TScratchFolder folder;
    const std::string colours = "xc:red xc:lime xc:blue";
    const std::string tiff = MakeFixture(folder.Path("pages.tif"), "convert -size 6x4 " + colours + " " + Quoted(folder.Path("pages.tif")));
    const std::string gif = MakeFixture(folder.Path("frames.gif"), "convert -size 6x4 " + colours + " " + Quoted(folder.Path("frames.gif")));
    const TKVRGB blue{.b = 255}, green{.g = 255};
    for (const bool isTiff : {true, false}) {
        const std::string& path = isTiff ? tiff : gif;
        TKestovaIO io;
        io.Params().SetImageIndex(2);
        EXPECT_EQ(isTiff ? io.LoadFromFileTIFF(path) : io.LoadFromFileGIF(path), 3) << path;
        ASSERT_FALSE(io.AbortFlag) << path;
        EXPECT_EQ(io.WorkBitmap().GetPixelRGB(3, 2), blue) << path;

        // From a stream, behind other data, which the count leaves in place.
        TMemoryStream stream;
        const std::string bytes = "prefix" + ReadFile(path);
        stream.WriteBuffer(bytes.data(), int64_t(bytes.size()));
        stream.SetPosition(6);
        io.Params().SetImageIndex(1);
        EXPECT_EQ(isTiff ? io.LoadFromStreamTIFF(stream) : io.LoadFromStreamGIF(stream), 3) << path;
        ASSERT_FALSE(io.AbortFlag) << path;
        EXPECT_EQ(io.WorkBitmap().GetPixelRGB(3, 2), green) << path;
    }

    // A file of another format counts nothing and loads nothing.
    TKestovaIO io;
    EXPECT_EQ(io.LoadFromFileTIFF(gif), 0);
    EXPECT_TRUE(io.AbortFlag);
    // Camera raw decoding is not built.
    io.LoadFromFileRAW(tiff);
    EXPECT_TRUE(io.AbortFlag);
}

namespace {

// A view that keeps its own TKVBitmap and records what the component tells it.
class TRecordingView : public TKVView {
public:
    TKVBitmap bitmap;
    int dpiX = 0, dpiY = 0, updates = 0, imageChanges = 0;
    void SetDpiX(int dpi) override {
        dpiX = dpi;
        TKVView::SetDpiX(dpi);
    }
    void SetDpiY(int dpi) override {
        dpiY = dpi;
        TKVView::SetDpiY(dpi);
    }
    TKVBitmap* GetKVBitmap() override { return &bitmap; }
    void Update() override { ++updates; }
    void DoImageChange() override { ++imageChanges; }
};

}  // namespace

TEST(KestovaIO, AnAttachedViewShowsEveryLoadUntilItGoes) {
    TScratchFolder folder;
    const std::string bmp = BmpOf(folder, 9, 6);
    TKestovaIO io;
    io.SetBackground(clRed);
    auto view = std::make_unique<TRecordingView>();
    view->SetBackground(clBlue);
    io.SetAttachedKestova(view.get());
    EXPECT_EQ(io.AttachedKestova(), view.get());
    // While a view is attached its background counts and the component's own is kept.
    EXPECT_EQ(io.Background(), clBlue);
    io.SetBackground(clLime);

    io.LoadFromFile(bmp);
    ASSERT_FALSE(io.AbortFlag);
    EXPECT_EQ(&io.WorkBitmap(), &view->bitmap);
    EXPECT_TRUE(SamePixels(PixelsOf(view->bitmap), ReadWithImageMagick(bmp)));
    EXPECT_EQ(view->updates, 1);
    EXPECT_EQ(view->imageChanges, 1);
    EXPECT_EQ(view->dpiX, io.Params().DpiX());

    // A view that goes leaves the component with a bitmap of its own, not a dangling one.
    view.reset();
    EXPECT_EQ(io.AttachedKestova(), nullptr);
    EXPECT_TRUE(io.OwnsWorkBitmap());
    EXPECT_EQ(io.Background(), clRed);
    io.LoadFromFile(bmp);
    EXPECT_FALSE(io.AbortFlag);
    EXPECT_EQ(io.WorkBitmap().GetWidth(), 9);

    // Attaching a bitmap detaches a view: its loads no longer reach the view.
    TRecordingView second;
    io.SetAttachedKestova(&second);
    TKVBitmap mine;
    io.AttachBitmap(&mine);
    EXPECT_EQ(io.AttachedKestova(), nullptr);
    io.LoadFromFile(bmp);
    EXPECT_EQ(second.updates, 0);
    EXPECT_EQ(mine.GetWidth(), 9);
}

namespace {

// A scanner that hands over one page of a chosen size and resolution, and can call back into the
// component while it scans.
class TFakeScanner : public TKVAcquireProvider {
public:
    struct TState {
        int calls = 0;
        bool succeed = true;
        int width = 8, height = 4, dpiX = 200, dpiY = 100;
        std::function<void()> whileScanning;
        TObject* wiaOwner = nullptr;
        std::function<bool(int)> wiaProgress;
    };
    explicit TFakeScanner(TState& state) : state_(state) {}
    bool SelectSource(int) override { return true; }
    bool Acquire(int, TKVBitmap& bitmap, TIOParamsVals& params, TKVProgressRec& progress) override {
        ++state_.calls;
        if (state_.whileScanning) state_.whileScanning();
        if (progress.OnProgress) progress.OnProgress(progress.Sender, 50);
        if (!state_.succeed) return false;
        bitmap.Allocate(state_.width, state_.height, kv24RGB);
        bitmap.Fill(0x204060);
        params.Width = state_.width;
        params.Height = state_.height;
        params.SetDpiX(state_.dpiX);
        params.SetDpiY(state_.dpiY);
        return true;
    }
    TKVWia* Wia(TObject* owner, TIOParamsVals*, std::function<bool(int)> progress) override {
        state_.wiaOwner = owner;
        state_.wiaProgress = std::move(progress);
        return nullptr;
    }

private:
    TState& state_;
};

struct TInstalledFakeScanner {
    TFakeScanner::TState state;
    TInstalledFakeScanner() {
        SetAcquireProviderFactory([this] { return std::make_unique<TFakeScanner>(state); });
    }
    ~TInstalledFakeScanner() { SetAcquireProviderFactory(nullptr); }
};

}  // namespace

TEST(KestovaIO, AnAcquiredPageIsAdjustedShownAndFinished) {
    TInstalledFakeScanner scanner;
    TWatched w;
    w.io.AutoAdjustDPI = true;
    TRecordingView view;
    w.io.SetAttachedKestova(&view);
    // A second acquisition asked for while one runs returns at once and scans nothing.
    bool nested = false;
    scanner.state.whileScanning = [&] { nested = w.io.Acquire(0); };
    int finishedWhileAcquiring = -1;
    w.io.OnFinishWork = [&](TObject*) {
        ++w.finished;
        finishedWhileAcquiring = w.io.Acquiring();
    };

    ASSERT_TRUE(w.io.Acquire(0));
    EXPECT_TRUE(nested);
    EXPECT_EQ(scanner.state.calls, 1);
    EXPECT_FALSE(w.io.AbortFlag);
    // 8 x 4 at 200 x 100 dpi: the height doubles to square pixels at 200 dpi.
    EXPECT_EQ(view.bitmap.GetWidth(), 8);
    EXPECT_EQ(view.bitmap.GetHeight(), 8);
    EXPECT_EQ(w.io.Params().DpiY(), 200);
    EXPECT_EQ(view.dpiX, 200);
    EXPECT_EQ(view.dpiY, 200);
    EXPECT_EQ(view.updates, 1);
    EXPECT_EQ(view.imageChanges, 1);
    EXPECT_EQ(w.finished, 1);
    EXPECT_EQ(finishedWhileAcquiring, 0);
    EXPECT_EQ(w.percents, (std::vector<int>{50, 100}));

    // Over, it may run again; a source that gives nothing fails and still finishes.
    scanner.state.whileScanning = nullptr;
    scanner.state.succeed = false;
    EXPECT_FALSE(w.io.Acquire(0));
    EXPECT_EQ(scanner.state.calls, 2);
    EXPECT_TRUE(w.io.AbortFlag);
    EXPECT_EQ(w.finished, 2);
    EXPECT_FALSE(w.io.Acquiring());
}

TEST(KestovaIO, APageHandedOverTakesItsOwnResolutionUnlessAHandlerTakesIt) {
    TKestovaIO io;
    io.AutoAdjustDPI = true;
    io.Params().SetDpiX(300);
    io.Params().SetDpiY(300);
    TKVBitmap page;
    page.Allocate(10, 20, kv24RGB);
    TIOParamsVals scanned(nullptr);
    scanned.Width = 10;
    scanned.Height = 20;
    scanned.SetDpiX(100);
    scanned.SetDpiY(200);

    std::vector<TKVBitmap*> offered;
    bool handle = true;
    io.OnAcquireBitmap = [&](TObject* sender, TKVBitmap& bitmap, bool& handled) {
        EXPECT_EQ(sender, &io);
        offered.push_back(&bitmap);
        handled = handle;
    };
    TIOParamsVals* params = &scanned;
    io.DoAcquireBitmap(page, params);
    EXPECT_EQ(offered, std::vector<TKVBitmap*>{&page});
    EXPECT_EQ(params, &scanned);
    EXPECT_TRUE(io.WorkBitmap().IsEmpty());

    // Stored: resampled by the page's 100 x 200 dpi, not by what the record held before.
    handle = false;
    io.DoAcquireBitmap(page, params);
    ASSERT_EQ(params, &io.Params());
    EXPECT_EQ(io.WorkBitmap().GetWidth(), 20);
    EXPECT_EQ(io.WorkBitmap().GetHeight(), 20);
    EXPECT_EQ(params->Width, 20);
    EXPECT_EQ(params->Height, 20);
    EXPECT_EQ(params->DpiX(), 200);

    // A descendant may take pages itself in place of the event.
    struct TTakingIO : TKestovaIO {
        int taken = 0;
        void DoAcquireBitmapEvent(TKVBitmap&, bool& handled) override {
            ++taken;
            handled = true;
        }
    } taking;
    params = nullptr;
    taking.DoAcquireBitmap(page, params);
    EXPECT_EQ(taking.taken, 1);
    EXPECT_EQ(params, nullptr);
    EXPECT_TRUE(taking.WorkBitmap().IsEmpty());
}

// Acquire hands its page over like any scanner layer: the event sees it first and may keep it.
TEST(KestovaIO, AcquireOffersItsPageToTheEventFirst) {
    TInstalledFakeScanner scanner;
    scanner.state.dpiX = scanner.state.dpiY = 150;
    struct Case {
        const char* what;
        bool handle;
    };
    for (const Case c : {Case{"stored", false}, Case{"taken by the handler", true}}) {
        SCOPED_TRACE(c.what);
        TWatched w;
        TRecordingView view;
        view.bitmap.Allocate(3, 3, kv8Gray);
        w.io.SetAttachedKestova(&view);
        std::vector<std::pair<int, int>> offered;
        w.io.OnAcquireBitmap = [&](TObject* sender, TKVBitmap& page, bool& handled) {
            EXPECT_EQ(sender, &w.io);
            EXPECT_NE(&page, &view.bitmap);
            offered.emplace_back(page.GetWidth(), page.GetHeight());
            handled = c.handle;
        };
        ASSERT_TRUE(w.io.Acquire(0));
        EXPECT_FALSE(w.io.AbortFlag);
        EXPECT_EQ(offered, (std::vector<std::pair<int, int>>{{8, 4}}));
        EXPECT_EQ(view.bitmap.GetWidth(), c.handle ? 3 : 8);
        EXPECT_EQ(view.updates, c.handle ? 0 : 1);
        EXPECT_EQ(view.dpiX, 150);  // the record describes the page either way
        EXPECT_EQ(w.finished, 1);
    }

    // A descendant that takes pages in place of the component gets Acquire's too.
    struct TTakingIO : TKestovaIO {
        std::vector<int> widths;
        void DoAcquireBitmap(TKVBitmap& page, TIOParamsVals*& params) override {
            widths.push_back(page.GetWidth());
            EXPECT_EQ(params, &Params());
        }
    } taking;
    ASSERT_TRUE(taking.Acquire(0));
    EXPECT_EQ(taking.widths, std::vector<int>{8});
    EXPECT_TRUE(taking.WorkBitmap().IsEmpty());
}

// A video frame shows in the attached view, without finishing: frames come one after another.
TEST(KestovaIO, AMediaFrameShowsInTheAttachedView) {
    SetMediaProviderFactory([] { return std::make_unique<TFakeVideo>(); });
    TKestovaIO io;
    TRecordingView view;
    io.SetAttachedKestova(&view);
    int finished = 0;
    io.OnFinishWork = [&](TObject*) { ++finished; };
    ASSERT_EQ(io.OpenMediaFile("clip.avi"), 3);
    io.LoadMediaFrame(1);
    EXPECT_FALSE(io.AbortFlag);
    EXPECT_EQ(view.bitmap.GetPixelRGB(0, 0).r, 2);
    EXPECT_EQ(view.updates, 1);
    EXPECT_EQ(view.imageChanges, 1);
    EXPECT_EQ(finished, 0);
    io.CloseMediaFile();
    SetMediaProviderFactory(nullptr);
}

// The view's resolution is the picture's: a view whose image is replaced hands it to the record.
TEST(KestovaIO, AViewsChangeHandsItsResolutionToTheRecord) {
    TKestovaIO io;
    TRecordingView view;
    io.SetAttachedKestova(&view);
    io.Params().SetDpiX(300);
    io.Params().SetDpiY(300);
    view.CallChangeHandlers();  // a view that was never told a resolution leaves the record
    EXPECT_EQ(io.Params().DpiX(), 300);
    view.SetDPI(150, 0);
    view.CallChangeHandlers();
    EXPECT_EQ(io.Params().DpiX(), 150);
    EXPECT_EQ(io.Params().DpiY(), 300);
    view.SetDPI(0, 72);
    view.CallChangeHandlers();
    EXPECT_EQ(io.Params().DpiX(), 150);
    EXPECT_EQ(io.Params().DpiY(), 72);
}

TEST(KestovaIO, ARefreshMarksAnAttachedClassLibraryBitmapChanged) {
    TKestovaIO io;
    TBitmap shown;
    shown.SetPixelFormat(TPixelFormat::pf24bit);
    shown.SetSize(4, 4);
    io.AttachTBitmap(&shown);
    int changes = 0;
    shown.OnChange = [&](TObject* sender) {
        EXPECT_EQ(sender, &shown);
        ++changes;
    };
    io.RefreshAttached();
    EXPECT_EQ(changes, 1);
    EXPECT_TRUE(shown.Modified());
}

TEST(KestovaIO, TheWorkBitmapIsCheckedAgainstTheFormatsAllowed) {
    struct Case {
        TKVPixelFormat format;
        std::initializer_list<TKVPixelFormat> allowed;
        bool passes;
    };
    const Case cases[] = {
        {kv24RGB, {}, true},      {kv8Gray, {}, true},          {kv24RGB, {kv24RGB}, true},
        {kv8Gray, {kv24RGB}, false}, {kv1Bit, {kv8Gray, kv1Bit}, true},
    };
    for (const Case& c : cases) {
        TKestovaIO io;
        io.WorkBitmap().Allocate(2, 2, c.format);
        EXPECT_EQ(io.CheckWorkBitmap(c.allowed), c.passes) << int(c.format);
    }
}

// ASCII art reads the caller's class-library bitmap as it is now, not as it was when attached.
TEST(KestovaIO, TextOfAnAttachedBitmapFollowsItsOwnersChanges) {
    TScratchFolder folder;
    TKestovaIO io;
    TBitmap shown;
    shown.SetPixelFormat(TPixelFormat::pf24bit);
    shown.SetSize(2, 1);
    io.AttachTBitmap(&shown);
    shown.SetSize(3, 2);  // its owner makes it larger
    for (int y = 0; y < 2; ++y) std::memset(shown.ScanLine(y), 0xFF, 9);
    const std::string name = folder.Path("art.txt");
    io.SaveToText(name, kvftBMP, tkAsciiArt);
    EXPECT_EQ(ReadFile(name), "   \r\n   \r\n");
    // Only 24-bit pictures are drawn as text.
    shown.SetPixelFormat(TPixelFormat::pf8bit);
    io.SaveToText(name, kvftBMP, tkAsciiArt);
    EXPECT_EQ(ReadFile(name), "");
}

TEST(KestovaIO, TheWiaObjectReportsThroughTheComponent) {
    TKestovaIO io;
    EXPECT_EQ(io.GetWia(), nullptr);  // no scanner library
    TInstalledFakeScanner scanner;
    std::vector<int> percents;
    io.OnProgress = [&](TObject* sender, int per) {
        EXPECT_EQ(sender, &io);
        percents.push_back(per);
    };
    io.GetWia();
    EXPECT_EQ(scanner.state.wiaOwner, &io);
    ASSERT_TRUE(scanner.state.wiaProgress);
    EXPECT_TRUE(scanner.state.wiaProgress(30));
    io.AbortFlag = true;
    EXPECT_FALSE(scanner.state.wiaProgress(60));
    EXPECT_EQ(percents, (std::vector<int>{30, 60}));
}

TEST(KestovaIO, PreviewSettingsAndTheNativePixelFormat) {
    TKestovaIO io;
    EXPECT_EQ(io.PreviewsParams, 0u);
    EXPECT_TRUE(io.SimplifiedParamsDialogs);
    EXPECT_EQ(io.DialogsMeasureUnit, kvduInches);
    EXPECT_EQ(io.MsgLanguage, msSystem);
    EXPECT_EQ(io.DitherMode(), 1);
    EXPECT_FALSE(io.NativePixelFormat());

    // The font is copied, not shared.
    TFont font;
    font.Name = "Liberation Serif";
    font.Size = 13;
    io.SetPreviewFont(font);
    font.Name = "changed";
    EXPECT_EQ(io.PreviewFont().Name, "Liberation Serif");
    EXPECT_EQ(io.PreviewFont().Size, 13);

    io.SetDitherMode(0);
    EXPECT_EQ(io.DitherMode(), 0);
    EXPECT_EQ(io.WorkBitmap().DitherMode(), 0);

    // The record's flag: a 16-bit colour map keeps its depth only with it.
    const std::string deep = std::string("P6\n1 1\n65535\n") + std::string("\x12\x34\xAB\xCD\x00\x01", 6);
    for (const bool native : {false, true}) {
        io.SetNativePixelFormat(native);
        EXPECT_EQ(io.Params().IsNativePixelFormat, native);
        EXPECT_EQ(io.NativePixelFormat(), native);
        io.LoadFromBuffer(deep.data(), int64_t(deep.size()), kvftNone);
        ASSERT_FALSE(io.AbortFlag);
        EXPECT_EQ(io.WorkBitmap().GetPixelFormat(), native ? kvRGB48 : kv24RGB);
    }
}

TEST(KestovaIO, PreviewsGoThroughTheInstalledDialogUnlessAHandlerTakesOver) {
    TKestovaIO io;
    std::vector<uint16_t> shown;
    bool confirm = true;
    SetPreviewsDialog([&](TKestovaIO& component, uint16_t pages) {
        EXPECT_EQ(&component, &io);
        EXPECT_EQ(component.WorkBitmap().GetPixelFormat(), kv24RGB);
        shown.push_back(pages);
        return confirm;
    });
    // Nothing to show.
    EXPECT_FALSE(io.DoPreviews(ppJPEG));
    EXPECT_TRUE(shown.empty());

    TRecordingView view;
    io.SetAttachedKestova(&view);
    io.WorkBitmap().Allocate(4, 4, kv8Gray);  // shown as 24-bit
    EXPECT_TRUE(io.DoPreviews(ppJPEG | ppPNG));
    confirm = false;
    EXPECT_FALSE(io.DoPreviews(ppTIFF));
    EXPECT_EQ(shown, (std::vector<uint16_t>{ppJPEG | ppPNG, ppTIFF}));
    EXPECT_EQ(view.updates, 2);  // the view shows what the dialog left

    // A handler that takes over: true, and no dialog.
    int asked = 0;
    io.OnDoPreviews = [&](TObject* sender, bool& handled) {
        EXPECT_EQ(sender, &io);
        ++asked;
        handled = asked == 1;
    };
    EXPECT_TRUE(io.DoPreviews(ppTIFF));
    EXPECT_EQ(shown.size(), 2u);
    EXPECT_FALSE(io.DoPreviews(ppTIFF));  // not handled: the dialog, cancelled
    EXPECT_EQ(shown.size(), 3u);
    SetPreviewsDialog(nullptr);
    io.OnDoPreviews = nullptr;
    EXPECT_FALSE(io.DoPreviews(ppTIFF));  // no dialog installed
}

TEST(KestovaIO, AnImageControlsPictureIsLoadedIntoUntilItGoes) {
    TScratchFolder folder;
    const std::string bmp = BmpOf(folder, 7, 3);
    TKestovaIO io;
    TRecordingView view;
    io.SetAttachedKestova(&view);
    TBitmap picture;
    io.SetAttachedTImage(&picture);
    EXPECT_EQ(io.AttachedTImage(), &picture);
    EXPECT_EQ(io.AttachedKestova(), nullptr);
    io.LoadFromFile(bmp);
    ASSERT_FALSE(io.AbortFlag);
    EXPECT_EQ(picture.Width(), 7);
    EXPECT_EQ(view.updates, 0);

    // Attaching a view lets go of the control.
    io.SetAttachedKestova(&view);
    EXPECT_EQ(io.AttachedTImage(), nullptr);
    io.SetAttachedTImage(&picture);

    // Another component going changes nothing; the picture going leaves an empty bitmap of the
    // component's own, which later loads fill instead of the picture.
    TBitmap other;
    io.Notification(&other, opRemove);
    io.Notification(&picture, opInsert);
    EXPECT_EQ(io.AttachedTImage(), &picture);
    io.Notification(&picture, opRemove);
    EXPECT_EQ(io.AttachedTImage(), nullptr);
    EXPECT_EQ(io.GetTBitmap(), nullptr);
    EXPECT_TRUE(io.OwnsWorkBitmap());
    EXPECT_TRUE(io.WorkBitmap().IsEmpty());
    picture.SetSize(2, 2);
    io.LoadFromFile(bmp);
    EXPECT_EQ(picture.Width(), 2);
    EXPECT_EQ(io.WorkBitmap().GetWidth(), 7);

    // Detached by nullptr the same way; the view goes by its notification too.
    io.SetAttachedTImage(&picture);
    io.SetAttachedTImage(nullptr);
    EXPECT_EQ(io.GetTBitmap(), nullptr);
    EXPECT_TRUE(io.WorkBitmap().IsEmpty());
    io.SetAttachedKestova(&view);
    io.Notification(&view, opRemove);
    EXPECT_EQ(io.AttachedKestova(), nullptr);
    io.LoadFromFile(bmp);
    EXPECT_EQ(view.updates, 0);
    EXPECT_TRUE(view.bitmap.IsEmpty());
}

// A driver may raise something that is no Exception; the finishing handler must not take the
// half-read picture for a loaded one.
TEST(KestovaIO, AForeignExceptionFromADriverFinishesAsAFailure) {
    TScratchFolder folder;
    constexpr int FaultyType = 1002;
    TKVFileFormatEntry entry;
    entry.FileType = FaultyType;
    entry.Description = "Faulty";
    entry.Extensions = "FLT2";
    entry.ReadHook = [](TStream&, TKVBitmap& bitmap, TIOParamsVals&, bool, TKVProgressRec&) {
        bitmap.Allocate(5, 5, kv24RGB);  // half read
        throw std::runtime_error("driver fault");
    };
    RegisterFileFormat(entry);
    WriteFile(folder.Path("p.flt2"), "data");
    TWatched w;
    bool abortedAtFinish = false;
    bool emptyAtFinish = false;
    w.io.OnFinishWork = [&](TObject*) {
        abortedAtFinish = w.io.AbortFlag;
        emptyAtFinish = w.io.WorkBitmap().IsEmpty();
    };
    EXPECT_THROW(w.io.LoadFromFile(folder.Path("p.flt2")), std::runtime_error);
    EXPECT_TRUE(abortedAtFinish);
    EXPECT_TRUE(emptyAtFinish);
    EXPECT_THROW(w.io.LoadFromFileFormat(folder.Path("p.flt2"), FaultyType), std::runtime_error);
    EXPECT_TRUE(abortedAtFinish);
    UnregisterFileFormat(FaultyType);
}
