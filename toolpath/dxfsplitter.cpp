#include "toolpath/dxfsplitter.h"

#include "toolpath/gcodepathtracer.h"

#include <QFutureWatcher>
#include <QtConcurrent>

#include <cmath>

namespace {

const QString shapeMarker = QStringLiteral("(* SHAPE Nr:");
const QString programEnd = QStringLiteral("M2 (Program end)");
const QString plunge = QStringLiteral("G1 Z");
const QString safeHeight = QStringLiteral("G0 Z  5.000 ");
constexpr double miterLimit = 2.0;
constexpr double arcTolerance = 0.25;

bool positive(float value)
{
    return std::isfinite(value) && value > 0.0f;
}

} // namespace

DXFSplitter::DXFSplitter(const QStringList &inputLines, float feed, float speed, float totalDepth, float depthPerPass,
                         float cutterDiameter, int mode)
    : input(inputLines)
    , feed(feed)
    , speed(speed)
    , totalDepth(totalDepth)
    , depthPerPass(depthPerPass)
    , cutterDiameter(cutterDiameter)
    , mode(mode)
{
    refusal = inputError();
    if (!refusal.isEmpty())
        return;
    QFutureWatcher<void> watcher;
    QObject::connect(&watcher, &QFutureWatcher<void>::finished, &loop, &QEventLoop::quit);
    watcher.setFuture(QtConcurrent::run([this] { run(); }));
    if (!watcher.isFinished())
        loop.exec();
    watcher.waitForFinished();
}

// Checked before any work: a pass that goes no deeper would never reach the depth, and a cutter of no
// width would offset the region by nothing, ring after ring, for ever.
QString DXFSplitter::inputError() const
{
    if (!positive(depthPerPass))
        return QStringLiteral("The depth per pass must be more than 0 mm.");
    if (!positive(totalDepth))
        return QStringLiteral("The cutting depth must be more than 0 mm.");
    if (totalDepth / depthPerPass > float(maxPasses))
        return QStringLiteral("%1 mm in passes of %2 mm take more than %3 passes; choose a larger depth per pass.")
            .arg(number(totalDepth), number(depthPerPass)).arg(maxPasses);
    if ((mode == Pocket || mode == Cut) && !positive(cutterDiameter))
        return QStringLiteral("The cutter diameter must be more than 0 mm.");
    if ((mode == Pocket || mode == Cut) && cutterDiameter > maxCoordinate)
        return QStringLiteral("A cutter diameter of %1 mm is out of range.").arg(number(cutterDiameter));
    return QString();
}

void DXFSplitter::run()
{
    splitShapes();
    if (!refusal.isEmpty())
        return;
    ClipperLib::PolyTree area;
    region(&area);
    if (mode == Pocket)
        offsetInward(area);
    if (mode == Cut)
        offsetOutward(area);
    if (refusal.isEmpty())
        emitProgram();
}

void DXFSplitter::splitShapes()
{
    bool boundarySeen = false;
    for (const QString &line : qAsConst(input)) {
        if (line.contains(shapeMarker) || line.contains(programEnd)) {
            if (boundarySeen)
                addShape(currentShapeLines);
            boundarySeen = true;
            currentShapeLines.clear();
        } else if (!line.isEmpty() && !line.contains(plunge)) {
            currentShapeLines.append(GcodeLine(line));
        }
        if (!refusal.isEmpty())
            return;
    }
}

void DXFSplitter::addShape(const QVector<GcodeLine> &lines)
{
    GcodePathTracer tracer;
    for (const GcodeLine &line : lines)
        tracer.trace(line);
    const QVector<float> &vertices = tracer.vertices();
    const float unitsPerMm = float(scale);
    ClipperLib::Path polygon;
    polygon.reserve(size_t(vertices.size() / 3));
    for (int i = 0; i + 2 < vertices.size(); i += 3) {
        const float x = vertices[i], y = vertices[i + 1];
        if (!(std::fabs(x) <= maxCoordinate && std::fabs(y) <= maxCoordinate)) {
            refusal = QStringLiteral("The drawing reaches beyond %1 mm; check its units.").arg(number(maxCoordinate));
            return;
        }
        polygon.emplace_back(ClipperLib::cInt(x * unitsPerMm), ClipperLib::cInt(y * unitsPerMm));
    }
    shapes.append(ClipperLib::Paths{polygon});
}

// Even-odd: a figure inside another is a hole, and where figures overlap the overlap is left out.
void DXFSplitter::region(ClipperLib::PolyTree *area) const
{
    ClipperLib::Clipper clipper;
    for (const ClipperLib::Paths &shape : shapes)
        clipper.AddPaths(shape, ClipperLib::ptClip, true);
    clipper.Execute(ClipperLib::ctXor, *area, ClipperLib::pftEvenOdd, ClipperLib::pftEvenOdd);
}

ClipperLib::Paths DXFSplitter::offset(const ClipperLib::Paths &area, double distance) const
{
    ClipperLib::ClipperOffset offsetter(miterLimit, arcTolerance);
    offsetter.AddPaths(area, ClipperLib::jtMiter, ClipperLib::etClosedPolygon);
    ClipperLib::Paths rings;
    offsetter.Execute(rings, distance);
    return rings;
}

void DXFSplitter::offsetOutward(const ClipperLib::PolyTree &area)
{
    ClipperLib::Paths whole;
    ClipperLib::PolyTreeToPaths(area, whole);
    const ClipperLib::Paths rings = offset(whole, double(0.5f * cutterDiameter * float(scale)));
    qint64 points = 0;
    for (const ClipperLib::Path &ring : rings)
        points += qint64(ring.size()) + 3;
    if (!withinLimits(points)) {
        refuseLength();
        return;
    }
    paths = QVector<ClipperLib::Path>(rings.begin(), rings.end());
}

