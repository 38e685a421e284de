#pragma once
// Downloads over plain http for the input/output component, on libcurl, bounded in size and time.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

class TMemoryStream;

struct TKVHttpAddress {
    std::string host;
    int port = 80;
    std::string path;  // from the first "/" on; empty when the address has none
};
// True when the name begins with "http://", in any letter case.
bool KVIsHttpAddress(const std::string& name);
// The parts of an "http://host[:port]/path" address, the scheme in any letter case; a port that is
// missing or no port number gives 80. False for any other scheme.
bool KVSplitHttpAddress(const std::string& url, TKVHttpAddress& address);

// Bounds of every download; tests may shorten them before they start one.
struct TKVHttpLimits {
    long connectSeconds = 30;
    // Less than a byte a second for this long: the server has stalled.
    long stallSeconds = 60;
    long maxRedirects = 3;
};
extern TKVHttpLimits KVHttpLimits;

// The largest body taken: the largest picture the readers accept at 8 bytes a pixel, and room for
// what a file holds beside its pixels.
int64_t KVHttpBodyLimit();

struct TKVHttpRequest {
    TKVHttpAddress address;
    // A named proxy, "host[:port]" (80 when none), and its credentials; empty: direct.
    std::string proxyHost, proxyUser, proxyPassword;
    // With a known length, the percent received after each piece of 65,536 bytes (pieces of 1,024
    // bytes without one).
    std::function<void(int percent)> progress;
    // Tested after each piece and while waiting: set, the download stops.
    const std::atomic<bool>* abort = nullptr;
};

// False when libcurl refused to initialise at the program's start.
bool KVHttpAvailable();
// Appends the body of a successful response to body. False on a
// failed or stalled transfer, an error status (400 and above), too many redirects or one to another
// scheme, a body over KVHttpBodyLimit, and an abort.
bool KVHttpGet(const TKVHttpRequest& request, TMemoryStream& body);
