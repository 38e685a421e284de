#include "imaging/view/KVThumbGrid.h"

#include <algorithm>
#include <climits>
#include <cstdint>

// Sizes and places are worked out in 64 bits, so that no sum or product of int settings overflows.
namespace {

int64_t ColumnStep(const TKVThumbMetrics& m) { return int64_t(m.horizBorder) + m.thumbWidth; }
int64_t RowStep(const TKVThumbMetrics& m) { return int64_t(m.vertBorder) + m.thumbHeight; }

int64_t CellLeft(const TKVThumbMetrics& m, int col) { return m.single ? 0 : col * ColumnStep(m) + m.horizBorder; }
int64_t CellTop(const TKVThumbMetrics& m, int row) { return m.single ? 0 : row * RowStep(m) + m.vertBorder; }

int ToLayout(int64_t value) { return int(std::clamp<int64_t>(value, -KVThumbLayoutLimit, KVThumbLayoutLimit)); }

}  // namespace

int KVThumbColumns(const TKVThumbMetrics& m, int clientWidth) {
    if (m.gridWidth != -1) return m.gridWidth;
    const int64_t step = ColumnStep(m);
    if (step <= 0) return 0;
    return int(std::max<int64_t>((clientWidth - int64_t(m.horizBorder)) / step, 0));
}

TKVGridLayout KVComputeThumbLayout(const TKVThumbMetrics& m, int columns, int count) {
    TKVGridLayout layout;
    layout.cells.resize(size_t(std::max(count, 0)));
    int c = 0, r = 0;
    int64_t maxX = 0, maxY = 0;
    for (TKVCellPlace& cell : layout.cells) {
        const int64_t x = CellLeft(m, c), y = CellTop(m, r);
        cell.x = ToLayout(x);
        cell.y = ToLayout(y);
        cell.row = r;
        cell.col = c;
        maxX = std::max(maxX, x);
        maxY = std::max(maxY, y);
        ++c;
        if (m.single || c == columns) {
            c = 0;
            r = m.single ? 0 : r + 1;
        }
    }
    layout.width = ToLayout(maxX + ColumnStep(m));
    layout.height = ToLayout(maxY + RowStep(m));
    return layout;
}

int KVThumbAtPos(const TKVThumbMetrics& m, const TKVGridLayout& layout, int columns, int viewX, int viewY, int x,
                 int y) {
    const int64_t rowStep = RowStep(m), colStep = ColumnStep(m);
    if (rowStep <= 0 || colStep <= 0) return -1;
    const int64_t px = int64_t(x) + viewX, py = int64_t(y) + viewY;
    if (px < 0 || py < 0) return -1;
    const int64_t index = px / colStep + py / rowStep * columns;
    if (index < 0 || index >= int64_t(layout.cells.size())) return -1;
    // The place follows from the cell's row and column, also where the layout could not hold it.
    const TKVCellPlace& cell = layout.cells[size_t(index)];
    const int64_t left = CellLeft(m, cell.col), top = CellTop(m, cell.row);
    if (px < left || px >= left + m.thumbWidth || py < top || py >= top + m.thumbHeight) return -1;
    return int(index);
}

int KVThumbsPerPage(const TKVThumbMetrics& m, int columns, int clientHeight) {
    const int64_t rowStep = RowStep(m);
    if (rowStep <= 0) return 0;
    const int64_t rows = (clientHeight - int64_t(m.vertBorder)) / rowStep;
    return int(std::clamp<int64_t>(columns * rows, INT_MIN, INT_MAX));
}

int KVThumbMoveTarget(TKVThumbMove move, int s, int count, int columns, int gridWidth, int perPage) {
    if (count <= 0) return -1;
    switch (move) {
    case kvmPrevious:
        return s >= 0 ? s - 1 : -1;
    case kvmNext:
        return s + 1;
    case kvmRowUp:
        if (s < 0) return -1;
        return gridWidth != 0 ? std::max(s - columns, 0) : s - 1;
    case kvmRowDown:
        return gridWidth != 0 ? std::min(s + columns, count - 1) : s + 1;
    case kvmFirst:
        return 0;
    case kvmLast:
        return count - 1;
    case kvmPageDown:
        return int(std::min<int64_t>(int64_t(perPage) + s, count - 1));
    case kvmPageUp:
        return s >= 0 ? int(std::max<int64_t>(s - int64_t(perPage), 0)) : -1;
    }
    return -1;
}

std::vector<int> KVThumbRange(int from, int to, bool region, const TKVGridLayout& layout) {
    std::vector<int> range;
    const int count = int(layout.cells.size());
    if (from < 0 || to < 0 || from >= count || to >= count) return range;
    if (region) {
        const TKVCellPlace &a = layout.cells[size_t(from)], &b = layout.cells[size_t(to)];
        const int row0 = std::min(a.row, b.row), row1 = std::max(a.row, b.row);
        const int col0 = std::min(a.col, b.col), col1 = std::max(a.col, b.col);
        for (int i = 0; i < count; ++i) {
            const TKVCellPlace& cell = layout.cells[size_t(i)];
            if (i != from && i != to && cell.row >= row0 && cell.row <= row1 && cell.col >= col0 && cell.col <= col1)
                range.push_back(i);
        }
        return range;
    }
    const int step = to > from ? 1 : -1;
    if (from == to) return range;
    for (int i = from + step; i != to; i += step) range.push_back(i);
    return range;
}

std::u16string KVFitCaption(const std::u16string& text, int width, int mode,
                            const std::function<int(const std::u16string&)>& measure) {
    if ((mode != 0 && mode != 1) || text.size() < 2 || measure(text) <= width) return text;
    const std::u16string dots = u"...";
    std::u16string fitted = text;
    for (size_t k = 2; k <= text.size(); ++k) {
        const std::u16string part = mode == 0 ? text.substr(0, text.size() - k) : text.substr(k - 1);
        if (part.empty()) break;
        fitted = mode == 0 ? part + dots : dots + part;
        if (measure(fitted) <= width) break;
    }
    return fitted;
}
