#include "imaging/io/KVTiff.h"

#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KVDriverSupport.h"
#include "imaging/io/KVFormatDriver.h"
#include "platform/ByteReader.h"
#include "platform/Classes.h"

namespace {

// The component's "TIFF" stream header, or a byte order mark with a first directory inside the
// stream; a camera's raw file, TIFF-shaped, is not taken for a TIFF picture.
bool IsTiff(TStream& stream) {
    const TKVStreamPrefix p(stream);
    if (p.size > 12 && p.Tag(5) == "TIFF") return true;
    const TByteReader r = p.Reader();
    if (r.Size() < 9) return false;
    const bool tiff = p.Starts("II") ? r.U32LEAt(4) < uint64_t(p.size)
                                     : p.Starts("MM") && r.U32BEAt(4) < uint64_t(p.size) && r.U8At(8) != 0xBA;
    return tiff && !TIFFIsDNGStream(stream);
}

}  // namespace

const TKVFormatDriver KVTiffDriver{.FileType = kvftTIFF,
                                   .IsFormat = IsTiff,
                                   .ReadHeader = KVReadHeaderBy<ReadTIFF>,
                                   .Read = KVReadPictureBy<ReadTIFF>,
                                   .Write = WriteTIFF,
                                   .PageCount = GetTIFFStreamPageCount};
