#ifndef LOOPWRITER_H
#define LOOPWRITER_H

#include "calcd/gcodewriter.h"

#include <polyclipping/clipper.hpp>

// Writes closed loops (Clipper units) as engraving moves, in a short travel order (see
// TourOrder), each loop entered at the vertex that costs least between its neighbours.
class LoopWriter
{
public:
    LoopWriter(GcodeWriter *out, double safeHeight) : out(out), safeHeight(safeHeight) {}
    void write(const ClipperLib::Paths &loops, double depth);

private:
    void writeLoop(const ClipperLib::Path &loop, size_t entry, double depth);

    GcodeWriter *out;
    double safeHeight;
};

#endif
