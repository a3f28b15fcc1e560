#include "calcd/loopchainer.h"

#include <algorithm>
#include <cmath>

namespace {

bool near(QPointF a, QPointF b, double tolerance)
{
    return std::hypot(a.x() - b.x(), a.y() - b.y()) <= tolerance;
}

// Takes the piece that continues the chain's end, turned to run on from it; false if none does.
bool extend(LoopChainer::Polyline *chain, QVector<LoopChainer::Polyline> *pieces, double tolerance)
{
    for (int i = 0; i < pieces->size(); ++i) {
        LoopChainer::Polyline piece = pieces->at(i);
        if (near(piece.last(), chain->last(), tolerance))
            std::reverse(piece.begin(), piece.end());
        else if (!near(piece.first(), chain->last(), tolerance))
            continue;
        chain->append(piece.mid(1));
        pieces->remove(i);
        return true;
    }
    return false;
}

} // namespace

QVector<LoopChainer::Polyline> LoopChainer::chain(QVector<Polyline> pieces, double tolerance)
{
    pieces.erase(std::remove_if(pieces.begin(), pieces.end(), [](const Polyline &p) { return p.size() < 2; }),
                 pieces.end());
    QVector<Polyline> loops;
    while (!pieces.isEmpty()) {
        Polyline chain = pieces.takeLast();
        while (!(chain.size() > 3 && near(chain.first(), chain.last(), tolerance))
               && extend(&chain, &pieces, tolerance)) {
        }
        if (chain.size() > 3 && near(chain.first(), chain.last(), tolerance)) {
            chain.removeLast();
            loops.append(chain);
        }
    }
    return loops;
}
