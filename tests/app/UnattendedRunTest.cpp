// The built program run from the command line without a display, as a script runs it: pictures
// made by ImageMagick, answers piped, closed or never given, and documents judged by qpdf and
// pdfinfo. What a run must never do: report success for a picture that did not become a
// document, replace a document nobody agreed to replace, hang, or leave a partial file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "../platform/qt/MetafileFixtures.h"
#include "TestHttpServer.h"
#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;

class UnattendedRunTest : public ::testing::Test {
protected:
    // A picture drawn by ImageMagick, in the format of its extension.
    std::string Picture(const std::string& name, const std::string& size = "120x80") {
        const std::string path = scratch_.Path(name);
        const std::string format = fs::path(name).extension().string().substr(1);
        EXPECT_EQ(RunTool("convert -size " + size + " gradient:red-blue " + format + ":" + Quoted(path)).status, 0) << name;
        return path;
    }

    // The picture cut to half its bytes.
    std::string Truncated(const std::string& name) {
        const std::string whole = ReadFile(Picture(name, "200x150"));
        WriteFile(scratch_.Path(name), whole.substr(0, whole.size() / 2));
        return scratch_.Path(name);
    }

    // Runs in the scratch folder, as from a shell in the pictures' folder, with no display and
    // standard input as `input` says: "printf ... |", "sleep 30 |", or "" for a closed one.
    TCommandResult Run(const std::string& arguments, const std::string& input = "") {
        const std::string program = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM HOME=" +
                                    Quoted(scratch_.Path("home")) + " XDG_CONFIG_HOME=" + Quoted(scratch_.Path("config")) +
                                    " " + Quoted(MORDALE_EXECUTABLE) + " " + arguments;
        const std::string redirect = input.empty() ? " </dev/null" : "";
        return RunTool("cd " + Quoted(scratch_.Folder()) + " && timeout 60 sh -c " + Quoted(input + " " + program + redirect + " 2>&1"));
    }

    std::string PageSize(const std::string& path) {
        const std::string info = RunTool("pdfinfo " + Quoted(path)).output;
        const size_t at = info.find("Page size:");
        if (at == std::string::npos) return info;
        const size_t from = info.find_first_not_of(' ', at + 10);
        return info.substr(from, info.find(" pts", from) - from);
    }

    std::vector<std::string> HiddenFiles() {
        std::vector<std::string> hidden;
        for (const std::string& name : scratch_.Files())
            if (name.starts_with(".")) hidden.push_back(name);
        return hidden;
    }

    TScratchFolder scratch_;
};

TEST_F(UnattendedRunTest, BookOfTwoPictures) {
    const std::string a = Picture("a.jpg"), b = Picture("b.bmp", "40x60");
    // The save dialog's proposal is taken; nothing is offered to open.
    const TCommandResult run = Run("/B " + Quoted(a) + " " + Quoted(b), "printf '\\n' |");
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(Contains(run.output, "PDF book file name")) << run.output;
    EXPECT_TRUE(Contains(run.output, "PDF book successfully generated!")) << run.output;
    EXPECT_FALSE(Contains(run.output, "Want to see")) << run.output;
    const std::string book = scratch_.Path("Book1.pdf");
    EXPECT_TRUE(QpdfChecks(book));
    EXPECT_EQ(RunTool("pdfinfo " + Quoted(book) + " | awk '/^Pages:/ {print $2}'").output, "2\n");
}

