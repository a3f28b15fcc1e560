#include "calcd/pathorder.h"

namespace {

double distanceSquared(QPointF a, QPointF b)
{
    const QPointF d = a - b;
    return d.x() * d.x() + d.y() * d.y();
}

} // namespace

int PathOrder::nearest(const QVector<QPointF> &starts, QPointF from)
{
    int best = -1;
    double bestDistance = 0;
    for (int i = 0; i < starts.size(); ++i) {
        const double d = distanceSquared(starts.at(i), from);
        if (best < 0 || d < bestDistance) {
            best = i;
            bestDistance = d;
        }
    }
    return best;
}
