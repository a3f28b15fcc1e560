#include "calcd/copperbuilder.h"

#include "calcd/aperture.h"
#include "calcd/clipperunits.h"
#include "calcd/gerberfile.h"

#include <QMap>
#include <QVector>
#include <cmath>
#include <memory>

using ClipperLib::Path;
using ClipperLib::Paths;
using ClipperUnits::combine;

namespace {

constexpr double inch = GerberFile::mmPerInch;

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
    void addRegionNet(const gerbv_net_t &net);
    void closeContour();
    void addStroke(const gerbv_net_t &net, const gerbv_aperture_t &aperture);
    Paths drawn();
    Paths repeated(const Paths &once) const;
    void transform(Paths *paths) const;

    const gerbv_image_t &image;
    const gerbv_layer_t *layer;
    const gerbv_netstate_t *state;
    Paths filled;
    QMap<double, Paths> roundStrokes;
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
        const Paths shape = Aperture::translated(Aperture::shape(*aperture), QPointF(net.stop_x, net.stop_y) * inch);
        filled.insert(filled.end(), shape.begin(), shape.end());
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
        filled.insert(filled.end(), swept.begin(), swept.end());
        return;
    }
    // Round apertures, and any other aperture drawn along an arc, trace a round-ended band.
    QVector<QPointF> line{start};
    line += CopperBuilder::netPoints(net);
    roundStrokes[aperture.parameter[0] * inch].push_back(toPath(line));
}

Paths Batch::drawn()
{
    closeContour();
    Paths shapes = filled;
    for (auto group = roundStrokes.cbegin(); group != roundStrokes.cend(); ++group) {
        ClipperLib::ClipperOffset offset(2.0, ClipperUnits::arcTolerance);
        offset.AddPaths(group.value(), ClipperLib::jtRound, ClipperLib::etOpenRound);
        Paths bands;
        offset.Execute(bands, group.key() / 2 * ClipperUnits::perMm);
        // The offset comes out united already; a layer of one trace width needs no second pass.
        if (filled.empty() && roundStrokes.size() == 1)
            return bands;
        shapes.insert(shapes.end(), bands.begin(), bands.end());
    }
    return combine(shapes, {}, ClipperLib::ctUnion);
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
    return copper;
}
