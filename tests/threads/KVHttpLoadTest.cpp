// Pictures loaded from http addresses, served by a server of the test's own on a loopback port.
#include <gtest/gtest.h>

#include "../imaging/PictureFixtures.h"
#include "TestHttpServer.h"
#include "imaging/io/KVHttpLoad.h"
#include "platform/PictureLimits.h"

namespace {

// Watches one component's events.
struct TWatchedIO {
    TKestovaIO io;
    int finished = 0;
    std::vector<int> percents;
    TWatchedIO() {
        io.OnFinishWork = [this](TObject*) { ++finished; };
        io.OnProgress = [this](TObject*, int percent) { percents.push_back(percent); };
    }
};

class HttpLoad : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFile(folder.Path("p.ppm"), PatternPpm(13, 9));
        png = ReadFile(MakeFixture(folder.Path("p.png"), "convert " + Quoted(folder.Path("p.ppm")) + " " +
                                                             Quoted(folder.Path("p.png"))));
        pixels = ReadWithImageMagick(folder.Path("p.png"));
        TTestHttpResponse picture;
        picture.body = png;
        server.Answer("/a.png", picture);
        picture.withLength = false;
        server.Answer("/chunked.png", picture);
    }
    std::string Url(const std::string& path) const { return "http://" + server.HostAndPort() + path; }

    TScratchFolder folder;
    std::string png;
    TRgbImage pixels;
    TTestHttpServer server;
};

}  // namespace

TEST(HttpAddress, PartsOfAnAddress) {
    const struct {
        const char* url;
        bool http;
        const char* host;
        int port;
        const char* path;
    } cases[] = {
        {"http://example.test/a/b.png", true, "example.test", 80, "/a/b.png"},
        {"HTTP://Example.Test/a.png", true, "Example.Test", 80, "/a.png"},
        {"hTtP://h:8080/x?y=1", true, "h", 8080, "/x?y=1"},
        {"http://h:abc/x", true, "h", 80, "/x"},
        {"http://h:/x", true, "h", 80, "/x"},
        {"http://h:99999/x", true, "h", 80, "/x"},
        {"http://h:65535/x", true, "h", 65535, "/x"},  // the highest port
        {"http://h:65536/x", true, "h", 80, "/x"},
        {"http://h:81:82/x", true, "h", 80, "/x"},
        {"http://h", true, "h", 80, ""},
        {"http://h:8080", true, "h", 8080, ""},
        {"https://h/x", false, "", 0, ""},
        {"ftp://h/x", false, "", 0, ""},
        {"http:/h/x", false, "", 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        TKVHttpAddress address;
        ASSERT_EQ(KVSplitHttpAddress(c.url, address), c.http);
        if (!c.http) continue;
        EXPECT_EQ(address.host, c.host);
        EXPECT_EQ(address.port, c.port);
        EXPECT_EQ(address.path, c.path);
    }
}

TEST_F(HttpLoad, APictureLoadsWithAndWithoutALengthByItsContent) {
    for (const std::string& url : {Url("/a.png"), Url("/chunked.png"), "HTTP://" + server.HostAndPort() + "/a.png"}) {
        SCOPED_TRACE(url);
        TWatchedIO w;
        w.io.LoadFromURL(url);
        ASSERT_FALSE(w.io.AbortFlag);
        EXPECT_TRUE(SamePixels(PixelsOf(w.io.WorkBitmap()), pixels));
        EXPECT_EQ(w.io.Params().FileType, kvftPNG);
        EXPECT_EQ(w.finished, 1);
    }
    // A file name that is an address loads the same way.
    TWatchedIO byName;
    byName.io.LoadFromFile(Url("/a.png"));
    ASSERT_FALSE(byName.io.AbortFlag);
    EXPECT_TRUE(SamePixels(PixelsOf(byName.io.WorkBitmap()), pixels));
    EXPECT_EQ(byName.finished, 1);

    const std::vector<std::string> requests = server.Requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[0].substr(0, requests[0].find("\r\n")), "GET /a.png HTTP/1.1");
    EXPECT_TRUE(Contains(requests[0], "\r\nCache-Control: no-cache\r\n")) << requests[0];
    EXPECT_TRUE(Contains(requests[0], "\r\nPragma: no-cache\r\n")) << requests[0];
    for (const std::string& request : requests)
        EXPECT_TRUE(Contains(request, "\r\nUser-Agent: Mozilla/4.*\r\n")) << request;
}

