#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "imaging/core/KVStreams.h"
#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KVFileFormats.h"
#include "imaging/io/KVMetafile.h"

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

TEST(KVFileFormats, GifHooksFollowTheLzwCodecs) {
    const TKVGIFLZWDecompressor savedDecoder = DefGIFLZWDecompressor;
    DefGIFLZWDecompressor = nullptr;
    UpdateGIFFormatHooks();
    EXPECT_EQ(GetFileFormatByType(kvftGIF)->ReadHook, nullptr);
    DefGIFLZWDecompressor = savedDecoder;
    UpdateGIFFormatHooks();
    EXPECT_EQ(GetFileFormatByType(kvftGIF)->ReadHook != nullptr, savedDecoder != nullptr);
}

TEST(KVFileFormats, FreeingTheTableLeavesTheBuiltInFormatsAsAtStart) {
    std::vector<int> builtIn;
    for (const TKVFileFormatEntry* entry : GetFileFormats()) builtIn.push_back(entry->FileType);
    ASSERT_EQ(builtIn.size(), 19u);
    TKVFileFormatEntry entry;
    entry.Extensions = "TST";
    for (const int type : {1000, 1001}) {
        entry.FileType = type;
        RegisterFileFormat(entry);
    }
    UnregisterFileFormat(1000);
    const TKVGIFLZWDecompressor savedDecoder = DefGIFLZWDecompressor;
    DefGIFLZWDecompressor = nullptr;
    UpdateGIFFormatHooks();
    DefGIFLZWDecompressor = savedDecoder;

    FreeFileFormats();
    std::vector<int> types;
    for (const TKVFileFormatEntry* e : GetFileFormats()) types.push_back(e->FileType);
    EXPECT_EQ(types, builtIn);
    EXPECT_EQ(GetFileFormatByExt("tst"), nullptr);
    EXPECT_NE(GetFileFormatByType(kvftGIF)->ReadHook, nullptr);
    // Registering starts afresh.
    entry.FileType = 1002;
    EXPECT_EQ(RegisterFileFormat(entry), 19);
    UnregisterFileFormat(1002);
}

TEST(KVFileFormats, FrameCountsAndMetafileTests) {
    EXPECT_EQ(GetFileFrameCount("/no/such/folder/picture.png"), 1);  // by the extension alone
    EXPECT_EQ(GetFileFrameCount("/no/such/folder/picture.xyz"), 0);  // no video provider either
    EXPECT_EQ(GetFileFrameCount("/no/such/folder/clip.AVI"), 0);

    // A placeable metafile: the key, then the header 22 bytes in.
    std::string wmf(22 + 18, '\0');
    const uint8_t key[4] = {0xD7, 0xCD, 0xC6, 0x9A};
    std::memcpy(wmf.data(), key, 4);
    wmf[22] = 1, wmf[24] = 9;
    TKVMemStream stream(wmf.data(), int64_t(wmf.size()));
    EXPECT_TRUE(IsWMFStream(stream));
    EXPECT_EQ(stream.Position(), 0);
    wmf[22 + 16] = 1;
    TKVMemStream damaged(wmf.data(), int64_t(wmf.size()));
    EXPECT_FALSE(IsWMFStream(damaged));
    EXPECT_FALSE(IsEMFStream(damaged));
}
