#ifndef ISOLATIONPROGRAM_H
#define ISOLATIONPROGRAM_H

#include <polyclipping/clipper.hpp>

#include <QStringList>

// Isolation engraving of a copper layout: the tool centre follows every contour of the copper
// grown by half the engraving width, so the cut touches the copper without entering it and
// every gap wider than the cut is isolated.
//
// A bottom layout is answered mirrored left to right about the vertical centre line of its own
// tool paths (x -> minX + maxX - x), so the answer covers the same X range as the unmirrored
// paths and whoever reads it can undo the mirror from the answer alone. The board is turned over
// about the vertical centre line of the flip frame, which the program centres on all loaded
// layers together. Both lines coincide when the bottom layout is the widest layer, as when it
// carries the board edge or a ground fill to the edges; otherwise the turned bottom copper is off
// by the difference of the design's left and right margins around it.
class IsolationProgram
{
public:
    static QStringList build(const QString &gerber, double toolWidth, double depth, bool mirrored);

    // The tool paths in Clipper units, before ordering; empty when the layout has no copper.
    static ClipperLib::Paths toolPaths(const ClipperLib::Paths &copper, double toolWidth);
    static void mirror(ClipperLib::Paths *paths, ClipperLib::cInt axisTimesTwo);
    static ClipperLib::cInt mirrorAxisTimesTwo(const ClipperLib::Paths &paths);
};

#endif
