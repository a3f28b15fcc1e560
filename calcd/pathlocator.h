#ifndef PATHLOCATOR_H
#define PATHLOCATOR_H

#include <polyclipping/clipper.hpp>

#include <QVector>

// Finds, for a point, the smallest of a set of closed paths that holds it. The paths are
// bucketed by their bounding boxes on a coarse grid, so a query tests only the few whose box
// holds the point, smallest first.
class PathLocator
{
public:
    explicit PathLocator(const QVector<const ClipperLib::Path *> &paths);
    // Index into the paths given, or -1 when none holds the point (a point on a path counts as held).
    int smallestHolding(const ClipperLib::IntPoint &point) const;

private:
    struct Box
    {
        ClipperLib::cInt left, bottom, right, top;
        bool holds(const ClipperLib::IntPoint &p) const { return p.X >= left && p.X <= right && p.Y >= bottom && p.Y <= top; }
    };
    int column(ClipperLib::cInt x) const;
    int row(ClipperLib::cInt y) const;

    QVector<const ClipperLib::Path *> paths;
    QVector<Box> boxes;
    Box all{0, 0, 0, 0};
    int columns = 1, rows = 1;
    double cellWidth = 1, cellHeight = 1;
    QVector<QVector<int>> cells;
};

#endif
