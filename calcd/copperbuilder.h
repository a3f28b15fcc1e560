#ifndef COPPERBUILDER_H
#define COPPERBUILDER_H

#include <polyclipping/clipper.hpp>

#include <gerbv.h>

#include <QPointF>
#include <QVector>

// The copper of a Gerber image as polygons (Clipper units, see ClipperUnits): traces and arcs
// drawn with their aperture, flashes of every aperture type and macro, regions, dark and clear
// polarity, negative images and step and repeat.
class CopperBuilder
{
public:
    struct Copper
    {
        ClipperLib::Paths paths;
        // A negative image is copper wherever it draws nothing, out to the board's edge. Its copper
        // is cut off at this frame, whose edge lies on no real copper edge; all zero otherwise.
        // (As Clipper gives bounds: top is the smaller Y.)
        ClipperLib::IntRect plane{0, 0, 0, 0};
    };

    static Copper build(const gerbv_image_t &image);
    // The points of a drawn net after its start point, in mm: its end, or its flattened arc.
    static QVector<QPointF> netPoints(const gerbv_net_t &net);
};

#endif
