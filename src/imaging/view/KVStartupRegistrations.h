#pragma once
// What the view layer registers while the program runs: the clipboard formats of the text-memo
// and vector objects, and the preset images held for views.
#include <QString>
#include <cstdint>
#include <vector>

struct TKVPresetImage {
    int64_t size = 0;           // bytes of data
    std::vector<uint8_t> data;  // a complete PNG file
    int fileType = 8;           // PNG
    int left = 0, top = 0, right = 0, bottom = 0;
};

// Start and end of the program; nested calls count, only the outermost pair does the work.
void InitializeViewRegistrations();
void FinalizeViewRegistrations();
// Both for one scope, the program's run.
struct TViewRegistrations {
    TViewRegistrations() { InitializeViewRegistrations(); }
    ~TViewRegistrations() { FinalizeViewRegistrations(); }
    TViewRegistrations(const TViewRegistrations&) = delete;
    TViewRegistrations& operator=(const TViewRegistrations&) = delete;
};

// A clipboard format's number for its name: the same name always gives the same number.
unsigned RegisterClipboardFormat(const QString& name);
// The MIME type under which a registered format travels on the clipboard.
QString ClipboardMimeType(unsigned format);

// Valid between InitializeViewRegistrations and FinalizeViewRegistrations; 0 or empty otherwise.
unsigned TextMemoClipboardFormat();
unsigned VectClipboardFormat();
const std::vector<TKVPresetImage>& PresetImages();
