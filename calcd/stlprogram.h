#ifndef STLPROGRAM_H
#define STLPROGRAM_H

#include <QByteArray>
#include <QStringList>

// 3D milling of an STL part with a flat end mill. The part is placed with its lowest x and y at
// 0 and its top at z 0, and cut no deeper than the cutting depth: first roughing in layers of
// the depth per pass (leaving a small allowance over the part), then a finishing raster along
// x whose heights come from an exact drop-cutter over the triangles.
class StlProgram
{
public:
    struct Cut
    {
        double diameter = 3;
        double depth = 5;
        double feed = 300;
        double depthPerPass = 1;
    };

    static QStringList build(const QByteArray &stl, const Cut &cut);
};

#endif
