// Content detection and the input/output component on arbitrary bytes: the parameters, then the
// picture, of whatever format the bytes are taken for.
#include "DriverFuzz.h"

#include "imaging/core/KVStreams.h"
#include "imaging/io/KestovaIO.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TKestovaIO io;
    TKVMemStream stream(data, int64_t(size));
    io.ParamsFromStream(stream);
    stream.SetPosition(0);
    io.LoadFromStream(stream);
    return 0;
}
