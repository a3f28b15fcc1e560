#ifndef APERTURE_H
#define APERTURE_H

#include <polyclipping/clipper.hpp>

#include <gerbv.h>

#include <QPointF>
#include <QVector>

// Shapes of Gerber apertures, centred on the origin, in Clipper units.
class Aperture
{
public:
    static ClipperLib::Paths shape(const gerbv_aperture_t &aperture);
    static ClipperLib::Path circle(QPointF centreMm, double diameterMm);
    static ClipperLib::Path polygon(const QVector<QPointF> &pointsMm);
    static ClipperLib::Paths translated(const ClipperLib::Paths &paths, QPointF byMm);

private:
    static ClipperLib::Paths macro(const gerbv_simplified_amacro_t *primitives);
};

#endif
