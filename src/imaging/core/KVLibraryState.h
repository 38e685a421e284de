#pragma once
// State shared by the whole image library.
#include <cstdint>
#include <mutex>

// Serialises work across threads that share the library's caches (the thumbnail loader).
extern std::recursive_mutex KVGlobalLock;

// Percent weights of the weighted gray: (R * Red + G * Green + B * Blue) / 100.
struct TKVGrayWeights {
    int32_t Red;
    int32_t Green;
    int32_t Blue;
};
extern TKVGrayWeights KVGrayWeights;
