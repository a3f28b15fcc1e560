#include "calcd/copperbuilder.h"

#include "calcd/aperture.h"
#include "calcd/clipperunits.h"
#include "calcd/gerberfile.h"
#include "calcd/stripunion.h"

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
    for (int i = 1; i <= steps; ++i) {
        const double a = arc.angle1 * M_PI / 180 + sweep * i / steps;
        points.append(centre + QPointF(std::cos(a), std::sin(a)) * radius);
    }
    // An arc whose end lies off its circle is drawn by gerbv to its end angle on the circle through
    // its start; the pen then stands at the end point. Both count, so the copper holds either reading.
    const QPointF off = stop - points.last();
    if (std::hypot(off.x(), off.y()) > tolerance)
        points.append(stop);
    else
        points.last() = stop;
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

// Counter-clockwise hull of a set of points (Andrew's monotone chain).
Path convexHull(Path points)
{
    std::sort(points.begin(), points.end(),
              [](const ClipperLib::IntPoint &a, const ClipperLib::IntPoint &b) { return a.X < b.X || (a.X == b.X && a.Y < b.Y); });
    const auto turnsLeft = [](const ClipperLib::IntPoint &o, const ClipperLib::IntPoint &a, const ClipperLib::IntPoint &b) {
        return double(a.X - o.X) * double(b.Y - o.Y) - double(a.Y - o.Y) * double(b.X - o.X) > 0;
    };
    Path hull(2 * points.size());
    size_t k = 0;
    for (size_t i = 0; i < points.size(); ++i) {
        while (k >= 2 && !turnsLeft(hull[k - 2], hull[k - 1], points[i]))
            --k;
        hull[k++] = points[i];
    }
    for (size_t i = points.size() - 1, lower = k + 1; i > 0; --i) {
        while (k >= lower && !turnsLeft(hull[k - 2], hull[k - 1], points[i - 1]))
            --k;
        hull[k++] = points[i - 1];
    }
    hull.resize(k > 0 ? k - 1 : 0);
    return hull;
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
    // Everything the batch draws, repeated and placed.
    Paths shapes();
    bool isClear() const { return layer && layer->polarity == GERBV_POLARITY_CLEAR; }

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
    const QPointF stop(net.stop_x * inch, net.stop_y * inch);
    if (aperture.type == GERBV_APTYPE_RECTANGLE && !isArc(net)) {
        // A rectangle dragged along a line sweeps the hull of where it starts and where it stops.
        const Paths rectangle = Aperture::shape(aperture);
        if (rectangle.empty())
            return;
        Path corners = Aperture::translated({rectangle.front()}, start).front();
        const Path atStop = Aperture::translated({rectangle.front()}, stop).front();
        corners.insert(corners.end(), atStop.begin(), atStop.end());
        filled.push_back(convexHull(corners));
        return;
    }
    // Round apertures, and any other aperture drawn along an arc, trace a round-ended band.
    const double radius = aperture.parameter[0] * inch / 2;
    if (!isArc(net)) {
        filled.push_back(stadium(start, stop, radius));
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
    return StripUnion::unite(filled, withHoles);
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

Paths Batch::shapes()
{
    Paths shapes = repeated(drawn());
    transform(&shapes);
    return shapes;
}

// The copper plane of a negative image: everything drawn and a margin all round, so that the
// plane's pieces near the edge of the drawing stay joined beyond it as they are on the board.
ClipperLib::IntRect planeFrame(const QVector<Paths> &drawings)
{
    constexpr double margin = 2.0 * ClipperUnits::perMm;
    ClipperLib::Clipper bounds;
    for (const Paths &paths : drawings)
        bounds.AddPaths(paths, ClipperLib::ptSubject, true);
    const ClipperLib::IntRect drawn = bounds.GetBounds();
    const auto widened = [](ClipperLib::cInt v, double by) { return v + static_cast<ClipperLib::cInt>(by); };
    return {widened(drawn.left, -margin), widened(drawn.top, -margin), widened(drawn.right, margin),
            widened(drawn.bottom, margin)};
}

} // namespace

CopperBuilder::Copper CopperBuilder::build(const gerbv_image_t &image)
{
    QVector<Paths> drawings;
    QVector<bool> clear;
    std::unique_ptr<Batch> batch;
    const auto finish = [&] {
        drawings.append(batch->shapes());
        clear.append(batch->isClear());
    };
    for (const gerbv_net_t *net = image.netlist; net; net = net->next) {
        if (net->interpolation == GERBV_INTERPOLATION_DELETED)
            continue;
        if (!batch || !batch->holds(*net)) {
            if (batch)
                finish();
            batch = std::make_unique<Batch>(image, net->layer, net->state);
        }
        batch->add(*net);
    }
    if (batch)
        finish();

    Copper copper;
    // A negative image draws by taking copper away: dark takes away, clear adds.
    const bool negative = image.info && image.info->polarity == GERBV_POLARITY_NEGATIVE;
    if (negative && !drawings.isEmpty()) {
        const ClipperLib::IntRect &frame = copper.plane = planeFrame(drawings);
        copper.paths = {{{frame.left, frame.top}, {frame.right, frame.top}, {frame.right, frame.bottom}, {frame.left, frame.bottom}}};
    }
    for (int i = 0; i < drawings.size(); ++i) {
        const bool takesAway = clear[i] != negative;
        if (copper.paths.empty() && !takesAway)
            copper.paths = drawings[i];
        else
            copper.paths = combine(copper.paths, drawings[i], takesAway ? ClipperLib::ctDifference : ClipperLib::ctUnion);
    }
    // Unions and differences of flattened shapes leave specks of no real size where edges meet.
    copper.paths.erase(std::remove_if(copper.paths.begin(), copper.paths.end(),
                                      [](const Path &p) { return std::fabs(ClipperLib::Area(p)) < speck; }),
                       copper.paths.end());
    return copper;
}
