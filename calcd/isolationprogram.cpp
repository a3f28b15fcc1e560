#include "calcd/isolationprogram.h"

#include "calcd/answerformat.h"
#include "calcd/clipperunits.h"
#include "calcd/copperbuilder.h"
#include "calcd/copperislands.h"
#include "calcd/gerberfile.h"
#include "calcd/isolationcheck.h"
#include "calcd/loopwriter.h"

#include <cmath>
#include <limits>

using ClipperLib::Path;
using ClipperLib::Paths;

namespace {

constexpr double safeHeight = 1.0;
// Vertices closer than this to the line through their neighbours add nothing a mill can follow.
constexpr double cleanDistance = 0.0005 * ClipperUnits::perMm;
// Flattened arcs cut corners by up to the arc tolerance: the paths keep that much farther out.
constexpr double flatteningMargin = ClipperUnits::arcTolerance;
// Neighbouring passes overlap by a fifth of the tool width.
constexpr double passStep = 0.8;

// The copper grown by delta. Each piece is grown on its own, then the grown pieces are united:
// one offset of the whole layer unites every piece's own overlaps in a sweep across the board.
Paths grown(const CopperIslands &islands, double delta)
{
    Paths pieces;
    for (int i = 0; i < islands.count(); ++i) {
        ClipperLib::ClipperOffset offset(2.0, ClipperUnits::arcTolerance);
        offset.AddPaths(islands.island(i), ClipperLib::jtRound, ClipperLib::etClosedPolygon);
        Paths piece;
        offset.Execute(piece, delta);
        pieces.insert(pieces.end(), std::make_move_iterator(piece.begin()), std::make_move_iterator(piece.end()));
    }
    return ClipperUnits::combine(pieces, {}, ClipperLib::ctUnion);
}

bool reachesBeyond(const Path &loop, const ClipperLib::IntRect &frame)
{
    return std::any_of(loop.begin(), loop.end(), [&](const ClipperLib::IntPoint &p) {
        return p.X < frame.left || p.X > frame.right || p.Y < frame.top || p.Y > frame.bottom;
    });
}

// The loops of one pass: every outline and every hole of the grown copper. Holes within one piece
// of copper that hold no other copper were filled before growing. A hole of the grown copper that
// holds none lies where copper comes close all round it: mostly between pieces, which milling it
// parts along its edge; seldom in the bend of one piece, where it costs one loop. The edge of a
// negative image's plane is no copper edge: the loop round it is left out.
Paths isolatingLoops(const Paths &grown, const ClipperLib::IntRect &plane)
{
    const bool hasPlane = plane.right > plane.left;
    Paths loops;
    for (Path loop : grown) {
        if (hasPlane && reachesBeyond(loop, plane))
            continue;
        ClipperLib::CleanPolygon(loop, cleanDistance);
        if (loop.size() >= 3)
            loops.push_back(std::move(loop));
    }
    return loops;
}

QVector<const Path *> outlinesOf(const Paths &grown)
{
    QVector<const Path *> outlines;
    for (const Path &path : grown)
        if (ClipperLib::Orientation(path))
            outlines.append(&path);
    return outlines;
}

ClipperLib::cInt mirrorAxisTimesTwo(const Paths &paths)
{
    ClipperLib::cInt low = std::numeric_limits<ClipperLib::cInt>::max();
    ClipperLib::cInt high = std::numeric_limits<ClipperLib::cInt>::min();
    for (const Path &path : paths)
        for (const ClipperLib::IntPoint &p : path) {
            low = std::min(low, p.X);
            high = std::max(high, p.X);
        }
    return low + high;
}

void mirror(Paths *paths, QVector<QPointF> *places, ClipperLib::cInt axisTimesTwo)
{
    for (Path &path : *paths) {
        for (ClipperLib::IntPoint &p : path)
            p.X = axisTimesTwo - p.X;
        // Keep the copper on the same side of the travelling tool as on the top side.
        ClipperLib::ReversePath(path);
    }
    for (QPointF &p : *places)
        p.setX(axisTimesTwo / ClipperUnits::perMm - p.x());
}

int passCount(const IsolationProgram::Cut &cut)
{
    const double extra = cut.isolationWidth - cut.toolWidth;
    return extra <= 1e-9 ? 1 : 1 + static_cast<int>(std::ceil(extra / (passStep * cut.toolWidth) - 1e-9));
}

} // namespace

QStringList IsolationProgram::build(const QString &gerber, const Cut &cut, bool mirrored, QString *problem)
{
    const GerberFile file(gerber);
    if (!file.image() || file.image()->layertype != GERBV_LAYERTYPE_RS274X) {
        *problem = QStringLiteral("not a Gerber layout");
        return {};
    }
    const CopperBuilder::Copper copper = CopperBuilder::build(*file.image());
    const CopperIslands islands(copper.paths);
    if (islands.count() == 0) {
        *problem = QStringLiteral("the layout draws no copper");
        return {};
    }
    const double firstDelta = (cut.toolWidth / 2) * ClipperUnits::perMm + flatteningMargin;
    const int passes = passCount(cut);
    Paths loops;
    QVector<QPointF> tooClose;
    for (int pass = 0; pass < passes; ++pass) {
        const double delta = firstDelta + (passes > 1 ? pass * (cut.isolationWidth - cut.toolWidth) / (passes - 1) : 0)
                                              * ClipperUnits::perMm;
        const Paths grownCopper = grown(islands, delta);
        const Paths passLoops = isolatingLoops(grownCopper, copper.plane);
        loops.insert(loops.end(), passLoops.begin(), passLoops.end());
        if (pass == 0)
            tooClose = IsolationCheck::tooClose(islands, outlinesOf(grownCopper), delta);
    }
    if (mirrored)
        mirror(&loops, &tooClose, mirrorAxisTimesTwo(loops));

    GcodeWriter out;
    AnswerFormat::header(&out, mirrored ? QStringLiteral("isolation, bottom side mirrored") : QStringLiteral("isolation"),
                         QStringLiteral("tool %1 mm wide, %2 mm deep, passes %3, loops %4")
                             .arg(GcodeWriter::number(cut.toolWidth, 4), GcodeWriter::number(cut.depth, 4))
                             .arg(passes)
                             .arg(loops.size()));
    AnswerFormat::spindleOn(&out, feed);
    for (const QPointF &place : qAsConst(tooClose))
        out.line(AnswerFormat::notIsolated(place));
    out.words("G0", {{'Z', safeHeight}});
    LoopWriter(&out, safeHeight).write(loops, cut.depth);
    out.line(QStringLiteral("M5"));
    return out.lines();
}
