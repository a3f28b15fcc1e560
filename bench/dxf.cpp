// Pockets a generated drawing of 2,000 figures on 200 x 200 mm (circles, and hexagons with a square
// hole) with a 1 mm cutter, as the STL/DXF mode does with the server's trace, and prints the time,
// the rings and the program's length.
#include "toolpath/dxfsplitter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPointF>

#include <cmath>
#include <cstdio>

namespace {

constexpr int perSide = 45;  // 2,025 cells, of which the first 2,000 hold a figure
constexpr int figures = 2000;
constexpr double cell = 200.0 / perSide;

void shape(QStringList *lines, int number, const QVector<QPointF> &corners)
{
    *lines << QStringLiteral("(* SHAPE Nr: %1 *)").arg(number)
           << QStringLiteral("G0 X%1 Y%2").arg(corners.first().x(), 0, 'f', 4).arg(corners.first().y(), 0, 'f', 4)
           << QStringLiteral("G1 Z-1e-07 F300");
    for (const QPointF &c : corners.mid(1) + QVector<QPointF>{corners.first()})
        *lines << QStringLiteral("G1 X%1 Y%2 F300").arg(c.x(), 0, 'f', 4).arg(c.y(), 0, 'f', 4);
    *lines << QStringLiteral("G1 Z2 F300");
}

void circle(QStringList *lines, int number, QPointF centre, double radius)
{
    const QString x1 = QString::number(centre.x() + radius, 'f', 4);
    const QString x2 = QString::number(centre.x() - radius, 'f', 4);
    const QString y = QString::number(centre.y(), 'f', 4);
    *lines << QStringLiteral("(* SHAPE Nr: %1 *)").arg(number) << QStringLiteral("G0 X%1 Y%2").arg(x1, y)
           << QStringLiteral("G1 Z-1e-07 F300")
           << QStringLiteral("G3 X%1 Y%2 I%3 J0 F300").arg(x2, y).arg(-radius)
           << QStringLiteral("G3 X%1 Y%2 I%3 J0 F300").arg(x1, y).arg(radius) << QStringLiteral("G1 Z2 F300");
}

QStringList drawing()
{
    QStringList lines{QStringLiteral("G21"), QStringLiteral("G90"), QStringLiteral("G17"), QStringLiteral("M3 S12000")};
    int number = 0;
    for (int n = 0; n < figures; ++n) {
        const QPointF centre((n % perSide + 0.5) * cell, (n / perSide + 0.5) * cell);
        if (n % 2 == 0) {
            circle(&lines, ++number, centre, 0.4 * cell);
            continue;
        }
        QVector<QPointF> hexagon, hole;
        for (int k = 0; k < 6; ++k)
            hexagon << centre + 0.45 * cell * QPointF(std::cos(k * M_PI / 3), std::sin(k * M_PI / 3));
        for (const QPointF &corner : {QPointF(-1, -1), QPointF(1, -1), QPointF(1, 1), QPointF(-1, 1)})
            hole << centre + 0.12 * cell * corner;
        shape(&lines, ++number, hexagon);
        shape(&lines, ++number, hole);
    }
    return lines << QStringLiteral("M2 (Program end)");
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // The mode drops the server's first four lines before it hands the trace over.
    const QStringList trace = drawing().mid(4);
    QElapsedTimer timer;
    timer.start();
    const DXFSplitter splitter(trace, 300, 12000, 1.0f, 0.5f, 1.0f, DXFSplitter::Pocket);
    const double seconds = timer.nsecsElapsed() / 1e9;
    std::printf("pocketing %d figures on 200 x 200 mm, 1 mm cutter, 1 mm deep in 0.5 mm passes\n", figures);
    std::printf("  %.3f s, %d rings, %d output lines%s\n", seconds, int(splitter.toolPaths().size()),
                int(splitter.result().size()), splitter.error().isEmpty() ? "" : qPrintable(QStringLiteral(", refused: ") + splitter.error()));
    return splitter.error().isEmpty() ? 0 : 1;
}
