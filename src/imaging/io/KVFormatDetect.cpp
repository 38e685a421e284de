#include "imaging/io/KVFormatDetect.h"

#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KVFileFormats.h"
#include "imaging/io/KVFormatDrivers.h"
#include "platform/Classes.h"

namespace {

// The content's type, whether or not this build can load it: the first content test that accepts
// it, else the first format added to the registry whose test does.
int DetectContent(TStream& stream) {
    for (const TKVContentTest& test : ContentTests())
        if (test.Test(stream)) return test.FileType;
    const int64_t start = stream.Position();
    for (const TKVFileFormatEntry* entry : GetFileFormats()) {
        if (entry->BuiltIn || !entry->TestHook) continue;
        stream.SetPosition(start);
        const bool found = entry->TestHook(stream);
        stream.SetPosition(start);
        if (found) return entry->FileType;
    }
    return kvftNone;
}

std::string ExtensionOf(const std::string& fileName) {
    const size_t dot = fileName.find_last_of("./");
    return dot == std::string::npos || fileName[dot] != '.' ? std::string() : fileName.substr(dot);
}

int Loadable(int type) { return CanLoadFormat(type) ? type : kvftNone; }

}  // namespace

int DetectStreamFormat(TStream& stream) {
    const int64_t start = stream.Position();
    int type = kvftNone;
    try {
        type = Loadable(DetectContent(stream));
    } catch (const Exception&) {
    }
    stream.SetPosition(start);
    return type;
}

int DetectFileFormat(const std::string& fileName, bool checkExtension) {
    if (fileName.empty()) return kvftNone;
    int type = kvftNone;
    try {
        TFileStream stream(fileName, fmOpenRead);
        type = DetectContent(stream);
    } catch (const Exception&) {
        return kvftNone;
    }
    const TKVFileFormatEntry* entry = GetFileFormatByExt(ExtensionOf(fileName));
    if (entry && entry->FileType == kvftRAW && type == kvftTIFF) type = kvftRAW;
    if (checkExtension && type != kvftNone) {
        if (!entry) return kvftNone;
        // An icon named as a cursor is a cursor, and the other way round.
        const bool iconFamily = type == kvftICO || type == kvftCUR;
        if (iconFamily && (entry->FileType == kvftICO || entry->FileType == kvftCUR)) type = entry->FileType;
        else if (type != entry->FileType) return kvftNone;
    }
    return Loadable(type);
}
