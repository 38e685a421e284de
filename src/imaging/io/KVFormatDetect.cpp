#include "imaging/io/KVFormatDetect.h"

#include <cstring>
#include <vector>

#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KVDriverSupport.h"
#include "imaging/io/KVFileFormats.h"
#include "imaging/io/KVFormatDrivers.h"
#include "imaging/io/KVIcon.h"
#include "imaging/io/KVPcx.h"
#include "imaging/io/KVPxm.h"
#include "imaging/io/KVTiff.h"
#include "platform/ByteReader.h"
#include "platform/Classes.h"

namespace {

// The first bytes of the stream, enough for every signature test.
class TPrefix {
public:
    TPrefix(TStream& stream, int64_t streamSize) : size(streamSize) {
        const int64_t start = stream.Position();
        bytes = ReadStreamRest(stream, 4096);
        stream.SetPosition(start);
    }
    bool Starts(const char* text, int64_t at = 0) const {
        const size_t n = std::strlen(text);
        return int64_t(bytes.size()) >= at + int64_t(n) && std::memcmp(bytes.data() + at, text, n) == 0;
    }
    // The stream-header tag: the first five bytes as text up to the first zero byte.
    std::string Tag(size_t length) const {
        std::string tag;
        for (size_t i = 0; i < length && i < bytes.size() && bytes[i]; ++i) tag += char(bytes[i]);
        return tag;
    }
    TByteReader Reader() const { return TByteReader(bytes.data(), int64_t(bytes.size())); }

    int64_t size;
    std::vector<uint8_t> bytes;
};

bool IsTIFF(const TPrefix& p) {
    const TByteReader r = p.Reader();
    if (r.Size() < 9) return false;
    if (p.Starts("II")) return r.U32LEAt(4) < uint64_t(p.size);
    return p.Starts("MM") && r.U32BEAt(4) < uint64_t(p.size) && r.U8At(8) != 0xBA;
}

bool IsTGA(const TPrefix& p) {
    const TByteReader r = p.Reader();
    if (r.Size() < 18) return false;
    const int type = r.U8At(2), depth = r.U8At(16);
    return (type == 1 || type == 2 || type == 3 || type == 9 || type == 10 || type == 11) &&
           (depth == 1 || depth == 4 || depth == 8 || depth == 16 || depth == 24 || depth == 32) && r.U8At(1) < 2 &&
           r.U16LEAt(12) > 0 && r.U16LEAt(14) > 0;
}

bool HasJPEGStart(const TPrefix& p) {
    for (size_t i = 0; i < 100 && i + 3 <= p.bytes.size(); ++i)
        if (p.bytes[i] == 0xFF && p.bytes[i + 1] == 0xD8 && p.bytes[i + 2] == 0xFF) return true;
    return false;
}

// The content's type, whether or not this build can load it.
int DetectContent(TStream& stream) {
    const int64_t size = stream.Size() - stream.Position();
    const TPrefix p(stream, size);
    static const char jp2Box[] = "\x00\x00\x00\x0CjP  \x0D\x0A\x87\x0A";
    if (size > 12 && p.Tag(5) == "JFIF") return kvftJPEG;
    if (size > 13 && p.Starts("GIF")) return kvftGIF;
    if (size > 12 && p.Tag(5) == "PCX2") return kvftPCX;
    if (size > 4 && p.Tag(4) == "PCX") return kvftPCX;
    if (size > 14 && p.Starts("BM")) return kvftBMP;
    if (size > 128 && p.bytes[0] == 10 && p.bytes[1] <= 5) return kvftPCX;
    if (size > 12 && p.Tag(5) == "TIFF") return kvftTIFF;
    if (IsTIFF(p) && !TIFFIsDNGStream(stream)) return kvftTIFF;
    if (size > 8 && p.Starts("\x89PNG")) return kvftPNG;
    if (IsICOStream(stream)) return kvftICO;
    if (IsCURStream(stream)) return kvftCUR;
    if (IsTGA(p)) return kvftTGA;
    if (IsPXMStream(stream)) return kvftPXM;
    if (HasJPEGStart(p)) return kvftJPEG;
    if (p.bytes.size() >= 12 && std::memcmp(p.bytes.data(), jp2Box, 12) == 0) return kvftJP2;
    if (p.Starts("\xFF\x4F\xFF\x51")) return kvftJ2K;
    if (IsAVIStream(stream)) return kvftAVI;
    if (IsDCXStream(stream)) return kvftDCX;
    if (IsWMFStream(stream)) return kvftWMF;
    if (IsEMFStream(stream)) return kvftEMF;
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

bool IsAVIStream(TStream& stream) {
    const int64_t start = stream.Position();
    uint8_t head[12] = {};
    const bool found = stream.Read(head, 12) == 12 && std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "AVI ", 4) == 0;
    stream.SetPosition(start);
    return found;
}

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
