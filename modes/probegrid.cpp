#include "modes/probegrid.h"

#include "link/probemessage.h"
#include "modes/signallingmessage.h"

#include <QVector2D>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {
constexpr double largestStep = 10.0;
// The single-precision design coordinates carry noise of about a micrometre: a design of 9.989 mm
// (10 mm with the allowances) must not get a third row of probes from it.
constexpr double coordinateNoise = 1e-4;
constexpr int mostSteps = 10000;
constexpr float unmeasured = std::numeric_limits<float>::quiet_NaN();

QString number(float value)
{
    return QString::number(value, 'f', 6);
}

SerialMessage *plainLine(const QString &text)
{
    auto *message = new SerialMessage;
    message->setContent(text);
    return message;
}

// The cell a coordinate falls in, counted from the grid's lower edge and kept to the grid's cells.
int cellOf(float coordinate, float lowest, float step, int positions)
{
    const double index = std::floor((double(coordinate) - lowest) / step);
    if (!(index > 0.0))
        return 0;
    return int(std::min(index, double(positions - 2)));
}

void addCrossings(double from, double to, int positions, QVector<double> *fractions)
{
    const double lowest = std::max(1.0, std::floor(std::min(from, to)) + 1.0);
    const double highest = std::min(double(positions - 2), std::ceil(std::max(from, to)) - 1.0);
    for (double border = lowest; border <= highest; border += 1.0)
        fractions->append((border - from) / (to - from));
}
} // namespace

ProbeGrid::Spacing ProbeGrid::spacing(float extent)
{
    const double padded = double(extent) + 0.01;
    if (!(padded > 0.0))
        return {float(padded), 1};
    // The fewest steps that are no longer than 10 mm, found exactly as counting up from one would.
    const double longest = largestStep + coordinateNoise;
    int steps = int(std::min(std::ceil(padded / longest), double(mostSteps)));
    while (steps > 1 && padded / (steps - 1) <= longest)
        --steps;
    while (steps < mostSteps && padded / steps > longest)
        ++steps;
    return {float(padded / steps), steps};
}

ProbeGrid::ProbeGrid(float minX, float minY, float maxX, float maxY, const QVector3D &origin)
    : m_origin(origin)
    , m_minX(minX)
    , m_minY(minY)
{
    const float topX = float(double(maxX) + 0.001);
    const float topY = float(double(maxY) + 0.001);
    const Spacing alongX = spacing(topX - minX);
    const Spacing alongY = spacing(topY - minY);
    m_stepX = alongX.step;
    m_stepY = alongY.step;
    // With n steps there are n + 1 positions; the last would lie 0.01 mm beyond the rectangle and is
    // clamped onto its edge.
    m_columns = alongX.steps + 1;
    m_rows = alongY.steps + 1;
    m_points.reserve(size_t(m_columns) * size_t(m_rows));
    for (int column = 0; column < m_columns; ++column) {
        const float x = std::min(minX + column * m_stepX, topX);
        const bool upward = column % 2 == 0;
        for (int row = 0; row < m_rows; ++row) {
            const float y = upward ? minY + row * m_stepY : topY - row * m_stepY;
            m_points.emplace_back(x, std::clamp(y, minY, topY), unmeasured);
        }
    }
}

int ProbeGrid::pointIndex(int column, int row) const
{
    column = std::clamp(column, 0, m_columns - 1);
    row = std::clamp(row, 0, m_rows - 1);
    return column * m_rows + (column % 2 == 0 ? row : m_rows - 1 - row);
}

QVector3D ProbeGrid::point(int index) const
{
    QVector3D p = m_points.at(size_t(index));
    if (std::isnan(p.z()))
        p.setZ(0.0f);
    return p;
}

int ProbeGrid::firstUnmeasured() const
{
    const auto missing = std::find_if(m_points.cbegin(), m_points.cend(),
                                      [](const QVector3D &p) { return std::isnan(p.z()); });
    return missing == m_points.cend() ? -1 : int(missing - m_points.cbegin());
}

