#include "imaging/core/KVImagingAnnot.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>

#include "imaging/core/KVDibBitmap.h"
#include "imaging/core/KVViewServices.h"
#include "platform/ByteReader.h"
#include "platform/PictureLimits.h"
#include "imaging/core/KVPackedDib.h"

namespace {

// Record types of an annotation block.
constexpr int32_t DefaultBlockRecord = 2, MarkRecord = 5, MarkBlockRecord = 6;
constexpr int32_t NamedBlockHeadSize = 12;  // the name and the data size
constexpr size_t NameSize = 8;
constexpr size_t ImageRecordSize = 56;
constexpr size_t TextHeaderSize = 16;

struct DamagedBlock {};

bool IsTextMark(int32_t type) {
    return type >= TKVImagingObject::kvmFirstText && type <= TKVImagingObject::kvmLastText;
}

using NamedBlocks = std::map<std::string, std::vector<uint8_t>>;

class BlockParser {
public:
    BlockParser(const uint8_t* data, int64_t length) : in_(data, length) {}

    std::vector<std::unique_ptr<TKVImagingObject>> Parse() {
        in_.Skip(4);  // reserved
        const bool longSizes = in_.U32LE() == 0;
        while (!in_.AtEnd()) {
            const int32_t type = int32_t(in_.U32LE());
            const uint32_t size = in_.U32LE();
            if (type == DefaultBlockRecord) {
                ReadNamedBlock(longSizes);  // defaults apply to no mark we keep
            } else if (type == MarkBlockRecord) {
                auto [name, data] = ReadNamedBlock(longSizes);
                markBlocks_[name] = std::move(data);
            } else if (type == MarkRecord) {
                FinishMark();
                markBlocks_.clear();
                std::memcpy(attributes_.data(), in_.Bytes(TKVImagingObject::AttributeSize).data(), attributes_.size());
            } else {
                in_.Skip(size);  // a record we do not know: skip its data
            }
        }
        FinishMark();
        return std::move(marks_);
    }

private:
    std::pair<std::string, std::vector<uint8_t>> ReadNamedBlock(bool longSizes) {
        const auto* rawName = reinterpret_cast<const char*>(in_.Bytes(NameSize).data());
        const std::string name(rawName, strnlen(rawName, NameSize));
        const uint32_t size = in_.U32LE();
        if (longSizes) in_.Skip(4);
        const std::span<const uint8_t> data = in_.Bytes(size);
        return {name, std::vector<uint8_t>(data.begin(), data.end())};
    }

    void FinishMark() {
        const auto type = int32_t(TByteReader(attributes_).U32LEAt(0));
        if (type < 1) return;
        auto mark = std::make_unique<TKVImagingObject>();
        mark->Attributes = attributes_;
        if (type == TKVImagingObject::kvmImage) ReadImage(*mark);
        if (type == TKVImagingObject::kvmLine || type == TKVImagingObject::kvmFreehand) ReadPoints(*mark);
        if (IsTextMark(type)) ReadText(*mark);
        marks_.push_back(std::move(mark));
    }

    const std::vector<uint8_t>* Block(const char* name) const {
        const auto found = markBlocks_.find(name);
        return found == markBlocks_.end() ? nullptr : &found->second;
    }

    void ReadImage(TKVImagingObject& mark) {
        const std::vector<uint8_t>* dib = Block("OiDIB");
        if (!dib) return;
        TKVDibbitmap decoded;
        if (KVDIBToDibBitmap(dib->data(), int64_t(dib->size()), decoded) == 0) throw DamagedBlock();
        CountDecoded(decoded);
        mark.Image = std::make_unique<TKVBitmap>();
        mark.Image->CopyFromDibbitmap(&decoded);
    }

    void ReadPoints(TKVImagingObject& mark) {
        const std::vector<uint8_t>* block = Block("OiAnoDat");
        if (!block) return;
        TByteReader points(*block);
        points.Skip(4);  // the maximum point count
        const uint32_t count = points.U32LE();
        points.BytesAt(points.Position(), int64_t(count) * 8);  // all present before allocating
        mark.Points.resize(count);
        for (TPoint& point : mark.Points) point = {int32_t(points.U32LE()), int32_t(points.U32LE())};
    }

