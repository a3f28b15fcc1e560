#ifndef PATHORDER_H
#define PATHORDER_H

#include <QPointF>
#include <QVector>

// The nearest of several places to start from.
class PathOrder
{
public:
    // Index of the element of starts nearest to from.
    static int nearest(const QVector<QPointF> &starts, QPointF from);
};

#endif
