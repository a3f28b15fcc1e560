#include "calcd/dxfdrawing.h"

#include <dxflib/dl_dxf.h>

#include <cmath>
#include <sstream>

namespace {

constexpr int maxInsertDepth = 8;
constexpr int maxInstances = 100000;

double radians(double degrees)
{
    return degrees * M_PI / 180;
}

QPointF onCircle(QPointF centre, double radius, double angle)
{
    return centre + QPointF(std::cos(angle), std::sin(angle)) * radius;
}

double unitsToMm(int insUnits)
{
    switch (insUnits) {
    case 1: return 25.4;
    case 2: return 304.8;
    case 5: return 10;
    case 6: return 1000;
    case 8: return 25.4e-6;
    case 9: return 25.4e-3;
    case 10: return 914.4;
    default: return 1;
    }
}

// Parameter range of a curve drawn from a to b, b after a.
double sweepFrom(double a, double b, double fullTurn)
{
    double sweep = std::fmod(b - a, fullTurn);
    if (sweep <= 1e-12)
        sweep += fullTurn;
    return sweep;
}

} // namespace

QVector<Contour> DxfDrawing::read(const QString &text)
{
    DxfDrawing drawing;
    std::istringstream stream(text.toStdString());
    DL_Dxf dxf;
    if (!dxf.in(stream, &drawing))
        return {};
    drawing.finishPending();
    Contour::Transform toMm;
    toMm.m11 = toMm.m22 = drawing.unitToMm;
    return drawing.expand(drawing.model, toMm, 0);
}

void DxfDrawing::add(const Contour &contour)
{
    if (!contour.isEmpty())
        current->contours.append(contour);
}

// Entities whose extrusion points down are drawn seen from below: x runs the other way.
bool DxfDrawing::mirroredByExtrusion()
{
    const DL_Extrusion *extrusion = getExtrusion();
    return extrusion && extrusion->getDirection() && extrusion->getDirection()[2] < 0;
}

QPointF DxfDrawing::ocs(double x, double y)
{
    return {mirroredByExtrusion() ? -x : x, y};
}

void DxfDrawing::addLine(const DL_LineData &data)
{
    finishPending();
    add(Contour::polyline({{data.x1, data.y1}, {data.x2, data.y2}}));
}

void DxfDrawing::addArc(const DL_ArcData &data)
{
    finishPending();
    const QPointF centre = ocs(data.cx, data.cy);
    const double start = radians(data.angle1);
    const double end = start + sweepFrom(start, radians(data.angle2), 2 * M_PI);
    Contour arc;
    const bool mirrored = mirroredByExtrusion();
    const auto at = [&](double angle) {
        const QPointF p = onCircle(QPointF(data.cx, data.cy), data.radius, angle);
        return ocs(p.x(), p.y());
    };
    arc.moveTo(at(start));
    arc.addArc(centre, at(end), !mirrored);
    add(arc);
}

void DxfDrawing::addCircle(const DL_CircleData &data)
{
    finishPending();
    const QPointF centre = ocs(data.cx, data.cy);
    Contour circle;
    circle.moveTo(centre + QPointF(data.radius, 0));
    circle.addArc(centre, centre - QPointF(data.radius, 0), true);
    circle.addArc(centre, centre + QPointF(data.radius, 0), true);
    add(circle);
}

void DxfDrawing::addEllipse(const DL_EllipseData &data)
{
    finishPending();
    const QPointF centre(data.cx, data.cy), major(data.mx, data.my);
    const QPointF minor = QPointF(-data.my, data.mx) * data.ratio;
    const double sweep = sweepFrom(data.angle1, data.angle2, 2 * M_PI);
    const int steps = std::max(16, static_cast<int>(std::ceil(sweep / (2 * M_PI) * 144)));
    QVector<QPointF> points;
    for (int i = 0; i <= steps; ++i) {
        const double t = data.angle1 + sweep * i / steps;
        const QPointF p = centre + major * std::cos(t) + minor * std::sin(t);
        points.append(ocs(p.x(), p.y()));
    }
    add(Contour::polyline(points));
}

void DxfDrawing::addPolyline(const DL_PolylineData &data)
{
    finishPending();
    polyline = std::make_unique<Contour>();
    polylineClosed = (data.flags & 1) != 0;
    pendingBulge = 0;
}

void DxfDrawing::addVertex(const DL_VertexData &data)
{
    if (!polyline)
        return;
    const QPointF p = ocs(data.x, data.y);
    const bool first = polyline->isEmpty() && !hasStart;
    if (first) {
        polyline->moveTo(p);
        hasStart = true;
    } else {
        polyline->addBulge(p, pendingBulge);
    }
    pendingBulge = mirroredByExtrusion() ? -data.bulge : data.bulge;
}

void DxfDrawing::addSpline(const DL_SplineData &data)
{
    finishPending();
    spline = std::make_unique<Spline>();
    spline->degree = std::clamp(static_cast<int>(data.degree), 1, 10);
    spline->closed = (data.flags & 1) != 0;
}