TEST_F(HttpLoad, ProgressFollowsPiecesOfAKnownLengthOnly) {
    // Noise does not compress, so the picture spans several pieces.
    const std::string noisy = ReadFile(MakeFixture(folder.Path("noise.png"), "convert -size 240x240 xc: +noise Random -depth 8 " +
                                                                                 Quoted(folder.Path("noise.png"))));
    ASSERT_GT(noisy.size(), 2u * 65536);
    TTestHttpResponse response;
    response.body = noisy;
    server.Answer("/noise.png", response);
    response.withLength = false;
    server.Answer("/noise-chunked.png", response);

    // The reader's own progress events follow the download's, as when the file is loaded.
    TWatchedIO local;
    local.io.LoadFromFile(folder.Path("noise.png"));
    ASSERT_FALSE(local.io.AbortFlag);
    std::vector<int> downloaded;
    for (size_t received = 65536; received < noisy.size(); received += 65536)
        downloaded.push_back(int(received * 100 / noisy.size()));
    downloaded.push_back(100);
    std::vector<int> expected = downloaded;
    expected.insert(expected.end(), local.percents.begin(), local.percents.end());
    TWatchedIO known;
    known.io.LoadFromURL(Url("/noise.png"));
    ASSERT_FALSE(known.io.AbortFlag);
    EXPECT_EQ(known.percents, expected);
    EXPECT_TRUE(SamePixels(PixelsOf(known.io.WorkBitmap()), ReadWithImageMagick(folder.Path("noise.png"))));

    TWatchedIO unknown;
    unknown.io.LoadFromURL(Url("/noise-chunked.png"));
    ASSERT_FALSE(unknown.io.AbortFlag);
    EXPECT_EQ(unknown.percents, local.percents);
    EXPECT_TRUE(SamePixels(PixelsOf(unknown.io.WorkBitmap()), ReadWithImageMagick(folder.Path("noise.png"))));

    // Set from the first progress event, AbortFlag stops the download after that piece.
    TWatchedIO stopped;
    stopped.io.OnProgress = [&](TObject*, int percent) {
        stopped.percents.push_back(percent);
        stopped.io.AbortFlag = true;
    };
    stopped.io.LoadFromURL(Url("/noise.png"));
    EXPECT_TRUE(stopped.io.AbortFlag);
    EXPECT_EQ(stopped.percents, (std::vector<int>{downloaded.front(), 100}));
    EXPECT_TRUE(stopped.io.WorkBitmap().IsEmpty());
    EXPECT_EQ(stopped.finished, 1);
}

TEST_F(HttpLoad, FailuresSetAbortFlagAndFinishOnceWithoutLoading) {
    // Bodies that are pictures, so that loading one would show.
    TTestHttpResponse missing;
    missing.status = "404 Not Found";
    missing.body = png;
    server.Answer("/missing.png", missing);
    TTestHttpResponse failing = missing;
    failing.status = "503 Service Unavailable";
    server.Answer("/failing.png", failing);
    server.Answer("/to-https.png", TestHttpRedirect("https://" + server.HostAndPort() + "/a.png"));
    server.Answer("/loop.png", TestHttpRedirect("/loop.png"));
    TTestHttpResponse noPicture;
    noPicture.body = "<html>not a picture</html>";
    server.Answer("/page.png", noPicture);
    const struct {
        std::string url;
        size_t requests;  // that reach the server
    } cases[] = {
        {Url("/missing.png"), 1},
        {Url("/failing.png"), 1},
        {Url("/to-https.png"), 1},
        {Url("/loop.png"), 4},  // the first request and three redirects
        {Url("/page.png"), 1},
        {"https://" + server.HostAndPort() + "/a.png", 0},
        {"ftp://" + server.HostAndPort() + "/a.png", 0},
        {"http://127.0.0.1:1/a.png", 0},  // nobody listens
        {"http://user@" + server.HostAndPort() + "/a.png", 0},
    };
    size_t before = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        TWatchedIO w;
        w.io.LoadFromURL(c.url);
        EXPECT_TRUE(w.io.AbortFlag);
        EXPECT_EQ(w.finished, 1);
        EXPECT_TRUE(w.io.WorkBitmap().IsEmpty());
        const size_t now = server.Requests().size();
        EXPECT_EQ(now - before, c.requests);
        before = now;
    }
}

