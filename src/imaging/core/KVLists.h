#pragma once
// Typed growable lists with the range values that scanner capabilities carry, and a growable
// byte buffer.
#include <cstdint>
#include <vector>

#include "platform/Classes.h"

// Bits of a list's change flags.
constexpr uint8_t kvlItemsChanged = 1, kvlRangeChanged = 2, kvlCurrentChanged = 4;

class TKVList : public TObject {
public:
    int Count() const { return count_; }
    int ItemSize() const { return itemSize_; }
    // Set by the setters; the owner may save, restore or clear them.
    uint8_t ChangeFlags() const { return changeFlags_; }
    void SetChangeFlags(uint8_t flags) { changeFlags_ = flags; }

    // Keeps the first min(old, n) items; new items are zero.
    virtual void SetCount(int n);
    // Ignored when i is out of range.
    virtual void Delete(int i);
    virtual void Clear();
    virtual void Assign(const TKVList* source);

    int Add(const void* item);
    // No range check.
    void* GetItemPtr(int i) { return items_.data() + int64_t(i) * itemSize_; }
    // Ignored when i is out of range.
    void SetItem(int i, const void* item);
    // The first index whose bytes equal the item's, -1 when none.
    int IndexOf(const void* item) const;

protected:
    explicit TKVList(int itemSize) : itemSize_(itemSize) {}

    std::vector<uint8_t> items_;
    int count_ = 0;
    int itemSize_;
    uint8_t changeFlags_ = 0;
};

// A list of values with a range (minimum, maximum, step) and a current value.
template <typename T>
class TKVValueList : public TKVList {
public:
    TKVValueList() : TKVList(sizeof(T)) {}

    void Clear() override {
        TKVList::Clear();
        rangeMin_ = rangeMax_ = rangeStep_ = currentValue_ = T{};
    }
    // Only from a list of the same value type.
    void Assign(const TKVList* source) override {
        auto* list = dynamic_cast<const TKVValueList*>(source);
        if (!list) return;
        TKVList::Assign(source);
        rangeMin_ = list->rangeMin_;
        rangeMax_ = list->rangeMax_;
        rangeStep_ = list->rangeStep_;
        currentValue_ = list->currentValue_;
    }

    int Add(T value) { return TKVList::Add(&value); }
    T GetItem(int i) const { return reinterpret_cast<const T*>(items_.data())[i]; }
    void SetItem(int i, T value) { TKVList::SetItem(i, &value); }
    int IndexOf(T value) const { return TKVList::IndexOf(&value); }

    T RangeMin() const { return rangeMin_; }
    void SetRangeMin(T value) { rangeMin_ = value; changeFlags_ |= kvlRangeChanged; }
    T RangeMax() const { return rangeMax_; }
    void SetRangeMax(T value) { rangeMax_ = value; changeFlags_ |= kvlRangeChanged; }
    T RangeStep() const { return rangeStep_; }
    void SetRangeStep(T value) { rangeStep_ = value; changeFlags_ |= kvlRangeChanged; }
    T CurrentValue() const { return currentValue_; }
    void SetCurrentValue(T value) { currentValue_ = value; changeFlags_ |= kvlCurrentChanged; }

private:
    T rangeMin_{}, rangeMax_{}, rangeStep_{}, currentValue_{};
};

using TKVDoubleList = TKVValueList<double>;
using TKVIntegerList = TKVValueList<int32_t>;

// Records of a size given at construction.
class TKVRecordList : public TKVList {
public:
    explicit TKVRecordList(int size) : TKVList(size) {}
    void* GetItem(int i) { return GetItemPtr(i); }
};

// A byte buffer that grows in steps of 8192 bytes.
class TKVByteArray {
public:
    static constexpr int64_t GrowthStep = 8192;

    TKVByteArray() { data_.reserve(GrowthStep); }
    int64_t Size() const { return int64_t(data_.size()); }
    int64_t Capacity() const { return int64_t(data_.capacity()); }
    uint8_t* Data() { return data_.data(); }

    void AppendByte(uint8_t b);
    void SetSize(int64_t n);
    // Appends up to n bytes read from the stream; returns how many were read.
    int64_t AppendFromStream(TStream& stream, int64_t n);

private:
    std::vector<uint8_t> data_;
};

// (2^bits)^samples, saturated at the largest 64-bit value.
int64_t KVColorCount(int bits, int samples);
