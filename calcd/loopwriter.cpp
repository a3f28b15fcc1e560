#include "calcd/loopwriter.h"

#include "calcd/clipperunits.h"
#include "calcd/pathorder.h"

#include <QVector>

void LoopWriter::write(ClipperLib::Paths loops, double depth)
{
    QVector<QPointF> starts;
    for (const ClipperLib::Path &loop : loops)
        starts.append(ClipperUnits::toMm(loop.front()));
    while (!loops.empty()) {
        const int next = PathOrder::nearest(starts, position);
        ClipperLib::Path loop = loops[next];
        loops[next] = loops.back();
        loops.pop_back();
        starts[next] = starts.last();
        starts.removeLast();
        QVector<QPointF> vertices;
        for (const ClipperLib::IntPoint &p : loop)
            vertices.append(ClipperUnits::toMm(p));
        std::rotate(loop.begin(), loop.begin() + PathOrder::nearest(vertices, position), loop.end());
        writeLoop(loop, depth);
    }
}

void LoopWriter::writeLoop(const ClipperLib::Path &loop, double depth)
{
    const QPointF first = ClipperUnits::toMm(loop.front());
    out->words("G0", {{'X', first.x()}, {'Y', first.y()}});
    out->words("G1", {{'Z', -depth}});
    for (size_t i = 1; i <= loop.size(); ++i) {
        const QPointF p = ClipperUnits::toMm(loop[i % loop.size()]);
        out->words("G1", {{'X', p.x()}, {'Y', p.y()}});
    }
    out->words("G0", {{'Z', safeHeight}});
    position = first;
}
