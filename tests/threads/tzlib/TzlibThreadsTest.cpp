// Files another process holds locked, let go by a thread of the test after a pause.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "TestSupport.h"
#include "tzlib/Errors.h"
#include "tzlib/FileHelpers.h"

namespace {

class TzlibThreadsTest : public testing::Test {
protected:
    TLibrarySettingsGuard settings;
    TScratchFolder folder;
};
using ErrorsTest = TzlibThreadsTest;
using FileHelpersTest = TzlibThreadsTest;

}  // namespace

TEST_F(ErrorsTest, LogWaitsForAnotherWriterAndDropsWhatCannotBeWritten) {
    LogFileName = folder.Path("shared.log");
    WriteLog("first", false);
    const int holder = ::open(LogFileName.c_str(), O_RDONLY);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    std::thread release([holder] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        ::close(holder);
    });
    WriteLog("second", false);
    release.join();
    EXPECT_TRUE(ReadFile(LogFileName).ends_with("first\r\nsecond\r\n"));

    LogFileName = folder.Path("missing/run.log");
    WriteLog("lost", true);
    EXPECT_FALSE(std::filesystem::exists(folder.Path("missing")));
}

TEST_F(FileHelpersTest, LockTestsLeavePermissionsAlone) {
    const std::string file = folder.Path("a.jpg");
    EXPECT_FALSE(IsFileLocked(file));  // missing
    WriteFile(file, "x");
    ::chmod(file.c_str(), 0444);
    EXPECT_TRUE(IsFileReadOnly(file));
    EXPECT_FALSE(IsFileLocked(file));
    EXPECT_TRUE(IsFileReadOnly(file));

    const int holder = ::open(file.c_str(), O_RDONLY);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    EXPECT_TRUE(IsFileLocked(file));
    std::thread release([holder] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        ::close(holder);
    });
    EXPECT_EQ(ErrorCodeOf([&] { WaitFileUnlocked(file); }), 0);
    release.join();
    EXPECT_FALSE(IsFileLocked(file));

    ClearReadOnly(file);
    EXPECT_FALSE(IsFileReadOnly(file));
    struct stat info;
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
}