void DxfDrawing::addControlPoint(const DL_ControlPointData &data)
{
    if (spline) {
        spline->control.append(QPointF(data.x, data.y));
        spline->weights.append(data.w > 0 ? data.w : 1);
    }
}

void DxfDrawing::addKnot(const DL_KnotData &data)
{
    if (spline)
        spline->knots.append(data.k);
}

void DxfDrawing::addFitPoint(const DL_FitPointData &data)
{
    if (spline)
        spline->fit.append(QPointF(data.x, data.y));
}

void DxfDrawing::addBlock(const DL_BlockData &data)
{
    finishPending();
    Block &block = blocks[QString::fromStdString(data.name)];
    block = Block();
    block.base = QPointF(data.bpx, data.bpy);
    current = &block;
}

void DxfDrawing::endBlock()
{
    finishPending();
    current = &model;
}

void DxfDrawing::addInsert(const DL_InsertData &data)
{
    finishPending();
    const double angle = radians(data.angle);
    const double sx = data.sx == 0 ? 1 : data.sx, sy = data.sy == 0 ? 1 : data.sy;
    const int columns = std::clamp(data.cols, 1, 1000), rows = std::clamp(data.rows, 1, 1000);
    for (int c = 0; c < columns; ++c)
        for (int r = 0; r < rows; ++r) {
            // Scale, then rotate, then move to the insertion point (the array spacing turns too).
            Contour::Transform t;
            t.m11 = std::cos(angle) * sx;
            t.m12 = -std::sin(angle) * sy;
            t.m21 = std::sin(angle) * sx;
            t.m22 = std::cos(angle) * sy;
            const QPointF spacing(c * data.colSp, r * data.rowSp);
            const QPointF place = ocs(data.ipx, data.ipy)
                                  + QPointF(std::cos(angle) * spacing.x() - std::sin(angle) * spacing.y(),
                                            std::sin(angle) * spacing.x() + std::cos(angle) * spacing.y());
            t.dx = place.x();
            t.dy = place.y();
            current->inserts.append({QString::fromStdString(data.name), t});
        }
}

void DxfDrawing::endEntity()
{
    finishPending();
}

void DxfDrawing::endSequence()
{
    finishPending();
}

void DxfDrawing::setVariableInt(const std::string &key, int value, int)
{
    if (key == "$INSUNITS")
        unitToMm = unitsToMm(value);
}

void DxfDrawing::finishPending()
{
    if (polyline) {
        if (polylineClosed && !polyline->isEmpty())
            polyline->addBulge(polyline->start(), pendingBulge);
        add(*polyline);
        polyline.reset();
        hasStart = false;
    }
    if (spline) {
        add(Contour::polyline(splinePoints(*spline)));
        spline.reset();
    }
}

QVector<Contour> DxfDrawing::expand(const Block &block, const Contour::Transform &transform, int depth) const
{
    QVector<Contour> out;
    Contour::Transform fromBase;
    fromBase.dx = -block.base.x();
    fromBase.dy = -block.base.y();
    const Contour::Transform placed = fromBase.then(transform);
    for (const Contour &contour : block.contours)
        out.append(contour.transformed(placed));
    if (depth >= maxInsertDepth)
        return out;
    for (const Insert &insert : block.inserts) {
        const auto found = blocks.constFind(insert.block);
        if (found == blocks.constEnd())
            continue;
        out += expand(found.value(), insert.transform.then(placed), depth + 1);
        if (out.size() > maxInstances)
            return {};
    }
    return out;
}

QVector<QPointF> DxfDrawing::splinePoints(const Spline &spline)
{
    const int n = spline.control.size(), p = spline.degree;
    if (n <= p)
        return spline.fit.size() >= 2 ? spline.fit : spline.control;
    QVector<double> knots = spline.knots;
    if (knots.size() != n + p + 1) {
        knots.clear();
        for (int i = 0; i < n + p + 1; ++i)
            knots.append(std::clamp(i - p, 0, n - p));
    }
    const double low = knots[p], high = knots[n];
    const int samples = std::max(16, n * 12);
    QVector<QPointF> points;
    for (int s = 0; s <= samples; ++s) {
        const double u = low + (high - low) * s / samples;
        int k = p;
        while (k < n - 1 && u >= knots[k + 1])
            ++k;
        // de Boor on homogeneous points, so weighted (rational) splines come out right.
        QVector<QPointF> d;
        QVector<double> w;
        for (int j = 0; j <= p; ++j) {
            const int i = k - p + j;
            w.append(spline.weights[i]);
            d.append(spline.control[i] * spline.weights[i]);
        }
        for (int r = 1; r <= p; ++r)
            for (int j = p; j >= r; --j) {
                const int i = k - p + j;
                const double span = knots[i + p - r + 1] - knots[i];
                const double a = span > 0 ? (u - knots[i]) / span : 0;
                d[j] = d[j - 1] * (1 - a) + d[j] * a;
                w[j] = w[j - 1] * (1 - a) + w[j] * a;
            }
        points.append(w[p] != 0 ? d[p] / w[p] : d[p]);
    }
    if (spline.closed && !points.isEmpty())
        points.append(points.first());
    return points;
}
