#include "calcd/loopwriter.h"

#include "calcd/clipperunits.h"
#include "calcd/pathorder.h"

#include <QVector>

#include <algorithm>
#include <cmath>

namespace {

constexpr double stripHeight = 5.0;

} // namespace

void LoopWriter::write(ClipperLib::Paths loops, double depth)
{
    // Boards carry thousands of loops: they are taken strip by strip across the board, back and
    // forth, which keeps travel short without comparing every loop with every other.
    const auto key = [](const ClipperLib::Path &loop) {
        const QPointF start = ClipperUnits::toMm(loop.front());
        const int strip = static_cast<int>(std::floor(start.y() / stripHeight));
        return std::make_pair(strip, strip % 2 == 0 ? start.x() : -start.x());
    };
    std::sort(loops.begin(), loops.end(),
              [&key](const ClipperLib::Path &a, const ClipperLib::Path &b) { return key(a) < key(b); });
    for (ClipperLib::Path &loop : loops) {
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
