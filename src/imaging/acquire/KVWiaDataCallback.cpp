#include "imaging/acquire/KVWiaDataCallback.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVProgress.h"
#include "imaging/core/KVStreams.h"
#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KVBmp.h"
#include "platform/ByteReader.h"
#include "platform/ByteWriter.h"

const TGUID WiaImgFmt_MEMORYBMP{0xB96B3CAA, 0x0728, 0x11D3, {0x9D, 0x7B, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
const TGUID WiaImgFmt_BMP{0xB96B3CAB, 0x0728, 0x11D3, {0x9D, 0x7B, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
const TGUID WiaImgFmt_JPEG{0xB96B3CAE, 0x0728, 0x11D3, {0x9D, 0x7B, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};

namespace {

constexpr int64_t HeaderSize = 28;

TKVWiaDataHeader ParseHeader(const uint8_t* buffer, int64_t length) {
    TByteReader r(buffer, length);
    TKVWiaDataHeader header;
    header.Size = int32_t(r.U32LE());
    header.Format.D1 = r.U32LE();
    header.Format.D2 = r.U16LE();
    header.Format.D3 = r.U16LE();
    const auto tail = r.Bytes(8);
    std::copy(tail.begin(), tail.end(), header.Format.D4.begin());
    header.BufferSize = int32_t(r.U32LE());
    header.PageCount = int32_t(r.U32LE());
    return header;
}

}  // namespace

std::vector<uint8_t> KVWiaHeaderBytes(const TKVWiaDataHeader& header) {
    std::vector<uint8_t> bytes;
    PutU32LE(bytes, uint32_t(header.Size));
    PutU32LE(bytes, header.Format.D1);
    PutU16LE(bytes, header.Format.D2);
    PutU16LE(bytes, header.Format.D3);
    bytes.insert(bytes.end(), header.Format.D4.begin(), header.Format.D4.end());
    PutU32LE(bytes, uint32_t(header.BufferSize));
    PutU32LE(bytes, uint32_t(header.PageCount));
    return bytes;
}

bool KVWiaReadPage(const TKVWiaDataHeader& header, const std::vector<uint8_t>& data, TKVBitmap& page,
                   TIOParamsVals& record) {
    const bool memoryBitmap = header.Format == WiaImgFmt_MEMORYBMP;
    if (!memoryBitmap && !(header.Format == WiaImgFmt_BMP)) return false;
    TKVMemStream stream(data.data(), int64_t(data.size()));
    std::atomic<bool> failed{false};
    TKVProgressRec progress;
    progress.AbortFlag = &failed;
    ReadBMPStream(stream, page, int64_t(data.size()), true, memoryBitmap, false, progress, record);
    return !failed && !page.IsEmpty();
}

TWiaDataCallBack::TWiaDataCallBack(TCompletion completion, TProgress progress, int64_t maxBytes)
    : completion_(std::move(completion)), progress_(std::move(progress)), maxBytes_(maxBytes) {}

bool TWiaDataCallBack::BandedDataCallback(TKVWiaMessage message, int percentComplete, int64_t offset,
                                          const uint8_t* buffer, int64_t length) {
    const bool received = Receive(message, offset, buffer, length);
    // A refused page stops the transfer whatever the progress says.
    const bool goOn = !progress_ || progress_(percentComplete);
    return received && goOn;
}

bool TWiaDataCallBack::Receive(TKVWiaMessage message, int64_t offset, const uint8_t* buffer, int64_t length) {
    switch (message) {
    case TKVWiaMessage::DataHeader:
        if (!buffer || length < HeaderSize) return false;
        header_ = ParseHeader(buffer, length);
        headerReceived_ = true;
        data_.clear();
        return true;
    case TKVWiaMessage::Data: {
        // Data belong to a page, and a band may not reach past what a page may hold.
        if (!headerReceived_ || offset < 0 || length < 0 || (length > 0 && !buffer) || offset > maxBytes_ ||
            length > maxBytes_ - offset)
            return false;
        const auto end = static_cast<size_t>(offset + length);
        if (data_.size() < end) data_.resize(end);
        if (length > 0) std::memcpy(data_.data() + offset, buffer, static_cast<size_t>(length));
        return true;
    }
    case TKVWiaMessage::Termination:
    case TKVWiaMessage::NewPage: {
        // Each page is handed over alone, and the next one starts empty.
        bool taken = true;
        if (headerReceived_ && completion_) taken = completion_(header_, data_);
        headerReceived_ = false;
        data_.clear();
        return taken;
    }
    case TKVWiaMessage::Status: return true;
    }
    return true;
}
