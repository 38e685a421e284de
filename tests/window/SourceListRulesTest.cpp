#include "app/window/SourceListRules.h"

#include <gtest/gtest.h>

TEST(SourceListRules, MultiFrameAnswersAreClamped) {
    struct Case {
        int count, step, frames;
        std::vector<int> added;
    } cases[] = {
        {-1, 3, 10, {0, 3, 6, 9}},  // one frame out of 3
        {4, 0, 10, {0, 1, 2, 3}},   // the first 4
        {10, 0, 10, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
        {0, 0, 10, {}},              // not this file
        {25, 0, 10, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},  // never beyond the frames
        {-1, 0, 3, {0, 1, 2}},       // a step of 0 would never end
        {-1, -5, 2, {0, 1}},
        {-1, 20, 10, {0}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FramesToAdd(c.count, c.step, c.frames), c.added) << c.count << " step " << c.step;
}

TEST(SourceListRules, TypedFrameNumbersStayWithinTheFile) {
    struct Case {
        const char* text;
        int frames, index;
    } cases[] = {{"3", 10, 2}, {"1", 10, 0}, {"0", 10, 0}, {"-4", 10, 0}, {"11", 10, 9}, {"x", 10, 0}, {"", 10, 0}, {"5", 1, 0}};
    for (const Case& c : cases) EXPECT_EQ(FrameIndexFromText(c.text, c.frames), c.index) << c.text;
}

TEST(SourceListRules, SortOrdersKeepFramesAscending) {
    const std::vector<TSortEntry> list = {
        {"/p/b.tif", 1, 200, 30}, {"/p/B.tif", 0, 200, 30}, {"/p/a.jpg", 0, 300, 10}, {"/p/c.png", 0, 100, 20}};
    const auto names = [](const std::vector<TSortEntry>& entries) {
        std::vector<std::string> result;
        for (const TSortEntry& e : entries) result.push_back(e.fileName + "#" + std::to_string(e.frameIndex));
        return result;
    };
    struct Case {
        TSortKey key;
        bool descending;
        std::vector<std::string> after;
    } cases[] = {
        {TSortKey::FileName, false, {"/p/a.jpg#0", "/p/B.tif#0", "/p/b.tif#1", "/p/c.png#0"}},
        {TSortKey::FileName, true, {"/p/c.png#0", "/p/B.tif#0", "/p/b.tif#1", "/p/a.jpg#0"}},
        {TSortKey::FileDate, false, {"/p/c.png#0", "/p/B.tif#0", "/p/b.tif#1", "/p/a.jpg#0"}},
        {TSortKey::FileDate, true, {"/p/a.jpg#0", "/p/B.tif#0", "/p/b.tif#1", "/p/c.png#0"}},
        {TSortKey::FileSize, false, {"/p/a.jpg#0", "/p/c.png#0", "/p/B.tif#0", "/p/b.tif#1"}},
        {TSortKey::FileSize, true, {"/p/B.tif#0", "/p/b.tif#1", "/p/c.png#0", "/p/a.jpg#0"}},
    };
    for (const Case& c : cases) {
        std::vector<TSortEntry> entries = list;
        SortSources(entries, c.key, c.descending);
        EXPECT_EQ(names(entries), c.after) << int(c.key) << (c.descending ? " descending" : "");
    }
}
