#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <thread>

#include "TestSupport.h"
#include "platform/Exception.h"
#include "platform/Paths.h"
#include "platform/Settings.h"
#include "platform/Shell.h"

namespace fs = std::filesystem;

namespace {

// Sets or unsets an environment variable for the scope.
class TScopedEnv {
public:
    TScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~TScopedEnv() {
        if (old_)
            setenv(name_, old_->c_str(), 1);
        else
            unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

class ScratchFolder : public ::testing::Test {
protected:
    TScratchFolder scratch_;
    const fs::path folder_{scratch_.Folder()};
};

TEST(Paths, TempDirectoryFollowsTmpdir) {
    const struct {
        const char* tmpdir;
        std::string expected;
    } cases[] = {
        {nullptr, "/tmp"}, {"", "/tmp"}, {"/var/tmp/", "/var/tmp"}, {"/scratch//", "/scratch"}, {"/", "/"},
    };
    for (const auto& c : cases) {
        TScopedEnv env("TMPDIR", c.tmpdir);
        EXPECT_EQ(TempDirectory(), c.expected) << (c.tmpdir ? c.tmpdir : "(unset)");
    }
}

TEST(Paths, XdgFoldersNeedAbsolutePaths) {
    TScopedEnv home("HOME", "/home/user/");
    const struct {
        const char* value;
        std::string config, data;
    } cases[] = {
        {nullptr, "/home/user/.config", "/home/user/.local/share"},
        {"", "/home/user/.config", "/home/user/.local/share"},
        {"relative/dir", "/home/user/.config", "/home/user/.local/share"},
        {"/xdg/dir/", "/xdg/dir", "/xdg/dir"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value ? c.value : "(unset)");
        TScopedEnv config("XDG_CONFIG_HOME", c.value);
        TScopedEnv data("XDG_DATA_HOME", c.value);
        EXPECT_EQ(HomeDirectory(), "/home/user");
        EXPECT_EQ(ConfigHome(), c.config);
        EXPECT_EQ(DataHome(), c.data);
    }
    TScopedEnv config("XDG_CONFIG_HOME", "/cfg");
    EXPECT_EQ(AppSettingsFileName(), "/cfg/Brelvant/mordale.conf");
}

TEST(Paths, HomeWithoutHomeVariableComesFromThePasswordFile) {
    TScopedEnv home("HOME", nullptr);
    const std::string folder = HomeDirectory();
    EXPECT_TRUE(folder.starts_with('/')) << folder;
}

TEST(Paths, ExecutableFolderHoldsThisTest) {
    EXPECT_TRUE(fs::exists(ExecutableFolder() + "/platform_tests")) << ExecutableFolder();
}

TEST_F(ScratchFolder, ForceDirectoriesCreatesNestedFolders) {
    const std::string nested = (folder_ / "a/b c/d").string();
    ForceDirectories(nested);
    EXPECT_TRUE(fs::is_directory(nested));
    ForceDirectories(nested + "/");  // existing folders are fine
    ForceDirectories((folder_ / "a//e/").string());
    EXPECT_TRUE(fs::is_directory(folder_ / "a/e"));
}

TEST_F(ScratchFolder, ForceDirectoriesFailsWhereAFileStands) {
    WriteFile(folder_ / "file", "x");
    for (const std::string& target : {(folder_ / "file/sub/deeper").string(), (folder_ / "file").string()}) {
        try {
            ForceDirectories(target);
            ADD_FAILURE() << "no error for " << target;
        } catch (const EInOutError& e) {
            EXPECT_NE(e.Message().find(target), std::string::npos) << e.Message();
            EXPECT_NE(e.Message().find("Not a directory"), std::string::npos) << e.Message();
        }
    }
    EXPECT_THROW(ForceDirectories(""), EInOutError);
}

TEST(Shell, MissingProgramRaises) {
    try {
        StartDetached({"mordale-no-such-program", "arg"});
        ADD_FAILURE() << "no error";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Cannot start mordale-no-such-program: No such file or directory");
    }
    EXPECT_THROW(StartDetached({}), Exception);
}

TEST_F(ScratchFolder, ArgumentsReachTheProgramUnsplitAndNoChildRemains) {
    const std::string name = "a b;c 'q' \"d\" $(x) *";
    StartDetached({"touch", (folder_ / name).string()});
    // The program runs detached: wait for its work, bounded so a failure cannot hang.
    for (int i = 0; i < 1000 && !fs::exists(folder_ / name); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::vector<std::string> entries;
    for (const auto& entry : fs::directory_iterator(folder_)) entries.push_back(entry.path().filename().string());
    EXPECT_EQ(entries, std::vector<std::string>{name});
    // The intermediate child was reaped and the program is not our child.
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

TEST(Shell, DisplayFromEitherVariable) {
    const struct {
        const char *display, *wayland;
        bool expected;
    } cases[] = {
        {nullptr, nullptr, false}, {"", "", false}, {":0", nullptr, true}, {nullptr, "wayland-0", true},
    };
    for (const auto& c : cases) {
        TScopedEnv display("DISPLAY", c.display);
        TScopedEnv wayland("WAYLAND_DISPLAY", c.wayland);
        EXPECT_EQ(HasDisplay(), c.expected);
    }
}

}  // namespace
