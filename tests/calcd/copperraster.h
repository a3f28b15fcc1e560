#pragma once

#include <QPointF>
#include <QRectF>
#include <QString>
#include <QVector>

#include <algorithm>
#include <cmath>

// The copper of a Gerber layer as gerbv itself draws it, the oracle for tool paths: gerbv's own
// command line renders the layer without antialiasing at a known origin and resolution, and a
// pixel is copper when gerbv painted its centre.
class CopperRaster
{
public:
    CopperRaster(const QString &gerberPath, const QRectF &windowMm, int dpi);
    bool isValid() const { return !copper.isEmpty(); }

    int width() const { return columns; }
    int height() const { return rows; }
    double pixel() const { return pixelMm; }
    bool isCopper(int x, int y) const { return copper[index(x, y)] != 0; }
    QPointF centre(int x, int y) const;
    int index(int x, int y) const { return y * columns + x; }

    // For every pixel, the squared distance in pixels from its centre to the nearest copper
    // pixel's centre.
    QVector<qint32> squaredCopperDistance() const;
    // A distance in mm as a squared distance in pixels, to compare with the one above.
    double squaredPixels(double mm) const { return (mm / pixelMm) * (mm / pixelMm); }
    // Whether pixels that touch only at a corner are connected.
    enum class Touch { Sides, SidesAndCorners };
    // Connected regions of the pixels where inside() holds; -1 elsewhere.
    template<typename Inside>
    QVector<int> regions(Inside inside, int *count, Touch touch = Touch::Sides) const;

    // Calls visit(x, y, distance in mm) for every pixel whose centre lies within reach of the segment.
    template<typename Visit>
    void aroundSegment(QPointF a, QPointF b, double reach, Visit visit) const;

private:
    QVector<quint8> copper;
    int columns = 0, rows = 0;
    double pixelMm = 0;
    QPointF origin;
};

template<typename Inside>
QVector<int> CopperRaster::regions(Inside inside, int *count, Touch touch) const
{
    const int reach = touch == Touch::SidesAndCorners ? 1 : 0;
    QVector<int> label(columns * rows, -1);
    QVector<int> queue;
    *count = 0;
    for (int start = 0; start < label.size(); ++start) {
        if (label[start] >= 0 || !inside(start))
            continue;
        label[start] = *count;
        queue = {start};
        while (!queue.isEmpty()) {
            const int i = queue.takeLast();
            const int x = i % columns, y = i / columns;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    const int nx = x + dx, ny = y + dy;
                    if (std::abs(dx) + std::abs(dy) > 1 + reach || (dx == 0 && dy == 0) || nx < 0 || ny < 0
                        || nx >= columns || ny >= rows)
                        continue;
                    const int n = index(nx, ny);
                    if (label[n] < 0 && inside(n)) {
                        label[n] = *count;
                        queue.append(n);
                    }
                }
        }
        ++*count;
    }
    return label;
}

template<typename Visit>
void CopperRaster::aroundSegment(QPointF a, QPointF b, double reach, Visit visit) const
{
    const auto column = [&](double x) { return int(std::floor((x - origin.x()) / pixelMm)); };
    const auto row = [&](double y) { return rows - 1 - int(std::floor((y - origin.y()) / pixelMm)); };
    const int x0 = std::max(0, column(std::min(a.x(), b.x()) - reach)), x1 = std::min(columns - 1, column(std::max(a.x(), b.x()) + reach));
    const int y0 = std::max(0, row(std::max(a.y(), b.y()) + reach)), y1 = std::min(rows - 1, row(std::min(a.y(), b.y()) - reach));
    const QPointF ab = b - a;
    const double length2 = QPointF::dotProduct(ab, ab);
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) {
            const QPointF p = centre(x, y);
            const double t = length2 > 0 ? std::clamp(QPointF::dotProduct(p - a, ab) / length2, 0.0, 1.0) : 0.0;
            const QPointF d = p - (a + ab * t);
            const double distance = std::hypot(d.x(), d.y());
            if (distance <= reach)
                visit(x, y, distance);
        }
}
