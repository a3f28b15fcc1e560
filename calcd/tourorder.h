#ifndef TOURORDER_H
#define TOURORDER_H

#include <QPointF>
#include <QVector>

#include <algorithm>
#include <cmath>

// Order in which the tool visits places one after another (holes, or loops it may enter at any of
// their vertices). A rapid move costs the larger of its X and Y distances, since GRBL moves both
// axes at once. The order is built nearest first, then improved with 2-opt and Or-opt moves among
// each place's nearest neighbours, and each loop is entered where it costs least between the
// places before and after it. The path is open: it ends wherever the last place is.
class TourOrder
{
public:
    struct Stop
    {
        int place;
        int entry;
    };

    // entries[place] are the points where a place can be entered (at least one each); start is
    // where the tool is before the first place.
    static QVector<Stop> order(const QVector<QVector<QPointF>> &entries, QPointF start);
    static QVector<int> order(const QVector<QPointF> &points, QPointF start);

    static double distance(QPointF a, QPointF b)
    {
        return std::max(std::fabs(a.x() - b.x()), std::fabs(a.y() - b.y()));
    }
    static double length(const QVector<QPointF> &path);
};

#endif