    void ReadText(TKVImagingObject& mark) {
        const std::vector<uint8_t>* block = Block("OiAnText");
        if (!block) return;
        if (block->size() < TextHeaderSize) throw DamagedBlock();
        const auto* text = reinterpret_cast<const char*>(block->data() + TextHeaderSize);
        mark.Text.assign(text, strnlen(text, block->size() - TextHeaderSize));
        // Font heights are stored for the scale of the screen that wrote them.
        const uint32_t creationScale = TByteReader(*block).U32LEAt(8);
        if (creationScale == 0 || KVScreenDpiY <= 0) return;  // keep the height as read
        const double height = 72000.0 / creationScale * mark.FontHeight() / KVScreenDpiY;
        mark.SetFontHeight(int32_t(std::clamp(std::nearbyint(height), double(std::numeric_limits<int32_t>::min()),
                                              double(std::numeric_limits<int32_t>::max()))));
    }

    // Each image is bounded by the picture limits; the images of one block together are too, so
    // that a small block cannot claim many large pictures.
    void CountDecoded(TKVDibbitmap& image) {
        const TPictureLimits& limits = PictureLimits();
        decodedPixels_ += int64_t(image.GetWidth()) * image.GetHeight();
        decodedBytes_ += image.GetRowLen() * image.GetHeight();
        const bool tooMany = decodedPixels_ > limits.maxPixels;
        const bool tooLarge = decodedBytes_ > limits.freeBytes && decodedBytes_ / limits.maxDecodeRatio > in_.Size();
        if (tooMany || tooLarge) throw DamagedBlock();
    }

    TByteReader in_;
    int64_t decodedPixels_ = 0;
    int64_t decodedBytes_ = 0;
    std::array<uint8_t, TKVImagingObject::AttributeSize> attributes_{};
    NamedBlocks markBlocks_;
    std::vector<std::unique_ptr<TKVImagingObject>> marks_;
};

class BlockWriter {
public:
    void PutInt(int64_t value) {
        const auto v = uint32_t(value);
        for (int k = 0; k < 4; ++k) out_.push_back(uint8_t(v >> (8 * k)));
    }
    void PutBytes(const void* data, size_t size) {
        const auto* p = static_cast<const uint8_t*>(data);
        out_.insert(out_.end(), p, p + size);
    }
    void PutText(const std::string& text) { PutBytes(text.c_str(), text.size() + 1); }

    // A record whose size field counts the bytes written by body.
    template <typename Body>
    void SizedRecord(int32_t type, Body body) {
        PutInt(type);
        SizedData(body);
    }
    // A named block: its head size is fixed; its data size counts the bytes written by body.
    template <typename Body>
    void NamedBlock(int32_t type, const char* name, Body body) {
        PutInt(type);
        PutInt(NamedBlockHeadSize);
        char padded[NameSize] = {};
        std::memcpy(padded, name, strnlen(name, NameSize));
        PutBytes(padded, NameSize);
        SizedData(body);
    }
    std::vector<uint8_t> Take() { return std::move(out_); }

private:
    template <typename Body>
    void SizedData(Body body) {
        const size_t sizeAt = out_.size();
        PutInt(0);
        body();
        const auto size = uint32_t(out_.size() - sizeAt - 4);
        for (int k = 0; k < 4; ++k) out_[sizeAt + size_t(k)] = uint8_t(size >> (8 * k));
    }
    std::vector<uint8_t> out_;
};

std::string Decimal(int value) {
    char buffer[16];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, end);
}

}  // namespace

int32_t TKVImagingObject::GetInt(size_t at) const { return int32_t(TByteReader(Attributes).U32LEAt(int64_t(at))); }

void TKVImagingObject::SetInt(size_t at, int32_t value) {
    for (size_t k = 0; k < 4; ++k) Attributes[at + k] = uint8_t(uint32_t(value) >> (8 * k));
}

