#pragma once

#include <QPointF>
#include <QRectF>
#include <QString>
#include <QVector>

#include <algorithm>
#include <cmath>
#include <vector>

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
    bool isCopper(int x, int y) const { return isCopperAt(index(x, y)); }
    bool isCopperAt(int index) const { return copper.at(index) != 0; }
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
    const bool corners = touch == Touch::SidesAndCorners;
    QVector<int> labels(columns * rows, -1);
    int *label = labels.data();
    std::vector<int> stack;
    *count = 0;
    for (int start = 0; start < columns * rows; ++start) {
        if (label[start] >= 0 || !inside(start))
            continue;
        label[start] = *count;
        stack.assign(1, start);
        while (!stack.empty()) {
            const int i = stack.back();
            stack.pop_back();
            const int x = i % columns, y = i / columns;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    const int nx = x + dx, ny = y + dy;
                    if ((dx != 0 && dy != 0 && !corners) || (dx == 0 && dy == 0) || nx < 0 || ny < 0 || nx >= columns
                        || ny >= rows)
                        continue;
                    const int n = ny * columns + nx;
                    if (label[n] < 0 && inside(n)) {
                        label[n] = *count;
                        stack.push_back(n);
                    }
                }
        }
        ++*count;
    }
    return labels;
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
