#include "calcd/copperbuilder.h"

#include "calcd/aperture.h"
#include "calcd/clipperunits.h"
#include "calcd/gerberfile.h"

#include <QVector>
#include <cmath>
#include <limits>
#include <memory>

using ClipperLib::Path;
using ClipperLib::Paths;
using ClipperUnits::combine;

namespace {

constexpr double inch = GerberFile::mmPerInch;
constexpr double speck = 1e-5 * ClipperUnits::perMm * ClipperUnits::perMm;

bool isArc(const gerbv_net_t &net)
{
    return (net.interpolation == GERBV_INTERPOLATION_CW_CIRCULAR
            || net.interpolation == GERBV_INTERPOLATION_CCW_CIRCULAR)
           && net.cirseg;
}

} // namespace

QVector<QPointF> CopperBuilder::netPoints(const gerbv_net_t &net)
{
    const QPointF stop(net.stop_x * inch, net.stop_y * inch);
    if (!isArc(net))
        return {stop};
    const gerbv_cirseg_t &arc = *net.cirseg;
    const QPointF centre(arc.cp_x * inch, arc.cp_y * inch);
    const double radius = arc.width * inch / 2;
    const double sweep = (arc.angle2 - arc.angle1) * M_PI / 180;
    const double tolerance = ClipperUnits::arcTolerance / ClipperUnits::perMm;
    const double step = radius > tolerance ? 2 * std::acos(1 - tolerance / radius) : M_PI / 4;
    const int steps = std::clamp(static_cast<int>(std::ceil(std::fabs(sweep) / step)), 1, 4000);
    QVector<QPointF> points;
    for (int i = 1; i < steps; ++i) {
        const double a = arc.angle1 * M_PI / 180 + sweep * i / steps;
        points.append(centre + QPointF(std::cos(a), std::sin(a)) * radius);
    }
    points.append(stop);
    return points;
}

namespace {

// A straight stroke of a round aperture: the segment grown by the radius, its round ends
// flattened as finely as Clipper flattens arcs. Built directly, since thousands of them (a
// hatched pour) are far cheaper to unite once than through an offset of each.
Path stadium(QPointF from, QPointF to, double radius)
{
    if (from == to)
        return Aperture::circle(from, 2 * radius);
    const double tolerance = ClipperUnits::arcTolerance / ClipperUnits::perMm;
    const double step = radius > tolerance ? 2 * std::acos(1 - tolerance / radius) : M_PI / 2;
    const int steps = std::clamp(static_cast<int>(std::ceil(M_PI / step)), 2, 1000);
    const double direction = std::atan2(to.y() - from.y(), to.x() - from.x());
    Path path;
    path.reserve(2 * steps + 2);
    for (const QPointF &end : {to, from}) {
        const double first = direction - M_PI / 2 + (end == from ? M_PI : 0);
        for (int i = 0; i <= steps; ++i) {
            const double a = first + M_PI * i / steps;
            path.push_back(ClipperUnits::toInt(end.x() + radius * std::cos(a), end.y() + radius * std::sin(a)));
        }
    }
    return path;
}

bool isConvex(const Path &polygon)
{
    bool left = false, right = false;
    for (size_t i = 0; i < polygon.size(); ++i) {
        const ClipperLib::IntPoint &a = polygon[i], &b = polygon[(i + 1) % polygon.size()],
                                   &c = polygon[(i + 2) % polygon.size()];
        const double cross = double(b.X - a.X) * double(c.Y - b.Y) - double(b.Y - a.Y) * double(c.X - b.X);
        left = left || cross > 0;
        right = right || cross < 0;
    }
    return !(left && right);
}

// The part of a convex polygon between two vertical lines (Sutherland-Hodgman against each).
Path clippedToStrip(const Path &polygon, ClipperLib::cInt left, ClipperLib::cInt right)
{
    Path path = polygon;
    for (const bool keepRight : {true, false}) {
        const ClipperLib::cInt edge = keepRight ? left : right;
        const auto inside = [&](const ClipperLib::IntPoint &p) { return keepRight ? p.X >= edge : p.X <= edge; };
        Path out;
        for (size_t i = 0; i < path.size(); ++i) {
            const ClipperLib::IntPoint &a = path[i], &b = path[(i + 1) % path.size()];
            if (inside(a))
                out.push_back(a);
            if (inside(a) != inside(b)) {
                const double t = double(edge - a.X) / double(b.X - a.X);
                out.push_back({edge, a.Y + static_cast<ClipperLib::cInt>(std::llround(t * double(b.Y - a.Y)))});
            }
        }
        path = out;
    }
    return path;
}

// Union of many overlapping polygons, and of shapes with holes (kept whole). Clipper sweeps
// across the whole set, and each step of its sweep costs as much as the edges it crosses: a
// board full of crossing hatch lines is united much faster strip by strip, the strips then
// joined in one sweep that meets few crossings.
Paths unite(const Paths &shapes, const Paths &withHoles)
{
    constexpr int strips = 8;
    if (shapes.size() < 1000) {
        Paths all = shapes;
        all.insert(all.end(), withHoles.begin(), withHoles.end());
        return combine(all, {}, ClipperLib::ctUnion);
    }
    ClipperLib::cInt low = std::numeric_limits<ClipperLib::cInt>::max(), high = std::numeric_limits<ClipperLib::cInt>::min();
    for (const Path &path : shapes)
        for (const ClipperLib::IntPoint &p : path) {
            low = std::min(low, p.X);
            high = std::max(high, p.X);
        }
    const double width = double(high - low) / strips;
    const auto stripOf = [&](ClipperLib::cInt x) { return std::clamp(static_cast<int>((x - low) / width), 0, strips - 1); };
    QVector<Paths> parts(strips);
    Paths wide = withHoles;
    for (const Path &path : shapes) {
        ClipperLib::cInt left = high, right = low;
        for (const ClipperLib::IntPoint &p : path) {
            left = std::min(left, p.X);
            right = std::max(right, p.X);
        }
        const int first = stripOf(left), last = stripOf(right);
        if (first == last) {
            parts[first].push_back(path);
            continue;
        }
        // Cutting a concave polygon this way could join its parts along the cut: it joins whole.
        if (!isConvex(path)) {
            wide.push_back(path);
            continue;
        }
        for (int strip = first; strip <= last; ++strip) {
            const Path piece = clippedToStrip(path, low + static_cast<ClipperLib::cInt>(std::llround(strip * width)),
                                              strip + 1 == strips ? high : low + static_cast<ClipperLib::cInt>(std::llround((strip + 1) * width)));
            if (piece.size() >= 3)
                parts[strip].push_back(piece);
        }
    }
    Paths united = wide;
    for (const Paths &part : qAsConst(parts)) {
        const Paths u = combine(part, {}, ClipperLib::ctUnion);
        united.insert(united.end(), u.begin(), u.end());
    }
    return combine(united, {}, ClipperLib::ctUnion);
}

Path toPath(const QVector<QPointF> &points)
{
    Path path;
    for (const QPointF &p : points)
        path.push_back(ClipperUnits::toInt(p.x(), p.y()));
    return path;
}

// Everything drawn under one layer (polarity, step and repeat) and one state (offset, scale).
class Batch
{
public:
    Batch(const gerbv_image_t &image, const gerbv_layer_t *layer, const gerbv_netstate_t *state)
        : image(image), layer(layer), state(state)
    {
    }

