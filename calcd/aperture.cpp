#include "calcd/aperture.h"

#include "calcd/clipperunits.h"
#include "calcd/gerberfile.h"

#include <cmath>

using ClipperLib::Path;
using ClipperLib::Paths;
using ClipperUnits::combine;

namespace {

constexpr double inch = GerberFile::mmPerInch;

QVector<QPointF> rectangle(QPointF centre, double width, double height)
{
    const double w = width / 2, h = height / 2;
    return {centre + QPointF(-w, -h), centre + QPointF(w, -h), centre + QPointF(w, h), centre + QPointF(-w, h)};
}

// Every macro primitive turns about the macro's origin, not about its own centre.
Paths rotated(Paths paths, double degrees)
{
    if (degrees == 0)
        return paths;
    const double c = std::cos(degrees * M_PI / 180), s = std::sin(degrees * M_PI / 180);
    for (Path &path : paths)
        for (ClipperLib::IntPoint &p : path) {
            const double x = double(p.X), y = double(p.Y);
            p.X = static_cast<ClipperLib::cInt>(std::llround(x * c - y * s));
            p.Y = static_cast<ClipperLib::cInt>(std::llround(x * s + y * c));
        }
    return paths;
}

QVector<QPointF> regularPolygon(QPointF centre, double diameter, int corners, double degrees)
{
    QVector<QPointF> points;
    const int n = std::max(3, corners);
    for (int i = 0; i < n; ++i) {
        const double a = (degrees + 360.0 * i / n) * M_PI / 180;
        points.append(centre + QPointF(std::cos(a), std::sin(a)) * diameter / 2);
    }
    return points;
}

// The area between two concentric circles.
Paths ring(QPointF centre, double outer, double inner)
{
    const Paths disc{Aperture::circle(centre, outer)};
    return inner > 0 ? combine(disc, {Aperture::circle(centre, inner)}, ClipperLib::ctDifference) : disc;
}

Paths cross(QPointF centre, double length, double thickness)
{
    return {Aperture::polygon(rectangle(centre, length, thickness)), Aperture::polygon(rectangle(centre, thickness, length))};
}

// Rings, each with its own hole, growing inwards until their number is reached or no room is
// left, and a crosshair over them.
Paths moire(const double *p)
{
    const QPointF centre(p[MOIRE_CENTER_X] * inch, p[MOIRE_CENTER_Y] * inch);
    const double thickness = p[MOIRE_CIRCLE_THICKNESS] * inch, gap = p[MOIRE_GAP_WIDTH] * inch;
    Paths shape = cross(centre, p[MOIRE_CROSSHAIR_LENGTH] * inch, p[MOIRE_CROSSHAIR_THICKNESS] * inch);
    double outer = p[MOIRE_OUTSIDE_DIAMETER] * inch;
    for (int i = 0; i < static_cast<int>(p[MOIRE_NUMBER_OF_CIRCLES]) && outer > 0; ++i) {
        const Paths circle = ring(centre, outer, outer - 2 * thickness);
        shape.insert(shape.end(), circle.begin(), circle.end());
        outer -= 2 * (thickness + gap);
    }
    return combine(shape, {}, ClipperLib::ctUnion);
}

Paths thermal(const double *p)
{
    const QPointF centre(p[THERMAL_CENTER_X] * inch, p[THERMAL_CENTER_Y] * inch);
    const double outer = p[THERMAL_OUTSIDE_DIAMETER] * inch;
    return combine(ring(centre, outer, p[THERMAL_INSIDE_DIAMETER] * inch),
                   cross(centre, 2 * outer, p[THERMAL_CROSSHAIR_THICKNESS] * inch), ClipperLib::ctDifference);
}

QVector<QPointF> vectorLine(const double *p)
{
    const QPointF start(p[LINE20_START_X] * inch, p[LINE20_START_Y] * inch);
    const QPointF end(p[LINE20_END_X] * inch, p[LINE20_END_Y] * inch);
    const QPointF along = end - start;
    const double length = std::hypot(along.x(), along.y());
    if (length <= 0)
        return {};
    const QPointF side = QPointF(-along.y(), along.x()) / length * (p[LINE20_LINE_WIDTH] * inch / 2);
    return {start - side, end - side, end + side, start + side};
}

// Exposure of a primitive: on adds copper, off removes it. Moiré and thermal have none.
bool exposed(const gerbv_simplified_amacro_t &primitive)
{
    switch (primitive.type) {
    case GERBV_APTYPE_MACRO_MOIRE:
    case GERBV_APTYPE_MACRO_THERMAL:
        return true;
    default:
        return primitive.parameter[0] != 0;
    }
}

// A primitive as it stands before its rotation, and its rotation in degrees.
Paths unrotatedShape(const gerbv_simplified_amacro_t &primitive, double *degrees)
{
    const double *p = primitive.parameter;
    switch (primitive.type) {
    case GERBV_APTYPE_MACRO_CIRCLE:
        // The rotation of a circle only matters when it lies off the origin.
        *degrees = p[CIRCLE_CENTER_Y + 1];
        return {Aperture::circle(QPointF(p[CIRCLE_CENTER_X], p[CIRCLE_CENTER_Y]) * inch, p[CIRCLE_DIAMETER] * inch)};
    case GERBV_APTYPE_MACRO_OUTLINE: {
        const int count = static_cast<int>(p[OUTLINE_NUMBER_OF_POINTS]);
        if (count < 1 || OUTLINE_ROTATION_IDX(p) >= APERTURE_PARAMETERS_MAX)
            return {};
        QVector<QPointF> points;
        for (int i = 0; i <= count; ++i)
            points.append(QPointF(p[OUTLINE_X_IDX_OF_POINT(i)], p[OUTLINE_Y_IDX_OF_POINT(i)]) * inch);
        *degrees = p[OUTLINE_ROTATION_IDX(p)];
        return {Aperture::polygon(points)};
    }
    case GERBV_APTYPE_MACRO_POLYGON:
        *degrees = p[POLYGON_ROTATION];
        return {Aperture::polygon(regularPolygon(QPointF(p[POLYGON_CENTER_X], p[POLYGON_CENTER_Y]) * inch,
                                                 p[POLYGON_DIAMETER] * inch, static_cast<int>(p[POLYGON_NUMBER_OF_POINTS]), 0))};
    case GERBV_APTYPE_MACRO_MOIRE:
        *degrees = p[MOIRE_ROTATION];
        return moire(p);
    case GERBV_APTYPE_MACRO_THERMAL:
        *degrees = p[THERMAL_ROTATION];
        return thermal(p);
    case GERBV_APTYPE_MACRO_LINE20:
        *degrees = p[LINE20_ROTATION];
        return {Aperture::polygon(vectorLine(p))};
    case GERBV_APTYPE_MACRO_LINE21:
        *degrees = p[LINE21_ROTATION];
        return {Aperture::polygon(rectangle(QPointF(p[LINE21_CENTER_X], p[LINE21_CENTER_Y]) * inch,
                                            p[LINE21_WIDTH] * inch, p[LINE21_HEIGHT] * inch))};
    case GERBV_APTYPE_MACRO_LINE22: {
        const double w = p[LINE22_WIDTH] * inch, h = p[LINE22_HEIGHT] * inch;
        *degrees = p[LINE22_ROTATION];
        return {Aperture::polygon(rectangle(QPointF(p[LINE22_LOWER_LEFT_X], p[LINE22_LOWER_LEFT_Y]) * inch + QPointF(w, h) / 2, w, h))};
    }
    default:
        return {};
    }
}

Paths primitiveShape(const gerbv_simplified_amacro_t &primitive)
{
    double degrees = 0;
    const Paths shape = unrotatedShape(primitive, &degrees);
    return rotated(shape, degrees);
}

} // namespace

