#include "imaging/io/KVFileFormats.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <shared_mutex>

#include "imaging/io/IOParamsVals.h"
#include "imaging/io/KVFormatDrivers.h"
#include "imaging/io/KVVideoAndScanner.h"
#include "platform/Classes.h"

namespace {

// Built-in formats are read and written by the component itself; the hooks only say whether.
void ReadHookPlaceholder(TStream&, TKVBitmap&, TIOParamsVals&, bool, TKVProgressRec&) {}
void WriteHookPlaceholder(TStream&, TKVBitmap&, TIOParamsVals&, TKVProgressRec&) {}
bool TestHookPlaceholder(TStream&) { return false; }

TKVFileFormatEntry BuiltIn(int type, const char* description, const char* extensions, uint16_t pages, bool read,
                           bool write) {
    return {type,
            description,
            extensions,
            true,
            pages,
            read ? ReadHookPlaceholder : nullptr,
            write ? WriteHookPlaceholder : nullptr,
            TestHookPlaceholder};
}

using TEntryPtr = std::unique_ptr<const TKVFileFormatEntry>;

// Live entries in registration order, and the entries taken out of it, kept so that pointers
// handed out earlier never dangle.
struct TRegistry {
    TRegistry() { RegisterBuiltIns(); }
    void RegisterBuiltIns();
    std::shared_mutex lock;
    std::vector<TEntryPtr> live;
    std::vector<TEntryPtr> retired;
};

void TRegistry::RegisterBuiltIns() {
    for (const TKVFileFormatEntry& e : {
                 BuiltIn(kvftTIFF, "TIFF Bitmap", "TIF;TIFF;FAX;G3N;G3F", ppTIFF, true, true),
                 BuiltIn(kvftGIF, "CompuServe Bitmap", "GIF", ppGIF, true, true),
                 BuiltIn(kvftJPEG, "JPEG Bitmap", "JPG;JPEG;JPE", ppJPEG, true, true),
                 BuiltIn(kvftPCX, "PaintBrush", "PCX", ppPCX, true, true),
                 BuiltIn(kvftBMP, "Windows Bitmap", "BMP;DIB;RLE", ppBMP, true, true),
                 BuiltIn(kvftICO, "Windows Icon", "ICO", 0, true, true),
                 BuiltIn(kvftCUR, "Windows Cursor", "CUR", 0, true, false),
                 BuiltIn(kvftPNG, "Portable Network Graphics", "PNG", ppPNG, true, true),
                 BuiltIn(kvftWMF, "Windows Metafile", "WMF", 0, true, false),
                 BuiltIn(kvftEMF, "Enhanced Windows Metafile", "EMF", 0, true, false),
                 BuiltIn(kvftTGA, "Targa Bitmap", "TGA;TARGA;VDA;ICB;VST;PIX", ppTGA, true, true),
                 BuiltIn(kvftPXM, "Portable Pixmap, GrayMap, BitMap", "PXM;PPM;PGM;PBM", 0, true, true),
                 BuiltIn(kvftWBMP, "Wireless Bitmap", "WBMP", 0, true, true),
                 BuiltIn(kvftJP2, "JPEG2000", "JP2", ppJ2000, true, true),
                 BuiltIn(kvftJ2K, "JPEG2000 Code Stream", "J2K;JPC;J2C", ppJ2000, true, true),
                 BuiltIn(kvftPS, "PostScript Level 2", "PS;EPS", 0, false, true),
                 BuiltIn(kvftPDF, "Adobe PDF", "PDF", 0, false, true),
                 BuiltIn(kvftDCX, "Multipage PCX", "DCX", 0, true, true),
                 BuiltIn(kvftRAW, "Camera RAW", "CRW;CR2;NEF;RAW;PEF;RAF;X3F;BAY;ORF;SRF;MRW;DCR", 0, true, false),
             })
        live.push_back(std::make_unique<const TKVFileFormatEntry>(e));
}

TRegistry& Registry() {
    static TRegistry registry;
    return registry;
}

std::vector<std::string> SplitExtensions(const std::string& extensions) {
    std::vector<std::string> result;
    size_t start = 0;
    while (start <= extensions.size()) {
        const size_t end = std::min(extensions.find(';', start), extensions.size());
        if (end > start) result.push_back(extensions.substr(start, end - start));
        start = end + 1;
    }
    return result;
}

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

std::string ExtensionOf(const std::string& fileName) {
    const size_t dot = fileName.find_last_of("./");
    return dot == std::string::npos || fileName[dot] != '.' ? std::string() : fileName.substr(dot);
}

}  // namespace

