#include "platform/Settings.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <filesystem>
#include <fstream>

#include "platform/Exception.h"

namespace fs = std::filesystem;

namespace {

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "settings-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
    }
    void TearDown() override { fs::remove_all(folder_); }

    std::string File(const std::string& name = "mordale.conf") const { return (folder_ / name).string(); }
    static void WriteFile(const std::string& name, const std::string& content) {
        std::ofstream(name, std::ios::binary) << content;
    }
    static std::string ReadFile(const std::string& name) {
        std::ifstream in(name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::vector<std::string> FolderEntries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder_)) names.push_back(entry.path().filename().string());
        return names;
    }

    fs::path folder_;
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

TEST_F(SettingsTest, DamagedFilesReadAsEmpty) {
    std::string binary;
    for (int i = 0; i < 4096; ++i) binary += static_cast<char>(i * 7 % 256);
    const std::string cases[] = {
        binary,
        "just some text\nwith = signs but no section\n",
        "[unterminated\nname=value\n",
        std::string("[key]\nname=va\0lue\n", 19),  // NUL bytes: not a file of ours
        "",
    };
    for (const std::string& content : cases) {
        WriteFile(File(), content);
        EXPECT_TRUE(TSettingsStore(File()).KeyNames("").empty()) << content;
    }
    EXPECT_TRUE(TSettingsStore(File("missing.conf")).KeyNames("").empty());
    EXPECT_TRUE(TSettingsStore(folder_.string()).KeyNames("").empty());  // a folder, not a file
}

TEST_F(SettingsTest, MalformedLinesAreSkipped) {
    WriteFile(File(), "stray=before any key\n[key]\ngood=1\nbad%escape=1\nalso=%G0\ncut=%4\nno equals sign\n");
    TSettingsStore store(File());
    EXPECT_EQ(store.KeyNames(""), std::vector<std::string>{"key"});
    EXPECT_EQ(store.ValueNames("key"), std::vector<std::string>{"good"});
}

TEST_F(SettingsTest, TruncatedFileKeepsOnlyCompleteLines) {
    {
        TSettingsStore store(File());
        store.WriteString("Key", "First", "complete");
        store.WriteString("Key", "Second", "cut in the middle");
        store.Save();
    }
    const std::string content = ReadFile(File());
    const size_t cut = content.find("in the middle");
    ASSERT_NE(cut, std::string::npos);
    WriteFile(File(), content.substr(0, cut));

    TSettingsStore loaded(File());
    EXPECT_EQ(loaded.ReadString("Key", "First"), "complete");
    EXPECT_FALSE(loaded.ValueExists("Key", "Second"));  // never a shortened value
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
