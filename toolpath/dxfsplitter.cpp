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
    const ClipperLib::Paths area = region();
    if (mode == Pocket)
        offsetInward(area);
    if (mode == Cut)
        offsetOutward(area);
    if (refusal.isEmpty())
        emitProgram();
    else
        paths.clear();
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
ClipperLib::Paths DXFSplitter::region() const
{
    ClipperLib::Clipper clipper;
    for (const ClipperLib::Paths &shape : shapes)
        clipper.AddPaths(shape, ClipperLib::ptClip, true);
    ClipperLib::Paths area;
    clipper.Execute(ClipperLib::ctXor, area, ClipperLib::pftEvenOdd, ClipperLib::pftEvenOdd);
    return area;
}

ClipperLib::Paths DXFSplitter::offset(const ClipperLib::Paths &area, double distance) const
{
    ClipperLib::ClipperOffset offsetter(miterLimit, arcTolerance);
    offsetter.AddPaths(area, ClipperLib::jtMiter, ClipperLib::etClosedPolygon);
    ClipperLib::Paths rings;
    offsetter.Execute(rings, distance);
    return rings;
}

void DXFSplitter::offsetOutward(const ClipperLib::Paths &area)
{
    paths.clear();
    const ClipperLib::Paths rings = offset(area, double(0.5f * cutterDiameter * float(scale)));
    if (withinLimits(rings))
        paths = QVector<ClipperLib::Path>(rings.begin(), rings.end());
}

// Rings at one radius, 1.1 radii, then every 0.6 radii inside the boundary, until nothing is left.
void DXFSplitter::offsetInward(const ClipperLib::Paths &area)
{
    paths.clear();
    const double radius = double(0.5f * cutterDiameter * float(scale));
    double distance = -radius;
    for (bool first = true;; first = false) {
        const ClipperLib::Paths rings = offset(area, distance);
        if (rings.empty() || !withinLimits(rings))
            return;
        paths += QVector<ClipperLib::Path>(rings.begin(), rings.end());
        distance -= (first ? 0.1 : 0.6) * radius;
    }
}

// Counts the points to be milled against the longest program allowed, so a hair-thin cutter in a wide
// drawing is refused instead of filling the memory.
bool DXFSplitter::withinLimits(const ClipperLib::Paths &rings)
{
    for (const ClipperLib::Path &ring : rings)
        pointCount += qint64(ring.size()) + 3;
    const qint64 passes = qint64(std::ceil(double(totalDepth) / double(depthPerPass)));
    if (pointCount * std::max<qint64>(passes, 1) <= maxOutputLines)
        return true;
    refusal = QStringLiteral("The program would exceed %1 lines; choose a larger cutter or depth per pass.")
                  .arg(maxOutputLines);
    return false;
}

void DXFSplitter::emitProgram()
{
    output << safeHeight << QStringLiteral("F") + number(feed) << QStringLiteral("S") + number(speed)
           << QStringLiteral("M3");
    float z = std::max(-totalDepth, -depthPerPass);
    for (;;) {
        for (const ClipperLib::Path &ring : qAsConst(paths))
            emitRing(ring, z);
        if (z == -totalDepth)
            break;
        z = std::max(-totalDepth, z - depthPerPass);
    }
    output << QStringLiteral("G92.1") << QStringLiteral("G0 Z0") << QStringLiteral("M5") << QStringLiteral("\n");
}

void DXFSplitter::emitRing(const ClipperLib::Path &ring, float z)
{
    output << safeHeight << point("G0", ring.front()) << QStringLiteral("G1 Z ") + number(z)
           << point("G1", ring.front());
    for (size_t i = 1; i < ring.size(); ++i)
        output << point("G1", ring[i]);
    output << point("G1", ring.front());
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
