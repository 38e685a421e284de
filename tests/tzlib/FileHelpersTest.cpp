#include "tzlib/FileHelpers.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <functional>

#include "TestSupport.h"
#include "platform/Classes.h"
#include "tzlib/Errors.h"

namespace fs = std::filesystem;

namespace {

// Runs the call in a child process without the privileges that would let root write anywhere,
// and returns the code of the numbered error it raised (0 for none, -1 for another failure).
int32_t ErrorCodeWithoutPrivileges(const std::function<void()>& call) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(255);
        int32_t code = -1;
        try {
            code = ErrorCodeOf(call);
        } catch (...) {
        }
        ::_exit(code < 0 ? 254 : code);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) >= 254) return -1;
    return WEXITSTATUS(status);
}

// A folder that an unprivileged process can look into but not change.
void Protect(const std::string& folder, const std::string& root) {
    ::chmod(root.c_str(), 0755);
    ::chmod(folder.c_str(), 0555);
}

std::vector<std::string> Items(const TStringList& list) {
    std::vector<std::string> items;
    for (int i = 0; i < list.Count(); ++i) items.push_back(list.Strings(i));
    return items;
}

void SetModificationTime(const std::string& fileName, time_t time) {
    const timespec times[2] = {{time, 0}, {time, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, fileName.c_str(), times, 0), 0);
}

class FileHelpersTest : public testing::Test {
protected:
    TLibrarySettingsGuard settings;
    TScratchFolder folder;
};

TEST(FileNames, SeparatorsNamesAndParents) {
    const struct {
        std::string (*routine)(const std::string&);
        std::string path, expected;
    } cases[] = {
        {AddBackslash, "", ""},
        {AddBackslash, "/pics", "/pics/"},
        {AddBackslash, "/pics/", "/pics/"},
        {RemoveBackslash, "/pics/", "/pics"},
        {RemoveBackslash, "/pics", "/pics"},
        {RemoveBackslash, "/", "/"},
        {PrependBackslash, "", ""},
        {PrependBackslash, "a.jpg", "/a.jpg"},
        {PrependBackslash, "/a.jpg", "/a.jpg"},
        {RemoveLeadingBackslash, "/a.jpg", "a.jpg"},
        {RemoveLeadingBackslash, "//server/a.jpg", "//server/a.jpg"},
        {FileNameWithoutExt, "/opt/Mordale/mordale.debug.bin", "mordale"},
        {FileNameWithoutExt, "/home/Ann/Photo", "Photo"},
        {FileNameWithoutExt, "/home/ann/.hidden.jpg", ".hidden"},
        {ParentFolder, "/home/ann/pics", "/home/ann"},
        {ParentFolder, "/home/ann/pics/", "/home/ann"},
        {ParentFolder, "/home", "/"},
        {ParentFolder, "/", ""},
        {ParentFolder, "pics/a", "pics"},
        {ParentFolder, "pics", ""},
        {ParentFolder, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(c.routine(c.path), c.expected);
    }
}

TEST(FileNames, PathInFolderComparesFullPathsWithLetterCase) {
    const struct {
        std::string folder, path;
        bool expected;
    } cases[] = {
        {"", "/a/b", false},
        {"/a/b", "/a/b/c.jpg", true},
        {"/a/b/", "/a/b", true},
        {"/a/b", "/a/bc/d.jpg", false},
        {"/a/./b", "/a/x/../b/c.jpg", true},
        {"/a/B", "/a/b/c.jpg", false},
        {"/", "/a", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder + " " + c.path);
        EXPECT_EQ(IsPathInFolder(c.folder, c.path), c.expected);
    }
}

TEST_F(FileHelpersTest, ListsFilesByMaskDepthFirstWithoutHiddenOnesOrLinks) {
    fs::create_directories(folder.Path("sub/.cache"));
    fs::create_directories(folder.Path("-old"));
    fs::create_directories(folder.Path("elsewhere"));
    for (const char* name : {"a.jpg", "B.JPG", "b.png", ".hidden.jpg", "sub/c.jpg", "sub/.cache/d.jpg", "-old/e.Jpg",
                             "elsewhere/f.jpg"})
        WriteFile(folder.Path(name), "x");
    fs::create_directory_symlink(folder.Path("elsewhere"), folder.Path("sub/link"));
    fs::create_directory_symlink(folder.Folder(), folder.Path("sub/loop"));

    TStringList list;
    ListFilesByMask(folder.Folder(), "*.jpg", "", false, list);
    EXPECT_EQ(Items(list), (std::vector<std::string>{folder.Path("B.JPG"), folder.Path("a.jpg")}));

    list.Clear();
    ListFilesByMask(folder.Path("sub"), "", folder.Folder(), true, list);
    EXPECT_EQ(Items(list), (std::vector<std::string>{"sub/c.jpg"}));

    list.Clear();
    ListFilesByMask(folder.Folder(), "*.jpg", folder.Folder(), true, list);
    EXPECT_EQ(Items(list), (std::vector<std::string>{"B.JPG", "a.jpg", "-old/e.Jpg", "elsewhere/f.jpg", "sub/c.jpg"}));

    list.Clear();
    ListFilesByMask(folder.Folder(), "*.*", folder.Folder(), false, list);
    EXPECT_EQ(Items(list), (std::vector<std::string>{"B.JPG", "a.jpg", "b.png"}));

    list.Clear();
    ListFilesByMask(folder.Folder(), "?.PNG", folder.Folder(), false, list);
    EXPECT_EQ(Items(list), (std::vector<std::string>{"b.png"}));

    list.Clear();
    ListFilesAbort = true;
    ListFilesByMask(folder.Folder(), "", "", true, list);
    EXPECT_EQ(list.Count(), 0);
    ListFilesByMask(folder.Path("missing"), "", "", true, list);
    EXPECT_EQ(list.Count(), 0);
}

TEST_F(FileHelpersTest, MakesPathsRelativeToABase) {
    WriteFile(folder.Path("a.jpg"), "x");
    EXPECT_EQ(MakeRelativePath("pics/a.jpg", folder.Folder(), false), "pics/a.jpg");  // already relative
    EXPECT_EQ(MakeRelativePath(folder.Path("a.jpg"), "", false), folder.Path("a.jpg"));
    EXPECT_EQ(MakeRelativePath(folder.Path("a.jpg"), folder.Folder(), false), "a.jpg");
    EXPECT_EQ(MakeRelativePath(folder.Path("a.jpg"), folder.Folder() + "/", false), "a.jpg");
    // A file that does not exist (yet) is still relative, never rooted at "/".
    EXPECT_EQ(MakeRelativePath(folder.Path("sub/new.jpg"), folder.Folder(), false), "sub/new.jpg");
    EXPECT_EQ(ErrorCodeOf([&] { MakeRelativePath("/elsewhere/b.jpg", folder.Folder(), false); }), 14);
    EXPECT_EQ(MakeRelativePath("/elsewhere/b.jpg", folder.Folder(), true), "[/elsewhere/]b.jpg");
}

TEST_F(FileHelpersTest, DeletesWholeTreesButNotWhatLinksPointTo) {
    const std::string tree = folder.Path("tree");
    fs::create_directories(tree + "/-old/ (copy)");
    fs::create_directories(tree + "/.cache");
    fs::create_directories(folder.Path("kept"));
    for (const std::string& name : {tree + "/a.jpg", tree + "/.hidden", tree + "/-old/ (copy)/b.jpg",
                                    tree + "/.cache/c", folder.Path("kept/precious.jpg")})
        WriteFile(name, "x");
    ::chmod((tree + "/a.jpg").c_str(), 0444);
    fs::create_directory_symlink(folder.Path("kept"), tree + "/link");
    fs::create_symlink(folder.Path("gone"), tree + "/dangling");

    EXPECT_EQ(ErrorCodeOf([&] { DeleteFolderTree(tree, true); }), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(tree)));
    EXPECT_TRUE(fs::exists(folder.Path("kept/precious.jpg")));
    EXPECT_EQ(ErrorCodeOf([&] { DeleteFolderTree(folder.Path("missing"), true); }), 0);
}

