#include "imaging/io/KVHttpLoad.h"

#include <algorithm>
#include <exception>
#include <vector>

#include "platform/Classes.h"
#include "platform/CurlLibrary.h"
#include "platform/PictureLimits.h"

TKVHttpLimits KVHttpLimits;

namespace {

bool IsHostCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
           c == '_';
}

// 0 when the text is not a port number.
int PortNumber(const std::string& text) {
    if (text.empty() || text.size() > 5 || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return 0;
    const int port = std::stoi(text);
    return port <= 65535 ? port : 0;
}

struct TTransfer {
    TTransfer(const TKVHttpRequest& r, TMemoryStream& b, const TCurlLibrary& l, CURL* c)
        : request(r), body(b), library(l), curl(c) {}
    const TKVHttpRequest& request;
    TMemoryStream& body;
    const TCurlLibrary& library;
    CURL* curl;
    int64_t length = 0;  // 0: not known
    bool lengthRead = false;
    std::vector<char> pending;
    // What a progress event raised, raised again once libcurl is left.
    std::exception_ptr raised;
};

bool Aborted(const TTransfer& t) { return t.request.abort && t.request.abort->load(); }

// Appends one piece; false when the download is to stop after it.
bool TakePiece(TTransfer& t, size_t size) {
    t.body.WriteBuffer(t.pending.data(), int64_t(size));
    t.pending.erase(t.pending.begin(), t.pending.begin() + int64_t(size));
    if (t.length > 0 && t.request.progress) t.request.progress(int(t.body.Size() * 100 / t.length));
    return !Aborted(t);
}

size_t Take(TTransfer& t, char* data, size_t bytes) {
    if (!t.lengthRead) {
        curl_off_t length = -1;
        if (t.library.EasyGetinfo(t.curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK && length > 0)
            t.length = length;
        t.lengthRead = true;
    }
    if (t.body.Size() + int64_t(t.pending.size() + bytes) > KVHttpBodyLimit()) return 0;
    t.pending.insert(t.pending.end(), data, data + bytes);
    const size_t piece = t.length > 0 ? 65536 : 1024;
    while (t.pending.size() >= piece)
        if (!TakePiece(t, piece)) return 0;
    return bytes;
}

size_t Received(char* data, size_t size, size_t count, void* user) {
    auto& t = *static_cast<TTransfer*>(user);
    try {
        return Take(t, data, size * count);
    } catch (...) {
        t.raised = std::current_exception();
        return 0;
    }
}

int Waiting(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return Aborted(*static_cast<TTransfer*>(user)) ? 1 : 0;
}

}  // namespace

bool KVIsHttpAddress(const std::string& name) {
    std::string scheme = name.substr(0, 7);
    std::transform(scheme.begin(), scheme.end(), scheme.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return scheme == "http://";
}

bool KVSplitHttpAddress(const std::string& url, TKVHttpAddress& address) {
    if (!KVIsHttpAddress(url)) return false;
    const std::string rest = url.substr(7);
    const size_t slash = rest.find('/');
    const std::string hostPart = rest.substr(0, slash);
    address.path = slash == std::string::npos ? std::string() : rest.substr(slash);
    const size_t colon = hostPart.find(':');
    address.host = hostPart.substr(0, colon);
    const int port = colon == std::string::npos ? 0 : PortNumber(hostPart.substr(colon + 1));
    address.port = port > 0 ? port : 80;
    return true;
}

int64_t KVHttpBodyLimit() { return PictureLimits().maxPixels * 8 + PictureLimits().freeBytes; }

bool KVHttpAvailable() { return CurlLibrary() != nullptr; }

bool KVHttpGet(const TKVHttpRequest& request, TMemoryStream& body) {
    const TKVHttpAddress& a = request.address;
    // A host name of other characters would let the address say more than a host to libcurl.
    const TCurlLibrary* library = CurlLibrary();
    if (!library || a.host.empty() || !std::all_of(a.host.begin(), a.host.end(), IsHostCharacter)) return false;
    CURL* curl = library->EasyInit();
    if (!curl) return false;
    TTransfer t(request, body, *library, curl);
    const std::string url = "http://" + a.host + (a.port == 80 ? "" : ":" + std::to_string(a.port)) + a.path;
    curl_slist* headers = library->SlistAppend(nullptr, "Cache-Control: no-cache");
    headers = library->SlistAppend(headers, "Pragma: no-cache");
    library->EasySetopt(curl, CURLOPT_URL, url.c_str());
    library->EasySetopt(curl, CURLOPT_HTTPHEADER, headers);
    library->EasySetopt(curl, CURLOPT_USERAGENT, "Mozilla/4.*");
    library->EasySetopt(curl, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
    library->EasySetopt(curl, CURLOPT_PROTOCOLS_STR, "http");
    library->EasySetopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http");
    library->EasySetopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    library->EasySetopt(curl, CURLOPT_MAXREDIRS, KVHttpLimits.maxRedirects);
    library->EasySetopt(curl, CURLOPT_CONNECTTIMEOUT, KVHttpLimits.connectSeconds);
    library->EasySetopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    library->EasySetopt(curl, CURLOPT_LOW_SPEED_TIME, KVHttpLimits.stallSeconds);
    library->EasySetopt(curl, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(KVHttpBodyLimit()));
    library->EasySetopt(curl, CURLOPT_FAILONERROR, 1L);
    library->EasySetopt(curl, CURLOPT_NOSIGNAL, 1L);
    // Only the component's own proxy settings count, never the environment's.
    library->EasySetopt(curl, CURLOPT_PROXY, request.proxyHost.c_str());
    library->EasySetopt(curl, CURLOPT_NOPROXY, "");
    if (!request.proxyHost.empty()) {
        library->EasySetopt(curl, CURLOPT_PROXYTYPE, long(CURLPROXY_HTTP));
        library->EasySetopt(curl, CURLOPT_PROXYPORT, 80L);
        if (!request.proxyUser.empty()) {
            library->EasySetopt(curl, CURLOPT_PROXYUSERNAME, request.proxyUser.c_str());
            library->EasySetopt(curl, CURLOPT_PROXYPASSWORD, request.proxyPassword.c_str());
        }
    }
    library->EasySetopt(curl, CURLOPT_WRITEFUNCTION, Received);
    library->EasySetopt(curl, CURLOPT_WRITEDATA, &t);
    library->EasySetopt(curl, CURLOPT_XFERINFOFUNCTION, Waiting);
    library->EasySetopt(curl, CURLOPT_XFERINFODATA, &t);
    library->EasySetopt(curl, CURLOPT_NOPROGRESS, 0L);
    const CURLcode result = library->EasyPerform(curl);
    library->EasyCleanup(curl);
    library->SlistFreeAll(headers);
    if (t.raised) std::rethrow_exception(t.raised);
    if (result != CURLE_OK || Aborted(t)) return false;
    return t.pending.empty() || TakePiece(t, t.pending.size());
}
