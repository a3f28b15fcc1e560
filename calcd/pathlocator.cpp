#include "calcd/pathlocator.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr int gridSide = 64;

} // namespace

PathLocator::PathLocator(const QVector<const ClipperLib::Path *> &paths) : paths(paths)
{
    all = {std::numeric_limits<ClipperLib::cInt>::max(), std::numeric_limits<ClipperLib::cInt>::max(),
           std::numeric_limits<ClipperLib::cInt>::min(), std::numeric_limits<ClipperLib::cInt>::min()};
    for (const ClipperLib::Path *path : paths) {
        Box box = {std::numeric_limits<ClipperLib::cInt>::max(), std::numeric_limits<ClipperLib::cInt>::max(),
                   std::numeric_limits<ClipperLib::cInt>::min(), std::numeric_limits<ClipperLib::cInt>::min()};
        for (const ClipperLib::IntPoint &p : *path) {
            box = {std::min(box.left, p.X), std::min(box.bottom, p.Y), std::max(box.right, p.X), std::max(box.top, p.Y)};
        }
        boxes.append(box);
        all = {std::min(all.left, box.left), std::min(all.bottom, box.bottom), std::max(all.right, box.right),
               std::max(all.top, box.top)};
    }
    if (paths.isEmpty())
        return;
    columns = rows = gridSide;
    cellWidth = std::max(1.0, double(all.right - all.left) / columns);
    cellHeight = std::max(1.0, double(all.top - all.bottom) / rows);
    cells.resize(columns * rows);
    // Smallest first, so that the first path found holding a point is the answer.
    QVector<int> bySize(paths.size());
    QVector<double> area(paths.size());
    for (int i = 0; i < paths.size(); ++i) {
        bySize[i] = i;
        area[i] = std::fabs(ClipperLib::Area(*paths[i]));
    }
    std::stable_sort(bySize.begin(), bySize.end(), [&area](int a, int b) { return area[a] < area[b]; });
    for (const int i : bySize)
        for (int y = row(boxes[i].bottom); y <= row(boxes[i].top); ++y)
            for (int x = column(boxes[i].left); x <= column(boxes[i].right); ++x)
                cells[y * columns + x].append(i);
}

int PathLocator::column(ClipperLib::cInt x) const
{
    return std::clamp(static_cast<int>((x - all.left) / cellWidth), 0, columns - 1);
}

int PathLocator::row(ClipperLib::cInt y) const
{
    return std::clamp(static_cast<int>((y - all.bottom) / cellHeight), 0, rows - 1);
}

int PathLocator::smallestHolding(const ClipperLib::IntPoint &point) const
{
    if (paths.isEmpty() || !all.holds(point))
        return -1;
    for (const int i : cells[row(point.Y) * columns + column(point.X)])
        if (boxes[i].holds(point) && ClipperLib::PointInPolygon(point, *paths[i]) != 0)
            return i;
    return -1;
}
