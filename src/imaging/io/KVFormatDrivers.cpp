#include "imaging/io/KVFormatDrivers.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KVBmp.h"
#include "imaging/io/KVFileFormats.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVMask.h"
#include "imaging/io/KVGifAnimation.h"
#include "imaging/io/KVGifFilter.h"
#include "imaging/io/KVIcon.h"
#include "imaging/io/KVJpeg2000.h"
#include "imaging/io/KVJpegFilter.h"
#include "imaging/io/KVPcx.h"
#include "imaging/io/KVPdfOutput.h"
#include "imaging/io/KVPngFilter.h"
#include "imaging/io/KVPsOutput.h"
#include "imaging/io/KVPxm.h"
#include "imaging/io/KVTga.h"
#include "imaging/io/KVTiff.h"
#include "imaging/io/KVWbmp.h"
#include "platform/Classes.h"
#include "platform/GraphicClasses.h"

namespace {

void ReadBmp(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, bool paramsOnly, TKVProgressRec& progress) {
    ReadBMPStream(stream, bitmap, 0, false, false, paramsOnly, progress, params);
}

// A picture stored behind a 12-byte "JFIF" stream header is read from behind it, and the stream
// is left after the picture, so that several can follow one another.
void ReadJpeg(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, bool paramsOnly, TKVProgressRec& progress) {
    const int64_t start = stream.Position();
    uint8_t header[12] = {};
    const bool headed = stream.Read(header, 12) == 12 && std::memcmp(header, "JFIF", 4) == 0;
    if (!headed) stream.SetPosition(start);
    ReadJPEGStream(stream, nullptr, bitmap, true, false, true, false, paramsOnly, progress, params);
    if (headed) {
        const uint32_t length = uint32_t(header[8] | header[9] << 8 | header[10] << 16) | uint32_t(header[11]) << 24;
        stream.SetPosition(start + 12 + length);
    }
}

// Like JPEG, a PCX picture may sit behind a 12-byte "PCX2" stream header that gives its length.
// Behind "PCX" and another fourth letter the picture starts at once and runs to the end.
void ReadPcx(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, bool paramsOnly, TKVProgressRec& progress) {
    const int64_t start = stream.Position();
    uint8_t header[12] = {};
    const int64_t got = stream.Read(header, 12);
    const bool tagged = got >= 4 && std::memcmp(header, "PCX", 3) == 0;
    const bool headed = tagged && got == 12 && std::memcmp(header, "PCX2", 5) == 0;
    stream.SetPosition(headed ? start + 12 : tagged ? start + 4 : start);
    const uint32_t length = uint32_t(header[8] | header[9] << 8 | header[10] << 16) | uint32_t(header[11]) << 24;
    ReadPCXStream(stream, bitmap, params, paramsOnly, progress, headed ? length : stream.Size() - stream.Position());
    if (headed) stream.SetPosition(start + 12 + length);
}

void ReadTga(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, bool paramsOnly, TKVProgressRec& progress) {
    ReadTGAStream(stream, bitmap, params, false, paramsOnly, progress);
}

void WriteJp2(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, TKVProgressRec& progress) {
    WriteJP2Stream(stream, bitmap, params, false, progress);
}

void WriteJ2k(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, TKVProgressRec& progress) {
    WriteJP2Stream(stream, bitmap, params, true, progress);
}

// The transparency of a PNG picture becomes the bitmap's alpha channel.
void ReadPng(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, bool paramsOnly, TKVProgressRec& progress) {
    std::unique_ptr<TKVMask> mask;
    ReadPNGStream(stream, bitmap, params, false, mask, paramsOnly, progress);
    if (!mask || paramsOnly || bitmap.IsEmpty()) return;
    TKVBitmap& alpha = *bitmap.GetAlphaChannel();
    for (int y = 0; y < std::min(mask->Height(), alpha.GetHeight()); ++y)
        for (int x = 0; x < std::min(mask->Width(), alpha.GetWidth()); ++x)
            alpha.SetByte(x, y, uint8_t(mask->BitsPerPixel() == 1 ? mask->GetPixel(x, y) * 255 : mask->GetPixel(x, y)));
    alpha.SyncFull();
    if (alpha.Full()) bitmap.RemoveAlphaChannel();
}

void WritePng(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, TKVProgressRec& progress) {
    std::unique_ptr<TKVMask> mask;
    if (bitmap.GetHasAlphaChannel()) {
        mask = std::make_unique<TKVMask>();
        KVCopyBitmapToMask(*bitmap.GetAlphaChannel(), *mask);
    }
    WritePNGStream(stream, bitmap, params, mask.get(), progress);
}

// An animated picture is composed up to the frame the record asks for.
void ReadGif(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, bool paramsOnly, TKVProgressRec& progress) {
    if (!paramsOnly) {
        ComposeGIFFrame(stream, bitmap, params, progress);
        return;
    }
    std::unique_ptr<TKVMask> mask;
    int count = 0;
    ReadGIFStream(stream, bitmap, count, true, mask, true, progress, params);
}

void ReadIco(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, bool paramsOnly, TKVProgressRec& progress) {
    ReadICOStream(stream, bitmap, params, false, paramsOnly, progress);
}

void ReadCur(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, bool paramsOnly, TKVProgressRec& progress) {
    ReadCURStream(stream, bitmap, params, false, paramsOnly, progress);
}

// One image per leading size of the parameters with a width.
void WriteIco(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, TKVProgressRec& progress) {
    std::vector<TKVIcoSize> sizes;
    std::vector<int> bitCounts;
    for (size_t i = 0; i < params.IcoSizes.size() && params.IcoSizes[i].Width > 0; ++i) {
        sizes.push_back(params.IcoSizes[i]);
        bitCounts.push_back(params.IcoBitCount[i]);
    }
    WriteICOStream(stream, bitmap, params, bitCounts, sizes, progress);
}

void WriteWbmp(TStream& stream, TKVBitmap& bitmap, TIOParamsVals&, TKVProgressRec& progress) {
    WriteWBMPStream(stream, bitmap, progress);
}

const TKVFormatDriver drivers[] = {
    {kvftJPEG, ReadJpeg, WriteJPEGStream},
    {kvftGIF, ReadGif, WriteGIFStream},
    {kvftPNG, ReadPng, WritePng},
    {kvftBMP, ReadBmp, WriteBMPStream},
    {kvftICO, ReadIco, WriteIco},
    {kvftCUR, ReadCur, nullptr},
    {kvftPXM, ReadPXMStream, WritePXMStream},
    {kvftWBMP, ReadWBMPStream, WriteWbmp},
    {kvftPCX, ReadPcx, WritePCXStream},
    {kvftDCX, ReadDCXStream, WriteDCXStream},
    {kvftTGA, ReadTga, WriteTGAStream},
    {kvftJP2, ReadJP2Stream, WriteJp2},
    {kvftJ2K, ReadJP2Stream, WriteJ2k},
    {kvftPDF, nullptr, WritePDFStream},
    {kvftPS, nullptr, WritePSStream},
    {kvftTIFF, ReadTIFF, WriteTIFF},
};

}  // namespace

const TKVFormatDriver* FindFormatDriver(int fileType) {
    for (const TKVFormatDriver& driver : drivers)
        if (driver.FileType == fileType) return &driver;
    return nullptr;
}

bool CanLoadFormat(int fileType) {
    // Metafiles are drawn by the class library's metafile picture, when one is installed.
    if (fileType == kvftWMF) return GraphicClassForExtension("wmf") != nullptr;
    if (fileType == kvftEMF) return GraphicClassForExtension("emf") != nullptr;
    const TKVFormatDriver* driver = FindFormatDriver(fileType);
    if (driver) return driver->Read != nullptr;
    const TKVFileFormatEntry* entry = GetFileFormatByType(fileType);
    return entry && !entry->BuiltIn && entry->ReadHook;
}