TEST_F(FileHelpersTest, FailedDeletionsRaiseOnlyWhenAsked) {
    const std::string tree = folder.Path("tree");
    fs::create_directories(tree + "/stuck");
    WriteFile(tree + "/stuck/a.jpg", "x");
    WriteFile(tree + "/stuck/Thumbs.db", "x");
    Protect(tree + "/stuck", folder.Folder());
    ::chmod(tree.c_str(), 0755);

    EXPECT_EQ(ErrorCodeWithoutPrivileges([&] { DeleteFileChecked(tree + "/stuck/a.jpg"); }), 11);
    EXPECT_EQ(ErrorCodeWithoutPrivileges([&] { DeleteFileChecked(tree + "/stuck/Thumbs.db"); }), 0);
    EXPECT_EQ(ErrorCodeWithoutPrivileges([&] { DeleteFileChecked(tree + "/stuck/missing.jpg"); }), 0);
    EXPECT_EQ(ErrorCodeWithoutPrivileges([&] { DeleteFolderTree(tree, false); }), 0);
    EXPECT_EQ(ErrorCodeWithoutPrivileges([&] { DeleteFolderTree(tree, true); }), 51);
    EXPECT_TRUE(fs::exists(tree + "/stuck/a.jpg"));
}

TEST_F(FileHelpersTest, FileFactsAndFolderCreation) {
    const std::string file = folder.Path("a.jpg");
    EXPECT_EQ(ErrorCodeOf([&] { CheckFileExists(file); }), 4);
    EXPECT_EQ(ErrorCodeOf([&] { GetFileDate(file); }), 5);
    EXPECT_EQ(GetFileSizeByName(file), 0);
    WriteFile(file, std::string(1234, 'x'));
    EXPECT_EQ(ErrorCodeOf([&] { CheckFileExists(file); }), 0);
    EXPECT_EQ(GetFileSizeByName(file), 1234);
    EXPECT_FALSE(FileExists(folder.Folder()));
    EXPECT_TRUE(FolderExists(folder.Folder()));

    std::tm local{};
    local.tm_year = 2021 - 1900;
    local.tm_mon = 2;
    local.tm_mday = 4;
    local.tm_hour = 5;
    local.tm_min = 6;
    local.tm_sec = 7;
    local.tm_isdst = -1;
    SetModificationTime(file, std::mktime(&local));
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss", GetFileDate(file)), "2021-03-04 05:06:07");

    ForceFolder(folder.Path("x/y/z/"));
    EXPECT_TRUE(FolderExists(folder.Path("x/y/z")));
    EXPECT_EQ(ErrorCodeOf([&] { ForceFolder(file + "/sub"); }), 15);
}

