#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <thread>
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

// Loader threads look formats up while others are registered: entries handed out stay where they
// are, also after their format is taken out of the table.
TEST(KVFileFormats, EntriesStayValidWhileThreadsRegisterAndLookUp) {
    const TKVFileFormatEntry* jpeg = GetFileFormatByExt("jpg");
    TKVFileFormatEntry first;
    first.FileType = 3000;
    first.Description = "First Added";
    first.Extensions = "FA1";
    RegisterFileFormat(first);
    const TKVFileFormatEntry* added = GetFileFormatByType(3000);
    ASSERT_NE(added, nullptr);

    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 300; ++i) {
                TKVFileFormatEntry entry;
                entry.FileType = 4000 + t * 1000 + i;
                entry.Extensions = "T" + std::to_string(t) + "X" + std::to_string(i);
                RegisterFileFormat(entry);
                EXPECT_EQ(GetFileFormatByExt("png")->FileType, kvftPNG);
                EXPECT_EQ(GetFileFormatByType(entry.FileType)->Extensions, entry.Extensions);
            }
        });
    UnregisterFileFormat(3000);
    for (std::thread& thread : threads) thread.join();

    EXPECT_EQ(jpeg->Description, "JPEG Bitmap");
    EXPECT_EQ(added->Description, "First Added");  // retired, still readable
    EXPECT_EQ(GetFileFormatByType(3000), nullptr);
    EXPECT_EQ(GetFileFormatByExt("t3x299")->FileType, 4000 + 3 * 1000 + 299);
    for (int t = 0; t < 4; ++t)
        for (int i = 0; i < 300; ++i) UnregisterFileFormat(4000 + t * 1000 + i);
    EXPECT_EQ(int(GetFileFormats().size()), 19);
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
