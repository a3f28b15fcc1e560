#include "calcd/contour.h"

#include <algorithm>
#include <cmath>

namespace {

double length(QPointF v)
{
    return std::hypot(v.x(), v.y());
}

// Swept angle of an arc, positive, full turn when start and end coincide.
double sweep(const Contour::Segment &arc)
{
    const QPointF a = arc.start - arc.centre, b = arc.end - arc.centre;
    double angle = std::atan2(b.y(), b.x()) - std::atan2(a.y(), a.x());
    if (!arc.counterClockwise)
        angle = -angle;
    while (angle <= 1e-12)
        angle += 2 * M_PI;
    return angle;
}

Contour::Segment straight(QPointF from, QPointF to)
{
    Contour::Segment segment;
    segment.start = from;
    segment.end = to;
    return segment;
}

} // namespace

Contour::Transform Contour::Transform::then(const Transform &next) const
{
    Transform t;
    t.m11 = next.m11 * m11 + next.m12 * m21;
    t.m12 = next.m11 * m12 + next.m12 * m22;
    t.m21 = next.m21 * m11 + next.m22 * m21;
    t.m22 = next.m21 * m12 + next.m22 * m22;
    t.dx = next.m11 * dx + next.m12 * dy + next.dx;
    t.dy = next.m21 * dx + next.m22 * dy + next.dy;
    return t;
}

Contour Contour::polyline(const QVector<QPointF> &points)
{
    Contour contour;
    for (int i = 1; i < points.size(); ++i)
        contour.pieces.append(straight(points[i - 1], points[i]));
    return contour;
}

void Contour::addLine(QPointF to)
{
    pieces.append(straight(end(), to));
}

void Contour::addArc(QPointF centre, QPointF to, bool counterClockwise)
{
    pieces.append({end(), to, true, centre, counterClockwise});
}

void Contour::addBulge(QPointF to, double bulge)
{
    const QPointF from = end();
    const QPointF chord = to - from;
    const double c = length(chord);
    if (std::fabs(bulge) < 1e-9 || c < 1e-9) {
        pieces.append(straight(from, to));
        return;
    }
    // Distance from the chord's middle to the centre, on the left for a positive bulge.
    const double offset = c * (1 - bulge * bulge) / (4 * bulge);
    const QPointF left(-chord.y() / c, chord.x() / c);
    pieces.append({from, to, true, (from + to) / 2 + left * offset, bulge > 0});
}

bool Contour::isClosed(double tolerance) const
{
    return !isEmpty() && length(end() - start()) <= tolerance
           && (pieces.size() > 1 || (pieces.first().arc && length(end() - start()) <= tolerance));
}

void Contour::reverse()
{
    std::reverse(pieces.begin(), pieces.end());
    for (Segment &s : pieces) {
        std::swap(s.start, s.end);
        s.counterClockwise = !s.counterClockwise;
    }
}

void Contour::append(const Contour &next)
{
    for (int i = 0; i < next.pieces.size(); ++i) {
        Segment s = next.pieces[i];
        // Close the small gap the chaining tolerance allowed.
        if (i == 0 && !isEmpty())
            s.start = end();
        pieces.append(s);
    }
}

Contour Contour::transformed(const Transform &t) const
{
    const double det = t.m11 * t.m22 - t.m12 * t.m21;
    // Arcs stay arcs under rotation, uniform scale and mirroring; anything else bends them.
    const bool similar = std::fabs(std::fabs(t.m11) - std::fabs(t.m22)) < 1e-9
                         && std::fabs(std::fabs(t.m12) - std::fabs(t.m21)) < 1e-9 && std::fabs(det) > 1e-12;
    Contour out;
    for (const Segment &s : pieces) {
        if (s.arc && !similar) {
            const QVector<QPointF> flat = arcPoints(s, 0.001);
            QPointF previous = t.map(s.start);
            for (const QPointF &p : flat) {
                out.pieces.append(straight(previous, t.map(p)));
                previous = t.map(p);
            }
            continue;
        }
        out.pieces.append({t.map(s.start), t.map(s.end), s.arc, t.map(s.centre),
                           det < 0 ? !s.counterClockwise : s.counterClockwise});
    }
    return out;
}

QVector<QPointF> Contour::arcPoints(const Segment &arc, double tolerance)
{
    const QPointF a = arc.start - arc.centre;
    const double radius = length(a);
    const double angle = sweep(arc);
    const double step = radius > tolerance ? 2 * std::acos(1 - tolerance / radius) : M_PI / 4;
    const int steps = std::clamp(static_cast<int>(std::ceil(angle / step)), 1, 10000);
    const double start = std::atan2(a.y(), a.x());
    const double direction = arc.counterClockwise ? 1 : -1;
    QVector<QPointF> points;
    for (int i = 1; i < steps; ++i) {
        const double t = start + direction * angle * i / steps;
        points.append(arc.centre + QPointF(std::cos(t), std::sin(t)) * radius);
    }
    points.append(arc.end);
    return points;
}

QVector<QPointF> Contour::points(double tolerance) const
{
    QVector<QPointF> out;
    if (isEmpty())
        return out;
    out.append(start());
    for (const Segment &s : pieces) {
        if (s.arc)
            out += arcPoints(s, tolerance);
        else
            out.append(s.end);
    }
    return out;
}
