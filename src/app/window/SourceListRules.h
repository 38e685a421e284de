#pragma once
// The source list's rules that need no window: which frames a multi-frame answer adds, the frame
// typed into the frame selector, and the orders of the sort menu.
#include <cstdint>
#include <string>
#include <vector>

// The frames of a file to list after the multi-frame question: extractCount -1 takes every
// extractStep-th frame, 0 none, n the first n. The step is at least 1 and no frame lies beyond
// the file's frames.
std::vector<int> FramesToAdd(int extractCount, int extractStep, int frameCount);

// The 0-based frame index for a typed 1-based frame number, within the file's frames; text that
// is no number gives the first frame.
int FrameIndexFromText(const std::string& text, int frameCount);

enum class TSortKey { FileName, FileDate, FileSize };

struct TSortEntry {
    std::string fileName;
    int frameIndex = 0;
    int64_t fileAge = 0;  // modification time
    int64_t fileSize = 0;
    int position = 0;  // the caller's, carried along
};

// The list in the chosen order; entries that compare equal keep their frames ascending, also in
// the descending orders.
void SortSources(std::vector<TSortEntry>& entries, TSortKey key, bool descending);
