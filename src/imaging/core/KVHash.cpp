#include "imaging/core/KVHash.h"

#include <algorithm>

THash1::THash1(int bits) : slotCount_(uint32_t(1) << std::clamp(bits, 0, 30)), slots_(slotCount_) {}

THash1::~THash1() {
    // Chains are unlinked one item at a time: a long chain must not recurse.
    for (Slot& slot : slots_)
        for (std::unique_ptr<THash1Item> item = std::move(slot.chain); item;) item = std::move(item->Next);
}

bool THash1::InsertItem(uint32_t key, uint32_t& slotIndex, THash1Item*& newItem) {
    slotIndex = BucketOf(key);
    newItem = nullptr;
    Slot& slot = slots_[slotIndex];
    switch (slot.state) {
        case Empty:
            slot.state = OneKey;
            slot.key = key;
            break;
        case OneKey: {
            if (slot.key == key) return false;
            auto first = std::make_unique<THash1Item>();
            first->Key = slot.key;
            first->Value = slot.value;
            first->Next = std::make_unique<THash1Item>();
            first->Next->Key = key;
            newItem = first->Next.get();
            slot.chain = std::move(first);
            slot.state = Chain;
            break;
        }
        case Chain: {
            THash1Item* item = slot.chain.get();
            for (;; item = item->Next.get()) {
                if (item->Key == key) return false;
                if (!item->Next) break;
            }
            item->Next = std::make_unique<THash1Item>();
            item->Next->Key = key;
            newItem = item->Next.get();
            break;
        }
    }
    ++count_;
    return true;
}

bool THash1::Insert(uint32_t key) {
    uint32_t slot;
    THash1Item* item;
    return InsertItem(key, slot, item);
}
