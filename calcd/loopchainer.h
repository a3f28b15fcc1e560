#ifndef LOOPCHAINER_H
#define LOOPCHAINER_H

#include <QPointF>
#include <QVector>

// Joins loose pieces of line (polylines in mm, in any direction and order) into closed loops:
// pieces whose ends lie within the tolerance of each other are joined. Pieces that do not end
// up in a closed loop are dropped.
class LoopChainer
{
public:
    using Polyline = QVector<QPointF>;
    static QVector<Polyline> chain(QVector<Polyline> pieces, double tolerance);
};

#endif
