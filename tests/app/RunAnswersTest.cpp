// What the built program tells a script that runs it without a display: each failure once and
// then the one list of what was not converted, the usage with the status a tool gives, the
// settings file it cannot use named with where it is kept, a book whose captions leave no room
// refused, and nothing left in the temporary folder when a signal ends it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;

const std::string ProgramKey = "[Software\\Brelvant\\mordale]";

class RunAnswersTest : public ::testing::Test {
protected:
    RunAnswersTest() { fs::create_directories(scratch_.Path("tmp")); }

    // A picture drawn by ImageMagick, in the format of its extension.
    std::string Picture(const std::string& name, const std::string& size = "120x80") {
        const std::string path = scratch_.Path(name);
        const std::string format = fs::path(name).extension().string().substr(1);
        EXPECT_EQ(RunTool("convert -size " + size + " gradient:red-blue " + format + ":" + Quoted(path)).status, 0) << name;
        return path;
    }

    std::string Environment() const {
        return "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM HOME=" + Quoted(scratch_.Path("home")) +
               " XDG_CONFIG_HOME=" + Quoted(scratch_.Path("config")) + " TMPDIR=" + Quoted(scratch_.Path("tmp")) + " ";
    }

    // Runs in the scratch folder as a script does; `input` is "printf ... |" or "" for a closed
    // standard input; `as` runs it as another user. Standard error follows standard output.
    TCommandResult Run(const std::string& arguments, const std::string& input = "", const std::string& as = "") {
        const std::string program = Environment() + as + Quoted(MORDALE_EXECUTABLE) + " " + arguments;
        const std::string redirect = input.empty() ? " </dev/null" : "";
        return RunTool("cd " + Quoted(scratch_.Folder()) + " && timeout 60 sh -c " + Quoted(input + " " + program + redirect + " 2>&1"));
    }

    std::string SettingsFile() const { return scratch_.Path("config/Brelvant/mordale.conf"); }
    void WriteSettings(const std::string& text) {
        fs::create_directories(fs::path(SettingsFile()).parent_path());
        WriteFile(SettingsFile(), text);
    }

    std::vector<std::string> HiddenFiles() const {
        std::vector<std::string> hidden;
        for (const std::string& name : scratch_.Files())
            if (name.starts_with(".")) hidden.push_back(name);
        return hidden;
    }

    TScratchFolder scratch_;
};

