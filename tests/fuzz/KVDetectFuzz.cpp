// Content detection and the input/output component on arbitrary bytes: the parameters, then the
// picture, of whatever format the bytes are taken for.
#include <cstdint>

#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVStreams.h"
#include "imaging/io/KestovaIO.h"
#include "platform/PictureLimits.h"

// Pictures stay in memory, without asking the system for its memory figures on every run, and
// small limits keep each run short without leaving a branch of the size checks out.
static const bool inMemory = (KVDefaultMemoryThreshold = int64_t(1) << 32, true);
static const TPictureLimitsOverride smallPictures({int64_t(1) << 14, int64_t(1) << 18, 2048, int64_t(1) << 18});

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TKestovaIO io;
    TKVMemStream stream(data, int64_t(size));
    io.ParamsFromStream(stream);
    stream.SetPosition(0);
    io.LoadFromStream(stream);
    return 0;
}