// Names given in another letter case come back as the file system spells them; a link keeps its
// own name; a name that several entries match, or none, leaves the path as it was.
TEST_F(FileHelpersTest, TruePathNamesAreSpelledAsTheFileSystemHasThem) {
    fs::create_directories(folder.Path("Photos/Summer Trip"));
    WriteFile(folder.Path("Photos/Summer Trip/Beach.JPG"), "x");
    fs::create_directory_symlink(folder.Path("Photos"), folder.Path("Album"));
    WriteFile(folder.Path("Photos/twin.txt"), "x");
    WriteFile(folder.Path("Photos/TWIN.txt"), "x");
    const std::string root = folder.Folder() + "/";
    const struct {
        std::string given, spelled;
    } cases[] = {
        {"photos/summer trip/beach.jpg", "Photos/Summer Trip/Beach.JPG"},
        {"PHOTOS/Summer Trip/BEACH.jpg", "Photos/Summer Trip/Beach.JPG"},
        {"Photos/Summer Trip/Beach.JPG", "Photos/Summer Trip/Beach.JPG"},
        {"album/summer trip/", "Album/Summer Trip/"},
        {"photos/./summer trip/../twin.txt", "Photos/./Summer Trip/../twin.txt"},
        {"photos/Twin.txt", "photos/Twin.txt"},  // two entries match
        {"photos/TWIN.txt", "Photos/TWIN.txt"},  // but one is this very name
        {"photos/missing.jpg", "photos/missing.jpg"},
        {"photos/summer trip/beach.jpg/more", "photos/summer trip/beach.jpg/more"},
    };
    for (const auto& c : cases) EXPECT_EQ(GetTruePathName(root + c.given), root + c.spelled) << c.given;
    EXPECT_EQ(GetTruePathName("/"), "/");
    EXPECT_EQ(GetTruePathName(""), "");
}

int ReportedPercents[8];
int ReportCount = 0;
void RecordPercent(int percent) {
    if (ReportCount < 8) ReportedPercents[ReportCount] = percent;
    ++ReportCount;
}

void AbortCopy(int) { CopyAbort = true; }

TEST_F(FileHelpersTest, CopiesWithProgressAndTheSourcesDate) {
    const std::string source = folder.Path("a.jpg");
    WriteFile(source, std::string(25000, 's'));
    SetModificationTime(source, 1000000000);

    ReportCount = 0;
    CopyProgressProc = RecordPercent;
    EXPECT_EQ(ErrorCodeOf([&] { CopyFileWithProgress(source, folder.Path("b.jpg")); }), 2);  // no total
    CopyBytesTotal = 25000;
    CopyFileWithProgress(source, folder.Path("b.jpg"));
    EXPECT_EQ(ReadFile(folder.Path("b.jpg")), ReadFile(source));
    EXPECT_EQ(ReportCount, 3);
    EXPECT_EQ(std::vector<int>(ReportedPercents, ReportedPercents + 3), (std::vector<int>{40, 80, 100}));
    EXPECT_EQ(fs::last_write_time(folder.Path("b.jpg")), fs::last_write_time(source));

    CopyProgressProc = nullptr;
    CopyFileWithProgress(source, folder.Path("new/"));  // a folder: created, the name kept
    EXPECT_EQ(ReadFile(folder.Path("new/a.jpg")), ReadFile(source));
    CopyFileWithProgress(source, folder.Path("new"));  // an existing folder
    EXPECT_EQ(ReadFile(folder.Path("new/a.jpg")), ReadFile(source));

    CopyFileWithProgress(source, folder.Path("new/../a.jpg"));  // itself: left untouched
    EXPECT_EQ(ReadFile(source), std::string(25000, 's'));
    EXPECT_EQ(ErrorCodeOf([&] { CopyFileWithProgress(folder.Path("missing.jpg"), folder.Path("c.jpg")); }), 4);
}

TEST_F(FileHelpersTest, AnAbortedCopyLeavesTheOldDestination) {
    const std::string source = folder.Path("a.jpg");
    WriteFile(source, std::string(25000, 's'));
    WriteFile(folder.Path("b.jpg"), "old");
    CopyProgressProc = AbortCopy;
    CopyBytesTotal = 25000;
    CopyFileWithProgress(source, folder.Path("b.jpg"));
    EXPECT_EQ(ReadFile(folder.Path("b.jpg")), "old");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.Folder()), fs::directory_iterator()), 2);
}

}  // namespace
