#include "calcd/isolationprogram.h"

#include "calcd/clipperunits.h"
#include "calcd/copperbuilder.h"
#include "calcd/gerberfile.h"
#include "calcd/loopwriter.h"

#include <limits>

using ClipperLib::Paths;

namespace {

constexpr double safeHeight = 1.0;
// Vertices closer than this to the line through their neighbours add nothing a mill can follow.
constexpr double cleanDistance = 0.0005 * ClipperUnits::perMm;

} // namespace

Paths IsolationProgram::toolPaths(const Paths &copper, double toolWidth)
{
    ClipperLib::ClipperOffset offset(2.0, ClipperUnits::arcTolerance);
    offset.AddPaths(copper, ClipperLib::jtRound, ClipperLib::etClosedPolygon);
    Paths paths;
    offset.Execute(paths, toolWidth / 2 * ClipperUnits::perMm);
    ClipperLib::CleanPolygons(paths, cleanDistance);
    paths.erase(std::remove_if(paths.begin(), paths.end(), [](const ClipperLib::Path &p) { return p.size() < 3; }),
                paths.end());
    return paths;
}

ClipperLib::cInt IsolationProgram::mirrorAxisTimesTwo(const Paths &paths)
{
    ClipperLib::cInt low = std::numeric_limits<ClipperLib::cInt>::max();
    ClipperLib::cInt high = std::numeric_limits<ClipperLib::cInt>::min();
    for (const ClipperLib::Path &path : paths)
        for (const ClipperLib::IntPoint &p : path) {
            low = std::min(low, p.X);
            high = std::max(high, p.X);
        }
    return low + high;
}

void IsolationProgram::mirror(Paths *paths, ClipperLib::cInt axisTimesTwo)
{
    for (ClipperLib::Path &path : *paths) {
        for (ClipperLib::IntPoint &p : path)
            p.X = axisTimesTwo - p.X;
        // Keep the direction of travel around the copper as on the top side.
        ClipperLib::ReversePath(path);
    }
}

QStringList IsolationProgram::build(const QString &gerber, double toolWidth, double depth, bool mirrored)
{
    const GerberFile file(gerber);
    if (!file.image() || file.image()->layertype != GERBV_LAYERTYPE_RS274X)
        return {};
    const Paths copper = CopperBuilder::build(*file.image());
    Paths paths = toolPaths(copper, toolWidth);
    if (paths.empty())
        return {};
    if (mirrored)
        mirror(&paths, mirrorAxisTimesTwo(paths));
    GcodeWriter out;
    out.line(QStringLiteral("(isolation %1 mm wide)").arg(GcodeWriter::number(toolWidth, 4)));
    out.line(QStringLiteral("G21 G90"));
    out.line(QStringLiteral("M3 S12000 F150"));
    out.words("G0", {{'Z', safeHeight}});
    LoopWriter(&out, safeHeight).write(paths, depth);
    out.line(QStringLiteral("M5"));
    return out.lines();
}
