#include "imaging/view/KVThumbGrid.h"

#include <algorithm>

int KVThumbColumns(const TKVThumbMetrics& m, int clientWidth) {
    if (m.gridWidth != -1) return m.gridWidth;
    const int step = m.horizBorder + m.thumbWidth;
    if (step <= 0) return 0;
    return std::max((clientWidth - m.horizBorder) / step, 0);
}

TKVGridLayout KVComputeThumbLayout(const TKVThumbMetrics& m, int columns, int count) {
    TKVGridLayout layout;
    layout.cells.resize(size_t(std::max(count, 0)));
    int c = 0, r = 0, maxX = 0, maxY = 0;
    for (TKVCellPlace& cell : layout.cells) {
        cell.x = c * (m.thumbWidth + m.horizBorder);
        cell.y = r * (m.thumbHeight + m.vertBorder);
        if (!m.single) {
            cell.x += m.horizBorder;
            cell.y += m.vertBorder;
        }
        cell.row = r;
        cell.col = c;
        maxX = std::max(maxX, cell.x);
        maxY = std::max(maxY, cell.y);
        ++c;
        if (m.single || c == columns) {
            c = 0;
            r = m.single ? 0 : r + 1;
        }
    }
    layout.width = maxX + m.thumbWidth + m.horizBorder;
    layout.height = maxY + m.thumbHeight + m.vertBorder;
    return layout;
}

int KVThumbAtPos(const TKVThumbMetrics& m, const TKVGridLayout& layout, int columns, int viewX, int viewY, int x,
                 int y) {
    const int rowStep = m.vertBorder + m.thumbHeight, colStep = m.horizBorder + m.thumbWidth;
    if (rowStep <= 0 || colStep <= 0) return -1;
    const int px = x + viewX, py = y + viewY;
    if (px < 0 || py < 0) return -1;
    const int row = py / rowStep, col = px / colStep;
    const long long index = col + static_cast<long long>(row) * columns;
    if (index < 0 || index >= static_cast<long long>(layout.cells.size())) return -1;
    const TKVCellPlace& cell = layout.cells[size_t(index)];
    const int left = cell.x - viewX, top = cell.y - viewY;
    if (x < left || x >= left + m.thumbWidth || y < top || y >= top + m.thumbHeight) return -1;
    return int(index);
}

int KVThumbsPerPage(const TKVThumbMetrics& m, int columns, int clientHeight) {
    const int rowStep = m.vertBorder + m.thumbHeight;
    if (rowStep <= 0) return 0;
    return columns * ((clientHeight - m.vertBorder) / rowStep);
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
        return std::min(perPage + s, count - 1);
    case kvmPageUp:
        return s >= 0 ? std::max(s - perPage, 0) : -1;
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
