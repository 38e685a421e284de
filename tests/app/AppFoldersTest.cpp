#include "app/AppFolders.h"
#include "app/ShellIntegration.h"

#include <sys/stat.h>

#include <filesystem>
#include <gtest/gtest.h>

#include "AppTestSupport.h"

namespace {

TEST(AppFoldersTest, TempFolderIsPrivateUniqueAndRemovedWithItsContent) {
    TPrivateEnvironment environment;
    CreateTempFolder();
    const std::string first = TempFolder;
    ASSERT_TRUE(first.starts_with(environment.Home().Path("tmp") + "/")) << first;
    ASSERT_TRUE(first.ends_with("/"));
    struct stat info;
    ASSERT_EQ(::stat(first.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    WriteFile(first + "Pic1.bmp", "scan");

    CreateTempFolder();  // a second run never shares the folder
    EXPECT_NE(TempFolder, first);
    DeleteTempFolder();
    TempFolder = first;
    DeleteTempFolder();
    EXPECT_FALSE(std::filesystem::exists(first));
    EXPECT_TRUE(TempFolder.empty());
}

TEST(AppFoldersTest, DesktopIntegrationInstallsAndRemovesTheEntryOnce) {
    TPrivateEnvironment environment;
    const std::string installed = environment.Home().Path("data") + "/applications/Mordale_ExplorerMenu.desktop";
    ASSERT_TRUE(std::filesystem::exists(ShellExtensionPath())) << ShellExtensionPath();
    EXPECT_FALSE(IsExplorerIntegrated());
    SetExplorerIntegration(false);  // nothing to remove
    EXPECT_FALSE(IsExplorerIntegrated());

    SetExplorerIntegration(true);
    ASSERT_TRUE(IsExplorerIntegrated());
    EXPECT_EQ(ReadFile(installed), ReadFile(ShellExtensionPath()));
    // Already integrated: the installed entry is left alone.
    WriteFile(installed, ReadFile(installed) + "# kept\n");
    SetExplorerIntegration(true);
    EXPECT_TRUE(Contains(ReadFile(installed), "# kept"));

    SetExplorerIntegration(false);
    EXPECT_FALSE(IsExplorerIntegrated());
    EXPECT_FALSE(std::filesystem::exists(installed));
}

}  // namespace
