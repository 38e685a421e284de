#include "imaging/core/KVMetadata.h"

#include <cstring>
#include <string>

namespace {

constexpr uint8_t IptcTag = 0x1C;
constexpr int64_t ShortFormMax = 32767;
constexpr char PhotoshopSignature[] = "Photoshop 3.0";  // followed by its terminating zero
constexpr int64_t PhotoshopSignatureSize = sizeof PhotoshopSignature;
constexpr uint16_t IptcResourceId = 0x0404;
constexpr int64_t PhotoshopHeaderSize = 26;
constexpr int64_t ResourceSizeOffset = 22;
constexpr uint8_t PlainHeader[] = {0x1C, 0x02, 0x00, 0x00, 0x02, 0x00, 0x02};

[[noreturn]] void IndexError(int index) {
    throw EListError("List index out of bounds (" + std::to_string(index) + ")");
}

uint32_t GetBE32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

void PutBE16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(uint8_t(v >> 8));
    out.push_back(uint8_t(v));
}

void PutBE32(std::vector<uint8_t>& out, uint32_t v) {
    PutBE16(out, v >> 16);
    PutBE16(out, v & 0xFFFF);
}

uint32_t GetLE32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

struct Span {
    const uint8_t* data;
    int64_t length;
};

// Finds the IPTC resource among the Photoshop image resources. Scanning for the first 0x1C byte
// instead would stop in a resource header or size that happens to hold that byte.
bool FindIptcResource(const uint8_t* data, int64_t length, Span& iptc) {
    int64_t i = PhotoshopSignatureSize;
    while (i + 4 + 2 + 1 <= length && std::memcmp(data + i, "8BIM", 4) == 0) {
        const uint16_t id = uint16_t(data[i + 4] << 8 | data[i + 5]);
        int64_t nameField = 1 + int64_t(data[i + 6]);  // Pascal string padded to an even size
        nameField += nameField & 1;
        const int64_t sizeAt = i + 6 + nameField;
        if (sizeAt + 4 > length) return false;
        const int64_t size = GetBE32(data + sizeAt);
        const int64_t dataAt = sizeAt + 4;
        if (size > length - dataAt) return false;
        if (id == IptcResourceId) {
            iptc = {data + dataAt, size};
            return true;
        }
        i = dataAt + size + (size & 1);
    }
    return false;
}

}  // namespace

// ---- TKVMarkerList

void TKVMarkerList::AddMarker(uint8_t type, const void* data, uint16_t length) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    markers_.push_back({type, std::vector<uint8_t>(bytes, bytes + length)});
}

void TKVMarkerList::SetMarker(int index, uint8_t type, uint16_t length, const void* data) {
    At(index);
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
        PutBE16(out, IptcResourceId);
        PutBE16(out, 0);  // empty resource name
        PutBE32(out, 0);  // resource data size, filled in below
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
            PutBE16(out, uint32_t(set.data.size()));
        } else {
            out.push_back(0x80);  // extended form: the high bit, then the size of the length field
            out.push_back(0x04);
            PutBE32(out, uint32_t(set.data.size()));
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
        Span iptc{data, length};
        const bool isPhotoshop = length >= PhotoshopSignatureSize &&
                                 std::memcmp(data, PhotoshopSignature, PhotoshopSignatureSize) == 0;
        if (!isPhotoshop || FindIptcResource(data, length, iptc)) ParseDataSets(iptc.data, iptc.length);
    }
    modified_ = false;
}

void TKVIPTCInfoList::ParseDataSets(const uint8_t* data, int64_t length) {
    int64_t i = 0;
    while (i < length && data[i] != IptcTag) ++i;
    while (i < length) {
        if (data[i] != IptcTag || i + 5 > length) return;
        const int record = data[i + 1], dataSet = data[i + 2];
        int64_t size = 0, dataAt = 0;
        if (data[i + 3] & 0x80) {
            if (i + 9 > length) return;
            size = int32_t(GetBE32(data + i + 5));
            if (size < 0) size = -size;  // 64-bit, so the most negative value cannot overflow
            dataAt = i + 9;
        } else {
            size = int64_t(data[i + 3]) << 8 | data[i + 4];
            dataAt = i + 5;
        }
        if (size > length - dataAt) return;
        dataSets_.push_back({record, dataSet, std::vector<uint8_t>(data + dataAt, data + dataAt + size)});
        i = dataAt + size;
    }
}

// ---- TKVTagsHandler

void TKVTagsHandler::ReadDirectory() {
    entries_.clear();
    const std::vector<uint8_t>& bytes = stream_.Bytes();
    if (bytes.size() < 2) return;
    const int64_t count = int64_t(bytes[0]) | int64_t(bytes[1]) << 8;
    if (2 + count * 12 > int64_t(bytes.size())) return;
    entries_.reserve(size_t(count));
    for (int64_t k = 0; k < count; ++k) {
        const uint8_t* e = bytes.data() + 2 + 12 * k;
        entries_.push_back({uint16_t(e[0] | e[1] << 8), uint16_t(e[2] | e[3] << 8), GetLE32(e + 4), GetLE32(e + 8)});
    }
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