    bool holds(const gerbv_net_t &net) const { return net.layer == layer && net.state == state; }
    void add(const gerbv_net_t &net);
    void applyTo(Paths *copper);

private:
    const gerbv_aperture_t *apertureOf(const gerbv_net_t &net) const;
    void add(const Paths &shape);
    void addRegionNet(const gerbv_net_t &net);
    void closeContour();
    void addStroke(const gerbv_net_t &net, const gerbv_aperture_t &aperture);
    Paths drawn();
    Paths repeated(const Paths &once) const;
    void transform(Paths *paths) const;

    const gerbv_image_t &image;
    const gerbv_layer_t *layer;
    const gerbv_netstate_t *state;
    // Single polygons, and shapes made of an outline and its holes, which must stay together.
    Paths filled;
    Paths withHoles;
    QVector<QPointF> contour;
    bool inRegion = false;
};

const gerbv_aperture_t *Batch::apertureOf(const gerbv_net_t &net) const
{
    if (net.aperture < 0 || net.aperture >= APERTURE_MAX)
        return nullptr;
    return image.aperture[net.aperture];
}

void Batch::add(const gerbv_net_t &net)
{
    if (net.interpolation == GERBV_INTERPOLATION_PAREA_START) {
        inRegion = true;
        contour.clear();
        return;
    }
    if (net.interpolation == GERBV_INTERPOLATION_PAREA_END) {
        closeContour();
        inRegion = false;
        return;
    }
    if (inRegion) {
        addRegionNet(net);
        return;
    }
    const gerbv_aperture_t *aperture = apertureOf(net);
    if (!aperture)
        return;
    if (net.aperture_state == GERBV_APERTURE_STATE_FLASH) {
        add(Aperture::translated(Aperture::shape(*aperture), QPointF(net.stop_x, net.stop_y) * inch));
    } else if (net.aperture_state == GERBV_APERTURE_STATE_ON) {
        addStroke(net, *aperture);
    }
}

void Batch::addRegionNet(const gerbv_net_t &net)
{
    if (net.aperture_state == GERBV_APERTURE_STATE_OFF) {
        closeContour();
        contour = {QPointF(net.stop_x, net.stop_y) * inch};
        return;
    }
    if (contour.isEmpty())
        contour.append(QPointF(net.start_x, net.start_y) * inch);
    contour += CopperBuilder::netPoints(net);
}

void Batch::closeContour()
{
    if (contour.size() >= 3) {
        Path path = toPath(contour);
        if (!ClipperLib::Orientation(path))
            ClipperLib::ReversePath(path);
        filled.push_back(path);
    }
    contour.clear();
}

void Batch::addStroke(const gerbv_net_t &net, const gerbv_aperture_t &aperture)
{
    const QPointF start(net.start_x * inch, net.start_y * inch);
    if (aperture.type == GERBV_APTYPE_RECTANGLE && !isArc(net)) {
        // A rectangle dragged along a line sweeps its Minkowski sum with the line.
        const Paths rectangle = Aperture::shape(aperture);
        if (rectangle.empty())
            return;
        Paths swept;
        ClipperLib::MinkowskiSum(rectangle.front(), toPath({start, QPointF(net.stop_x, net.stop_y) * inch}), swept, false);
        add(swept);
        return;
    }
    // Round apertures, and any other aperture drawn along an arc, trace a round-ended band.
    const double radius = aperture.parameter[0] * inch / 2;
    if (!isArc(net)) {
        filled.push_back(stadium(start, QPointF(net.stop_x, net.stop_y) * inch, radius));
        return;
    }
    QVector<QPointF> line{start};
    line += CopperBuilder::netPoints(net);
    ClipperLib::ClipperOffset offset(2.0, ClipperUnits::arcTolerance);
    offset.AddPath(toPath(line), ClipperLib::jtRound, ClipperLib::etOpenRound);
    Paths band;
    offset.Execute(band, radius * ClipperUnits::perMm);
    add(band);
}

void Batch::add(const Paths &shape)
{
    Paths &to = shape.size() > 1 ? withHoles : filled;
    to.insert(to.end(), shape.begin(), shape.end());
}

Paths Batch::drawn()
{
    closeContour();
    return unite(filled, withHoles);
}

Paths Batch::repeated(const Paths &once) const
{
    const gerbv_step_and_repeat_t &sr = layer->stepAndRepeat;
    if (sr.X <= 1 && sr.Y <= 1)
        return once;
    Paths copies;
    for (int i = 0; i < std::max(1, sr.X); ++i)
        for (int j = 0; j < std::max(1, sr.Y); ++j) {
            const Paths copy = Aperture::translated(once, QPointF(i * sr.dist_X, j * sr.dist_Y) * inch);
            copies.insert(copies.end(), copy.begin(), copy.end());
        }
    return combine(copies, {}, ClipperLib::ctUnion);
}

void Batch::transform(Paths *paths) const
{
    if (!state)
        return;
    const double sx = state->scaleA == 0 ? 1 : state->scaleA, sy = state->scaleB == 0 ? 1 : state->scaleB;
    const double ox = state->offsetA * inch * ClipperUnits::perMm, oy = state->offsetB * inch * ClipperUnits::perMm;
    if (sx == 1 && sy == 1 && ox == 0 && oy == 0)
        return;
    for (Path &path : *paths)
        for (ClipperLib::IntPoint &p : path) {
            p.X = static_cast<ClipperLib::cInt>(std::llround(p.X * sx + ox));
            p.Y = static_cast<ClipperLib::cInt>(std::llround(p.Y * sy + oy));
        }
}

void Batch::applyTo(Paths *copper)
{
    Paths shapes = repeated(drawn());
    transform(&shapes);
    const bool clear = layer && layer->polarity == GERBV_POLARITY_CLEAR;
    if (copper->empty() && !clear)
        *copper = shapes;
    else
        *copper = combine(*copper, shapes, clear ? ClipperLib::ctDifference : ClipperLib::ctUnion);
}

} // namespace

Paths CopperBuilder::build(const gerbv_image_t &image)
{
    Paths copper;
    std::unique_ptr<Batch> batch;
    for (const gerbv_net_t *net = image.netlist; net; net = net->next) {
        if (net->interpolation == GERBV_INTERPOLATION_DELETED)
            continue;
        if (!batch || !batch->holds(*net)) {
            if (batch)
                batch->applyTo(&copper);
            batch = std::make_unique<Batch>(image, net->layer, net->state);
        }
        batch->add(*net);
    }
    if (batch)
        batch->applyTo(&copper);
    // Unions and differences of flattened shapes leave specks of no real size where edges meet.
    copper.erase(std::remove_if(copper.begin(), copper.end(),
                                [](const Path &p) { return std::fabs(ClipperLib::Area(p)) < speck; }),
                 copper.end());
    return copper;
}
