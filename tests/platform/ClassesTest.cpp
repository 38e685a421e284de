#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "platform/Classes.h"
#include "platform/Files.h"
#include "TestSupport.h"

namespace fs = std::filesystem;

namespace {

mode_t ModeOf(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

void WriteAtomically(const std::string& target, const std::string& content) {
    TAtomicFile file(target);
    file.Stream().WriteBuffer(content.data(), static_cast<int64_t>(content.size()));
    file.Commit();
}

}  // namespace

TEST(Streams, MemoryStreamReadWriteSeekAndSize) {
    TMemoryStream s;
    s.WriteBuffer("hello world", 11);
    EXPECT_EQ(s.Size(), 11);
    EXPECT_EQ(s.Seek(-5, TSeekOrigin::soEnd), 6);
    char buffer[8] = {};
    EXPECT_EQ(s.Read(buffer, 8), 5);  // short read at the end
    EXPECT_EQ(std::string(buffer, 5), "world");
    s.SetPosition(20);  // writing past the end fills the gap
    s.WriteBuffer("!", 1);
    EXPECT_EQ(s.Size(), 21);
    EXPECT_EQ(s.Bytes()[15], 0);
    s.SetSize(5);
    EXPECT_EQ(s.Position(), 5);
    EXPECT_THROW(s.ReadBuffer(buffer, 1), EReadError);
    EXPECT_THROW(s.Seek(-1, TSeekOrigin::soBeginning), EStreamError);
}

TEST(Streams, CopyFromWholeSourceAndCount) {
    TMemoryStream source, target;
    std::string data(3'000'000, 'x');
    data[2'999'999] = 'y';
    source.WriteBuffer(data.data(), int64_t(data.size()));
    EXPECT_EQ(target.CopyFrom(source, 0), int64_t(data.size()));
    EXPECT_EQ(target.Bytes().back(), 'y');
    source.SetPosition(10);
    TMemoryStream part;
    part.CopyFrom(source, 4);
    EXPECT_EQ(part.Size(), 4);
    source.SetPosition(int64_t(data.size()) - 2);
    EXPECT_THROW(part.CopyFrom(source, 4), EReadError);
}

TEST(Streams, FileStreamModesAndErrors) {
    TScratchFolder dir;
    const std::string name = dir.Path("f.bin");
    {
        TFileStream f(name, fmCreate);
        f.WriteBuffer("abcdef", 6);
        f.SetSize(4);
        EXPECT_EQ(f.Size(), 4);
    }
    {
        TFileStream f(name, fmOpenRead);
        char buffer[4];
        f.ReadBuffer(buffer, 4);
        EXPECT_EQ(std::string(buffer, 4), "abcd");
        EXPECT_THROW(f.WriteBuffer("x", 1), EWriteError);
    }
    EXPECT_THROW(TFileStream(dir.Path("missing"), fmOpenRead), EFOpenError);
    EXPECT_THROW(TFileStream(dir.Folder(), fmOpenRead), EFOpenError);
    EXPECT_THROW(TFileStream(dir.Path("no/such"), fmCreate), EFCreateError);
}

TEST(AtomicFile, CommitReplacesTargetAndLeavesNoTemporaryFile) {
    TScratchFolder dir;
    const std::string target = dir.Path("doc.pdf");
    WriteFile(target, "old");
    {
        TAtomicFile file(target);
        file.Stream().WriteBuffer("new", 3);
        EXPECT_EQ(ReadFile(target), "old");  // readers see the old file until the end
        file.Commit();
    }
    EXPECT_EQ(ReadFile(target), "new");
    EXPECT_EQ(dir.Files(), std::vector<std::string>{"doc.pdf"});
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_NE(st.st_mode & 0044, 0u) << "the file keeps the usual permissions, not the temporary 0600";
}

TEST(AtomicFile, AReplacedFileKeepsItsModeAndANewOneFollowsTheUmask) {
    TScratchFolder dir;
    for (const mode_t mode : {0600, 0640, 0755, 0444}) {
        const std::string target = dir.Path("mode" + std::to_string(mode));
        WriteFile(target, "old");
        ASSERT_EQ(::chmod(target.c_str(), mode), 0);
        WriteAtomically(target, "new");
        EXPECT_EQ(ModeOf(target), mode);
        EXPECT_EQ(ReadFile(target), "new");
    }
    const mode_t previous = ::umask(027);
    WriteAtomically(dir.Path("fresh"), "new");
    ::umask(previous);
    EXPECT_EQ(ModeOf(dir.Path("fresh")), 0640u);
}

TEST(AtomicFile, WritesThroughSymbolicLinksToTheirTarget) {
    TScratchFolder dir;
    fs::create_directory(dir.Path("real"));
    WriteFile(dir.Path("real/settings.conf"), "old");
    fs::create_symlink("real/settings.conf", dir.Path("relative"));
    fs::create_symlink(dir.Path("relative"), dir.Path("chain"));
    fs::create_symlink("real/not-yet.conf", dir.Path("dangling"));

    WriteAtomically(dir.Path("chain"), "through two links");
    EXPECT_TRUE(fs::is_symlink(dir.Path("chain")));
    EXPECT_TRUE(fs::is_symlink(dir.Path("relative")));
    EXPECT_EQ(ReadFile(dir.Path("real/settings.conf")), "through two links");
    WriteAtomically(dir.Path("dangling"), "created");
    EXPECT_TRUE(fs::is_symlink(dir.Path("dangling")));
    EXPECT_EQ(ReadFile(dir.Path("real/not-yet.conf")), "created");

    fs::create_symlink("loop-b", dir.Path("loop-a"));
    fs::create_symlink("loop-a", dir.Path("loop-b"));
    EXPECT_THROW(TAtomicFile(dir.Path("loop-a")), EFCreateError);
    EXPECT_EQ(dir.Files(), (std::vector<std::string>{"chain", "dangling", "loop-a", "loop-b", "real", "relative"}));
}

TEST(AtomicFile, WritesNamesUpToTheLengthLimit) {
    TScratchFolder dir;
    const std::string ascii(255, 'n');
    std::string accented;  // 127 two-byte characters: the cut for the temporary name falls inside one
    for (int i = 0; i < 127; ++i) accented += "\xC3\xA9";
    for (const std::string& name : {ascii, ascii.substr(0, 254), accented}) {
        WriteAtomically(dir.Path(name), "x");
        EXPECT_EQ(ReadFile(dir.Path(name)), "x") << name.size();
    }
    EXPECT_EQ(dir.Files().size(), 3u);
}

TEST(AtomicFile, FailureOrAbortKeepsTheOldFile) {
    TScratchFolder dir;
    const std::string target = dir.Path("doc.pdf");
    WriteFile(target, "old");
    try {
        TAtomicFile file(target);
        file.Stream().WriteBuffer("partial", 7);
        throw Exception("failed while writing");
    } catch (const Exception&) {
    }
    EXPECT_EQ(ReadFile(target), "old");
    EXPECT_EQ(dir.Files(), std::vector<std::string>{"doc.pdf"});
    EXPECT_THROW(TAtomicFile(dir.Path("missing-folder/x")), EFCreateError);
}

TEST(AtomicFile, FullDiskIsReportedWithItsReason) {
    TFileStream full("/dev/full", fmOpenWrite);
    try {
        full.WriteBuffer("x", 1);
        FAIL() << "a write to a full device must fail";
    } catch (const EWriteError& e) {
        EXPECT_NE(e.Message().find("No space left"), std::string::npos) << e.Message();
    }
}

TEST(StringList, SortedIgnoresDuplicatesAndLetterCase) {
    TStringList list;
    list.SetSorted(true);
    EXPECT_EQ(list.Add("b.jpg"), 0);
    EXPECT_EQ(list.Add("a.jpg"), 0);
    EXPECT_EQ(list.Add("C.jpg"), 2);
    EXPECT_EQ(list.Add("A.JPG"), 0);  // duplicate ignored, index of the existing item
    EXPECT_EQ(list.Count(), 3);
    EXPECT_EQ(list.IndexOf("c.JPG"), 2);
    EXPECT_THROW(list.Insert(0, "x"), EStringListError);

    list.SetCaseSensitive(true);
    list.Add("A.JPG");
    EXPECT_EQ(list.Count(), 4);
    EXPECT_EQ(list.Strings(0), "A.JPG");

    list.SetDuplicates(TDuplicates::dupError);
    EXPECT_THROW(list.Add("b.jpg"), EStringListError);
}

TEST(StringList, ObjectsIndexesTextAndValues) {
    TStringList list;
    TObject a, b;
    list.AddObject("first", &a);
    list.AddObject("second", &b);
    list.Insert(0, "zero");
    EXPECT_EQ(list.Objects(2), &b);
    EXPECT_EQ(list.IndexOfObject(&a), 1);
    EXPECT_THROW(list.Strings(3), EStringListError);
    EXPECT_THROW(list.Delete(-1), EStringListError);
    EXPECT_EQ(list.Text(), "zero\r\nfirst\r\nsecond\r\n");

    list.SetText("Name=Ann\nSmtpHost=mail\r\n\rlast");
    EXPECT_EQ(list.Count(), 4);  // the empty line between CR LF and CR counts
    EXPECT_EQ(list.Values("smtphost"), "mail");
    list.SetValues("Name", "Bob");
    list.SetValues("SmtpHost", "");
    EXPECT_EQ(list.Strings(0), "Name=Bob");
    EXPECT_EQ(list.IndexOf("SmtpHost=mail"), -1);
}
