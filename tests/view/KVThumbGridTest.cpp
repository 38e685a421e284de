#include "imaging/view/KVThumbGrid.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

TEST(KVThumbGridTest, ColumnsFollowGridWidthOrTheClientWidth) {
    struct Case {
        int gridWidth, clientWidth, horizBorder, thumbWidth, expected;
    } cases[] = {
        {0, 500, 4, 100, 0},   // one row
        {3, 50, 4, 100, 3},    // fixed, whatever the width
        {-1, 500, 4, 100, 4},  // (500 - 4) div 104
        {-1, 416, 4, 100, 3},  // (416 - 4) div 104 = 3.96: the border before the first cell counts
        {-1, 50, 4, 100, 0},   // narrower than one cell: one row
        {-1, 3, 4, 100, 0},    // narrower than the border
        {-1, 500, 0, 0, 0},    // cell and border 0 divide nothing
    };
    for (const Case& c : cases) {
        TKVThumbMetrics m;
        m.gridWidth = c.gridWidth;
        m.horizBorder = c.horizBorder;
        m.thumbWidth = c.thumbWidth;
        EXPECT_EQ(KVThumbColumns(m, c.clientWidth), c.expected) << c.gridWidth << " " << c.clientWidth;
    }
}

TEST(KVThumbGridTest, CellsAreLaidOutInRowsOrAllAtTheOrigin) {
    struct Case {
        const char* name;
        int columns;
        bool single;
        std::vector<TKVCellPlace> cells;
        int width, height;
    } cases[] = {
        {"one row", 0, false, {{4, 4, 0, 0}, {108, 4, 0, 1}, {212, 4, 0, 2}}, 316, 108},
        {"two columns", 2, false, {{4, 4, 0, 0}, {108, 4, 0, 1}, {4, 108, 1, 0}}, 212, 212},
        {"single", 2, true, {{0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}}, 104, 104},
    };
    for (const Case& c : cases) {
        TKVThumbMetrics m;
        m.single = c.single;
        const TKVGridLayout layout = KVComputeThumbLayout(m, c.columns, 3);
        ASSERT_EQ(layout.cells.size(), 3u) << c.name;
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(layout.cells[i].x, c.cells[i].x) << c.name << " " << i;
            EXPECT_EQ(layout.cells[i].y, c.cells[i].y) << c.name << " " << i;
            EXPECT_EQ(layout.cells[i].row, c.cells[i].row) << c.name << " " << i;
            EXPECT_EQ(layout.cells[i].col, c.cells[i].col) << c.name << " " << i;
        }
        EXPECT_EQ(layout.width, c.width) << c.name;
        EXPECT_EQ(layout.height, c.height) << c.name;
    }
}