int RegisterFileFormat(const TKVFileFormatEntry& entry) {
    TRegistry& r = Registry();
    std::unique_lock guard(r.lock);
    r.live.push_back(std::make_unique<const TKVFileFormatEntry>(entry));
    return static_cast<int>(r.live.size()) - 1;
}

void UnregisterFileFormat(int fileType) {
    TRegistry& r = Registry();
    std::unique_lock guard(r.lock);
    const auto it = std::find_if(r.live.begin(), r.live.end(), [&](const TEntryPtr& e) { return e->FileType == fileType; });
    if (it == r.live.end()) return;
    r.retired.push_back(std::move(*it));
    r.live.erase(it);
}

std::vector<const TKVFileFormatEntry*> GetFileFormats() {
    TRegistry& r = Registry();
    std::shared_lock guard(r.lock);
    std::vector<const TKVFileFormatEntry*> result;
    for (const TEntryPtr& e : r.live) result.push_back(e.get());
    return result;
}

const TKVFileFormatEntry* GetFileFormatByType(int fileType) {
    for (const TKVFileFormatEntry* entry : GetFileFormats())
        if (entry->FileType == fileType) return entry;
    return nullptr;
}

const TKVFileFormatEntry* GetFileFormatByExt(const std::string& extension) {
    std::string wanted = Lower(extension);
    if (!wanted.empty() && wanted.front() == '.') wanted.erase(0, 1);
    for (const TKVFileFormatEntry* entry : GetFileFormats())
        for (const std::string& ext : SplitExtensions(entry->Extensions))
            if (Lower(ext) == wanted) return entry;
    return nullptr;
}

int GetFileFormatExtCount(int fileType) {
    const TKVFileFormatEntry* entry = GetFileFormatByType(fileType);
    return entry ? static_cast<int>(SplitExtensions(entry->Extensions).size()) : 0;
}

std::string GetFileFormatExt(int fileType, int index) {
    const TKVFileFormatEntry* entry = GetFileFormatByType(fileType);
    if (!entry || index < 0) return {};
    const std::vector<std::string> extensions = SplitExtensions(entry->Extensions);
    return size_t(index) < extensions.size() ? extensions[size_t(index)] : std::string();
}

void FreeFileFormats() {
    TRegistry& r = Registry();
    std::unique_lock guard(r.lock);
    r.live.clear();
    r.retired.clear();
    r.RegisterBuiltIns();
}

void UpdateGIFFormatHooks() {
    TRegistry& r = Registry();
    std::unique_lock guard(r.lock);
    for (TEntryPtr& e : r.live) {
        if (e->FileType != kvftGIF) continue;
        // Published entries never change: the updated copy takes the old one's place.
        auto updated = std::make_unique<TKVFileFormatEntry>(*e);
        updated->ReadHook = DefGIFLZWDecompressor ? ReadHookPlaceholder : nullptr;
        updated->WriteHook = DefGIFLZWCompressor ? WriteHookPlaceholder : nullptr;
        r.retired.push_back(std::move(e));
        e = std::move(updated);
        return;
    }
}

namespace {

// The pages the type's driver counts in the file, 0 when it cannot be read.
int FilePageCount(const std::string& fileName, int fileType) {
    const TKVFormatDriver* driver = FindFormatDriver(fileType);
    if (!driver || !driver->PageCount) return 0;
    try {
        TFileStream stream(fileName, fmOpenRead);
        return driver->PageCount(stream);
    } catch (const Exception&) {
        return 0;
    }
}

}  // namespace

int GetICOFileImageCount(const std::string& fileName) { return FilePageCount(fileName, kvftICO); }
int GetGIFFileFrameCount(const std::string& fileName) { return FilePageCount(fileName, kvftGIF); }
int GetTIFFFilePageCount(const std::string& fileName) { return FilePageCount(fileName, kvftTIFF); }
int GetDCXFilePageCount(const std::string& fileName) { return FilePageCount(fileName, kvftDCX); }

int GetFileFrameCount(const std::string& fileName) {
    const TKVFileFormatEntry* entry = GetFileFormatByExt(ExtensionOf(fileName));
    if (!entry || entry->FileType == kvftNone || entry->FileType == kvftAVI) return KVMediaFrameCount(fileName);
    const TKVFormatDriver* driver = FindFormatDriver(entry->FileType);
    return driver && driver->PageCount ? FilePageCount(fileName, entry->FileType) : 1;
}
