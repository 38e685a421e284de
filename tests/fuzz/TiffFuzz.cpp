// The TIFF reader on arbitrary bytes: the page count, the second page's header alone, then the
// first two pages, native or not.
#include "DriverFuzz.h"

#include "imaging/core/KVStreams.h"
#include "imaging/io/KVTiff.h"

// Pictures stay in memory, and small limits keep each run short.

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TKVMemStream stream(data, int64_t(size));
    GetTIFFStreamPageCount(stream);
    TIFFIsDNGStream(stream);
    {
        TDriverRun header;
        header.params.TiffImageIndex = 1;
        stream.SetPosition(0);
        int pages = 0;
        ReadTIFFStream(&header.bitmap, stream, pages, false, false, true, true, header.progress, &header.params);
    }
    for (const int page : {0, 1}) {
        TDriverRun run;
        run.params.TiffImageIndex = page;
        run.params.IsNativePixelFormat = page == 1;
        stream.SetPosition(0);
        int pages = 0;
        ReadTIFFStream(&run.bitmap, stream, pages, false, page == 1, true, false, run.progress, &run.params);
    }
    return 0;
}