// Every settings file that cannot be used as it is stays for the user, who is told where it is
// kept and which settings are used; the next run finds the file written back and says nothing.
TEST_F(RunAnswersTest, ASettingsFileIsNeverReplacedWithoutKeepingItAndSayingWhere) {
    Picture("a.png");
    const std::string binary("\x01\x02\0\xFF settings?", 14);
    // Root reads a file of mode 000: nobody does not.
    const std::string nobody = ::geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
    struct Case {
        std::string label, content, reason;
        bool nothingRead;   // the defaults are used
        const char* perPage;  // as written back
        bool unreadable = false, folder = false;
    } cases[] = {
        {"without its key line", "PicsPerPage=6\nMode=Single\n", "its values have no " + ProgramKey + " line before them", false, "6"},
        {"empty", "", "empty", true, "1"},
        {"binary", binary, "not a text file", true, "1"},
        {"a line that cannot be read", ProgramKey + "\nPicsPerPage=4\nBroken line\n", "line 3 cannot be read", false, "4"},
        {"a folder", "", "not a regular file", true, "1", false, true},
        {"mode 000", ProgramKey + "\nPicsPerPage=8\n", "Permission denied", true, "1", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        fs::remove_all(scratch_.Path("config"));
        fs::remove(scratch_.Path("a.pdf"));
        if (c.folder) {
            fs::create_directories(SettingsFile() + "/inside");
        } else {
            WriteSettings(c.content);
        }
        std::string as;
        if (c.unreadable) {
            fs::permissions(SettingsFile(), fs::perms::none);
            for (const std::string& folder : {scratch_.Folder(), scratch_.Path("config"), scratch_.Path("config/Brelvant"), scratch_.Path("tmp")})
                fs::permissions(folder, fs::perms::all);
            as = nobody;
        }
        const TCommandResult run = Run("/S a.png", "", as);
        EXPECT_EQ(run.status, 0) << run.output;
        EXPECT_TRUE(Contains(run.output, "The settings file " + SettingsFile() + " cannot be used as it is (" + c.reason + ").\n" +
                                             "It is kept as " + SettingsFile() + ".bad.")) << run.output;
        EXPECT_TRUE(Contains(run.output, c.nothingRead ? "The default settings are used." : "The settings it holds are used."))
            << run.output;
        EXPECT_FALSE(Contains(run.output, "Brelvant Mordale")) << run.output;
        EXPECT_TRUE(QpdfChecks(scratch_.Path("a.pdf")));
        if (c.folder) {
            EXPECT_TRUE(fs::is_directory(SettingsFile() + ".bad/inside"));
        } else {
            fs::permissions(SettingsFile() + ".bad", fs::perms::owner_read);
            EXPECT_EQ(ReadFile(SettingsFile() + ".bad"), c.content);
        }
        const std::string written = ReadFile(SettingsFile());
        EXPECT_TRUE(written.starts_with(ProgramKey + "\n")) << written;
        EXPECT_TRUE(Contains(written, std::string("\nPicsPerPage=") + c.perPage + "\n")) << written;

        // Written back whole, the file is read without a word.
        const TCommandResult again = Run("/S a.png", "printf 'y\\n' |", as);
        EXPECT_EQ(again.status, 0) << again.output;
        EXPECT_FALSE(Contains(again.output, "settings file")) << again.output;
    }

    // A file kept earlier stays: the next one gets the next name.
    WriteSettings("");
    const TCommandResult run = Run("/S a.png", "printf 'y\\n' |");
    EXPECT_TRUE(Contains(run.output, "It is kept as " + SettingsFile() + ".bad2.")) << run.output;
    EXPECT_TRUE(fs::is_regular_file(SettingsFile() + ".bad2"));
    EXPECT_TRUE(fs::exists(SettingsFile() + ".bad"));
}

// A caption size the font dialog does not offer is not read; a size it offers that leaves the
// pictures no room in their cells refuses the book instead of writing blank pages.
TEST_F(RunAnswersTest, CaptionFontsThatLeaveNoRoomNeverMakeABlankBook) {
    Picture("first.png");
    Picture("second.png");
    struct Case {
        std::string font, perPage;
        int status;
    } cases[] = {
        {"Arial,999999,Black", "1", 0},
        {"Arial,1000,Black", "24", 0},
        {"Arial,200,Black", "2", 0},
        {"Arial,72,Black", "24", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.font + " " + c.perPage);
        fs::remove(scratch_.Path("book.pdf"));
        WriteSettings(ProgramKey + "\nPicNamesFont=" + c.font + "\nPicsPerPage=" + c.perPage + "\n");
        const TCommandResult run = Run("/B first.png second.png", "printf 'book\\n' |");
        EXPECT_EQ(run.status, c.status) << run.output;
        EXPECT_FALSE(Contains(run.output, "settings file")) << run.output;
        const std::string book = scratch_.Path("book.pdf");
        if (c.status != 0) {
            EXPECT_TRUE(Contains(run.output, "The captions leave no room for the pictures")) << run.output;
            EXPECT_TRUE(Contains(run.output, "No book was written: " + book)) << run.output;
            EXPECT_FALSE(Contains(run.output, "successfully")) << run.output;
            EXPECT_FALSE(fs::exists(book));
            EXPECT_EQ(HiddenFiles(), std::vector<std::string>{});
            continue;
        }
        ASSERT_TRUE(QpdfChecks(book)) << run.output;
        // The captions in the default font, and the red-to-blue picture on the page: its colours
        // are the only ones a captioned page of black text on white shows.
        const std::string text = RunTool("pdftotext " + Quoted(book) + " -").output;
        EXPECT_TRUE(Contains(text, "first")) << text;
        EXPECT_TRUE(Contains(text, "second")) << text;
        ASSERT_EQ(RunTool("pdftoppm -f 1 -l 1 -singlefile -r 30 -png " + Quoted(book) + " " + Quoted(scratch_.Path("page"))).status, 0);
        const std::string saturation = RunTool("convert " + Quoted(scratch_.Path("page.png")) +
                                               " -colorspace HSL -channel G -separate -format '%[fx:maxima>0.5]' info:")
                                           .output;
        EXPECT_EQ(saturation, "1");

    }
}

// The usage is asked for with success, and a command line that cannot run says first what is
// wrong, then how to call the program.
TEST_F(RunAnswersTest, UsageAndUsageErrorsWithTheirStatuses) {
    Picture("a.jpg");
    struct Case {
        std::string environment, arguments;
        int status;
        std::string firstErrorLine;  // empty: nothing on standard error, the usage on standard output
    } cases[] = {
        {"", "--help", 0, ""},
        {"", "-h", 0, ""},
        {"DISPLAY=:31999 ", "--help", 0, ""},
        {"", "", 2, "mordale: no display for the window"},
        {"", "/W a.jpg", 2, "mordale: no display for the window"},
        {"", "--bogus", 2, "mordale: unknown option --bogus"},
        {"DISPLAY=:31999 ", "--bogus a.jpg", 2, "mordale: unknown option --bogus"},
        {"", "a.jpg", 2, "mordale: no switch before a.jpg (/S or /B converts without a window), and no display for the window"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.environment + c.arguments);
        const TCommandResult run = RunTool("cd " + Quoted(scratch_.Folder()) + " && " + Environment() + c.environment +
                                               "timeout 60 " + Quoted(MORDALE_EXECUTABLE) + " " + c.arguments +
                                               " 2>errors </dev/null",
                                           false);
        const std::string errors = ReadFile(scratch_.Path("errors"));
        EXPECT_EQ(run.status, c.status) << run.output << errors;
        if (c.firstErrorLine.empty()) {
            EXPECT_TRUE(run.output.starts_with("Usage: mordale")) << run.output;
            EXPECT_EQ(errors, "");
        } else {
            EXPECT_EQ(run.output, "");
            EXPECT_TRUE(errors.starts_with(c.firstErrorLine + "\n\nUsage: mordale")) << errors;
        }
    }
    EXPECT_FALSE(fs::exists(scratch_.Path("a.pdf")));
}

// Each failure is written once, as it happens, with no title line; the end names what was not
// converted, with the reasons not told yet.
TEST_F(RunAnswersTest, EachFailureIsWrittenOnce) {
    Picture("good.png");
    Picture("rgb.jpg");
    WriteFile(scratch_.Path("noise.png"), "not a picture");
    const std::string noise = scratch_.Path("noise.png");

    const TCommandResult alone = Run("/S noise.png");
    EXPECT_EQ(alone.status, 1) << alone.output;
    EXPECT_TRUE(alone.output.starts_with("Can't load image : " + noise)) << alone.output;
    EXPECT_EQ(CountOf(alone.output, "Can't load image"), 1u) << alone.output;
    EXPECT_FALSE(Contains(alone.output, "No pic selected")) << alone.output;
    EXPECT_TRUE(alone.output.ends_with("\nNot converted:\n  " + noise + "\n")) << alone.output;

    WriteFile(scratch_.Path("good.pdf"), "the old document");
    const TCommandResult mixed = Run("/S good.png noise.png rgb.jpg#2 missing.jpg");
    EXPECT_EQ(mixed.status, 1) << mixed.output;
    EXPECT_FALSE(Contains(mixed.output, "Brelvant Mordale")) << mixed.output;
    EXPECT_FALSE(Contains(mixed.output, "\r")) << mixed.output;
    EXPECT_EQ(CountOf(mixed.output, "Can't load image"), 1u) << mixed.output;
    EXPECT_EQ(CountOf(mixed.output, "has 1 frame: there is no frame 2"), 1u) << mixed.output;
    EXPECT_EQ(CountOf(mixed.output, "exists and was not overwritten"), 1u) << mixed.output;
    EXPECT_TRUE(mixed.output.ends_with("4 not converted:\n  missing.jpg: no such file\n  " + noise + "\n  " +
                                       scratch_.Path("rgb.jpg") + "\n  " + scratch_.Path("good.png") + ": " +
                                       scratch_.Path("good.pdf") + " exists and was not overwritten\n"))
        << mixed.output;
    EXPECT_EQ(ReadFile(scratch_.Path("good.pdf")), "the old document");
}

// The program's temporary folder goes with the signal that ends it, however early.
TEST_F(RunAnswersTest, ASignalLeavesNoTemporaryFolder) {
    Picture("a.jpg");
    WriteFile(scratch_.Path("a.pdf"), "the old document");
    for (const char* signal : {"TERM", "INT", "HUP"}) {
        SCOPED_TRACE(signal);
        // Stopped while it waits for the answer to "Overwrite?", before any document is begun;
        // the answers come through a pipe that stays open and silent.
        const std::string script = "rm -f answers said; mkfifo answers; " + Environment() + "env --default-signal=" + signal +
                                   " " + Quoted(MORDALE_EXECUTABLE) + " /S a.jpg <answers >said 2>&1 & pid=$!; exec 3>answers; "
                                   "for i in $(seq 600); do grep -q 'Overwrite?' said && break; sleep 0.05; done; "
                                   "ls -A tmp; kill -" + signal + " $pid; wait $pid; echo status $?; exec 3>&-";
        const TCommandResult run = RunTool("cd " + Quoted(scratch_.Folder()) + " && sh -c " + Quoted(script));
        // The folder existed while the program ran, and ends with it.
        EXPECT_TRUE(Contains(run.output, "Brelvant_Mordale-")) << run.output;
        EXPECT_FALSE(Contains(run.output, "status 0")) << run.output;
        EXPECT_EQ(RunTool("ls -A " + Quoted(scratch_.Path("tmp"))).output, "") << run.output;
        EXPECT_EQ(ReadFile(scratch_.Path("a.pdf")), "the old document");
    }
}

}  // namespace
