#include "calcd/copperislands.h"

#include "calcd/pathlocator.h"

CopperIslands::CopperIslands(const ClipperLib::Paths &copper)
{
    QVector<const ClipperLib::Path *> allHoles;
    for (const ClipperLib::Path &path : copper) {
        if (ClipperLib::Orientation(path))
            outlines.append(path);
        else
            allHoles.append(&path);
    }
    holes.resize(outlines.size());

    // A hole holds copper when an outline lies in it; the smallest hole around an outline is the
    // one it lies in directly.
    const PathLocator holeAt(allHoles);
    QVector<bool> holdsCopper(allHoles.size(), false);
    for (const ClipperLib::Path &outline : outlines) {
        const int hole = holeAt.smallestHolding(outline.front());
        if (hole >= 0)
            holdsCopper[hole] = true;
    }
    QVector<const ClipperLib::Path *> outlinePointers;
    for (const ClipperLib::Path &outline : outlines)
        outlinePointers.append(&outline);
    const PathLocator islandAt(outlinePointers);
    for (int i = 0; i < allHoles.size(); ++i) {
        if (!holdsCopper[i])
            continue;
        const int owner = islandAt.smallestHolding(allHoles[i]->front());
        if (owner >= 0)
            holes[owner].push_back(*allHoles[i]);
    }
}

ClipperLib::Paths CopperIslands::island(int index) const
{
    ClipperLib::Paths paths{outlines[index]};
    paths.insert(paths.end(), holes[index].begin(), holes[index].end());
    return paths;
}

ClipperLib::Paths CopperIslands::filled() const
{
    ClipperLib::Paths paths;
    for (int i = 0; i < outlines.size(); ++i) {
        paths.push_back(outlines[i]);
        paths.insert(paths.end(), holes[i].begin(), holes[i].end());
    }
    return paths;
}
