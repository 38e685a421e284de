#pragma once
// The receiving end of a banded transfer: a data header, then bands of data each placed at its
// offset, and at the end of every page that page's data handed to a completion routine.
#include <cstdint>
#include <functional>
#include <vector>

#include "imaging/core/KVCoreUtils.h"

class TKVBitmap;
class TIOParamsVals;

// The 28-byte header that opens each page: its own size, the format of the data, the buffer
// size the page needs (0 when not known) and the page count (0 when not known).
struct TKVWiaDataHeader {
    int32_t Size = 28;
    TGUID Format;
    int32_t BufferSize = 0;
    int32_t PageCount = 0;
};
std::vector<uint8_t> KVWiaHeaderBytes(const TKVWiaDataHeader& header);

// The formats of transferred data.
extern const TGUID WiaImgFmt_MEMORYBMP, WiaImgFmt_BMP, WiaImgFmt_JPEG;

// Reads a page's data by the header's format (a bitmap in memory or a BMP file) into page and
// record; false, with page maybe half filled, when they hold no picture of that format.
bool KVWiaReadPage(const TKVWiaDataHeader& header, const std::vector<uint8_t>& data, TKVBitmap& page,
                   TIOParamsVals& record);

enum class TKVWiaMessage { DataHeader, Data, Status, Termination, NewPage };

class TWiaDataCallBack {
public:
    // Answers false when the page cannot be taken, which stops the transfer.
    using TCompletion = std::function<bool(const TKVWiaDataHeader& header, const std::vector<uint8_t>& data)>;
    // Percent done; false stops the transfer.
    using TProgress = std::function<bool(int percent)>;

    // A page's data may not grow past maxBytes.
    TWiaDataCallBack(TCompletion completion, TProgress progress, int64_t maxBytes);

    // One message of the transfer; false asks the sender to stop. A header is buffer's first 28
    // bytes; data are placed at the offset, so a sender may rewrite what it sent before.
    bool BandedDataCallback(TKVWiaMessage message, int percentComplete, int64_t offset, const uint8_t* buffer,
                            int64_t length);

private:
    bool Receive(TKVWiaMessage message, int64_t offset, const uint8_t* buffer, int64_t length);

    TKVWiaDataHeader header_;
    std::vector<uint8_t> data_;
    TCompletion completion_;
    TProgress progress_;
    int64_t maxBytes_;
    bool headerReceived_ = false;
};
