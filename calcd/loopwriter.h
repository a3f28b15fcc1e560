#ifndef LOOPWRITER_H
#define LOOPWRITER_H

#include "calcd/gcodewriter.h"

#include <polyclipping/clipper.hpp>

#include <QPointF>

// Writes closed loops (Clipper units) as engraving moves: each loop entered at its vertex
// nearest to where the tool is.
class LoopWriter
{
public:
    LoopWriter(GcodeWriter *out, double safeHeight) : out(out), safeHeight(safeHeight) {}
    void write(ClipperLib::Paths loops, double depth);

private:
    void writeLoop(const ClipperLib::Path &loop, double depth);

    GcodeWriter *out;
    double safeHeight;
    QPointF position;
};

#endif
