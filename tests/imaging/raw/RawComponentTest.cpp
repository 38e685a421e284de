// Camera raw files through the image component: detection by content and by name, and loading
// by file name giving the decoder's picture.
#include <gtest/gtest.h>

#include <cstring>

#include "../DriverTestSupport.h"
#include "RawTestSupport.h"
#include "imaging/core/KVStreams.h"
#include "imaging/io/KVFormatDetect.h"
#include "imaging/io/KestovaIO.h"
#include "imaging/raw/KVRaw.h"

namespace {

std::string AsString(const TBytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

// True when both bitmaps have the same size, pixel format and rows.
bool SamePicture(TKVBitmap& a, TKVBitmap& b) {
    if (a.GetWidth() != b.GetWidth() || a.GetHeight() != b.GetHeight() || a.GetPixelFormat() != b.GetPixelFormat())
        return false;
    const size_t rowBytes = size_t(a.GetWidth()) * 3;
    for (int row = 0; row < a.GetHeight(); ++row)
        if (std::memcmp(a.GetScanline(row), b.GetScanline(row), rowBytes) != 0) return false;
    return true;
}

struct TRawFile {
    const char* name;
    TBytes bytes;
};

std::vector<TRawFile> RawFiles() {
    return {{"leaf.nef", WriteLeafTiff(MosaicRaster(0x94949494, 20, 32, 50000))},
            {"canon.crw", WriteCanonCiffCompressed("Canon EOS Test", MosaicRaster(0x94949494, 20, 32, 900))}};
}

}  // namespace

TEST(RawComponent, LoadsRawFilesByNameAsTheDecoderReadsThem) {
    TScratchFolder folder;
    for (const TRawFile& file : RawFiles()) {
        SCOPED_TRACE(file.name);
        TKVBitmap expected;
        TDriverCall call;
        TKVMemStream stream(file.bytes.data(), int64_t(file.bytes.size()));
        KVReadRawStream(stream, expected, call.params, false, call.progress);
        ASSERT_FALSE(call.Aborted());
        ASSERT_EQ(expected.GetPixelFormat(), kv24RGB);

        const std::string path = folder.Path(file.name);
        WriteFile(path, AsString(file.bytes));
        TKestovaIO io;
        io.LoadFromFile(path);
        ASSERT_FALSE(io.AbortFlag);
        EXPECT_EQ(io.Params().FileType, kvftRAW);
        EXPECT_TRUE(SamePicture(io.WorkBitmap(), expected));
    }
}

TEST(RawComponent, DetectsRawFilesByContentAndName) {
    TScratchFolder folder;
    const TBytes leaf = WriteLeafTiff(MosaicRaster(0x94949494, 8, 8, 50000));
    const TBytes ciff = WriteCanonCiffCompressed("Canon EOS Test", MosaicRaster(0x94949494, 8, 8, 900));
    const TBytes sizeOnly = WritePcCam600(MosaicRaster(0x49494949, 768, 1024, 250));
    // A big-endian CIFF head reads as a TIFF byte order with a first offset of 0x001A4845,
    // which a file of more than 1.7 MB contains.
    const TBytes bigCiff = WriteCanonCiffCompressed("Canon EOS Test", MosaicRaster(0x94949494, 8, 8, 900), true, 1800000);
    // A bitmap of 72 dpi (2834 pixels per metre) has the head of a Nucore raw file.
    TKestovaIO writer;
    writer.WorkBitmap().Allocate(24, 16, kv24RGB);
    TMemoryStream bmpStream;
    writer.SaveToStreamFormat(bmpStream, kvftBMP);
    TBytes bmp(bmpStream.Bytes());
    for (const size_t at : {38u, 42u}) bmp[at] = 2834 & 0xFF, bmp[at + 1] = 2834 >> 8, bmp[at + 2] = 0, bmp[at + 3] = 0;
    struct Case {
        const char* name;
        const TBytes* bytes;
        int byFile;    // DetectFileFormat without the extension check
        int byStream;  // DetectStreamFormat, content alone
    };
    const Case cases[] = {
        // A TIFF header is TIFF by content; only the raw extension makes it raw.
        {"leaf.nef", &leaf, kvftRAW, kvftTIFF},
        {"leaf.tif", &leaf, kvftTIFF, kvftTIFF},
        // A CIFF head names the camera whatever the file is called.
        {"canon.crw", &ciff, kvftRAW, kvftRAW},
        {"canon.bin", &ciff, kvftRAW, kvftRAW},
        {"canon-mm.crw", &bigCiff, kvftRAW, kvftRAW},
        {"canon-mm.tif", &bigCiff, kvftRAW, kvftRAW},
        // Headerless data known by its size alone.
        {"cam.raw", &sizeOnly, kvftRAW, kvftRAW},
        {"dpi72.bmp", &bmp, kvftBMP, kvftBMP},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = folder.Path(c.name);
        WriteFile(path, AsString(*c.bytes));
        EXPECT_EQ(DetectFileFormat(path, false), c.byFile);
        TKVMemStream stream(c.bytes->data(), int64_t(c.bytes->size()));
        EXPECT_EQ(DetectStreamFormat(stream), c.byStream);
        EXPECT_EQ(stream.Position(), 0);
    }
}

namespace {

// Counts the bytes read from it.
class TCountingStream : public TKVMemStream {
public:
    using TKVMemStream::TKVMemStream;
    int64_t Read(void* buffer, int64_t count) override {
        const int64_t got = TKVMemStream::Read(buffer, count);
        read += got;
        return got;
    }
    int64_t read = 0;
};

}  // namespace

TEST(RawComponent, DetectionReadsTheHeadAndWhatTheContainerPointsAt) {
    TBytes big = WriteLeafTiff(MosaicRaster(0x94949494, 1000, 4000, 50000));
    TBytes text(8000000, 'x');
    struct Case {
        const char* name;
        const TBytes* bytes;
        bool raw;
    };
    for (const Case& c : {Case{"raw file of 8 MB", &big, true}, Case{"other bytes, 8 MB", &text, false}}) {
        SCOPED_TRACE(c.name);
        TCountingStream stream(c.bytes->data(), int64_t(c.bytes->size()));
        EXPECT_EQ(KVIsRawStream(stream), c.raw);
        EXPECT_LT(stream.read, 65536);
    }
}
