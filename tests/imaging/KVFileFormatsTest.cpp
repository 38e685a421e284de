#include <gtest/gtest.h>

#include <functional>

#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KVFileFormats.h"

TEST(KVFileFormats, LookupByExtensionIgnoresCaseAndOneDot) {
    struct Case {
        const char* extension;
        int type;
    };
    for (const Case& c : {Case{".JPE", kvftJPEG}, Case{"jpe", kvftJPEG}, Case{"tif", kvftTIFF},
                          Case{"jp2", kvftJP2}, Case{"jpc", kvftJ2K}, Case{"Dib", kvftBMP}, Case{"pix", kvftTGA}}) {
        const TKVFileFormatEntry* entry = GetFileFormatByExt(c.extension);
        ASSERT_NE(entry, nullptr) << c.extension;
        EXPECT_EQ(entry->FileType, c.type) << c.extension;
    }
    for (const char* unknown : {"", ".", "..jpg", "avi", "jp"}) EXPECT_EQ(GetFileFormatByExt(unknown), nullptr) << unknown;
}

TEST(KVFileFormats, ExtensionsByIndexAndTheBuiltInHooks) {
    EXPECT_EQ(GetFileFormatExtCount(kvftRAW), 12);
    EXPECT_EQ(GetFileFormatExt(kvftRAW, 11), "DCR");
    EXPECT_EQ(GetFileFormatExt(kvftRAW, 12), "");
    EXPECT_EQ(GetFileFormatExtCount(kvftAVI), 0);  // recognised by its extension elsewhere
    EXPECT_EQ(GetFileFormatExt(kvftAVI, 0), "");

    const TKVFileFormatEntry* cursor = GetFileFormatByType(kvftCUR);
    ASSERT_NE(cursor, nullptr);
    EXPECT_TRUE(cursor->BuiltIn);
    EXPECT_NE(cursor->ReadHook, nullptr);
    EXPECT_EQ(cursor->WriteHook, nullptr);
    EXPECT_EQ(GetFileFormatByType(kvftPDF)->ReadHook, nullptr);
    EXPECT_EQ(GetFileFormatByType(kvftJ2K)->DialogPages, ppJ2000);
}

TEST(KVFileFormats, RegisteredFormatsComeAfterTheBuiltInOnes) {
    TKVFileFormatEntry entry;
    entry.FileType = 1000;
    entry.Description = "Test Format";
    entry.Extensions = "TST;JPG";
    const int index = RegisterFileFormat(entry);
    EXPECT_EQ(index, 19);
    EXPECT_EQ(GetFileFormatByExt("tst")->FileType, 1000);
    EXPECT_EQ(GetFileFormatByExt("jpg")->FileType, kvftJPEG);  // the first match wins
    UnregisterFileFormat(1000);
    EXPECT_EQ(GetFileFormatByType(1000), nullptr);
}

TEST(IOParamsDescription, DescriptionExtensionAndCompression) {
    TIOParamsVals params(nullptr);
    struct Case {
        int type;
        std::function<void(TIOParamsVals&)> set;
        const char* text;
    };
    const Case cases[] = {
        {kvftJPEG, [](TIOParamsVals& p) { p.JpegColorSpace = 0; }, "JPEG Bitmap (JPG)"},
        {kvftJPEG, [](TIOParamsVals& p) { p.JpegColorSpace = 3; }, "JPEG Bitmap (JPG) CMYK"},
        {kvftTIFF, [](TIOParamsVals& p) { p.TiffCompression = 5; }, "TIFF Bitmap (TIF) LZW"},
        {kvftTIFF, [](TIOParamsVals& p) { p.TiffCompression = 9; }, "TIFF Bitmap (TIF)"},
        {kvftBMP, [](TIOParamsVals& p) { p.BmpVersion = 2; }, "Windows Bitmap (BMP) OS/2 v.1"},
        {kvftPCX, [](TIOParamsVals& p) { p.PcxCompressed = false; }, "PaintBrush (PCX) Uncompressed"},
        {kvftTGA, [](TIOParamsVals& p) { p.TgaCompressed = true; }, "Targa Bitmap (TGA) Compressed"},
        {kvftJ2K, [](TIOParamsVals& p) { p.J2KColorSpace = 2; }, "JPEG2000 Code Stream (J2K) YCbCr"},
        {kvftRAW, [](TIOParamsVals& p) { p.RawCameraName = "Cam 1"; }, "Camera RAW (CRW) (Cam 1)"},
        {kvftAVI, [](TIOParamsVals&) {}, ""},
        {kvftNone, [](TIOParamsVals&) {}, ""},
    };
    for (const Case& c : cases) {
        params.SetDefaultParams();
        params.FileType = c.type;
        c.set(params);
        EXPECT_EQ(IOParamsDescription(params), c.text);
    }
}
