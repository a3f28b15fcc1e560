#ifndef DXFPROGRAM_H
#define DXFPROGRAM_H

#include <QStringList>

// Engraving program for a DXF drawing: loose lines and arcs are chained into closed figures;
// each figure, introduced by its shape comment, is engraved in passes of the given depth down
// to the cutting depth, with arcs kept as G2/G3 moves. With the trace depth the program only
// needs the figures' shapes (it offsets them itself): each closed figure is traced exactly once
// at that depth, and open chains are left out; otherwise open chains are engraved too.
class DxfProgram
{
public:
    struct Cut
    {
        double feed = 33;
        double depthPerPass = 0.25;
        double depth = 1;
        double spindle = 12000;
    };

    static QStringList build(const QString &dxf, const Cut &cut);

    static constexpr double traceDepth = 1e-7;
};

#endif
