#ifndef COPPERISLANDS_H
#define COPPERISLANDS_H

#include <polyclipping/clipper.hpp>

#include <QVector>

// The connected pieces of a layer's copper: each outer outline with the holes in it that hold
// other copper. Holes that hold none (the meshes of a hatched pour, the eye of a ring) isolate
// nothing and are left out, as if filled with copper.
class CopperIslands
{
public:
    // Copper as Clipper's union gives it: outlines counter-clockwise, holes clockwise.
    explicit CopperIslands(const ClipperLib::Paths &copper);

    int count() const { return outlines.size(); }
    const ClipperLib::Path &outline(int island) const { return outlines[island]; }
    // Outline and kept holes of one island.
    ClipperLib::Paths island(int index) const;
    // Every outline and every kept hole.
    ClipperLib::Paths filled() const;

private:
    QVector<ClipperLib::Path> outlines;
    QVector<ClipperLib::Paths> holes;
};

#endif
