#include "calcd/dropcutter.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double none = std::numeric_limits<double>::lowest();

// Where (px, py) lies in the triangle's projection; false outside (or for an edge-on triangle).
bool inside(const StlMesh::Triangle &t, double px, double py)
{
    const auto side = [&](const StlMesh::Point &a, const StlMesh::Point &b) {
        return (b.x - a.x) * (py - a.y) - (b.y - a.y) * (px - a.x);
    };
    const double d1 = side(t[0], t[1]), d2 = side(t[1], t[2]), d3 = side(t[2], t[0]);
    const bool negative = d1 < 0 || d2 < 0 || d3 < 0, positive = d1 > 0 || d2 > 0 || d3 > 0;
    return !(negative && positive);
}

} // namespace

DropCutter::DropCutter(const StlMesh &mesh, double radius)
    : mesh(mesh), radius(radius), cellSize(std::max(radius * 2, 1.0))
{
    const QVector<StlMesh::Triangle> &faces = mesh.triangles();
    bounds.reserve(faces.size());
    for (int n = 0; n < faces.size(); ++n) {
        const StlMesh::Triangle &t = faces[n];
        const Bounds b{std::min({t[0].x, t[1].x, t[2].x}), std::min({t[0].y, t[1].y, t[2].y}),
                       std::max({t[0].x, t[1].x, t[2].x}), std::max({t[0].y, t[1].y, t[2].y}),
                       std::max({t[0].z, t[1].z, t[2].z})};
        bounds.append(b);
        for (int i = static_cast<int>(std::floor(b.x0 / cellSize)); i <= static_cast<int>(std::floor(b.x1 / cellSize)); ++i)
            for (int j = static_cast<int>(std::floor(b.y0 / cellSize)); j <= static_cast<int>(std::floor(b.y1 / cellSize)); ++j)
                cells[cellKey(i, j)].append(n);
    }
    for (QVector<int> &cell : cells)
        std::sort(cell.begin(), cell.end(), [this](int a, int b) { return bounds[a].top > bounds[b].top; });
}

double DropCutter::height(double x, double y, double floor) const
{
    double best = floor;
    const int i0 = static_cast<int>(std::floor((x - radius) / cellSize)), i1 = static_cast<int>(std::floor((x + radius) / cellSize));
    const int j0 = static_cast<int>(std::floor((y - radius) / cellSize)), j1 = static_cast<int>(std::floor((y + radius) / cellSize));
    for (int i = i0; i <= i1; ++i)
        for (int j = j0; j <= j1; ++j) {
            const auto found = cells.constFind(cellKey(i, j));
            if (found == cells.constEnd())
                continue;
            for (const int n : found.value()) {
                const Bounds &b = bounds[n];
                if (b.top <= best)
                    break;
                if (b.x0 <= x + radius && b.x1 >= x - radius && b.y0 <= y + radius && b.y1 >= y - radius)
                    best = std::max(best, triangleHeight(mesh.triangles()[n], x, y));
            }
        }
    return best;
}

double DropCutter::triangleHeight(const StlMesh::Triangle &t, double x, double y) const
{
    const double r2 = radius * radius;
    double best = none;
    for (int k = 0; k < 3; ++k) {
        const StlMesh::Point &a = t[k], &b = t[(k + 1) % 3];
        if ((a.x - x) * (a.x - x) + (a.y - y) * (a.y - y) <= r2)
            best = std::max(best, a.z);
        // Where the edge a + s (b - a) crosses the circle.
        const double dx = b.x - a.x, dy = b.y - a.y, fx = a.x - x, fy = a.y - y;
        const double qa = dx * dx + dy * dy, qb = 2 * (fx * dx + fy * dy), qc = fx * fx + fy * fy - r2;
        const double disc = qb * qb - 4 * qa * qc;
        if (qa <= 0 || disc < 0)
            continue;
        for (const double s : {(-qb - std::sqrt(disc)) / (2 * qa), (-qb + std::sqrt(disc)) / (2 * qa)})
            if (s >= 0 && s <= 1)
                best = std::max(best, a.z + s * (b.z - a.z));
    }
    // The plane z = a x + b y + c rises fastest along (a, b).
    const double ux = t[1].x - t[0].x, uy = t[1].y - t[0].y, uz = t[1].z - t[0].z;
    const double vx = t[2].x - t[0].x, vy = t[2].y - t[0].y, vz = t[2].z - t[0].z;
    const double nx = uy * vz - uz * vy, ny = uz * vx - ux * vz, nz = ux * vy - uy * vx;
    if (std::fabs(nz) < 1e-12)
        return best;
    const double ga = -nx / nz, gb = -ny / nz, g = std::hypot(ga, gb);
    const double px = g > 1e-12 ? x + radius * ga / g : x, py = g > 1e-12 ? y + radius * gb / g : y;
    if (inside(t, px, py))
        best = std::max(best, t[0].z + ga * (px - t[0].x) + gb * (py - t[0].y));
    return best;
}
