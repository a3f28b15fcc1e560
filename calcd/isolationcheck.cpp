#include "calcd/isolationcheck.h"

#include "calcd/clipperunits.h"
#include "calcd/copperislands.h"
#include "calcd/pathlocator.h"

#include <QHash>

using ClipperLib::Path;
using ClipperLib::Paths;

namespace {

struct Grown
{
    Paths paths;
    ClipperLib::IntRect box;
};

Grown grown(const Paths &island, double delta)
{
    ClipperLib::ClipperOffset offset(2.0, ClipperUnits::arcTolerance);
    offset.AddPaths(island, ClipperLib::jtRound, ClipperLib::etClosedPolygon);
    Grown g;
    offset.Execute(g.paths, delta);
    ClipperLib::Clipper bounds;
    bounds.AddPaths(g.paths, ClipperLib::ptSubject, true);
    g.box = bounds.GetBounds();
    return g;
}

bool overlap(const ClipperLib::IntRect &a, const ClipperLib::IntRect &b)
{
    return a.left <= b.right && b.left <= a.right && a.top <= b.bottom && b.top <= a.bottom;
}

QPointF centroid(const Path &polygon)
{
    double area = 0, x = 0, y = 0;
    for (size_t i = 0; i < polygon.size(); ++i) {
        const QPointF a = ClipperUnits::toMm(polygon[i]), b = ClipperUnits::toMm(polygon[(i + 1) % polygon.size()]);
        const double cross = a.x() * b.y() - b.x() * a.y();
        area += cross;
        x += (a.x() + b.x()) * cross;
        y += (a.y() + b.y()) * cross;
    }
    if (std::fabs(area) < 1e-12)
        return ClipperUnits::toMm(polygon.front());
    return QPointF(x, y) / (3 * area);
}

// Regions where two of the grown pieces overlap, each as one place.
QVector<QPointF> overlaps(const QVector<Grown> &pieces)
{
    QVector<QPointF> places;
    for (int a = 0; a < pieces.size(); ++a)
        for (int b = a + 1; b < pieces.size(); ++b) {
            if (!overlap(pieces[a].box, pieces[b].box))
                continue;
            for (const Path &region : ClipperUnits::combine(pieces[a].paths, pieces[b].paths, ClipperLib::ctIntersection))
                if (ClipperLib::Orientation(region))
                    places.append(centroid(region));
        }
    return places;
}

} // namespace

QVector<QPointF> IsolationCheck::tooClose(const CopperIslands &islands, const QVector<const Path *> &outlines, double delta)
{
    // Pieces that the grown copper joins into one outline are the only ones that can be too close.
    const PathLocator outlineAt(outlines);
    QHash<int, QVector<int>> groups;
    for (int i = 0; i < islands.count(); ++i)
        groups[outlineAt.smallestHolding(islands.outline(i).front())].append(i);
    QVector<QPointF> places;
    for (const QVector<int> &members : qAsConst(groups)) {
        if (members.size() < 2)
            continue;
        QVector<Grown> pieces;
        for (const int i : members)
            pieces.append(grown(islands.island(i), delta));
        places += overlaps(pieces);
    }
    return places;
}
