#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KVFileFormats.h"

// Loader threads look formats up while others are registered: entries handed out stay where they
// are, also after their format is taken out of the table.
TEST(KVFileFormats, EntriesStayValidWhileThreadsRegisterAndLookUp) {
    const TKVFileFormatEntry* jpeg = GetFileFormatByExt("jpg");
    TKVFileFormatEntry first;
    first.FileType = 3000;
    first.Description = "First Added";
    first.Extensions = "FA1";
    RegisterFileFormat(first);
    const TKVFileFormatEntry* added = GetFileFormatByType(3000);
    ASSERT_NE(added, nullptr);

    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 300; ++i) {
                TKVFileFormatEntry entry;
                entry.FileType = 4000 + t * 1000 + i;
                entry.Extensions = "T" + std::to_string(t) + "X" + std::to_string(i);
                RegisterFileFormat(entry);
                EXPECT_EQ(GetFileFormatByExt("png")->FileType, kvftPNG);
                EXPECT_EQ(GetFileFormatByType(entry.FileType)->Extensions, entry.Extensions);
            }
        });
    UnregisterFileFormat(3000);
    for (std::thread& thread : threads) thread.join();

    EXPECT_EQ(jpeg->Description, "JPEG Bitmap");
    EXPECT_EQ(added->Description, "First Added");  // retired, still readable
    EXPECT_EQ(GetFileFormatByType(3000), nullptr);
    EXPECT_EQ(GetFileFormatByExt("t3x299")->FileType, 4000 + 3 * 1000 + 299);
    for (int t = 0; t < 4; ++t)
        for (int i = 0; i < 300; ++i) UnregisterFileFormat(4000 + t * 1000 + i);
    EXPECT_EQ(int(GetFileFormats().size()), 19);
}
