#ifndef ISOLATIONPROGRAM_H
#define ISOLATIONPROGRAM_H

#include <polyclipping/clipper.hpp>

#include <QStringList>

// Isolation engraving of a copper layout: the tool centre follows every contour of the copper
// grown by half the engraving width, so the cut touches the copper without entering it and
// every gap wider than the cut is isolated.
//
// A bottom layout is answered mirrored left to right about the vertical centre line of its own
// copper (x -> minX + maxX - x), so the milled pattern keeps the same extent as the copper. The
// board is turned over about the vertical centre line of the flip frame; both lines coincide
// when the bottom copper sits centred left to right within the design, and they are off by
// half the difference of its left and right margins otherwise.
class IsolationProgram
{
public:
    static QStringList build(const QString &gerber, double toolWidth, double depth, bool mirrored);

    // The tool paths in Clipper units, before ordering; empty when the layout has no copper.
    static ClipperLib::Paths toolPaths(const ClipperLib::Paths &copper, double toolWidth);
    static void mirror(ClipperLib::Paths *paths, ClipperLib::cInt axisTimesTwo);
    static ClipperLib::cInt mirrorAxisTimesTwo(const ClipperLib::Paths &copper);
};

#endif
