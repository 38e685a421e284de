#pragma once
// Link actions chosen from a target text, and pictures downloaded from internet addresses.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "PdfOutline.h"

// The lines of the action dictionary for a target: a named page action, a web or mail address,
// "file.pdf|destination" in another document, a file to launch, or a named destination of this
// document, whose name goTo then receives as spelled by spelling (it stays empty otherwise). Files
// without a folder are looked for in documentFolder. Strings are encoded for the given object.
std::vector<std::string> LinkActionLines(const std::string& target, const std::string& documentFolder,
                                         int objectNumber, const TPdfStringEncoder& encode,
                                         const std::function<std::string(const std::string&)>& spelling,
                                         std::string& goTo);

// Limits of one download.
inline constexpr int64_t MaxDownloadBytes = int64_t(256) << 20;
inline constexpr long DownloadTimeoutSeconds = 120;

// Downloads an http or https address into a new file "Download<n><.ext>" of the folder and
// returns its name. Addresses of other kinds, nothing received or a refused request raise
// EPdfError "File not found"; a failing connection "Invalid Windows function call".
std::string DownloadPicture(const std::string& url, const std::string& folder);
