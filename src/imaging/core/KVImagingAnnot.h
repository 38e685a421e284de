#pragma once
// Imaging annotations of scanned TIFF pages (marks drawn over the page), carried from file to file.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "imaging/core/KVBitmap.h"
#include "platform/Graphics.h"

// One mark. Only the mark type and a text mark's font height are interpreted; the other attribute
// bytes are kept as read.
class TKVImagingObject : public TObject {
public:
    static constexpr size_t AttributeSize = 164;
    enum : int32_t { kvmImage = 1, kvmLine = 3, kvmFreehand = 4, kvmFirstText = 7, kvmLastText = 10 };

    std::array<uint8_t, AttributeSize> Attributes{};
    std::vector<TPoint> Points;        // lines and freehand strokes
    std::string Text;                  // text marks; 8-bit text as stored in the file
    std::unique_ptr<TKVBitmap> Image;  // image marks

    int32_t MarkType() const { return GetInt(0); }
    void SetMarkType(int32_t type) { SetInt(0, type); }
    int32_t FontHeight() const { return GetInt(48); }
    void SetFontHeight(int32_t height) { SetInt(48, height); }

private:
    int32_t GetInt(size_t at) const;
    void SetInt(size_t at, int32_t value);
};

class TKVImagingAnnot : public TObject {
public:
    int Count() const { return static_cast<int>(objects_.size()); }
    TKVImagingObject& Objects(int index);
    void Add(std::unique_ptr<TKVImagingObject> object);
    void Clear() { objects_.clear(); }
    // A deep copy of every mark of source, images included.
    void Assign(const TKVImagingAnnot& source);

    // Appends the marks of one annotation block. A damaged or truncated block appends nothing
    // and returns false.
    bool LoadFromBuffer(const uint8_t* data, int64_t length);
    // Empty when there are no marks.
    std::vector<uint8_t> SaveToBuffer() const;

private:
    std::vector<std::unique_ptr<TKVImagingObject>> objects_;
};
