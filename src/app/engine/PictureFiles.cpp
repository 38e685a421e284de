#include "app/engine/PictureFiles.h"

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "pdf/PdfErrors.h"
#include "platform/CurlLibrary.h"
#include "tzpicformats/FileFormatList.h"

namespace {

// Limits of one download.
constexpr int64_t MaxDownloadBytes = int64_t(256) << 20;
constexpr long StallBoundSeconds = 30;

// How long a server may send nothing, connecting included. Tests shorten it by the environment;
// nothing lengthens it.
long StallSeconds() {
    const char* text = std::getenv("MORDALE_DOWNLOAD_STALL_SECONDS");
    long seconds = 0;
    if (text) std::from_chars(text, text + std::strlen(text), seconds);
    return seconds >= 1 && seconds < StallBoundSeconds ? seconds : StallBoundSeconds;
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    return ::strncasecmp(text.c_str(), prefix, std::strlen(prefix)) == 0;
}

// The address's extension when it is short and plain, so the file name stays safe.
std::string SafeExtension(const std::string& url) {
    std::string path = url.substr(0, url.find_first_of("?#"));
    const size_t schemeEnd = path.find("://");
    if (schemeEnd != std::string::npos) path.erase(0, schemeEnd + 3);
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    if (slash == std::string::npos || dot == std::string::npos || dot < slash) return {};
    const std::string extension = path.substr(dot + 1);
    if (extension.empty() || extension.size() > 8) return {};
    for (const char c : extension)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return {};
    return "." + extension;
}

using TClock = std::chrono::steady_clock;

struct TDownload {
    int fd = -1;
    int64_t received = 0;
    int writeError = 0;  // errno of a failed write; -1 when the body exceeded the limit
    TClock::time_point lastData;
    long stallSeconds = StallBoundSeconds;
    bool stalled = false;
};

size_t WriteBlock(char* data, size_t size, size_t count, void* user) {
    auto* download = static_cast<TDownload*>(user);
    const size_t bytes = size * count;
    download->lastData = TClock::now();
    download->received += int64_t(bytes);
    if (download->received > MaxDownloadBytes) {
        download->writeError = -1;
        return 0;
    }
    for (size_t done = 0; done < bytes;) {
        const ssize_t n = ::write(download->fd, data + done, bytes - done);
        if (n <= 0) {
            download->writeError = n < 0 ? errno : ENOSPC;
            return 0;
        }
        done += size_t(n);
    }
    return bytes;
}

// Header lines are data too: a server sending them slowly has not stalled.
size_t HeaderReceived(char*, size_t size, size_t count, void* user) {
    static_cast<TDownload*>(user)->lastData = TClock::now();
    return size * count;
}

// Called about once a second, also while connecting and while nothing arrives.
int Waiting(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* download = static_cast<TDownload*>(user);
    download->stalled = TClock::now() - download->lastData >= std::chrono::seconds(download->stallSeconds);
    return download->stalled ? 1 : 0;
}

// Creates the first free "Download<n><extension>" of the folder.
int CreateDownloadFile(const std::string& folder, const std::string& extension, std::string& fileName) {
    for (int n = 1; n < 100000; ++n) {
        fileName = folder + "/Download" + std::to_string(n) + extension;
        const int fd = ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) return fd;
        if (errno != EEXIST) break;
    }
    return -1;
}

// Why a transfer that reached no server, or lost it, failed, in the words a user knows.
std::string TransferFailure(const TCurlLibrary& library, CURL* curl, CURLcode result, const TDownload& download,
                            const char* details) {
    if (download.stalled || result == CURLE_OPERATION_TIMEDOUT)
        return "no data for " + std::to_string(download.stallSeconds) + " s";
    if (result == CURLE_COULDNT_RESOLVE_HOST) return "Could not resolve host name";
    if (result == CURLE_COULDNT_RESOLVE_PROXY) return "Could not resolve proxy name";
    long systemError = 0;
    if (result == CURLE_COULDNT_CONNECT && library.EasyGetinfo(curl, CURLINFO_OS_ERRNO, &systemError) == CURLE_OK &&
        systemError != 0)
        return std::strerror(int(systemError));
    if (*details) return details;
    return "transfer error " + std::to_string(int(result));
}

}  // namespace

bool IsInternetAddress(const std::string& name) {
    return StartsWithNoCase(name, "http://") || StartsWithNoCase(name, "https://");
}

