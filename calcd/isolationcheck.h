#ifndef ISOLATIONCHECK_H
#define ISOLATIONCHECK_H

#include <polyclipping/clipper.hpp>

#include <QPointF>
#include <QVector>

class CopperIslands;

// Places where two different pieces of copper lie so close that the tool paths around them,
// grown by the given distance, run into each other: the tool cannot pass between them there.
class IsolationCheck
{
public:
    // outlines: the outer loops of the whole copper grown by delta (Clipper units). One place (in
    // mm) per region where the grown pieces overlap.
    static QVector<QPointF> tooClose(const CopperIslands &islands, const QVector<const ClipperLib::Path *> &outlines,
                                     double delta);
};

#endif
