#ifndef DROPCUTTER_H
#define DROPCUTTER_H

#include "calcd/stlmesh.h"

#include <QHash>

// Lowest height of a flat end mill's tip above a mesh at a point: the highest point of the
// mesh within the tool's radius. Exact for triangles: the highest point of a plane over a
// triangle cut by a disc lies at a corner inside the disc, where an edge crosses the circle,
// or on the circle straight uphill from the centre. Each cell lists its triangles highest first, so a
// query stops at the first one that cannot raise the tool any more.
class DropCutter
{
public:
    DropCutter(const StlMesh &mesh, double radius);
    // The height at (x, y), or the given floor where no triangle lies within the radius.
    double height(double x, double y, double floor) const;

private:
    double triangleHeight(const StlMesh::Triangle &t, double x, double y) const;
    static quint64 cellKey(int i, int j)
    {
        return (static_cast<quint64>(static_cast<quint32>(i)) << 32) | static_cast<quint32>(j);
    }

    // Each triangle's extent in x and y and its highest point.
    struct Bounds
    {
        double x0, y0, x1, y1, top;
    };

    const StlMesh &mesh;
    QVector<Bounds> bounds;
    double radius;
    double cellSize;
    QHash<quint64, QVector<int>> cells;
};

#endif
