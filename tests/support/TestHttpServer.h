#pragma once
// An http server of the test's own on a free loopback port: it answers each request by its path
// from a table of responses, one request per connection, and records every request it read. Asked
// with an absolute address, as a client asks a proxy, it answers as the proxy would.
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct TTestHttpResponse {
    std::string status = "200 OK";
    std::string headers;  // further header lines, each ending in "\r\n"
    std::string body;
    bool withLength = true;  // else the body is sent in chunks
    bool silent = false;     // reads the request and answers nothing until the client leaves
    // Above one: the body goes in this many pieces, the pause between two of them, as a slow or
    // stalling server sends it; a client that leaves ends the pause.
    int pieces = 1;
    std::chrono::milliseconds pause{0};
};

class TTestHttpServer {
public:
    TTestHttpServer();
    ~TTestHttpServer();
    TTestHttpServer(const TTestHttpServer&) = delete;
    TTestHttpServer& operator=(const TTestHttpServer&) = delete;

    // A path without a response is answered 404 with an empty body.
    void Answer(const std::string& path, const TTestHttpResponse& response);
    int Port() const { return port_; }
    // "127.0.0.1:<port>"
    std::string HostAndPort() const;
    // The requests read so far: request line and headers, up to the empty line.
    std::vector<std::string> Requests();

private:
    void Serve();
    void Handle(int client);
    int listener_ = -1;
    int port_ = 0;
    std::mutex mutex_;
    std::map<std::string, TTestHttpResponse> responses_;
    std::vector<std::string> requests_;
    std::thread thread_;
};

// The response of a redirect to the address.
TTestHttpResponse TestHttpRedirect(const std::string& location);