// Inward rings of separate figures never meet, so each figure (an outline with its holes) is pocketed
// on its own, from its edge to its middle, on every core: the offsets stay small however many figures
// the drawing has, and the cutter finishes one figure before it travels to the next.
void DXFSplitter::offsetInward(const ClipperLib::PolyTree &area)
{
    QVector<ClipperLib::Paths> figures;
    for (const ClipperLib::PolyNode *node = area.GetFirst(); node; node = node->GetNext()) {
        if (node->IsHole())
            continue;
        ClipperLib::Paths figure{node->Contour};
        for (const ClipperLib::PolyNode *hole : node->Childs)
            figure.push_back(hole->Contour);
        figures.append(figure);
    }
    std::atomic<qint64> budget{0};
    const std::function<QVector<ClipperLib::Path>(const ClipperLib::Paths &)> pocketOne =
        [this, &budget](const ClipperLib::Paths &figure) { return pocket(figure, &budget); };
    const QVector<QVector<ClipperLib::Path>> pockets = QtConcurrent::blockingMapped(figures, pocketOne);
    if (!withinLimits(budget)) {
        refuseLength();
        return;
    }
    for (const QVector<ClipperLib::Path> &rings : pockets)
        paths += rings;
}

// Rings at one radius, 1.1 radii, then every 0.6 radii inside the boundary, until nothing is left. No
// ring lies deeper inside than half the outline's narrower side: that offset, the most costly one of a
// figure as it turns inside out, is known to be empty without computing it. The points of all rings
// are counted in the budget; a figure stops as soon as the budget is spent.
QVector<ClipperLib::Path> DXFSplitter::pocket(const ClipperLib::Paths &figure, std::atomic<qint64> *budget) const
{
    const auto byX = [](const ClipperLib::IntPoint &a, const ClipperLib::IntPoint &b) { return a.X < b.X; };
    const auto byY = [](const ClipperLib::IntPoint &a, const ClipperLib::IntPoint &b) { return a.Y < b.Y; };
    const auto [left, right] = std::minmax_element(figure.front().begin(), figure.front().end(), byX);
    const auto [bottom, top] = std::minmax_element(figure.front().begin(), figure.front().end(), byY);
    const double deepest = double(std::min(right->X - left->X, top->Y - bottom->Y)) / 2.0;
    const double radius = double(0.5f * cutterDiameter * float(scale));
    QVector<ClipperLib::Path> rings;
    double distance = -radius;
    for (bool first = true; -distance < deepest && withinLimits(*budget); first = false) {
        const ClipperLib::Paths level = offset(figure, distance);
        if (level.empty())
            break;
        for (const ClipperLib::Path &ring : level)
            *budget += qint64(ring.size()) + 3;
        rings += QVector<ClipperLib::Path>(level.begin(), level.end());
        distance -= (first ? 0.1 : 0.6) * radius;
    }
    return rings;
}

// The points to be milled, counted against the longest program allowed, so a hair-thin cutter in a
// wide drawing is refused instead of filling the memory.
bool DXFSplitter::withinLimits(qint64 points) const
{
    const qint64 passes = qint64(std::ceil(double(totalDepth) / double(depthPerPass)));
    return points * std::max<qint64>(passes, 1) <= maxOutputLines;
}

void DXFSplitter::refuseLength()
{
    refusal = QStringLiteral("The program would exceed %1 lines; choose a larger cutter or depth per pass.")
                  .arg(maxOutputLines);
}

void DXFSplitter::emitProgram()
{
    output << safeHeight << QStringLiteral("F") + number(feed) << QStringLiteral("S") + number(speed)
           << QStringLiteral("M3");
    // Every pass mills the same rings: their lines are written once and shared by all passes.
    QVector<QStringList> rings;
    rings.reserve(paths.size());
    for (const ClipperLib::Path &ring : qAsConst(paths))
        rings.append(ringLines(ring));
    float z = std::max(-totalDepth, -depthPerPass);
    for (;;) {
        const QString plungeLine = QStringLiteral("G1 Z ") + number(z);
        for (int i = 0; i < rings.size(); ++i) {
            const QStringList &lines = rings[i];
            output << safeHeight << point("G0", paths[i].front()) << plungeLine << lines;
        }
        if (z == -totalDepth)
            break;
        z = std::max(-totalDepth, z - depthPerPass);
    }
    output << QStringLiteral("G92.1") << QStringLiteral("G0 Z0") << QStringLiteral("M5") << QStringLiteral("\n");
}

// The ring from its first point round to its first point again.
QStringList DXFSplitter::ringLines(const ClipperLib::Path &ring) const
{
    QStringList lines;
    lines.reserve(int(ring.size()) + 1);
    for (const ClipperLib::IntPoint &p : ring)
        lines << point("G1", p);
    lines << lines.first();
    return lines;
}

QString DXFSplitter::point(const char *command, const ClipperLib::IntPoint &p) const
{
    const float unitsPerMm = float(scale);
    return QLatin1String(command) + QStringLiteral(" X") + number(float(p.X) / unitsPerMm) + QStringLiteral(" Y ")
        + number(float(p.Y) / unitsPerMm);
}

QString DXFSplitter::number(float value)
{
    return QString::number(double(value), 'g', 6);
}