QList<SerialMessage *> ProbeGrid::probeMessages(const QString &side)
{
    for (QVector3D &p : m_points)
        p.setZ(unmeasured);
    const QVector3D &first = m_points.front();
    QList<SerialMessage *> messages;
    for (const char *line : {"M5\n", "G21\n", "G90\n", "G92.1\n"})
        messages << plainLine(QString::fromLatin1(line));
    messages << plainLine(QStringLiteral("G0 X") + number(first.x() + m_origin.x()) + QStringLiteral(" Y")
                          + number(first.y() + m_origin.y()) + QLatin1Char('\n'));
    messages << plainLine(QStringLiteral("G92 X") + number(first.x()) + QStringLiteral(" Y") + number(first.y())
                          + QLatin1Char('\n'));
    ProbeMessage *probe = new ProbeMessage(&m_points.front());
    probe->setContent(QStringLiteral("G38.2 Z-62.0 F100\n"));
    messages << probe;
    for (auto p = m_points.begin() + 1; p != m_points.end(); ++p) {
        // Each touch becomes Z 0: the tool rises 2 mm above it and probes at most 4 mm down.
        messages << plainLine(QStringLiteral("G92 Z0\n")) << plainLine(QStringLiteral("G0 Z2\n"));
        messages << plainLine(QStringLiteral("G0 X") + number(p->x()) + QStringLiteral(" Y") + number(p->y())
                              + QLatin1Char('\n'));
        probe = new ProbeMessage(&*p);
        probe->setContent(QStringLiteral("G38.2 Z-4.0 F100\n"));
        messages << probe;
    }
    probe->setLast(true);
    probe->setProbeType(side);
    messages << new SignallingMessage(QStringLiteral("G0 Z10\n"));
    return messages;
}

QVector3D ProbeGrid::corner(int column, int row) const
{
    return m_points.at(size_t(pointIndex(column, row)));
}

int ProbeGrid::cellColumn(float x) const
{
    return cellOf(x, m_minX, m_stepX, m_columns);
}

int ProbeGrid::cellRow(float y) const
{
    return cellOf(y, m_minY, m_stepY, m_rows);
}

float ProbeGrid::heightOffset(float x, float y) const
{
    const int i = cellColumn(x);
    const int j = cellRow(y);
    QVector3D corners[4] = {corner(i + 1, j + 1), corner(i, j + 1), corner(i + 1, j), corner(i, j)};
    for (QVector3D &c : corners) {
        if (std::isnan(c.z()))
            c.setZ(0.0f);
    }
    // Compared in the order A, D, C, B; a later corner is left out only when strictly farther.
    const QVector2D position(x, y);
    int farthest = 0;
    for (int candidate : {3, 2, 1}) {
        if (position.distanceToPoint(QVector2D(corners[candidate]))
            > position.distanceToPoint(QVector2D(corners[farthest])))
            farthest = candidate;
    }
    QVector3D kept[3];
    int count = 0;
    for (int k = 0; k < 4; ++k) {
        if (k != farthest)
            kept[count++] = corners[k];
    }
    return float(planeHeight(kept[0], kept[1], kept[2], x, y) - double(point(0).z()));
}

double ProbeGrid::planeHeight(const QVector3D &a, const QVector3D &b, const QVector3D &c, double x, double y)
{
    // The vertical line through (x, y) meets the plane at z = (e2 . (s x e1)) / (e1 . (up x e2)).
    const double e1x = double(a.x()) - c.x(), e1y = double(a.y()) - c.y(), e1z = double(a.z()) - c.z();
    const double e2x = double(b.x()) - c.x(), e2y = double(b.y()) - c.y(), e2z = double(b.z()) - c.z();
    const double sx = x - c.x(), sy = y - c.y(), sz = -double(c.z());
    const double denominator = e1y * e2x - e1x * e2y;
    const double scale = std::hypot(e1x, e1y) * std::hypot(e2x, e2y);
    if (!(std::fabs(denominator) > 1e-9 * scale)) {
        const QVector3D *nearest = &a;
        for (const QVector3D *candidate : {&b, &c}) {
            if (std::hypot(candidate->x() - x, candidate->y() - y) < std::hypot(nearest->x() - x, nearest->y() - y))
                nearest = candidate;
        }
        return nearest->z();
    }
    const double qx = sy * e1z - sz * e1y;
    const double qy = sz * e1x - sx * e1z;
    const double qz = sx * e1y - sy * e1x;
    return (e2x * qx + e2y * qy + e2z * qz) / denominator;
}

void ProbeGrid::cellCrossings(float x0, float y0, float x1, float y1, QVector<double> *fractions) const
{
    addCrossings((double(x0) - m_minX) / m_stepX, (double(x1) - m_minX) / m_stepX, m_columns, fractions);
    addCrossings((double(y0) - m_minY) / m_stepY, (double(y1) - m_minY) / m_stepY, m_rows, fractions);
}
