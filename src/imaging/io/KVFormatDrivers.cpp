#include "imaging/io/KVFormatDrivers.h"

#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KVBmp.h"
#include "imaging/io/KVFileFormats.h"
#include "imaging/io/KVIcon.h"
#include "imaging/io/KVPxm.h"
#include "imaging/io/KVWbmp.h"

namespace {

void ReadBmp(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, bool paramsOnly, TKVProgressRec& progress) {
    ReadBMPStream(stream, bitmap, 0, false, false, paramsOnly, progress, params);
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
    {kvftBMP, ReadBmp, WriteBMPStream},
    {kvftICO, ReadIco, WriteIco},
    {kvftCUR, ReadCur, nullptr},
    {kvftPXM, ReadPXMStream, WritePXMStream},
    {kvftWBMP, ReadWBMPStream, WriteWbmp},
};

}  // namespace

const TKVFormatDriver* FindFormatDriver(int fileType) {
    for (const TKVFormatDriver& driver : drivers)
        if (driver.FileType == fileType) return &driver;
    return nullptr;
}

bool CanLoadFormat(int fileType) {
    const TKVFormatDriver* driver = FindFormatDriver(fileType);
    if (driver) return driver->Read != nullptr;
    const TKVFileFormatEntry* entry = GetFileFormatByType(fileType);
    return entry && !entry->BuiltIn && entry->ReadHook;
}
