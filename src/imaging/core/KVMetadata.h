#pragma once
// Metadata kept beside a picture's pixels: JPEG markers, IPTC data sets and the maker-note directory.
#include <cstdint>
#include <span>
#include <vector>

#include "platform/Classes.h"

// JPEG markers (APPn, COM) in the order they were added; one type may occur several times.
class TKVMarkerList : public TObject {
public:
    // The most a JPEG segment can carry; longer markers are refused, never cut.
    static constexpr int64_t MaxMarkerLength = 65533;

    int Count() const { return static_cast<int>(markers_.size()); }
    // Raise EInvalidOperation for a length over MaxMarkerLength.
    void AddMarker(uint8_t type, const void* data, int64_t length);
    void SetMarker(int index, uint8_t type, int64_t length, const void* data);
    void DeleteMarker(int index);
    void Clear() { markers_.clear(); }
    // -1 when no marker has that type.
    int IndexOf(uint8_t type) const;
    uint8_t* GetMarkerData(int index);
    uint8_t GetMarkerType(int index) const;
    int64_t GetMarkerLength(int index) const;
    // Nothing happens for a null source.
    void Assign(const TKVMarkerList* source);

private:
    struct Marker {
        uint8_t type;
        std::vector<uint8_t> data;
    };
    const Marker& At(int index) const;
    std::vector<Marker> markers_;
};

// IPTC data sets, serialised as a Photoshop resource (JPEG APP13) or as plain data sets (TIFF).
class TKVIPTCInfoList : public TObject {
public:
    int Count() const { return static_cast<int>(dataSets_.size()); }
    // Returns the index of the new data set.
    int AddDataSet(int record, int dataSet, uint32_t length, const void* data);
    int GetRecordNumber(int index) const;
    int GetDataSetNumber(int index) const;
    const std::vector<uint8_t>& GetData(int index) const;
    void Clear();
    // Nothing happens for a null source.
    void Assign(const TKVIPTCInfoList* source);

    // Empty when the list holds no data sets.
    std::vector<uint8_t> SaveToBuffer(bool photoshop) const;
    // Replaces the content; a damaged block keeps the data sets before the damage.
    void LoadFromBuffer(const uint8_t* data, int64_t length);

    bool Modified() const { return modified_; }

private:
    struct DataSet {
        int record;
        int dataSet;
        std::vector<uint8_t> data;
    };
    const DataSet& At(int index) const;
    void ParseDataSets(std::span<const uint8_t> block);
    std::vector<DataSet> dataSets_;
    bool modified_ = false;
};

// One 12-byte TIFF directory entry.
struct TKVTIFFTag {
    uint16_t Tag = 0;
    uint16_t Type = 0;
    uint32_t Count = 0;
    uint32_t ValueOffset = 0;
    bool operator==(const TKVTIFFTag&) const = default;
};

// A little-endian TIFF directory held as bytes (the EXIF maker note): a 16-bit entry count, the
// 12-byte entries, then the data that does not fit in an entry, offsets from the stream's start.
class TKVTagsHandler : public TObject {
public:
    TMemoryStream& Stream() { return stream_; }
    const TMemoryStream& Stream() const { return stream_; }
    // Re-reads the entries from the stream; a directory whose entries are not all present is
    // refused and leaves no entries.
    void ReadDirectory();
    const std::vector<TKVTIFFTag>& Entries() const { return entries_; }
    void Clear();
    void Assign(const TKVTagsHandler& source);

private:
    TMemoryStream stream_;
    std::vector<TKVTIFFTag> entries_;
};
