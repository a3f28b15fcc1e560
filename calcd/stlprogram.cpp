#include "calcd/stlprogram.h"

#include "calcd/dropcutter.h"
#include "calcd/gcodewriter.h"
#include "calcd/stlmesh.h"

#include <cmath>
#include <limits>

namespace {

constexpr double safeHeight = 2.0;
constexpr double roughingAllowance = 0.2;
// Largest deviation of a simplified line from the heights it replaces.
constexpr double simplifyTolerance = 0.003;
constexpr double maxSamples = 4e6;
constexpr int maxLayers = 500;

struct Sample
{
    double x;
    double z;
};
using Row = QVector<Sample>;

// Keeps only the points needed to stay within the tolerance of every dropped one.
Row simplified(const Row &row)
{
    Row kept{row.first()};
    int from = 0;
    while (from < row.size() - 1) {
        int to = from + 1;
        while (to + 1 < row.size()) {
            const Sample &a = row[from], &b = row[to + 1];
            bool fits = true;
            for (int k = from + 1; k <= to && fits; ++k) {
                const double line = a.z + (b.z - a.z) * (row[k].x - a.x) / (b.x - a.x);
                fits = std::fabs(line - row[k].z) <= simplifyTolerance;
            }
            if (!fits)
                break;
            ++to;
        }
        kept.append(row[to]);
        from = to;
    }
    return kept;
}

class Raster
{
public:
    Raster(const StlMesh &mesh, const StlProgram::Cut &cut) : cutter(mesh, cut.diameter / 2)
    {
        const StlMesh::Point high = mesh.maximum();
        // The raster reaches a whole cutter width beyond the part, so the cutter clears a path
        // all round it down to the cutting depth.
        x0 = -cut.diameter;
        x1 = high.x + cut.diameter;
        y0 = -cut.diameter;
        y1 = high.y + cut.diameter;
        stepover = cut.diameter / 4;
        step = std::max(std::min(cut.diameter / 10, 0.2), 0.05);
        while ((x1 - x0) / step * (y1 - y0) / stepover > maxSamples)
            step *= 1.5;
    }

    int rows() const { return static_cast<int>(std::ceil((y1 - y0) / stepover)) + 1; }
    double rowY(int i) const { return std::min(y0 + i * stepover, y1); }

    // Tool heights along a row for the given least height and allowance; a point between two
    // samples that would pass under the surface gets the tool lifted first.
    Row row(int i, double lowest, double allowance) const
    {
        const double y = rowY(i);
        const auto z = [&](double x) {
            return std::max(lowest, cutter.height(x, y, std::numeric_limits<double>::lowest()) + allowance);
        };
        Row out;
        const int count = static_cast<int>(std::ceil((x1 - x0) / step));
        Sample previous{x0, z(x0)};
        out.append(previous);
        for (int k = 1; k <= count; ++k) {
            const Sample next{std::min(x0 + k * step, x1), 0};
            const Sample here{next.x, z(next.x)};
            const double middle = z((previous.x + here.x) / 2);
            if ((previous.z + here.z) / 2 < middle - simplifyTolerance) {
                const double lift = std::max({previous.z, here.z, middle});
                out.append({previous.x, lift});
                out.append({here.x, lift});
            }
            out.append(here);
            previous = here;
        }
        return simplified(out);
    }

private:
    DropCutter cutter;
    double x0, x1, y0, y1, stepover, step;
};

void writeRow(GcodeWriter *out, const Row &row, double y, double feed)
{
    out->words("G0", {{'X', row.first().x}, {'Y', y}});
    out->words("G1", {{'Z', row.first().z}, {'F', feed}});
    for (int k = 1; k < row.size(); ++k) {
        // Vertical lifts inserted by the raster share x with their neighbour.
        if (row[k].x == row[k - 1].x)
            out->words("G1", {{'Z', row[k].z}, {'F', feed}});
        else
            out->words("G1", {{'X', row[k].x}, {'Y', y}, {'Z', row[k].z}, {'F', feed}});
    }
    out->words("G0", {{'Z', safeHeight}});
}

bool cutsBelow(const Row &row, double level)
{
    return std::any_of(row.begin(), row.end(), [level](const Sample &s) { return s.z < level - 1e-9; });
}

} // namespace

QStringList StlProgram::build(const QByteArray &stl, const Cut &cut)
{
    StlMesh mesh;
    if (cut.diameter <= 0 || cut.depth <= 0 || cut.feed <= 0 || !mesh.read(stl))
        return {};
    mesh.placeTopAtZero();
    const Raster raster(mesh, cut);
    const double perPass = cut.depthPerPass > 0 ? cut.depthPerPass : cut.depth;
    const int layers = std::min(maxLayers, static_cast<int>(std::ceil(cut.depth / perPass - 1e-9)));

    GcodeWriter out;
    out.line(QStringLiteral("G21 G90"));
    out.line(QStringLiteral("M3 S12000"));
    out.words("G0", {{'Z', safeHeight}});
    for (int layer = 1; layer <= layers; ++layer) {
        const double level = -cut.depth * layer / layers, above = -cut.depth * (layer - 1) / layers;
        for (int i = 0; i < raster.rows(); i += 2) {
            const Row row = raster.row(i, level, roughingAllowance);
            if (cutsBelow(row, above))
                writeRow(&out, row, raster.rowY(i), cut.feed);
        }
    }
    for (int i = 0; i < raster.rows(); ++i) {
        const Row row = raster.row(i, -cut.depth, 0);
        if (cutsBelow(row, 0))
            writeRow(&out, row, raster.rowY(i), cut.feed);
    }
    out.line(QStringLiteral("M5"));
    return out.lines();
}
