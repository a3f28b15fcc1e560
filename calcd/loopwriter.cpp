#include "calcd/loopwriter.h"

#include "calcd/clipperunits.h"
#include "calcd/tourorder.h"

void LoopWriter::write(const ClipperLib::Paths &loops, double depth)
{
    QVector<QVector<QPointF>> entries;
    entries.reserve(static_cast<int>(loops.size()));
    for (const ClipperLib::Path &loop : loops) {
        QVector<QPointF> vertices;
        vertices.reserve(static_cast<int>(loop.size()));
        for (const ClipperLib::IntPoint &p : loop)
            vertices.append(ClipperUnits::toMm(p));
        entries.append(vertices);
    }
    for (const TourOrder::Stop &stop : TourOrder::order(entries, QPointF()))
        writeLoop(loops[stop.place], stop.entry, depth);
}

void LoopWriter::writeLoop(const ClipperLib::Path &loop, size_t entry, double depth)
{
    const QPointF first = ClipperUnits::toMm(loop[entry]);
    out->words("G0", {{'X', first.x()}, {'Y', first.y()}});
    out->words("G1", {{'Z', -depth}});
    for (size_t i = 1; i <= loop.size(); ++i) {
        const QPointF p = ClipperUnits::toMm(loop[(entry + i) % loop.size()]);
        out->words("G1", {{'X', p.x()}, {'Y', p.y()}});
    }
    out->words("G0", {{'Z', safeHeight}});
}