TEST(KVThumbGridTest, HitTestingFindsTheCellUnderAPointOrNothing) {
    TKVThumbMetrics m;
    const TKVGridLayout grid = KVComputeThumbLayout(m, 2, 3);
    TKVThumbMetrics single = m;
    single.single = true;
    const TKVGridLayout stacked = KVComputeThumbLayout(single, 0, 3);
    TKVThumbMetrics empty = m;
    empty.thumbWidth = empty.thumbHeight = empty.horizBorder = empty.vertBorder = 0;
    struct Case {
        const char* name;
        const TKVThumbMetrics& metrics;
        const TKVGridLayout& layout;
        int columns, viewX, viewY, x, y, expected;
    } cases[] = {
        {"first cell", m, grid, 2, 0, 0, 5, 5, 0},
        {"border before it", m, grid, 2, 0, 0, 3, 3, -1},
        {"second column", m, grid, 2, 0, 0, 110, 10, 1},
        {"second row", m, grid, 2, 0, 0, 10, 110, 2},
        {"past the last entry", m, grid, 2, 0, 0, 110, 110, -1},
        {"left of the client", m, grid, 2, 0, 0, -5, 10, -1},
        {"above the client", m, grid, 2, 0, 0, 10, -200, -1},
        {"scrolled down a row", m, grid, 2, 0, 104, 10, 6, 2},
        {"single mode, column 0", single, stacked, 0, 0, 0, 50, 50, 0},
        {"single mode, column 1 lies outside entry 1", single, stacked, 0, 0, 0, 150, 50, -1},
        // A cell at (0, 0) of 100 x 100 in a column of 104: x 99 is its last pixel, 100 the border.
        {"single mode, the cell's last column", single, stacked, 0, 0, 0, 99, 50, 0},
        {"single mode, one pixel past the cell's right edge", single, stacked, 0, 0, 0, 100, 50, -1},
        {"single mode, one pixel below the cell", single, stacked, 0, 0, 0, 50, 100, -1},
        {"cells and borders of size 0", empty, grid, 2, 0, 0, 5, 5, -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(KVThumbAtPos(c.metrics, c.layout, c.columns, c.viewX, c.viewY, c.x, c.y), c.expected) << c.name;
}

TEST(KVThumbGridTest, KeysMoveTheSelectionWithinTheList) {
    struct Case {
        const char* name;
        TKVThumbMove move;
        int s, count, columns, gridWidth, perPage, expected;
    } cases[] = {
        {"previous", kvmPrevious, 5, 10, 3, 3, 6, 4},
        {"previous without a selection", kvmPrevious, -1, 10, 3, 3, 6, -1},
        {"next", kvmNext, 5, 10, 3, 3, 6, 6},
        {"row up", kvmRowUp, 5, 10, 3, 3, 6, 2},
        {"row up stops at 0", kvmRowUp, 1, 10, 3, 3, 6, 0},
        {"row up in one row", kvmRowUp, 5, 10, 0, 0, 6, 4},
        {"row down", kvmRowDown, 5, 10, 3, 3, 6, 8},
        {"row down stops at the last", kvmRowDown, 8, 10, 3, 3, 6, 9},
        {"row down in one row", kvmRowDown, 5, 10, 0, 0, 6, 6},
        {"first", kvmFirst, 5, 10, 3, 3, 6, 0},
        {"last", kvmLast, 5, 10, 3, 3, 6, 9},
        {"page down", kvmPageDown, 1, 10, 3, 3, 6, 7},
        {"page down stops at the last", kvmPageDown, 5, 10, 3, 3, 6, 9},
        {"page up", kvmPageUp, 7, 10, 3, 3, 6, 1},
        {"page up stops at 0", kvmPageUp, 4, 10, 3, 3, 6, 0},
        {"no entries", kvmFirst, -1, 0, 3, 3, 6, -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(KVThumbMoveTarget(c.move, c.s, c.count, c.columns, c.gridWidth, c.perPage), c.expected) << c.name;
    TKVThumbMetrics m;
    EXPECT_EQ(KVThumbsPerPage(m, 3, 320), 9);  // three whole rows of 104 after the border
    m.thumbHeight = m.vertBorder = 0;
    EXPECT_EQ(KVThumbsPerPage(m, 3, 320), 0);
}

TEST(KVThumbGridTest, ShiftRangesAreLinearOrRectangular) {
    TKVThumbMetrics m;
    const TKVGridLayout grid = KVComputeThumbLayout(m, 3, 9);
    struct Case {
        const char* name;
        int from, to;
        bool region;
        std::vector<int> expected;
    } cases[] = {
        {"forwards", 2, 6, false, {3, 4, 5}},
        {"backwards", 6, 2, false, {5, 4, 3}},
        {"neighbours", 2, 3, false, {}},
        {"row 0 column 0 to row 1 column 2", 0, 5, true, {1, 2, 3, 4}},
        {"row 1 column 2 back to row 0 column 0", 5, 0, true, {1, 2, 3, 4}},
        {"one column", 1, 7, true, {4}},
        {"no start", -1, 4, false, {}},
        {"from itself", 4, 4, false, {}},
        {"from itself, region", 4, 4, true, {}},
    };
    for (const Case& c : cases) EXPECT_EQ(KVThumbRange(c.from, c.to, c.region, grid), c.expected) << c.name;
}

// Places and steps far beyond an int: nothing overflows, cells past the layout's limit lie at it,
// and hit testing still answers the cell that holds the point.
TEST(KVThumbGridTest, HugeCellsAndLongRowsStayWithinTheLayoutLimit) {
    TKVThumbMetrics huge;
    huge.thumbWidth = huge.thumbHeight = huge.horizBorder = huge.vertBorder = 1 << 30;
    huge.gridWidth = -1;
    EXPECT_EQ(KVThumbColumns(huge, INT_MAX), 0);
    EXPECT_EQ(KVThumbsPerPage(huge, 1 << 30, INT_MAX), 0);
    const TKVGridLayout square = KVComputeThumbLayout(huge, 2, 3);
    EXPECT_EQ(square.cells[0].x, KVThumbLayoutLimit);
    EXPECT_EQ(square.cells[2].y, KVThumbLayoutLimit);
    EXPECT_EQ(square.width, KVThumbLayoutLimit);
    EXPECT_EQ(KVThumbAtPos(huge, square, 2, 0, 0, 100, 100), -1);  // in the first border
    EXPECT_EQ(KVThumbAtPos(huge, square, 2, 0, 0, INT_MAX, INT_MAX), 0);  // the first cell ends at 2^31

    // One row of cells and borders of 2^16: cell i starts at i * 2^17 + 2^16; cell 8192 lies past 2^30.
    TKVThumbMetrics wide;
    wide.thumbWidth = wide.horizBorder = KVThumbSizeLimit;
    const TKVGridLayout row = KVComputeThumbLayout(wide, 0, 20000);
    EXPECT_EQ(row.cells[8191].x, 8191 * (1 << 17) + (1 << 16));
    EXPECT_EQ(row.cells[19999].x, KVThumbLayoutLimit);
    EXPECT_EQ(row.width, KVThumbLayoutLimit);
    const int viewX = KVThumbLayoutLimit - 1000;
    struct Case {
        int x, expected;
    } cases[] = {
        {500, 8191},                           // 2^30 - 500: inside cell 8191
        {1000 + (1 << 16) + 10, 8192},         // 10 pixels into cell 8192
        {1000 + (1 << 16) - 10, -1},           // the border before it
        {(1 << 30) + (1 << 16) + 1010, 16384},  // 10 pixels into cell 16384, which starts past INT_MAX
        {INT_MAX, -1},                         // past the last cell
    };
    for (const Case& c : cases) EXPECT_EQ(KVThumbAtPos(wide, row, 0, viewX, 0, c.x, 10), c.expected) << c.x;
    EXPECT_EQ(KVThumbMoveTarget(kvmPageDown, 5, 10, 3, 3, INT_MAX), 9);
    EXPECT_EQ(KVThumbMoveTarget(kvmPageUp, 5, 10, 3, 3, INT_MAX), 0);
}

TEST(KVThumbGridTest, CaptionsAreShortenedAtTheirEndOrStart) {
    // Ten pixels a character.
    std::vector<std::u16string> tried;
    const auto measure = [&](const std::u16string& text) {
        tried.push_back(text);
        return int(text.size()) * 10;
    };
    struct Case {
        const char* name;
        int width, mode;
        std::vector<std::u16string> tries;
        std::u16string result;
    } cases[] = {
        {"fits", 80, 1, {u"abcdefgh"}, u"abcdefgh"},
        {"start cut", 75, 1, {u"abcdefgh", u"...bcdefgh", u"...cdefgh", u"...defgh", u"...efgh"}, u"...efgh"},
        {"end cut", 75, 0, {u"abcdefgh", u"abcdef...", u"abcde...", u"abcd..."}, u"abcd..."},
        {"never cut", 10, 2, {}, u"abcdefgh"},
        {"nothing fits, start cut", 5, 1, {}, u"...h"},
        {"nothing fits, end cut", 5, 0, {}, u"a..."},
    };
    for (const Case& c : cases) {
        tried.clear();
        EXPECT_EQ(KVFitCaption(u"abcdefgh", c.width, c.mode, measure), c.result) << c.name;
        if (!c.tries.empty()) EXPECT_EQ(tried, c.tries) << c.name;
    }
    EXPECT_EQ(KVFitCaption(u"a", 5, 1, measure), u"a");  // one character is never cut
}

}  // namespace