Path Aperture::polygon(const QVector<QPointF> &pointsMm)
{
    Path path;
    path.reserve(pointsMm.size());
    for (const QPointF &p : pointsMm)
        path.push_back(ClipperUnits::toInt(p.x(), p.y()));
    // Outline primitives may run either way round; copper is the filled inside.
    if (!ClipperLib::Orientation(path))
        ClipperLib::ReversePath(path);
    return path;
}

Path Aperture::circle(QPointF centreMm, double diameterMm)
{
    const double radius = diameterMm / 2;
    const double tolerance = ClipperUnits::arcTolerance / ClipperUnits::perMm;
    const int steps = radius <= tolerance
                          ? 8
                          : std::clamp(static_cast<int>(std::ceil(M_PI / std::acos(1 - tolerance / radius))), 8, 2000);
    return polygon(regularPolygon(centreMm, diameterMm, steps, 0));
}

Paths Aperture::translated(const Paths &paths, QPointF byMm)
{
    const ClipperLib::IntPoint by = ClipperUnits::toInt(byMm.x(), byMm.y());
    Paths out = paths;
    for (Path &path : out)
        for (ClipperLib::IntPoint &p : path) {
            p.X += by.X;
            p.Y += by.Y;
        }
    return out;
}

Paths Aperture::shape(const gerbv_aperture_t &aperture)
{
    const double *p = aperture.parameter;
    Paths outline;
    switch (aperture.type) {
    case GERBV_APTYPE_CIRCLE:
        outline = {circle({}, p[0] * inch)};
        break;
    case GERBV_APTYPE_RECTANGLE:
        outline = {polygon(rectangle({}, p[0] * inch, p[1] * inch))};
        break;
    case GERBV_APTYPE_OVAL: {
        const double w = p[0] * inch, h = p[1] * inch, d = std::min(w, h);
        const QPointF half = w > h ? QPointF((w - d) / 2, 0) : QPointF(0, (h - d) / 2);
        outline = combine({circle(-half, d), circle(half, d)}, {polygon(rectangle({}, w - (w > h ? d : 0), h - (w > h ? 0 : d)))},
                          ClipperLib::ctUnion);
        break;
    }
    case GERBV_APTYPE_POLYGON:
        outline = {polygon(regularPolygon({}, p[0] * inch, static_cast<int>(p[1]), p[2]))};
        break;
    case GERBV_APTYPE_MACRO:
        return macro(aperture.simplified);
    default:
        return {};
    }
    // Standard apertures may carry a round hole in their middle.
    const int holeIndex = aperture.type == GERBV_APTYPE_CIRCLE ? 1 : aperture.type == GERBV_APTYPE_POLYGON ? 3 : 2;
    if (aperture.nuf_parameters > holeIndex && p[holeIndex] > 0)
        outline = combine(outline, {circle({}, p[holeIndex] * inch)}, ClipperLib::ctDifference);
    return outline;
}

Paths Aperture::macro(const gerbv_simplified_amacro_t *primitives)
{
    Paths shape;
    for (const gerbv_simplified_amacro_t *primitive = primitives; primitive; primitive = primitive->next)
        shape = combine(shape, primitiveShape(*primitive),
                        exposed(*primitive) ? ClipperLib::ctUnion : ClipperLib::ctDifference);
    return shape;
}
