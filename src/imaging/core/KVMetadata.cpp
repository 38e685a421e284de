#include "imaging/core/KVMetadata.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/ByteReader.h"
#include "platform/ByteWriter.h"

namespace {

constexpr uint8_t IptcTag = 0x1C;
constexpr int64_t ShortFormMax = 32767;
constexpr char PhotoshopSignature[] = "Photoshop 3.0";  // followed by its terminating zero
constexpr int64_t PhotoshopSignatureSize = sizeof PhotoshopSignature;
constexpr uint16_t IptcResourceId = 0x0404;
constexpr int64_t PhotoshopHeaderSize = 26;
constexpr int64_t ResourceSizeOffset = 22;
constexpr uint8_t PlainHeader[] = {0x1C, 0x02, 0x00, 0x00, 0x02, 0x00, 0x02};

// A JPEG segment's 16-bit length counts itself: a longer marker would be cut when written.
void CheckMarkerLength(int64_t length) {
    if (length < 0 || length > TKVMarkerList::MaxMarkerLength)
        throw EInvalidOperation("A JPEG marker holds at most " + std::to_string(TKVMarkerList::MaxMarkerLength) +
                                " bytes, not " + std::to_string(length));
}

[[noreturn]] void IndexError(int index) {
    throw EListError("List index out of bounds (" + std::to_string(index) + ")");
}


// The data of the IPTC resource among the Photoshop image resources; empty when there is none.
// Scanning for the first 0x1C byte instead would stop in a resource header or size that happens
// to hold that byte. A resource that claims more than is left keeps what is there, so that the
// data sets before the damage survive.
std::span<const uint8_t> FindIptcResource(TByteReader in) {
    in.Seek(PhotoshopSignatureSize);
    try {
        while (!in.AtEnd() && std::memcmp(in.Bytes(4).data(), "8BIM", 4) == 0) {
            const uint16_t id = in.U16BE();
            const int64_t nameLength = in.U8();
            in.Skip(nameLength + 1 - (nameLength & 1));  // a Pascal string padded to an even size
            const int64_t size = in.U32BE();
            if (id == IptcResourceId) return in.Bytes(std::min(size, in.Remaining()));
            in.Skip(size + (size & 1));
        }
    } catch (const EShortData&) {
    }
    return {};
}

}  // namespace

// ---- TKVMarkerList

void TKVMarkerList::AddMarker(uint8_t type, const void* data, int64_t length) {
    CheckMarkerLength(length);
    const auto* bytes = static_cast<const uint8_t*>(data);
    markers_.push_back({type, std::vector<uint8_t>(bytes, bytes + length)});
}

void TKVMarkerList::SetMarker(int index, uint8_t type, int64_t length, const void* data) {
    At(index);
    CheckMarkerLength(length);
    const auto* bytes = static_cast<const uint8_t*>(data);
    markers_[size_t(index)] = {type, std::vector<uint8_t>(bytes, bytes + length)};
}

void TKVMarkerList::DeleteMarker(int index) {
    At(index);
    markers_.erase(markers_.begin() + index);
}

int TKVMarkerList::IndexOf(uint8_t type) const {
    for (size_t i = 0; i < markers_.size(); ++i)
        if (markers_[i].type == type) return int(i);
    return -1;
}

uint8_t* TKVMarkerList::GetMarkerData(int index) {
    At(index);
    return markers_[size_t(index)].data.data();
}

uint8_t TKVMarkerList::GetMarkerType(int index) const { return At(index).type; }

int64_t TKVMarkerList::GetMarkerLength(int index) const { return int64_t(At(index).data.size()); }

void TKVMarkerList::Assign(const TKVMarkerList* source) {
    if (source && source != this) markers_ = source->markers_;
}

const TKVMarkerList::Marker& TKVMarkerList::At(int index) const {
    if (index < 0 || index >= Count()) IndexError(index);
    return markers_[size_t(index)];
}

// ---- TKVIPTCInfoList

int TKVIPTCInfoList::AddDataSet(int record, int dataSet, uint32_t length, const void* data) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    dataSets_.push_back({record, dataSet, std::vector<uint8_t>(bytes, bytes + length)});
    modified_ = true;
    return Count() - 1;
}

int TKVIPTCInfoList::GetRecordNumber(int index) const { return At(index).record; }

int TKVIPTCInfoList::GetDataSetNumber(int index) const { return At(index).dataSet; }

const std::vector<uint8_t>& TKVIPTCInfoList::GetData(int index) const { return At(index).data; }

