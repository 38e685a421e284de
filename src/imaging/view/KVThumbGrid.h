#pragma once
// The arithmetic of the thumbnail view: columns, cell places, hit testing, keyboard moves, range
// selection and caption shortening. No window is involved, so it is tested without a display.
#include <functional>
#include <string>
#include <vector>

// The largest cell and border size the view accepts, and the farthest place a layout holds: with
// both, sums of places, sizes and scroll positions stay within an int. Cells that would lie
// farther are laid out at the limit.
constexpr int KVThumbSizeLimit = 1 << 16;
constexpr int KVThumbLayoutLimit = 1 << 30;

struct TKVThumbMetrics {
    int thumbWidth = 100, thumbHeight = 100;
    int horizBorder = 4, vertBorder = 4;
    int gridWidth = 0;  // columns; 0 one row, -1 as many as fit
    bool single = false;  // every cell at (0, 0)
};

struct TKVCellPlace {
    int x = 0, y = 0, row = 0, col = 0;
};

struct TKVGridLayout {
    std::vector<TKVCellPlace> cells;
    int width = 0, height = 0;
};

// GridWidth, or for -1 the columns that fit into the client width; 0 when none fit.
int KVThumbColumns(const TKVThumbMetrics& m, int clientWidth);
TKVGridLayout KVComputeThumbLayout(const TKVThumbMetrics& m, int columns, int count);

// The entry whose cell holds client point (x, y) with the view scrolled to (viewX, viewY); -1 for
// none, also for points before the first row or column.
int KVThumbAtPos(const TKVThumbMetrics& m, const TKVGridLayout& layout, int columns, int viewX, int viewY, int x,
                 int y);

enum TKVThumbMove { kvmPrevious, kvmNext, kvmRowUp, kvmRowDown, kvmFirst, kvmLast, kvmPageUp, kvmPageDown };

// Entries a page holds for the page keys.
int KVThumbsPerPage(const TKVThumbMetrics& m, int columns, int clientHeight);
// The entry a key moves the selection s to; -1 when it does not move.
int KVThumbMoveTarget(TKVThumbMove move, int s, int count, int columns, int gridWidth, int perPage);

// The entries a Shift-click from `from` to `to` adds before `to` itself: those strictly between in
// list order from `from` towards `to`, or with `region` the cells of the rectangle of rows and
// columns the two span, except the two themselves.
std::vector<int> KVThumbRange(int from, int to, bool region, const TKVGridLayout& layout);

// A caption cut to fit `width`: mode 0 keeps its start and appends "...", 1 keeps its end and puts
// "..." in front, any other mode keeps it whole. `measure` gives the width of a text.
std::u16string KVFitCaption(const std::u16string& text, int width, int mode,
                            const std::function<int(const std::u16string&)>& measure);
