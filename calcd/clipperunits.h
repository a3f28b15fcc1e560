#ifndef CLIPPERUNITS_H
#define CLIPPERUNITS_H

#include <polyclipping/clipper.hpp>

#include <QPointF>
#include <cmath>

// Clipper works on integers: geometry is kept in units of 10 nm.
namespace ClipperUnits {

constexpr double perMm = 1e5;
// Largest deviation of a flattened arc from the true arc.
constexpr double arcTolerance = 0.005 * perMm;

inline ClipperLib::IntPoint toInt(double xMm, double yMm)
{
    return ClipperLib::IntPoint(static_cast<ClipperLib::cInt>(std::llround(xMm * perMm)),
                                static_cast<ClipperLib::cInt>(std::llround(yMm * perMm)));
}

inline QPointF toMm(const ClipperLib::IntPoint &p)
{
    return QPointF(p.X / perMm, p.Y / perMm);
}

// One Boolean operation of two sets of closed polygons; overlapping parts of a set count once.
inline ClipperLib::Paths combine(const ClipperLib::Paths &subject, const ClipperLib::Paths &clip,
                                 ClipperLib::ClipType type)
{
    ClipperLib::Clipper clipper;
    clipper.AddPaths(subject, ClipperLib::ptSubject, true);
    clipper.AddPaths(clip, ClipperLib::ptClip, true);
    ClipperLib::Paths out;
    clipper.Execute(type, out, ClipperLib::pftNonZero, ClipperLib::pftNonZero);
    return out;
}

} // namespace ClipperUnits

#endif