TEST_F(UnattendedRunTest, PicturesAtHttpAddressesAreDownloadedIntoTheBook) {
    TTestHttpServer server;
    const std::string address = "http://" + server.HostAndPort() + "/pictures/";
    // Each kind the engine reads in its own way: through the image library, passed through as
    // JPEG data, by page and by frame.
    const struct {
        const char* name;
        const char* size;
    } kinds[] = {
        {"remote.png", "60x40"},
        {"remote.jpg", "50x30"},
        {"remote.tif", "20x10"},
        {"remote.gif", "16x12"},
    };
    const std::string local = Picture("local.bmp", "30x50");
    std::string arguments = "/B " + Quoted(local), expected = "30x50\n";
    for (const auto& kind : kinds) {
        TTestHttpResponse remote;
        remote.body = ReadFile(Picture(kind.name, kind.size));
        server.Answer("/pictures/" + std::string(kind.name), remote);
        arguments += " " + Quoted(address + kind.name);
        expected += std::string(kind.size) + "\n";
    }
    const TCommandResult run = Run(arguments, "printf '\\n' |");
    ASSERT_EQ(run.status, 0) << run.output;
    const std::string book = scratch_.Path("Book1.pdf");
    EXPECT_TRUE(QpdfChecks(book));
    const std::string images = RunTool("pdfimages -list " + Quoted(book) + " | awk 'NR > 2 {print $4 \"x\" $5}'").output;
    EXPECT_EQ(images, expected);
    // One download a picture.
    EXPECT_EQ(server.Requests().size(), std::size(kinds));
    // The JPEG's data are those the server sent.
    RunTool("pdfimages -j " + Quoted(book) + " " + Quoted(scratch_.Path("extracted")));
    EXPECT_EQ(ReadFile(scratch_.Path("extracted-002.jpg")), ReadFile(scratch_.Path("remote.jpg")));

    // An address has no folder here: its document, and a book it begins, go to the home folder.
    fs::create_directories(scratch_.Path("home"));
    const TCommandResult single = Run("/S " + Quoted(address + "remote.jpg"));
    ASSERT_EQ(single.status, 0) << single.output;
    EXPECT_TRUE(QpdfChecks(scratch_.Path("home/remote.pdf")));
    const TCommandResult proposed = Run("/B " + Quoted(address + "remote.png"), "printf '\\n' |");
    ASSERT_EQ(proposed.status, 0) << proposed.output;
    EXPECT_TRUE(QpdfChecks(scratch_.Path("home/Book1.pdf")));

    // A picture the server does not have fails as a missing file does, naming its address.
    const TCommandResult missing =
        Run("/B " + Quoted(local) + " " + Quoted(address + "missing.png"), "printf 'other.pdf\\n' |");
    EXPECT_EQ(missing.status, 1) << missing.output;
    EXPECT_TRUE(Contains(missing.output, address + "missing.png")) << missing.output;
}

