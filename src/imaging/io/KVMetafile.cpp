#include "imaging/io/KVMetafile.h"

#include <cstdint>

#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KVFormatDriver.h"
#include "platform/ByteReader.h"
#include "platform/Classes.h"

bool IsEMFStream(TStream& stream) {
    uint8_t header[100];
    const int64_t start = stream.Position();
    const bool complete = stream.Read(header, sizeof header) == int64_t(sizeof header);
    stream.SetPosition(start);
    if (!complete) return false;
    const TByteReader reader(header, sizeof header);
    return reader.U32LEAt(0) == 1 && reader.U32LEAt(40) == 0x464D4520;
}

bool IsWMFStream(TStream& stream) {
    uint8_t header[22 + 18];
    const int64_t start = stream.Position();
    const int64_t got = stream.Read(header, sizeof header);
    stream.SetPosition(start);
    const TByteReader reader(header, got);
    try {
        // A placeable metafile has a 22-byte header of its own before the standard one.
        const int64_t at = reader.U32LEAt(0) == 0x9AC6CDD7 ? 22 : 0;
        return reader.U16LEAt(at) == 1 && reader.U16LEAt(at + 2) == 9 && reader.U16LEAt(at + 16) == 0;
    } catch (const EShortData&) {
        return false;
    }
}

const TKVFormatDriver KVWmfDriver{.FileType = kvftWMF, .IsFormat = IsWMFStream};
const TKVFormatDriver KVEmfDriver{.FileType = kvftEMF, .IsFormat = IsEMFStream};
