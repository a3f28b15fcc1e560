#ifndef COPPERBUILDER_H
#define COPPERBUILDER_H

#include <polyclipping/clipper.hpp>

#include <gerbv.h>

#include <QPointF>
#include <QVector>

// The copper of a Gerber image as polygons (Clipper units, see ClipperUnits): traces and arcs
// drawn with their aperture, flashes of every aperture type and macro, regions, clear polarity
// and step and repeat.
class CopperBuilder
{
public:
    static ClipperLib::Paths build(const gerbv_image_t &image);
    // The points of a drawn net after its start point, in mm: its end, or its flattened arc.
    static QVector<QPointF> netPoints(const gerbv_net_t &net);
};

#endif
