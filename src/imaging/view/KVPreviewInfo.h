#pragma once
// What the picture dialogs show without a window: the open dialog's filter built from the format
// registry, and the information texts of a previewed picture.
#include <cstdint>
#include <string>

#include "imaging/core/KVMessages.h"

class TIOParamsVals;

// The common entry (the first extension of every readable format and the video types), "All
// Files", then one entry per readable format and the video entries; "|" between all parts.
std::string KVOpenFilter(TMsgLanguage language);

// One entry per writable format, without a common entry or "All Files".
std::string KVSaveFilter(TMsgLanguage language);
// The patterns of the 1-based entry of a filter; empty past its end.
std::string KVFilterPatterns(const std::string& filter, int index);
// The first pattern's extension with its dot: ".jpg" for "*.jpg;*.jpeg".
std::string KVFirstExtension(const std::string& patterns);

// A video is a file that the format registry cannot read as pictures, or an AVI file: its frames
// come through the video library.
bool KVIsVideoFile(const std::string& fileName);
// The open filter's description of a video by its extension: "Mpeg (MPEG)" for "a.mpg"; empty
// for another file.
std::string KVVideoDescription(const std::string& fileName, TMsgLanguage language);

struct TKVPreviewInfo {
    std::string info1;  // the format description
    std::string info2;  // file and memory sizes
    std::string pic1;   // size in pixels and frames
    std::string pic2;   // colours
    std::string pic3;   // resolution
};

TKVPreviewInfo KVPreviewInfoTexts(const TIOParamsVals& params, int64_t fileSize, int frameCount,
                                  TMsgLanguage language);
// Whole kilobytes from 1024 bytes on, else bytes.
std::string KVByteSizeText(int64_t bytes);
