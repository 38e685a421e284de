#include <gtest/gtest.h>

#include <mutex>
#include <thread>

#include "imaging/core/KVLibraryState.h"

TEST(KVBasicHelpers, GlobalLockIsRecursive) {
    std::lock_guard outer(KVGlobalLock);
    std::lock_guard inner(KVGlobalLock);
    bool taken = true;
    std::thread([&] { taken = KVGlobalLock.try_lock(); }).join();
    EXPECT_FALSE(taken);
}
