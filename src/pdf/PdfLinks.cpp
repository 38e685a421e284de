#include "PdfLinks.h"

#include <strings.h>
#include <sys/stat.h>

#include "PdfErrors.h"

namespace {

bool IsFile(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string InFolder(const std::string& name, const std::string& folder) {
    if (name.find('/') != std::string::npos || folder.empty()) return name;
    return folder + "/" + name;
}

bool HasPdfExtension(const std::string& name) {
    return name.size() >= 4 && ::strcasecmp(name.c_str() + name.size() - 4, ".pdf") == 0;
}

}  // namespace

std::vector<std::string> LinkActionLines(const std::string& target, const std::string& documentFolder,
                                         int objectNumber, const TPdfStringEncoder& encode,
                                         const std::function<std::string(const std::string&)>& spelling,
                                         std::string& goTo) {
    goTo.clear();
    for (const char* name : {"NextPage", "PrevPage", "FirstPage", "LastPage"})
        if (::strcasecmp(target.c_str(), name) == 0) return {"/S/Named", std::string("/N/") + name};
    if (const size_t colon = target.find(':'); colon != std::string::npos) {
        const std::string scheme = target.substr(0, colon);
        for (const char* uri : {"HTTP", "HTTPS", "FTP", "MAILTO"})
            if (::strcasecmp(scheme.c_str(), uri) == 0) return {"/S/URI", "/URI" + encode(target, objectNumber)};
    }
    if (const size_t bar = target.find('|'); bar != std::string::npos) {
        const std::string file = target.substr(0, bar);
        if (!HasPdfExtension(file) || !IsFile(InFolder(file, documentFolder))) throw EPdfError(SInvalidLink, target);
        return {"/S/GoToR", "/F" + encode(file, objectNumber), "/D" + encode(target.substr(bar + 1), objectNumber),
                "/NewWindow true"};
    }
    if (IsFile(InFolder(target, documentFolder))) {
        std::string path = target;
        for (char& c : path)
            if (c == '\\') c = '/';
        return {"/S/Launch/F" + encode(path, objectNumber)};
    }
    goTo = spelling(target);
    return {"/S/GoTo", "/D" + encode(goTo, objectNumber)};
}
