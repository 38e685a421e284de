#include "app/engine/AppFolders.h"
#include "app/engine/ShellIntegration.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
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
    EXPECT_TRUE(Contains(ReadFile(installed), "Name=Brelvant Mordale\n"));
    // Already integrated: the installed entry is left alone.
    WriteFile(installed, ReadFile(installed) + "# kept\n");
    SetExplorerIntegration(true);
    EXPECT_TRUE(Contains(ReadFile(installed), "# kept"));

    SetExplorerIntegration(false);
    EXPECT_FALSE(IsExplorerIntegrated());
    EXPECT_FALSE(std::filesystem::exists(installed));
}

// The installed entry can start the program from any desktop: the desktop's validator finds
// nothing to say, every command names an executable file by its full path, and its icon is a
// picture in the user's icon theme folder of the picture's size.
TEST(AppFoldersTest, TheInstalledEntryStartsTheProgramAndShowsItsIcon) {
    TPrivateEnvironment environment;
    SetExplorerIntegration(true);
    const std::string installed = environment.Home().Path("data") + "/applications/Mordale_ExplorerMenu.desktop";
    const TCommandResult validated = RunTool("desktop-file-validate " + Quoted(installed));
    EXPECT_EQ(validated.status, 0) << validated.output;
    EXPECT_EQ(validated.output, "");

    std::istringstream lines(ReadFile(installed));
    int commands = 0;
    std::string icon;
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("Icon=")) icon = line.substr(5);
        if (!line.starts_with("Exec=")) continue;
        ++commands;
        const std::string program = line.substr(5, line.find(' ') - 5);
        EXPECT_TRUE(program.starts_with("/")) << line;
        EXPECT_EQ(::access(program.c_str(), X_OK), 0) << line;
        EXPECT_TRUE(std::filesystem::is_regular_file(program)) << line;
    }
    EXPECT_EQ(commands, 3);
    ASSERT_FALSE(icon.empty());
    // Looked up as the icon theme rules say: a picture of the name in a size folder of hicolor.
    std::string found;
    for (const auto& size : std::filesystem::directory_iterator(environment.Home().Path("data") + "/icons/hicolor"))
        if (std::filesystem::exists(size.path() / "apps" / (icon + ".png"))) found = (size.path() / "apps" / (icon + ".png")).string();
    ASSERT_FALSE(found.empty());
    const std::string size = std::filesystem::path(found).parent_path().parent_path().filename().string();
    EXPECT_EQ(RunTool("identify -format '%m %wx%h' " + Quoted(found)).output, "PNG " + size);
    SetExplorerIntegration(false);
    EXPECT_FALSE(std::filesystem::exists(found));
}

}  // namespace