void TKVIPTCInfoList::Clear() {
    dataSets_.clear();
    modified_ = true;
}

void TKVIPTCInfoList::Assign(const TKVIPTCInfoList* source) {
    if (!source) return;
    if (source != this) dataSets_ = source->dataSets_;
    modified_ = true;
}

const TKVIPTCInfoList::DataSet& TKVIPTCInfoList::At(int index) const {
    if (index < 0 || index >= Count()) IndexError(index);
    return dataSets_[size_t(index)];
}

std::vector<uint8_t> TKVIPTCInfoList::SaveToBuffer(bool photoshop) const {
    std::vector<uint8_t> out;
    if (dataSets_.empty()) return out;
    if (photoshop) {
        out.assign(PhotoshopSignature, PhotoshopSignature + PhotoshopSignatureSize);
        for (char c : {'8', 'B', 'I', 'M'}) out.push_back(uint8_t(c));
        PutU16BE(out, IptcResourceId);
        PutU16BE(out, 0);  // empty resource name
        PutU32BE(out, 0);  // resource data size, filled in below
    } else {
        out.assign(std::begin(PlainHeader), std::end(PlainHeader));
    }
    const size_t headerSize = out.size();
    for (const DataSet& set : dataSets_) {
        // The record version is part of every header already.
        if ((set.record == 2 && set.dataSet == 0) || set.data.empty()) continue;
        out.push_back(IptcTag);
        out.push_back(uint8_t(set.record));
        out.push_back(uint8_t(set.dataSet));
        if (int64_t(set.data.size()) <= ShortFormMax) {
            PutU16BE(out, uint32_t(set.data.size()));
        } else {
            out.push_back(0x80);  // extended form: the high bit, then the size of the length field
            out.push_back(0x04);
            PutU32BE(out, uint32_t(set.data.size()));
        }
        out.insert(out.end(), set.data.begin(), set.data.end());
    }
    if (photoshop) {
        const uint32_t resourceSize = uint32_t(out.size() - headerSize);
        for (int k = 0; k < 4; ++k) out[ResourceSizeOffset + k] = uint8_t(resourceSize >> (24 - 8 * k));
    }
    if (out.size() & 1) out.push_back(0);
    return out;
}

void TKVIPTCInfoList::LoadFromBuffer(const uint8_t* data, int64_t length) {
    dataSets_.clear();
    if (data && length > 0) {
        const TByteReader block(data, length);
        const bool isPhotoshop = length >= PhotoshopSignatureSize &&
                                 std::memcmp(data, PhotoshopSignature, PhotoshopSignatureSize) == 0;
        ParseDataSets(isPhotoshop ? FindIptcResource(block) : block.BytesAt(0, length));
    }
    modified_ = false;
}

void TKVIPTCInfoList::ParseDataSets(std::span<const uint8_t> block) {
    TByteReader in(block);
    while (!in.AtEnd() && in.U8At(in.Position()) != IptcTag) in.Skip(1);
    try {
        while (!in.AtEnd()) {
            if (in.U8() != IptcTag) return;
            const int record = in.U8(), dataSet = in.U8();
            const uint16_t lengthField = in.U16BE();
            int64_t size = lengthField;
            if (lengthField & 0x8000) {
                size = int32_t(in.U32BE());
                if (size < 0) size = -size;  // 64-bit, so the most negative value cannot overflow
            }
            const std::span<const uint8_t> data = in.Bytes(size);
            dataSets_.push_back({record, dataSet, std::vector<uint8_t>(data.begin(), data.end())});
        }
    } catch (const EShortData&) {  // the data sets before the damage stay
    }
}

// ---- TKVTagsHandler

void TKVTagsHandler::ReadDirectory() {
    entries_.clear();
    TByteReader in(stream_.Bytes());
    if (in.Size() < 2) return;
    const int64_t count = in.U16LE();
    if (count * 12 > in.Remaining()) return;
    entries_.resize(size_t(count));
    for (TKVTIFFTag& entry : entries_) entry = {in.U16LE(), in.U16LE(), in.U32LE(), in.U32LE()};
}

void TKVTagsHandler::Clear() {
    stream_.Clear();
    entries_.clear();
}

void TKVTagsHandler::Assign(const TKVTagsHandler& source) {
    if (&source == this) return;
    stream_.Clear();
    if (!source.stream_.Bytes().empty())
        stream_.WriteBuffer(source.stream_.Bytes().data(), int64_t(source.stream_.Bytes().size()));
    stream_.SetPosition(0);
    entries_ = source.entries_;
}
