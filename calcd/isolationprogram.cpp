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

void grow(const Paths &copper, double delta, ClipperLib::PolyTree *tree)
{
    ClipperLib::ClipperOffset offset(2.0, ClipperUnits::arcTolerance);
    offset.AddPaths(copper, ClipperLib::jtRound, ClipperLib::etClosedPolygon);
    offset.Execute(*tree, delta);
}

// The loops of one pass: every outline of the grown copper, and every hole in it that holds copper.
Paths isolatingLoops(const ClipperLib::PolyTree &grown)
{
    Paths loops;
    for (const ClipperLib::PolyNode *node = grown.GetFirst(); node; node = node->GetNext()) {
        if (node->IsHole() && node->ChildCount() == 0)
            continue;
        Path loop = node->Contour;
        ClipperLib::CleanPolygon(loop, cleanDistance);
        if (loop.size() >= 3)
            loops.push_back(loop);
    }
    return loops;
}

QVector<const Path *> outlinesOf(const ClipperLib::PolyTree &grown)
{
    QVector<const Path *> outlines;
    for (const ClipperLib::PolyNode *node = grown.GetFirst(); node; node = node->GetNext())
        if (!node->IsHole())
            outlines.append(&node->Contour);
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
    const CopperIslands islands(CopperBuilder::build(*file.image()));
    if (islands.count() == 0) {
        *problem = QStringLiteral("the layout draws no copper");
        return {};
    }
    const Paths copper = islands.filled();
    const double firstDelta = (cut.toolWidth / 2) * ClipperUnits::perMm + flatteningMargin;
    const int passes = passCount(cut);
    Paths loops;
    QVector<QPointF> tooClose;
    for (int pass = 0; pass < passes; ++pass) {
        const double delta = firstDelta + (passes > 1 ? pass * (cut.isolationWidth - cut.toolWidth) / (passes - 1) : 0)
                                              * ClipperUnits::perMm;
        ClipperLib::PolyTree grown;
        grow(copper, delta, &grown);
        const Paths passLoops = isolatingLoops(grown);
        loops.insert(loops.end(), passLoops.begin(), passLoops.end());
        if (pass == 0)
            tooClose = IsolationCheck::tooClose(islands, outlinesOf(grown), delta);
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
