#include <gtest/gtest.h>

#include <set>

#include "PictureFixtures.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVStreams.h"
#include "imaging/io/KVFileFormats.h"
#include "imaging/io/KVFormatDetect.h"
#include "imaging/io/KVFormatDrivers.h"
#include "imaging/io/KestovaIO.h"
#include "platform/Classes.h"

namespace {

// Detection from memory, which must leave the stream where it was.
int DetectBytes(const std::string& bytes) {
    TKVMemStream stream(bytes.data(), int64_t(bytes.size()));
    const int type = DetectStreamFormat(stream);
    EXPECT_EQ(stream.Position(), 0);
    return type;
}

}  // namespace

// Every format from its content alone, whatever the file is called.
TEST(KVFormatDetect, FormatsFromContentAlone) {
    TScratchFolder folder;
    WriteFile(folder.Path("p.ppm"), PatternPpm(12, 8));
    const std::string in = Quoted(folder.Path("p.ppm"));
    const struct {
        const char* name;  // misleading on purpose
        std::string command;
        int type;
    } cases[] = {
        {"a.png", "ppmtobmp " + in, kvftBMP},
        {"b.gif", "convert " + in + " -define icon:auto-resize=16 ico:-", kvftICO},
        {"c.bmp", "cat " + in, kvftPXM},
        {"d.ico", "ppmtopgm " + in + " | pgmtopbm | pnmtoplainpnm", kvftPXM},
        {"e.bmp", "cjpeg " + in, kvftJPEG},
        {"f.bmp", "cjpeg -progressive -grayscale " + in, kvftJPEG},
        {"g.jpg", "pnmtopng " + in, kvftPNG},
        {"h.jpg", "convert " + in + " gif:-", kvftGIF},
        {"i.jpg", "convert " + in + " tiff:-", kvftTIFF},
        {"j.jpg", "convert " + in + " -compress JPEG tiff:-", kvftTIFF},
        {"k.jpg", "convert " + in + " pcx:-", kvftPCX},
        {"l.jpg", "convert " + in + " tga:-", kvftTGA},
        {"m.jpg", "convert " + in + " jp2:-", kvftJP2},
        {"n.jpg", "convert " + in + " j2k:-", kvftJ2K},
        {"o.jpg", "convert " + in + " dcx:-", kvftDCX},
    };
    for (const auto& c : cases) {
        const std::string path = MakeFixture(folder.Path(c.name), c.command + " > " + Quoted(folder.Path(c.name)));
        EXPECT_EQ(DetectFileFormat(path, false), c.type) << c.name << ": " << c.command;
        EXPECT_EQ(DetectBytes(ReadFile(path)), c.type) << c.name;
    }
}

TEST(KVFormatDetect, SignatureEdges) {
    const std::string jpegStart("\xFF\xD8\xFF\xE0", 4);
    EXPECT_EQ(DetectBytes(std::string(99, 'z') + jpegStart + std::string(50, 'z')), kvftJPEG);
    EXPECT_EQ(DetectBytes(std::string(100, 'z') + jpegStart + std::string(50, 'z')), kvftNone);
    // A stream header marks a JPEG even when the picture after it is damaged.
    EXPECT_EQ(DetectBytes(std::string("JFIF\0\0\0\0\4\0\0\0garbage!", 20)), kvftJPEG);
    EXPECT_EQ(DetectBytes("GIF89a" + std::string(7, '\0')), kvftNone);  // 13 bytes only
    // TIFF content holding a JPEG signature is TIFF, which is not read here, never JPEG.
    EXPECT_EQ(DetectBytes(std::string("II*\0\x08\0\0\0\0\0", 10) + jpegStart + std::string(40, '\0')), kvftTIFF);
    EXPECT_EQ(DetectBytes(""), kvftNone);
    EXPECT_EQ(DetectBytes(std::string("RIFF\0\0\0\0AVI LIST", 16)), kvftNone);
}

TEST(KVFormatDetect, ExtensionCheckAndIconFamily) {
    TScratchFolder folder;
    WriteFile(folder.Path("p.ppm"), PatternPpm(8, 8));
    const std::string icon = "convert " + Quoted(folder.Path("p.ppm")) + " ico:- > ";
    const std::string cur = MakeFixture(folder.Path("x.cur"), icon + Quoted(folder.Path("x.cur")));
    const std::string bmp = MakeFixture(folder.Path("x.bmp"), icon + Quoted(folder.Path("x.bmp")));
    const std::string ico = MakeFixture(folder.Path("x.ico"), icon + Quoted(folder.Path("x.ico")));
    EXPECT_EQ(DetectFileFormat(cur, true), kvftCUR);   // an icon named as a cursor is one
    EXPECT_EQ(DetectFileFormat(cur, false), kvftICO);
    EXPECT_EQ(DetectFileFormat(ico, true), kvftICO);
    EXPECT_EQ(DetectFileFormat(bmp, true), kvftNone);  // content and extension disagree
    EXPECT_EQ(DetectFileFormat(folder.Path("missing.bmp"), false), kvftNone);
    EXPECT_EQ(DetectFileFormat("", false), kvftNone);

    // Loading by content takes the icon for what it is, whatever its name.
    TKestovaIO io;
    io.LoadFromFileAuto(cur);
    EXPECT_FALSE(io.AbortFlag);
    EXPECT_EQ(io.Params().FileType, kvftICO);
}

// The registry reaches every driver through its record alone: a picture one record writes, the
// same record must recognise, measure, decode and count.
TEST(KVFormatDrivers, RecordsReadBackWhatTheyWrite) {
    std::set<int> types;
    for (const TKVFormatDriver* driver : FormatDrivers()) {
        EXPECT_TRUE(types.insert(driver->FileType).second) << driver->FileType;
        EXPECT_EQ(driver->Read != nullptr, driver->ReadHeader != nullptr) << driver->FileType;
    }
    for (const int type : {kvftBMP, kvftPNG, kvftJPEG, kvftPCX, kvftTGA, kvftPXM, kvftTIFF, kvftJP2, kvftJ2K, kvftDCX}) {
        TKestovaIO writer;
        writer.WorkBitmap().Allocate(24, 16, kv24RGB);
        TMemoryStream stream;
        writer.SaveToStreamFormat(stream, type);
        ASSERT_FALSE(writer.AbortFlag) << type;
        stream.SetPosition(0);
        TKestovaIO reader;
        reader.ParamsFromStream(stream);
        EXPECT_EQ(reader.Params().FileType, type);
        EXPECT_EQ(reader.Params().Width, 24) << type;
        EXPECT_EQ(reader.Params().Height, 16) << type;
        stream.SetPosition(0);
        reader.LoadFromStream(stream);
        EXPECT_FALSE(reader.AbortFlag) << type;
        EXPECT_EQ(reader.WorkBitmap().GetWidth(), 24) << type;
        EXPECT_EQ(reader.WorkBitmap().GetHeight(), 16) << type;
        const TKVFormatDriver* driver = FindFormatDriver(type);
        stream.SetPosition(0);
        if (driver->PageCount) EXPECT_EQ(driver->PageCount(stream), 1) << type;
    }
}
