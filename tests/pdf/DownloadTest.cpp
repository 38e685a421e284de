// Pictures given by an internet address, downloaded from a server of the test's own.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "PdfTestSupport.h"
#include "pdf/PdfKalmora.h"

namespace {

// Answers each connection on a loopback port with one fixed response, until destroyed.
class THttpServer {
public:
    explicit THttpServer(std::string response) : response_(std::move(response)) {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        socklen_t length = sizeof address;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        ::listen(listener_, 4);
        thread_ = std::thread([this] { Serve(); });
    }
    ~THttpServer() {
        ::shutdown(listener_, SHUT_RDWR);
        ::close(listener_);
        thread_.join();
    }
    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

private:
    void Serve() {
        for (;;) {
            const int client = ::accept(listener_, nullptr, nullptr);
            if (client < 0) return;
            char request[4096];
            ::recv(client, request, sizeof request, 0);
            ::send(client, response_.data(), response_.size(), MSG_NOSIGNAL);
            ::close(client);
        }
    }
    std::string response_;
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
};

std::string Response(const std::string& status, const std::string& body) {
    return "HTTP/1.0 " + status + "\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

class PdfDownload : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("TMPDIR", downloads.Folder().c_str(), 1);
        pdf = std::make_unique<TPdfKalmora>();
        pdf->SetFileName(scratch.Path("download.pdf"));
        pdf->BeginDoc();
    }
    void TearDown() override {
        pdf.reset();
        ::unsetenv("TMPDIR");
    }
    TScratchFolder scratch, downloads;
    std::unique_ptr<TPdfKalmora> pdf;
};

TEST_F(PdfDownload, APictureFromAnAddressIsDrawnAndItsFileRemovedLater) {
    const std::string jpeg = scratch.Path("remote.jpg");
    ASSERT_EQ(RunTool("convert -size 10x10 xc:orange " + Quoted(jpeg)).status, 0);
    THttpServer server(Response("200 OK", ReadFile(jpeg)));
    pdf->Canvas().StretchDrawFile(Rect(0, 0, 500, 500), server.Url("/pictures/remote.jpg?size=big"));
    EXPECT_EQ(downloads.Files(), std::vector<std::string>{"Download1.jpg"});
    pdf->EndDoc();
    EXPECT_TRUE(QpdfChecks(scratch.Path("download.pdf")));
    const std::string extracted = scratch.Path("extracted");
    RunTool("pdfimages -j " + Quoted(scratch.Path("download.pdf")) + " " + Quoted(extracted));
    EXPECT_EQ(ReadFile(extracted + "-000.jpg"), ReadFile(jpeg));
    pdf.reset();
    EXPECT_EQ(downloads.Files(), std::vector<std::string>{});
}

TEST_F(PdfDownload, TheComponentsTemporaryFolderTakesTheDownloads) {
    const std::string jpeg = scratch.Path("remote.jpg");
    ASSERT_EQ(RunTool("convert -size 4x4 xc:blue " + Quoted(jpeg)).status, 0);
    THttpServer server(Response("200 OK", ReadFile(jpeg)));
    const std::string own = scratch.Path("own");
    std::filesystem::create_directory(own);
    pdf->SetTempFolder(own);
    pdf->Canvas().StretchDrawFile(Rect(0, 0, 500, 500), server.Url("/picture.jpg"));
    EXPECT_TRUE(std::filesystem::exists(own + "/Download1.jpg"));
    EXPECT_EQ(downloads.Files(), std::vector<std::string>{});
    pdf.reset();
    EXPECT_TRUE(std::filesystem::is_empty(own));
}

TEST_F(PdfDownload, UnsafeExtensionsAreLeftOut) {
    const std::string jpeg = scratch.Path("remote.jpg");
    ASSERT_EQ(RunTool("convert -size 4x4 xc:blue " + Quoted(jpeg)).status, 0);
    THttpServer server(Response("200 OK", ReadFile(jpeg)));
    pdf->Canvas().StretchDrawFile(Rect(0, 0, 500, 500), server.Url("/a.b/picture.j%2F..%2Fx"));
    pdf->Canvas().StretchDrawFile(Rect(0, 0, 500, 500), server.Url("/picture"));
    EXPECT_EQ(downloads.Files(), (std::vector<std::string>{"Download1", "Download2"}));
}

TEST_F(PdfDownload, FailedDownloadsLeaveNoFileAndAbandonTheDocument) {
    THttpServer empty(Response("200 OK", ""));
    THttpServer missing(Response("404 Not Found", "no such picture"));
    const std::pair<std::string, std::string> cases[] = {
        {empty.Url("/empty.jpg"), "File not found: " + empty.Url("/empty.jpg")},
        {missing.Url("/gone.jpg"), "File not found: " + missing.Url("/gone.jpg")},
        {"ftp://127.0.0.1/picture.jpg", "File not found: ftp://127.0.0.1/picture.jpg"},
        {"http://127.0.0.1:1/closed.jpg", "Invalid Windows function call: InternetOpenURL"},
    };
    for (const auto& [url, message] : cases) {
        if (!pdf->Printing()) pdf->BeginDoc();
        EXPECT_EQ(MessageOf([&] { pdf->Canvas().StretchDrawFile(Rect(0, 0, 10, 10), url); }), message);
        EXPECT_FALSE(pdf->Printing());
        EXPECT_EQ(downloads.Files(), std::vector<std::string>{}) << url;
    }
    EXPECT_EQ(scratch.Files(), std::vector<std::string>{});
}

}  // namespace
