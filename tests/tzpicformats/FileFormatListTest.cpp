#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "platform/Classes.h"
#include "platform/Jpeg.h"
#include "tzpicformats/FileFormatList.h"
#include "tzpicformats/PNGGraphic.h"
#include "tzpicformats/PicFormatGraphic.h"
#include "tzpicformats/TargaGraphic.h"

namespace {

const char* ClassName(TGraphicClassRef graphicClass) { return graphicClass ? graphicClass->Name : "(none)"; }

TEST(FileFormatList, RegistersTheFortyKnownExtensionsInOrder) {
    const int R = fkRaster, V = fkVector, MR = fkMultiImage | fkRaster, LR = fkLayered | fkRaster,
               AMR = fkAnimated | fkMultiImage | fkRaster, RV = fkRaster | fkVector;
    const struct {
        const char* extension;
        const char* className;
        const char* description;
        int kinds;
    } expected[] = {
        {"bmp", "TBitmap", "", R}, {"ico", "TIcon", "", R}, {"wmf", "TMetafile", "", V},
        {"emf", "TMetafile", "Windows enhanced meta files", V}, {"jfif", "TJPEGImage", "JFIF images", R},
        {"jpg", "TJPEGImage", "JPG images", R}, {"jpe", "TJPEGImage", "JPE images", R},
        {"jpeg", "TJPEGImage", "JPEG images", R}, {"rle", "TBitmap", "Run length encoded Windows bitmaps", R},
        {"dib", "TBitmap", "Device independant Windows bitmaps", R}, {"win", "TTargaGraphic", "", R},
        {"vst", "TTargaGraphic", "", R}, {"vda", "TTargaGraphic", "", R}, {"tga", "TTargaGraphic", "", R},
        {"icb", "TTargaGraphic", "", R}, {"tiff", "TTIFFGraphic", "Macintosh TIFF images", MR},
        {"tif", "TTIFFGraphic", "PC TIF images", MR}, {"fax", "TTIFFGraphic", "GFI fax images", MR},
        {"eps", "TEPSGraphic", "", R}, {"pcx", "TPCXGraphic", "", R}, {"pcc", "TPCXGraphic", "", R},
        {"scr", "TPCXGraphic", "Word 5.x screen capture images", R}, {"rpf", "TRLAGraphic", "", R},
        {"rla", "TRLAGraphic", "", R}, {"sgi", "TSGIGraphic", "SGI true color images", R},
        {"rgba", "TSGIGraphic", "SGI true color images with alpha", R},
        {"rgb", "TSGIGraphic", "SGI true color images", R}, {"bw", "TSGIGraphic", "SGI black/white images", R},
        {"psd", "TPSDGraphic", "", LR}, {"pdd", "TPSDGraphic", "", LR},
        {"ppm", "TPPMGraphic", "Portable pixel map images", R}, {"pgm", "TPPMGraphic", "Portable gray map images", R},
        {"pbm", "TPPMGraphic", "Portable bitmap images", R}, {"cel", "TAutodeskGraphic", "", R},
        {"pic", "TAutodeskGraphic", "", R}, {"pcd", "TPCDGraphic", "", R}, {"gif", "TGIFGraphic", "", AMR},
        {"cut", "TCUTGraphic", "", R}, {"psp", "TPSPGraphic", "", RV}, {"png", "TPNGGraphic", "", R},
    };
    const auto extensions = RegisteredFormats().Extensions();
    ASSERT_EQ(extensions.size(), std::size(expected));
    for (size_t i = 0; i < extensions.size(); ++i) {
        SCOPED_TRACE(expected[i].extension);
        EXPECT_EQ(extensions[i].Extension, expected[i].extension);
        EXPECT_STREQ(ClassName(extensions[i].GraphicClass), expected[i].className);
        EXPECT_EQ(extensions[i].Description, expected[i].description);
        EXPECT_EQ(extensions[i].Kinds, expected[i].kinds);
    }

    const struct {
        const char* className;
        const char* description;
        int count;
    } classes[] = {
        {"TBitmap", "Windows bitmaps", 3}, {"TIcon", "Windows icons", 1}, {"TMetafile", "Windows metafiles", 2},
        {"TJPEGImage", "JPG images", 4}, {"TTargaGraphic", "Truevision images", 5},
        {"TTIFFGraphic", "Tagged image file format images", 3}, {"TEPSGraphic", "Encapsulated Postscript images", 1},
        {"TPCXGraphic", "ZSoft Paintbrush images", 3}, {"TRLAGraphic", "Alias/Wavefront images", 2},
        {"TSGIGraphic", "SGI images", 4}, {"TPSDGraphic", "Photoshop images", 2},
        {"TPPMGraphic", "Portable map images", 3}, {"TAutodeskGraphic", "Autodesk images", 2},
        {"TPCDGraphic", "Kodak Photo-CD images", 1}, {"TGIFGraphic", "CompuServe images", 1},
        {"TCUTGraphic", "Dr. Halo images", 1}, {"TPSPGraphic", "Paintshop Pro images", 1},
        {"TPNGGraphic", "Portable network graphic images", 1},
    };
    const auto entries = RegisteredFormats().Classes();
    ASSERT_EQ(entries.size(), std::size(classes));
    for (size_t i = 0; i < entries.size(); ++i) {
        SCOPED_TRACE(classes[i].className);
        EXPECT_STREQ(ClassName(entries[i].GraphicClass), classes[i].className);
        EXPECT_EQ(entries[i].Description, classes[i].description);
        EXPECT_EQ(entries[i].Count, classes[i].count);
    }
}

TEST(FileFormatList, FindsClassesByExtension) {
    const struct {
        const char* text;
        const char* className;
    } cases[] = {
        {".TIF", "TTIFFGraphic"}, {"tif", "TTIFFGraphic"}, {"Tif", "TTIFFGraphic"}, {"", "(none)"},
        {"x.y.tif", "(none)"}, {".rgba", "TSGIGraphic"}, {"JPEG", "TJPEGImage"}, {"xyz", "(none)"},
        {"tıf", "(none)"},  // only A to Z fold
    };
    for (const auto& c : cases)
        EXPECT_STREQ(ClassName(RegisteredFormats().ClassForExtension(c.text)), c.className) << c.text;
}

TEST(FileFormatList, RefusesDuplicatesAndReplacesOnRequest) {
    TFileFormatList list;
    const TGraphicClassRef png = ExtendedGraphicClass<TPNGGraphic>("TPNGGraphic");
    const TGraphicClassRef targa = ExtendedGraphicClass<TTargaGraphic>("TTargaGraphic");
    list.AddFormat("png", "Portable network graphic images", "", fkRaster, false, png);
    list.AddFormat("tga", "Truevision images", "", fkRaster, false, targa);
    EXPECT_EQ(MessageOf([&] { list.AddFormat("PNG", "", "", fkRaster, false, targa); }),
              "Attempt to register PNG twice.");
    EXPECT_EQ(list.Extensions().size(), 2u);

    list.AddFormat("png", "", "other", fkVector, true, targa);
    EXPECT_EQ(list.ClassForExtension("png"), targa);
    EXPECT_EQ(list.IndexOfClass(png), -1);
    ASSERT_EQ(list.Classes().size(), 1u);
    EXPECT_EQ(list.Classes()[0].Count, 2);
    EXPECT_EQ(list.Extensions()[0].Description, "");  // the entry keeps its own description and kinds
    EXPECT_EQ(list.Extensions()[0].Kinds, fkRaster);

    list.RemoveFormat("nothing", png);
    list.RemoveFormat("TGA", nullptr);
    EXPECT_EQ(list.Extensions().size(), 1u);
    EXPECT_EQ(MessageOf([&] { list.RemoveFormat("", png); }), "List index out of bounds (-1)");
    list.RemoveFormat("", targa);
    EXPECT_TRUE(list.Extensions().empty());
    EXPECT_TRUE(list.Classes().empty());
}

// Headers of formats no installed tool writes, padded to the content test's minimum.
std::string Padded(std::string header, size_t size) {
    header.resize(size, '\0');
    return header;
}

TEST(FileFormatList, FindsClassesByContent) {
    TScratchFolder folder;
    const std::string source = folder.Path("source.png");
    ASSERT_EQ(RunTool("convert -size 40x30 gradient:red-blue " + Quoted(source)).status, 0);
    struct TContentCase {
        const char* name;
        std::string conversion;  // ImageMagick output format, or empty with bytes given
        std::string bytes;
        const char* className;
    };
    std::string rla = Padded("", 800);
    rla[26] = char(0xFF), rla[27] = char(0xFE);
    rla.replace(580, 3, "RGB");
    std::string psp = Padded("Paint Shop PRO Image File\n\x1a", 40);
    psp[32] = 3;
    std::string oldPsp = psp;
    oldPsp[32] = 2;
    std::string cel = Padded("\x19\x91", 40);
    cel[10] = 8;
    // The preview header: signature, then the TIFF part's offset at 20 and its length at 24.
    std::string eps = Padded("\xC5\xD0\xD3\xC6", 64);
    eps[20] = 64, eps[24] = 8;
    eps += "II*\0\x08\0\0\0";
    std::string trueColourTarga = Padded("", 40);
    trueColourTarga[2] = 2, trueColourTarga[16] = 24;  // entry size 0: found only by extension
    const TContentCase cases[] = {
        // The class library's own formats are known by their signatures too.
        {"jpeg", "jpg", "", "TJPEGImage"},
        {"bmp", "bmp3", "", "TBitmap"},
        {"icon", "ico", "", "TIcon"},
        {"png", "png", "", "TPNGGraphic"},
        {"gif", "gif", "", "TGIFGraphic"},
        {"tiff", "tiff", "", "TTIFFGraphic"},
        {"big-endian tiff", "tiff", "", "TTIFFGraphic"},
        {"eps with tiff preview", "", eps, "TEPSGraphic"},
        {"pcx", "pcx", "", "TPCXGraphic"},
        {"sgi", "sgi", "", "TSGIGraphic"},
        {"psd", "psd", "", "TPSDGraphic"},
        {"ppm", "ppm", "", "TPPMGraphic"},
        {"pcd", "pcd", "", "TPCDGraphic"},
        {"rla", "", rla, "TRLAGraphic"},
        {"psp", "", psp, "TPSPGraphic"},
        {"psp version 2", "", oldPsp, "(none)"},
        {"autodesk", "", cel, "TAutodeskGraphic"},
        {"targa with entry size 0", "", trueColourTarga, "(none)"},
        {"png signature without more bytes", "", "\x89PNG\r\n\x1a\n", "(none)"},
        {"ppm at the threshold", "", "P6 1 1 255", "(none)"},
        {"ppm beyond it", "", "P6 1 1 255\n", "TPPMGraphic"},
        {"gif in lower case", "", Padded("gif89a", 23), "TGIFGraphic"},
    };
    for (const TContentCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::string bytes = c.bytes;
        if (!c.conversion.empty()) {
            const std::string path = folder.Path("out." + c.conversion);
            const std::string endian = std::string(c.name) == "big-endian tiff" ? "-endian MSB " : "";
            const TCommandResult made =
                RunTool("convert " + Quoted(source) + " " + endian + c.conversion + ":" + Quoted(path));
            ASSERT_EQ(made.status, 0) << made.output;
            bytes = ReadFile(path);
        }
        // After other bytes: the tests start at the stream's position and put it back.
        TMemoryStream stream;
        stream.WriteBuffer("junk", 4);
        stream.WriteBuffer(bytes.data(), int64_t(bytes.size()));
        stream.SetPosition(4);
        EXPECT_STREQ(ClassName(RegisteredFormats().ClassForStreamContent(stream)), c.className);
        EXPECT_EQ(stream.Position(), 4);
    }
}

TEST(FileFormatList, CreatesGraphicsByContentBeforeExtension) {
    TScratchFolder folder;
    ASSERT_EQ(RunTool("convert -size 5x3 xc:red " + Quoted("bmp3:" + folder.Path("a.bmp"))).status, 0);
    ASSERT_EQ(RunTool("convert -size 6x4 xc:blue " + Quoted(folder.Path("b.JPG"))).status, 0);
    ASSERT_EQ(RunTool("convert -size 6x4 xc:blue " + Quoted("png:" + folder.Path("png-named.tga"))).status, 0);
    WriteFile(folder.Path("unknown.xyz"), "nothing to see here");

    const auto bitmap = CreateGraphicFromFile(folder.Path("a.bmp"));
    ASSERT_TRUE(dynamic_cast<TBitmap*>(bitmap.get()));
    EXPECT_EQ(bitmap->Width(), 5);
    const auto jpeg = CreateGraphicFromFile(folder.Path("b.JPG"));
    ASSERT_TRUE(dynamic_cast<TJPEGImage*>(jpeg.get()));
    EXPECT_EQ(jpeg->Height(), 4);
    EXPECT_EQ(RegisteredFormats().ClassForFileContent(folder.Path("png-named.tga")),
              ExtendedGraphicClass<TPNGGraphic>("TPNGGraphic"));
    EXPECT_EQ(CreateGraphicFromFile(folder.Path("unknown.xyz")), nullptr);
    EXPECT_EQ(MessageOf([&] { CreateGraphicFromFile(folder.Path("missing.png")); }).empty(), false);
    EXPECT_THROW(CreateGraphicFromFile(folder.Path("missing.png")), EFOpenError);
}

TEST(FileFormatList, FileTestsAskTheClassesOwnStreamTest) {
    TScratchFolder folder;
    ASSERT_EQ(RunTool("convert -size 2x2 xc:red " + Quoted("png:" + folder.Path("p.tga"))).status, 0);
    WriteFile(folder.Path("empty.png"), "");
    EXPECT_TRUE(TPicFormatGraphic::IsFormatFile(folder.Path("p.tga"), &TPNGGraphic::IsFormatStream));
    EXPECT_FALSE(TPicFormatGraphic::IsFormatFile(folder.Path("p.tga"), &TTargaGraphic::IsFormatStream));
    EXPECT_FALSE(TPicFormatGraphic::IsFormatFile(folder.Path("p.tga")));
    EXPECT_FALSE(TPicFormatGraphic::IsFormatFile(folder.Path("empty.png"), &TPNGGraphic::IsFormatStream));
    EXPECT_THROW(TPicFormatGraphic::IsFormatFile(folder.Path("missing.png"), &TPNGGraphic::IsFormatStream), EFOpenError);
}

// In a child process, since the end changes the one registry for good.
TEST(FileFormatList, EndLeavesOnlyTheClassLibrarysOwnRows) {
    EXPECT_EXIT(
        {
            DoneTzPicFormats();
            DoneTzPicFormats();
            std::string extensions;
            for (const auto& entry : RegisteredFormats().Extensions()) extensions += entry.Extension + " ";
            std::string classes;
            for (const auto& entry : RegisteredFormats().Classes())
                classes += std::string(entry.GraphicClass->Name) + ":" + std::to_string(entry.Count) + " ";
            const bool ok = extensions == "bmp ico wmf emf jfif jpg jpe jpeg " &&
                            classes == std::string(BitmapClass()->Name) + ":1 " + IconClass()->Name + ":1 " +
                                           MetafileClass()->Name + ":2 " + JPEGImageClass()->Name + ":4 " &&
                            !RegisteredFormats().ClassForExtension("png") && !RegisteredFormats().ClassForExtension("rle");
            std::fprintf(stderr, "%s| %s\n", extensions.c_str(), classes.c_str());
            std::exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
