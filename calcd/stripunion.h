#ifndef STRIPUNION_H
#define STRIPUNION_H

#include <polyclipping/clipper.hpp>

// The union of many overlapping polygons (Clipper units, non-zero filling), such as the strokes
// of a hatched copper pour. Clipper sweeps across the whole set at once, and each step of its
// sweep costs as much as the edges it crosses: the board is united in vertical strips, and only
// what touches a border between strips is united once more. The result is Clipper's: outlines
// counter-clockwise, holes clockwise, no two overlapping.
class StripUnion
{
public:
    // single: polygons without holes; withHoles: outlines and their holes, which stay together.
    static ClipperLib::Paths unite(const ClipperLib::Paths &single, const ClipperLib::Paths &withHoles);
};

#endif
