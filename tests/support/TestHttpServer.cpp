#include "TestHttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

namespace {

void SendAll(int socket, const std::string& data) {
    for (size_t done = 0; done < data.size();) {
        const ssize_t n = ::send(socket, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return;
        done += size_t(n);
    }
}

std::string Hex(size_t value) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    do {
        text.insert(text.begin(), digits[value % 16]);
        value /= 16;
    } while (value);
    return text;
}

// Waits the pause; false when the client left meanwhile.
bool ClientStays(int client, std::chrono::milliseconds pause) {
    pollfd watched{client, POLLIN, 0};
    if (::poll(&watched, 1, int(pause.count())) <= 0) return true;
    char byte;
    return ::recv(client, &byte, 1, MSG_PEEK | MSG_DONTWAIT) > 0;
}

// The path of a request line's target, also of an absolute address.
std::string PathOf(const std::string& requestLine) {
    const size_t start = requestLine.find(' ');
    const size_t end = requestLine.find(' ', start + 1);
    std::string target = requestLine.substr(start + 1, end - start - 1);
    const size_t scheme = target.find("://");
    if (scheme != std::string::npos) {
        const size_t slash = target.find('/', scheme + 3);
        target = slash == std::string::npos ? "/" : target.substr(slash);
    }
    return target;
}

}  // namespace

TTestHttpServer::TTestHttpServer() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    ::listen(listener_, 8);
    thread_ = std::thread([this] { Serve(); });
}

TTestHttpServer::~TTestHttpServer() {
    ::shutdown(listener_, SHUT_RDWR);
    thread_.join();
    ::close(listener_);
}

void TTestHttpServer::Answer(const std::string& path, const TTestHttpResponse& response) {
    const std::lock_guard lock(mutex_);
    responses_[path] = response;
}

std::string TTestHttpServer::HostAndPort() const { return "127.0.0.1:" + std::to_string(port_); }

std::vector<std::string> TTestHttpServer::Requests() {
    const std::lock_guard lock(mutex_);
    return requests_;
}

void TTestHttpServer::Serve() {
    for (;;) {
        const int client = ::accept(listener_, nullptr, nullptr);
        if (client < 0) return;
        Handle(client);
        ::close(client);
    }
}

void TTestHttpServer::Handle(int client) {
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
        const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
        if (n <= 0) return;
        request.append(buffer, size_t(n));
    }
    request.erase(request.find("\r\n\r\n") + 2);
    TTestHttpResponse response;
    response.status = "404 Not Found";
    {
        const std::lock_guard lock(mutex_);
        requests_.push_back(request);
        const auto found = responses_.find(PathOf(request.substr(0, request.find("\r\n"))));
        if (found != responses_.end()) response = found->second;
    }
    if (response.silent) {
        while (::recv(client, buffer, sizeof buffer, 0) > 0) {
        }
        return;
    }
    std::string head = "HTTP/1.1 " + response.status + "\r\nConnection: close\r\n" + response.headers;
    if (response.withLength) {
        SendAll(client, head + "Content-Length: " + std::to_string(response.body.size()) + "\r\n\r\n");
        const size_t pieces = size_t(std::max(response.pieces, 1));
        const size_t piece = (response.body.size() + pieces - 1) / pieces;
        for (size_t at = 0; at < response.body.size(); at += piece) {
            if (at > 0 && !ClientStays(client, response.pause)) return;
            SendAll(client, response.body.substr(at, piece));
        }
        return;
    }
    SendAll(client, head + "Transfer-Encoding: chunked\r\n\r\n");
    constexpr size_t Chunk = 1000;
    for (size_t at = 0; at < response.body.size(); at += Chunk) {
        const std::string piece = response.body.substr(at, Chunk);
        SendAll(client, Hex(piece.size()) + "\r\n" + piece + "\r\n");
    }
    SendAll(client, "0\r\n\r\n");
}

TTestHttpResponse TestHttpRedirect(const std::string& location) {
    TTestHttpResponse response;
    response.status = "302 Found";
    response.headers = "Location: " + location + "\r\n";
    return response;
}
