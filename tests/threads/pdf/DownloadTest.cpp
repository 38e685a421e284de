// Pictures given by an internet address, downloaded from a server of the test's own.
#include <gtest/gtest.h>

#include <filesystem>

#include "PdfTestSupport.h"
#include "TestHttpServer.h"
#include "pdf/PdfKalmora.h"

namespace {

// Serves one response at the path and gives the address of it.
std::string Serve(TTestHttpServer& server, const std::string& path, const std::string& status, const std::string& body) {
    TTestHttpResponse response;
    response.status = status;
    response.body = body;
    server.Answer(path, response);
    return "http://" + server.HostAndPort() + path;
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
    TTestHttpServer server;
    pdf->Canvas().StretchDrawFile(Rect(0, 0, 500, 500),
                                  Serve(server, "/pictures/remote.jpg?size=big", "200 OK", ReadFile(jpeg)));
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
    TTestHttpServer server;
    const std::string own = scratch.Path("own");
    std::filesystem::create_directory(own);
    pdf->SetTempFolder(own);
    pdf->Canvas().StretchDrawFile(Rect(0, 0, 500, 500), Serve(server, "/picture.jpg", "200 OK", ReadFile(jpeg)));
    EXPECT_TRUE(std::filesystem::exists(own + "/Download1.jpg"));
    EXPECT_EQ(downloads.Files(), std::vector<std::string>{});
    pdf.reset();
    EXPECT_TRUE(std::filesystem::is_empty(own));
}

TEST_F(PdfDownload, UnsafeExtensionsAreLeftOut) {
    const std::string jpeg = scratch.Path("remote.jpg");
    ASSERT_EQ(RunTool("convert -size 4x4 xc:blue " + Quoted(jpeg)).status, 0);
    TTestHttpServer server;
    pdf->Canvas().StretchDrawFile(Rect(0, 0, 500, 500), Serve(server, "/a.b/picture.j%2F..%2Fx", "200 OK", ReadFile(jpeg)));
    pdf->Canvas().StretchDrawFile(Rect(0, 0, 500, 500), Serve(server, "/picture", "200 OK", ReadFile(jpeg)));
    EXPECT_EQ(downloads.Files(), (std::vector<std::string>{"Download1", "Download2"}));
}

TEST_F(PdfDownload, FailedDownloadsLeaveNoFileAndAbandonTheDocument) {
    TTestHttpServer server;
    const std::string empty = Serve(server, "/empty.jpg", "200 OK", "");
    const std::string missing = Serve(server, "/gone.jpg", "404 Not Found", "no such picture");
    const std::pair<std::string, std::string> cases[] = {
        {empty, "File not found: " + empty + " (nothing received)"},
        {missing, "File not found: " + missing + " (HTTP 404)"},
        {"ftp://127.0.0.1/picture.jpg", "File not found: ftp://127.0.0.1/picture.jpg"},
        {"http://127.0.0.1:1/closed.jpg", "Invalid Windows function call: InternetOpenURL (Connection refused)"},
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
