#include "platform/Settings.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>

#include "TestSupport.h"
#include "platform/Exception.h"

namespace fs = std::filesystem;

namespace {

class SettingsTest : public ::testing::Test {
protected:
    std::string File(const std::string& name = "mordale.conf") const { return scratch_.Path(name); }
    std::vector<std::string> FolderEntries() const { return scratch_.Files(); }

    TScratchFolder scratch_;
};

const std::pair<std::string, std::string> AwkwardValues[] = {
    {"", "the default value"},
    {"Lines", "one\ntwo\r\nthree\r"},
    {"  Blanks  ", "  padded  "},
    {"Equals=Sign", "a=b=c"},
    {"[Bracket", "[Not a section]"},
    {"Percent%41", "100%41"},
    {"Back\\slash", "C:\\dir\\"},
    {"Ünïcode", "ütf-8 ✓"},
    {"Controls", std::string("a\0b\tc\x7F", 6)},
    {"Empty", ""},
    {" ", " "},
};

TEST_F(SettingsTest, AwkwardNamesAndValuesRoundTripThroughTheFile) {
    const std::string key = "Software\\Brelvant\\Mordale";
    {
        TSettingsStore store(File());
        for (const auto& [name, value] : AwkwardValues) store.WriteString(key, name, value);
        store.CreateKey("Software\\Empty Key");
        store.WriteString("Software\\Odd ]key[ %20", "x", "y");
        store.Save();
    }
    TSettingsStore loaded(File());
    for (const auto& [name, value] : AwkwardValues) EXPECT_EQ(loaded.ReadString(key, name), value) << name;
    EXPECT_EQ(loaded.ValueNames(key).size(), std::size(AwkwardValues));
    EXPECT_TRUE(loaded.KeyExists("Software\\Empty Key"));
    EXPECT_EQ(loaded.ReadString("Software\\Odd ]key[ %20", "x"), "y");
    EXPECT_EQ(FolderEntries(), std::vector<std::string>{"mordale.conf"});  // no temporary file left
}

TEST_F(SettingsTest, KeysAndNamesIgnoreCaseAndKeepTheFirstSpelling) {
    TSettingsStore store(File());
    store.WriteString("\\Software\\Brelvant\\", "Name", "1");
    store.WriteString("SOFTWARE\\brelvant", "NAME", "2");
    store.WriteString("software\\BRELVANT\\Sub", "other", "3");
    store.Save();

    TSettingsStore loaded(File());
    EXPECT_EQ(loaded.ReadString("software\\brelvant", "name"), "2");
    EXPECT_EQ(loaded.ValueNames("Software\\Brelvant"), std::vector<std::string>{"Name"});
    EXPECT_EQ(loaded.KeyNames(""), std::vector<std::string>{"Software"});
    EXPECT_EQ(loaded.KeyNames("SOFTWARE"), std::vector<std::string>{"Brelvant"});
    EXPECT_EQ(loaded.KeyNames("Software\\Brelvant"), std::vector<std::string>{"Sub"});
    EXPECT_TRUE(loaded.ValueExists("SOFTWARE\\BRELVANT\\SUB", "OTHER"));
    EXPECT_FALSE(loaded.ValueExists("Software\\Brelvant", "Missing"));
    EXPECT_FALSE(loaded.ReadString("Software\\Missing", "Name").has_value());
}

TEST_F(SettingsTest, DeletingAKeyTakesItsSubKeysOnly) {
    TSettingsStore store(File());
    store.WriteString("a\\b\\c", "v", "1");
    store.WriteString("a\\bc", "v", "2");
    store.WriteString("a\\b", "v", "3");
    EXPECT_TRUE(store.DeleteKey("A\\B"));
    EXPECT_FALSE(store.KeyExists("a\\b"));
    EXPECT_FALSE(store.KeyExists("a\\b\\c"));
    EXPECT_EQ(store.ReadString("a\\bc", "v"), "2");
    EXPECT_FALSE(store.DeleteKey("a\\b"));
    EXPECT_FALSE(store.DeleteKey(""));
    EXPECT_TRUE(store.KeyExists("a"));

    EXPECT_TRUE(store.DeleteValue("A\\BC", "V"));
    EXPECT_FALSE(store.DeleteValue("a\\bc", "v"));
    EXPECT_TRUE(store.KeyExists("a\\bc"));
}

// What Save would not write back is named, so that the file is kept before it is replaced.
TEST_F(SettingsTest, DamagedTextKeepsItsWellFormedLinesAndNamesTheFirstItSkips) {
    const struct {
        std::string content, problem;
    } cases[] = {
        {"just some text\nwith = signs but no section\n", "line 1 cannot be read"},
        {"\n[unterminated\nname=value\n", "line 2 cannot be read"},
        {"[key]\ngood=1\n\n  \nno equals sign\n", "line 5 cannot be read"},
        {"", "empty"},
        {" \r\n\t\n", "empty"},
        {"[key]\r\n\r\ngood=1\r\n", ""},
    };
    for (const auto& c : cases) {
        WriteFile(File(), c.content);
        const TSettingsStore store(File());
        EXPECT_EQ(store.KeyNames("").empty(), !c.content.starts_with("[key]")) << c.content;
        EXPECT_EQ(store.LoadProblem(), c.problem) << c.content;
    }
    const TSettingsStore missing(File("missing.conf"));
    EXPECT_TRUE(missing.KeyNames("").empty());
    EXPECT_EQ(missing.LoadProblem(), "");
}

// A file of one key written by hand, without its key line, holds the values a user expects to
// be read; the next save writes them under their key and keeps the hand-written file.
TEST_F(SettingsTest, ValuesWithoutAKeyLineBelongToTheLooseKey) {
    const std::string key = "Software\\Brelvant\\mordale";
    const std::string handWritten = "# mine\nPicsPerPage=6\r\nMode=Book\n[Other]\nx=1\n";
    WriteFile(File(), handWritten);
    TSettingsStore store(File(), key);
    EXPECT_EQ(store.ReadString(key, "PicsPerPage"), "6");
    EXPECT_EQ(store.ReadString(key, "Mode"), "Book");
    EXPECT_EQ(store.ReadString("Other", "x"), "1");
    EXPECT_EQ(store.LoadProblem(), "its values have no [" + key + "] line before them");
    EXPECT_EQ(store.BadFileName(), File() + ".bad");
    store.WriteString(key, "PicsPerPage", "8");
    store.Save();
    EXPECT_EQ(ReadFile(File() + ".bad"), handWritten);
    const TSettingsStore saved(File(), key);
    EXPECT_EQ(saved.LoadProblem(), "");
    EXPECT_EQ(saved.ReadString(key, "PicsPerPage"), "8");
    EXPECT_EQ(saved.ReadString(key, "Mode"), "Book");
    // Without a loose key the values are skipped with the other lines, and the first is named.
    EXPECT_EQ(TSettingsStore(File() + ".bad").LoadProblem(), "line 1 cannot be read");
}

// A file that could not be read may still hold the user's settings: it reads as empty, and the
// next save keeps it aside instead of writing over it.
TEST_F(SettingsTest, AFileThatCannotBeReadIsKeptAsideBySave) {
    std::string binary;
    for (int i = 0; i < 4096; ++i) binary += static_cast<char>(i * 7 % 256);
    const std::string oversized = "[key]\nname=" + std::string((16 << 20) + 1, 'x') + "\n";
    const std::string cases[] = {binary, std::string("[key]\nname=va\0lue\n", 19), oversized};
    for (const std::string& content : cases) {
        fs::remove(File() + ".bad");
        WriteFile(File(), content);
        TSettingsStore store(File());
        EXPECT_TRUE(store.KeyNames("").empty());
        EXPECT_NE(store.LoadProblem(), "");
        store.WriteString("k", "n", "new");
        store.Save();
        EXPECT_TRUE(ReadFile(File() + ".bad") == content) << content.substr(0, 20);
        EXPECT_EQ(TSettingsStore(File()).ReadString("k", "n"), "new");
        EXPECT_EQ(store.LoadProblem(), "");
    }

    fs::remove(File());
    fs::create_directory(File());  // a folder, or a pipe, where the file belongs
    TSettingsStore folder(File());
    EXPECT_EQ(folder.LoadProblem(), "not a regular file");
    ASSERT_EQ(mkfifo(File("pipe.conf").c_str(), 0600), 0);
    EXPECT_EQ(TSettingsStore(File("pipe.conf")).LoadProblem(), "not a regular file");
}

// A file kept earlier is never replaced: the next free name keeps the new one, and without one
// the save stops and leaves the file where it is.
TEST_F(SettingsTest, AFileKeptEarlierIsNeverReplaced) {
    WriteFile(File(), std::string("\0\0binary", 8));
    fs::create_directory(File() + ".bad");
    WriteFile(File() + ".bad/occupied", "x");
    WriteFile(File() + ".bad2", "kept earlier");
    TSettingsStore store(File());
    EXPECT_EQ(store.BadFileName(), File() + ".bad3");
    store.WriteString("k", "n", "v");
    store.Save();
    EXPECT_EQ(ReadFile(File() + ".bad2"), "kept earlier");
    EXPECT_EQ(ReadFile(File() + ".bad3"), std::string("\0\0binary", 8));
    EXPECT_EQ(TSettingsStore(File()).ReadString("k", "n"), "v");

    WriteFile(File(), "");
    for (int number = 3; number <= 9; ++number) WriteFile(File() + ".bad" + std::to_string(number), "kept earlier");
    TSettingsStore full(File());
    EXPECT_EQ(full.BadFileName(), "");
    full.WriteString("k", "n", "v");
    EXPECT_THROW(full.Save(), EWriteError);
    EXPECT_EQ(ReadFile(File()), "");
    EXPECT_EQ(ReadFile(File() + ".bad9"), "kept earlier");
}

TEST_F(SettingsTest, MalformedLinesAreSkipped) {
    WriteFile(File(), "stray=before any key\n[key]\ngood=1\nbad%escape=1\nalso=%G0\ncut=%4\nno equals sign\n");
    TSettingsStore store(File());
    EXPECT_EQ(store.KeyNames(""), std::vector<std::string>{"key"});
    EXPECT_EQ(store.ValueNames("key"), std::vector<std::string>{"good"});
}

TEST_F(SettingsTest, ALastLineWithoutLineFeedCounts) {
    WriteFile(File(), "[Key]\r\nFirst=complete\r\nLast=no line feed");
    EXPECT_EQ(TSettingsStore(File()).ReadString("Key", "Last"), "no line feed");
    WriteFile(File(), "[Key]\nFirst=complete\n[Other]");
    EXPECT_TRUE(TSettingsStore(File()).KeyExists("Other"));
    WriteFile(File(), "[Key]\nFirst=complete\nCut=in an escape %4");  // cut inside an escape: no value
    const TSettingsStore cut(File());
    EXPECT_EQ(cut.ReadString("Key", "First"), "complete");
    EXPECT_FALSE(cut.ValueExists("Key", "Cut"));
}

// Names are looked up by a map: a key with many names loads in linear time.
TEST_F(SettingsTest, ManyNamesUnderOneKey) {
    constexpr int Count = 100000;
    std::string content = "[Key]\n";
    for (int i = 0; i < Count; ++i) content += "Name" + std::to_string(i) + "=" + std::to_string(i) + "\n";
    content += "NAME7=again\n";
    WriteFile(File(), content);
    TSettingsStore store(File());
    EXPECT_EQ(store.ValueNames("Key").size(), size_t{Count});
    EXPECT_EQ(store.ReadString("key", "name99999"), "99999");
    EXPECT_EQ(store.ReadString("Key", "Name7"), "again");
    EXPECT_TRUE(store.DeleteValue("Key", "name5"));
    EXPECT_EQ(store.ReadString("Key", "Name6"), "6");
    EXPECT_EQ(store.ValueNames("Key")[5], "Name6");
    store.WriteString("Key", "Name5", "back");
    EXPECT_EQ(store.ValueNames("Key").back(), "Name5");
}

TEST_F(SettingsTest, SaveCreatesTheFolder) {
    const std::string name = File("one/two/mordale.conf");
    TSettingsStore store(name);
    store.WriteString("k", "n", "v");
    store.Save();
    EXPECT_EQ(TSettingsStore(name).ReadString("k", "n"), "v");
}

TEST_F(SettingsTest, SaveWhereAFileBlocksTheFolderRaises) {
    WriteFile(File("blocker"), "x");
    TSettingsStore store(File("blocker/sub/mordale.conf"));
    store.WriteString("k", "n", "v");
    EXPECT_THROW(store.Save(), EInOutError);
}

// A write that fails part way (the file size limit stands in for a full disk, and stops root too)
// leaves the old file as it was and no temporary file behind.
TEST_F(SettingsTest, FailedSaveKeepsTheOldFile) {
    TSettingsStore store(File());
    store.WriteString("k", "n", "old");
    store.Save();
    const std::string old = ReadFile(File());

    store.WriteString("k", "n", std::string(4096, 'x'));
    rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 1024;
    const auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    bool raised = false;
    try {
        store.Save();
    } catch (const Exception&) {
        raised = true;
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, oldHandler);

    EXPECT_TRUE(raised);
    EXPECT_EQ(ReadFile(File()), old);
    EXPECT_EQ(FolderEntries(), std::vector<std::string>{"mordale.conf"});
}

}  // namespace
