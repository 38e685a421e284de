// The built program, run unattended without a display, on pictures it cannot have: addresses of
// servers that refuse, stall, trickle or do not exist, and damaged files made by ImageMagick. Each
// failure keeps its message and says why, and a run with a failure ends with status 1.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "TestHttpServer.h"
#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;

// A loopback port on which nothing listens.
int ClosedPort() {
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(probe);
    return ntohs(address.sin_port);
}

class NetworkAndReasonsTest : public ::testing::Test {
protected:
    // A picture drawn by ImageMagick, in the format of its extension.
    std::string Picture(const std::string& name, const std::string& size = "200x150") {
        const std::string path = scratch_.Path(name);
        const std::string format = fs::path(name).extension().string().substr(1);
        const std::string command = "convert -size " + size + " gradient:red-blue " + format + ":" + Quoted(path);
        EXPECT_EQ(RunTool(command).status, 0) << name;
        return path;
    }

    // Runs in the scratch folder with no display, no answers on standard input, and downloads
    // that give up after 2 s without data instead of 30.
    TCommandResult Run(const std::string& arguments) {
        const std::string program = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM MORDALE_DOWNLOAD_STALL_SECONDS=2" +
                                    std::string(" HOME=") + Quoted(scratch_.Path("home")) +
                                    " XDG_CONFIG_HOME=" + Quoted(scratch_.Path("config")) + " " +
                                    Quoted(MORDALE_EXECUTABLE) + " " + arguments;
        return RunTool("cd " + Quoted(scratch_.Folder()) + " && timeout 60 sh -c " +
                       Quoted(program + " </dev/null 2>&1"));
    }

    TScratchFolder scratch_;
};

TEST_F(NetworkAndReasonsTest, EveryNetworkFailureSaysWhy) {
    TTestHttpServer server;
    TTestHttpResponse silent;
    silent.silent = true;
    server.Answer("/silent.png", silent);
    // Headers and half the picture, then nothing while the client waits.
    TTestHttpResponse stalling;
    stalling.body = ReadFile(Picture("stalling.png"));
    stalling.pieces = 2;
    stalling.pause = std::chrono::minutes(10);
    server.Answer("/stalling.png", stalling);
    const std::string address = "http://" + server.HostAndPort();
    const std::string refusing = "127.0.0.1:" + std::to_string(ClosedPort());
    const std::string openFailed = "Invalid Windows function call: InternetOpenURL";
    const struct {
        std::string url, says;
    } cases[] = {
        {address + "/silent.png", openFailed + " (no data for 2 s)"},
        {address + "/stalling.png", openFailed + " (no data for 2 s)"},
        {"http://" + refusing + "/a.png", openFailed + " (Connection refused)"},
        // An https address is downloaded as an http one is, not taken for a file name.
        {"https://" + refusing + "/a.png", openFailed + " (Connection refused)"},
        {"http://no-such-host.invalid/a.png", openFailed + " (Could not resolve host name)"},
        {address + "/missing.png", "File not found: " + address + "/missing.png (HTTP 404)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        const TCommandResult run = Run("/S " + Quoted(c.url));
        EXPECT_EQ(run.status, 1) << run.output;
        EXPECT_TRUE(Contains(run.output, c.says)) << run.output;
        EXPECT_TRUE(Contains(run.output, "Not converted:\n  " + c.url)) << run.output;
    }
    // In a book the silent server's picture is left out, and the book is made of the others.
    const std::string good = Picture("good.png", "40x30");
    const TCommandResult book = Run("/B " + Quoted(good) + " " + Quoted(address + "/silent.png"));
    EXPECT_EQ(book.status, 1) << book.output;
    EXPECT_TRUE(Contains(book.output, openFailed + " (no data for 2 s)")) << book.output;
    EXPECT_TRUE(QpdfChecks(scratch_.Path("Book1.pdf")));
    EXPECT_EQ(RunTool("pdfinfo " + Quoted(scratch_.Path("Book1.pdf")) + " | awk '/^Pages:/ {print $2}'").output, "1\n");
}

TEST_F(NetworkAndReasonsTest, ASlowDownloadThatKeepsReceivingIsNotCut) {
    TTestHttpServer server;
    TTestHttpResponse slow;
    slow.body = ReadFile(Picture("slow.gif", "30x20"));
    // Longer in all than the 2 s a server may stay silent, never silent that long.
    slow.pieces = 5;
    slow.pause = std::chrono::seconds(1);
    server.Answer("/slow.gif", slow);
    fs::create_directories(scratch_.Path("home"));
    const TCommandResult run = Run("/S " + Quoted("http://" + server.HostAndPort() + "/slow.gif"));
    ASSERT_EQ(run.status, 0) << run.output;
    const std::string document = scratch_.Path("home/slow.pdf");
    EXPECT_TRUE(QpdfChecks(document));
    EXPECT_EQ(RunTool("pdfimages -list " + Quoted(document) + " | awk 'NR > 2 {print $4 \"x\" $5}'").output, "30x20\n");
}

TEST_F(NetworkAndReasonsTest, DamagedPicturesKeepTheirReadersReason) {
    // Cut to half their bytes, pictures of both libraries: the image library's by page, by frame
    // and whole, the extended library's for formats only it reads.
    const struct {
        const char* name;
        const char* says;
    } cut[] = {
        {"cut.png", "(Premature end of PNG data at row "},
        {"cut.tif", "(TIFF directory at offset "},
        {"cut.bmp", "(BMP pixel data is cut short)"},
        {"cut.gif", "(the compressed data of image 1 are damaged or end before its last row)"},
        {"cut.sgi", "(data ends after "},
        {"cut.psd", "(data ends after "},
    };
    for (const auto& c : cut) {
        SCOPED_TRACE(c.name);
        const std::string whole = ReadFile(Picture(c.name));
        const std::string path = scratch_.Path(c.name);
        WriteFile(path, whole.substr(0, whole.size() / 2));
        const TCommandResult run = Run("/S " + Quoted(path));
        EXPECT_EQ(run.status, 1) << run.output;
        EXPECT_TRUE(Contains(run.output, "Can't load image : " + path + " " + c.says)) << run.output;
    }

    // Headers that claim 100,000 x 100,000 pixels, and a BMP whose pixels lie past its end.
    const auto forged = [&](const std::string& name, size_t at, const std::string& bytes) {
        std::string picture = ReadFile(Picture(name, "40x30"));
        picture.replace(at, bytes.size(), bytes);
        WriteFile(scratch_.Path(name), picture);
        return scratch_.Path(name);
    };
    const std::string huge = "picture size 100000 x 100000 exceeds ";
    const struct {
        std::string path, says;
    } forgeries[] = {
        {forged("huge.bmp", 18, std::string("\xA0\x86\x01\x00\xA0\x86\x01\x00", 8)), huge},
        {forged("huge.psd", 14, std::string("\x00\x01\x86\xA0\x00\x01\x86\xA0", 8)), huge},
        {forged("offset.bmp", 10, std::string("\x40\x42\x0F\x00", 4)), "needed at offset 1000000)"},
    };
    for (const auto& f : forgeries) {
        SCOPED_TRACE(f.path);
        const TCommandResult run = Run("/S " + Quoted(f.path));
        EXPECT_EQ(run.status, 1) << run.output;
        EXPECT_TRUE(Contains(run.output, "Can't load image : " + f.path + " (")) << run.output;
        EXPECT_TRUE(Contains(run.output, f.says)) << run.output;
    }
}

}  // namespace
