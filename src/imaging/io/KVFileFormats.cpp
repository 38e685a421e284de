#include "imaging/io/KVFileFormats.h"

#include <algorithm>
#include <vector>

#include "imaging/io/IOParamsVals.h"

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

std::vector<TKVFileFormatEntry>& Formats() {
    static std::vector<TKVFileFormatEntry> formats = {
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
    };
    return formats;
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

}  // namespace

int RegisterFileFormat(const TKVFileFormatEntry& entry) {
    Formats().push_back(entry);
    return static_cast<int>(Formats().size()) - 1;
}

void UnregisterFileFormat(int fileType) {
    auto& formats = Formats();
    const auto it = std::find_if(formats.begin(), formats.end(),
                                 [&](const TKVFileFormatEntry& e) { return e.FileType == fileType; });
    if (it != formats.end()) formats.erase(it);
}

const TKVFileFormatEntry* GetFileFormatByType(int fileType) {
    for (const TKVFileFormatEntry& entry : Formats())
        if (entry.FileType == fileType) return &entry;
    return nullptr;
}

const TKVFileFormatEntry* GetFileFormatByExt(const std::string& extension) {
    std::string wanted = Lower(extension);
    if (!wanted.empty() && wanted.front() == '.') wanted.erase(0, 1);
    for (const TKVFileFormatEntry& entry : Formats())
        for (const std::string& ext : SplitExtensions(entry.Extensions))
            if (Lower(ext) == wanted) return &entry;
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