TKVImagingObject& TKVImagingAnnot::Objects(int index) {
    if (index < 0 || index >= Count()) throw EListError("List index out of bounds (" + std::to_string(index) + ")");
    return *objects_[size_t(index)];
}

void TKVImagingAnnot::Add(std::unique_ptr<TKVImagingObject> object) { objects_.push_back(std::move(object)); }

void TKVImagingAnnot::Assign(const TKVImagingAnnot& source) {
    if (&source == this) return;
    std::vector<std::unique_ptr<TKVImagingObject>> copies;
    for (const auto& object : source.objects_) {
        auto copy = std::make_unique<TKVImagingObject>();
        copy->Attributes = object->Attributes;
        copy->Points = object->Points;
        copy->Text = object->Text;
        if (object->Image) {
            copy->Image = std::make_unique<TKVBitmap>();
            copy->Image->Assign(object->Image.get());
        }
        copies.push_back(std::move(copy));
    }
    objects_ = std::move(copies);
}

bool TKVImagingAnnot::LoadFromBuffer(const uint8_t* data, int64_t length) {
    if (!data || length <= 0) return length == 0;
    try {
        for (auto& mark : BlockParser(data, length).Parse()) objects_.push_back(std::move(mark));
        return true;
    } catch (const DamagedBlock&) {
        return false;
    } catch (const Exception&) {  // data that ends early, or an image the bitmap cannot hold
        return false;
    }
}

std::vector<uint8_t> TKVImagingAnnot::SaveToBuffer() const {
    if (objects_.empty()) return {};
    BlockWriter out;
    out.PutInt(0);  // reserved
    out.PutInt(1);  // 32-bit sizes
    out.NamedBlock(DefaultBlockRecord, "OiGroup", [&] { out.PutText("0"); });
    out.NamedBlock(DefaultBlockRecord, "OiIndex", [&] { out.PutText("1"); });
    for (size_t i = 0; i < objects_.size(); ++i) {
        const TKVImagingObject& mark = *objects_[i];
        const int32_t type = mark.MarkType();
        out.SizedRecord(MarkRecord, [&] { out.PutBytes(mark.Attributes.data(), mark.Attributes.size()); });
        if (type == TKVImagingObject::kvmImage) {
            out.NamedBlock(MarkBlockRecord, "OiAnoDat", [&] {
                for (int value : {1, 1000, KVScreenDpiX, KVScreenDpiY, KVScreenDpiX, KVScreenDpiY, 0, 0})
                    out.PutInt(value);
                const uint8_t zeros[ImageRecordSize - 32] = {};
                out.PutBytes(zeros, sizeof zeros);
            });
            if (mark.Image && !mark.Image->IsEmpty()) {
                const std::vector<uint8_t> dib = KVBitmapToDIBHandle(*mark.Image, 0, 0, 0, 0);
                out.NamedBlock(MarkBlockRecord, "OiDIB", [&] { out.PutBytes(dib.data(), dib.size()); });
            }
        } else if (type == TKVImagingObject::kvmLine || type == TKVImagingObject::kvmFreehand) {
            out.NamedBlock(MarkBlockRecord, "OiAnoDat", [&] {
                out.PutInt(int64_t(mark.Points.size()));
                out.PutInt(int64_t(mark.Points.size()));
                for (const TPoint& p : mark.Points) {
                    out.PutInt(p.X);
                    out.PutInt(p.Y);
                }
            });
        } else if (IsTextMark(type)) {
            out.NamedBlock(MarkBlockRecord, "OiAnText", [&] {
                out.PutInt(0);
                out.PutInt(1000);
                out.PutInt(KVScreenDpiY > 0 ? 72000 / KVScreenDpiY : 0);
                out.PutInt(int64_t(mark.Text.size()));
                out.PutText(mark.Text);
            });
        }
        out.NamedBlock(MarkBlockRecord, "OiGroup", [&] { out.PutText("0"); });
        out.NamedBlock(MarkBlockRecord, "OiIndex", [&] { out.PutText(Decimal(int(i))); });
    }
    return out.Take();
}
