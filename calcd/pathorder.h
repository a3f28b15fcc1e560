#ifndef PATHORDER_H
#define PATHORDER_H

#include <QPointF>
#include <QVector>

// Travel order for points to be visited one after another: always the nearest unvisited one.
class PathOrder
{
public:
    static QVector<QPointF> nearestFirst(QVector<QPointF> points, QPointF start);
    // Index of the element of starts nearest to from.
    static int nearest(const QVector<QPointF> &starts, QPointF from);
};

#endif
