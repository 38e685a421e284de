#include "imaging/core/KVLists.h"

#include <algorithm>
#include <cstring>
#include <limits>

void TKVList::SetCount(int n) {
    n = std::max(n, 0);
    items_.resize(size_t(int64_t(n) * itemSize_), 0);
    count_ = n;
    changeFlags_ |= kvlItemsChanged;
}

void TKVList::Delete(int i) {
    if (i < 0 || i >= count_) return;
    const auto first = items_.begin() + int64_t(i) * itemSize_;
    items_.erase(first, first + itemSize_);
    --count_;
    changeFlags_ |= kvlItemsChanged;
}

void TKVList::Clear() {
    items_.clear();
    count_ = 0;
    changeFlags_ = 0;
}

void TKVList::Assign(const TKVList* source) {
    if (!source || source == this) return;
    items_ = source->items_;
    count_ = source->count_;
    itemSize_ = source->itemSize_;
    changeFlags_ = source->changeFlags_;
}

int TKVList::Add(const void* item) {
    SetCount(count_ + 1);
    std::memcpy(GetItemPtr(count_ - 1), item, size_t(itemSize_));
    return count_ - 1;
}

void TKVList::SetItem(int i, const void* item) {
    if (i < 0 || i >= count_) return;
    std::memcpy(GetItemPtr(i), item, size_t(itemSize_));
    changeFlags_ |= kvlItemsChanged;
}

int TKVList::IndexOf(const void* item) const {
    for (int i = 0; i < count_; ++i)
        if (std::memcmp(items_.data() + int64_t(i) * itemSize_, item, size_t(itemSize_)) == 0) return i;
    return -1;
}

void TKVByteArray::AppendByte(uint8_t b) {
    SetSize(Size() + 1);
    data_.back() = b;
}

void TKVByteArray::SetSize(int64_t n) {
    n = std::max<int64_t>(n, 0);
    if (n > Capacity()) {
        data_.reserve(size_t(n + GrowthStep));
    } else if (n < Capacity() - GrowthStep) {
        std::vector<uint8_t> smaller;
        smaller.reserve(size_t(n + GrowthStep));
        smaller.assign(data_.begin(), data_.begin() + std::min(n, Size()));
        data_ = std::move(smaller);
    }
    data_.resize(size_t(n), 0);
}

int64_t TKVByteArray::AppendFromStream(TStream& stream, int64_t n) {
    const int64_t oldSize = Size();
    // Never more than the stream still holds.
    n = std::clamp<int64_t>(n, 0, std::max<int64_t>(stream.Size() - stream.Position(), 0));
    SetSize(oldSize + n);
    const int64_t got = n ? std::max<int64_t>(stream.Read(data_.data() + oldSize, n), 0) : 0;
    SetSize(oldSize + got);
    return got;
}

int64_t KVColorCount(int bits, int samples) {
    const int64_t perSample = int64_t(1) << (unsigned(bits) % 32);
    int64_t count = 1;
    for (int i = 0; i < samples; ++i) {
        if (count > std::numeric_limits<int64_t>::max() / perSample) return std::numeric_limits<int64_t>::max();
        count *= perSample;
    }
    return count;
}
