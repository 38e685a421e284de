#include "imaging/view/KVPreviewInfo.h"

#include <cctype>

#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KVFileFormats.h"

namespace {

std::string Lowered(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// "jpg" for "/a/b.JPG"; empty without one.
std::string LowerExtension(const std::string& fileName) {
    const std::string name = fileName.substr(fileName.rfind('/') + 1);
    const size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : Lowered(name.substr(dot + 1));
}

std::string Word(int id, TMsgLanguage language) { return KVGetMessageText(id, language); }

// "|Description (EXT1;EXT2)|*.ext1;*.ext2" for every format that can be read, or written.
std::string FormatEntries(bool writable, std::string* common) {
    std::string entries;
    for (const TKVFileFormatEntry* format : GetFileFormats()) {
        const bool taken = writable ? format->WriteHook != nullptr : format->ReadHook != nullptr;
        if (!taken || format->Extensions.empty()) continue;
        std::string patterns, upper;
        size_t start = 0;
        while (start <= format->Extensions.size()) {
            const size_t end = std::min(format->Extensions.find(';', start), format->Extensions.size());
            const std::string extension = format->Extensions.substr(start, end - start);
            if (!extension.empty()) {
                if (!patterns.empty()) patterns += ';', upper += ';';
                patterns += "*." + Lowered(extension);
                upper += extension;
            }
            start = end + 1;
        }
        entries += "|" + format->Description + " (" + upper + ")|" + patterns;
        if (!common) continue;
        if (!common->empty()) *common += ';';
        *common += patterns.substr(0, patterns.find(';'));
    }
    return entries;
}

}  // namespace

std::string KVOpenFilter(TMsgLanguage language) {
    std::string common;
    std::string entries = FormatEntries(false, &common);
    common += ";*.avi;*.mpg;*.wmv";
    entries += "|" + Word(125, language) + " (AVI)|*.avi|Mpeg (MPEG)|*.mpeg;*.mpg|Windows Media Video (WMV)|*.wmv";
    return Word(131, language) + "|" + common + "|" + Word(132, language) + "|*.*" + entries;
}

std::string KVSaveFilter(TMsgLanguage language) {
    const std::string entries = FormatEntries(true, nullptr) + "|" + Word(125, language) + " (AVI)|*.avi";
    return entries.substr(1);
}

std::string KVFilterPatterns(const std::string& filter, int index) {
    if (index < 1) return {};
    size_t start = 0;
    // Entry i's patterns follow the (2i - 1)th "|".
    for (int bars = 0; bars < 2 * index - 1; ++bars) {
        start = filter.find('|', start);
        if (start == std::string::npos) return {};
        ++start;
    }
    return filter.substr(start, filter.find('|', start) - start);
}

std::string KVFirstExtension(const std::string& patterns) {
    const std::string first = patterns.substr(0, patterns.find(';'));
    const size_t dot = first.find('.');
    return dot == std::string::npos || first.find('*', dot) != std::string::npos ? std::string() : first.substr(dot);
}

bool KVIsVideoFile(const std::string& fileName) {
    const TKVFileFormatEntry* entry = GetFileFormatByExt(LowerExtension(fileName));
    return !entry || entry->FileType == kvftNone || entry->FileType == kvftAVI;
}

std::string KVVideoDescription(const std::string& fileName, TMsgLanguage language) {
    const std::string extension = LowerExtension(fileName);
    if (extension.empty() || !KVIsVideoFile(fileName)) return {};
    const std::string filter = KVOpenFilter(language);
    const std::string pattern = ";*." + extension + ";";
    // The entries after the common one and "All Files".
    for (int index = 3; !KVFilterPatterns(filter, index).empty(); ++index) {
        if ((";" + KVFilterPatterns(filter, index) + ";").find(pattern) == std::string::npos) continue;
        size_t start = 0;
        for (int bars = 0; bars < 2 * (index - 1); ++bars) start = filter.find('|', start) + 1;
        return filter.substr(start, filter.find('|', start) - start);
    }
    return {};
}

std::string KVByteSizeText(int64_t bytes) {
    return bytes >= 1024 ? std::to_string(bytes / 1024) + " KB" : std::to_string(bytes) + " byte";
}

TKVPreviewInfo KVPreviewInfoTexts(const TIOParamsVals& params, int64_t fileSize, int frameCount,
                                  TMsgLanguage language) {
    // A JPEG preview may have been decoded reduced: the file's own size counts.
    const bool jpeg = params.FileType == kvftJPEG && params.JpegFrameWidth > 0;
    const int64_t width = jpeg ? params.JpegFrameWidth : params.Width;
    const int64_t height = jpeg ? params.JpegFrameHeight : params.Height;
    TKVPreviewInfo info;
    info.pic1 = std::to_string(width) + " x " + std::to_string(height) + " pixel";
    if (frameCount > 1) info.pic1 += " , " + std::to_string(frameCount) + " frames";
    const int bits = params.SamplesPerPixel * params.BitsPerSample;
    std::string colours;
    if (params.SamplesPerPixel == 4 && params.BitsPerSample == 8)
        colours = "16777216";
    else if (params.SamplesPerPixel == 3 && params.BitsPerSample == 16)
        colours = "2^48";
    else if (bits < 63)
        colours = std::to_string(int64_t(1) << bits);
    else
        colours = "2^" + std::to_string(bits);
    info.pic2 = colours + " " + Word(58, language) + " (" + std::to_string(bits) + " bit)";
    info.pic3 = std::to_string(params.DpiX()) + " x " + std::to_string(params.DpiY()) + " dpi";
    const int memoryBits = params.SamplesPerPixel == 1 && params.BitsPerSample == 1 ? 1 : 24;
    const int64_t memory = height * (((width * memoryBits + 31) / 32) * 4);
    info.info2 = Word(126, language) + ": " + KVByteSizeText(fileSize) + "   " + Word(127, language) + ": " +
                 KVByteSizeText(memory);
    info.info1 = IOParamsDescription(params);
    return info;
}