TEST_F(HttpLoad, ARedirectWithinHttpIsFollowed) {
    server.Answer("/moved.png", TestHttpRedirect(Url("/a.png")));
    server.Answer("/moved-twice.png", TestHttpRedirect("/moved.png"));
    TWatchedIO w;
    w.io.LoadFromURL(Url("/moved-twice.png"));
    ASSERT_FALSE(w.io.AbortFlag);
    EXPECT_TRUE(SamePixels(PixelsOf(w.io.WorkBitmap()), pixels));
    EXPECT_EQ(server.Requests().size(), 3u);
}

TEST_F(HttpLoad, AnAddressWithoutAPathLoadsNothingAndIsNoFailure) {
    TWatchedIO w;
    w.io.LoadFromURL("http://" + server.HostAndPort());
    EXPECT_FALSE(w.io.AbortFlag);
    EXPECT_EQ(w.finished, 1);
    EXPECT_TRUE(w.io.WorkBitmap().IsEmpty());
    EXPECT_TRUE(server.Requests().empty());
}

TEST_F(HttpLoad, ABodyLargerThanThePictureLimitsIsRefused) {
    TPictureLimits limits;
    limits.maxPixels = 1000;
    limits.freeBytes = 2000;
    const TPictureLimitsOverride small(limits);
    ASSERT_EQ(KVHttpBodyLimit(), 10000);
    TTestHttpResponse large;
    large.body = png + std::string(10001 - png.size(), '\0');
    server.Answer("/large.png", large);
    large.withLength = false;
    server.Answer("/large-chunked.png", large);
    TTestHttpResponse fits;
    fits.body = png + std::string(10000 - png.size(), '\0');
    server.Answer("/fits.png", fits);
    const struct {
        const char* path;
        bool loads;
    } cases[] = {{"/large.png", false}, {"/large-chunked.png", false}, {"/fits.png", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        TWatchedIO w;
        w.io.LoadFromURL(Url(c.path));
        EXPECT_EQ(w.io.AbortFlag, !c.loads);
        EXPECT_EQ(w.finished, 1);
        EXPECT_EQ(w.io.WorkBitmap().IsEmpty(), !c.loads);
    }
}

TEST_F(HttpLoad, AServerThatSendsNothingIsLeftAfterTheStallTime) {
    TTestHttpResponse silent;
    silent.silent = true;
    server.Answer("/silent.png", silent);
    const TKVHttpLimits saved = KVHttpLimits;
    KVHttpLimits.stallSeconds = 1;
    TWatchedIO w;
    w.io.LoadFromURL(Url("/silent.png"));
    KVHttpLimits = saved;
    EXPECT_TRUE(w.io.AbortFlag);
    EXPECT_EQ(w.finished, 1);
}

TEST_F(HttpLoad, TheProxyIsAskedForTheWholeAddressWithItsCredentials) {
    const struct {
        std::string url;
        const char* requestLine;
    } cases[] = {
        {"http://pictures.test:8080/a.png", "GET http://pictures.test:8080/a.png HTTP/1.1"},
        {"http://pictures.test:abc/a.png", "GET http://pictures.test/a.png HTTP/1.1"},
        {"HTTP://pictures.test/a.png", "GET http://pictures.test/a.png HTTP/1.1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        TWatchedIO w;
        w.io.ProxyHost = server.HostAndPort();
        w.io.ProxyUserName = "user";
        w.io.ProxyUserPassword = "secret";
        w.io.LoadFromURL(c.url);
        ASSERT_FALSE(w.io.AbortFlag);
        EXPECT_TRUE(SamePixels(PixelsOf(w.io.WorkBitmap()), pixels));
        const std::string request = server.Requests().back();
        EXPECT_EQ(request.substr(0, request.find("\r\n")), c.requestLine);
        // base64 of "user:secret"
        EXPECT_TRUE(Contains(request, "\r\nProxy-Authorization: Basic dXNlcjpzZWNyZXQ=\r\n")) << request;
        EXPECT_TRUE(Contains(request, "\r\nUser-Agent: Mozilla/4.*\r\n")) << request;
    }
}
