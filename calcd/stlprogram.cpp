#include "calcd/stlprogram.h"

#include "calcd/dropcutter.h"
#include "calcd/gcodewriter.h"
#include "calcd/stlmesh.h"
#include "toolpath/calcrefusal.h"

#include <cmath>
#include <limits>

namespace {

constexpr double safeHeight = 2.0;
constexpr double roughingAllowance = 0.2;
// Largest deviation of a simplified line from the heights it replaces.
constexpr double simplifyTolerance = 0.003;
constexpr double maxSamples = 4e6;
constexpr int maxLayers = 500;
// Larger than any table the machine has: a part beyond it was saved in other units.
constexpr double maxPartSize = 1000;
constexpr double maxDiameter = 100;
constexpr double noSurface = std::numeric_limits<double>::lowest();

struct Sample
{
    double x;
    double z;
};
using Row = QVector<Sample>;

// Keeps only the points needed to stay within the tolerance of every dropped one. From each kept
// point the line may go on as long as its slope stays inside the window that every point passed so
// far allows, so each point is looked at once.
Row simplified(const Row &row)
{
    Row kept{row.first()};
    int from = 0;
    while (from < row.size() - 1) {
        const Sample &a = row[from];
        double low = noSurface, high = std::numeric_limits<double>::max();
        int to = from + 1;
        while (to + 1 < row.size()) {
            const Sample &passed = row[to], &next = row[to + 1];
            if (passed.x <= a.x || next.x <= a.x)
                break;
            low = std::max(low, (passed.z - simplifyTolerance - a.z) / (passed.x - a.x));
            high = std::min(high, (passed.z + simplifyTolerance - a.z) / (passed.x - a.x));
            const double slope = (next.z - a.z) / (next.x - a.x);
            if (slope < low || slope > high)
                break;
            ++to;
        }
        kept.append(row[to]);
        from = to;
    }
    return kept;
}

// Heights of the mesh under the tool along one row: at every sample and halfway between two.
struct RowHeights
{
    QVector<double> at;
    QVector<double> between;
};

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
        count = static_cast<int>(std::ceil((x1 - x0) / step));
    }

    int rows() const { return static_cast<int>(std::ceil((y1 - y0) / stepover)) + 1; }
    double rowY(int i) const { return std::min(y0 + i * stepover, y1); }

    RowHeights heights(int i) const
    {
        const double y = rowY(i);
        RowHeights h;
        h.at.reserve(count + 1);
        h.between.reserve(count);
        h.at.append(cutter.height(x0, y, noSurface));
        for (int k = 1; k <= count; ++k) {
            h.between.append(cutter.height((sampleX(k - 1) + sampleX(k)) / 2, y, noSurface));
            h.at.append(cutter.height(sampleX(k), y, noSurface));
        }
        return h;
    }

    // Tool heights along a row for the given least height and allowance; a point between two
    // samples that would pass under the surface gets the tool lifted first.
    Row row(const RowHeights &h, double lowest, double allowance) const
    {
        const auto z = [&](double surface) { return std::max(lowest, surface + allowance); };
        Row out;
        Sample previous{x0, z(h.at[0])};
        out.append(previous);
        for (int k = 1; k <= count; ++k) {
            const Sample here{sampleX(k), z(h.at[k])};
            const double middle = z(h.between[k - 1]);
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
    double sampleX(int k) const { return k == 0 ? x0 : std::min(x0 + k * step, x1); }

    DropCutter cutter;
    double x0, x1, y0, y1, stepover, step;
    int count;
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

// What the user asked for that could only be milled by changing it; empty when it can be milled.
QString refusal(const StlMesh &mesh, const StlProgram::Cut &cut, double layers)
{
    if (cut.diameter <= 0 || cut.diameter > maxDiameter)
        return QStringLiteral("cutter of %1 mm is out of range").arg(GcodeWriter::number(cut.diameter, 3));
    const StlMesh::Point size = mesh.maximum();
    if (size.x > maxPartSize || size.y > maxPartSize)
        return QStringLiteral("part is %1 x %2 mm; check its units")
            .arg(GcodeWriter::number(size.x, 0), GcodeWriter::number(size.y, 0));
    if (layers > maxLayers)
        return QStringLiteral("%1 layers needed, at most %2; cut deeper per pass")
            .arg(GcodeWriter::number(layers, 0)).arg(maxLayers);
    return QString();
}

} // namespace

QStringList StlProgram::build(const QByteArray &stl, const Cut &cut)
{
    StlMesh mesh;
    if (cut.depth <= 0 || cut.feed <= 0 || !mesh.read(stl))
        return {};
    mesh.placeTopAtZero();
    const double perPass = cut.depthPerPass > 0 ? cut.depthPerPass : cut.depth;
    const double layerCount = std::ceil(cut.depth / perPass - 1e-9);
    const QString refused = refusal(mesh, cut, layerCount);
    if (!refused.isEmpty())
        return {CalcRefusal::line(refused)};
    const int layers = static_cast<int>(layerCount);
    const Raster raster(mesh, cut);

    // Roughing visits every second row on every layer: their heights are found once.
    QVector<RowHeights> roughRows;
    for (int i = 0; i < raster.rows(); i += 2)
        roughRows.append(raster.heights(i));

    GcodeWriter out;
    out.line(QStringLiteral("G21 G90"));
    out.line(QStringLiteral("M3 S12000"));
    out.words("G0", {{'Z', safeHeight}});
    for (int layer = 1; layer <= layers; ++layer) {
        const double level = -cut.depth * layer / layers, above = -cut.depth * (layer - 1) / layers;
        for (int i = 0; i < raster.rows(); i += 2) {
            const Row row = raster.row(roughRows[i / 2], level, roughingAllowance);
            if (cutsBelow(row, above))
                writeRow(&out, row, raster.rowY(i), cut.feed);
        }
    }
    for (int i = 0; i < raster.rows(); ++i) {
        const Row row = raster.row(i % 2 == 0 ? roughRows[i / 2] : raster.heights(i), -cut.depth, 0);
        if (cutsBelow(row, 0))
            writeRow(&out, row, raster.rowY(i), cut.feed);
    }
    out.line(QStringLiteral("M5"));
    return out.lines();
}
