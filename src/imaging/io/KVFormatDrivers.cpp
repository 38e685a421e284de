#include "imaging/io/KVFormatDrivers.h"

#include <vector>

#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KVBmp.h"
#include "imaging/io/KVFileFormats.h"
#include "imaging/io/KVGifAnimation.h"
#include "imaging/io/KVIcon.h"
#include "imaging/io/KVJpeg2000.h"
#include "imaging/io/KVJpegFilter.h"
#include "imaging/io/KVMetafile.h"
#include "imaging/io/KVPcx.h"
#include "imaging/io/KVPdfOutput.h"
#include "imaging/io/KVPngFilter.h"
#include "imaging/io/KVPsOutput.h"
#include "imaging/io/KVPxm.h"
#include "imaging/io/KVTga.h"
#include "imaging/io/KVTiff.h"
#include "imaging/io/KVVideoAndScanner.h"
#include "imaging/io/KVWbmp.h"
#include "imaging/raw/KVRaw.h"
#include "platform/GraphicClasses.h"

namespace {

const TKVFormatDriver* const drivers[] = {
    &KVGifDriver,  &KVBmpDriver,  &KVPcxDriver,  &KVTiffDriver, &KVPngDriver, &KVIcoDriver,
    &KVCurDriver,  &KVTgaDriver,  &KVPxmDriver,  &KVJpegDriver, &KVJp2Driver,  &KVJ2kDriver, &KVAviDriver,
    &KVDcxDriver,  &KVWmfDriver,  &KVEmfDriver,  &KVWbmpDriver, &KVPdfDriver,  &KVPsDriver,   &KVRawDriver,
};

// The first test that accepts the bytes decides, so a loose test (a JPEG start marker somewhere
// in the first bytes, PCX's two bytes, a TIFF byte order whose offset happens to fit) comes after
// the stricter ones it could shadow. Raw containers of their own are recognised before the
// bitmap, TIFF and JPEG tests that some of their heads pass; raw files with a TIFF header are
// TIFF by content and raw by their extension; files known by their size alone come last.
std::vector<TKVContentTest> MakeContentTests() {
    std::vector<TKVContentTest> tests;
    for (const TKVFormatDriver* driver : drivers) {
        if (driver == &KVBmpDriver) tests.push_back({kvftRAW, KVIsRawContainerStream});
        if (driver->IsFormat) tests.push_back({driver->FileType, driver->IsFormat});
    }
    return tests;
}

}  // namespace

std::span<const TKVFormatDriver* const> FormatDrivers() { return drivers; }

std::span<const TKVContentTest> ContentTests() {
    static const std::vector<TKVContentTest> tests = MakeContentTests();
    return tests;
}

const TKVFormatDriver* FindFormatDriver(int fileType) {
    for (const TKVFormatDriver* driver : drivers)
        if (driver->FileType == fileType) return driver;
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
