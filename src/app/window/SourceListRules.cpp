#include "app/window/SourceListRules.h"

#include <algorithm>

#include "tzlib/TextFormats.h"

std::vector<int> FramesToAdd(int extractCount, int extractStep, int frameCount) {
    std::vector<int> frames;
    if (extractCount == 0 || frameCount < 1) return frames;
    if (extractCount < 0) {
        const int step = std::max(extractStep, 1);
        for (int frame = 0; frame < frameCount; frame += step) frames.push_back(frame);
        return frames;
    }
    for (int frame = 0; frame < std::min(extractCount, frameCount); ++frame) frames.push_back(frame);
    return frames;
}

int FrameIndexFromText(const std::string& text, int frameCount) {
    return std::clamp(ParseInteger(text, false) - 1, 0, std::max(frameCount - 1, 0));
}

namespace {

std::string Upper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

int Primary(const TSortEntry& a, const TSortEntry& b, TSortKey key) {
    switch (key) {
        case TSortKey::FileName: {
            const int c = Upper(a.fileName).compare(Upper(b.fileName));
            return (c > 0) - (c < 0);
        }
        case TSortKey::FileDate: return (a.fileAge > b.fileAge) - (a.fileAge < b.fileAge);
        case TSortKey::FileSize: return (a.fileSize > b.fileSize) - (a.fileSize < b.fileSize);
    }
    return 0;
}

}  // namespace

void SortSources(std::vector<TSortEntry>& entries, TSortKey key, bool descending) {
    std::stable_sort(entries.begin(), entries.end(), [&](const TSortEntry& a, const TSortEntry& b) {
        const int primary = descending ? -Primary(a, b, key) : Primary(a, b, key);
        return primary != 0 ? primary < 0 : a.frameIndex < b.frameIndex;
    });
}
