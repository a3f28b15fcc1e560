#include "calcd/loopchainer.h"

#include <cmath>

namespace {

bool near(QPointF a, QPointF b, double tolerance)
{
    return std::hypot(a.x() - b.x(), a.y() - b.y()) <= tolerance;
}

// Takes the piece that continues the chain's end, turned to run on from it; false if none does.
bool extend(Contour *chain, QVector<Contour> *pieces, double tolerance)
{
    for (int i = 0; i < pieces->size(); ++i) {
        Contour piece = pieces->at(i);
        if (near(piece.end(), chain->end(), tolerance))
            piece.reverse();
        else if (!near(piece.start(), chain->end(), tolerance))
            continue;
        chain->append(piece);
        pieces->remove(i);
        return true;
    }
    return false;
}

} // namespace

QVector<Contour> LoopChainer::chain(QVector<Contour> pieces, double tolerance, QVector<Contour> *open)
{
    pieces.erase(std::remove_if(pieces.begin(), pieces.end(), [](const Contour &c) { return c.isEmpty(); }),
                 pieces.end());
    QVector<Contour> loops;
    while (!pieces.isEmpty()) {
        Contour chain = pieces.takeFirst();
        while (!chain.isClosed(tolerance) && extend(&chain, &pieces, tolerance)) {
        }
        // An open chain may still continue backwards from its start.
        if (!chain.isClosed(tolerance)) {
            chain.reverse();
            while (!chain.isClosed(tolerance) && extend(&chain, &pieces, tolerance)) {
            }
        }
        if (chain.isClosed(tolerance))
            loops.append(chain);
        else if (open)
            open->append(chain);
    }
    return loops;
}