std::string TEnginePictureFiles::Download(const std::string& url, const std::string& folder) {
    if (!IsInternetAddress(url)) throw EPdfError(SFileNotFound, url);
    const TCurlLibrary* library = CurlLibrary();
    CURL* curl = library ? library->EasyInit() : nullptr;
    if (!curl) throw EPdfError(SInvalidSystemCall, "InternetOpen");

    std::string fileName;
    TDownload download;
    download.fd = CreateDownloadFile(folder, SafeExtension(url), fileName);
    if (download.fd < 0) {
        const int error = errno;
        library->EasyCleanup(curl);
        throw EPdfError(SCantOpenFile, folder + "/Download (" + std::strerror(error) + ")");
    }
    download.stallSeconds = StallSeconds();
    char details[CURL_ERROR_SIZE] = "";
    library->EasySetopt(curl, CURLOPT_URL, url.c_str());
    library->EasySetopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    library->EasySetopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    library->EasySetopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    library->EasySetopt(curl, CURLOPT_MAXREDIRS, 5L);
    // A slow download that keeps receiving is never cut: only silence is.
    library->EasySetopt(curl, CURLOPT_CONNECTTIMEOUT, download.stallSeconds);
    library->EasySetopt(curl, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(MaxDownloadBytes));
    library->EasySetopt(curl, CURLOPT_FAILONERROR, 1L);
    library->EasySetopt(curl, CURLOPT_NOSIGNAL, 1L);
    library->EasySetopt(curl, CURLOPT_ERRORBUFFER, details);
    library->EasySetopt(curl, CURLOPT_WRITEFUNCTION, WriteBlock);
    library->EasySetopt(curl, CURLOPT_WRITEDATA, &download);
    library->EasySetopt(curl, CURLOPT_HEADERFUNCTION, HeaderReceived);
    library->EasySetopt(curl, CURLOPT_HEADERDATA, &download);
    library->EasySetopt(curl, CURLOPT_XFERINFOFUNCTION, Waiting);
    library->EasySetopt(curl, CURLOPT_XFERINFODATA, &download);
    library->EasySetopt(curl, CURLOPT_NOPROGRESS, 0L);
    download.lastData = TClock::now();
    const CURLcode result = library->EasyPerform(curl);
    long status = 0;
    library->EasyGetinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    const std::string failure =
        result == CURLE_OK ? std::string() : TransferFailure(*library, curl, result, download, details);
    library->EasyCleanup(curl);
    const int closeError = ::close(download.fd) == 0 ? 0 : errno;
    if (result == CURLE_OK && closeError == 0 && download.received > 0) return fileName;

    ::unlink(fileName.c_str());
    if (download.writeError > 0 || closeError)
        throw EPdfError(SWriteError, std::strerror(download.writeError > 0 ? download.writeError : closeError));
    if (download.writeError < 0 || result == CURLE_FILESIZE_EXCEEDED)
        throw EPdfError(SFileNotFound, url + " (larger than " + std::to_string(MaxDownloadBytes >> 20) + " MB)");
    if (result == CURLE_HTTP_RETURNED_ERROR)
        throw EPdfError(SFileNotFound, url + " (HTTP " + std::to_string(status) + ")");
    if (result == CURLE_OK) throw EPdfError(SFileNotFound, url + " (nothing received)");
    throw EPdfError(SInvalidSystemCall, "InternetOpenURL (" + failure + ")");
}

TPictureFileContent TEnginePictureFiles::Read(const std::string& fileName, bool passJpeg) {
    TGraphicClassRef graphicClass;
    {
        TFileStream stream(fileName, fmOpenRead);
        graphicClass = GraphicClassOfFile(stream, fileName);
    }
    if (!graphicClass) throw EInvalidGraphic("Unknown picture format: " + fileName);
    TPictureFileContent content;
    if (passJpeg && graphicClass == JPEGImageClass()) {
        content.Jpeg = ReadJpegFile(fileName);
        return content;
    }
    content.Graphic = graphicClass->Create();
    content.Graphic->LoadFromFile(fileName);
    return content;
}

void InstallPictureFiles() {
    if (!dynamic_cast<TEnginePictureFiles*>(PictureFileReader())) SetPictureFileReader(std::make_unique<TEnginePictureFiles>());
}
