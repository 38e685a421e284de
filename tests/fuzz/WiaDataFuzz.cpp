// The messages of a banded transfer as a device might send them, each page read when it ends:
// records of one kind byte (header, data band at an offset, end, new page, status) and its bytes.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "imaging/acquire/KVWiaDataCallback.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/io/IOParamsVals.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TWiaDataCallBack callback([](const TKVWiaDataHeader& header, const std::vector<uint8_t>& page) {
        TKVBitmap bitmap;
        TIOParamsVals record(nullptr);
        return KVWiaReadPage(header, page, bitmap, record);
    }, nullptr, int64_t(1) << 20);
    size_t at = 0;
    while (at < size) {
        const uint8_t kind = data[at++] % 5;
        int64_t offset = 0, length = 0;
        if (kind == 0) length = int64_t(std::min<size_t>(28, size - at));
        if (kind == 1 && size - at >= 4) {
            offset = data[at] | data[at + 1] << 8;
            length = int64_t(std::min<size_t>(data[at + 2] | data[at + 3] << 8, size - at - 4));
            at += 4;
        }
        const TKVWiaMessage messages[] = {TKVWiaMessage::DataHeader, TKVWiaMessage::Data, TKVWiaMessage::Termination,
                                          TKVWiaMessage::NewPage, TKVWiaMessage::Status};
        callback.BandedDataCallback(messages[kind], 0, offset, data + at, length);
        at += size_t(length);
    }
    return 0;
}
