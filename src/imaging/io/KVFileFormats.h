#pragma once
// The process-wide table of picture formats: type number, description, extensions, the dialog
// pages that belong to the format and the hooks through which it is read, written and recognised.
// Loader threads use it: entries never move and never change once registered, so a pointer
// returned by a lookup stays valid (an unregistered or replaced entry is retired, not freed).
#include <cstdint>
#include <string>
#include <vector>

class TStream;
class TKVBitmap;
class TIOParamsVals;
struct TKVProgressRec;

using TKVReadHook = void (*)(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, bool preview,
                             TKVProgressRec& progress);
using TKVWriteHook = void (*)(TStream& stream, TKVBitmap& bitmap, TIOParamsVals& params, TKVProgressRec& progress);
using TKVTestHook = bool (*)(TStream& stream);

// Pages of the parameters-preview dialog.
enum : uint16_t {
    ppJPEG = 4, ppTIFF = 8, ppGIF = 16, ppBMP = 32, ppPCX = 64, ppPNG = 128, ppTGA = 256, ppJ2000 = 512,
};

struct TKVFileFormatEntry {
    int FileType = 0;
    std::string Description;  // at most 80 characters
    std::string Extensions;   // upper case, without dots, separated by ";"
    // True when the input/output component handles the format itself; the hooks then only mark
    // that it can be read and written.
    bool BuiltIn = false;
    uint16_t DialogPages = 0;
    TKVReadHook ReadHook = nullptr;
    TKVWriteHook WriteHook = nullptr;
    TKVTestHook TestHook = nullptr;
};

// Appends a copy; returns its index. The built-in formats are registered on first use.
int RegisterFileFormat(const TKVFileFormatEntry& entry);
void UnregisterFileFormat(int fileType);
const TKVFileFormatEntry* GetFileFormatByType(int fileType);
// Letter case and one leading "." are ignored.
const TKVFileFormatEntry* GetFileFormatByExt(const std::string& extension);
int GetFileFormatExtCount(int fileType);
// Empty past the end or without an entry.
std::string GetFileFormatExt(int fileType, int index);
// The entries in registration order, as they are now.
std::vector<const TKVFileFormatEntry*> GetFileFormats();
// The GIF entry can be read or written only while an LZW decoder or encoder is installed.
void UpdateGIFFormatHooks();
// Frees every entry, also those retired, at the end of the library's use: no pointer from an
// earlier lookup may be used afterwards. The table then holds the built-in formats as at start.
void FreeFileFormats();

// Frames or pages of a named file by its extension: 1 for single-picture formats, 0 when the
// file cannot be read or its format is not known.
int GetFileFrameCount(const std::string& fileName);
int GetICOFileImageCount(const std::string& fileName);
int GetGIFFileFrameCount(const std::string& fileName);
int GetTIFFFilePageCount(const std::string& fileName);
int GetDCXFilePageCount(const std::string& fileName);
