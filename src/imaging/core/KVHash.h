#pragma once
// A hash set of 32-bit keys with 2^N slots, used to count distinct colours.
#include <cstdint>
#include <memory>
#include <vector>

struct THash1Item {
    uint32_t Key = 0;
    std::unique_ptr<THash1Item> Next;
    int32_t Value = 0;
};

class THash1 {
public:
    explicit THash1(int bits);
    ~THash1();
    THash1(const THash1&) = delete;
    THash1& operator=(const THash1&) = delete;

    uint32_t BucketOf(uint32_t key) const { return key & (slotCount_ - 1); }
    // False when the key is present. A key that starts a chain, or joins one, is reported as
    // newItem; a key alone in its slot leaves newItem null.
    bool InsertItem(uint32_t key, uint32_t& slot, THash1Item*& newItem);
    bool Insert(uint32_t key);
    int Count() const { return count_; }
    int SlotCount() const { return int(slotCount_); }

private:
    enum SlotState : uint8_t { Empty, OneKey, Chain };
    struct Slot {
        SlotState state = Empty;
        uint32_t key = 0;    // state OneKey
        int32_t value = 0;   // associated with that key
        std::unique_ptr<THash1Item> chain;  // state Chain
    };
    uint32_t slotCount_;
    std::vector<Slot> slots_;
    int count_ = 0;
};
