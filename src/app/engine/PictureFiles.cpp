#include "app/engine/PictureFiles.h"

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "pdf/PdfErrors.h"
#include "platform/CurlLibrary.h"
#include "tzpicformats/FileFormatList.h"

namespace {

// Limits of one download.
constexpr int64_t MaxDownloadBytes = int64_t(256) << 20;
constexpr long DownloadTimeoutSeconds = 120;

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

struct TDownload {
    int fd = -1;
    int64_t received = 0;
    bool failed = false;
};

size_t WriteBlock(char* data, size_t size, size_t count, void* user) {
    auto* download = static_cast<TDownload*>(user);
    const size_t bytes = size * count;
    download->received += int64_t(bytes);
    if (download->received > MaxDownloadBytes) return 0;
    for (size_t done = 0; done < bytes;) {
        const ssize_t n = ::write(download->fd, data + done, bytes - done);
        if (n <= 0) {
            download->failed = true;
            return 0;
        }
        done += size_t(n);
    }
    return bytes;
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

}  // namespace

std::string TEnginePictureFiles::Download(const std::string& url, const std::string& folder) {
    if (!StartsWithNoCase(url, "http://") && !StartsWithNoCase(url, "https://")) throw EPdfError(SFileNotFound, url);
    const TCurlLibrary* library = CurlLibrary();
    CURL* curl = library ? library->EasyInit() : nullptr;
    if (!curl) throw EPdfError(SInvalidSystemCall, "InternetOpen");

    std::string fileName;
    TDownload download;
    download.fd = CreateDownloadFile(folder, SafeExtension(url), fileName);
    if (download.fd < 0) {
        library->EasyCleanup(curl);
        throw EPdfError(SCantOpenFile, folder + "/Download");
    }
    library->EasySetopt(curl, CURLOPT_URL, url.c_str());
    library->EasySetopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    library->EasySetopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    library->EasySetopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    library->EasySetopt(curl, CURLOPT_MAXREDIRS, 5L);
    library->EasySetopt(curl, CURLOPT_CONNECTTIMEOUT, 30L);
    library->EasySetopt(curl, CURLOPT_TIMEOUT, DownloadTimeoutSeconds);
    library->EasySetopt(curl, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(MaxDownloadBytes));
    library->EasySetopt(curl, CURLOPT_FAILONERROR, 1L);
    library->EasySetopt(curl, CURLOPT_NOSIGNAL, 1L);
    library->EasySetopt(curl, CURLOPT_WRITEFUNCTION, WriteBlock);
    library->EasySetopt(curl, CURLOPT_WRITEDATA, &download);
    const CURLcode result = library->EasyPerform(curl);
    library->EasyCleanup(curl);
    const bool closed = ::close(download.fd) == 0;
    if (result == CURLE_OK && closed && !download.failed && download.received > 0) return fileName;

    ::unlink(fileName.c_str());
    const bool connectionFailed = result == CURLE_COULDNT_RESOLVE_HOST || result == CURLE_COULDNT_CONNECT ||
                                  result == CURLE_COULDNT_RESOLVE_PROXY || result == CURLE_OPERATION_TIMEDOUT;
    if (connectionFailed) throw EPdfError(SInvalidSystemCall, "InternetOpenURL");
    if (download.failed || !closed) throw EPdfError(SWriteError);
    throw EPdfError(SFileNotFound, url);
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
