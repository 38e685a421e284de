#include "imaging/io/KVExif.h"

#include <atomic>
#include <cstring>

#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVOrientation.h"
#include "imaging/core/KVStreams.h"
#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KVDriverSupport.h"
#include "imaging/core/KVProgress.h"
#include "imaging/io/KVTiff.h"
#include "platform/ByteReader.h"
#include "platform/Classes.h"

namespace {

// A TIFF read whose failures only leave fields or the thumbnail unset.
bool ReadQuietly(TKVBitmap* bitmap, TStream& stream, bool thumbnail, bool paramsOnly, TIOParamsVals& params) {
    std::atomic<bool> failed{false};
    TKVProgressRec progress;
    progress.AbortFlag = &failed;
    int pages = 0;
    ReadTIFFStream(bitmap, stream, pages, thumbnail, true, true, paramsOnly, progress, &params);
    return !failed.load();
}

TKVBitmap& EmptyThumbnail(TIOParamsVals& params) {
    if (!params.ExifThumbnail) params.ExifThumbnail = std::make_unique<TKVBitmap>();
    params.ExifThumbnail->FreeImage();
    return *params.ExifThumbnail;
}

}  // namespace

std::vector<uint8_t> KVSaveEXIFToBuffer(TIOParamsVals& params) {
    TMemoryStream structure;
    std::atomic<bool> failed{false};
    TKVProgressRec progress;
    progress.AbortFlag = &failed;
    WriteTIFFStream(structure, false, nullptr, progress, params);
    std::vector<uint8_t> block = {'E', 'x', 'i', 'f', 0, 0};
    block.insert(block.end(), structure.Bytes().begin(), structure.Bytes().end());
    return block;
}

bool KVLoadEXIFFromBuffer(const uint8_t* data, int64_t length, TIOParamsVals& params) {
    if (length < 6 || std::memcmp(data, "Exif\0", 5) != 0) return false;
    TKVMemStream stream(data + 6, length - 6);
    TIOParamsVals found(params.Owner());
    TKVBitmap& thumbnail = EmptyThumbnail(params);
    ReadQuietly(nullptr, stream, false, true, found);
    KVCopyEXIF(found, params);
    params.ExifHasData = true;
    found.TiffImageIndex = 1;
    stream.SetPosition(0);
    if (ReadQuietly(&thumbnail, stream, true, false, found)) KVApplyOrientation(thumbnail, params.ExifOrientation);
    else thumbnail.FreeImage();
    return true;
}

bool KVLoadEXIFFromStream(TStream& stream, TIOParamsVals& params) {
    const int64_t start = stream.Position();
    TIOParamsVals found(params.Owner());
    TKVBitmap& thumbnail = EmptyThumbnail(params);
    ReadQuietly(nullptr, stream, false, true, found);
    KVCopyEXIF(found, params);
    params.ExifHasData = true;
    bool read = false;
    for (int page = 0; page < 2 && !read; ++page) {
        stream.SetPosition(start);
        found.TiffImageIndex = page;
        read = ReadQuietly(&thumbnail, stream, true, false, found) && !thumbnail.IsEmpty();
    }
    if (!read) thumbnail.FreeImage();
    stream.SetPosition(start);
    return true;
}

int64_t KVSearchTIFFHeader(TStream& stream) {
    const int64_t start = stream.Position();
    const int64_t size = stream.Size();
    const std::vector<uint8_t> bytes = ReadStreamRest(stream, 131072);
    stream.SetPosition(start);
    const TByteReader r(bytes.data(), int64_t(bytes.size()));
    for (int64_t i = 0; i + 8 <= r.Size(); ++i) {
        const uint16_t order = r.U16LEAt(i);
        if (order != 0x4949 && order != 0x4D4D) continue;
        const bool little = order == 0x4949;
        const uint16_t magic = little ? r.U16LEAt(i + 2) : r.U16BEAt(i + 2);
        const uint32_t first = little ? r.U32LEAt(i + 4) : r.U32BEAt(i + 4);
        if (int64_t(first) >= size) continue;
        if (magic == 42 || magic == 0x4F52 || magic == 0x5352) return i;
    }
    return -1;
}

void KVCopyEXIF(const TIOParamsVals& source, TIOParamsVals& target) {
    const bool hasData = target.ExifHasData;
    static_cast<TKVExifFields&>(target) = static_cast<const TKVExifFields&>(source);
    target.ExifHasData = hasData;
    // The TIFF reader keeps tag 270 with the TIFF fields.
    target.ExifImageDescription = source.TiffImageDescription;
    target.SetOrientation(source.ExifOrientation);
    target.SetDpiXFloat(source.ExifXResolution);
    target.SetDpiYFloat(source.ExifYResolution);
    target.ExifMakerNote.Assign(source.ExifMakerNote);
}