TEST_F(UnattendedRunTest, NoWindowSystemIsNeeded) {
    // A window system that cannot be reached, or a Qt platform that does not exist, ends any
    // program that makes an application object; an unattended run makes none.
    const std::string a = Picture("a.jpg"), b = Picture("b.png", "40x60");
    const struct {
        std::string environment, switches, document;
        const char* pages;
    } cases[] = {
        {"QT_QPA_PLATFORM=no-such-platform", "/B", "Book1.pdf", "2\n"},
        {"DISPLAY=:31999 WAYLAND_DISPLAY=no-such-display QT_QPA_PLATFORM=no-such-platform", "/B", "Book1.pdf", "2\n"},
        {"DISPLAY=:31999 QT_QPA_PLATFORM=no-such-platform", "/S", "a.pdf", "1\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.environment + " " + c.switches);
        const std::string program = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM XDG_CONFIG_HOME=" +
                                    Quoted(scratch_.Path("config")) + " " + c.environment + " " + Quoted(MORDALE_EXECUTABLE) +
                                    " " + c.switches + " " + Quoted(a) + " " + Quoted(b);
        const TCommandResult run = RunTool("cd " + Quoted(scratch_.Folder()) + " && printf '\\n' | timeout 60 " + program + " 2>&1");
        ASSERT_EQ(run.status, 0) << run.output;
        EXPECT_FALSE(Contains(run.output, "platform plugin")) << run.output;
        const std::string document = scratch_.Path(c.document);
        EXPECT_TRUE(QpdfChecks(document));
        EXPECT_EQ(RunTool("pdfinfo " + Quoted(document) + " | awk '/^Pages:/ {print $2}'").output, c.pages);
        fs::remove(document);
        fs::remove(scratch_.Path("b.pdf"));
    }
}

TEST_F(UnattendedRunTest, TheProgramLoadsNoLibraryOfTheWindowVideosScannersOrDownloads) {
    // ldd lists what the loader maps at the start, the libraries of libraries too; the window
    // program, which has the window, the videos and the scanners, shows that it would name them.
    const struct {
        const char* library;
        bool inWindowProgram;
    } libraries[] = {{"libQt6Widgets", true}, {"libavformat", true}, {"libsane", true}, {"libcurl", false}};
    const TCommandResult program = RunTool("ldd " + Quoted(MORDALE_EXECUTABLE));
    const TCommandResult windowProgram = RunTool("ldd " + Quoted(MORDALE_WINDOW_EXECUTABLE));
    ASSERT_EQ(program.status, 0) << program.output;
    ASSERT_EQ(windowProgram.status, 0) << windowProgram.output;
    EXPECT_TRUE(Contains(program.output, "libjpeg")) << program.output;
    for (const auto& l : libraries) {
        EXPECT_FALSE(Contains(program.output, l.library)) << l.library;
        EXPECT_EQ(Contains(windowProgram.output, l.library), l.inWindowProgram) << l.library;
    }
}

TEST_F(UnattendedRunTest, MetafilesAreDrawnWithoutAWindowSystem) {
    // Red on the left two fifths, green on the right two fifths.
    WriteFile(scratch_.Path("wmf.wmf"), metafile_fixtures::Wmf(100, 50, 96));
    WriteFile(scratch_.Path("emf.emf"), metafile_fixtures::Emf(100, 50));
    const TCommandResult run = RunTool("cd " + Quoted(scratch_.Folder()) + " && env -u DISPLAY -u WAYLAND_DISPLAY XDG_CONFIG_HOME=" +
                                       Quoted(scratch_.Path("config")) + " QT_QPA_PLATFORM=no-such-platform timeout 60 " +
                                       Quoted(MORDALE_EXECUTABLE) + " /S wmf.wmf emf.emf 2>&1 </dev/null");
    ASSERT_EQ(run.status, 0) << run.output;
    for (const std::string name : {"wmf", "emf"}) {
        SCOPED_TRACE(name);
        const std::string document = scratch_.Path(name + ".pdf");
        ASSERT_TRUE(QpdfChecks(document));
        ASSERT_EQ(RunTool("pdftoppm -singlefile -r 72 -png " + Quoted(document) + " " + Quoted(scratch_.Path(name))).status, 0);
        // The page in five columns: red, red, the unpainted white, green, green (compressed, so
        // each channel is taken as full or none).
        const std::string colours = RunTool("convert " + Quoted(scratch_.Path(name + ".png")) +
                                            " -channel RGB -threshold 50% -format '%[hex:p{w*0.1,h/2}] %[hex:p{w*0.3,h/2}] %[hex:p{w/2,h/2}] "
                                            "%[hex:p{w*0.7,h/2}] %[hex:p{w*0.9,h/2}]' info:")
                                        .output;
        EXPECT_EQ(colours, "FF0000 FF0000 FFFFFF 00FF00 00FF00") << colours;
    }
}

TEST_F(UnattendedRunTest, RunsHandedToTheWindowProgramKeepTheProgramsSettings) {
    // A metafile's run is made by the window program, with the settings of the program all the same.
    WriteFile(scratch_.Path("wmf.wmf"), metafile_fixtures::Wmf(100, 50, 96));
    Picture("a.jpg");
    for (const std::string picture : {"a.jpg", "wmf.wmf"}) {
        const TCommandResult run = Run("/S " + picture);
        ASSERT_EQ(run.status, 0) << picture << ": " << run.output;
    }
    const std::string settings = ReadFile(scratch_.Path("config/Brelvant/mordale.conf"));
    EXPECT_TRUE(Contains(settings, "[Software\\Brelvant\\mordale]")) << settings;
    EXPECT_FALSE(Contains(settings, "mordale-window")) << settings;
}

TEST_F(UnattendedRunTest, PicturesNamedRelativeToTheCurrentFolderGetTheirDocumentsBeside) {
    Picture("a.jpg");
    Picture("b.bmp", "40x60");
    const TCommandResult book = Run("/B a.jpg ./b.bmp", "printf 'album\\n' |");
    ASSERT_EQ(book.status, 0) << book.output;
    EXPECT_TRUE(QpdfChecks(scratch_.Path("album.pdf")));
    const TCommandResult single = Run("/S a.jpg");
    ASSERT_EQ(single.status, 0) << single.output;
    EXPECT_TRUE(QpdfChecks(scratch_.Path("a.pdf")));
}

TEST_F(UnattendedRunTest, SingleDocumentsSizedByTheResolutionWithinTheLimitsOfAPage) {
    const std::string a = Picture("a.jpg", "96x48"), b = Picture("b.bmp", "192x96");
    const std::string dot = Picture("dot.bmp", "1x1"), strip = scratch_.Path("strip.png");
    ASSERT_EQ(RunTool("pgmnoise 20000 300 | pnmtopng > " + Quoted(strip)).status, 0);
    const TCommandResult run = Run("/s " + Quoted(a) + " " + Quoted(b) + " " + Quoted(dot) + " " + Quoted(strip));
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(Contains(run.output, "4 pics converted.")) << run.output;
    // 96 dots per inch; a strip wider than 14,400 points gets the resolution at which it fits, a
    // dot the smallest page, 3 points.
    for (const auto& [name, size] : {std::pair{"a.pdf", "72 x 36"}, std::pair{"b.pdf", "144 x 72"},
                                     std::pair{"dot.pdf", "3.118 x 3.118"}, std::pair{"strip.pdf", "14400 x 216"}}) {
        EXPECT_TRUE(QpdfChecks(scratch_.Path(name))) << name;
        EXPECT_EQ(PageSize(scratch_.Path(name)), size) << name;
    }
}

TEST_F(UnattendedRunTest, EveryPictureThatFailsIsNamedAndTheStatusSaysSo) {
    Picture("good.png");
    WriteFile(scratch_.Path("noise.png"), "not a picture");
    Truncated("cut.png");
    Truncated("cut.bmp");
    Truncated("cut.tga");
    Truncated("cut.jp2");
    Truncated("cut.jpg");
    Truncated("cut.pcx");
    // A few hundred bytes whose header claims 45,000 x 45,000 pixels.
    std::string forged = ReadFile(Picture("forged.jpg", "16x16"));
    const size_t frame = forged.find("\xFF\xC0");
    forged.replace(frame + 5, 4, "\xAF\xC8\xAF\xC8");
    WriteFile(scratch_.Path("forged.jpg"), forged);
    struct Case {
        std::string picture, says;
        bool endsBook;  // false: refused before the book begins, which is made of the others
    } cases[] = {
        {"noise.png", "Can't load image", false},
        {"cut.png", "Can't load image", true},
        {"cut.bmp", "Can't load image", true},
        {"cut.tga", "Can't load image", true},
        {"cut.jp2", "Can't load image", true},
        {"cut.pcx", "Can't load image", true},
        {"cut.jpg", "truncated", true},
        {"forged.jpg", "too short for the size its header claims", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.picture);
        const std::string pdf = fs::path(c.picture).stem().string() + ".pdf";
        WriteFile(scratch_.Path(pdf), "the old document");
        // Allowed to replace the old document, a picture that fails still leaves it.
        const TCommandResult run = Run("/S good.png " + Quoted(c.picture), "printf 'y\\n' |");
        EXPECT_EQ(run.status, 1) << run.output;
        EXPECT_TRUE(Contains(run.output, c.says)) << run.output;
        EXPECT_TRUE(Contains(run.output, "Not converted:\n  " + scratch_.Path(c.picture))) << run.output;
        EXPECT_EQ(ReadFile(scratch_.Path(pdf)), "the old document");
        EXPECT_TRUE(QpdfChecks(scratch_.Path("good.pdf")));
        fs::remove(scratch_.Path("good.pdf"));

        // In a book, the picture ends the book, and the old book stays.
        WriteFile(scratch_.Path("book.pdf"), "the old book");
        const TCommandResult book = Run("/B good.png " + Quoted(c.picture) + " good.png", "printf 'book\\ny\\n' |");
        EXPECT_EQ(book.status, 1) << book.output;
        EXPECT_TRUE(Contains(book.output, c.says)) << book.output;
        EXPECT_EQ(Contains(book.output, "No book was written: " + scratch_.Path("book.pdf")), c.endsBook) << book.output;
        if (c.endsBook)
            EXPECT_EQ(ReadFile(scratch_.Path("book.pdf")), "the old book");
        else
            EXPECT_TRUE(QpdfChecks(scratch_.Path("book.pdf")));
    }
    EXPECT_EQ(HiddenFiles(), std::vector<std::string>{});
}

TEST_F(UnattendedRunTest, CommandLinesThatNameNothingUsableShowTheUsage) {
    Picture("a.jpg");
    struct Case {
        std::string arguments, says;
    } cases[] = {
        {"", "Usage: mordale"},
        {"a.jpg", "Usage: mordale"},
        {"--frobnicate", "Usage: mordale"},
        {"/W a.jpg", "Usage: mordale"},
        {"/B", "No pic selected"},
        {"/S missing.jpg notes.txt", "missing.jpg: no such file"},
    };
    for (const Case& c : cases) {
        const TCommandResult run = Run(c.arguments);
        EXPECT_EQ(run.status, 2) << c.arguments << "\n" << run.output;
        EXPECT_TRUE(Contains(run.output, c.says)) << c.arguments << "\n" << run.output;
    }
    for (const char* help : {"--help", "-h"}) {
        const TCommandResult run = RunTool("env -u DISPLAY " + Quoted(MORDALE_EXECUTABLE) + " " + help + " 2>/dev/null", false);
        EXPECT_EQ(run.status, 0);
        EXPECT_TRUE(Contains(run.output, "Exit status")) << run.output;
    }
    EXPECT_FALSE(fs::exists(scratch_.Path("a.pdf")));
}

TEST_F(UnattendedRunTest, NamesWithHashesSpacesAndAccentsAreTheirFiles) {
    const std::string names[] = {"café photo #1.jpg", "with#hash.jpg", "a b.png"};
    std::string arguments = "/S";
    for (const std::string& name : names) arguments += " " + Quoted(Picture(name));
    const TCommandResult run = Run(arguments);
    ASSERT_EQ(run.status, 0) << run.output;
    for (const char* pdf : {"café photo #1.pdf", "with#hash.pdf", "a b.pdf"}) EXPECT_TRUE(QpdfChecks(scratch_.Path(pdf))) << pdf;
    // A frame number after the last "#" of a name that exists.
    const TCommandResult frame = Run("/S " + Quoted(scratch_.Path("with#hash.jpg#1")), "printf 'y\\n' |");
    EXPECT_EQ(frame.status, 0) << frame.output;
}

TEST_F(UnattendedRunTest, AnExistingDocumentIsReplacedOnlyWhenSomebodySaysYes) {
    Picture("a.jpg");
    struct Case {
        std::string input;
        int status;
        bool replaced;
    } cases[] = {
        {"", 1, false},                    // closed input: the answer that loses nothing
        {"printf 'n\\n' |", 1, false},
        {"printf 'y\\n' |", 0, true},
        {"printf 'YES\\n' |", 0, true},
        {"printf '\\n' |", 1, false},      // an empty line is no answer
        {"printf 'maybe\\n' |", 1, false}, // asked again, then the input ends
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        WriteFile(scratch_.Path("a.pdf"), "the old document");
        const TCommandResult run = Run("/S a.jpg", c.input);
        EXPECT_EQ(run.status, c.status) << run.output;  // 124 would be a hang cut by timeout
        EXPECT_TRUE(Contains(run.output, "Overwrite?")) << run.output;
        EXPECT_EQ(ReadFile(scratch_.Path("a.pdf")) != "the old document", c.replaced) << run.output;
        if (!c.replaced) EXPECT_TRUE(Contains(run.output, "a.pdf exists and was not overwritten")) << run.output;
    }
}

TEST_F(UnattendedRunTest, ASilentInputIsWaitedForBrieflyAndNeverHoldsAFinishedRun) {
    Picture("a.jpg");
    // The input stays open and silent for a minute, then says "y": a run that waited for it
    // would replace the document. The writer is stopped as soon as the run ends.
    const std::string program = "env -u DISPLAY XDG_CONFIG_HOME=" + Quoted(scratch_.Path("config")) + " " +
                                Quoted(MORDALE_EXECUTABLE) + " /S a.jpg 2>&1";
    const std::string script =
        "{ sleep 60 & echo $! > writer; wait; echo y; } | { " + program +
        "; echo status $?; while [ ! -s writer ]; do sleep 0.1; done; kill $(cat writer); }";
    for (const bool exists : {true, false}) {
        SCOPED_TRACE(exists ? "asked to overwrite" : "nothing to ask");
        if (exists) WriteFile(scratch_.Path("a.pdf"), "the old document");
        const TCommandResult run = RunTool("cd " + Quoted(scratch_.Folder()) + " && timeout 50 sh -c " + Quoted(script));
        EXPECT_TRUE(Contains(run.output, exists ? "status 1" : "status 0")) << run.output;
        EXPECT_FALSE(Contains(run.output, "Want to see")) << run.output;
        if (exists) EXPECT_EQ(ReadFile(scratch_.Path("a.pdf")), "the old document");
        fs::remove(scratch_.Path("a.pdf"));
        fs::remove(scratch_.Path("writer"));
    }
}

TEST_F(UnattendedRunTest, PicturesOfOneNameDoNotReplaceEachOtherUnasked) {
    for (const char* name : {"pic.ppm", "pic.pbm", "pic.jp2"}) Picture(name);
    const TCommandResult skipped = Run("/S pic.ppm pic.pbm pic.jp2");
    EXPECT_EQ(skipped.status, 1) << skipped.output;
    EXPECT_TRUE(Contains(skipped.output, "1 pic converted.")) << skipped.output;
    EXPECT_TRUE(Contains(skipped.output, "2 not converted:\n  " + scratch_.Path("pic.pbm"))) << skipped.output;
    EXPECT_TRUE(Contains(skipped.output, scratch_.Path("pic.jp2") + ": " + scratch_.Path("pic.pdf") + " exists")) << skipped.output;
    EXPECT_TRUE(QpdfChecks(scratch_.Path("pic.pdf")));
}

TEST_F(UnattendedRunTest, AFolderThatCannotBeWrittenIsNamedWithTheSystemsReason) {
    // Root writes anywhere: the run is made as nobody, whom the folder's mode holds.
    const std::string as = ::geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
    fs::permissions(scratch_.Folder(), fs::perms::all);
    fs::create_directory(scratch_.Path("config"));
    fs::permissions(scratch_.Path("config"), fs::perms::all);
    fs::create_directory(scratch_.Path("locked"));
    const std::string picture = scratch_.Path("locked/a.jpg");
    fs::copy_file(Picture("a.jpg"), picture);
    fs::permissions(picture, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    fs::permissions(scratch_.Path("locked"), fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                                 fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    const TCommandResult run = RunTool("cd " + Quoted(scratch_.Folder()) + " && env -u DISPLAY XDG_CONFIG_HOME=" +
                                       Quoted(scratch_.Path("config")) + " " + as + Quoted(MORDALE_EXECUTABLE) +
                                       " /S " + Quoted(picture) + " </dev/null");
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_TRUE(Contains(run.output, "Permission denied")) << run.output;
    EXPECT_FALSE(Contains(run.output, "File locked")) << run.output;
    fs::permissions(scratch_.Path("locked"), fs::perms::owner_all);
    EXPECT_EQ(RunTool("ls -A " + Quoted(scratch_.Path("locked"))).output, "a.jpg\n");
}

TEST_F(UnattendedRunTest, ADocumentBeyondTheFileSizeLimitIsAWriteErrorThatLeavesNothing) {
    RunTool("convert -size 300x300 xc: +noise Random " + Quoted(scratch_.Path("noise.png")));
    WriteFile(scratch_.Path("noise.pdf"), "the old document");
    const TCommandResult limited = RunTool("cd " + Quoted(scratch_.Folder()) + " && printf 'y\\n' | sh -c " +
                                           Quoted("ulimit -f 64; exec env -u DISPLAY XDG_CONFIG_HOME=" + Quoted(scratch_.Path("config")) +
                                                  " " + Quoted(MORDALE_EXECUTABLE) + " /S noise.png"));
    EXPECT_EQ(limited.status, 1) << limited.output;
    EXPECT_TRUE(Contains(limited.output, "File too large")) << limited.output;
    EXPECT_EQ(ReadFile(scratch_.Path("noise.pdf")), "the old document");
    EXPECT_EQ(HiddenFiles(), std::vector<std::string>{});
}

TEST_F(UnattendedRunTest, SignalsAndDeadRunsLeaveNoTemporaryDocument) {
    RunTool("convert -size 900x900 xc: +noise Random " + Quoted(scratch_.Path("p0.png")));
    fs::create_directory(scratch_.Path("tmp"));
    std::string pictures;
    for (int i = 0; i < 40; ++i) {
        const std::string name = "p" + std::to_string(i) + ".png";
        if (i > 0) fs::copy_file(scratch_.Path("p0.png"), scratch_.Path(name));
        pictures += " " + name;
    }
    for (const auto& [signal, status] : {std::pair{"TERM", "143"}, std::pair{"INT", "130"}, std::pair{"HUP", "129"}}) {
        SCOPED_TRACE(signal);
        // Background commands of a shell ignore SIGINT unless told otherwise.
        const std::string script =
            "printf 'book\\n' | env --default-signal=" + std::string(signal) + " -u DISPLAY XDG_CONFIG_HOME=" +
            Quoted(scratch_.Path("config")) + " TMPDIR=" + Quoted(scratch_.Path("tmp")) + " " + Quoted(MORDALE_EXECUTABLE) +
            " /B" + pictures + " >/dev/null 2>&1 & "
            "pid=$!; for i in $(seq 600); do ls -A | grep -q '^\\.book\\.pdf\\.' && break; sleep 0.05; done; "
            "kill -" + signal + " $pid; wait $pid; echo status $?";
        const TCommandResult run = RunTool("cd " + Quoted(scratch_.Folder()) + " && sh -c " + Quoted(script));
        EXPECT_TRUE(Contains(run.output, std::string("status ") + status)) << run.output;  // ended by the signal
        EXPECT_EQ(HiddenFiles(), std::vector<std::string>{});
        EXPECT_EQ(RunTool("ls -A " + Quoted(scratch_.Path("tmp"))).output, "");  // nor the program's folder
        EXPECT_FALSE(fs::exists(scratch_.Path("book.pdf")));
    }
    // A temporary file of this document left by a process that is gone is removed by the next
    // run; one of a running process and one of another document stay.
    const std::string alive = ".p0.pdf." + std::to_string(::getpid()) + ".aB3dE9";
    for (const std::string& name : {std::string(".p0.pdf.99999999.aB3dE9"), alive, std::string(".p1.pdf.99999999.aB3dE9")})
        WriteFile(scratch_.Path(name), "left behind");
    const TCommandResult run = Run("/S p0.png");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(HiddenFiles(), (std::vector<std::string>{alive, ".p1.pdf.99999999.aB3dE9"}));
}

}  // namespace
