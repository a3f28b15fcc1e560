#include "calcd/dxfprogram.h"

#include "calcd/dxfdrawing.h"
#include "calcd/gcodewriter.h"
#include "calcd/loopchainer.h"
#include "calcd/pathorder.h"
#include "toolpath/calcrefusal.h"

#include <cmath>

namespace {

constexpr double chainTolerance = 0.01;
constexpr double safeHeight = 2.0;
constexpr double retractFeed = 300;
constexpr int maxPasses = 200;

bool isTrace(const DxfProgram::Cut &cut)
{
    return std::fabs(cut.depth - DxfProgram::traceDepth) < 1e-9
           && std::fabs(cut.depthPerPass - DxfProgram::traceDepth) < 1e-9;
}

QVector<Contour> inTravelOrder(QVector<Contour> figures)
{
    QVector<Contour> ordered;
    QPointF position;
    while (!figures.isEmpty()) {
        QVector<QPointF> starts;
        for (const Contour &figure : figures)
            starts.append(figure.start());
        const int next = PathOrder::nearest(starts, position);
        ordered.append(figures.takeAt(next));
        position = ordered.last().end();
    }
    return ordered;
}

void writeSegments(GcodeWriter *out, const Contour &figure, double feed)
{
    for (const Contour::Segment &s : figure.segments()) {
        if (!s.arc) {
            out->words("G1", {{'X', s.end.x()}, {'Y', s.end.y()}, {'F', feed}});
            continue;
        }
        const QPointF offset = s.centre - s.start;
        out->words(s.counterClockwise ? "G3" : "G2",
                   {{'X', s.end.x()}, {'Y', s.end.y()}, {'I', offset.x()}, {'J', offset.y()}, {'F', feed}});
    }
}

// Passes needed to reach the depth; 0 when the depth per pass can never reach it.
double passCount(const DxfProgram::Cut &cut)
{
    if (isTrace(cut))
        return 1;
    return cut.depthPerPass > 0 ? std::max(1.0, std::ceil(cut.depth / cut.depthPerPass - 1e-9)) : 0;
}

void writeFigure(GcodeWriter *out, const Contour &figure, const DxfProgram::Cut &cut, int passes, bool closed)
{
    Contour path = figure;
    out->words("G0", {{'X', path.start().x()}, {'Y', path.start().y()}});
    for (int pass = 1; pass <= passes; ++pass) {
        out->words("G1", {{'Z', -cut.depth * pass / passes}, {'F', cut.feed}});
        writeSegments(out, path, cut.feed);
        // An open figure is engraved back and forth instead of travelling back to its start.
        if (!closed)
            path.reverse();
    }
    out->words("G1", {{'Z', safeHeight}, {'F', retractFeed}});
}

} // namespace

QStringList DxfProgram::build(const QString &dxf, const Cut &cut)
{
    QVector<Contour> open;
    QVector<Contour> figures = LoopChainer::chain(DxfDrawing::read(dxf), chainTolerance, &open);
    const int closedCount = figures.size();
    if (!isTrace(cut))
        figures += open;
    if (figures.isEmpty() || cut.depth <= 0 || cut.feed <= 0)
        return {};
    const double passes = passCount(cut);
    if (passes < 1)
        return {CalcRefusal::line(QStringLiteral("the depth per pass must be more than 0 mm"))};
    if (passes > maxPasses)
        return {CalcRefusal::line(QStringLiteral("%1 passes needed, at most %2; cut deeper per pass")
                                      .arg(GcodeWriter::number(passes, 0))
                                      .arg(maxPasses))};
    GcodeWriter out;
    out.line(QStringLiteral("(DXF engraving)"));
    out.line(QStringLiteral("G21"));
    out.line(QStringLiteral("G90"));
    out.line(QStringLiteral("G17"));
    out.words("M3", {{'S', cut.spindle}});
    out.words("G0", {{'Z', safeHeight}});
    const QVector<Contour> closed = inTravelOrder(figures.mid(0, closedCount));
    const QVector<Contour> rest = inTravelOrder(figures.mid(closedCount));
    int number = 0;
    for (const Contour &figure : closed + rest) {
        out.line(QStringLiteral("(* SHAPE Nr: %1 *)").arg(++number));
        writeFigure(&out, figure, cut, static_cast<int>(passes), number <= closed.size());
    }
    out.line(QStringLiteral("M2 (Program end)"));
    return out.lines();
}
