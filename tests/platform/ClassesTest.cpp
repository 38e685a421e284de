#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/Classes.h"
#include "platform/Files.h"

namespace fs = std::filesystem;

namespace {

struct TempFolder {
    fs::path path;
    TempFolder() {
        std::string pattern = (fs::temp_directory_path() / "classes-XXXXXX").string();
        path = ::mkdtemp(pattern.data());
    }
    ~TempFolder() { fs::remove_all(path); }
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(path)) names.push_back(e.path().filename().string());
        return names;
    }
};

std::string ReadAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
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
    TempFolder dir;
    const std::string name = (dir.path / "f.bin").string();
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
    EXPECT_THROW(TFileStream((dir.path / "missing").string(), fmOpenRead), EFOpenError);
    EXPECT_THROW(TFileStream(dir.path.string(), fmOpenRead), EFOpenError);
    EXPECT_THROW(TFileStream((dir.path / "no" / "such").string(), fmCreate), EFCreateError);
}

TEST(AtomicFile, CommitReplacesTargetAndLeavesNoTemporaryFile) {
    TempFolder dir;
    const fs::path target = dir.path / "doc.pdf";
    std::ofstream(target) << "old";
    {
        TAtomicFile file(target.string());
        file.Stream().WriteBuffer("new", 3);
        EXPECT_EQ(ReadAll(target), "old");  // readers see the old file until the end
        file.Commit();
    }
    EXPECT_EQ(ReadAll(target), "new");
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"doc.pdf"});
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_NE(st.st_mode & 0044, 0u) << "the file keeps the usual permissions, not the temporary 0600";
}

TEST(AtomicFile, FailureOrAbortKeepsTheOldFile) {
    TempFolder dir;
    const fs::path target = dir.path / "doc.pdf";
    std::ofstream(target) << "old";
    try {
        TAtomicFile file(target.string());
        file.Stream().WriteBuffer("partial", 7);
        throw Exception("failed while writing");
    } catch (const Exception&) {
    }
    EXPECT_EQ(ReadAll(target), "old");
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"doc.pdf"});
    EXPECT_THROW(TAtomicFile((dir.path / "missing-folder" / "x").string()), EFCreateError);
}

TEST(AtomicFile, FullDiskIsReportedWithItsReason) {
    if (!fs::exists("/dev/full")) GTEST_SKIP();
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
