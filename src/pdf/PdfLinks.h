#pragma once
// Link actions chosen from a target text.
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
